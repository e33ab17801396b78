// The shared parts of sub-model parameters and results, seen through both concrete kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "params_test_util.h"
#include "support/archive_check.h"
#include "vcFlexSubModelParams.h"

namespace {

using vcTest::Bytes;

TEST(SubModelRunParamsBase, DefaultsAndRefusalsOfEitherKind) {
  vcFlexSubModelGfndRunParams g;
  vcFlexSubModelCorRunParams c;
  for (vcFlexSubModelRunParams* p :
       {static_cast<vcFlexSubModelRunParams*>(&g), static_cast<vcFlexSubModelRunParams*>(&c)}) {
    EXPECT_EQ(p->acceptThreshold(), 0.5);
    EXPECT_EQ(p->distortionRate(), 0.0);
    EXPECT_TRUE(p->useForFinalFit());
    EXPECT_TRUE(p->useForDeformationField());
    EXPECT_FALSE(p->required());

    p->acceptThreshold(0.0);
    p->acceptThreshold(1.0);
    EXPECT_EQ(thrownMessage<vcFlexAlignDefs::BadParams>([&] { p->acceptThreshold(1.0000001); }),
              "accepthThreshold must be between 0 and 1");
    EXPECT_EQ(thrownMessage<vcFlexAlignDefs::BadParams>([&] { p->acceptThreshold(-0.1); }),
              "accepthThreshold must be between 0 and 1");
    EXPECT_EQ(p->acceptThreshold(), 1.0);  // refusals changed nothing

    p->distortionRate(0.0);
    EXPECT_THROW(p->distortionRate(-1e-9), vcFlexAlignDefs::BadParams);
    EXPECT_EQ(p->distortionRate(), 0.0);
  }
}

TEST(SubModelRunParamsBase, SettersNotifyBeforeChanging) {
  vcFlexSubModelGfndRunParams p;
  p.notifyMutations(true);
  p.required(true);
  p.acceptThreshold(0.7);
  EXPECT_THROW(p.acceptThreshold(2.0), vcFlexAlignDefs::BadParams);
  EXPECT_EQ(p.mutationCount(), 2);
}

TEST(SubModelRunParamsBase, LevelLayoutAndDebugText) {
  vcFlexSubModelGfndRunParams p;
  const Bytes b = vcTest::storeBytes(p);
  // Geofind level's two version bytes, then this level: two version bytes, the 32-bit count,
  // two doubles and three bools.
  ASSERT_GE(b.size(), 27u);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(b[3], 0);
  EXPECT_EQ(readAt<std::int32_t>(b, 4), 1000);
  EXPECT_EQ(readAt<double>(b, 8), 0.5);
  EXPECT_EQ(readAt<double>(b, 16), 0.0);
  EXPECT_EQ(b[24], 1);
  EXPECT_EQ(b[25], 1);
  EXPECT_EQ(b[26], 0);

  Bytes bad = b;
  bad[3] = 1;
  vcFlexSubModelGfndRunParams q;
  try {
    vcTest::loadBytes(bad, q);
    FAIL() << "version 1 accepted";
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "baseprms");
  }

  p.acceptThreshold(0.456);
  const std::string s = p.toDebugString();
  const std::string pad(10, ' ');
  EXPECT_EQ(s.find(pad + "acceptThreshold = 0.46\n" + pad + "distortionRate = 0.00\n" + pad +
                   "useForFinalFit = true\n" + pad + "useForDeformationField = true\n" + pad +
                   "required = false\n"),
            0u);
}

TEST(SubModelTrainParamsBase, BasesCompareEqualAndEqualChecksType) {
  vcFlexSubModelGfndTrainParams g;
  vcFlexSubModelCorTrainParams c;
  const vcFlexSubModelTrainParams& a = g;
  const vcFlexSubModelTrainParams& b = c;
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a.equal(b));
  EXPECT_FALSE(b.equal(a));
  EXPECT_TRUE(a.equal(*a.clone()));
  // The private class is another concrete type.
  vc_SubModelCorTrainParams priv;
  EXPECT_FALSE(b.equal(priv));
}

TEST(SubModelResultBase, DefaultsAndDeepCopies) {
  vcFlexSubModelCorResult r;
  EXPECT_EQ(r.score(), 0.0);
  EXPECT_FALSE(r.accepted());
  EXPECT_EQ(r.location().x(), 0.0);
  EXPECT_EQ(r.location().y(), 0.0);
  EXPECT_EQ(r.angle().toDouble(), 0.0);
  EXPECT_EQ(r.xScale(), 1.0);
  EXPECT_EQ(r.yScale(), 1.0);
  EXPECT_TRUE(r.imageRegion().isNull());

  // 30 degrees, scale 2, at (5, -3).
  r.pose(new vc2XformLinear(vcMatrix<2>(2.0, 1.0, vcRadian(0), vcDegree(30)), {5, -3}));
  r.score(0.8);
  vcFlexSubModelCorResult copy(r);
  EXPECT_NE(copy.poseHandle().ptr(), r.poseHandle().ptr());
  EXPECT_NE(copy.arrangementFromSubModelHandle().ptr(), r.arrangementFromSubModelHandle().ptr());
  EXPECT_NEAR(copy.angle().toDouble(), 30.0, 1e-12);
  EXPECT_NEAR(copy.xScale(), 2.0, 1e-12);
  EXPECT_EQ(copy.location().x(), 5.0);
  EXPECT_EQ(copy.score(), 0.8);

  vcFlexSubModelCorResult assigned;
  assigned = r;
  EXPECT_NE(assigned.poseHandle().ptr(), r.poseHandle().ptr());
  EXPECT_EQ(assigned.location().y(), -3.0);

  r.pose(vcPtrHandle_const<vc2XformBase>());
  EXPECT_THROW(r.pose(), vcBadPointer);
  EXPECT_THROW(r.location(), vcBadPointer);
}

TEST(SubModelResultBase, DebugTextOrder) {
  vcFlexSubModelGfndResult r;
  const std::string s = r.toDebugString();
  std::size_t at = 0;
  for (const char* label :
       {"location = (", "pose = \n", "angle = ", "xScale = ", "yScale = ", "aspect = ", "skew = ",
        "arrangementFromSubModel = \n", "angle = ", "trans = ", "score = 0.000\n",
        "accepted = false\n", "contrast = ", "fitError = ", "coverage = ", "clutter = "}) {
    const std::size_t next = s.find(label, at);
    ASSERT_NE(next, std::string::npos) << label;
    at = next + 1;
  }
}

// ---------------------------------------------------------------------------------------------

vcPtrHandle<vcFlexSubModelResult> resultAt(double x, double score) {
  auto* r = new vcFlexSubModelGfndResult;
  r->pose(new vc2XformLinear(vcMatrix<2>(), {x, 0}));
  r->score(score);
  r->dofValues({1.0, 2.0});
  return vcPtrHandle<vcFlexSubModelResult>(r);
}

TEST(SubModelResultSet, CopiesShareStartPoseButNotResults) {
  vc_SubModelResultSet set;
  EXPECT_EQ(set.numFound(), 0);
  EXPECT_TRUE(set.startPose().isLinear());
  set.startPose(new vc2XformLinear(vcMatrix<2>(), {1, 2}));
  for (int i = 0; i < 3; ++i) set.addResult(resultAt(i, 0.5));
  const vc_SubModelResultSet copy(set);
  EXPECT_EQ(copy.numFound(), 0);
  EXPECT_EQ(&copy.startPose(), &set.startPose());
  vc_SubModelResultSet assigned;
  assigned.addResult(resultAt(9, 0.1));
  assigned = set;
  EXPECT_EQ(assigned.numFound(), 0);
  EXPECT_EQ(&assigned.startPose(), &set.startPose());
}

TEST(SubModelResultSet, ArchiveRoundTripAndOlderVersion) {
  vc_SubModelResultSet set;
  set.startPose(new vc2XformLinear(vcMatrix<2>(), {1, 2}));
  set.addResult(resultAt(3, 0.9));
  set.addResult(new vcFlexSubModelCorResult);
  const Bytes b = vcTest::storeBytes(set);
  EXPECT_EQ(b[0], 1);

  vc_SubModelResultSet back;
  EXPECT_EQ(vcTest::loadBytes(b, back), 0u);
  ASSERT_EQ(back.numFound(), 2);
  EXPECT_EQ(back.startPose().mapPoint({0, 0}).y(), 2.0);
  const auto results = back.results();
  const auto* g = dynamic_cast<const vcFlexSubModelGfndResult*>(results[0].ptr());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->score(), 0.9);
  EXPECT_EQ(g->location().x(), 3.0);
  EXPECT_EQ(g->dofValues(), (std::vector<double>{1.0, 2.0}));
  EXPECT_NE(dynamic_cast<const vcFlexSubModelCorResult*>(results[1].ptr()), nullptr);

  // Version 0 carried one more double right after the version byte.
  Bytes old;
  old.push_back(0);
  const double dropped = 123.0;
  const auto* d = reinterpret_cast<const std::uint8_t*>(&dropped);
  old.insert(old.end(), d, d + sizeof dropped);
  old.insert(old.end(), b.begin() + 1, b.end());
  vc_SubModelResultSet fromOld;
  EXPECT_EQ(vcTest::loadBytes(old, fromOld), 0u);
  EXPECT_EQ(fromOld.numFound(), 2);
  EXPECT_EQ(fromOld.startPose().mapPoint({0, 0}).x(), 1.0);

  Bytes v2 = b;
  v2[0] = 2;
  vc_SubModelResultSet fail;
  try {
    vcTest::loadBytes(v2, fail);
    FAIL() << "version 2 accepted";
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "submodtl");
  }
}

}  // namespace

// The uncertainty travels in version 1 of a result, after the older fields, and the angle's
// symmetry in version 2: older results load with none (a zero covariance, an angle of their
// own), and a covariance that is not one or a negative symmetry order is damage.
TEST(SubModelResultBase, UncertaintyArchiveAndOlderVersion) {
  vcFlexSubModelCorResult r;
  r.uncertainty(vcMatrix<2>(4.0, 1.0, 1.0, 0.5), 0.25, true);
  r.angleSymmetry(4);
  EXPECT_NEAR(r.positionEllipse().major, std::sqrt(2.25 + std::sqrt(3.0625 + 1.0)), 1e-12);
  EXPECT_GT(r.weakDirection().x(), 0.9);
  EXPECT_THROW(r.angleSymmetry(-1), vcFlexAlignDefs::BadParams);
  EXPECT_EQ(r.angleSymmetry(), 4);
  const Bytes b = vcTest::storeBytes(r);
  ASSERT_EQ(b[2], 2);  // the base level's version, after the correlation level's two bytes
  vcFlexSubModelCorResult back;
  EXPECT_EQ(vcTest::loadBytes(b, back), 0u);
  EXPECT_EQ(back.positionCovariance()(0, 1), 1.0);
  EXPECT_EQ(back.angleSigma(), 0.25);
  EXPECT_TRUE(back.positionWeak());
  EXPECT_EQ(back.angleSymmetry(), 4);

  Bytes v1 = b;
  v1[2] = 1;
  v1.resize(v1.size() - 8);
  vcFlexSubModelCorResult older;
  EXPECT_EQ(vcTest::loadBytes(v1, older), 0u);
  EXPECT_EQ(older.angleSigma(), 0.25);
  EXPECT_EQ(older.angleSymmetry(), 1);

  Bytes v0 = v1;
  v0[2] = 0;
  v0.resize(v0.size() - 4 * 8 - 1);
  vcFlexSubModelCorResult old;
  EXPECT_EQ(vcTest::loadBytes(v0, old), 0u);
  EXPECT_EQ(old.positionCovariance()(0, 0), 0.0);
  EXPECT_FALSE(old.positionWeak());

  vcFlexSubModelCorResult bad;
  bad.uncertainty(vcMatrix<2>(-1.0, 0.0, 0.0, 1.0), 0.0, false);
  EXPECT_THROW(vcTest::loadBytes(vcTest::storeBytes(bad), back), vcArchive::BadData);
  Bytes negative = b;
  for (std::size_t k = negative.size() - 8; k < negative.size(); ++k) negative[k] = 0xFF;
  EXPECT_THROW(vcTest::loadBytes(negative, back), vcArchive::BadData);
  EXPECT_EQ(back.angleSigma(), 0.25);  // left as it was
  EXPECT_EQ(back.angleSymmetry(), 4);
}
