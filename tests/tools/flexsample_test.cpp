#include <gtest/gtest.h>

#include <cmath>

#include "platform/core/vcAngle.h"
#include "support/flex_sample_once.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"

// The sample's written truth, checked against what the library finds in its pixels.
namespace {

using D = vcFlexAlignDefs;

using flex_sample_once::pattern;
using flex_sample_once::sample;

vcFlexSubModelGfndRunParams subParams() { return vfFlexSamplePieceParams(0.6); }

vcFlexAlignRunParams runParams(D::RunStrategy strategy) {
  return vfFlexSampleRunParams(strategy, 0.6);
}

// Every found piece lies where the truth says: its centre within 0.1 px, its angle within
// half a degree. Returns how many pieces were checked.
int expectAtTruth(const vcFlexAlignResult& r, const std::vector<vcXform<2>>& truth) {
  int checked = 0;
  for (std::size_t i = 0; i < r.positionIndices().size(); ++i) {
    const std::size_t k = static_cast<std::size_t>(r.positionIndices()[i]);
    if (sample().instanceShapes[k].empty()) continue;  // the blank place holder
    const vcPtrHandle_const<vc2XformBase> placement = sample().arrangement.positions()[k];
    const vcVector<2> c = placement->inverseBase()->mapPoint(sample().instanceCentres[k]);
    const vc2XformBase& found = r.subModelResults()[i]->pose();
    EXPECT_LT(found.mapPoint(c).distance(truth[k].mapPoint(c)), 0.1) << sample().instanceNames[k];
    const double da = (found.linearXform({0, 0}).matrix().rotation().toDouble() -
                       truth[k].matrix().rotation().toDouble()) *
                      vcDegPerRad;
    EXPECT_LT(std::fabs(da), 0.5) << sample().instanceNames[k];
    ++checked;
  }
  return checked;
}

TEST(FlexSample, RendersDeterministically) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), 5, 1.0);
  const vcFlexSampleImage a = vfRenderFlexSample(sample(), opt),
                          b = vfRenderFlexSample(sample(), opt);
  EXPECT_TRUE(vfPelEqual(a.image, b.image));
  opt.seed = 2;
  const vcFlexSampleImage c = vfRenderFlexSample(sample(), opt);
  EXPECT_FALSE(vfPelEqual(a.image, c.image));
  EXPECT_EQ(sample().arrangement.subModels().size(), 6u);
  EXPECT_EQ(a.truth.size(), 8u);
}

TEST(FlexSample, EveryPieceIsFoundWhereTheTruthSaysWithEachStrategy) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), 8.0, 1.05, 12, -9);
  opt.seed = 3;
  const vcFlexSampleImage img = vfRenderFlexSample(sample(), opt);
  const vc2XformLinear start(vfFlexSamplePose(sample(), 0.0, 1.0));
  for (D::RunStrategy strategy : {D::eIndependentSubModels, D::eLocallyFixturedSubModels}) {
    vcFlexAlignResultSet rs;
    pattern().run(img.image, start, {}, runParams(strategy), rs);
    ASSERT_EQ(rs.results().size(), 1u) << "strategy " << strategy;
    EXPECT_TRUE(rs.results()[0].found());
    EXPECT_EQ(expectAtTruth(rs.results()[0], img.truth), 7);
  }
}

TEST(FlexSample, OccludedPieceIsMissingAndTwoCopiesAreBothFound) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), -6.0, 1.0);
  opt.occludePiece = 4;  // the second key
  const vcFlexSampleImage hidden = vfRenderFlexSample(sample(), opt);
  vcFlexAlignResultSet rs;
  // Searched from the pieces found so far, the hidden key cannot take a neighbour's place.
  pattern().run(hidden.image, vc2XformLinear(vfFlexSamplePose(sample(), 0.0, 1.0)), {},
                runParams(D::eLocallyFixturedSubModels), rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const std::vector<long>& found = rs.results()[0].positionIndices();
  EXPECT_EQ(std::count(found.begin(), found.end(), 4), 0);
  EXPECT_EQ(expectAtTruth(rs.results()[0], hidden.truth), 6);

  opt.occludePiece = -1;
  opt.partPose = vfFlexSamplePose(sample(), 3.0, 0.6, -150, -90);
  opt.secondCopy = true;
  opt.secondPose = vfFlexSamplePose(sample(), -4.0, 0.62, 140, 95);
  const vcFlexSampleImage two = vfRenderFlexSample(sample(), opt);
  // Both copies lie in every wide window: searching each piece from those found before keeps
  // the combinations few.
  vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  rp.xyUncertainty(320, 240);
  rp.zoneRelStandard(D::eUniformScale, -0.45, -0.3);
  rp.numToFind(2);
  pattern().run(two.image, vc2XformLinear(vfFlexSamplePose(sample(), 0.0, 1.0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 2u);
  const bool firstIsA = rs.results()[0].location().distance(two.truth[0].mapPoint({0, 0})) <
                        rs.results()[0].location().distance(two.secondTruth[0].mapPoint({0, 0}));
  EXPECT_EQ(expectAtTruth(rs.results()[firstIsA ? 0 : 1], two.truth), 7);
  EXPECT_EQ(expectAtTruth(rs.results()[firstIsA ? 1 : 0], two.secondTruth), 7);
}

// A part moved without distortion is fitted exactly by every mode that can represent its move;
// an affinely distorted layout by the affine and polynomial modes.
TEST(FlexSample, FinalFitModesRecoverThePartPose) {
  auto poseError = [](const vcFlexAlignResult& r, const vcXform<2>& truth) {
    double e = 0;  // over the part's box, origin-frame coordinates
    for (const vcVector<2>& c : {vcVector<2>(-180, -130), vcVector<2>(180, -130),
                                 vcVector<2>(180, 130), vcVector<2>(-180, 130)})
      e = std::max(e, r.pose().mapPoint(c).distance(truth.mapPoint(c)));
    return e;
  };
  struct Case {
    vcXform<2> pose;
    std::vector<D::FinalFitMode> modes;
  };
  const vcXform<2> shear(vcMatrix<2>(1.03, 0.02, -0.01, 0.99), vcVector<2>());
  const std::vector<Case> cases = {
      {vfFlexSamplePose(sample(), 0.0, 1.0, 7.3, -4.6),
       {D::eLinearTranslation, D::eLinearTranslationRotation, D::eLinearTranslationScale,
        D::eLinearTranslationRotationScale, D::eLinearTranslationRotationScaleAspect,
        D::eLinearTranslationRotationScaleAspectSkew, D::ePolynomialOrder1}},
      {vfFlexSamplePose(sample(), 6.0, 1.04, 7.3, -4.6),
       {D::eAutomatic, D::eLinearTranslationRotationScale, D::eLinearTranslationRotationScaleAspect,
        D::eLinearTranslationRotationScaleAspectSkew, D::ePolynomialOrder1}},
      {vfFlexSamplePose(sample(), 4.0, 1.0, 5, 3) * shear,
       {D::eLinearTranslationRotationScaleAspectSkew, D::ePolynomialOrder1, D::ePolynomialOrder2}},
  };
  for (std::size_t ci = 0; ci < cases.size(); ++ci) {
    const Case& c = cases[ci];
    vcFlexSampleOptions opt;
    opt.partPose = c.pose;
    opt.maxShift = opt.maxTurnDeg = 0.0;
    opt.seed = 9;
    const vcFlexSampleImage img = vfRenderFlexSample(sample(), opt);
    for (D::FinalFitMode mode : c.modes) {
      vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
      if (ci < 2) {
        rp.zoneEnable(D::eAngle | D::eUniformScale | D::eXScale | D::eYScale);
        rp.zoneRelStandard(D::eXScale, -0.05, 0.05);
        rp.zoneRelStandard(D::eYScale, -0.05, 0.05);
      } else {
        // Skew needs the advanced set, here and in the pieces' own parameters.
        vcFlexSubModelGfndRunParams sub = subParams();
        sub.dofMode(vcFlexSubModelGfndDefs::eAdvanced);
        sub.zoneEnable(vcFlexSubModelParamsDefs::eRotation);
        sub.zoneRelAdvanced(vcFlexSubModelParamsDefs::eRotation, -4, 4);
        rp.standard(sub);
        rp.dofMode(D::eAdvanced);
        rp.zoneEnable(D::eRotation | D::eScale | D::eSkew | D::eAspect);
        rp.zoneRelAdvanced(D::eRotation, -15, 15);
        rp.zoneRelAdvanced(D::eScale, -0.1, 0.1);
        rp.zoneRelAdvanced(D::eSkew, -5, 5);
        rp.zoneRelAdvanced(D::eAspect, -0.05, 0.05);
      }
      rp.finalFitMode(mode);
      vcFlexAlignResultSet rs;
      pattern().run(img.image, vc2XformLinear(vfFlexSamplePose(sample(), 0.0, 1.0)), {}, rp, rs);
      ASSERT_EQ(rs.results().size(), 1u) << "mode " << mode;
      EXPECT_LT(poseError(rs.results()[0], c.pose), 0.3) << "mode " << mode;
    }
  }
}

TEST(FlexSample, RequiredPiecesAndExplicitGroups) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), 3.0, 1.0);
  opt.occludePiece = 1;  // the tab
  const vcFlexSampleImage img = vfRenderFlexSample(sample(), opt);
  const vc2XformLinear start(vfFlexSamplePose(sample(), 0.0, 1.0));
  vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  vcFlexSubModelGfndRunParams required = subParams();
  required.required(true);
  rp.custom(1, required);
  vcFlexAlignResultSet rs;
  pattern().run(img.image, start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_FALSE(rs.results()[0].found());
  EXPECT_EQ(rs.results()[0].infoStrings(),
            std::vector<std::string>{"One or more required sub-models are missing"});

  // Automatic order with an explicit order of groups {2}, {0}: only those run, in layout order.
  rp = runParams(D::eIndependentSubModels);
  rp.runOrder(std::vector<long>{2, 0});
  pattern().run(img.image, start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_EQ(rs.results()[0].positionIndices(), (std::vector<long>{2, 0}));  // leaf first
}

}  // namespace
