// The pattern file: a trained FlexAlign pattern with the run settings it is meant to run with,
// the start pose and a name per instance. One format, one reader and writer: the flexalign
// command and the Python module both save and load it.
//
// Layout (the library's archive): the text "flexalign pattern file", a version (2; version 1
// files load too), the pattern, the run parameters, the start pose (six doubles: a b c d of the
// matrix, then x y), the instance names. A bare archive of a pattern, as older Python programs
// saved it, loads too, with the default run settings (vcRunDefaults.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"

struct vcPatternFile {
  vcFlexAlignPattern pattern;
  vcFlexAlignRunParams runParams;
  vcXform<2> startPose;  // the arrangement's origin frame to image pixels
  std::vector<std::string> instanceNames;
};

// Pattern files larger than this are refused before they are read.
constexpr std::uint64_t kVcPatternFileMaxBytes = 1ull << 30;

// What a program that has only a trained pattern saves: the default run settings, the start
// pose of the part where it lay in training (the arrangement's origin) and the default names.
vcPatternFile vfPatternFileOf(const vcFlexAlignPattern& trained);
// Each instance's sub-model name, numbered ("key 1", "key 2", ...) where a sub-model is placed
// more than once.
std::vector<std::string> vfDefaultInstanceNames(const vcFlexArrangement& a);

// Throw vcBadParams "source: problem" for an untrained pattern, a foreign, truncated or
// damaged file, or an unknown version.
std::vector<std::uint8_t> vfPatternFileBytes(const vcPatternFile& p);
vcPatternFile vfPatternFileFromBytes(std::vector<std::uint8_t> bytes, const std::string& source);
void vfSavePatternFile(const std::string& path, const vcPatternFile& p);
vcPatternFile vfLoadPatternFile(const std::string& path);
