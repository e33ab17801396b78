#include <gtest/gtest.h>

#include <cmath>

#include "vcFlexGeometry.h"

namespace {

using Interp = vcAffineSamplingParams;

// Every pixel distinct (for images up to 11 x 11 and beyond along rows).
vcPelBuffer<unsigned char> ramp(long w, long h) {
  vcPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.set(x, y, static_cast<unsigned char>((x * 11 + y * 23) % 251));
  return img;
}

vcMatrix<2> rotation(double deg) {
  return vcMatrix<2>(1.0, 1.0, vcRadian(0), vcRadian(vcDegree(deg)));
}

TEST(AffineWarp, IdentityCopiesTheWindowAndLeavesTheCallerAlone) {
  vcPelBuffer<unsigned char> img = ramp(20, 16);
  const vcPelRect win(3, 2, 10, 8);
  ASSERT_TRUE(img.window(win));
  const vcPelBuffer<unsigned char> before = vfPelCopy(img);
  for (auto mode : {Interp::eNearestNeighbor, Interp::eBilinear}) {
    const vcPelBuffer<unsigned char> out = vfAffineTransformImage(img, vcMatrix<2>(), 9, mode);
    ASSERT_EQ(out.width(), 10);
    ASSERT_EQ(out.height(), 8);
    for (long y = 0; y < 8; ++y)
      for (long x = 0; x < 10; ++x) EXPECT_EQ(out.get(x, y), img.get(x, y)) << x << "," << y;
    EXPECT_EQ(img.window(), win);
    EXPECT_TRUE(vfPelEqual(img, before));
  }
}

TEST(AffineWarp, IdentityWhenTheWorkAreaMatchesTheImageSize) {
  // The window grown by the sampling margin has the image's own size but lies elsewhere; the
  // copy into the work area must still keep pixels in place.
  vcPelBuffer<unsigned char> img = ramp(18, 16);
  ASSERT_TRUE(img.window(vcPelRect(2, 3, 10, 8)));
  const vcPelBuffer<unsigned char> out =
      vfAffineTransformImage(img, vcMatrix<2>(), 0, Interp::eNearestNeighbor);
  ASSERT_EQ(out.width(), 10);
  ASSERT_EQ(out.height(), 8);
  EXPECT_TRUE(vfPelEqual(out, img));
}

TEST(AffineWarp, AxisScalesSetTheOutputSize) {
  vcPelBuffer<unsigned char> img = ramp(12, 7);
  const vcPelBuffer<unsigned char> wide =
      vfAffineTransformImage(img, vcMatrix<2>(2, 0, 0, 1), 0, Interp::eNearestNeighbor);
  ASSERT_EQ(wide.width(), 24);
  ASSERT_EQ(wide.height(), 7);
  // Each source column appears twice.
  for (long y = 0; y < 7; ++y)
    for (long x = 0; x < 24; ++x) EXPECT_EQ(wide.get(x, y), img.get(x / 2, y));

  // Sizes round to the nearest pixel: 12 * 0.5 = 6, 7 * 1.3 = 9.1.
  const vcPelBuffer<unsigned char> odd =
      vfAffineTransformImage(img, vcMatrix<2>(0.5, 0, 0, 1.3), 0, Interp::eBilinear);
  EXPECT_EQ(odd.width(), 6);
  EXPECT_EQ(odd.height(), 9);
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
      for (long i = 0; i < h; ++i)
        EXPECT_EQ(out.get(i, j), img.get(j, h - 1 - i)) << i << "," << j << " mode " << mode;
  }
}

TEST(AffineWarp, UncoveredPixelsTakeTheFillValue) {
  vcPelBuffer<unsigned char> img(20, 20);
  vfPelSet_U8(img, 200);
  const vcPelBuffer<unsigned char> out =
      vfAffineTransformImage(img, rotation(45), 7, Interp::eBilinear);
  // The square turned by 45 degrees about (10, 10) spans 10 +- 10 sqrt(2), whole pixels outward.
  const long side = static_cast<long>(std::ceil(10 + 10 * std::sqrt(2.0))) -
                    static_cast<long>(std::floor(10 - 10 * std::sqrt(2.0)));
  ASSERT_EQ(out.width(), side);
  ASSERT_EQ(out.height(), side);
  EXPECT_EQ(out.get(0, 0), 7);
  EXPECT_EQ(out.get(side - 1, 0), 7);
  EXPECT_EQ(out.get(0, side - 1), 7);
  EXPECT_EQ(out.get(side - 1, side - 1), 7);
  EXPECT_EQ(out.get(side / 2, side / 2), 200);
  EXPECT_EQ(out.get(side / 2, 4), 200);

  EXPECT_THROW(
      vfAffineTransformImage(vcPelBuffer<unsigned char>(), rotation(0), 0, Interp::eBilinear),
      vcException);
}

}  // namespace
