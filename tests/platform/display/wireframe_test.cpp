#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcArchive.h"
#include "platform/display/vc2Wireframe.h"
#include "support/archive_check.h"

namespace {

const vcDimTol kNoTol(-1, -1, -1, vcDimTol::eNone);

// Unit-free test shape: a 10 x 4 box whose top side (from (10,0) to (0,0)) is replaced by a
// half circle bulging to y < 0 (sweep -pi from (10,0) travels through (5,-5)).
vc2Wireframe dome() {
  vc2Wireframe w;
  w.insertVertex({0, 0}, 0.5, vcRadian(0), kNoTol);
  w.insertVertex({0, 4}, 0.5, vcRadian(0), vcDimTol(4, 0.1, 0.2, vcDimTol::eAbsolute));
  w.insertVertex({10, 4}, 0.25, vcRadian(0), vcDimTol(10, 0.05, 0.05, vcDimTol::eRelative));
  w.insertVertex({10, 0}, -1, vcRadian(0), vcDimTol(4, 1, 1, vcDimTol::eAbsolute));
  w.close(vcRadian(-vcPi), vcDimTol(0, 0.5, 0.5, vcDimTol::eAbsolute));
  return w;
}

TEST(Wireframe, SegmentsArcsAndBoundingBox) {
  const vc2Wireframe w = dome();
  ASSERT_EQ(w.numVertices(), 4);
  ASSERT_EQ(w.numSegments(), 4);
  EXPECT_TRUE(w.closed());
  const vcGenPoly& p = w.poly();
  EXPECT_FALSE(p.isArc(1));
  EXPECT_TRUE(p.isArc(3));
  // Closing arc from (10,0) to (0,0), clockwise in (x, y): centre (5,0), radius 5, passing
  // through (5,-5).
  EXPECT_NEAR(p.arcCenter(3).x(), 5, 1e-12);
  EXPECT_NEAR(p.arcCenter(3).y(), 0, 1e-12);
  EXPECT_NEAR(p.arcRadius(3), 5, 1e-12);
  EXPECT_NEAR(p.pointAt(3, 0.5).x(), 5, 1e-9);
  EXPECT_NEAR(p.pointAt(3, 0.5).y(), -5, 1e-9);
  EXPECT_NEAR(p.segmentLength(3), 5 * vcPi, 1e-9);
  EXPECT_NEAR(p.length(), 4 + 10 + 4 + 5 * vcPi, 1e-9);
  // Tangent at the arc's start points down (towards y < 0), at its middle towards -x.
  EXPECT_NEAR(p.tangentAt(3, 0).y(), -1, 1e-9);
  EXPECT_NEAR(p.tangentAt(3, 0.5).x(), -1, 1e-9);
  const vcRect box = w.boundingBox();
  EXPECT_NEAR(box.x(), 0, 1e-9);
  EXPECT_NEAR(box.y(), -5, 1e-9);
  EXPECT_NEAR(box.width(), 10, 1e-9);
  EXPECT_NEAR(box.height(), 9, 1e-9);

  // Length tolerances report the actual length as nominal, with the band as given.
  const vcDimTol t1 = w.segmentLengthTol(1);
  EXPECT_NEAR(t1.nominal(), 10, 1e-12);
  EXPECT_EQ(t1.type(), vcDimTol::eRelative);
  EXPECT_NEAR(t1.low(), 9.5, 1e-12);
  EXPECT_NEAR(t1.high(), 10.5, 1e-12);
  EXPECT_NEAR(w.segmentLengthTol(3).nominal(), 5 * vcPi, 1e-9);
  EXPECT_DOUBLE_EQ(w.vertexTol(2), 0.25);

  // An arc of less than a half turn does not reach the axis extremes of its circle.
  vcGenPoly shallow;
  shallow.addVertex({0, 0});
  shallow.addVertex({10, 0}, vcRadian(vcPi / 2));
  const vcRect sb = shallow.encloseRect();
  EXPECT_NEAR(sb.y() + sb.height(), 0, 1e-9);
  EXPECT_NEAR(sb.y(), -(5 * std::sqrt(2.0) - 5), 1e-9);
}

TEST(Wireframe, MapSimilarityMirrorAndShear) {
  const vc2Wireframe w = dome();
  // Rotation by 30 degrees, scale 2, shift: vertices map, sweeps stay, tolerances double.
  const vcXform<2> sim(vcMatrix<2>(2.0, 1.0, vcRadian(0), vcRadian(vcPi / 6)), {3, -7});
  const vc2Wireframe m = w.map(sim);
  for (long i = 0; i < 4; ++i) {
    EXPECT_NEAR(m.vertex(i).distance(sim.mapPoint(w.vertex(i))), 0, 1e-12);
    EXPECT_NEAR(m.poly().sweep(i).toDouble(), w.poly().sweep(i).toDouble(), 1e-9);
    EXPECT_NEAR(m.poly().segmentLength(i), 2 * w.poly().segmentLength(i), 1e-9);
  }
  EXPECT_DOUBLE_EQ(m.vertexTol(0), 1.0);
  EXPECT_DOUBLE_EQ(m.vertexTol(3), -1.0);  // "not given" stays so
  EXPECT_NEAR(m.segmentLengthTol(0).above(), 0.4, 1e-12);
  EXPECT_NEAR(m.segmentLengthTol(1).above(), 0.05, 1e-12);  // relative band unchanged
  // The mapped box is tight: it holds every mapped point of the outline and is reached by them.
  const vcRect mb = m.boundingBox();
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  for (long i = 0; i < 4; ++i)
    for (int k = 0; k <= 4000; ++k) {
      const vcVector<2> q = sim.mapPoint(w.poly().pointAt(i, k / 4000.0));
      x0 = std::min(x0, q.x()), x1 = std::max(x1, q.x());
      y0 = std::min(y0, q.y()), y1 = std::max(y1, q.y());
    }
  EXPECT_NEAR(mb.x(), x0, 1e-4);
  EXPECT_NEAR(mb.y(), y0, 1e-4);
  EXPECT_NEAR(mb.x() + mb.width(), x1, 1e-4);
  EXPECT_NEAR(mb.y() + mb.height(), y1, 1e-4);
  EXPECT_LE(mb.x(), x0 + 1e-12);
  EXPECT_GE(mb.y() + mb.height(), y1 - 1e-12);

  // A mirror turns the arc the other way round.
  const vc2Wireframe mir = w.map(vcXform<2>(vcMatrix<2>(1, 0, 0, -1), {0, 0}));
  EXPECT_NEAR(mir.poly().sweep(3).toDouble(), vcPi, 1e-9);
  EXPECT_NEAR(mir.poly().pointAt(3, 0.5).y(), 5, 1e-9);

  // Under shear the arc passes through the mapped end points and the mapped middle point.
  const vcXform<2> shear(vcMatrix<2>(1, 0.4, 0.1, 1.3), {1, 2});
  const vc2Wireframe sh = w.map(shear);
  const vcVector<2> c = sh.poly().arcCenter(3);
  const double r = sh.poly().arcRadius(3);
  EXPECT_NEAR((shear.mapPoint({5, -5}) - c).len(), r, 1e-9);
  EXPECT_NEAR((sh.vertex(0) - c).len(), r, 1e-9);

  // The general-transform form agrees with the affine one for a linear transform.
  const vc2XformLinear lin(shear.matrix(), shear.trans());
  const vc2Wireframe viaBase = w.map(static_cast<const vc2XformBase&>(lin));
  for (long i = 0; i < 4; ++i) {
    EXPECT_NEAR(viaBase.vertex(i).distance(sh.vertex(i)), 0, 1e-12);
    EXPECT_NEAR(viaBase.poly().sweep(i).toDouble(), sh.poly().sweep(i).toDouble(), 1e-12);
    EXPECT_NEAR(viaBase.segmentLengthTol(i).below(), sh.segmentLengthTol(i).below(), 1e-12);
  }
}

TEST(Wireframe, PolylineFollowsArcsWithinDeviation) {
  const vc2Wireframe w = dome();
  const double dev = 0.01;
  const vcPolyline pl = w.poly().toPolyline(dev);
  EXPECT_TRUE(pl.closed());
  ASSERT_GT(pl.numVertices(), 10);
  // Vertices 0..3 are the corners; every further one lies on the arc, and every chord's
  // middle stays within the deviation of the circle.
  for (long i = 0; i < 4; ++i) EXPECT_EQ(pl.vertex(i), w.vertex(i));
  const vcVector<2> c(5, 0);
  for (long i = 4; i < pl.numVertices(); ++i) {
    EXPECT_NEAR((pl.vertex(i) - c).len(), 5, 1e-9);
    const vcVector<2> next = pl.vertex((i + 1) % pl.numVertices());
    const double mid = (((pl.vertex(i) + next) * 0.5) - c).len();
    EXPECT_LE(5 - mid, dev + 1e-12);
  }
  EXPECT_THROW(w.poly().toPolyline(0), vcBadParams);
}

TEST(Wireframe, BadInputsChangeNothing) {
  vc2Wireframe w;
  EXPECT_THROW(w.close(vcRadian(0), kNoTol), vcBadParams);  // no vertices
  w.insertVertex({1, 1}, -1, vcRadian(0), kNoTol);
  EXPECT_THROW(w.close(vcRadian(0), kNoTol), vcBadParams);  // one vertex
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(w.insertVertex({nan, 0}, -1, vcRadian(0), kNoTol), vcBadParams);
  EXPECT_THROW(w.insertVertex({2, 2}, -1, vcRadian(2 * vcPi), kNoTol), vcBadParams);
  EXPECT_EQ(w.numVertices(), 1);
  EXPECT_EQ(w.numSegments(), 0);
  w.insertVertex({2, 2}, -1, vcRadian(1), kNoTol);
  w.close(vcRadian(1), kNoTol);
  const vc2Wireframe before = w;
  EXPECT_THROW(w.insertVertex({3, 3}, -1, vcRadian(0), kNoTol), vcBadParams);
  EXPECT_THROW(w.close(vcRadian(0), kNoTol), vcBadParams);
  EXPECT_EQ(w, before);
  EXPECT_THROW(w.vertex(2), vcBadParams);
  EXPECT_THROW(w.vertexTol(-1), vcBadParams);
  EXPECT_THROW(w.segmentLengthTol(2), vcBadParams);
  EXPECT_THROW(w.poly().arcCenter(5), vcBadParams);
  vcGenPoly straight({{0, 0}, {1, 0}});
  EXPECT_THROW(straight.arcRadius(0), vcBadParams);
}

TEST(Wireframe, EqualityAndArchive) {
  const vc2Wireframe a = dome();
  vc2Wireframe b = dome();
  EXPECT_EQ(a, b);
  vc2Wireframe c;
  c.insertVertex({0, 0}, 0.5, vcRadian(0), kNoTol);
  c.insertVertex({0, 4}, 0.5, vcRadian(0), vcDimTol(4, 0.1, 0.3, vcDimTol::eAbsolute));
  vc2Wireframe d;
  d.insertVertex({0, 0}, 0.5, vcRadian(0), kNoTol);
  d.insertVertex({0, 4}, 0.5, vcRadian(0), vcDimTol(4, 0.1, 0.2, vcDimTol::eAbsolute));
  EXPECT_FALSE(c == d);  // only a tolerance differs
  d.close(vcRadian(0), kNoTol);
  EXPECT_FALSE(c == d);  // only the closing differs

  // Round trip, as a value and through a polymorphic pointer.
  vc2Wireframe src = dome();
  const vcTest::Bytes bytes = vcTest::storeBytes(src);
  vc2Wireframe back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  EXPECT_EQ(back, a);
  vc2Wireframe open;
  open.insertVertex({1, 2}, 3, vcRadian(0), kNoTol);
  vc2Wireframe openBack = dome();
  EXPECT_EQ(vcTest::loadBytes(vcTest::storeBytes(open), openBack), 0u);
  EXPECT_EQ(openBack, open);
  {
    vcArchive out;
    vcPersistent* p = &src;
    serializePointer(out, nullptr, p);
    vcArchive in(out.bytes());
    vc2Wireframe* q = nullptr;
    serializePointer(in, nullptr, q);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(*q, a);
    delete q;
  }

  // Damaged data either loads some wireframe or throws an archive error leaving the target.
  vcTest::forEachDamagedCopy(bytes, 400, 7u, [&](const vcTest::Bytes& bad) {
    vc2Wireframe t = open;
    try {
      vcTest::loadBytes(bad, t);
    } catch (const vcArchive::Errors&) {
      EXPECT_EQ(t, open);
    }
  });
  vcTest::Bytes wrongVersion = bytes;
  wrongVersion[0] = 1;
  vc2Wireframe t;
  EXPECT_THROW(vcTest::loadBytes(wrongVersion, t), vcArchive::UnknownVersion);
}

}  // namespace
