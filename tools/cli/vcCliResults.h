// One image's run as the command reports it: a table for people (the JSON record for programs
// is tools/io/vcResultRecord.h), and an overlay picture of what was found.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/io/vcPatternFile.h"
#include "tools/io/vcResultView.h"
#include "vcFlexAlignTool.h"

// The run as the tools show it, and where each piece of each result went (which rectifying
// undoes).
struct vcCliImageRun : vcRunView {
  std::vector<vcFlexAlignDeformation> deformations;
};

// Whether a file name is one of this program's own outputs beside images (`--overlay`'s
// *-overlay.png, `--rectify`'s *-rectified.png): folder runs and the teach page's images leave
// them out, so outputs written into an input folder are not read back as images.
bool vfIsOwnOutput(const std::string& fileName);

// Runs the pattern, searching where `mask` (when bound) is not 0; recording goes to `diag`
// when given.
vcCliImageRun vfRunCliImage(const vcPatternFile& p, const std::string& name,
                            const vcPelBuffer_const<unsigned char>& image,
                            const vcPelBuffer_const<unsigned char>& mask,
                            const vcXform<2>& startPose, const vcFlexAlignRunParams& params,
                            vcDiagObject* diag = nullptr, unsigned long flags = 0);
// Appends to a report one record per result (and per dropped combination when none was
// found) whose title says whether the part was found and which pieces were missed and why,
// with a text per piece. Given the run's image, a found result's record shows it with each
// found piece's 1-sigma position ellipse, enlarged by a power of ten its legend states.
void vfRecordCliReasons(vcDiagObject& diag, const vcCliImageRun& r,
                        const vcPelBuffer_const<unsigned char>& image = {});

// Writes the image rectified through the best part's pieces into the arrangement's frame as a
// grey PNG (nothing when no part was found; pixels from outside the image are 0), and notes in
// `r` the file, its region and every part's piece displacements.
void vfWriteCliRectified(const std::string& path, const vcPelBuffer_const<unsigned char>& image,
                         vcCliImageRun& r);

// Names and texts printed with control characters escaped.
std::string vfCliTable(const vcRunView& r);
// The image in grey with the arrangement box (yellow), the found pieces' outlines (green) and
// the place the part pose gives missing pieces (red), each named with its score, as a colour
// PNG. With no part found, the closest combination the run dropped is drawn dashed and a
// caption says so. An image with a side over kVcOverlayMaxSide is shown around the parts and
// reduced to fit, and says so in a caption.
constexpr long kVcOverlayMaxSide = 2048;
void vfWriteCliOverlay(const std::string& path, const vcPatternFile& p,
                       const vcPelBuffer_const<unsigned char>& image, const vcCliImageRun& r);
