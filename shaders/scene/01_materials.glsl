// Material table: diffuse probability d, glossy spread g, emissive flag e and
// colour c (reflectance, or radiance when emissive; never clamped).
struct mt {
    float d, g, e;
    vec3 c;
};
const mt sf[14] = mt[14](
    mt(1., 0., 1., vec3(.14, .35, .46)),                  // 0 sky (backdrop gradient)
    mt(1., 0., 1., vec3(37, 33, 30)),                     // 1 flame light
    mt(.4, .01, 0., vec3(1.3, 1.15, .49)),                // 2 gold metal
    mt(1., 0., 0., vec3(.9)),                             // 3 white candle wax
    mt(1., 0., 0., vec3(.2)),                             // 4 grey
    mt(1., 0., 0., vec3(.098, .093, .077)),               // 5 wall
    mt(.5, .1, 0., vec3(.99, .9, .99)),                   // 6 pale glossy beads
    mt(.57, .1, 0., vec3(.59, .43, .24) * .7),            // 7 wood
    mt(1., 0., 0., vec3(.2)),                             // 8 grey bars
    mt(1., 0., 0., vec3(.15, 0, 0)),                      // 9 dark red cloth
    mt(.9, .05, 0., vec3(1.3, 1.15, .49) * .5),           // 10 gold fringe
    mt(1., 0., 1., vec3(7.4, 6.6, 6)),                    // 11 fill light
    mt(.4, .01, 0., vec3(1.3, 1.15, .49) * .5),           // 12 dark gold metal
    mt(1., 0., 0., vec3(.275, 0, 0)));                    // 13 red cloth
