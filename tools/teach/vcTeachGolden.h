// The teach page's inspection: a golden model trained from good images of the served folders
// with the pattern the page's description trains, kept in the session, tried on an image
// (defects outlined and named on the page) and saved beside the description as the file
// `flexalign inspect run` reads. The same limits and messages as `flexalign inspect train`,
// with the images called by the names the page gave them.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/io/vcGoldenFile.h"
#include "tools/teach/vcTeachFolders.h"

// At most this many good images a training, and this many pixels over all of them: the
// server holds them all at once.
constexpr std::size_t kVcTeachMaxGoodImages = 100;
constexpr std::uint64_t kVcTeachMaxGoodPixels = 1ull << 27;

class vcTeachGolden {
 public:
  // `target`: the golden model file Save writes; `keep`: files it must never replace (the
  // description, the training image).
  vcTeachGolden(const vcTeachFolders& folders, std::filesystem::path target,
                std::vector<std::filesystem::path> keep);

  // Trains from the images `names` (served files) with `pattern`; the model replaces the one
  // kept only when training succeeds. {"used", "given", "left" (names where the part was not
  // found), "coverage" (0 to 1), "region" [w, h], "size" [w, h], "target"}.
  nlohmann::json train(const vcPatternFile& pattern, const std::vector<std::string>& names);
  // Inspects the image `name` of the folders, or `upload` (a dropped file called `name`) when
  // bound: {"inspection" (the `inspect run --json` record), "width", "height"}. vcCliUsage
  // without a model or for an image of another size than the good ones.
  nlohmann::json inspect(const std::string& name, const vcPelBuffer<unsigned char>& upload) const;
  // Writes the model to the target, over an existing file only when that is a golden model
  // file: {"saved" (path)}.
  nlohmann::json save();

 private:
  const vcTeachFolders& folders_;
  std::filesystem::path target_;
  std::vector<std::filesystem::path> keep_;
  std::optional<vcGoldenFile> model_;
  bool wrote_ = false;  // the target is this session's own file
};
