#include "merge_check.h"

#include "merge_messages.h"
#include "output_lock.h"
#include "scene_identity.h"
#include "scene_samples.h"
#include "whole_file.h"

#include <cstdio>

// A map beside the output: a .png that can be written, that is neither the
// output nor a part, locked like the output.
static bool checkMap(const MergeOptions &o, const std::string &map, const char *option,
                     std::string &error) {
  ImageFormat format;
  std::string note;
  if (!imageFormatFor(map, format, error) || !checkOutputPath(map, error)) return false;
  if (format != ImageFormat::Png)
    error = std::string(option) + " writes a .png picture; \"" + map + "\" is not one.";
  else if (sameOutputFile(map, o.output))
    error = std::string(option) + " and -o name the same file, \"" + o.output + "\".";
  for (const Part &p : o.parts)
    if (error.empty() && sameOutputFile(map, p.path))
      error = std::string(option) + " names the part \"" + p.path +
              "\": the map would replace its frames. Nothing was written.";
  if (!error.empty()) return false;
  if (!lockOutput(map, note, error)) return error += " Nothing was written.", false;
  return true;
}

bool checkOutputs(MergeOptions &o, std::string &error) {
  std::string note;
  if (!imageFormatFor(o.output, o.format, error) || !checkOutputPath(o.output, error)) return false;
  if (!lockOutput(o.output, note, error)) return error += " Nothing was written.", false;
  if (!note.empty()) std::fprintf(stderr, "exegfx-merge: note: %s\n", note.c_str());
  if (!o.noiseMap.empty() && !checkMap(o, o.noiseMap, "--noise-map", error)) return false;
  if (!o.countMap.empty() && !checkMap(o, o.countMap, "--count-map", error)) return false;
  if (!o.noiseMap.empty() && !o.countMap.empty() && sameOutputFile(o.noiseMap, o.countMap)) {
    error = "--noise-map and --count-map name the same file, \"" + o.noiseMap + "\".";
    return false;
  }
  return true;
}

bool checkParts(std::vector<Part> &parts, std::string &error) {
  for (Part &p : parts)
    if (!readPartialInfo(p.path, p.info, error) ||
        !adoptEarlierScene(p.info, sceneIdentity, p.path, error))
      return false;
  const Part &first = parts.front();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const Part &p = parts[k];
    if (p.info.width != first.info.width || p.info.height != first.info.height) {
      error = "\"" + p.path + "\" is " + std::to_string(p.info.width) + "x" +
              std::to_string(p.info.height) + " but \"" + first.path + "\" is " +
              std::to_string(first.info.width) + "x" + std::to_string(first.info.height) +
              "; only parts of one picture add up.";
      return false;
    }
    if (p.info.scene != first.info.scene) {
      error = "\"" + p.path + "\" and \"" + first.path +
              "\" were rendered from different scenes (" + p.info.scene + " and " +
              first.info.scene + ").";
      return false;
    }
  }
  std::vector<const FrameRanges *> sets;
  for (const Part &p : parts)
    sets.push_back(&p.info.frames);
  SharedFrame shared{};
  if (firstSharedFrame(sets, shared)) {
    const Part &a = parts[shared.a], &b = parts[shared.b];
    error = "\"" + a.path + "\" and \"" + b.path + "\" both hold frame " +
            std::to_string(shared.frame) + " (" + shortRanges(a.info.frames) + " and " +
            shortRanges(b.info.frames) + "); a frame counted twice biases the mean.";
    return false;
  }
  return true;
}

// renderers. False with a message.
bool checkFrames(const MergeOptions &o, FrameRanges &all, std::string &error) {
  std::vector<std::string> renderers;
  for (const Part &p : o.parts) {
    all.insert(all.end(), p.info.frames.begin(), p.info.frames.end());
    addUnique(renderers, p.info.renderers);
  }
  all = normalizeFrameRanges(all);
  if (!o.expected.empty()) {
    FrameRanges missing = missingFrames(all, o.expected[0].first, o.expected[0].last);
    FrameRanges extra;
    for (const FrameRange &r : all)
      for (const FrameRange &x : missingFrames(o.expected, r.first, r.last))
        extra.push_back(x);
    if (!missing.empty() || !extra.empty()) {
      error = "the parts hold frames " + shortRanges(all) + ", not " + o.expect +
              (missing.empty() ? "" : ": missing " + shortRanges(missing)) +
              (extra.empty() ? "" : ": not asked for " + shortRanges(extra)) +
              ". Nothing was written.";
      return false;
    }
  }
  FrameRanges gaps = missingFrames(all, all.front().first, all.back().last);
  if (!gaps.empty())
    std::fprintf(stderr,
                 "exegfx-merge: note: no part holds frames %s; the mean is of the %llu "
                 "frames given.\n",
                 shortRanges(gaps).c_str(), static_cast<unsigned long long>(frameCount(all)));
  if (renderers.size() > 1)
    std::fprintf(stderr,
                 "exegfx-merge: note: the parts come from different GL renderers (%s); "
                 "their samples may differ in the last bits.\n",
                 joined(renderers).substr(1, joined(renderers).size() - 2).c_str());
  return true;
}
