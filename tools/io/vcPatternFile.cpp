#include "tools/io/vcPatternFile.h"

#include <algorithm>
#include <map>

#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcPose.h"
#include "tools/io/vcRunDefaults.h"

namespace {

// Leading text of every pattern file; anything else is refused before the archive is parsed.
const std::string kMagic = "flexalign pattern file";
// Version 2 files hold the trained engine models, so they load without training; version 1
// files (the same fields, with tools that are trained again on loading) still load. A version
// 1 reader refuses a version 2 file by its number rather than by a damaged tool.
constexpr long kVersion = 2;
constexpr long kOldestVersion = 1;

[[noreturn]] void fail(const std::string& source, const std::string& problem) {
  throw vcBadParams(source + ": " + problem);
}

void exchange(vcArchive& ar, vcPatternFile& p) {
  ar || p.pattern;
  ar || p.runParams;
  const vcMatrix<2>& m0 = p.startPose.matrix();
  double m[6] = {
      m0(0, 0), m0(0, 1), m0(1, 0), m0(1, 1), p.startPose.trans().x(), p.startPose.trans().y()};
  for (double& v : m) ar || v;
  p.startPose = vcXform<2>(vcMatrix<2>(m[0], m[1], m[2], m[3]), vcVector<2>(m[4], m[5]));
  const std::uint64_t n = ar.exchangeCount(p.instanceNames.size(), 8);
  p.instanceNames.resize(n);
  for (std::string& s : p.instanceNames) ar || s;
}

// The bytes the magic text is stored as (a length and its characters), compared raw, so a
// foreign file never reaches the archive's readers as a pattern file.
std::vector<std::uint8_t> magicBytes() {
  vcArchive probe;
  std::string magic = kMagic;
  probe || magic;
  return probe.bytes();
}

// A bare pattern archive, as older Python programs saved it; nothing when it is not one.
bool loadBare(const std::vector<std::uint8_t>& bytes, vcPatternFile& out) {
  try {
    vcArchive ar(bytes);
    vcFlexAlignPattern pattern;
    ar || pattern;
    if (!pattern.isTrained()) return false;
    out = vfPatternFileOf(pattern);
    return true;
  } catch (const vcException&) {
    return false;
  }
}

// What the archive cannot check: a name per instance and a start pose the library accepts.
void check(const vcPatternFile& p, const std::string& source) {
  const std::size_t instances = p.pattern.arrangement().subModelIndices().size();
  if (p.instanceNames.size() != instances)
    fail(source, "the pattern file is damaged (" + std::to_string(p.instanceNames.size()) +
                     " names for " + std::to_string(instances) + " instances)");
  const std::string pose = vfPoseProblem(p.startPose);
  if (!pose.empty()) fail(source, "the pattern file is damaged (start pose: " + pose + ")");
}

}  // namespace

std::vector<std::string> vfDefaultInstanceNames(const vcFlexArrangement& a) {
  std::map<long, int> uses, seen;
  for (long k : a.subModelIndices()) ++uses[k];
  std::vector<std::string> names;
  for (long k : a.subModelIndices()) {
    std::string name = a.subModels()[std::size_t(k)].name();
    if (uses[k] > 1) name += " " + std::to_string(++seen[k]);
    names.push_back(name);
  }
  return names;
}

vcPatternFile vfPatternFileOf(const vcFlexAlignPattern& trained) {
  vcPatternFile p;
  p.pattern = trained;
  const vcFlexArrangement& a = trained.arrangement();
  p.runParams = vfDefaultRunParams(trained.trainParams(), long(a.subModelIndices().size()));
  p.startPose = a.origin()->linearXform({0, 0}).xform();
  p.instanceNames = vfDefaultInstanceNames(a);
  return p;
}

std::vector<std::uint8_t> vfPatternFileBytes(const vcPatternFile& p) {
  if (!p.pattern.isTrained()) throw vcBadParams("the pattern is not trained");
  vcArchive ar;
  std::string magic = kMagic;
  long version = kVersion;
  ar || magic;
  ar || version;
  vcPatternFile copy = p;  // the archive's operator|| takes its objects by reference
  exchange(ar, copy);
  return ar.bytes();
}

vcPatternFile vfPatternFileFromBytes(std::vector<std::uint8_t> bytes, const std::string& source) {
  if (bytes.empty()) fail(source, "the file is empty");
  const std::vector<std::uint8_t> head = magicBytes();
  vcPatternFile p;
  if (bytes.size() < head.size() || !std::equal(head.begin(), head.end(), bytes.begin())) {
    if (!loadBare(bytes, p)) fail(source, "not a flexalign pattern file");
    check(p, source);
    return p;
  }
  long version = 0;
  try {
    vcArchive ar(std::move(bytes));
    std::string magic;
    ar || magic;
    ar || version;
    if (version >= kOldestVersion && version <= kVersion) exchange(ar, p);
  } catch (const vcArchive::EndOfData&) {
    fail(source, "the pattern file is truncated");
  } catch (const vcException& e) {
    // A count or class the archive refuses, or an object that refuses its stored values.
    fail(source, std::string("the pattern file is damaged (") + e.what() + ")");
  }
  if (version < kOldestVersion || version > kVersion)
    fail(source, "pattern file version " + std::to_string(version) +
                     " is not supported (this program reads versions 1 and 2)");
  if (!p.pattern.isTrained()) fail(source, "the pattern in the file is untrained");
  check(p, source);
  return p;
}

void vfSavePatternFile(const std::string& path, const vcPatternFile& p) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = vfPatternFileBytes(p);
  } catch (const vcException& e) {
    fail(path, e.what());
  }
  vfWriteFileBytes(path, bytes);
}

vcPatternFile vfLoadPatternFile(const std::string& path) {
  return vfPatternFileFromBytes(vfReadFileBytes(path, kVcPatternFileMaxBytes), path);
}
