// What the parts' headers say, without reading their pixels: cheap enough to
// run every few seconds over a farm's parts while their tasks write them.
#pragma once

#include <string>
#include <vector>

// One line per part on standard output, in a fixed form for scripts:
//   PART: frames=1-64 count=64 size=WxH scene=... noise_p95=N noise_median=N
//   [adaptive="RULE"]
// with "unknown" for a noise figure the file does not record. A part whose
// header cannot be read is named on standard error. 0 when every header was
// read, else 1.
int printPartHeaders(const std::vector<std::string> &paths);
