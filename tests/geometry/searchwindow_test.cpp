#include "geometry/searchwindow.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/core/vcAngle.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"

namespace {

const vcPolygon kBox({{-10.0, -5.0}, {10.0, -5.0}, {10.0, 5.0}, {-10.0, 5.0}});

TEST(SearchWindow, ZonesTurnTableOffsetsIntoBoundsOfTheirSet) {
  const double low[4] = {-10.0, -0.1, -0.2, -0.3}, high[4] = {10.0, 0.1, 0.2, 0.3};
  const vcSearchZones s = vfSearchZones(1 | 2 | 8, false, low, high);
  EXPECT_NEAR(s.angleLow, -0.17453292519943295, 1e-15);
  EXPECT_NEAR(s.angleHigh, 0.17453292519943295, 1e-15);
  EXPECT_DOUBLE_EQ(s.scaleLow, 0.9);
  EXPECT_DOUBLE_EQ(s.scaleHigh, 1.1);
  // x scale is not enabled: the identity.
  EXPECT_EQ(s.xScaleLow, 1.0);
  EXPECT_EQ(s.xScaleHigh, 1.0);
  EXPECT_DOUBLE_EQ(s.yScaleLow, 0.7);
  EXPECT_EQ(s.skewHigh, 0.0);
  // In the advanced set bit 4 is the skew (an angle) and bit 8 the aspect.
  const vcSearchZones a = vfSearchZones(4 | 8, true, low, high);
  EXPECT_TRUE(a.advanced);
  EXPECT_NEAR(a.skewLow, -0.2 * vcRadPerDeg, 1e-15);
  EXPECT_DOUBLE_EQ(a.xScaleHigh, 1.3);
  EXPECT_EQ(a.yScaleHigh, 1.0);
  EXPECT_EQ(a.angleLow, 0.0);
}

TEST(SearchWindow, PixelWindowCoversTheRectangleOutward) {
  const vcPelRect w = vfPixelWindow(vcRect(10.2, 5.7, 9.9, 3.3));
  EXPECT_EQ(w, vcPelRect(10, 5, 11, 4));
  EXPECT_EQ(vfPixelWindow(vcRect(-2.5, -1.0, 1.0, 1.0)), vcPelRect(-3, -1, 2, 1));
}

TEST(SearchWindow, GrowthByTheMappedUncertaintyRegion) {
  const vcRect r(0.0, 0.0, 10.0, 20.0);
  EXPECT_EQ(vfGrowByUncertainty(r, vcMatrix<2>(2.0, 0.0, 0.0, 2.0), {0.0, 0.0, 1}).width(), 10.0);
  // A quarter turn swaps the axes: radii (3, 1) become a box of half-sizes (1, 3).
  const vcMatrix<2> turn(0.0, -1.0, 1.0, 0.0);
  const vcRect e = vfGrowByUncertainty(r, turn, {3.0, 1.0, 1});
  EXPECT_NEAR(e.x(), -1.0, 1e-12);
  EXPECT_NEAR(e.height(), 26.0, 1e-12);
  // At 45 degrees an ellipse's box is smaller than the rectangle's.
  const double c = std::sqrt(0.5);
  const vcMatrix<2> diag(c, -c, c, c);
  const vcRect el = vfGrowByUncertainty(r, diag, {3.0, 1.0, 1});
  const vcRect re = vfGrowByUncertainty(r, diag, {3.0, 1.0, 2});
  EXPECT_NEAR(el.width() - 10.0, 2.0 * std::sqrt(5.0), 1e-12);
  EXPECT_NEAR(re.width() - 10.0, 2.0 * 4.0 * c, 1e-12);
  // Neither shape: unchanged.
  EXPECT_EQ(vfGrowByUncertainty(r, diag, {3.0, 1.0, 7}).width(), 10.0);
}

TEST(SearchWindow, WindowIsTheSweptRectangleInPixelsClippedToTheImage) {
  const vcXform<2> at(vcMatrix<2>(1.0, 0.0, 0.0, 1.0), {50.0, 40.0});
  vcSearchZones z;
  z.angleLow = -0.3, z.angleHigh = 0.3;
  const vcSearchUncertainty u{4.0, 2.0, 1};
  vcRect swept;
  const vcPelRect w =
      vfSearchWindow(kBox, at, vcXform<2>(), z, u, 2.0, vcPelRect(0, 0, 55, 100), &swept);
  EXPECT_EQ(swept, vfSearchRect(kBox, at, vcXform<2>(), z, u, 2.0));
  // The sweep is what the enclosing rectangle of the standard set gives.
  EXPECT_EQ(swept, vfEncloseRect(kBox, at, vcXform<2>(), 4.0, 2.0, vcRadian(-0.3), vcRadian(0.3),
                                 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 2.0, 1));
  EXPECT_EQ(w, vfPixelWindow(swept).intersect(vcPelRect(0, 0, 55, 100)));
  EXPECT_EQ(w.x() + w.width(), 55);  // clipped on the right
  EXPECT_LT(w.x(), 50 - 10 - 4);     // the turn and the uncertainty reach past the box
  // The advanced set validates its uncertainty mode like the enclosing rectangle does.
  z.advanced = true;
  EXPECT_THROW(vfSearchRect(kBox, at, vcXform<2>(), z, {1.0, 1.0, 3}, 0.0),
               vcFlexAlignDefs::BadParams);
}

}  // namespace
