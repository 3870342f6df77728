// Hall shell: a wall 2.6 thick around the union of a central and a cross box,
// with curved niches in the back corners, three openings in the back wall and
// two thin gold trim bands (material 2); the rest is wall (5).
vec2 hw(vec3 p)
{
    float f = min(bx(p, vec3(13, 13, 9.3)), bx(p, vec3(20, 20, 5.5)));
    f = abs(f) - 1.3;
    vec3 b = vec3(mod(p.x, 24.) - 12., p.y, p.z - 5.);
    f = max(f, -y(b, 2., 20.));
    // The openings narrow with depth; they stay off the front wall and the
    // walls of the cross part.
    if (abs(p.x) < 11.5 && p.z > 0.) {
        b = vec3(mod(p.x + 4., 8.) - 4., p.y + 2., p.z);
        f = max(f, -bx(b, vec3(3.4 - (b.z - 8.) / 3., 6.7, 150)));
    }
    // The lower band runs only where |x| > 11.
    bool g = (p.y > 8. && p.y < 8.05) || (p.y > -3.6 && p.y < -3.55 && abs(p.x) > 11.);
    return vec2(f, g ? 2 : 5);
}

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
    // Candelabras at x = 13 + 26k: inside the hall only the two in the back
    // niches show. Their light spheres are met only by the later bounces.
    b = p + vec3(0, 3, -6);
    b.x = mod(b.x, 26.) - 13.;
    if (i > 1) x(vec2(length(b - vec3(0, 5.3, 0)) - 1., 1))
    x(ca(b, i))
    // Fill panel in the central opening: bounce rays meet it, camera rays never.
    b = p - vec3(-2, -4, 9);
    b.xz = q(b.xz, 5.);
    if (i > 0) x(vec2(bx(b + vec3(0, 0, .1), vec3(.7, .7, .1)), 11))
    // Chandelier, turned a little about its axis, its light sphere above it.
    b = p - vec3(0, 7, 7);
    b.xz = q(b.xz, .15);
    if (i > 1) x(vec2(length(b - vec3(0, 3, 0)) - 2., 1))
    x(ch(b, i))
    // Side window frames, mirrored in x = 0 and bent about the vertical: the
    // angle follows the distance from |x| = 13, so their field is not exact.
    b = vec3(abs(p.x), p.yz) - vec3(13, 1.3, 6.1);
    b.xz = q(b.xz, -b.x * .2 - .7);
    x(fi(b, vec2(1.4, 4.2)))
    b.y += 6.45;
    x(fi(b, vec2(1.4, 1.05)))

    // Hall shell.
    x(hw(p))

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
    // Net curtains, one every 6 units. The last 5 % of every .001 cell in x
    // and y is a hole, so the marcher sometimes steps through: sheer cloth.
    b = p - vec3(.63, -.8, 10);
    b.x -= 3.;
    b.x = mod(b.x, 6.) - 3.;
    if (mod(b.x, .001) < .00095 && mod(b.y, .001) < .00095) {
        // The left edge flares above and below b.y = -4; the bend stops at .5.
        if (b.x < .5) b.x += .1 * pow(abs(b.y + 4.), .4) * abs(b.x);
        b.z -= sin(b.x * 3. * 2.) * .02 * (1. - b.y);
        b.z -= sin(b.x * 7. * 2.) * .02 * (1. - b.y);
        b.z -= sin(b.x * 11. * 2.) * .02 * (1. - b.y);
        b.z -= sin(b.x * 13. * 2.) * .02 * (1. - b.y);
        x(vec2(bx(b, vec3(2.5, 6.2, .001)), 4))
    }
    // Right drape: sway, a pinch at the tie-back height y = -4.5 and folds
    // that vanish at y = 5. q keeps the unwarped point for the slit; no
    // rotation follows, so it never meets the rotation macro.
    b = p - vec3(14.7, 0, 7.9);
    vec3 q = b;
    b.x += sin((b.y + 3.) * .2) * .05 * abs(b.x);
    q -= sin(b.x * 5.) * .002 * (5. - b.y);
    b.x += pow(abs(b.y + 4.5), .1) * .1 * abs(b.x);
    b.z -= sin(b.x * 2.) * .01 * (5. - b.y);
    b.z -= sin(b.x * 3.) * .005 * (5. - b.y);
    b.z -= sin(b.x * 5.) * .002 * (5. - b.y);
    b.z -= sin(b.x * 7.) * .001 * (5. - b.y);
    x(vec2(max(bx(b, vec3(11.4, 6.9, .1)), -bx(q + vec3(7.5, 0, 0), vec3(.35, 8, 1))), 13))
    // Left drape: its slit stops short of the top, where the halves stay joined.
    b = p - vec3(-8, 0, 7.9);
    q = b;
    b.x -= sin((b.y + 3.) * .2) * .1 * abs(b.x);
    b.x -= pow(abs(b.y + 4.5), .1) * .1 * abs(b.x);
    b.z -= sin(b.x * 2.5) * .01 * (5. - b.y);
    b.z -= sin(b.x * 3.) * .005 * (5. - b.y);
    b.z -= sin(b.x * 5.5) * .002 * (5. - b.y);
    b.z -= sin(b.x * 9.) * .001 * (5. - b.y);
    x(vec2(max(bx(b, vec3(5, 6.85, .1)), -bx(q + vec3(.8), vec3(.4, 6.85, 1))), 13))
    // Valance with a scalloped lower edge; the band just above it is the
    // gold fringe.
    b = p - vec3(0, 5.8, 7.5);
    float v = abs(sin(b.x * .955 - 1.6));
    x(vec2(max(bx(b, vec3(11.5, 2. + v, .02)), -bx(b - vec3(0, 2, 0), vec3(20, 1, 1))),
           b.y < -1.8 - v ? 10 : 9))
    return r;
}
