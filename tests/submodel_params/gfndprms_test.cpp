// Geofind sub-model parameters: defaults, refusals, DOF modes, archives, parameter packs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <typeinfo>

#include "params_test_util.h"
#include "support/archive_check.h"
#include "vcFlexSubModelParams.h"

namespace {

using D = vcFlexSubModelParamsDefs;
using G = vcFlexSubModelGfndDefs;
using Bad = vcFlexAlignDefs::BadParams;
using WrongMode = vcFlexAlignDefs::WrongDOFMode;

TEST(GfndTrainParams, DefaultsAndRefusals) {
  vcFlexSubModelGfndTrainParams p;
  EXPECT_FALSE(p.ignorePolarity());
  EXPECT_TRUE(p.autoSelectGrainLimits());
  EXPECT_EQ(p.elasticity(), 0.0);
  EXPECT_EQ(p.coarseGrainLimit(), 4.0f);
  EXPECT_EQ(p.fineGrainLimit(), 1.0f);
  EXPECT_EQ(p.algorithms(), 1ul);
  EXPECT_EQ(p.customizeString(), "");

  const char* grainMsg =
      "Illegal grainLimits value(s): must be >= 1.0 and <= 25.5, also fine must be <= coarse";
  p.grainLimits(4, 1);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.grainLimits(1, 4); }), grainMsg);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.grainLimits(26, 1); }), grainMsg);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.grainLimits(4, 0.5f); }), grainMsg);
  p.grainLimits(25.5f, 25.5f);
  EXPECT_EQ(p.fineGrainLimit(), 25.5f);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.elasticity(-0.5); }),
            "Illegal elasticity value: must be >= 0");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.algorithms(4); }), "");
  EXPECT_THROW(p.algorithms(0), Bad);
  p.algorithms(3);
  const std::string s = p.toDebugString();
  EXPECT_LT(s.find("algorithms = vcFlexSubModelGfndDefs::eGeorapid \n"),
            s.find("vcFlexSubModelGfndDefs::eGeofind \n"));
  EXPECT_LT(s.find("ignorePolarity = "), s.find("customizeString = "));
}

TEST(GfndRunParams, DefaultsAndRefusals) {
  vcFlexSubModelGfndRunParams p;
  EXPECT_EQ(p.contrastThreshold(), 10.0);
  EXPECT_EQ(p.xyOverlap(), 0.8);
  EXPECT_TRUE(p.scoreUsingClutter());
  EXPECT_FALSE(p.saveMatchInfo());
  EXPECT_EQ(p.algorithm(), G::eGeorapid);
  EXPECT_EQ(p.xyUncertaintyMode(), D::eElliptical);
  EXPECT_EQ(p.dofMode(), G::eStandard);
  EXPECT_EQ(p.zoneEnable(), 0ul);
  EXPECT_EQ(p.dofList().size(), 4u);

  EXPECT_EQ(thrownMessage<Bad>([&] { p.contrastThreshold(-1); }),
            "Illegal contrastThreshold value: must be >= 0.0");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyOverlap(1.01); }),
            "Illegal xyOverlap value: must be >= 0.0 and <= 1.0");
  p.xyOverlap(1.0);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertainty(-1, -1); }),
            "Illegal x-translation uncertainty");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertainty(1, -1); }),
            "Illegal y-translation uncertainty");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.xyUncertaintyMode(D::XYUncertaintyMode(0)); }),
            "Illegal xy-uncertainty mode");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.algorithm(G::Algorithm(3)); }), "");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.dofMode(G::eCustom); }), "");

  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneRelStandard(D::eUniformScale, -1.0, 0.2); }),
            "Illegal relative zone value(s)");
  EXPECT_THROW(p.zoneRelStandard(D::eYScale, 0.1, 0.0), Bad);
  p.zoneRelStandard(D::eAngle, -90, 90);
  EXPECT_EQ(p.zoneLowRelStandard(D::eAngle), -90.0);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneOverlapStandard(D::eXScale, 0.5); }),
            "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale "
            "DOFs");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneLowRelStandard(D::StandardDOF(6)); }), "Unknown DOF");
  EXPECT_THROW(p.zoneEnable(16), Bad);
  // Advanced accessors refuse in standard mode, before looking at the DOF.
  EXPECT_THROW(p.zoneLowRelAdvanced(D::AdvancedDOF(6)), WrongMode);
  EXPECT_THROW(p.zoneOverlapAdvanced(D::eSkew, 1.0), WrongMode);
}

TEST(GfndRunParams, ModeSwitchingRestoresDefaults) {
  vcFlexSubModelGfndRunParams fresh, p;
  p.zoneEnable(D::eAngle | D::eXScale);
  p.zoneRelStandard(D::eXScale, -0.5, 0.1);
  p.dofMode(G::eAdvanced);
  EXPECT_EQ(p.zoneEnable(), 0ul);
  EXPECT_EQ(p.zoneLowRelAdvanced(D::eSkew), -5.0);
  EXPECT_EQ(p.zoneOverlapAdvanced(D::eSkew), 30.0);
  EXPECT_EQ(typeid(*p.dofList().head()), typeid(vcGeorapidAspectLinear));
  EXPECT_THROW(p.zoneLowRelStandard(D::eAngle), WrongMode);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneOverlapAdvanced(D::eAspect, 0.9); }),
            "Illegal zoneOverlap value: must be >= 0.0 for angle and skew DOF; must be >= 1.0 "
            "for scale and aspect DOF");
  p.zoneOverlapAdvanced(D::eSkew, 0.0);
  p.zoneRelAdvanced(D::eSkew, 3, -3);  // skew offsets stored as given

  p.dofMode(G::eStandard);
  EXPECT_TRUE(p == fresh);
  EXPECT_EQ(typeid(*p.dofList().head()), typeid(vcGeorapidYScale));
  // The table configured the list: a disabled DOF is pinned at its nominal.
  EXPECT_EQ(p.dofList().head()->low(), 1.0);
  EXPECT_EQ(p.dofList().head()->high(), 1.0);

  // Setting the mode already in force keeps the zones.
  p.zoneRelStandard(D::eAngle, -1, 1);
  p.dofMode(G::eStandard);
  EXPECT_EQ(p.zoneHighRelStandard(D::eAngle), 1.0);
}

TEST(GfndRunParams, CustomMode) {
  vc_SubModelGfndRunParams p;
  p.dofMode(G::eCustom);
  const char* noList = "Custom DOF list has not been initialized";
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneEnable(); }), noList);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneLow(1); }), noList);
  EXPECT_THROW(p.zoneRelStandard(D::eAngle, 0, 0), WrongMode);

  vcGeorapidDOFList list;
  list.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  p.customDofList(list);
  EXPECT_EQ(p.dofData().numDofs(), 2ul);
  EXPECT_EQ(p.zoneLow(2), 0.0);
  EXPECT_EQ(p.zoneOverlapCustom(1), 1.0);
  p.zone(2, 0.5, 2.0);
  p.zoneOverlapCustom(2, 0.1);
  EXPECT_EQ(p.zoneHigh(2), 2.0);
  p.zoneEnable(3);
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zoneEnable(4); }), "Unknown DOF");
  EXPECT_EQ(thrownMessage<Bad>([&] { p.zone(4, 0, 1); }), "Unknown DOF");
  EXPECT_NE(p.toDebugString().find("DOF #2 range (absolute): (0.5, 2) overlap: 0.1\n"),
            std::string::npos);

  vcPtrHandle<vcFlexSubModelRunParams> back = roundTripThroughBase<vcFlexSubModelRunParams>(p);
  ASSERT_EQ(typeid(*back), typeid(vc_SubModelGfndRunParams));
  EXPECT_TRUE(back->equal(p));
  EXPECT_TRUE(p.clone()->equal(p));

  // Leaving custom mode drops the caller's list.
  p.dofMode(G::eAdvanced);
  EXPECT_EQ(p.dofList().size(), 4u);
  EXPECT_THROW(p.customDofList(list), WrongMode);
}

// The custom mode of an object built as the public class lands in that object.
TEST(GfndRunParams, PrivatePartOfPublicObject) {
  vcFlexSubModelGfndRunParams p;
  vc_SubModelGfndRunParams& d = p.privData();
  EXPECT_EQ(typeid(d), typeid(vc_SubModelGfndRunParams));
  d.dofMode(G::eCustom);
  EXPECT_EQ(p.dofMode(), G::eCustom);
  vcGeorapidDOFList list;
  list.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  d.customDofList(list);
  d.zone(2, 0.5, 2.0);
  EXPECT_EQ(p.dofList().size(), 2u);
  const vcFlexSubModelGfndRunParams copy(p);
  EXPECT_EQ(copy.privData().zoneHigh(2), 2.0);
  EXPECT_TRUE(copy.clone()->equal(p));
  p.dofMode(G::eStandard);
  EXPECT_THROW(d.zoneLow(2), WrongMode);
}

TEST(GfndParams, ArchiveThroughBaseAndDamage) {
  vcFlexSubModelGfndRunParams run;
  run.dofMode(G::eAdvanced);
  run.zoneEnable(D::eRotation | D::eAspect);
  run.zoneRelAdvanced(D::eAspect, -0.1, 0.3);
  run.xyUncertainty(12, 7);
  run.algorithm(G::eGeofind);
  run.saveMatchInfo(true);
  vcPtrHandle<vcFlexSubModelRunParams> back = roundTripThroughBase<vcFlexSubModelRunParams>(run);
  ASSERT_EQ(typeid(*back), typeid(vcFlexSubModelGfndRunParams));
  EXPECT_TRUE(back->equal(run));
  const auto& g = static_cast<const vcFlexSubModelGfndRunParams&>(*back);
  EXPECT_EQ(g.zoneHighRelAdvanced(D::eAspect), 0.3);
  EXPECT_EQ(g.dofList().size(), 4u);

  vcFlexSubModelGfndTrainParams train;
  train.customize("a = 1\n");
  train.elasticity(2.5);
  vcPtrHandle<vcFlexSubModelTrainParams> t = roundTripThroughBase<vcFlexSubModelTrainParams>(train);
  EXPECT_TRUE(t->equal(train));
  vcFlexSubModelGfndTrainParams other = train;
  other.elasticity(2.0);
  EXPECT_FALSE(other.equal(train));

  vcTest::Bytes b = vcTest::storeBytes(run);
  b[0] = 1;
  try {
    vcFlexSubModelGfndRunParams q;
    vcTest::loadBytes(b, q);
    FAIL();
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "gfndprms");
  }

  // A damaged archive either loads or throws an error of the library; a loaded object must
  // still answer its accessors.
  const vcTest::Bytes good = vcTest::storeBytes(run);
  int loaded = 0;
  vcTest::forEachDamagedCopy(good, 300, 7, [&](const vcTest::Bytes& bytes) {
    vcFlexSubModelGfndRunParams q;
    try {
      vcTest::loadBytes(bytes, q);
    } catch (const vcException&) {
      return;
    }
    ++loaded;
    (void)q.toDebugString();
    (void)q.clone()->equal(q);
  });
  EXPECT_GT(loaded, 0);
}

struct PackFile {
  explicit PackFile(const std::string& text)
      : path((std::filesystem::temp_directory_path() /
              ("vcflex_pack_" + std::to_string(::getpid()) + ".txt"))
                 .string()) {
    std::ofstream(path) << text;
  }
  ~PackFile() { std::remove(path.c_str()); }
  std::string path;
};

TEST(GfndTrainParams, CustomizeFromParameterPack) {
  vcFlexSubModelGfndTrainParams p;
  {
    PackFile f("# engine tuning\n\n  edge.threshold =  12 \r\nmode=fast\nempty =\n");
    p.customizeFromFile(f.path);
  }
  EXPECT_EQ(p.customizeString(), "edge.threshold = 12\nmode = fast\nempty = \n");

  // Each failure is the library's exception for the reader's status, and keeps the text.
  const auto thrown = [](auto&& call) {
    try {
      call();
    } catch (const vcExceptionWithString& e) {
      return std::string(typeid(e).name()) + ": " + e.message(false);
    }
    return std::string("nothing thrown");
  };
  const std::string badParams = thrown([] { vfThrowExceptionOnFailure(vcStatusBadParams); });
  const std::string ioError = thrown([] { vfThrowExceptionOnFailure(vcStatusIoError); });
  const std::string before = p.customizeString();
  for (const char* bad : {"a = 1\nno equals sign here\n", "a = 1\na = 2\n", " = 3\n"}) {
    PackFile f(bad);
    EXPECT_EQ(thrown([&] { p.customizeFromFile(f.path); }), badParams) << bad;
  }
  EXPECT_EQ(thrown([&] { p.customizeFromFile("/nonexistent/dir/pack.txt"); }), ioError);
  EXPECT_EQ(thrown([&] { p.customizeFromFile(std::filesystem::temp_directory_path().string()); }),
            ioError);
  EXPECT_EQ(p.customizeString(), before);
}

}  // namespace
