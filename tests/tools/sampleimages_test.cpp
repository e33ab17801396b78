#include <gtest/gtest.h>

#include "tools/testing/vcSampleImages.h"

// A pose that puts the pattern far outside the image (or blows it up beyond any pixel range)
// leaves the background alone; the bounds must not overflow on the way.
TEST(SampleImages, FarOffAndHugePosesDrawNothing) {
  vcSampleRender opt;
  opt.width = 48;
  opt.height = 32;
  for (const vcXform<2>& pose :
       {vcXform<2>(vcMatrix<2>(), vcVector<2>(1e290, -1e290)),
        vcXform<2>(vcMatrix<2>(1e6, 0, 0, 1e6), vcVector<2>(-5e12, 5e12))}) {
    const vcPelBuffer<unsigned char> img = vfRenderSample(vfSampleAsymmetricPattern(), pose, opt);
    for (long y = 0; y < img.height(); ++y)
      for (long x = 0; x < img.width(); ++x) ASSERT_EQ(img.get(x, y), 40) << x << "," << y;
  }
}
