#include <gtest/gtest.h>

#include <cmath>

#include "platform/core/vcAngle.h"
#include "support/archive_check.h"
#include "tests/flexalign/flexalign_access.h"
#include "vcFlexAlignTool.h"

namespace {

using A = vcFlexAlignTestAccess;
using D = vcFlexAlignDefs;
using Node = vc_ResTreeElem::Handle;
using Res = vcPtrHandle<vcFlexSubModelResult>;

vcXform<2> rigid(double x, double y, double deg, double s = 1.0) {
  const double a = deg * vcPi / 180.0;
  return vcXform<2>(
      vcMatrix<2>(s * std::cos(a), -s * std::sin(a), s * std::sin(a), s * std::cos(a)), {x, y});
}

Res found(const vcXform<2>& pose, double score) {
  auto* s = new vcFlexSubModelGfndResult;
  s->pose(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(pose)));
  s->score(score);
  return Res(s);
}

// Two 40 x 40 placements 100 apart (equal weights), and a blank one.
vcFlexArrangement pair() {
  vcPelBuffer<unsigned char> img(40, 40);
  for (long y = 10; y < 30; ++y)
    for (long x = 10; x < 30; ++x) img.set(x, y, 200);
  std::vector<vcFlexSubModel> subs = {vcFlexSubModel(img, "a"), vcFlexSubModel(std::string("b"))};
  return vcFlexArrangement(
      subs, {0, 0, 1},
      {new vc2XformLinear(rigid(0, 0, 0)), new vc2XformLinear(rigid(100, 0, 0)),
       new vc2XformLinear(rigid(50, 50, 0))});
}

TEST(FlexAlignTree, PathsScoresAndDeletion) {
  const vcFlexArrangement arr = pair();
  const vcFlexAlignRunParams rp{vcFlexSubModelGfndRunParams()};
  Node root(new vc_ResTreeElem());
  EXPECT_EQ(root->scoreLeafPath(arr), 0.0);
  EXPECT_TRUE(root->listLeafs().empty());
  EXPECT_TRUE(root->topScoringLeafs(arr, rp).empty());
  EXPECT_EQ(root->searchLeafPath(-1), root.ptr());
  EXPECT_FALSE(root->addChildren(std::vector<long>{0, 1, 2},
                                 {found(rigid(0, 0, 0), 1), found(rigid(0, 0, 0), 1)}));
  EXPECT_EQ(root->numChildren(), 0);

  const Node a = root->addChild(0, found(rigid(0, 0, 0), 0.8));
  const Node b = a->addChild(1, found(rigid(100, 0, 0), 0.6));
  const double fraction = vcFlexArrangementHelper::subModelFraction(arr, 0);
  EXPECT_NEAR(b->scoreLeafPath(arr),
              fraction * 0.8 + vcFlexArrangementHelper::subModelFraction(arr, 1) * 0.6, 1e-12);
  EXPECT_EQ(b->searchLeafPath(0), a.ptr());
  EXPECT_EQ(b->searchLeafPath(2), nullptr);
  EXPECT_EQ(b->root().ptr(), root.ptr());
  b->deleteLeafPath();
  EXPECT_EQ(root->numChildren(), 0);
  EXPECT_TRUE(root->deleteMe());
}

TEST(FlexAlignTree, PruningKeepsTheBetterOfRepeatedCombinations) {
  const vcFlexArrangement arr = pair();
  vcFlexAlignRunParams rp{vcFlexSubModelGfndRunParams()};
  rp.acceptThreshold(0.2);
  Node root(new vc_ResTreeElem());
  // Two candidates of instance 0 at the same place (equal score: the first goes), one apart.
  const Node a1 = root->addChild(0, found(rigid(0, 0, 0), 0.9));
  const Node a2 = root->addChild(0, found(rigid(0.5, 0, 0), 0.9));
  const Node far = root->addChild(0, found(rigid(300, 0, 0), 0.5));
  // Below a2: instance 1 found, which makes a longer and better combination than a2 alone.
  a2->addChild(1, found(rigid(100, 0, 0), 0.9));
  std::vector<Node> best = root->topScoringLeafs(arr, rp);
  ASSERT_EQ(best.size(), 2u);
  EXPECT_EQ(best[0]->subModelIndex(), 1);  // the a2 path, highest score
  EXPECT_EQ(best[1].ptr(), far.ptr());
  EXPECT_EQ(root->numChildren(), 2);
  // A path scoring exactly the threshold is not returned.
  rp.acceptThreshold(vcFlexArrangementHelper::subModelFraction(arr, 0) * 0.5);
  EXPECT_EQ(root->topScoringLeafs(arr, rp).size(), 1u);
}

TEST(FlexAlignFit, ModesDofSetsAndClamping) {
  const vcFlexArrangement arr = pair();
  vcFlexAlignPattern pat;
  pat.train(arr, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  vcFlexAlignRunParams rp{vcFlexSubModelGfndRunParams()};
  rp.xyUncertainty(50, 50);
  // Both pieces 5, 3 away from their places; the blank one must not count.
  vcFlexAlignResult r;
  A::add(r, 0, rigid(5, 3, 0));
  A::add(r, 1, rigid(105, 3, 0));
  A::add(r, 2, rigid(0, 0, 0));
  A::fit(pat, r, rp, D::eAutomatic, 0);
  vc2XformLinear lin = r.pose().linearXform({0, 0});
  EXPECT_EQ(lin.matrix(), vcMatrix<2>());
  EXPECT_NEAR((lin.trans() - vcVector<2>(5, 3)).len(), 0.0, 1e-9);

  // Turned and scaled layout: translation and rotation only, no scale.
  rp.zoneEnable(D::eAngle | D::eUniformScale);
  rp.zoneRelStandard(D::eAngle, -20, 20);
  vcFlexAlignResult t;
  A::add(t, 0, rigid(0, 0, 10, 1.1));
  A::add(t, 1, rigid(0, 0, 10, 1.1) * rigid(100, 0, 0));
  A::fit(pat, t, rp, D::eLinearTranslationRotation, rp.zoneEnable());
  lin = t.pose().linearXform({0, 0});
  EXPECT_NEAR(lin.matrix().xScale(), 1.0, 1e-9);
  EXPECT_NEAR(lin.matrix().rotation().toDouble() * 180 / vcPi, 10.0, 1e-6);
  // Outside the angle zone the fit is clamped to its edge.
  rp.zoneRelStandard(D::eAngle, -4, 4);
  A::fit(pat, t, rp, D::eAutomatic, rp.zoneEnable());
  EXPECT_NEAR(t.pose().linearXform({0, 0}).matrix().rotation().toDouble() * 180 / vcPi, 4.0, 1e-6);
  rp.zoneEnable(D::eUniformScale);
  A::fit(pat, t, rp, D::eAutomatic, rp.zoneEnable());
  EXPECT_NEAR(t.pose().linearXform({0, 0}).matrix().rotation().toDouble(), 0.0, 1e-9);

  // Six fitted DOFs need three pairs; two found pieces are refused.
  rp.zoneEnable(D::eYScale);
  EXPECT_THROW(A::fit(pat, t, rp, D::eAutomatic, rp.zoneEnable()), D::BadParams);
  vcFlexAlignResult none;
  A::fit(pat, none, rp, D::eAutomatic, 0);
  EXPECT_EQ(
      none.infoStrings(),
      std::vector<std::string>{"No sub-models are present to do a final fit.  Using start pose."});
}

// Sixteen placements of one piece on a 4 x 4 grid, for fits of many points.
vcFlexArrangement grid16() {
  vcPelBuffer<unsigned char> img(40, 40);
  for (long y = 10; y < 30; ++y)
    for (long x = 10; x < 30; ++x) img.set(x, y, 200);
  std::vector<long> indices;
  std::vector<vcPtrHandle_const<vc2XformBase>> places;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      indices.push_back(0);
      places.push_back(new vc2XformLinear(rigid(60.0 * c, 60.0 * r, 0)));
    }
  return vcFlexArrangement({vcFlexSubModel(img, "a")}, indices, places);
}

// A cubic warp without shift, turn or scale at the origin.
vcVector<2> warp(const vcVector<2>& p) {
  const double x = p.x(), y = p.y();
  return {x + 2e-6 * x * x * x + 1e-6 * x * y * y, y + 1.5e-6 * y * y * y - 1e-6 * x * x * y};
}

TEST(FlexAlignFit, NoFitThirdOrderAndTheLinearFallbackSaysSo) {
  const vcFlexArrangement arr = grid16();
  vcFlexAlignPattern pat;
  pat.train(arr, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  vcFlexAlignRunParams rp{vcFlexSubModelGfndRunParams()};
  rp.xyUncertainty(50, 50);
  const vcVector<2> c = vcFlexSubModelHelper::centerPt(arr.subModels()[0]);
  vcFlexAlignResult r;
  for (long k = 0; k < 16; ++k) {
    const vcVector<2> at = arr.positions()[static_cast<std::size_t>(k)]->mapPoint(c);
    const vcVector<2> moved = warp(at) - at;
    A::add(r, k, rigid(moved.x(), moved.y(), 0) * rigid(at.x() - c.x(), at.y() - c.y(), 0));
  }
  vcFlexAlignResult none = r;
  A::fit(pat, none, rp, D::eNone, 0);
  EXPECT_TRUE(none.pose().linearXform({0, 0}) == vc2XformLinear());
  vcFlexAlignResult cubic = r;
  A::fit(pat, cubic, rp, D::ePolynomialOrder3, 0);
  vcFlexAlignResult linear = r;
  A::fit(pat, linear, rp, D::eAutomatic, 0);
  double cubicError = 0, linearError = 0;
  for (long k = 0; k < 16; ++k) {
    const vcVector<2> at = arr.positions()[static_cast<std::size_t>(k)]->mapPoint(c);
    cubicError = std::max(cubicError, cubic.pose().mapPoint(at).distance(warp(at)));
    linearError = std::max(linearError, linear.pose().mapPoint(at).distance(warp(at)));
  }
  EXPECT_LT(cubicError, 1e-6);
  EXPECT_GT(linearError, 1.0);
  EXPECT_TRUE(cubic.infoStrings().empty())
      << (cubic.infoStrings().empty() ? "" : cubic.infoStrings()[0]);
  // Two pieces cannot carry a third-order polynomial: the linear fit, and a note saying so.
  vcFlexAlignResult two;
  A::add(two, 0, rigid(3, 1, 0));
  A::add(two, 5, rigid(3, 1, 0) * rigid(60, 60, 0));
  vcFlexAlignResult twoLinear = two;
  A::fit(pat, two, rp, D::ePolynomialOrder3, 0);
  A::fit(pat, twoLinear, rp, D::eAutomatic, 0);
  EXPECT_TRUE(two.pose().linearXform({0, 0}) == twoLinear.pose().linearXform({0, 0}));
  ASSERT_EQ(two.infoStrings().size(), 1u);
  EXPECT_EQ(two.infoStrings()[0].find("The polynomial final fit of order 3 through 2 found"), 0u)
      << two.infoStrings()[0];
}

// A sub-model whose symmetry code is `code`, read back from an archive with the code in place.
vcFlexSubModel withSymmetry(const vcFlexSubModel& s, unsigned long code) {
  vcFlexSubModel copy(s);
  vcTest::Bytes bytes = vcTest::storeBytes(copy);
  vcPelBuffer_const<unsigned char> image = s.image();
  const std::size_t at = 2 + vcTest::storeBytes(image).size();  // version, kind, image
  for (int i = 0; i < 8; ++i) bytes[at + static_cast<std::size_t>(i)] = (code >> (8 * i)) & 0xff;
  vcFlexSubModel back(std::string("x"));
  vcTest::loadBytes(bytes, back);
  return back;
}

// The components a symmetric sub-model's code names (1 rotation, 2 scale, 4 aspect, 8 shear)
// come from its nominal placement; the others stay as found, about the sub-model's centre.
TEST(FlexAlignFit, SymmetryBitsEachTakeTheirComponentFromThePlacement) {
  const vcFlexArrangement base = pair();
  const vcXform<2> nominal = rigid(100, 50, 10);
  const vcXform<2> found(vcMatrix<2>(1.2, 1.1, vcRadian(0.1), vcRadian(30 * vcPi / 180)), {98, 47});
  const vcVector<2> c = vcFlexSubModelHelper::centerPt(base.subModels()[0]);
  for (unsigned long code : {1ul, 2ul, 4ul, 8ul, 3ul, 15ul}) {
    const vcFlexSubModel sym = withSymmetry(base.subModels()[0], code);
    ASSERT_EQ(sym.symmetry(), code);
    const vcFlexArrangement arr({sym}, {0}, {new vc2XformLinear(nominal)});
    vcFlexAlignPattern pat;
    pat.train(arr, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
    vcFlexAlignResult r;
    A::add(r, 0, found);
    A::placeSubModels(pat, r);
    const vc2XformLinear placed =
        r.subModelResults()[0]->arrangementFromSubModel().linearXform({0, 0});
    const vcMatrix<2>& m = placed.matrix();
    const vcMatrix<2>& n = nominal.matrix();
    const vcMatrix<2>& f = found.matrix();
    EXPECT_NEAR(m.rotation().toDouble(), ((code & 1) ? n : f).rotation().toDouble(), 1e-9) << code;
    EXPECT_NEAR(m.scale(), ((code & 2) ? n : f).scale(), 1e-9) << code;
    EXPECT_NEAR(m.aspect(), ((code & 4) ? n : f).aspect(), 1e-9) << code;
    EXPECT_NEAR(m.shear().toDouble(), ((code & 8) ? n : f).shear().toDouble(), 1e-9) << code;
    EXPECT_NEAR(placed.mapPoint(c).distance(found.mapPoint(c)), 0.0, 1e-9) << code;
  }
}

}  // namespace
