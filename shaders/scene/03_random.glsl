// Stateless hash of the pixel's window position and a seed: no state travels
// between calls, pixels or frames; the seeds change with the frame count.
float r1(vec3 p, float d)
{
    return fract(sin(dot(FC.xyz + d, p)) * 43758.5453 + d);
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
