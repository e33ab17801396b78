// One image's run as the command reports it: a table for people, a JSON object per image for
// programs (field names in the README), and an overlay picture of what was found.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/common/vcPatternFile.h"
#include "tools/common/vcResultView.h"
#include "vcFlexAlignTool.h"

struct vcCliImageRun {
  std::string image;
  long width = 0, height = 0;
  double ms = 0;
  std::vector<vcPartView> parts;
  std::vector<vcPartView> rejected;  // the best combinations the run dropped, and why
  // Per part, in order: where each piece went, which rectifying undoes.
  std::vector<vcFlexAlignDeformation> deformations;
  // Once rectified: per part and instance, the longest deformation field vector over the piece
  // (image pixels; how far it lies from where the fitted part pose puts it), and the rectified
  // image's file and region (arrangement units: training pixels for a described part).
  std::vector<std::vector<double>> displacements;
  std::string rectified;
  vcPelRect rectifiedRegion;
};

// Runs the pattern, searching where `mask` (when bound) is not 0; recording goes to `diag`
// when given.
vcCliImageRun vfRunCliImage(const vcPatternFile& p, const std::string& name,
                            const vcPelBuffer_const<unsigned char>& image,
                            const vcPelBuffer_const<unsigned char>& mask,
                            const vcXform<2>& startPose, const vcFlexAlignRunParams& params,
                            vcDiagObject* diag = nullptr, unsigned long flags = 0);
// Appends to a report one record per result (and per dropped combination when none was
// found) whose title says whether the part was found and which pieces were missed and why,
// with a text per piece.
void vfRecordCliReasons(vcDiagObject& diag, const vcCliImageRun& r);
// True when the run found at least one part (found flag set).
bool vfCliPartFound(const vcCliImageRun& r);

// Writes the image rectified through the best part's pieces into the arrangement's frame as a
// grey PNG (nothing when no part was found; pixels from outside the image are 0), and notes in
// `r` the file, its region and every part's piece displacements.
void vfWriteCliRectified(const std::string& path, const vcPelBuffer_const<unsigned char>& image,
                         vcCliImageRun& r);

// Names and texts printed with control characters escaped.
std::string vfCliTable(const vcCliImageRun& r);
nlohmann::json vfCliJson(const vcCliImageRun& r);
// The object on one line, bytes that are not UTF-8 (a file name may hold any) replaced.
std::string vfCliJsonLine(const vcCliImageRun& r);
// The image in grey with the arrangement box (yellow), the found pieces' outlines (green) and
// the place the part pose gives missing pieces (red), as a colour PNG. An image with a side
// over kVcOverlayMaxSide is shown around the parts found and reduced to fit, and says so in a
// caption.
constexpr long kVcOverlayMaxSide = 2048;
void vfWriteCliOverlay(const std::string& path, const vcPatternFile& p,
                       const vcPelBuffer_const<unsigned char>& image, const vcCliImageRun& r);
