// Wood relief in [0, .91): planks .1 wide in scaled x, each with its own
// stretch of grain and a seam at its lower-x edge, plus a fine grain.
float wd(vec3 p, float d)
{
    vec3 P = p * d;
    P.x += floor(P.x * 10.);
    float f = smoothstep(0., .05, fract(P.x * 10.));
    P = sin(4.3 * P + cos(6.7 * P.yzx));
    float n = 3. * (P.x + .03 * sin(13. * P.x) + (P.y + .03 * sin(13. * P.y)) +
                    (P.z + .03 * sin(13. * P.z)));
    vec3 k = sin(120.5 * p + 6.283 * n + sin(121.3 * p.zxy));
    float g = 1. - abs(.333 * (k.x + k.y + k.z));
    n = fract(n + fract(n * 4.) * .1);
    n = min(n, n * (1. - n) * 6.);
    return (n * .85 + g * .2) * f;
}
