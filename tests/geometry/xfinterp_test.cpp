#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexGeometry.h"

namespace {

using Map = vc2XformInterpMap;
using Handle = vcPtrHandle_const<vc2XformBase>;

Handle translation(double x, double y) { return new vc2XformLinear(vcMatrix<2>(), {x, y}); }

// Rotation by deg degrees and uniform scale s, plus a translation.
Handle similarity(double deg, double s, double tx = 0, double ty = 0) {
  return new vc2XformLinear(vcMatrix<2>(s, 1.0, vcRadian(0), vcRadian(vcDegree(deg))), {tx, ty});
}

// A transform that is not linear anywhere; only isLinear matters to the map's checks.
class Bent : public vc2XformBase {
 public:
  vcVector<2> mapPoint(const vcVector<2>& p) const override { return {p.x() * p.x(), p.y()}; }
  bool isLinear() const override { return false; }
  vc2XformLinear linearXform(const vcVector<2>& p) const override {
    return vc2XformLinear(vcMatrix<2>(2 * p.x(), 0, 0, 1), {-p.x() * p.x(), 0});
  }
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase&) const override { return {}; }
  vcPtrHandle<vc2XformBase> inverseBase() const override { return {}; }
  vcPtrHandle<vc2XformBase> clone() const override { return new Bent; }
  void dispatchSerialize(vcArchive&) override {}
};

// Translation (10, 0) at (0, 0) and (20, 0) at (100, 0).
Map twoTranslations(Map::InterpolationType mode) {
  Map m({translation(10, 0), translation(20, 0)}, {{0, 0}, {100, 0}});
  m.interpolationMode(mode);
  return m;
}

void expectNear(const vcVector<2>& got, double x, double y, double tol = 1e-9) {
  EXPECT_NEAR(got.x(), x, tol);
  EXPECT_NEAR(got.y(), y, tol);
}

// Rotating and scaling keys at three points.
Map threeKeys() {
  return Map({similarity(20, 1.5, 3, -2), similarity(-40, 0.5, 7, 1), similarity(90, 1, 0, 0)},
             {{0, 0}, {50, 10}, {-30, 40}});
}

// Stores `from`, sets its first (own) version byte to 1 and loads into `into`; returns the text
// of the UnknownVersion raised, or "accepted".
std::string textOfBadVersion(vcPersistent& from, vcPersistent& into) {
  vcArchive out;
  out || from;
  std::vector<std::uint8_t> bytes = out.bytes();
  bytes[0] = 1;
  vcArchive in(bytes);
  try {
    in || into;
  } catch (const vcArchive::UnknownVersion& e) {
    return e.text();
  }
  return "accepted";
}

double rotationDeg(const vc2XformLinear& l) {
  return vcDegree(vfNormalizeAngle(l.matrix().xRot())).toDouble();
}

TEST(InterpMapBlend, ExponentialWeightsByInverseDistance) {
  Map m = twoTranslations(Map::eExponential);
  expectNear(m.mapPoint({50, 0}), 65, 0);
  // Weights 1/25 and 1/75: translation (10*3 + 20) / 4.
  expectNear(m.mapPoint({25, 0}), 37.5, 0);
  // Within 0.2 of a key only that key counts; just outside, both do.
  expectNear(m.mapPoint({0.1, 0}), 10.1, 0);
  const double d = 0.25, w1 = 1 / d, w2 = 1 / (100 - d);
  expectNear(m.mapPoint({d, 0}), d + (10 * w1 + 20 * w2) / (w1 + w2), 0);
}

TEST(InterpMapBlend, LinearFallsToZeroAtNearestOtherKey) {
  Map m = twoTranslations(Map::eLinear);
  expectNear(m.mapPoint({50, 0}), 65, 0);
  expectNear(m.mapPoint({25, 0}), 37.5, 0);
  expectNear(m.mapPoint({150, 0}), 170, 0);
  // Outside both reaches: the equal-weight average.
  expectNear(m.mapPoint({250, 0}), 265, 0);
}

TEST(InterpMapBlend, GaussianUsesQuarterReachAndTendsToAverage) {
  Map m = twoTranslations(Map::eGaussian);
  expectNear(m.mapPoint({50, 0}), 65, 0);
  // At a key point the other key's density is exp(-8) of this one's (sigma = 25, d = 100).
  const double e = std::exp(-8.0);
  expectNear(m.mapPoint({0, 0}), 10 + 10 * e / (1 + e), 0, 1e-6);
  // Far from every key only the floor-weighted average remains.
  expectNear(m.mapPoint({5000, 3000}), 5015, 3000);
}

TEST(InterpMapBlend, RotationsBlendAsDirectionsAndScalesGeometrically) {
  Map m({similarity(350, 1), similarity(10, 4)}, {{0, 0}, {100, 0}});
  const vc2XformLinear mid = m.linearXform({50, 0});
  EXPECT_NEAR(rotationDeg(mid), 0, 1e-9);
  EXPECT_NEAR(mid.matrix().xScale(), 2, 1e-12);  // sqrt(1 * 4), not the mean 2.5
  EXPECT_NEAR(mid.matrix().yScale(), 2, 1e-12);

  // Across the 180-degree seam, where averaging the raw angles would give 0.
  Map back({similarity(170, 1), similarity(-170, 1)}, {{0, 0}, {100, 0}});
  EXPECT_NEAR(std::fabs(rotationDeg(back.linearXform({50, 0}))), 180, 1e-9);

  // Unequal weights 3:1 between 0 and 90 degrees: the angle of the weighted unit-vector sum.
  Map quarter({similarity(0, 1), similarity(90, 1)}, {{0, 0}, {100, 0}});
  EXPECT_NEAR(rotationDeg(quarter.linearXform({25, 0})),
              vcDegree(vcRadian(std::atan2(1.0, 3.0))).toDouble(), 1e-9);
}

TEST(InterpMapBlend, UnknownModeAndCoincidentKeysAreRejected) {
  Map m = twoTranslations(Map::eExponential);
  m.interpolationMode(static_cast<Map::InterpolationType>(7));
  EXPECT_EQ(m.interpolationMode(), 7);
  EXPECT_THROW(m.mapPoint({1, 1}), Map::NotImplemented);
  EXPECT_THROW(m.linearXform({1, 1}), Map::NotImplemented);

  // addKeyXform does not check for repeats; the exponential scheme copes, the others cannot.
  Map dup;
  dup.addKeyXform(*translation(4, 0), {0, 0});
  expectNear(dup.mapPoint({50, 0}), 52, 0);
  dup.interpolationMode(Map::eLinear);
  EXPECT_THROW(dup.mapPoint({50, 0}), Map::BadParams);
}

TEST(InterpMapBuild, ConstructorsValidateKeys) {
  EXPECT_THROW(Map({translation(1, 0)}, {{0, 0}, {1, 1}}), Map::BadParams);
  EXPECT_THROW(Map(Map::KeyXforms{}, Map::KeyPoints{}), Map::BadParams);
  EXPECT_THROW(Map({translation(1, 0), translation(2, 0)}, {{3, 4}, {3, 4}}), Map::BadParams);
  // Equal x alone, or equal y alone, is allowed.
  EXPECT_NO_THROW(Map({translation(1, 0), translation(2, 0)}, {{3, 4}, {3, 5}}));
  EXPECT_THROW(Map({translation(1, 0), new Bent}, {{0, 0}, {1, 1}}), Map::NotImplemented);
  EXPECT_THROW(Map({translation(1, 0), Handle()}, {{0, 0}, {1, 1}}), vcBadPointer);
  EXPECT_THROW(Map(Bent(), {0, 0}), Map::NotImplemented);

  // The default map is one identity key; a failed add leaves it so.
  Map m;
  EXPECT_EQ(m.interpolationMode(), Map::eExponential);
  EXPECT_THROW(m.addKeyXform(Bent(), {5, 5}), Map::NotImplemented);
  ASSERT_EQ(m.keyXforms().size(), 1u);
  expectNear(m.mapPoint({3, 4}), 3, 4);
  // A single key acts alone in every scheme.
  Map one(*similarity(90, 2, 1, 0), {50, 50});
  one.interpolationMode(Map::eGaussian);
  expectNear(one.mapPoint({1, 0}), 1, 2);
}

TEST(InterpMapBuild, LinearityCopiesAndClones) {
  Map same({similarity(30, 2, 1, 1), similarity(30, 2, 1, 1)}, {{0, 0}, {9, 9}});
  EXPECT_TRUE(same.isLinear());
  Map differ = twoTranslations(Map::eExponential);
  EXPECT_FALSE(differ.isLinear());

  // Copies share the key handles; a clone is independent of later changes to the original.
  Map copy(differ);
  EXPECT_EQ(copy.keyXforms()[0].ptr(), differ.keyXforms()[0].ptr());
  vcPtrHandle<vc2XformBase> cl = differ.clone();
  differ.addKeyXform(*translation(1000, 0), {50, 0});
  differ.interpolationMode(Map::eLinear);
  expectNear(cl->mapPoint({50, 0}), 65, 0);
  expectNear(copy.mapPoint({50, 0}), 65, 0);
  expectNear(differ.mapPoint({50, 0}), 1050, 0);
}

TEST(InterpMapAlgebra, InverseReturnsKeyImagesToKeys) {
  Map m = twoTranslations(Map::eLinear);
  vcPtrHandle<vc2XformBase> inv = m.inverseBase();
  const auto* invMap = dynamic_cast<const Map*>(inv.ptr());
  ASSERT_NE(invMap, nullptr);
  EXPECT_EQ(invMap->interpolationMode(), Map::eLinear);
  expectNear(inv->mapPoint({10, 0}), 0, 0);
  expectNear(inv->mapPoint({120, 0}), 100, 0);

  // With rotating and scaling keys, the round trip holds at every key point.
  Map r = threeKeys();
  vcPtrHandle<vc2XformBase> rinv = r.inverseBase();
  for (const vcVector<2>& k : r.keyPoints()) {
    const vcVector<2> back = rinv->mapPoint(r.mapPoint(k));
    expectNear(back, k.x(), k.y());
  }

  // Keys whose images coincide cannot form a map.
  Map fold({translation(0, 0), translation(-10, 0)}, {{0, 0}, {10, 0}});
  EXPECT_THROW(fold.inverseBase(), Map::BadParams);
}

TEST(InterpMapAlgebra, ComposeAppliesOtherFirst) {
  Map m = twoTranslations(Map::eExponential);
  const vc2XformLinear shift(vcMatrix<2>(), {40, 0});
  vcPtrHandle<vc2XformBase> c = m.composeBase(shift);
  // (10, 0) is shifted to (50, 0) first, then mapped by the blend.
  expectNear(c->mapPoint({10, 0}), 65, 0);
  vcPtrHandle<vc2XformBase> c2 = shift.composeBase(m);
  expectNear(c2->mapPoint({50, 0}), 105, 0);
}

TEST(InterpMapArchive, RoundTripThroughBasePointerAndVersionCheck) {
  Map m = threeKeys();
  m.interpolationMode(Map::eGaussian);
  vcArchive out;
  vc2XformBase* p = &m;
  serializePointer(out, nullptr, p);
  vcArchive in(out.bytes());
  vc2XformBase* q = nullptr;
  serializePointer(in, nullptr, q);
  vcPtrHandle<vc2XformBase> owner(q);
  const auto* back = dynamic_cast<const Map*>(q);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->interpolationMode(), Map::eGaussian);
  for (const vcVector<2>& pt : {vcVector<2>(0, 0), vcVector<2>(20, 15), vcVector<2>(-200, 90)})
    EXPECT_EQ(m.mapPoint(pt), q->mapPoint(pt));

  // A failed load names the source and changes nothing.
  Map r;
  EXPECT_EQ(textOfBadVersion(m, r), "xfinterp");
  expectNear(r.mapPoint({3, 4}), 3, 4);
}

TEST(InterpMapErrors, NumbersRethrowAndVersion) {
  EXPECT_EQ(Map::BadParams().errorNumber(), 0x10005D31);
  EXPECT_EQ(Map::NotImplemented().errorNumber(), 0x10005D32);
  vc2XformDefs::Errors* e = new Map::NotImplemented;
  EXPECT_THROW(static_cast<Map::NotImplemented*>(e)->suicideAndRethrow(), Map::NotImplemented);
  Map::BadParams bp, r;
  EXPECT_EQ(textOfBadVersion(bp, r), "vc2XformInterpMap::BadParams");
}

}  // namespace
