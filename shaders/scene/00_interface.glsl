// u: render width, render height, frames accumulated including this one.
// fr: the running sum of the frames before this one, on texture unit 0.
uniform vec3 u;
uniform sampler2D fr;
// fk: the frame number as a whole number, exact at every frame where u.z is
// not; 0 where a host leaves it unset, which keeps the frame count's seeds.
uniform uint fk;

// Set by px for every pixel; initialised so no function reads them undefined.
vec2 uv = vec2(0);
float fs = 0.;
