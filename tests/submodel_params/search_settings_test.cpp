// The search settings both engines' run parameters share, read and written through the base.
#include <gtest/gtest.h>

#include "params_test_util.h"
#include "vcFlexSubModelParams.h"

namespace {

using SD = vcFlexSubModelParamsDefs;
using Z = vc_SubModelZones;

// Run parameters of no engine.
class NoEngineRunParams : public vcFlexSubModelRunParams {
 public:
  vcPtrHandle<vcFlexSubModelRunParams> clone() const override {
    return vcPtrHandle<vcFlexSubModelRunParams>(new NoEngineRunParams(*this));
  }
  bool equal(const vcFlexSubModelRunParams&) const override { return false; }
};

TEST(SubModelSearchSettings, EngineKindOfEveryClass) {
  EXPECT_EQ(vcFlexSubModelGfndRunParams().engine(), SD::eGeofindEngine);
  EXPECT_EQ(vc_SubModelGfndRunParams().engine(), SD::eGeofindEngine);
  EXPECT_EQ(vcFlexSubModelCorRunParams().engine(), SD::eCorrelationEngine);
  EXPECT_EQ(vcFlexSubModelGfndTrainParams().engine(), SD::eGeofindEngine);
  EXPECT_EQ(vcFlexSubModelCorTrainParams().engine(), SD::eCorrelationEngine);
  EXPECT_EQ(vcFlexSubModelGfndResult().engine(), SD::eGeofindEngine);
  EXPECT_EQ(vcFlexSubModelCorResult().engine(), SD::eCorrelationEngine);
  EXPECT_EQ(NoEngineRunParams().engine(), SD::eNoEngine);
}

TEST(SubModelSearchSettings, UncertaintyAndZonesThroughTheBase) {
  vcFlexSubModelGfndRunParams g;
  vcFlexSubModelCorRunParams c;
  for (vcFlexSubModelRunParams* p :
       {static_cast<vcFlexSubModelRunParams*>(&g), static_cast<vcFlexSubModelRunParams*>(&c)}) {
    p->xyUncertainty(3.0, 4.0);
    EXPECT_EQ(p->xUncertainty(), 3.0);
    EXPECT_EQ(p->yUncertainty(), 4.0);
    EXPECT_EQ(thrownMessage<vcFlexAlignDefs::BadParams>([&] { p->xyUncertainty(-1.0, 0.0); }),
              "Illegal x-translation uncertainty");
    p->zoneEnable(SD::eAngle | SD::eUniformScale);
    p->searchZone(SD::eAngle, -5.0, 7.0);
    p->searchZone(SD::eUniformScale, -0.1, 0.2);
    // Scale-like zones stay relative factors, checked as the concrete setters check them.
    EXPECT_THROW(p->searchZone(SD::eUniformScale, -1.5, 0.2), vcFlexAlignDefs::BadParams);
    p->expandSearchZone(SD::eUniformScale, -0.1, 0.1);  // (1 + o)(1 + a) - 1
    const Z z = p->searchZones();
    EXPECT_EQ(z.set, Z::eStandard);
    EXPECT_EQ(z.enabled, 3ul);
    EXPECT_EQ(z.low[0], -5.0);
    EXPECT_EQ(z.high[0], 7.0);
    EXPECT_NEAR(z.low[1], -0.19, 1e-12);
    EXPECT_NEAR(z.high[1], 0.32, 1e-12);
  }
  EXPECT_EQ(g.zoneLowRelStandard(SD::eAngle), -5.0);
  EXPECT_EQ(c.zoneHighRelStandard(SD::eUniformScale), c.searchZones().high[1]);
  // Correlation has no axis scales to set.
  EXPECT_THROW(c.searchZone(SD::eXScale, -0.1, 0.1), vcFlexAlignDefs::NotImplemented);
}

TEST(SubModelSearchSettings, GeofindZonesFollowTheDofMode) {
  vcFlexSubModelGfndRunParams g;
  g.dofMode(vcFlexSubModelGfndDefs::eAdvanced);
  g.zoneEnable(SD::eSkew);
  g.searchZone(SD::eSkew, -2.0, 3.0);
  EXPECT_EQ(g.zoneHighRelAdvanced(SD::eSkew), 3.0);
  Z z = g.searchZones();
  EXPECT_EQ(z.set, Z::eAdvanced);
  EXPECT_EQ(z.enabled, static_cast<unsigned long>(SD::eSkew));
  EXPECT_EQ(z.low[2], -2.0);

  vc_SubModelGfndRunParams custom;
  custom.dofMode(vcFlexSubModelGfndDefs::eCustom);
  z = custom.searchZones();
  EXPECT_EQ(z.set, Z::eCustom);
  EXPECT_EQ(z.enabled, 0ul);
  EXPECT_THROW(custom.searchZone(SD::eAngle, -1.0, 1.0), vcFlexAlignDefs::WrongDOFMode);
}

TEST(SubModelSearchSettings, ParametersOfNoEngineHaveNothingToSearchBy) {
  NoEngineRunParams p;
  EXPECT_EQ(p.xUncertainty(), 0.0);
  EXPECT_EQ(p.zoneEnable(), 0ul);
  EXPECT_EQ(p.searchZones().set, Z::eNone);
  EXPECT_THROW(p.xyUncertainty(1.0, 1.0), vcFlexAlignDefs::NotImplemented);
  EXPECT_THROW(p.searchZone(SD::eAngle, -1.0, 1.0), vcFlexAlignDefs::NotImplemented);
  EXPECT_THROW(p.expandSearchZone(SD::eAngle, -1.0, 1.0), vcFlexAlignDefs::NotImplemented);
  EXPECT_THROW(p.zoneEnable(1), vcFlexAlignDefs::NotImplemented);
}

}  // namespace
