#include <gtest/gtest.h>

#include <cmath>

#include "tests/flexalign/flexalign_access.h"
#include "vcFlexAlignTool.h"

namespace {

using A = vcFlexAlignTestAccess;
using D = vcFlexAlignDefs;
using Node = vc_ResTreeElem::Handle;
using Res = vcPtrHandle<vcFlexSubModelResult>;
constexpr double kPi = 3.14159265358979323846;

vcXform<2> rigid(double x, double y, double deg, double s = 1.0) {
  const double a = deg * kPi / 180.0;
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
  EXPECT_NEAR(lin.matrix().rotation().toDouble() * 180 / kPi, 10.0, 1e-6);
  // Outside the angle zone the fit is clamped to its edge.
  rp.zoneRelStandard(D::eAngle, -4, 4);
  A::fit(pat, t, rp, D::eAutomatic, rp.zoneEnable());
  EXPECT_NEAR(t.pose().linearXform({0, 0}).matrix().rotation().toDouble() * 180 / kPi, 4.0, 1e-6);
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

}  // namespace
