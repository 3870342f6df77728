// One pixel of the scene pass: letterbox, outline or one traced path, added to
// the running sum of the frames before. Both entry points call it.
void px()
{
    uv = FC.xy / u.xy;
    c = vec3(0);
    // Letterbox rows stay zero in both accumulation textures.
    if (uv.y < .057 || uv.y > .943)
        return;
    fs = sk();
    vec3 o = PS.xyz;
    // The outline takes its flat colour; no path is traced under it.
    if (silhouette(uv * 3.5 - vec2(1.58, .48)) < 0.) {
        c = vec3(.013, .016, .017) + o;
        return;
    }
    // Jitter inside the pixel, reused as the offset on the square lens.
    vec2 ns = r2(vec3(uv.x, uv.y, fs));
    vec2 v = (-u.xy + 2. * (FC.xy + ns)) / u.y;
    vec3 ww = normalize(vec3(0, 1.3, 10) - vec3(0, .1, -7.5));
    vec3 uu = normalize(cross(vec3(0, 1, 0), ww));
    vec3 vv = normalize(cross(ww, uu));
    vec3 er = normalize(vec3(v, 2.9));
    vec3 rd = er.x * uu + er.y * vv + er.z * ww;
    vec3 go = .05 * vec3(-1. + 2. * ns, 0);
    vec3 gd = normalize(17. * er - go);
    vec3 ro = vec3(0, .1, -7.5) + go.x * uu + go.y * vv;
    // The lens term is added to the pinhole direction, not put in its place:
    // this widens the field of view.
    rd += gd.x * uu + gd.y * vv;
    vec3 s = pt(ro, normalize(rd));
    // One infinite or NaN sample would spoil the pixel for the rest of the
    // run, so it adds nothing. The exponent test survives fast-math.
    if (any(equal(floatBitsToUint(s) & 0x7f800000u, uvec3(0x7f800000u))))
        s = vec3(0);
    c = s + o;
}
