// A flexible part of look-alike pieces for the hard cases of the FlexAlign run: cols x rows
// rectangles 60 px apart, each with a notch on its top edge and a tooth on its bottom edge at
// places of its own, so that every piece differs from its neighbours by a few pixels of edge
// and a search for one piece also finds its neighbours at slightly lower scores. Run images
// show the part at a pose, each piece further moved and turned a little, with noise, and
// optionally a hidden piece and a second copy.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"
#include "vcFlexModels.h"

namespace vcTest {

struct LookAlikePart {
  int cols = 0, rows = 0;
  vcPelBuffer<unsigned char> trainImage;
  // One image sub-model per piece, its client coordinates centred on the piece; the
  // arrangement's origin is the part's centre.
  vcFlexArrangement arrangement;
  std::vector<vcVector<2>> centres;  // arrangement (training pixel) coordinates
  vcVector<2> partCentre;
};

LookAlikePart lookAlikePart(int cols, int rows);

struct LookAlikeScene {
  vcXform<2> partPose;      // the arrangement's origin frame to image pixels
  double maxShift = 4.0;    // px per piece, against the layout
  double maxTurnDeg = 3.0;  // per piece, about its centre
  double noiseSigma = 5.0;
  int hide = -1;  // a piece left out, or -1
  bool secondCopy = false;
  vcXform<2> secondPose;
  std::uint32_t seed = 1;
  int width = 640, height = 480;
};

struct LookAlikeImage {
  vcPelBuffer<unsigned char> image;
  // Per piece: its sub-model's coordinates to image pixels, as drawn.
  std::vector<vcXform<2>> truth;
  std::vector<vcXform<2>> secondTruth;
};

LookAlikeImage renderLookAlike(const LookAlikePart& part, const LookAlikeScene& scene);

// The part's centre at the image centre moved by (dx, dy), turned by `deg` about it.
vcXform<2> lookAlikePose(const LookAlikePart& part, double deg, double dx = 0, double dy = 0,
                         int width = 640, int height = 480);

// `pose` moved by (dx, dy) and turned by `deg` about its origin: a start pose that far off.
vcXform<2> offBy(const vcXform<2>& pose, double deg, double dx, double dy);

}  // namespace vcTest
