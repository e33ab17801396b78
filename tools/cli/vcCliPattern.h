// What `flexalign train` writes and `flexalign run` reads: the trained pattern with the run
// settings and start pose the description gave, and a name per instance for the tables.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"

struct vcCliPattern {
  vcFlexAlignPattern pattern;
  vcFlexAlignRunParams runParams;
  vcXform<2> startPose;  // the arrangement's origin frame to image pixels
  std::vector<std::string> instanceNames;
};

// Throws vcBadParams naming the file when it cannot be written.
void vfSaveCliPattern(const std::string& path, vcCliPattern& p);
// Throws vcBadParams naming the file for a missing, foreign, truncated or damaged file.
vcCliPattern vfLoadCliPattern(const std::string& path);
