#include "merge_agreement.h"

#include "merge_messages.h"

#include <algorithm>
#include <cstdio>
#include <string>

// Why a part is refused, with its figures.
static std::string refusal(const Part &part, const PartAgreement &a) {
  const std::string name = "\"" + part.path + "\"", figures = agreementText(a);
  if (a.noVariance)
    return name + " shows no variance in the tiles where the other parts vary: " + figures +
           ". Its sum of squares was left at zero (a broken squares pass or driver).";
  if (a.varianceOutOfLine)
    return name + "'s variance is out of line with the other parts': " + figures +
           ". Its sum of squares is wrong (a broken squares pass or driver).";
  return name + " disagrees with the other parts beyond their noise: " + figures +
         ". It shows another picture (a broken driver, or a changed scene under the same "
         "identity).";
}

bool agreeOrForced(const std::vector<Part> &parts, const std::vector<TileStats> &tiles,
                   unsigned width, unsigned height, bool force) {
  std::vector<PartAgreement> agreement = checkAgreement(tiles, width, height);
  const char *forced = force ? "--force: merging although " : "";
  std::size_t tested = 0, checked = 0, refused = 0, flat = 0;
  std::vector<std::size_t> off; // refused for their tiles or variance, not for being flat
  double worstMean = 0.0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const PartAgreement &a = agreement[k];
    tested += !tiles[k].mean.empty();
    flat += a.noVariance;
    if (!a.checked) continue;
    ++checked;
    worstMean = std::max(worstMean, a.meanAbsZ);
    if (a.consistent) continue;
    ++refused;
    if (a.noVariance)
      std::fprintf(stderr, "exegfx-merge: %s%s\n", forced, refusal(parts[k], a).c_str());
    else
      off.push_back(k);
  }
  // Two parts that disagree: nothing tells which one is wrong.
  if (off.size() == 2 && tested - flat == 2) {
    const Part &a = parts[off[0]], &b = parts[off[1]];
    std::fprintf(stderr,
                 "exegfx-merge: %s\"%s\" and \"%s\" disagree with each other beyond their "
                 "noise (%s: %s; %s: %s). With only two parts to compare, which one is wrong "
                 "cannot be told: render a third part of the picture to merge with them, or one "
                 "of them again.\n",
                 forced, a.path.c_str(), b.path.c_str(), a.path.c_str(),
                 agreementText(agreement[off[0]]).c_str(), b.path.c_str(),
                 agreementText(agreement[off[1]]).c_str());
    off.clear();
  }
  for (std::size_t k : off)
    std::fprintf(stderr, "exegfx-merge: %s%s\n", forced, refusal(parts[k], agreement[k]).c_str());
  for (std::size_t k = 0; k < parts.size() && parts.size() > 1; ++k) {
    const TileStats &t = tiles[k];
    if (t.fewPixels > 0 && !t.mean.empty())
      std::fprintf(stderr,
                   "exegfx-merge: note: \"%s\" has %zu pixel%s with fewer than %u samples, too "
                   "few for a variance: %zu of its %zu tiles are left out of the check.\n",
                   parts[k].path.c_str(), t.fewPixels, t.fewPixels == 1 ? "" : "s", minCheckFrames,
                   t.tilesLeftOut, t.tiles);
    if (agreement[k].checked || !parts[k].info.hasSquares) continue;
    const std::string frames = std::to_string(frameCount(parts[k].info.frames));
    const std::string why =
        !t.mean.empty()
            ? "(" + frames + " frames) has no other part that varies in its tiles to compare with"
        : t.fewPixels < parts[k].info.width * std::size_t{parts[k].info.height}
            ? "has a pixel of fewer than " + std::to_string(minCheckFrames) +
                  " samples in every tile, too few for a variance"
            : "holds " + frames + " frames, too few for a variance (" +
                  std::to_string(minCheckFrames) + " or more)";
    std::fprintf(stderr, "exegfx-merge: note: \"%s\" %s: not checked against the other parts.\n",
                 parts[k].path.c_str(), why.c_str());
  }
  if (refused > 0 && !force) {
    std::fprintf(stderr,
                 "exegfx-merge: refused %zu of %zu parts; nothing was written (--force merges "
                 "them anyway).\n",
                 refused, tested);
    return false;
  }
  if (refused == 0 && checked > 0)
    std::fprintf(stderr, "exegfx-merge: the %zu parts checked agree (mean |z| at most %.2f).\n",
                 checked, worstMean);
  return true;
}
