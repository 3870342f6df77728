#version 460
// Shows the running mean: the sum of all samples divided by the frame count.
uniform vec3 u;
uniform sampler2D fr;
out vec4 c;
void main()
{
    c = texture(fr, gl_FragCoord.xy / u.xy) / u.z;
}
