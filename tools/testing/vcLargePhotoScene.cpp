#include "tools/testing/vcLargePhotoScene.h"

vcLargePhotoScene vfMakeLargePhotoScene(std::uint32_t seed) {
  constexpr double kScale = 6.0;
  vcLargePhotoScene s;
  s.part = vfMakeScaledPhotoPart("motorcycle", kScale, 4000, 3000);
  s.start = vcXform<2>(vcMatrix<2>(), s.part.partCentre);
  s.trainParams = vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams());

  vcPhotoSceneOptions o;
  o.angleDeg = 2.5, o.scale = 1.02, o.shift = vcVector<2>(36, -24);
  o.maxShift = 3.0 * kScale, o.maxTurnDeg = 2.0;
  o.noiseSigma = 5.0;
  o.seed = seed;
  s.run = vfRenderPhotoScene(s.part, o);

  using SD = vcFlexSubModelParamsDefs;
  using D = vcFlexAlignDefs;
  vcFlexSubModelGfndRunParams piece;
  piece.xyUncertainty(24, 24);
  piece.zoneEnable(SD::eAngle);
  piece.zoneRelStandard(SD::eAngle, -4, 4);
  s.runParams = vcFlexAlignRunParams(piece);
  s.runParams.runStrategy(D::eLocallyFixturedSubModels);
  s.runParams.xyUncertainty(60, 60);
  s.runParams.zoneEnable(D::eAngle | D::eUniformScale);
  s.runParams.zoneRelStandard(D::eAngle, -6, 6);
  s.runParams.zoneRelStandard(D::eUniformScale, -0.05, 0.05);
  return s;
}
