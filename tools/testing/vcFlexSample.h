// A flexible sample part for tests, benchmarks and the demo: rigid pieces on a dark ground that
// a run image shows moved, turned and scaled as a whole, each piece further displaced and
// turned a little against the nominal layout, with the true pose of every piece.
//
// The part: a body (image sub-model), a tab (synthetic wireframe sub-model), a connector
// (image sub-model with a mask that leaves out the latch edge beside it), a key shape placed
// three times (one image sub-model, three instances), a latch (synthetic) and a label place
// holder (blank sub-model). Arrangement coordinates are the training image's pixels; the
// arrangement's origin is the part's centre.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlignTool.h"
#include "vcFlexModels.h"

struct vcFlexSample {
  vcPelBuffer<unsigned char> trainImage;  // 400 x 300, the part in its nominal layout
  vcFlexArrangement arrangement;
  std::vector<std::string> instanceNames;  // per instance position
  // Per instance: the drawn shapes in arrangement coordinates (none for the blank one) and the
  // centre its displacement turns about.
  std::vector<std::vector<vcSampleShape>> instanceShapes;
  std::vector<vcVector<2>> instanceCentres;
  vcVector<2> partCentre;  // centre of the part's box, arrangement coordinates
};

struct vcFlexSampleOptions {
  int width = 640, height = 480;
  double blurSigma = 1.0;
  double noiseSigma = 5.0;
  int clutterShapes = 6;
  vcXform<2> partPose;      // the arrangement's origin frame (centred on the part) to image
                            // pixels: the pose a run reports for the part
  double maxShift = 4.0;    // px, per piece, against the nominal layout
  double maxTurnDeg = 3.0;  // per piece, about its centre
  int occludePiece = -1;    // instance position hidden under a flat block, or -1
  bool secondCopy = false;  // a second part at secondPose (its own displacements)
  vcXform<2> secondPose;
  std::uint32_t seed = 1;
};

struct vcFlexSampleImage {
  vcPelBuffer<unsigned char> image;
  // Per instance: sub-model coordinates to image pixels, as drawn; for the blank one the
  // nominal placement under the part pose.
  std::vector<vcXform<2>> truth;
  std::vector<vcXform<2>> secondTruth;  // filled with secondCopy
};

vcFlexSample vfMakeFlexSample();
// A larger part for timing: cols x rows distinct-looking pieces, each its own image sub-model.
vcFlexSample vfMakeFlexGridSample(int cols, int rows);
// Geofind training for every instance, the outline (synthetic) ones ignoring polarity.
vcFlexAlignTrainParams vfFlexSampleTrainParams(const vcFlexSample& sample);
// The sample's run settings in the tests and benchmarks: each piece within 6 px and 4 degrees
// of its prediction, accepted from `pieceAccept`; the part within 40 px, 15 degrees and 10 %.
vcFlexSubModelGfndRunParams vfFlexSamplePieceParams(double pieceAccept);
vcFlexAlignRunParams vfFlexSampleRunParams(vcFlexAlignDefs::RunStrategy strategy,
                                           double pieceAccept);
// A part pose (origin frame to image) in a 640 x 480 image: the part's centre at the image's
// centre moved by (dx, dy), turned by `angleDeg` and scaled.
vcXform<2> vfFlexSamplePose(const vcFlexSample& sample, double angleDeg, double scale,
                            double dx = 0.0, double dy = 0.0);
vcFlexSampleImage vfRenderFlexSample(const vcFlexSample& sample, const vcFlexSampleOptions& opt);
// One line per instance: name, then the image position of its centre, angle (degrees) and
// scale of its true pose.
std::string vfFlexSampleTruthText(const vcFlexSample& sample, const std::vector<vcXform<2>>& truth);
