// Chandelier, modelled at a tenth of its drawn size: two rings, twenty wavy
// arms with pan, candle and flame, bead strands rising to the axis and a bead
// bowl below the rings. The flame point's doubled x and z stay uncompensated:
// the sign, and so the surface, is right.
vec2 ch(vec3 p, int i)
{
    vec2 r = vec2(35);
    p /= 10.;
    x(vec2(max(y(p, .2, .01), -y(p, .199, 1.)), 2))
    x(vec2(max(y(p, .15, .01), -y(p, .149, 1.)), 2))
    // One arm described in the sector on +x stands in all twenty sectors.
    vec3 e = p;
    e.xz = mp(e.xz, 20.);
    vec3 a = e - vec3(.29, 0, 0);
    a.xy = q(a.xy, -1.5);
    x(vec2(bx(a + vec3(sin(a.y * 90.) / 50. + .03, .04, 0), vec3(.001, .05, .001)), 2))
    x(vec2(y(e - vec3(.3, .05, 0), .01, .0001), 2))
    x(vec2(y(e - vec3(.3, .08, 0), .005, .03), 3))
    vec3 f = e - vec3(.3, .125, 0);
    f.xz *= 2.;
    x(vec2(length(f) - .005, 1))
    // Only the later bounces meet the large flame: it lights the hall without
    // being seen by the camera or taking part in a normal.
    if (i > 1) x(vec2(length(f) - .05, 1))
    if (p.y > 0. && p.y < .7) {
        // Strands: a bead every .02 in height in each arm's half-plane, drawn
        // toward the axis by the point's own height.
        vec3 b = p;
        b.y = mod(p.y, .02) - .01;
        b.xz = mp(b.xz, 20.);
        b.x -= pow(1. - p.y, 4.) * .15;
        x(vec2(length(b) - .005, 6))
        r.x *= 10.;
        return r;
    }
    // Bowl: a grid of beads cut by the ball of radius .2.
    x(vec2(max(length(m3(p, vec3(.02))) - .005, length(p) - .2), 6))
    r.x *= 10.;
    return r;
}
