#include <gtest/gtest.h>

#include <cmath>

#include "vcFlexGeometry.h"

namespace {

using Interp = vcAffineSamplingParams;

// Pixels distinct over the small sizes used here.
vcPelBuffer<unsigned char> ramp(long w, long h) {
  vcPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.set(x, y, static_cast<unsigned char>((x * 11 + y * 23) % 251));
  return img;
}

vcMatrix<2> rotation(double deg) { return vcMatrix<2>(1.0, 1.0, vcRadian(0), vcDegree(deg)); }

TEST(AffineWarp, IdentityCopiesTheWindowAndLeavesTheCallerAlone) {
  // The second image has the size of the window plus the sampling margin but lies elsewhere,
  // so a copy into the work area that ignored positions would shift the pixels.
  for (long rootW : {20, 18}) {
    vcPelBuffer<unsigned char> img = ramp(rootW, 16);
    const vcPelRect win(3 - (20 - rootW), 2, 10, 8);
    ASSERT_TRUE(img.window(win));
    const vcPelBuffer<unsigned char> before = vfPelCopy(img);
    for (auto mode : {Interp::eNearestNeighbor, Interp::eBilinear}) {
      const vcPelBuffer<unsigned char> out = vfAffineTransformImage(img, vcMatrix<2>(), 9, mode);
      EXPECT_TRUE(vfPelEqual(out, before)) << rootW << " " << mode;
      EXPECT_EQ(img.window(), win);
      EXPECT_TRUE(vfPelEqual(img, before));
    }
  }
}

TEST(AffineWarp, AxisScalesSetTheOutputSize) {
  vcPelBuffer<unsigned char> img = ramp(12, 7);
  const vcPelBuffer<unsigned char> wide =
      vfAffineTransformImage(img, vcMatrix<2>(2, 0, 0, 1), 0, Interp::eNearestNeighbor);
  ASSERT_EQ(wide.width(), 24);
  ASSERT_EQ(wide.height(), 7);
  for (long y = 0; y < 7; ++y)
    for (long x = 0; x < 24; ++x) EXPECT_EQ(wide.get(x, y), img.get(x / 2, y));
  // Sizes round to the nearest pixel: 12 * 0.5 = 6, 7 * 1.3 = 9.1.
  const vcPelBuffer<unsigned char> odd =
      vfAffineTransformImage(img, vcMatrix<2>(0.5, 0, 0, 1.3), 0, Interp::eBilinear);
  EXPECT_EQ(odd.window().size(), (vcPair<long>{6, 9}));
}

TEST(AffineWarp, QuarterTurnMovesPixelsExactly) {
  // Turning x onto y (y pointing down) carries the source's right column onto the bottom row.
  const long w = 6, h = 4;
  vcPelBuffer<unsigned char> img = ramp(w, h);
  for (auto mode : {Interp::eNearestNeighbor, Interp::eBilinear}) {
    const vcPelBuffer<unsigned char> out = vfAffineTransformImage(img, rotation(90), 0, mode);
    ASSERT_EQ(out.width(), h);
    ASSERT_EQ(out.height(), w);
    for (long j = 0; j < w; ++j)
      for (long i = 0; i < h; ++i) EXPECT_EQ(out.get(i, j), img.get(j, h - 1 - i)) << i << "," << j;
  }
}

TEST(AffineWarp, UncoveredPixelsTakeTheFillValue) {
  vcPelBuffer<unsigned char> img(20, 20);
  vfPelSet_U8(img, 200);
  const vcPelBuffer<unsigned char> out =
      vfAffineTransformImage(img, rotation(45), 7, Interp::eBilinear);
  // The square turned about (10, 10) spans 10 +- 10 sqrt(2), rounded outward to whole pixels.
  const long s =
      static_cast<long>(std::ceil(10 + 10 * std::sqrt(2.0)) - std::floor(10 - 10 * std::sqrt(2.0)));
  ASSERT_EQ(out.window().size(), (vcPair<long>{s, s}));
  for (long c : {0L, s - 1}) {
    EXPECT_EQ(out.get(c, 0), 7);
    EXPECT_EQ(out.get(c, s - 1), 7);
  }
  EXPECT_EQ(out.get(s / 2, s / 2), 200);
  EXPECT_EQ(out.get(s / 2, 4), 200);
}

}  // namespace
