// A part at an industrial camera's resolution, for the large-image benchmark and the
// performance check: the motorcycle photograph's part (eight pieces, from a headlight of 420 x
// 480 pixels to an indicator of 240 x 216) scaled 6 times and cut to 4000 x 3000, its training
// image, and a run image of the part turned, scaled and moved as a whole with each piece moved
// and turned a little against the rest, under sensor noise. A scaled photograph has edges as
// soft as the photograph's, six times wider: a camera's image of the same scene would be
// sharper, so the figures are those of a soft, well-lit part.
//
// Needs the photographs of vcPhotoSample (vfHavePhotos()); building the scene takes a few
// seconds (scaling and rendering 12 megapixels twice).
#pragma once

#include <cstdint>

#include "platform/core/vcXform.h"
#include "tools/testing/vcPhotoSample.h"
#include "vcFlexAlignTool.h"

struct vcLargePhotoScene {
  vcPhotoPart part;  // part.trainImage: 4000 x 3000
  vcPhotoScene run;  // 4000 x 3000, with each piece's true pose
  // The nominal pose: the part where it lay in training, what a run starts from.
  vcXform<2> start;
  vcFlexAlignTrainParams trainParams;
  // Locally fixtured; the part within 60 px, 6 degrees and 5 % of the start, each piece within
  // 24 px and 4 degrees of where the pieces found before put it.
  vcFlexAlignRunParams runParams;
};

// The scene's run image is drawn with `seed`: the part turned 2.5 degrees, scaled 1.02 and moved
// (36, -24) px, each piece moved by up to 18 px and turned by up to 2 degrees, noise sigma 5.
vcLargePhotoScene vfMakeLargePhotoScene(std::uint32_t seed = 1);
