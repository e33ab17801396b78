#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcArchive.h"

namespace {

using V = vcVector<2>;

void expectNear(const V& a, const V& b, double tol) {
  EXPECT_NEAR(a.x(), b.x(), tol);
  EXPECT_NEAR(a.y(), b.y(), tol);
}

// A reference cubic written independently of the fitter's monomial order.
V cubic(const V& p, int order) {
  const double x = p.x(), y = p.y();
  V r(3 + 1.1 * x - 0.2 * y, -2 + 0.1 * x + 0.9 * y);
  if (order >= 2) r += V(1e-3 * x * x - 2e-3 * x * y + 5e-4 * y * y, -1e-3 * y * y + 3e-3 * x * y);
  if (order >= 3) r += V(2e-6 * x * x * x - 1e-6 * x * y * y, 1e-6 * x * x * y + 3e-6 * y * y * y);
  return r;
}

std::vector<V> randomPoints(int n, double lo, double hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<V> pts;
  for (int i = 0; i < n; ++i) pts.emplace_back(u(rng), u(rng));
  return pts;
}

TEST(XformLinear, ComposeInverseAndHandles) {
  const vc2XformLinear a(vcMatrix<2>(1.5, 1.0, vcRadian(0.0), vcRadian(0.3)), V(10, -4));
  const vc2XformLinear b(vcMatrix<2>(0.5, 1.2, vcRadian(0.1), vcRadian(-1.0)), V(2, 7));
  const V p(3, -8);
  vcPtrHandle<vc2XformBase> ab = a.composeBase(b);
  expectNear(ab->mapPoint(p), a.mapPoint(b.mapPoint(p)), 1e-9);
  EXPECT_TRUE(ab->isLinear());
  vcPtrHandle<vc2XformBase> inv = a.inverseBase();
  expectNear(inv->mapPoint(a.mapPoint(p)), p, 1e-9);
  const vc2XformLinear singular(vcMatrix<2>(1, 2, 2, 4), V());
  EXPECT_THROW(singular.inverseBase(), vcMathError::Singular);
  // A clone is independent of the original and of its holders.
  vcPtrHandle<vc2XformBase> c = a.clone();
  EXPECT_EQ(c->refCount(), 1);
  EXPECT_EQ(*dynamic_cast<vc2XformLinear*>(c.ptr()), a);
}

TEST(XformPoly, RecoversPolynomialsOfEachOrder) {
  for (int order = 1; order <= 3; ++order) {
    SCOPED_TRACE(order);
    const std::vector<V> from = randomPoints(40, 0, 640, 10 + order);
    std::vector<V> to;
    for (const V& p : from) to.push_back(cubic(p, order));
    const vc2XformPoly poly(to, from, order);
    EXPECT_EQ(poly.order(), order);
    EXPECT_EQ(poly.isLinear(), order == 1);
    // Off the fitted points, inside their hull.
    for (const V& q : randomPoints(20, 50, 600, 99))
      expectNear(poly.mapPoint(q), cubic(q, order), 1e-6);
    // Local linear form: value agrees at p and slope matches a central difference.
    const V p(321, 123);
    const vc2XformLinear l = poly.linearXform(p);
    expectNear(l.mapPoint(p), poly.mapPoint(p), 1e-9);
    const double h = 1e-3;
    const V dx = (cubic(p + V(h, 0), order) - cubic(p - V(h, 0), order)) / (2 * h);
    const V dy = (cubic(p + V(0, h), order) - cubic(p - V(0, h), order)) / (2 * h);
    EXPECT_NEAR(l.matrix()(0, 0), dx.x(), 1e-6);
    EXPECT_NEAR(l.matrix()(1, 0), dx.y(), 1e-6);
    EXPECT_NEAR(l.matrix()(0, 1), dy.x(), 1e-6);
    EXPECT_NEAR(l.matrix()(1, 1), dy.y(), 1e-6);
  }
}

TEST(XformPoly, NoisyPointsGiveTheLeastSquaresAnswer) {
  // Symmetric noise on a line fit cancels: the fit goes through the noiseless values.
  std::vector<V> from, to;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j) {
      const V p(i * 10.0, j * 10.0);
      const double e = ((i + j) % 2 == 0) ? 0.5 : -0.5;
      from.push_back(p);
      to.push_back(cubic(p, 1) + V(e, -e));
    }
  const vc2XformPoly poly(to, from, 1);
  expectNear(poly.mapPoint(V(45, 45)), cubic(V(45, 45), 1), 1e-9);
}

TEST(XformPoly, RejectsBadInput) {
  const std::vector<V> five = randomPoints(5, 0, 10, 1);
  EXPECT_THROW(vc2XformPoly(five, five, 0), vcBadParams);
  EXPECT_THROW(vc2XformPoly(five, five, 4), vcBadParams);
  EXPECT_THROW(vc2XformPoly(five, randomPoints(4, 0, 10, 2), 1), vcBadParams);
  EXPECT_THROW(vc2XformPoly(five, five, 2), vcBadParams);  // order 2 needs 6
  std::vector<V> line;
  for (int i = 0; i < 12; ++i) line.emplace_back(i, 2.0 * i);
  EXPECT_THROW(vc2XformPoly(line, line, 1), vcMathError::Singular);
  EXPECT_THROW(vc2XformPoly(line, line, 3), vcMathError::Singular);
  const std::vector<V> same(8, V(1, 1));
  EXPECT_THROW(vc2XformPoly(same, same, 1), vcMathError::Singular);
}

TEST(XformPoly, CompositionAndInverse) {
  const std::vector<V> from = randomPoints(30, 0, 200, 5);
  std::vector<V> to;
  for (const V& p : from) to.push_back(cubic(p, 2));
  const vc2XformPoly poly(to, from, 2);
  const vc2XformLinear lin(vcMatrix<2>(2.0, 1.0, vcRadian(0.0), vcRadian(0.7)), V(-5, 9));
  const V p(77, 130);
  // Linear on either side stays a polynomial and is exact.
  vcPtrHandle<vc2XformBase> lp = lin.composeBase(poly);
  vcPtrHandle<vc2XformBase> pl = poly.composeBase(lin);
  EXPECT_NE(dynamic_cast<vc2XformPoly*>(lp.ptr()), nullptr);
  EXPECT_NE(dynamic_cast<vc2XformPoly*>(pl.ptr()), nullptr);
  expectNear(lp->mapPoint(p), lin.mapPoint(poly.mapPoint(p)), 1e-9);
  expectNear(pl->mapPoint(p), poly.mapPoint(lin.mapPoint(p)), 1e-9);
  // Two polynomials make a general composition whose linear form follows the chain rule.
  vcPtrHandle<vc2XformBase> pp = poly * poly;
  expectNear(pp->mapPoint(p), poly.mapPoint(poly.mapPoint(p)), 1e-9);
  const vc2XformLinear chain = poly.linearXform(poly.mapPoint(p)) * poly.linearXform(p);
  EXPECT_NEAR(pp->linearXform(p).matrix()(0, 1), chain.matrix()(0, 1), 1e-12);
  // The numeric inverse undoes the map inside the fitted domain (a bend of tens of pixels here),
  // and its inverse is the forward map again.
  vcPtrHandle<vc2XformBase> inv = poly.inverseBase();
  for (const V& q : randomPoints(10, 0, 200, 8))
    expectNear(inv->mapPoint(poly.mapPoint(q)), q, 1e-8);
  const vc2XformLinear li = inv->linearXform(poly.mapPoint(p));
  const vc2XformLinear round = li * poly.linearXform(p);
  EXPECT_NEAR(round.matrix()(0, 0), 1.0, 1e-9);
  EXPECT_NEAR(round.matrix()(1, 0), 0.0, 1e-9);
  expectNear(inv->inverseBase()->mapPoint(p), poly.mapPoint(p), 1e-12);
  vcPtrHandle<vc2XformBase> ppInv = pp->inverseBase();
  expectNear(ppInv->mapPoint(pp->mapPoint(p)), p, 1e-8);
  // Order 1 inverts exactly.
  std::vector<V> to1;
  for (const V& q : from) to1.push_back(cubic(q, 1));
  vcPtrHandle<vc2XformBase> inv1 = vc2XformPoly(to1, from, 1).inverseBase();
  expectNear(inv1->mapPoint(cubic(p, 1)), p, 1e-9);
}

TEST(XformArchive, PolymorphicTransformsRoundTripAndShare) {
  const std::vector<V> from = randomPoints(30, 0, 100, 3);
  std::vector<V> to;
  for (const V& p : from) to.push_back(cubic(p, 3));
  vc2XformPoly poly(to, from, 3);
  vc2XformLinear lin(vcMatrix<2>(1, 2, 3, 4), V(5, 6));
  vcPtrHandle<vc2XformBase> comp = poly * poly;

  vcArchive out;
  vc2XformBase* items[4] = {&poly, &lin, comp.ptr(), &poly};  // poly stored twice
  for (auto*& it : items) serializePointer(out, nullptr, it);
  vcArchive in(out.bytes());
  vc2XformBase* back[4] = {};
  for (auto*& it : back) serializePointer(in, nullptr, it);
  EXPECT_EQ(in.remaining(), 0u);
  ASSERT_EQ(back[0], back[3]);  // loaded once, shared
  const V p(12, 34);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(back[i], nullptr);
    EXPECT_EQ(typeid(*back[i]), typeid(*items[i]));
    expectNear(back[i]->mapPoint(p), items[i]->mapPoint(p), 1e-12);
  }
  // The reading archive holds the shared transforms and frees them with itself.

  // A corrupted order is refused and leaves the target as it was.
  vcArchive raw;
  raw || poly;
  std::vector<std::uint8_t> bytes = raw.bytes();
  bytes[1] = 7;  // the order follows the version byte
  vc2XformPoly target;
  vcArchive bad(bytes);
  EXPECT_THROW(bad || target, vcArchive::BadData);
  expectNear(target.mapPoint(p), p, 0);
}

}  // namespace
