#version 300 es
// The head of the WebGL 2 passes (GLSL ES 3.00): it takes the place of the
// desktop head's version line, and the rest of that head follows unchanged.
// Every value at full precision, as on the desktop.
precision highp float;
precision highp int;
precision highp sampler2D;
