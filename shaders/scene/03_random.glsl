// Four 32-bit words mixed into four (the pcg4d permutation): an exact
// function of its inputs at any frame number.
uvec4 pg(uvec4 v)
{
    v = v * 1664525u + 1013904223u;
    v.x += v.y * v.w;
    v.y += v.z * v.x;
    v.z += v.x * v.y;
    v.w += v.y * v.z;
    v ^= v >> 16u;
    v.x += v.y * v.w;
    v.y += v.z * v.x;
    v.z += v.x * v.y;
    v.w += v.y * v.z;
    return v;
}

// Stateless hash of the pixel's window position and a seed: no state travels
// between calls, pixels or frames; the seeds change with the frame count.
// The sine hash ends in fract(... + d), which keeps only the bits of its
// value below d's last one, so it thins out as the frame count grows. Past
// frame 2048 the number is a 24-bit integer hash of the pixel, the frame
// number and the bits of the seed and of p instead: equal seeds still give
// equal numbers within a frame, and every frame draws fresh ones.
float r1(vec3 p, float d)
{
    if (fk > 2048u) {
        uint s = floatBitsToUint(d) ^ pg(floatBitsToUint(p.xyzz)).x;
        return float(pg(uvec4(uvec2(FC.xy), fk, s)).x >> 8u) * (1. / 16777216.);
    }
    return fract(sin(dot(FC.xyz + d, p)) * 43758.5453 + d);
}

// The frame as the seeds take it: the frame count through frame 2048. Past
// it r1 hashes the frame number itself, and the seeds need only keep the
// equalities and differences that the calls of a frame have; they take the
// frame's place in a cycle of 2048, where the float seeds are still apart.
float sk()
{
    return fk > 2048u ? float((fk - 1u) % 2048u + 1u) : u.z;
}

vec2 r2(vec3 p)
{
    return vec2(r1(vec3(1), p.x + p.z), r1(vec3(1), p.y + p.z));
}

// Cosine-weighted direction about the unit axis n. The tangent is not
// normalized, so the result is at most unit length; its component along n is
// never negative. Callers use it as it is.
vec3 cd(vec3 n, float e)
{
    float d = r1(vec3(12.9898, 78.233, 151.7182), e);
    float v = r1(vec3(63.7264, 10.873, 623.6736), e);
    float r = sqrt(d);
    float a = 6.282 * v;
    vec3 t = mix(cross(n, vec3(1, 0, 0)), cross(n, vec3(0, 1, 0)), step(.5, abs(n.x)));
    return r * cos(a) * t + r * sin(a) * cross(n, t) + sqrt(1. - d) * n;
}
