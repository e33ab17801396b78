// Correlation sub-model parameters: defaults, refusals, private settings and archives.
#include <gtest/gtest.h>

#include <cmath>
#include <typeinfo>

#include "params_test_util.h"
#include "support/archive_check.h"
#include "vcFlexSubModelParams.h"

namespace {

using D = vcFlexSubModelParamsDefs;
using NotImpl = vcFlexAlignDefs::NotImplemented;
using Bad = vcFlexAlignDefs::BadParams;

// An object built as the public class has a real private part: its dynamic type is the private
// class, and its settings are the owner's, also in copies.
TEST(CorParams, PrivatePartOfPublicObject) {
  vcFlexSubModelCorTrainParams train;
  vc_SubModelCorTrainParams& tp = train.privData();
  EXPECT_EQ(typeid(tp), typeid(vc_SubModelCorTrainParams));
  tp.stepSizes(D::eAngle, 4.0, 0.5);
  tp.zoneNominal(D::eUniformScale, 1.5);
  train.accuracies(2);
  EXPECT_EQ(train.privData().accuracies(), 2ul);
  vcFlexSubModelCorTrainParams copy(train);
  EXPECT_EQ(copy.privData().fineStep(D::eAngle), 0.5);
  EXPECT_EQ(copy.privData().zoneNominal(D::eUniformScale), 1.5);
  copy.privData().stepSizes(D::eAngle, 4.0, 0.25);
  EXPECT_EQ(tp.fineStep(D::eAngle), 0.5);
  EXPECT_FALSE(copy == train);

  vcFlexSubModelCorRunParams run;
  const vcFlexSubModelCorRunParams& crun = run;
  EXPECT_EQ(typeid(crun.privData()), typeid(vc_SubModelCorRunParams));
  run.privData().neighborAcceptThreshold(0.3);
  EXPECT_EQ(crun.privData().neighborAcceptThreshold(), 0.3);
  EXPECT_FALSE(run == vcFlexSubModelCorRunParams());
  vc_SubModelCorRunParams priv;
  EXPECT_EQ(&priv.vcFlexSubModelCorRunParams::privData(), &priv);
}

TEST(CorTrainParams, DefaultsAndRefusals) {
  vc_SubModelCorTrainParams p;
  EXPECT_EQ(p.accuracies(), 1ul);
  EXPECT_EQ(p.coarseGrainLimit(), 4.0);
  EXPECT_EQ(p.zoneAllowed(), 0ul);
  EXPECT_EQ(p.zoneMaxRangeStandard(D::eAngle), 45.0);
  EXPECT_NEAR(p.zoneMaxRangeStandard(D::eUniformScale), 0.2, 1e-12);
  EXPECT_EQ(p.coarseStep(D::eAngle), 5.0);
  EXPECT_EQ(p.fineStep(D::eUniformScale), 0.02);
  EXPECT_EQ(p.zoneNominal(D::eUniformScale), 1.0);

  EXPECT_EQ(thrownMessage<NotImpl>([&] { p.accuracies(3); }), "");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.accuracies(0); }), "");
  p.accuracies(2);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.coarseGrainLimit(25.6); }),
            "granularity must be >= 1.0 and <= 25.5");
  EXPECT_THROW(p.coarseGrainLimit(0.99), Bad);
  p.coarseGrainLimit(25.5);

  EXPECT_THROW(p.zoneAllowed(D::eXScale), NotImpl);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneAllowed(16); }), "Unknown DOF");
  p.zoneAllowed(D::eAngle | D::eUniformScale);

  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneMaxRangeStandard(D::eUniformScale, 1.0); }),
            "Illegal max zone range value(s)");
  EXPECT_THROW(p.zoneMaxRangeStandard(D::eAngle, -1.0), Bad);
  p.zoneMaxRangeStandard(D::eUniformScale, 0.99);
  EXPECT_EQ(p.dofData().getMinOffset(D::eUniformScale), -0.99);
  EXPECT_EQ(p.dofData().getMaxOffset(D::eUniformScale), 0.99);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneMaxRangeStandard(D::StandardDOF(3), 1.0); }),
            "Unknown DOF");
  EXPECT_THROW(p.zoneMaxRangeStandard(D::eYScale), NotImpl);

  const char* stepMsg = "Illegal step size(s): fine must be > 0.0 and < coarse";
  EXPECT_EQ(thrownMessage<Bad>([&] { p.stepSizes(D::eAngle, 1.0, 1.0); }), stepMsg);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.stepSizes(D::eAngle, 1.0, 0.0); }), stepMsg);
  EXPECT_THROW(p.stepSizes(D::eXScale, 1.0, 0.5), NotImpl);
  p.stepSizes(D::eAngle, 2.0, 0.25);
  EXPECT_EQ(p.fineStep(D::eAngle), 0.25);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneNominal(D::eUniformScale, 0.0); }),
            "Illegal range center value: center must be > 0.0");
  p.zoneNominal(D::eAngle, -10.0);  // any angle centre
  EXPECT_EQ(p.zoneNominal(D::eAngle), -10.0);

  // Every refusal above left the accepted values in place.
  EXPECT_EQ(p.accuracies(), 2ul);
  EXPECT_EQ(p.coarseGrainLimit(), 25.5);
  EXPECT_EQ(p.coarseStep(D::eAngle), 2.0);
}

TEST(CorRunParams, DefaultsAndRefusals) {
  vc_SubModelCorRunParams p;
  EXPECT_EQ(p.neighborAcceptThreshold(), -2.0);
  EXPECT_EQ(p.xyOverlap(), 0.5);
  EXPECT_EQ(p.xyUncertaintyMode(), D::eElliptical);
  EXPECT_EQ(p.partialMatch(), vcPelRect(0, 0, 1, 1));
  EXPECT_EQ(p.zoneLowRelStandard(D::eAngle), -45.0);
  EXPECT_EQ(p.zoneOverlapStandard(D::eAngle), 360.0);
  EXPECT_EQ(p.zoneOverlapStandard(D::eUniformScale), 1.4);

  EXPECT_THROW(p.zoneLowRelStandard(D::eXScale), NotImpl);
  EXPECT_THROW(p.zoneEnable(D::eYScale | D::eAngle), NotImpl);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneRelStandard(D::eUniformScale, -1.0, 0.2); }),
            "Illegal relative zone value(s)");
  EXPECT_THROW(p.zoneRelStandard(D::eUniformScale, 0.3, 0.2), Bad);
  p.zoneRelStandard(D::eAngle, 30, -30);  // angle offsets are not ordered here
  p.zoneRelStandard(D::eUniformScale, -0.5, 0.5);
  EXPECT_EQ(p.zoneHighRelStandard(D::eUniformScale), 0.5);
  const char* overlapMsg =
      "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale DOFs";
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneOverlapStandard(D::eUniformScale, 0.99); }), overlapMsg);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneOverlapStandard(D::eAngle, -0.01); }), overlapMsg);
  p.zoneOverlapStandard(D::eAngle, 0.0);

  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertainty(-1, 5); }),
            "Illegal x-translation uncertainty");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertainty(5, -1); }),
            "Illegal y-translation uncertainty");
  EXPECT_EQ(p.xUncertainty(), 0.0);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertaintyMode(D::XYUncertaintyMode(3)); }),
            "Illegal xy-uncertainty mode");
  EXPECT_THROW(p.xyOverlap(-0.1), Bad);
  p.xyOverlap(2.0);  // no upper bound for this engine
}

TEST(CorParams, ArchiveThroughBaseKeepsClassAndFields) {
  vc_SubModelCorRunParams run;
  run.zoneEnable(D::eAngle);
  run.zoneRelStandard(D::eAngle, -10, 20);
  run.xyUncertainty(3, 4);
  run.partialMatch(vcPelRect(1, 2, 30, 40));
  run.neighborAcceptThreshold(0.25);
  run.acceptThreshold(0.7);
  vcPtrHandle<vcFlexSubModelRunParams> back = roundTripThroughBase<vcFlexSubModelRunParams>(run);
  ASSERT_NE(dynamic_cast<vc_SubModelCorRunParams*>(back.ptr()), nullptr);
  EXPECT_TRUE(back->equal(run));
  EXPECT_EQ(back->acceptThreshold(), 0.7);

  vcFlexSubModelCorTrainParams train;
  train.privData().stepSizes(D::eUniformScale, 0.1, 0.01);
  train.accuracies(2);
  vcPtrHandle<vcFlexSubModelTrainParams> t = roundTripThroughBase<vcFlexSubModelTrainParams>(train);
  ASSERT_EQ(typeid(*t), typeid(vcFlexSubModelCorTrainParams));
  EXPECT_TRUE(t->equal(train));
  EXPECT_TRUE(train.clone()->equal(train));

  vcFlexSubModelCorTrainParams other(train);
  other.privData().stepSizes(D::eUniformScale, 0.1, 0.02);
  EXPECT_FALSE(other == train);

  // The private level names its own source.
  vcTest::Bytes b = vcTest::storeBytes(run);
  b[1] = 1;
  vc_SubModelCorRunParams q;
  try {
    vcTest::loadBytes(b, q);
    FAIL();
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "corprms_priv");
  }
}

TEST(CorParams, DebugTextListsEnabledDofs) {
  vcFlexSubModelCorRunParams run;
  run.zoneEnable(D::eUniformScale);
  const std::string s = run.toDebugString();
  EXPECT_NE(s.find("zoneEnable = \n"), std::string::npos);
  EXPECT_NE(s.find("vcFlexSubModelParamsDefs::eUniformScale\n"), std::string::npos);
  EXPECT_EQ(s.find("vcFlexSubModelParamsDefs::eAngle"), std::string::npos);
  EXPECT_NE(s.find("Angle (relative to start pose): (-45, 45)\n"), std::string::npos);
  EXPECT_NE(s.find("partialMatch = (0, 0, 1, 1)\n"), std::string::npos);
  vcFlexSubModelCorTrainParams train;
  const std::string t = train.toDebugString();
  EXPECT_LT(t.find("accuracies =  \n"), t.find("vcFlexSubModelCorDefs::eCoarseAlign \n"));
  EXPECT_EQ(t.find("eFineAlign"), std::string::npos);
}

}  // namespace
