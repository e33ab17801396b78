#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/core/vcArchive.h"
#include "platform/core/vcShapes.h"

namespace {

using V = vcVector<2>;

void expectRectNear(const vcRect& a, const vcRect& b, double tol) {
  EXPECT_NEAR(a.x(), b.x(), tol);
  EXPECT_NEAR(a.y(), b.y(), tol);
  EXPECT_NEAR(a.width(), b.width(), tol);
  EXPECT_NEAR(a.height(), b.height(), tol);
}

// Bounding box of many points along the curve, as an independent reference.
template <class F>
vcRect sampledBox(F point, double t0, double t1) {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (int i = 0; i <= 20000; ++i) {
    const V p = point(t0 + (t1 - t0) * i / 20000.0);
    x0 = std::min(x0, p.x()), y0 = std::min(y0, p.y());
    x1 = std::max(x1, p.x()), y1 = std::max(y1, p.y());
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

TEST(Rect, EncloseIntersectAndMap) {
  const vcRect a(0, 0, 10, 5), b(8, -2, 4, 4);
  EXPECT_EQ(a.enclose(b), vcRect(0, -2, 12, 7));
  EXPECT_EQ(a & b, vcRect(8, 0, 2, 2));
  EXPECT_EQ(a & vcRect(20, 20, 1, 1), vcRect());
  EXPECT_EQ(vcRect(5, 5, -2, -3), vcRect(3, 2, 2, 3));  // negative sizes normalised
  EXPECT_EQ(a.enclose(V(-1, 9)), vcRect(-1, 0, 11, 9));
  // Rotating a 10 x 5 rectangle by 90 degrees about the origin.
  const vcXform<2> rot(vcMatrix<2>(1.0, 1.0, vcRadian(0), vcRadian(vcPi / 2)), V(100, 0));
  const vcGenRect g = a.map(rot);
  EXPECT_NEAR(g.ur().x(), 100, 1e-12);
  EXPECT_NEAR(g.ur().y(), 10, 1e-12);
  expectRectNear(g.encloseRect(), vcRect(95, 0, 5, 10), 1e-12);
}

TEST(AffineRectangle, ConstructionLengthsAndPixelCover) {
  const vcAffineRectangle r(V(50, 40), 20, 10, vcRadian(0.4), vcRadian(0.2));
  EXPECT_NEAR(r.center().x(), 50, 1e-12);
  EXPECT_NEAR(r.xLength(), 20, 1e-12);
  EXPECT_NEAR(r.yLength(), 10, 1e-12);
  EXPECT_NEAR((r.ur() - r.ul()).angle().toDouble(), 0.4, 1e-12);
  // y side at xRot + skew + 90 degrees.
  EXPECT_NEAR((r.ll() - r.ul()).angle().toDouble(), 0.4 + 0.2 + vcPi / 2, 1e-12);
  vcAffineRectangle s = r;
  s.xLength(30);
  EXPECT_NEAR(s.xLength(), 30, 1e-12);
  EXPECT_NEAR(s.yLength(), 10, 1e-12);
  EXPECT_NEAR(s.center().y(), 40, 1e-12);
  // An axis-aligned integer rectangle covers exactly its pixels; a half-pixel shift one more.
  const vcAffineRectangle a(V(5, 3), 10, 6, vcRadian(0), vcRadian(0));
  EXPECT_EQ(a.encloseImageRect(vcXform<2>()), vcPelRect(0, 0, 10, 6));
  const vcXform<2> half(vcMatrix<2>(), V(0.5, -0.5));
  EXPECT_EQ(a.encloseImageRect(half), vcPelRect(0, -1, 11, 7));
  EXPECT_EQ(vcPelRect(2, 3, 4, 5).trim(-4, -4, -4, -4, false), vcPelRect(-2, -1, 12, 13));
  EXPECT_EQ(vcPelRect(2, 3, 4, 5).trim(3, 0, 3, 0, false), vcPelRect());
}

TEST(EllipseArc, EnclosingRectanglesMatchDenseSampling) {
  const vcCircle c(V(3, -2), 5);
  expectRectNear(c.encloseRect(), vcRect(-2, -7, 10, 10), 1e-12);
  const vcEllipse e(V(1, 2), 6, 2, vcRadian(0.5));
  expectRectNear(e.encloseRect(),
                 sampledBox([&](double t) { return e.point(vcRadian(t)); }, 0, 2 * vcPi), 1e-6);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> ang(-7, 7);
  for (int k = 0; k < 50; ++k) {
    const double s = ang(rng), span = ang(rng);
    const vcEllipseArc arc(k % 2 ? vcEllipse(c) : e, vcRadian(s), vcRadian(span));
    SCOPED_TRACE(k);
    const vcRect ref =
        std::fabs(span) >= 2 * vcPi
            ? arc.ellipse().encloseRect()
            : sampledBox([&](double t) { return arc.ellipse().point(vcRadian(t)); }, s, s + span);
    expectRectNear(arc.encloseRect(), ref, 1e-5);
  }
  // Mapping then enclosing equals enclosing the mapped curve.
  const vcXform<2> shear(vcMatrix<2>(1, 0.7, 0.2, 1.5), V(10, 10));
  const vcEllipseArc arc(c, vcRadian(0.3), vcRadian(2.0));
  const vcEllipseArc m = arc.map(shear);
  expectRectNear(
      m.encloseRect(),
      sampledBox(
          [&](double t) { return shear.mapPoint(c.center() + V(std::cos(t), std::sin(t)) * 5); },
          0.3, 2.3),
      1e-5);
}

TEST(Polygon, AreaBoxMapAndAccess) {
  vcPolygon p;
  EXPECT_EQ(p.boundingBox(), vcRect());
  p.addVertex(V(0, 0));
  p.addVertex(V(4, 0));
  p.addVertex(V(4, 3));
  EXPECT_DOUBLE_EQ(p.area(), 6.0);
  EXPECT_DOUBLE_EQ(p.signedArea(), 6.0);
  EXPECT_EQ(p.boundingBox(), vcRect(0, 0, 4, 3));
  EXPECT_THROW(p.vertex(3), vcBadParams);
  EXPECT_THROW(p.vertex(-1), vcBadParams);
  const vcPolygon q = p.map(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), V(1, 1)));
  EXPECT_DOUBLE_EQ(q.area(), 24.0);
  EXPECT_EQ(q.vertex(2), V(9, 7));
  vcPolyline open(p.vertices());
  EXPECT_DOUBLE_EQ(open.area(), 0.0);
  EXPECT_DOUBLE_EQ(open.length(), 7.0);
  open.closed(true);
  EXPECT_DOUBLE_EQ(open.area(), 6.0);
  EXPECT_DOUBLE_EQ(open.length(), 12.0);
}

TEST(Polygon, ClipAgainstRectangle) {
  const vcPolygon square({V(0, 0), V(10, 0), V(10, 10), V(0, 10)});
  EXPECT_DOUBLE_EQ(vfClipPolygon(square, vcRect(5, 5, 10, 10)).area(), 25.0);
  EXPECT_DOUBLE_EQ(vfClipPolygon(square, vcRect(-5, -5, 30, 30)).area(), 100.0);
  EXPECT_EQ(vfClipPolygon(square, vcRect(20, 20, 5, 5)).numVertices(), 0);
  // The diamond |x| + |y| <= 4 cut to |y| <= 1: two trapezoids of height 1, sides 8 and 6.
  const vcPolygon diamond({V(4, 0), V(0, 4), V(-4, 0), V(0, -4)});
  const vcPolygon band = vfClipPolygon(diamond, vcRect(-10, -1, 20, 2));
  EXPECT_NEAR(band.area(), 14.0, 1e-12);
  for (const V& v : band.vertices()) EXPECT_LE(std::fabs(v.y()), 1.0);
}

TEST(ShapesArchive, RoundTrip) {
  vcRect r(1, 2, 3, 4);
  vcAffineRectangle a(V(5, 6), 7, 8, vcRadian(0.1), vcRadian(0.2));
  vcPolygon p({V(1, 1), V(2, 3), V(-1, 5)});
  vcPelRect pr(-3, 4, 5, 6);
  vcArchive out;
  out || r || a || p || pr;
  vcArchive in(out.bytes());
  vcRect r2;
  vcAffineRectangle a2;
  vcPolygon p2;
  vcPelRect pr2;
  in || r2 || a2 || p2 || pr2;
  EXPECT_EQ(r2, r);
  EXPECT_EQ(a2, a);
  EXPECT_EQ(p2, p);
  EXPECT_EQ(pr2, pr);
}

}  // namespace
