// A frame's scene pass in bands, so that no submission keeps the GPU busy
// much longer than a target: browsers reset a GPU that is busy too long, and
// a busy GPU stalls the page. The picture is cut into strips of stripRows
// rows; a band is a run of whole strips, or, where one strip alone takes too
// long, a piece of one strip. Each band is sized from what its strips cost
// the last time they were measured. A strip is always measured whole or in
// pieces of itself, never split across bands with other rows, so its cost is
// never an average over cheaper rows (the letterbox) that would hide it.
#pragma once

#include <vector>

struct BandRect {
  int x, y, width, height; // in pixels, from the bottom left, as glScissor takes them
};

// Rows of a strip: tall, so that GPUs that share out a draw's rows among
// their cores use them all (SwiftShader on two cores took 80 us a pixel in
// pieces of one to four rows, about 50 in pieces of 16).
inline constexpr int stripRows = 16;
// The first band of a run: small enough for a software GPU to finish in a few
// tens of milliseconds.
inline constexpr int firstBandPixels = 256;

struct BandPlanner {
  int width, height, strips;
  double targetMs;
  unsigned frame; // the frame the bands handed out belong to, from 1
  int stripsDone; // strips of this frame handed out
  int nextStrip;  // where the next band starts: a strip, and a column in it
  int nextX;
  // What a pixel of each strip cost the last time it was measured, in ms; 0
  // until then. Strips not yet measured are taken to cost the most any strip
  // did, and every frame starts at the middle strip, where a picture's
  // subject and its most costly pixels tend to be, so that this is learnt first.
  std::vector<double> stripCost;
  std::vector<unsigned> stripFrame; // the frame each strip's cost was measured in
  double worstCost;
  bool warm; // the first band (the shader's first use) has been measured
};

void bandsStart(BandPlanner &planner, int width, int height, double targetMs);
// Begins the next frame; its bands follow.
void bandsNewFrame(BandPlanner &planner);
// The next rectangle of the frame; call while bandsFrameDone is false.
BandRect bandsNext(BandPlanner &planner);
// Whether the bands handed out since bandsNewFrame cover the whole picture.
bool bandsFrameDone(const BandPlanner &planner);
// The GPU took ms for rect, a band of the given frame. The first measure of a
// run is the shader's warm-up and is not taken.
void bandsMeasured(BandPlanner &planner, const BandRect &rect, unsigned frame, double ms);
// The GPU time a band is expected to take (0 before any measure).
double bandsExpectedMs(const BandPlanner &planner, const BandRect &rect);
