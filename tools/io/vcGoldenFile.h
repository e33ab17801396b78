// The golden model file: a golden model with the pattern file it was trained with, so that an
// inspection needs only this file. One format, one reader and writer for the command and the
// Python module. An inspection as the tools show it (one JSON object per image) is here too, so
// that both print the same record.
//
// Layout (the library's archive): the text "flexalign golden model file", a version (1), the
// pattern file's bytes, the golden model (with its own version byte).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/io/vcPatternFile.h"
#include "vcFlexInspect.h"

struct vcGoldenFile {
  vcPatternFile pattern;
  vcFlexGoldenModel model;
};

// Throw vcBadParams "source: problem" for an untrained model, a foreign, truncated or damaged
// file, or an unknown version.
std::vector<std::uint8_t> vfGoldenFileBytes(const vcGoldenFile& g);
vcGoldenFile vfGoldenFileFromBytes(std::vector<std::uint8_t> bytes, const std::string& source);
void vfSaveGoldenFile(const std::string& path, const vcGoldenFile& g);
vcGoldenFile vfLoadGoldenFile(const std::string& path);

// Trains from good images with the pattern file's run settings and start pose; `used` says
// which images had the part found. The ignore mask is in the training image's pixels.
vcGoldenFile vfTrainGoldenFile(const vcPatternFile& pattern,
                               const std::vector<vcPelBuffer_const<unsigned char>>& images,
                               const vcFlexGoldenParams& params,
                               const vcPelBuffer_const<unsigned char>& ignore,
                               std::vector<bool>* used);
// Runs the pattern file on the image and inspects.
vcFlexInspection vfInspectImage(const vcGoldenFile& g, const vcPelBuffer_const<unsigned char>& img,
                                bool keepDifference = false);

// "pass", "fail", "notFound".
const char* vfVerdictName(vcFlexInspection::Verdict v);
// {image, found, verdict, reason (notFound: the run's, one line), defects: [{x, y, bbox:
// [x, y, w, h], area, excess, piece}]}; piece is the instance's name, null when none.
nlohmann::json vfInspectionRecord(const std::string& image, const vcFlexInspection& r,
                                  const std::vector<std::string>& names);
