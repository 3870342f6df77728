// Candelabra, modelled at a fifth of its drawn size: a bulging stem and ten
// wavy arms with pan, candle and flame. The candle's halved point and the
// flame's doubled x and z stay uncompensated.
vec2 ca(vec3 p, int i)
{
    vec2 r = vec2(35);
    p /= 5.;
    // The stem's half-width follows the point's own height; the squared cosine
    // keeps its sign, and below the origin the width turns negative, leaving
    // no stem there.
    float k = cos(p.y * 12.);
    float w = max(.01, k * k * .035) * p.y * .7;
    x(vec2(bx(p - vec3(0, .55, 0), vec3(w, .15, w)), 12))
    vec3 e = p;
    e.xz = mp(e.xz, 10.);
    // o: the arm's root, from which the pan, candle and flames are placed.
    vec3 o = e - vec3(.15, .74, 0);
    vec3 a = o;
    a.xy = q(a.xy, -1.);
    x(vec2(bx(a + vec3(sin(a.y * 40.) / 50. + .03, .04, 0), vec3(.003, .1, .003)), 12))
    x(vec2(y(o - vec3(.02, .07, 0), .02, .002), 12))
    vec3 d = (o - vec3(.02, .13, 0)) / 2.;
    x(vec2(y(d, .005, .03), 3))
    vec3 f = d - vec3(0, .045, 0);
    f.xz *= 2.;
    x(vec2(length(f) - .005, 1))
    if (i > 1) x(vec2(length(f) - .05, 1))
    r.x *= 5.;
    return r;
}
