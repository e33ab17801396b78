#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"

namespace {

const vcRadian kZero(0.0);

vcXform<2> pose(double scale, double rotDeg, double tx, double ty, double aspect = 1.0) {
  return vcXform<2>(vcMatrix<2>(scale, aspect, kZero, vcRadian(vcDegree(rotDeg))), {tx, ty});
}

vcPolygon box(double x0, double y0, double x1, double y1) {
  return vcPolygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

void expectRectNear(const vcRect& got, const vcRect& want, double tol) {
  EXPECT_NEAR(got.x(), want.x(), tol);
  EXPECT_NEAR(got.y(), want.y(), tol);
  EXPECT_NEAR(got.width(), want.width(), tol);
  EXPECT_NEAR(got.height(), want.height(), tol);
}

// The polygon's vertices under `linear` (model frame) then A, in image coordinates; returns
// how far the farthest one lies outside r (0 or less when all are inside).
double worstOutside(const vcRect& r, const vcPolygon& poly, const vcXform<2>& imageFromModel) {
  double worst = -1e300;
  for (const vcVector<2>& v : poly.vertices()) {
    const vcVector<2> p = imageFromModel.mapPoint(v);
    worst = std::max({worst, r.x() - p.x(), p.x() - (r.x() + r.width()), r.y() - p.y(),
                      p.y() - (r.y() + r.height())});
  }
  return worst;
}

double uniform(std::mt19937& g, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(g);
}

const vcPolygon kPoly({{-12, -7}, {18, -9}, {22, 11}, {-3, 15}, {-15, 4}});
// Away from the model origin, so that scaling down does not keep it inside the scaled-up copy.
const vcPolygon kOffPoly({{18, 3}, {48, 1}, {52, 21}, {27, 25}, {15, 14}});

TEST(EncloseRect, FixedPoseIsTheMappedBoundingBox) {
  const vcXform<2> A = pose(1.5, 30, 100, 50), B = pose(0.5, 0, -10, 4);
  const vcRect got = vfEncloseRect(kPoly, A, B, 0, 0, vcRadian(0.3), vcRadian(0.3), 1, 1, 1, 1, 1,
                                   1, 0, vcFlexAlignDefs::eElliptical);
  // Equal angle ends turn the polygon by that angle and sweep nothing.
  expectRectNear(
      got,
      kPoly.map(B.inverse() * A * pose(1, vcDegree(vcRadian(0.3)).toDouble(), 0, 0)).boundingBox(),
      1e-9);
  // The core relative form with nothing to sweep gives the same box without the pre-rotation.
  expectRectNear(vfEncloseRect(kPoly, A, B, 0, 0, kZero, 0, 0, 0, 0, 1),
                 kPoly.map(B.inverse() * A).boundingBox(), 1e-9);
}

TEST(EncloseRect, FullTurnGivesTheCircumscribedCircle) {
  const vcXform<2> A = pose(2, 0, 40, 60);
  const vcRect got =
      vfEncloseRect(box(-5, -5, 5, 5), A, vcXform<2>(), 0, 0, vcRadian(-vcPi), vcRadian(vcPi), 1, 1,
                    1, 1, 1, 1, 0, vcFlexAlignDefs::eRectangular);
  const double r = 2 * 5 * std::sqrt(2.0);
  expectRectNear(got, vcRect(40 - r, 60 - r, 2 * r, 2 * r), 1e-9);
}

TEST(EncloseRect, UncertaintyAndMarginPadEverySide) {
  const vcXform<2> A = pose(1, 10, 5, 5);
  const vcRect bare =
      vfEncloseRect(kPoly, A, vcXform<2>(), 0, 0, kZero, kZero, 1, 1, 1, 1, 1, 1, 0, 1);
  const auto grown = [&](double dx, double dy) {
    return vcRect(bare.x() - dx, bare.y() - dy, bare.width() + 2 * dx, bare.height() + 2 * dy);
  };
  // Elliptical, equal half-axes: grows by u; a larger margin wins.
  expectRectNear(vfEncloseRect(kPoly, A, vcXform<2>(), 3, 3, kZero, kZero, 1, 1, 1, 1, 1, 1, 0, 1),
                 grown(3, 3), 1e-9);
  expectRectNear(vfEncloseRect(kPoly, A, vcXform<2>(), 3, 3, kZero, kZero, 1, 1, 1, 1, 1, 1, 5, 1),
                 grown(5, 5), 1e-9);
  // Rectangular, through an image that is twice as fine as the client frame.
  const vcXform<2> B = pose(0.5, 0, 0, 0);
  const vcRect bareB = vfEncloseRect(kPoly, A, B, 0, 0, kZero, kZero, 1, 1, 1, 1, 1, 1, 0, 2);
  const vcRect rectB = vfEncloseRect(kPoly, A, B, 3, 1, kZero, kZero, 1, 1, 1, 1, 1, 1, 0, 2);
  EXPECT_NEAR(rectB.x(), bareB.x() - 6, 1e-9);
  EXPECT_NEAR(rectB.y(), bareB.y() - 2, 1e-9);
  EXPECT_NEAR(rectB.width(), bareB.width() + 12, 1e-9);
  // An unknown mode adds only the margin.
  expectRectNear(vfEncloseRect(kPoly, A, vcXform<2>(), 3, 3, kZero, kZero, 1, 1, 1, 1, 1, 1, 1, 7),
                 grown(1, 1), 1e-9);
}

TEST(EncloseRect, DegeneratePolygons) {
  const vcXform<2> A = pose(3, 45, 20, 30);
  // A vertex at the model origin stays a point under rotation and scaling.
  const vcRect origin = vfEncloseRect(vcPolygon({{0, 0}}), A, vcXform<2>(), 0, 0, vcRadian(-1),
                                      vcRadian(1), 0.5, 2, 1, 1, 1, 1, 0, 1);
  expectRectNear(origin, vcRect(20, 30, 0, 0), 1e-12);
  // No vertices: the default rectangle padded by the margin.
  expectRectNear(
      vfEncloseRect(vcPolygon(), A, vcXform<2>(), 0, 0, kZero, vcRadian(1), 1, 1, 1, 1, 1, 1, 2, 1),
      vcRect(-2, -2, 4, 4), 1e-12);
}

// Random nominal poses and ranges; every sampled pose of the ranges must keep the polygon
// inside, and (for the exact standard sweep) the samples must reach close to every side.
TEST(EncloseRect, StandardContainsEverySampledPose) {
  std::mt19937 g(7);
  for (int trial = 0; trial < 40; ++trial) {
    const bool xyScales = trial % 2 == 1;
    // Separate x/y scale ranges are swept only at their two extremes, which is exact when the
    // nominal pose keeps the axes; the uniform-scale case takes any rotation.
    const vcXform<2> A = pose(uniform(g, 0.5, 2), xyScales ? 0 : uniform(g, -180, 180),
                              uniform(g, -50, 50), uniform(g, -50, 50));
    const vcXform<2> B = pose(uniform(g, 0.5, 2), 0, uniform(g, -5, 5), uniform(g, -5, 5));
    const double a0 = uniform(g, -0.6, 0.2), a1 = a0 + uniform(g, 0, 0.8);
    const double s0 = uniform(g, 0.7, 1), s1 = uniform(g, 1, 1.3);
    const double x0 = xyScales ? uniform(g, 0.8, 1) : 1, x1 = xyScales ? uniform(g, 1, 1.2) : 1;
    const double y0 = xyScales ? uniform(g, 0.8, 1) : 1, y1 = xyScales ? uniform(g, 1, 1.2) : 1;
    const vcRect r = vfEncloseRect(kOffPoly, A, B, 0, 0, vcRadian(a0), vcRadian(a1), s0, s1, x0, x1,
                                   y0, y1, 0, 1);
    const vcXform<2> imageFromClient = B.inverse();
    vcRect reached;
    bool first = true;
    for (int k = 0; k < 400; ++k) {
      const double a = k < 2 ? (k ? a1 : a0) : uniform(g, a0, a1);
      const double s = (k % 3 == 0) ? s1 : (k % 3 == 1) ? s0 : uniform(g, s0, s1);
      const double sx = (k % 3 == 0) ? x1 : (k % 3 == 1) ? x0 : uniform(g, x0, x1);
      const double sy = (k % 3 == 0) ? y1 : (k % 3 == 1) ? y0 : uniform(g, y0, y1);
      const vcXform<2> m = imageFromClient * A *
                           vcXform<2>(vcMatrix<2>(s * sx, 0, 0, s * sy), {0, 0}) *
                           pose(1, vcDegree(vcRadian(a)).toDouble(), 0, 0);
      ASSERT_LE(worstOutside(r, kOffPoly, m), 1e-9) << "trial " << trial << " sample " << k;
      const vcRect hull = kOffPoly.map(m).boundingBox();
      reached = first ? hull : reached.enclose(hull);
      first = false;
    }
    EXPECT_LT(r.area(), reached.area() * 1.02) << "trial " << trial;
  }
}

TEST(EncloseRect, AdvancedContainsEverySampledPoseInEitherDofOrder) {
  std::mt19937 g(11);
  for (int trial = 0; trial < 40; ++trial) {
    const vcXform<2> A =
        pose(uniform(g, 0.5, 2), uniform(g, -180, 180), uniform(g, -50, 50), uniform(g, -50, 50));
    const vcXform<2> B = pose(uniform(g, 0.5, 2), uniform(g, -20, 20), 3, -2);
    const double r0 = uniform(g, -0.5, 0.1), r1 = r0 + uniform(g, 0, 0.6);
    const double s0 = uniform(g, 0.8, 1), s1 = uniform(g, 1, 1.2);
    const double as0 = uniform(g, 0.8, 1), as1 = uniform(g, 1, 1.2);
    const double k0 = uniform(g, -0.3, 0), k1 = uniform(g, 0, 0.3);
    const vcRect r = vfEncloseRect(kOffPoly, A, B, 0, 0, vcRadian(r0), vcRadian(r1), s0, s1, as0,
                                   as1, vcRadian(k0), vcRadian(k1), 0, 1);
    const vcXform<2> imageFromClient = B.inverse();
    vcRect reached;
    for (int k = 0; k < 400; ++k) {
      const double rot = uniform(g, r0, r1), s = uniform(g, s0, s1);
      const double as = (k % 4 == 0) ? as0 : (k % 4 == 1) ? as1 : uniform(g, as0, as1);
      const double sk = (k % 4 == 2) ? k0 : (k % 4 == 3) ? k1 : uniform(g, k0, k1);
      const vcMatrix<2> R = pose(1, vcDegree(vcRadian(rot)).toDouble(), 0, 0).matrix();
      const vcMatrix<2> S(s, 0, 0, s), Asp(1, 0, 0, as), Sk(1, -std::sin(sk), 0, std::cos(sk));
      for (const vcMatrix<2>& lin : {R * S * Sk * Asp, Asp * Sk * S * R, R * Asp * Sk * S}) {
        const vcXform<2> m = imageFromClient * A * vcXform<2>(lin, {0, 0});
        ASSERT_LE(worstOutside(r, kOffPoly, m), 1e-9) << "trial " << trial << " sample " << k;
        reached = reached.area() == 0 ? kOffPoly.map(m).boundingBox()
                                      : reached.enclose(kOffPoly.map(m).boundingBox());
      }
    }
    // An order-independent bound, not an exact sweep (up to about 1.8 times the sampled hull per
    // side here); it must still stay a usable window.
    EXPECT_LT(r.area(), reached.area() * 3.5) << "trial " << trial;
  }
}

TEST(EncloseRect, RelativeFormsForwardTheirValues) {
  const vcXform<2> A = pose(1.2, 25, 10, -4), B = pose(0.8, 0, 1, 2);
  // Core: 1 +- e about the nominal pose is the standard sweep of those absolute ranges.
  expectRectNear(vfEncloseRect(kPoly, A, B, 2, 1, vcRadian(0.2), 0.1, 0.05, 0.02, 1.5, 2),
                 vfEncloseRect(kPoly, A, B, 2, 1, vcRadian(-0.2), vcRadian(0.2), 0.9, 1.1, 0.95,
                               1.05, 0.98, 1.02, 1.5, 2),
                 1e-9);
  // Relative form: its aspect value goes to both axes; its skew is ignored.
  expectRectNear(vfEncloseRect(kPoly, A, B, 2, 1, vcRadian(0.2), 0.1, 0.05, vcRadian(0.7), 1.5, 1),
                 vfEncloseRect(kPoly, A, B, 2, 1, vcRadian(0.2), 0.1, 0.05, 0.05, 1.5, 1), 1e-12);
}

TEST(EncloseRect, RelativeValidation) {
  const vcXform<2> I;
  const auto core = [&](double ux, double uy, double h, double e1, double e2, double e3, double m,
                        long mode) {
    return vfEncloseRect(kPoly, I, I, ux, uy, vcRadian(h), e1, e2, e3, m, mode);
  };
  const auto expectBad = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const vcFlexAlignDefs::BadParams& e) {
      EXPECT_EQ(e.message(false), "Uncertainty outside allowed range.");
    }
  };
  expectBad([&] { core(-1, 0, 0, 0, 0, 0, 0, 1); });
  expectBad([&] { core(0, -1, 0, 0, 0, 0, 0, 1); });
  expectBad([&] { core(0, 0, 0, 0, 0, 0, 0, 3); });
  expectBad([&] { core(0, 0, -0.1, 0, 0, 0, 0, 1); });
  expectBad([&] { core(0, 0, 0, 1.01, 0, 0, 0, 1); });
  expectBad([&] { core(0, 0, 0, 0, -1.01, 0, 0, 2); });
  expectBad([&] { core(0, 0, 0, 0, 0, 1.01, 0, 2); });
  // The bounds themselves and a negative margin pass.
  EXPECT_NO_THROW(core(0, 0, 0, 1, -1, 1, -3, 2));
  // The advanced form checks its uncertainties and its high scale/aspect ends.
  expectBad(
      [&] { vfEncloseRect(kPoly, I, I, -1, 0, kZero, kZero, 1, 1, 1, 1, kZero, kZero, 0, 1); });
  expectBad(
      [&] { vfEncloseRect(kPoly, I, I, 0, 0, kZero, kZero, 1, 2.5, 1, 1, kZero, kZero, 0, 1); });
  // The standard form validates nothing.
  EXPECT_NO_THROW(vfEncloseRect(kPoly, I, I, -1, -1, kZero, kZero, 1, 1, 1, 1, 1, 1, 0, 9));
}

}  // namespace
