// Sphere tracing with half steps: (t, material) along p + t r for pass i.
// A march that runs out of steps keeps the last t untested.
vec2 is(vec3 p, vec3 r, int i)
{
    float t = 0.;
    int n = i == 0 ? 128 : 64;
    for (int k = 0; k < n; k++) {
        vec2 s = h(p + t * r, i);
        // The sample that stopped the march already holds the material.
        if (abs(s.x) < .001 || t > 35.)
            return vec2(t, s.y);
        t += s.x / 2.;
    }
    return vec2(t, h(p + t * r, i).y);
}

// Central differences of the field with the pass index 1. Where the field is
// flat in all three directions there is no normal; up stands in for it.
vec3 nn(vec3 p)
{
    vec2 e = vec2(.003, 0);
    vec3 n = vec3(h(p + e.xyy, 1).x - h(p - e.xyy, 1).x, h(p + e.yxy, 1).x - h(p - e.yxy, 1).x,
                  h(p + e.yyx, 1).x - h(p - e.yyx, 1).x);
    float l = length(n);
    return l > 0. ? n / l : vec3(0, 1, 0);
}

// One path of up to four segments from p along the unit direction q: the
// light of the first emissive surface met, times the colours of the surfaces
// before it; black when a segment escapes or the fourth hit does not emit.
vec3 pt(vec3 p, vec3 q)
{
    vec3 a = vec3(1);
    for (int i = 0; i < 4; i++) {
        vec2 t = is(p, q, i);
        int k = int(t.y);
        // Beyond the far limit the path has escaped; an id without an entry
        // (only the start value of the fold) counts the same.
        if (t.x > 35. || k > 13)
            return vec3(0);
        vec3 s = sf[k].c;
        // The backdrop glows warm low in the picture: the weight depends on
        // the pixel, not on the ray.
        if (k == 0)
            s = mix(s, 8. * vec3(.61, .51, .47), pow(1. - uv.y, 12.));
        if (sf[k].e > 0.)
            return a * s;
        // A non-emissive hit on the last segment ends dark: no normal needed.
        if (i == 3)
            break;
        vec3 o = p + q * t.x;
        vec3 n = nn(o);
        if (r1(vec3(1), uv.x + uv.y + fs + float(i)) < sf[k].d) {
            // The diffuse seed leaves out the bounce number.
            q = cd(n, fs * 27.433727);
        } else {
            q = normalize(reflect(q, n));
            q += cd(q, fs * 9.312 + float(i)) * sf[k].g;
        }
        p = o + .015 * q;
        a *= s;
    }
    return vec3(0);
}
