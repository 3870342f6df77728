// u: render width, render height, frames accumulated including this one.
// fr: the running sum of the frames before this one, on texture unit 0.
uniform vec3 u;
uniform sampler2D fr;

// Set by px for every pixel; initialised so no function reads them undefined.
vec2 uv = vec2(0);
float fs = 0.;
