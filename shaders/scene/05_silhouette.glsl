// The dark foreground shape: a closed polygon of 62 vertices in the outline's
// own plane (main maps the screen into it).
const vec2 sv[62] = vec2[62](
    vec2(.028, .015), vec2(.025, .03), vec2(.028, .06), vec2(.031, .1), vec2(.037, .285),
    vec2(.042, .355), vec2(.042, .385), vec2(.039, .39), vec2(.034, .39), vec2(.025, .385),
    vec2(.02, .37), vec2(.014, .36), vec2(.011, .36), vec2(.014, .385), vec2(.02, .405),
    vec2(.031, .42), vec2(.039, .425), vec2(.042, .44), vec2(.042, .45), vec2(.039, .465),
    vec2(.037, .475), vec2(.037, .485), vec2(.048, .505), vec2(.059, .535), vec2(.068, .555),
    vec2(.07, .565), vec2(.07, .58), vec2(.065, .585), vec2(.059, .595), vec2(.056, .605),
    vec2(.056, .63), vec2(.053, .64), vec2(.053, .655), vec2(.056, .66), vec2(.056, .675),
    vec2(.062, .685), vec2(.068, .69), vec2(.082, .69), vec2(.093, .68), vec2(.101, .665),
    vec2(.104, .655), vec2(.104, .63), vec2(.107, .625), vec2(.107, .61), vec2(.104, .6),
    vec2(.098, .595), vec2(.09, .595), vec2(.087, .59), vec2(.087, .58), vec2(.11, .53),
    vec2(.11, .49), vec2(.107, .47), vec2(.107, .455), vec2(.101, .43), vec2(.101, .42),
    vec2(.118, .32), vec2(.121, .215), vec2(.127, .145), vec2(.129, .035), vec2(.129, .02),
    vec2(.11, .01), vec2(.039, .01));

// Signed distance to the polygon, negative inside (even-odd rule: an edge's
// lower end counts, its upper end does not, so a vertex is crossed once).
float sd(vec2 p)
{
    float d = dot(p - sv[0], p - sv[0]);
    float s = 1.;
    for (int i = 0, j = 61; i < 62; j = i, i++) {
        vec2 e = sv[j] - sv[i], w = p - sv[i];
        vec2 b = w - e * clamp(dot(w, e) / dot(e, e), 0., 1.);
        d = min(d, dot(b, b));
        bvec3 k = bvec3(p.y >= sv[i].y, p.y < sv[j].y, e.x * w.y > e.y * w.x);
        if (all(k) || !any(k)) s = -s;
    }
    return s * sqrt(d);
}

// The outline with a small per-frame jitter of the query point, so its edge
// softens as frames accumulate.
float silhouette(vec2 p)
{
    return sd(p + r2(vec3(uv.x, uv.y, fs * .01)) * .005);
}
