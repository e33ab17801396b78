#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "support/archive_check.h"
#include "vcFlexAlignTool.h"

namespace {

using D = vcFlexAlignDefs;

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const D::Errors& e) {
    return e.message();
  }
  return "no exception";
}

TEST(FlexAlignRunParams, SettersRefuseWithTheirMessagesAndChangeNothing) {
  vcFlexAlignRunParams p;
  EXPECT_EQ(p.numToFind(), 1);
  EXPECT_EQ(p.finalFitMode(), D::eAutomatic);
  EXPECT_EQ(p.xyOverlap(), 0.8);
  EXPECT_EQ(p.zoneEnable(), 0ul);
  EXPECT_NEAR(p.zoneLowRelStandard(D::eAngle), -45.0, 1e-12);
  EXPECT_NEAR(p.zoneHighRelStandard(D::eUniformScale), 0.2, 1e-12);
  p.xyUncertainty(3.0, 4.0);
  const vcFlexAlignRunParams before(p);
  EXPECT_EQ(messageOf([&] { p.numToFind(0); }), "numToFind must be at least 1");
  EXPECT_EQ(messageOf([&] { p.finalFitMode(static_cast<D::FinalFitMode>(12)); }),
            "Illegal final fit mode.");
  EXPECT_EQ(messageOf([&] { p.xyUncertainty(-1.0, 1.0); }), "Illegal x-translation uncertainty");
  EXPECT_EQ(messageOf([&] { p.xyUncertainty(9.0, -1.0); }), "Illegal y-translation uncertainty");
  EXPECT_EQ(messageOf([&] { p.xyOverlap(1.01); }), "xyOverlap must be between 0 and 1");
  EXPECT_EQ(messageOf([&] { p.acceptThreshold(-0.1); }),
            "accepthThreshold must be between 0 and 1");
  EXPECT_EQ(messageOf([&] { p.xyUncertaintyMode(static_cast<D::XYUncertaintyMode>(3)); }),
            "Illegal xy-uncertainty mode");
  EXPECT_EQ(messageOf([&] {
              p.runOrder({{0, 1}, {2, 0}});
            }),
            "One or more repeated sub-model instance indices specified.");
  EXPECT_EQ(messageOf([&] { p.zoneEnable(16); }), "Unknown DOF");
  EXPECT_EQ(messageOf([&] { p.zoneRelStandard(D::eUniformScale, -1.0, 0.5); }),
            "Illegal zone value(s): low must be <= high");
  EXPECT_THROW(p.dofMode(D::eCustom), D::BadParams);
  EXPECT_EQ(messageOf([&] { p.maxCandidates(0); }), "maxCandidates must be at least 1");
  EXPECT_EQ(messageOf([&] { p.candidateScoreMargin(1.5); }),
            "candidateScoreMargin must be between 0 and 1");
  EXPECT_EQ(messageOf([&] { p.maxCombinations(0); }), "maxCombinations must be at least 1");
  EXPECT_EQ(messageOf([&] { p.maxMisses(-1); }), "maxMisses must be at least 0");
  EXPECT_EQ(messageOf([&] { p.timeout(std::nan("")); }),
            "timeout must be a finite number of seconds, at least 0");
  EXPECT_EQ(messageOf([&] { p.timeout(-1); }),
            "timeout must be a finite number of seconds, at least 0");
  EXPECT_TRUE(p == before);
  EXPECT_EQ(p.maxCandidates(), 4);
  EXPECT_EQ(p.maxCombinations(), 64);
  EXPECT_EQ(p.maxMisses(), 3);
  p.xyOverlap(0.0);
  p.xyOverlap(1.0);
  p.zoneRelStandard(D::eAngle, 10, -10);  // angles are stored as given
  p.runOrder(std::vector<long>{2, 0, 1});
  EXPECT_EQ(p.runOrder(), (std::vector<std::vector<long>>{{2}, {0}, {1}}));
}

TEST(FlexAlignRunParams, DofModesKeepOrRebuildTheirZones) {
  vcFlexAlignRunParams p;
  EXPECT_THROW(p.zoneLowRelAdvanced(D::eSkew), D::WrongDOFMode);
  EXPECT_THROW(p.zoneOverlapAdvanced(D::eSkew), D::WrongDOFMode);
  p.zoneRelStandard(D::eAngle, -5, 5);
  p.dofMode(D::eStandard);  // the current mode again: kept
  EXPECT_EQ(p.zoneHighRelStandard(D::eAngle), 5);
  p.dofMode(D::eAdvanced);
  EXPECT_NEAR(p.zoneLowRelAdvanced(D::eSkew), -10.0, 1e-12);
  EXPECT_EQ(messageOf([&] { p.zoneOverlapAdvanced(D::eAspect, 0.5); }),
            "Illegal zoneOverlap value: must be >= 0.0 for angle and skew DOF; must be >= 1.0 "
            "for scale and aspect DOF");
  p.dofMode(D::eStandard);
  EXPECT_NEAR(p.zoneHighRelStandard(D::eAngle), 45.0, 1e-12);

  // The custom mode lives on the private class; through a public object's view it writes the
  // object itself.
  vc_FlexAlignRunParams& view = p.privData();
  view.dofMode(D::eCustom);
  EXPECT_EQ(p.dofMode(), D::eCustom);
  EXPECT_EQ(messageOf([&] { view.zoneLowRelCustom(1); }),
            "Custom DOF list has not been initialized");
  vcGeorapidDOFList list;
  list.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  view.customDofList(list);
  view.zoneRelCustom(2, -3.0, 7.0);
  EXPECT_EQ(p.privData().zoneHighRelCustom(2), 7.0);
  EXPECT_EQ(p.dofData().numDofs(), 2ul);
  EXPECT_EQ(messageOf([&] { view.zoneRelCustom(4, 0, 1); }), "Unknown DOF");
  EXPECT_THROW(view.zoneOverlapCustom(1), D::NotImplemented);
  EXPECT_THROW(p.zoneLowRelStandard(D::eAngle), D::WrongDOFMode);

  // Every setting made through the view is the object's own, and the other way round.
  vcFlexAlignRunParams rp;
  rp.privData().numToFind(5);
  EXPECT_EQ(rp.numToFind(), 5);
  rp.xyUncertainty(7, 8);
  EXPECT_EQ(rp.privData().yUncertainty(), 8);
  rp.privData().custom(3, vcFlexSubModelGfndRunParams());
  EXPECT_EQ(rp.customSubModelInstanceIndices(), std::vector<long>{3});
  EXPECT_EQ(&rp.privData(), &rp.privData());
  const vcFlexAlignRunParams copy(rp);  // a copy has settings (and a view) of its own
  rp.privData().numToFind(2);
  EXPECT_EQ(copy.numToFind(), 5);
  EXPECT_EQ(copy.privData().numToFind(), 5);
}

TEST(FlexAlignRunParams, CopiesEqualityAndArchives) {
  vcFlexSubModelGfndRunParams g;
  g.contrastThreshold(20);
  vcFlexAlignRunParams p(g);
  p.custom(4, vcFlexSubModelCorRunParams());
  p.zoneEnable(D::eAngle | D::eXScale);
  p.runOrder({{1, 2}, {0}});
  p.dofMode(D::eAdvanced);
  p.zoneRelAdvanced(D::eSkew, -2, 3);
  p.maxCandidates(2);
  p.candidateScoreMargin(0.3);
  p.maxCombinations(9);
  p.maxMisses(0);
  p.timeout(1.5);
  vcFlexAlignRunParams copy(p);
  EXPECT_TRUE(copy == p);
  EXPECT_NE(&copy.standard(), &p.standard());
  copy.custom(4, g);
  EXPECT_FALSE(copy == p);

  const vcTest::Bytes bytes = vcTest::storeBytes(p);
  vcFlexAlignRunParams back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  EXPECT_TRUE(back == p);
  EXPECT_EQ(back.timeout(), 1.5);
  vcTest::Bytes v3 = bytes;
  v3[0] = 3;
  EXPECT_THROW(vcTest::loadBytes(v3, back), vcArchive::UnknownVersion);
  EXPECT_TRUE(back == p);

  // Version 1 ended with the run order: the search bounds (28 bytes) take their defaults.
  constexpr std::size_t kBounds = 4 + 8 + 4 + 4 + 8;
  vcTest::Bytes v1 = bytes;
  v1[0] = 1;
  v1.resize(v1.size() - kBounds);
  EXPECT_EQ(vcTest::loadBytes(v1, back), 0u);
  EXPECT_EQ(back.maxCandidates(), vcFlexAlignRunParams().maxCandidates());
  EXPECT_EQ(back.timeout(), 0.0);
  EXPECT_EQ(back.runOrder(), p.runOrder());

  // Version 0 held one flat order list: [version][count][values] at the end.
  vcFlexAlignRunParams flat;
  vcTest::Bytes v0 = vcTest::storeBytes(flat);
  v0[0] = 0;
  v0.resize(v0.size() - 5 - kBounds);
  for (std::uint8_t b : {0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}) v0.push_back(b);
  EXPECT_EQ(vcTest::loadBytes(v0, back), 0u);
  EXPECT_EQ(back.runOrder(), (std::vector<std::vector<long>>{{2}, {0}, {1}}));

  const vcFlexAlignRunParams target;
  vcFlexAlignRunParams t;
  vcTest::expectDamageRefused(
      bytes, 300, 5,
      [&](const vcTest::Bytes& b) {
        t = vcFlexAlignRunParams();
        return vcTest::loadBytes(b, t);
      },
      [&] { return t == target; });
}

}  // namespace
