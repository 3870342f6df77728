#include "scene_samples.h"

namespace {

struct EarlierScene {
  const char *identity;
  unsigned lastShared; // its frames up to this one have today's samples
};

// Up to 1.0.0 the scene drew every number from the sine hash, whose numbers
// thin out past frame 2048 (fract(x + d) keeps only the bits below d's last
// one); today's draw the same numbers through frame 2048 and hashed ones after.
constexpr EarlierScene earlierScenes[] = {
    {"sha256:f35ce0aba935c6c3d2b29955457278787e2873db93eb830162bafc194859c846", 2048},
};

} // namespace

bool adoptEarlierScene(PartialInfo &info, const std::string &current, const std::string &path,
                       std::string &error) {
  if (info.scene == current) return true;
  for (const EarlierScene &e : earlierScenes) {
    if (info.scene != e.identity) continue;
    if (!info.frames.empty() && info.frames.back().last <= e.lastShared) {
      info.scene = current;
      return true;
    }
    error = "\"" + path + "\" holds frames " + formatFrameRanges(info.frames) +
            " from an earlier version of exegfx (scene " + info.scene +
            "), whose random numbers past frame " + std::to_string(e.lastShared) +
            " thin out and render another picture. This version draws the same samples only "
            "up to frame " +
            std::to_string(e.lastShared) +
            ", so the file can be neither resumed nor merged with them: render its frames again.";
    return false;
  }
  return true;
}
