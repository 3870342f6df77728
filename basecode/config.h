// Build-time run configuration. Nothing changes these at run time.
#pragma once

#ifndef EXEGFX_LIMITS_ENFORCED
#define EXEGFX_LIMITS_ENFORCED 0
#endif

namespace RunConfig {
inline constexpr unsigned renderWidth = 1920;
inline constexpr unsigned renderHeight = 1080;
inline constexpr double maxPrecalcTime = 60.0; // printed as a double, compared as a float
inline constexpr int maxFrames = 2048;
inline constexpr bool limitsEnforced = EXEGFX_LIMITS_ENFORCED != 0;
inline constexpr int progressInterval = 40;
} // namespace RunConfig
