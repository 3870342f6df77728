// Fold a scene sample (distance, material) into the running result r. Only a
// strictly nearer sample replaces it, so on ties the piece folded first keeps
// its material. The sample is evaluated once; the expansion is one statement.
#define x(s) { vec2 x_ = s; if (x_.x < r.x) r = x_; }
// Rotate a coordinate pair by the angle a (from its first axis to its second).
#define q(p, a) (mat2(cos(a), -sin(a), sin(a), cos(a)) * (p))

// Box of half-extents b centred at the origin.
float bx(vec3 p, vec3 b)
{
    vec3 d = abs(p) - b;
    return length(max(d, 0.)) + min(max(d.x, max(d.y, d.z)), 0.);
}

// Capped cylinder about the y axis: radius d, half-height r.
float y(vec3 p, float d, float r)
{
    return max(length(p.xz) - d, abs(p.y) - r);
}

// Polar repetition into n sectors; 6.282 is the full turn, so the sectors
// leave a sliver at the negative first axis where one copy stands twice.
vec2 mp(vec2 p, float n)
{
    float w = 6.282 / n;
    // atan(0, 0) is undefined; the origin takes the angle 0 on every driver.
    float a = (p.x == 0. && p.y == 0. ? 0. : atan(p.y, p.x)) + w / 2.;
    float l = length(p);
    a = mod(a, w) - w / 2.;
    return vec2(cos(a), sin(a)) * l;
}

// Grid repetition into cells of size e centred on the multiples of e.
vec3 m3(vec3 p, vec3 e)
{
    return mod(p + e * .5, e) - e * .5;
}
