// Writes the fuzz targets' seed inputs into DIR/<target>/ and the archive dictionary into
// DIR/archive.dict: archives of every registered class in its default state, of trained and
// filled value objects, pattern files, a PGM, parameter packs and engine settings. The image
// and description seeds are files in fuzz/seeds/, which scripts/fuzz adds.
// Usage: make_corpus DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "platform/core/vcPelBuffer.h"
#include "tools/io/vcPatternFile.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlign.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The archive target's input: the byte that picks the target, then the archive.
template <class T>
void writeArchive(const fs::path& dir, const std::string& name, unsigned char pick, T& obj) {
  vcArchive out;
  out || obj;
  std::vector<std::uint8_t> bytes{pick};
  bytes.insert(bytes.end(), out.bytes().begin(), out.bytes().end());
  writeFile(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_corpus DIR\n";
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* t : {"archive", "pgm", "parampack", "geofind", "correlation", "png", "jpeg",
                        "tiff", "bmp", "description", "patternfile"})
    fs::create_directories(root / t);
  const fs::path arch = root / "archive";
  const std::vector<std::string> names = vfRegisteredPersistentNames();
  const auto extra = [&](unsigned k) { return static_cast<unsigned char>(names.size() + k); };

  // Every registered class, default-made, directly and as a polymorphic pointer.
  for (std::size_t i = 0; i < names.size(); ++i) {
    vcPersistent* obj = vfFindPersistentFactory(names[i].c_str())();
    writeArchive(arch, "class-" + std::to_string(i), static_cast<unsigned char>(i), *obj);
    vcArchive out;
    serializePointer(out, nullptr, obj);
    std::vector<std::uint8_t> bytes{extra(0)};
    bytes.insert(bytes.end(), out.bytes().begin(), out.bytes().end());
    writeFile(arch / ("pointer-" + std::to_string(i)), bytes);
    delete obj;
  }

  // Trained and filled value objects.
  vcSampleRender r;
  r.width = r.height = 96;
  const vcXform<2> pose(vcMatrix<2>(0.6, 1, vcRadian(0.0), vcRadian(0.0)), {48, 48});
  const vcPelBuffer<unsigned char> img = vfRenderSample(vfSampleAsymmetricPattern(), pose, r);
  vcFlexSubModel sub(img, "piece");
  writeArchive(arch, "submodel", extra(3), sub);
  vcFlexArrangement arr;
  arr.addSubModel(sub,
                  {vcPtrHandle_const<vc2XformBase>(new vc2XformLinear),
                   vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(vcMatrix<2>(), {30, 0}))});
  writeArchive(arch, "arrangement", extra(4), arr);
  vc_SubModelTool gfTool, corTool;
  gfTool.train(sub, vcFlexSubModelGfndTrainParams());
  corTool.train(sub, vcFlexSubModelCorTrainParams());
  writeArchive(arch, "tool-geofind", extra(2), gfTool);
  writeArchive(arch, "tool-correlation", extra(2), corTool);
  vc_SubModelResultSet set;
  set.addResult(new vcFlexSubModelGfndResult);
  set.addResult(new vcFlexSubModelCorResult);
  writeArchive(arch, "resultset", extra(1), set);
  vcPelBuffer<unsigned char> small(5, 4);
  writeArchive(arch, "image", extra(6), small);
  vcPolygon poly({{1, 2}, {3, 4}, {5, 0}});
  writeArchive(arch, "polygon", extra(7), poly);

  // The FlexAlign files a user ships: parameters, results and a small trained pattern.
  vcFlexAlignTrainParams tp(vcFlexSubModelGfndTrainParams{});
  tp.custom(1, vcFlexSubModelCorTrainParams());
  writeArchive(arch, "flexalign-trainparams", extra(8), tp);
  vcFlexAlignRunParams rp(vcFlexSubModelGfndRunParams{});
  rp.custom(1, vcFlexSubModelCorRunParams());
  rp.runOrder(std::vector<std::vector<long>>{{1}, {0}});
  rp.zoneEnable(vcFlexAlignDefs::eAngle);
  writeArchive(arch, "flexalign-runparams", extra(9), rp);
  vcFlexAlignResultSet results;
  writeArchive(arch, "flexalign-results", extra(10), results);
  vcSampleRender tiny;
  tiny.width = tiny.height = 40;
  const vcFlexSubModel piece(
      vfRenderSample(vfSampleAsymmetricPattern(),
                     vcXform<2>(vcMatrix<2>(0.25, 1, vcRadian(0.0), vcRadian(0.0)), {20, 20}),
                     tiny),
      "tiny");
  vcFlexArrangement part;
  part.addSubModel(piece,
                   {vcPtrHandle_const<vc2XformBase>(new vc2XformLinear),
                    vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(vcMatrix<2>(), {50, 0}))});
  vcFlexAlignPattern pattern;
  pattern.train(part, tp);
  writeArchive(arch, "flexalign-pattern", extra(11), pattern);
  // The same pattern as a pattern file, and bare (as older Python programs saved it).
  writeFile(root / "patternfile" / "pattern.fxp", vfPatternFileBytes(vfPatternFileOf(pattern)));
  vcArchive bare;
  bare || pattern;
  writeFile(root / "patternfile" / "bare.fxp", bare.bytes());
  vcFlexAlignResult found;
  vcFlexAlignDeformation deformation(found, part);
  writeArchive(arch, "flexalign-deformation", extra(12), deformation);

  // Class names and markers for the archive target's dictionary.
  std::set<std::string> words(names.begin(), names.end());
  std::ofstream dict(root / "archive.dict");
  dict << "null=\"\\x00\"\nseen=\"\\x01\\x00\\x00\\x00\\x00\"\nnew=\"\\x02\"\n";
  int k = 0;
  for (const std::string& w : words) {
    // A new pointer's record: tag, the name's 8-byte length, the name.
    std::string entry = "\\x02";
    for (int b = 0; b < 8; ++b) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x",
                    static_cast<unsigned>((w.size() >> (8 * b)) & 0xff));
      entry += hex;
    }
    dict << "class" << k++ << "=\"" << entry << w << "\"\n";
  }

  vfWritePgm((root / "pgm" / "sample.pgm").string(), img);
  std::ofstream(root / "parampack" / "pack.txt")
      << "# settings\nmodel.grain = 2\n\nrun.mode-fast = on\n";
  std::ofstream(root / "geofind" / "zeros", std::ios::binary) << std::string(64, '\0');
  std::ofstream(root / "geofind" / "mid", std::ios::binary) << std::string(64, '\x80');
  std::ofstream(root / "correlation" / "zeros", std::ios::binary) << std::string(64, '\0');
  std::ofstream(root / "correlation" / "mid", std::ios::binary) << std::string(64, '\x80');
  std::cout << "corpus written to " << root.string() << "\n";
  return 0;
}
