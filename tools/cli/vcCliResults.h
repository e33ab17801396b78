// One image's run as the command reports it: a table for people, a JSON object per image for
// programs (field names in the README), and an overlay picture of what was found.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/common/vcPatternFile.h"
#include "vcFlexAlignTool.h"

struct vcCliInstance {
  std::string name;
  bool found = false;
  double x = 0, y = 0, angle = 0, scale = 0;  // the piece's pose in the image (its origin)
  double score = 0;
  double offset = 0, turn = 0;  // against the nominal layout: arrangement units, degrees
};

struct vcCliPart {
  bool found = false;
  double score = 0;
  double x = 0, y = 0;                       // the arrangement origin in the image
  double angle = 0, xScale = 0, yScale = 0;  // degrees; scales of the arrangement's axes
  std::vector<std::string> info;
  std::vector<vcCliInstance> instances;
};

struct vcCliImageRun {
  std::string image;
  long width = 0, height = 0;
  double ms = 0;
  std::vector<vcCliPart> parts;
  vcFlexAlignResultSet results;  // for the overlay
};

// Runs the pattern; recording goes to `diag` when given.
vcCliImageRun vfRunCliImage(const vcPatternFile& p, const std::string& name,
                            const vcPelBuffer_const<unsigned char>& image,
                            const vcXform<2>& startPose, const vcFlexAlignRunParams& params,
                            vcDiagObject* diag = nullptr, unsigned long flags = 0);
// True when the run found at least one part (found flag set).
bool vfCliPartFound(const vcCliImageRun& r);

std::string vfCliTable(const vcCliImageRun& r);
nlohmann::json vfCliJson(const vcCliImageRun& r);
// The image in grey with the arrangement box (yellow), the found pieces' outlines (green) and
// the expected place of missing pieces (red), as a colour PNG.
void vfWriteCliOverlay(const std::string& path, const vcPatternFile& p,
                       const vcPelBuffer_const<unsigned char>& image, const vcCliImageRun& r);
