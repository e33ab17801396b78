// Private correlation parameter classes: the same data, with the step sizes, zone nominals and
// neighbour threshold made public for the library's own callers.
#include <typeinfo>

#include "platform/core/vcArchive.h"
#include "submodel_params/baseprms_util.h"
#include "vcFlexSubModelParams.h"

vcPtrHandle<vcFlexSubModelTrainParams> vc_SubModelCorTrainParams::clone() const {
  return new vc_SubModelCorTrainParams(*this);
}

void vc_SubModelCorTrainParams::dispatchSerialize(vcArchive& ar) {
  // The private level adds no data, so its mark can equal the public level's; it is set only
  // after the public level has been handled, so the public level is never skipped.
  if (ar.haveVisited(this, typeid(vc_SubModelCorTrainParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc_SubModelCorTrainParams));
}

void vc_SubModelCorTrainParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "corprms_priv", __LINE__);
  vcFlexSubModelCorTrainParams::dispatchSerialize(ar);
}

vcPersistent* vc_SubModelCorTrainParams::make() { return new vc_SubModelCorTrainParams; }

vcPtrHandle<vcFlexSubModelRunParams> vc_SubModelCorRunParams::clone() const {
  return new vc_SubModelCorRunParams(*this);
}

void vc_SubModelCorRunParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc_SubModelCorRunParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc_SubModelCorRunParams));
}

void vc_SubModelCorRunParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "corprms_priv", __LINE__);
  vcFlexSubModelCorRunParams::dispatchSerialize(ar);
}

vcPersistent* vc_SubModelCorRunParams::make() { return new vc_SubModelCorRunParams; }
