
void main()
{
    ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    // The last tiles overhang a size that is no multiple of the tile.
    if (p.x >= int(u.x) || p.y >= int(u.y))
        return;
    FC = vec4(vec2(p) + .5, .5, 1);
    px();
    imageStore(so, p, vec4(c, 0));
}
