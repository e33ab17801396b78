#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "engines/geofind/vcGFAlign.h"

namespace {

// A bright w x h box centred at (cx, cy) on a dark 200 x 200 image, each pixel shaded by the
// share of it the box covers, plus Gaussian noise.
vcPelBuffer<unsigned char> box(double cx, double cy, double w, double h, double noise,
                               unsigned seed) {
  vcPelBuffer<unsigned char> img(200, 200);
  std::mt19937 rng(seed);
  std::normal_distribution<double> N(0.0, noise);
  auto cover = [](double a0, double a1, double p) {
    return std::clamp(std::min(a1, p + 1.0) - std::max(a0, p), 0.0, 1.0);
  };
  for (long y = 0; y < 200; ++y)
    for (long x = 0; x < 200; ++x) {
      const double c =
          cover(cx - w / 2, cx + w / 2, double(x)) * cover(cy - h / 2, cy + h / 2, double(y));
      img.set(x, y, static_cast<unsigned char>(std::clamp(40.0 + 160.0 * c + N(rng), 0.0, 255.0)));
    }
  return img;
}

vcGFAlignResult findBox(double w, double h, double dx, double dy) {
  vcGFAlignPattern pat;
  pat.train(box(100, 100, w, h, 0.0, 1), 2, nullptr, 0);
  vcGFAlignRunParams rp;
  vcGFAlignResultSet rs;
  pat.run(box(100 + dx, 100 + dy, w, h, 4.0, 2), rp, rs, nullptr, 0);
  EXPECT_GE(rs.numFound(), 1);
  return rs.numFound() ? rs[0] : vcGFAlignResult();
}

// A square fixes its position in every direction; a long thin bar only across its length, and
// its ellipse points along it.
TEST(GeofindUncertainty, SquareIsFixedBarIsWeakAlongItsLength) {
  const vcGFAlignResult sq = findBox(60, 60, 3.3, -2.6);
  EXPECT_FALSE(sq.positionWeak());
  EXPECT_FALSE(sq.ambiguous());
  EXPECT_GT(sq.weakSigma(), 0.0);
  EXPECT_LT(sq.weakSigma(), 0.1);
  const vcMatrix<2>& C = sq.positionCovariance();
  EXPECT_NEAR(C(0, 0), C(1, 1), 0.5 * std::max(C(0, 0), C(1, 1)));

  const vcGFAlignResult bar = findBox(140, 6, 3.3, -2.6);
  EXPECT_TRUE(bar.positionWeak());
  EXPECT_GT(std::fabs(bar.weakDirection().x()), 0.95);  // along the bar's length (x)
  const vcMatrix<2>& B = bar.positionCovariance();
  EXPECT_GT(B(0, 0), 4.0 * B(1, 1));
  EXPECT_GT(bar.weakSigma(), 2.0 * std::sqrt(B(1, 1)));
}

}  // namespace
