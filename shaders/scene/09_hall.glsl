// The whole scene: every object folded in a fixed order, which also decides
// the material on equal distances. i is the pass index: the blocker panel is
// seen from the first bounce on, never by camera rays.
vec2 h(vec3 p, int i)
{
    vec2 r = vec2(35);
    vec3 b;
    // Backdrop: the plane z = 18, solid beyond; it keeps every point a ray
    // can reach from the hall nearer than 35.
    x(vec2(dot(p, vec3(0, 0, -1)) + 18., 0))
    // @fixtures: folds 2 to 8 (candelabra light spheres, candelabras, fill panel, chandelier light sphere, chandelier, tall and low side window frames)

    // Hall shell: a wall 2.6 thick around the union of a central and a cross
    // box, with curved niches in the back corners.
    float f = min(bx(p, vec3(13, 13, 9.3)), bx(p, vec3(20, 20, 5.5)));
    f = abs(f) - 1.3;
    b = vec3(mod(p.x, 24.) - 12., p.y, p.z - 5.);
    f = max(f, -y(b, 2., 20.));
    // Three openings in the back wall only, narrowing with depth.
    if (abs(p.x) < 11.5 && p.z > 0.) {
        b = vec3(mod(p.x + 4., 8.) - 4., p.y + 2., p.z);
        f = max(f, -bx(b, vec3(3.4 - (b.z - 8.) / 3., 6.7, 150)));
    }
    // Two thin gold trim bands; the lower one only where |x| > 11.
    x(vec2(f, (p.y > 8. && p.y < 8.05) || (p.y > -3.6 && p.y < -3.55 && abs(p.x) > 11.) ? 2 : 5))

    // Grille behind the openings: posts, a top bar and four rails.
    b = vec3(mod(p.x + 4., 8.) - 4., p.y + 2., p.z - 10.8);
    x(vec2(bx(b, vec3(.1, 20, .1)), 8))
    b = vec3(p.x, p.y - (2.4 + .1), p.z - 10.8);
    x(vec2(bx(b, vec3(20, .1, .1)), 8))
    // The rails' counter hides the pass index inside the loop only.
    for (int i = 0; i < 4; i++) {
        b.y += 2.4;
        x(vec2(bx(b, vec3(20, .04, .04)), 8))
    }

    // Floor slab, its top face sunk by the wood relief.
    x(vec2(bx(p + vec3(0, 8, 0), vec3(20, 1, 10.5)) + .02 * wd(p, .3), 7))
    // Blocker panel in the central opening: it shades the floor and curtains
    // without the camera ever seeing it.
    if (i > 0) x(vec2(bx(p - vec3(-1.1, -5, 9.7), vec3(.6, 2, .1)), 4))
    // @cloth: folds 18 to 21 (net curtains, right drape, left drape, valance)
    return r;
}
