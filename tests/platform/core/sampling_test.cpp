#include <gtest/gtest.h>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcAffineSampling.h"

namespace {

using V = vcVector<2>;

vcPelBufferU8 ramp(long w, long h) {
  vcPelBufferU8 img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.set(x, y, static_cast<unsigned char>(3 * x + 7 * y));
  return img;
}

TEST(AffineSampling, IdentityAndIntegerShiftCopyPixels) {
  const vcPelBufferU8 src = ramp(20, 10);
  for (auto interp :
       {vcAffineSamplingParams::eNearestNeighbor, vcAffineSamplingParams::eBilinear}) {
    SCOPED_TRACE(interp);
    const vcAffineRectangle whole(V(10, 5), 20, 10, vcRadian(0), vcRadian(0));
    const vcPelBufferU8 same =
        vfAffineTransformImage(src, vcAffineSamplingParams(whole, 20, 10, interp));
    EXPECT_TRUE(vfPelEqual(same, src));
    // A 5 x 4 region starting at pixel (3, 2).
    const vcAffineRectangle part(V(5.5, 4), 5, 4, vcRadian(0), vcRadian(0));
    const vcPelBufferU8 cut =
        vfAffineTransformImage(src, vcAffineSamplingParams(part, 5, 4, interp));
    for (long y = 0; y < 4; ++y)
      for (long x = 0; x < 5; ++x) EXPECT_EQ(cut.get(x, y), src.get(x + 3, y + 2));
  }
}

TEST(AffineSampling, BilinearIsExactOnARampAndFillsOutside) {
  const vcPelBufferU8 src = ramp(20, 10);
  // Half-pixel offset: every sample lies midway between four pixel centres.
  const vcAffineRectangle r(V(10, 5), 10, 4, vcRadian(0), vcRadian(0));
  const vcPelBufferU8 out = vfAffineTransformImage(
      src, vcAffineSamplingParams(r, 10, 4, vcAffineSamplingParams::eBilinear));
  // Output pixel (i, j) sits at source point (5.5 + i, 3.5 + j): ramp value 3 (5 + i) + 7 (3 + j).
  for (long j = 0; j < 4; ++j)
    for (long i = 0; i < 10; ++i) EXPECT_EQ(out.get(i, j), 3 * (5 + i) + 7 * (3 + j));
  // Points beyond the image take the outside value.
  const vcAffineRectangle off(V(30, 5), 4, 4, vcRadian(0), vcRadian(0));
  const vcPelBufferU8 o = vfAffineTransformImage(
      src, vcAffineSamplingParams(off, 4, 4, vcAffineSamplingParams::eNearestNeighbor, 99));
  EXPECT_EQ(o.get(0, 0), 99);
  EXPECT_EQ(o.get(3, 3), 99);
}

TEST(AffineSampling, RotationClientTransformAndWindows) {
  vcPelBufferU8 src = ramp(16, 16);
  // Quarter turn about the image centre: the x side runs down the source from its upper-right
  // corner, so output (i, j) reads source (15 - j, i).
  const vcAffineRectangle r(V(8, 8), 16, 16, vcRadian(vcPi / 2), vcRadian(0));
  const vcPelBufferU8 out = vfAffineTransformImage(
      src, vcAffineSamplingParams(r, 16, 16, vcAffineSamplingParams::eNearestNeighbor));
  for (long j = 0; j < 16; ++j)
    for (long i = 0; i < 16; ++i) ASSERT_EQ(out.get(i, j), src.get(15 - j, i)) << i << "," << j;
  // The result's client transform leads back to the region.
  const V c = out.clientFromImageXform().mapPoint(V(0, 0));
  EXPECT_NEAR(c.x(), r.ul().x(), 1e-12);
  EXPECT_NEAR(c.y(), r.ul().y(), 1e-12);
  // A windowed source samples in root coordinates; a client transform is honoured.
  vcPelBufferU8 win = src;
  ASSERT_TRUE(win.window(vcPelRect(4, 4, 8, 8)));
  win.clientFromImageXform(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), V(0, 0)));
  const vcAffineRectangle pix(V(2 * 6.5, 2 * 5.5), 2, 2, vcRadian(0), vcRadian(0));
  const vcPelBufferU8 one = vfAffineTransformImage(
      win, vcAffineSamplingParams(pix, 1, 1, vcAffineSamplingParams::eNearestNeighbor));
  EXPECT_EQ(one.get(0, 0), src.get(6, 5));
  vcPtrHandle_const<vc2XformBase> base = win.clientFromImageXformBase();
  EXPECT_EQ(base->mapPoint(V(3, 4)), V(6, 8));
  EXPECT_THROW(vfAffineTransformImage(vcPelBufferU8(), vcAffineSamplingParams(pix, 1, 1)),
               vcBadParams);
  EXPECT_THROW(vcAffineSamplingParams(pix, -1, 1), vcBadParams);
}

TEST(PelBuffer, RectangleRootsAndOverlapCopy) {
  // A work buffer over (-4, -4, 12, 12) receives a 4 x 4 image where they overlap.
  const vcPelBufferU8 src = ramp(4, 4);
  vcPelBufferU8 work(vcPelRect(-4, -4, 12, 12), 32);
  EXPECT_EQ(work.entire(), vcPelRect(-4, -4, 12, 12));
  vfPelSet_U8(work, 200);
  vfPelCopy(src, work);
  EXPECT_EQ(work.get(4, 4), src.get(0, 0));  // root (0, 0)
  EXPECT_EQ(work.get(7, 7), src.get(3, 3));  // root (3, 3)
  EXPECT_EQ(work.get(3, 4), 200);            // root (-1, 0) untouched
  EXPECT_EQ(work.get(8, 8), 200);
  vcPelBufferU8 w2 = work;
  ASSERT_TRUE(w2.window(vcPelRect(-1, -1, 2, 2)));
  EXPECT_EQ(w2.get(1, 1), src.get(0, 0));
  EXPECT_FALSE(w2.window(vcPelRect(-5, 0, 2, 2)));
  EXPECT_TRUE(w2.sharesPixelsWith(work));
}

}  // namespace
