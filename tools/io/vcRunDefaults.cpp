#include "tools/io/vcRunDefaults.h"

namespace {

template <class P>
vcPtrHandle<vcFlexSubModelRunParams> withAngle(P p) {
  p.zoneEnable(p.zoneEnable() | vcFlexSubModelParamsDefs::eAngle);
  p.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -kVcDefaultPieceAngle, kVcDefaultPieceAngle);
  return p.clone();
}

}  // namespace

vcPtrHandle<vcFlexSubModelRunParams> vfDefaultPieceRunParams(const vcFlexSubModelTrainParams& t) {
  if (dynamic_cast<const vcFlexSubModelCorTrainParams*>(&t))
    return withAngle(vcFlexSubModelCorRunParams());
  return withAngle(vcFlexSubModelGfndRunParams());
}

vcFlexAlignRunParams vfDefaultRunParams(const vcFlexAlignTrainParams& train, long instances) {
  vcFlexAlignRunParams rp(*vfDefaultPieceRunParams(train.standard()));
  rp.runStrategy(vcFlexAlignDefs::eLocallyFixturedSubModels);
  for (long k = 0; k < instances; ++k) {
    const auto p = vfDefaultPieceRunParams(train.subModelInstanceParams(k));
    if (!p->equal(rp.standard())) rp.custom(k, *p);
  }
  return rp;
}
