#version 300 es
// The full-screen triangle of the WebGL 2 passes (ES has no glRects): vertex
// 0, 1, 2 at (-1, -1), (3, -1), (-1, 3) cover the viewport, and the fragment
// passes read only gl_FragCoord.
void main()
{
    gl_Position = vec4(vec2(gl_VertexID & 1, gl_VertexID >> 1) * 4. - 1., 0, 1);
}
