#include "tools/teach/vcTeachGolden.h"

#include <cmath>
#include <fstream>
#include <set>

#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcImageFile.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string sizeText(long w, long h) { return std::to_string(w) + " x " + std::to_string(h); }

fs::path resolved(const fs::path& p) { return fs::weakly_canonical(fs::absolute(p)); }

// Whether the file at `p` starts as a golden model file does (its archive's leading text).
bool looksGolden(const fs::path& p) {
  static const std::string kText = "flexalign golden model file";
  std::ifstream f(p, std::ios::binary);
  char head[64] = {};
  f.read(head, sizeof head);
  return std::string(head, std::size_t(f.gcount())).find(kText) == 8;
}

}  // namespace

vcTeachGolden::vcTeachGolden(const vcTeachFolders& folders, fs::path target,
                             std::vector<fs::path> keep)
    : folders_(folders), target_(std::move(target)), keep_(std::move(keep)) {}

json vcTeachGolden::train(const vcPatternFile& pattern, const std::vector<std::string>& names) {
  const long least = vcFlexGoldenModel::kMinImages;
  if (long(names.size()) < least)
    throw vcCliUsage("a golden model needs at least " + std::to_string(least) + " good images; " +
                     std::to_string(names.size()) + " picked");
  if (names.size() > kVcTeachMaxGoodImages)
    throw vcCliUsage(std::to_string(names.size()) + " good images picked, more than the " +
                     std::to_string(kVcTeachMaxGoodImages) +
                     " the teach page trains from; train larger sets with flexalign inspect train");
  // Each image once: a copy would count as a second good part and narrow the spread.
  std::set<std::string> seen;
  for (const std::string& n : names)
    if (!seen.insert(n).second) throw vcCliUsage(vfPrintable(n) + ": picked twice");
  std::vector<vcPelBuffer<unsigned char>> images;
  std::uint64_t pixels = 0;
  for (const std::string& n : names) {
    images.push_back(vfReadImage(folders_.file(n).string()));
    const vcPelBuffer<unsigned char>& img = images.back();
    if (img.width() != images.front().width() || img.height() != images.front().height())
      throw vcCliUsage(vfPrintable(n) + ": " + sizeText(img.width(), img.height()) + ", " +
                       vfPrintable(names.front()) + " is " +
                       sizeText(images.front().width(), images.front().height()) +
                       "; the good images must be one size");
    pixels += std::uint64_t(img.width()) * std::uint64_t(img.height());
    if (pixels > kVcTeachMaxGoodPixels)
      throw vcCliUsage("the good images hold more than " + std::to_string(kVcTeachMaxGoodPixels) +
                       " pixels, more than the teach page trains from; train larger sets with "
                       "flexalign inspect train");
  }
  const std::vector<vcPelBuffer_const<unsigned char>> views(images.begin(), images.end());
  std::vector<bool> used;
  vcGoldenFile g = vfTrainGoldenFile(pattern, views, vcFlexGoldenParams(), {}, &used);
  json left = json::array();
  long n = 0;
  for (std::size_t i = 0; i < used.size(); ++i) {
    n += used[i];
    if (!used[i]) left.push_back(names[i]);
  }
  const vcPelRect& r = g.model.region();
  json out = {{"used", n},
              {"given", names.size()},
              {"left", left},
              {"coverage", std::round(g.model.coverage() * 1000.0) / 1000.0},
              {"region", {r.width(), r.height()}},
              {"size", {images.front().width(), images.front().height()}},
              {"target", target_.string()}};
  model_ = std::move(g);
  return out;
}

json vcTeachGolden::inspect(const std::string& name,
                            const vcPelBuffer<unsigned char>& upload) const {
  if (!model_) throw vcCliUsage("no golden model yet: pick good images and train one first");
  const vcPelBuffer<unsigned char> img =
      upload.isBound() ? upload : vfReadImage(folders_.file(name).string());
  const vcFlexGoldenModel& m = model_->model;
  if (img.width() != m.imageWidth() || img.height() != m.imageHeight())
    throw vcCliUsage(vfPrintable(name) + ": " + sizeText(img.width(), img.height()) +
                     "; the golden model was trained on images of " +
                     sizeText(m.imageWidth(), m.imageHeight()));
  const vcFlexInspection r = vfInspectImage(*model_, img);
  return {{"inspection", vfInspectionRecord(name, r, model_->pattern.instanceNames)},
          {"width", img.width()},
          {"height", img.height()}};
}

json vcTeachGolden::save() {
  if (!model_) throw vcCliUsage("no golden model yet: pick good images and train one first");
  const fs::path k = resolved(target_);
  for (const fs::path& f : keep_)
    if (k == resolved(f))
      throw vcCliUsage(target_.string() + ": would replace a file the page reads");
  std::error_code ec;
  if (!wrote_ && fs::exists(fs::symlink_status(target_, ec)) && !looksGolden(target_))
    throw vcCliUsage(target_.string() +
                     ": exists and is not a golden model file; it is left as it is");
  vfSaveGoldenFile(target_.string(), *model_);
  wrote_ = true;
  return {{"saved", target_.string()}};
}
