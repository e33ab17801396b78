#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "platform/core/vcLSFitter.h"
#include "platform/core/vcLinSolve.h"

namespace {

using V = vcVector<2>;

std::vector<V> cloud(int n, unsigned seed, double centre) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-50, 50);
  std::vector<V> pts;
  for (int i = 0; i < n; ++i) pts.emplace_back(centre + u(rng), centre + u(rng));
  return pts;
}

std::vector<V> mapAll(const vcXform<2>& x, const std::vector<V>& pts) {
  std::vector<V> r;
  for (const V& p : pts) r.push_back(x.mapPoint(p));
  return r;
}

void expectXformNear(const vcXform<2>& a, const vcXform<2>& b, double tol) {
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(a.matrix()(r, c), b.matrix()(r, c), tol);
  EXPECT_NEAR(a.trans().x(), b.trans().x(), tol * 100);
  EXPECT_NEAR(a.trans().y(), b.trans().y(), tol * 100);
}

TEST(LSFitter, ExactPointsRecoverEachFamily) {
  const vcXform<2> translation(vcMatrix<2>(), V(7, -3));
  const vcXform<2> rigid(vcMatrix<2>(1.0, 1.0, vcRadian(0), vcRadian(0.6)), V(-20, 5));
  const vcXform<2> similarity(vcMatrix<2>(1.7, 1.0, vcRadian(0), vcRadian(-2.5)), V(3, 300));
  const vcXform<2> affine(vcMatrix<2>(1.2, -0.3, 0.4, 0.8), V(11, 12));
  const struct {
    int dof;
    vcXform<2> x;
  } cases[] = {{2, translation}, {3, rigid}, {4, similarity}, {6, affine}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dof);
    // Far from the origin, where absolute tests of degeneracy would go wrong.
    const std::vector<V> from = cloud(12, 3 + c.dof, 1000);
    vcLSGeneralFitter f;
    f.update(from, mapAll(c.x, from), {}, 1.0);
    double res = -1;
    expectXformNear(f.fit(c.dof, res), c.x, 1e-9);
    EXPECT_LT(res, 1e-8);
  }
}

TEST(LSFitter, NoisyPointsAndWeights) {
  const vcXform<2> truth(vcMatrix<2>(1.1, 1.0, vcRadian(0), vcRadian(0.2)), V(5, 6));
  const std::vector<V> from = cloud(400, 9, 0);
  std::vector<V> to = mapAll(truth, from);
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (V& q : to) q += V(noise(rng), noise(rng));
  vcLSGeneralFitter f;
  f.update(from, to, {}, 1.0);
  double res = 0;
  const vcXform<2> x = f.fit(4, res);
  expectXformNear(x, truth, 5e-3);
  // Residual is the RMS distance: about sqrt(2) * sigma for two noisy coordinates.
  EXPECT_NEAR(res, std::sqrt(2.0) * 0.5, 0.06);
  // A fit with fewer DOFs can only be worse on the same data.
  double res3 = 0, res6 = 0;
  f.fit(3, res3);
  f.fit(6, res6);
  EXPECT_GE(res3, res);
  EXPECT_LE(res6, res);

  // An outlier with weight 0 does not move the fit; with weight 1 it does.
  vcLSGeneralFitter g;
  std::vector<V> a = {V(0, 0), V(10, 0), V(0, 10), V(50, 50)};
  std::vector<V> b = {V(1, 1), V(11, 1), V(1, 11), V(0, 0)};
  g.update(a, b, {1, 1, 1, 0});
  double r = 0;
  expectXformNear(g.fit(2, r), vcXform<2>(vcMatrix<2>(), V(1, 1)), 1e-12);
  g.reset();
  g.update(a, b, {}, 1.0);
  // Mean of the b x values minus mean of the a x values.
  EXPECT_NEAR(g.fit(2, r).trans().x(), (13.0 - 60.0) / 4.0, 1e-12);
}

TEST(LSFitter, DegenerateInputThrows) {
  vcLSGeneralFitter f;
  double r = 0;
  EXPECT_THROW(f.fit(2, r), vcMathError::Singular);
  EXPECT_THROW(f.update({V(1, 1)}, {}, {}), vcBadParams);
  EXPECT_THROW(f.update({V(1, 1)}, {V(1, 1)}, {1, 2}), vcBadParams);
  EXPECT_THROW(f.update({V(1, 1)}, {V(1, 1)}, {}, -1.0), vcBadParams);
  EXPECT_EQ(f.numPoints(), 0);
  f.update({V(1, 1), V(1, 1)}, {V(2, 2), V(3, 3)}, {});
  EXPECT_NO_THROW(f.fit(2, r));
  EXPECT_THROW(f.fit(3, r), vcMathError::Singular);  // one distinct point fixes no rotation
  EXPECT_THROW(f.fit(5, r), vcBadParams);
  vcLSGeneralFitter line;
  std::vector<V> pts;
  for (int i = 0; i < 5; ++i) pts.emplace_back(100 + i, 200 + 2 * i);
  line.update(pts, pts, {});
  EXPECT_NO_THROW(line.fit(4, r));
  EXPECT_THROW(line.fit(6, r), vcMathError::Singular);
  // The residual limit.
  vcLSGeneralFitter bad;
  bad.update({V(0, 0), V(1, 0)}, {V(0, 0), V(5, 0)}, {});
  EXPECT_THROW(bad.fit(2, r, 0.1), vcMathError::Singular);
}

TEST(LinSolve, PivotsAndRefusesNearSingularSystemsAtAnyScale) {
  // A zero leading pivot needs a row swap; the solution is (1, -2, 3).
  const double a0[9] = {0, 2, 1, 1, 1, 0, 3, 0, 4};
  const double x0[3] = {1, -2, 3};
  for (double scale : {1e-9, 1.0, 1e9}) {
    double a[9], b[3];
    for (int r = 0; r < 3; ++r) {
      b[r] = 0;
      for (int c = 0; c < 3; ++c) b[r] += (a[r * 3 + c] = scale * a0[r * 3 + c]) * x0[c];
    }
    ASSERT_TRUE(vfSolveLinearSystem(a, b, 3)) << scale;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], x0[k], 1e-9) << scale;
    // Third row the sum of the first two, up to a relative 1e-14: refused at every scale.
    double s[9] = {1, 2, 3, 4, 5, 6, 5, 7, 9 * (1 + 1e-14)}, sb[3] = {1, 1, 2};
    for (double& v : s) v *= scale;
    EXPECT_FALSE(vfSolveLinearSystem(s, sb, 3)) << scale;
  }
  std::vector<double> va = {2, 0, 0, 4}, vb = {2, 8}, shortB = {1};
  ASSERT_TRUE(vfSolveLinearSystem(va, vb, 2));
  EXPECT_DOUBLE_EQ(vb[1], 2.0);
  EXPECT_FALSE(vfSolveLinearSystem(va, shortB, 2));
}

}  // namespace
