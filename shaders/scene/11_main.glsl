// Placeholder until the path tracer lands: a constant sample per pixel.
void main()
{
    uv = gl_FragCoord.xy / u.xy;
    c = vec3(.25, .5, .75) + texture(fr, uv).xyz;
}
