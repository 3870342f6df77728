// Window frame around a pane of half-size r: a thin rim whose corners are cut
// away and replaced by quarter arcs of rings centred on the corners.
vec2 fi(vec3 p, vec2 r)
{
    float s = bx(p, vec3(r, .1));
    float m = max(s, -bx(p, vec3(r.x - .02, r.y - .01, 1)));
    // Repeat so that every pane corner becomes the local origin.
    p.xy = mod(p.xy, 2. * r) - r;
    // The ring axis is turned 1.5 from y toward z, a little off the pane's normal.
    p.yz = q(p.yz, 1.5);
    float d = y(p, .6, .5);
    return vec2(min(max(m, -d), max(s, max(d, -y(p, .58, 1.)))), 12);
}
