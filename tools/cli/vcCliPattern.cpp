#include "tools/cli/vcCliPattern.h"

#include <cstdint>
#include <fstream>

#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"

namespace {

// Leading text of every pattern file; anything else is refused before the archive is parsed.
const std::string kMagic = "flexalign pattern file";
constexpr long kVersion = 1;

void exchange(vcArchive& ar, vcCliPattern& p) {
  ar || p.pattern;
  ar || p.runParams;
  double m[6] = {p.startPose.matrix()(0, 0), p.startPose.matrix()(0, 1), p.startPose.matrix()(1, 0),
                 p.startPose.matrix()(1, 1), p.startPose.trans().x(),    p.startPose.trans().y()};
  for (double& v : m) ar || v;
  p.startPose = vcXform<2>(vcMatrix<2>(m[0], m[1], m[2], m[3]), vcVector<2>(m[4], m[5]));
  std::uint64_t n = ar.exchangeCount(p.instanceNames.size(), 8);
  p.instanceNames.resize(n);
  for (std::string& s : p.instanceNames) ar || s;
}

}  // namespace

void vfSaveCliPattern(const std::string& path, vcCliPattern& p) {
  vcArchive ar;
  std::string magic = kMagic;
  long version = kVersion;
  ar || magic;
  ar || version;
  exchange(ar, p);
  std::ofstream f(path, std::ios::binary);
  if (!f) throw vcBadParams(path + ": cannot create the file");
  f.write(reinterpret_cast<const char*>(ar.bytes().data()), std::streamsize(ar.bytes().size()));
  if (!f.flush()) throw vcBadParams(path + ": cannot write the file");
}

vcCliPattern vfLoadCliPattern(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw vcBadParams(path + ": cannot open the file");
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                  std::istreambuf_iterator<char>());
  // The magic text is stored as a length and its bytes; compare them raw, so a foreign file
  // never reaches the archive's readers.
  vcArchive probe;
  std::string magic = kMagic;
  probe || magic;
  const std::vector<std::uint8_t>& head = probe.bytes();
  if (bytes.size() < head.size() || !std::equal(head.begin(), head.end(), bytes.begin()))
    throw vcBadParams(path + ": not a flexalign pattern file");
  vcCliPattern p;
  long version = 0;
  try {
    vcArchive ar(std::move(bytes));
    ar || magic;
    ar || version;
    if (version == kVersion) exchange(ar, p);
  } catch (const vcArchive::EndOfData&) {
    throw vcBadParams(path + ": the pattern file is truncated");
  } catch (const vcException& e) {
    // A count or class the archive refuses, or an object that refuses its stored values.
    throw vcBadParams(path + ": the pattern file is damaged (" + e.what() + ")");
  }
  if (version != kVersion)
    throw vcBadParams(path + ": pattern file version " + std::to_string(version) +
                      " is not supported (this program reads version 1)");
  if (!p.pattern.isTrained()) throw vcBadParams(path + ": the pattern in the file is untrained");
  return p;
}
