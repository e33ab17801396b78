// Small scenes for the engine fuzz targets: the sample pattern under a pose taken from the
// input, with the pixels disturbed by the input's bytes.
#pragma once

#include "fuzz/fuzz_input.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcSampleImages.h"

namespace fuzz_scene {

inline vcXform<2> poseOf(FuzzInput& in, double shift) {
  const double scale = in.mostly(0.7, 1.4), angle = in.mostly(-180, 180) * vcRadPerDeg;
  return vcXform<2>(vcMatrix<2>(scale, in.mostly(0.8, 1.25), vcRadian(0.0), vcRadian(angle)),
                    {in.mostly(-shift, shift), in.mostly(-shift, shift)});
}

// The sample pattern drawn small, so the engine has edges to find, with the input's bytes
// added to the pixels.
inline vcPelBuffer<unsigned char> imageOf(FuzzInput& in, long w, long h, const vcXform<2>& pose) {
  vcSampleRender r;
  r.width = static_cast<int>(w);
  r.height = static_cast<int>(h);
  r.noiseSigma = in.in(0, 20);
  r.seed = in.byte();
  vcPelBuffer<unsigned char> img = vfRenderSample(vfSampleAsymmetricPattern(), pose, r);
  for (long y = 0; y < h && in.left(); ++y)
    for (long x = 0; x < w && in.left(); ++x)
      img.set(x, y, static_cast<unsigned char>(img.get(x, y) + in.byte()));
  return img;
}

}  // namespace fuzz_scene
