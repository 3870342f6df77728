// Linked into every GL test: llvmpipe needs the 4.6 overrides, and Mesa's
// shader cache is off, since a cached shader skips compilation and comes back
// with an empty log, which would hide the compiler reports under test.
#include <cstdlib>

static const bool glTestEnvironment = [] {
  setenv("MESA_GL_VERSION_OVERRIDE", "4.6COMPAT", 0);
  setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  return true;
}();
