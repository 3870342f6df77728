#include "merge_add.h"

#include "scene_identity.h"
#include "scene_samples.h"

bool addParts(const std::vector<Part> &parts, Picture &total, std::vector<TileStats> &tiles,
              std::string &error) {
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Part &p = parts[i];
    PartialInfo again;
    Picture part;
    if (!readPicture(p.path, again, part, error) ||
        !adoptEarlierScene(again, sceneIdentity, p.path, error))
      return error += " Nothing was written.", false;
    if (formatFrameRanges(again.frames) != formatFrameRanges(p.info.frames) ||
        again.scene != p.info.scene || again.width != parts[0].info.width ||
        again.height != parts[0].info.height || again.hasSquares != p.info.hasSquares ||
        again.isAdaptive != p.info.isAdaptive) {
      error = "\"" + p.path + "\" changed while it was being merged. Nothing was written.";
      return false;
    }
    if (parts.size() > 1) tiles[i] = tileStats(part);
    addPicture(total, part);
  }
  return true;
}
