#include "tools/io/vcGoldenFile.h"

#include <algorithm>
#include <cmath>

#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"
#include "tools/io/vcFileBytes.h"

namespace {

// Leading text of every golden model file; anything else is refused before it is parsed.
const std::string kGoldenMagic = "flexalign golden model file";
constexpr long kGoldenVersion = 1;
// A golden model of a large part holds 13 bytes a pixel beside its pattern.
constexpr std::uint64_t kGoldenMaxBytes = 2ull << 30;

[[noreturn]] void goldenFail(const std::string& source, const std::string& problem) {
  throw vcBadParams(source + ": " + problem);
}

std::vector<std::uint8_t> goldenMagicBytes() {
  vcArchive probe;
  std::string magic = kGoldenMagic;
  probe || magic;
  return probe.bytes();
}

}  // namespace

std::vector<std::uint8_t> vfGoldenFileBytes(const vcGoldenFile& g) {
  if (!g.model.isTrained()) throw vcBadParams("the golden model is not trained");
  const std::vector<std::uint8_t> pattern = vfPatternFileBytes(g.pattern);
  vcArchive ar;
  std::string magic = kGoldenMagic, bytes(pattern.begin(), pattern.end());
  long version = kGoldenVersion;
  vcFlexGoldenModel model = g.model;
  ar || magic || version || bytes || model;
  return ar.bytes();
}

vcGoldenFile vfGoldenFileFromBytes(std::vector<std::uint8_t> bytes, const std::string& source) {
  if (bytes.empty()) goldenFail(source, "the file is empty");
  const std::vector<std::uint8_t> head = goldenMagicBytes();
  if (bytes.size() < head.size() || !std::equal(head.begin(), head.end(), bytes.begin()))
    goldenFail(source, "not a flexalign golden model file");
  vcGoldenFile g;
  long version = 0;
  std::string pattern;
  try {
    vcArchive ar(std::move(bytes));
    std::string magic;
    ar || magic || version;
    if (version == kGoldenVersion) ar || pattern || g.model;
  } catch (const vcArchive::EndOfData&) {
    goldenFail(source, "the golden model file is truncated");
  } catch (const vcException& e) {
    goldenFail(source, std::string("the golden model file is damaged (") + e.what() + ")");
  }
  if (version != kGoldenVersion)
    goldenFail(source, "golden model file version " + std::to_string(version) +
                           " is not supported (this program reads version 1)");
  g.pattern = vfPatternFileFromBytes(std::vector<std::uint8_t>(pattern.begin(), pattern.end()),
                                     source + " (its pattern)");
  return g;
}

void vfSaveGoldenFile(const std::string& path, const vcGoldenFile& g) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = vfGoldenFileBytes(g);
  } catch (const vcException& e) {
    goldenFail(path, e.what());
  }
  vfWriteFileBytes(path, bytes);
}

vcGoldenFile vfLoadGoldenFile(const std::string& path) {
  return vfGoldenFileFromBytes(vfReadFileBytes(path, kGoldenMaxBytes), path);
}

vcGoldenFile vfTrainGoldenFile(const vcPatternFile& pattern,
                               const std::vector<vcPelBuffer_const<unsigned char>>& images,
                               const vcFlexGoldenParams& params,
                               const vcPelBuffer_const<unsigned char>& ignore,
                               std::vector<bool>* used) {
  vcGoldenFile g;
  g.pattern = pattern;
  g.model =
      vcFlexGoldenModel::train(pattern.pattern, pattern.runParams,
                               vc2XformLinear(pattern.startPose), images, params, ignore, used);
  return g;
}

vcFlexInspection vfInspectImage(const vcGoldenFile& g, const vcPelBuffer_const<unsigned char>& img,
                                bool keepDifference) {
  return g.model.inspect(g.pattern.pattern, g.pattern.runParams,
                         vc2XformLinear(g.pattern.startPose), img, keepDifference);
}

const char* vfVerdictName(vcFlexInspection::Verdict v) {
  switch (v) {
    case vcFlexInspection::ePass:
      return "pass";
    case vcFlexInspection::eFail:
      return "fail";
    default:
      return "notFound";
  }
}

nlohmann::json vfInspectionRecord(const std::string& image, const vcFlexInspection& r,
                                  const std::vector<std::string>& names) {
  nlohmann::json j;
  j["image"] = image;
  j["found"] = r.verdict != vcFlexInspection::eNotFound;
  j["verdict"] = vfVerdictName(r.verdict);
  if (r.verdict == vcFlexInspection::eNotFound) j["reason"] = r.reason.text(names);
  auto round3 = [](double v) { return std::round(v * 1000.0) / 1000.0; };
  nlohmann::json defects = nlohmann::json::array();
  for (const vcFlexDefect& d : r.defects) {
    nlohmann::json o;
    o["x"] = round3(d.centroid.x());
    o["y"] = round3(d.centroid.y());
    o["bbox"] = {d.box.x(), d.box.y(), d.box.width(), d.box.height()};
    o["area"] = d.area;
    o["excess"] = round3(d.excess);
    if (d.piece >= 0 && std::size_t(d.piece) < names.size())
      o["piece"] = names[std::size_t(d.piece)];
    else
      o["piece"] = nullptr;
    defects.push_back(o);
  }
  j["defects"] = defects;
  return j;
}
