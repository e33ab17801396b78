// vcFlexAlignDefs errors and their registration with the archive's class factory.
#include "foundations/errdefs.h"

VC_FLEX_DEFINE_ERROR_FAMILY_BASE(vcFlexAlignDefs)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, BadParams, 0x10005D06)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, CanNotTrain, 0x10005D07)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, NotTrained, 0x10005D08)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, BadImage, 0x10005D09)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, BadIndex, 0x10005D0A)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, WrongDOFMode, 0x10005D0B)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, NotImplemented, 0x10005D0C)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, InternalError, 0x10005D0D)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, CanNotRun, 0x10005D0E)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, CanNotFit, 0x10005D0F)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, DistortionRateTooLarge, 0x10005D10)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, BadArrangement, 0x10005D11)
VC_FLEX_DEFINE_ERROR(vcFlexAlignDefs, NotComputed, 0x10005D12)

namespace {
using D = vcFlexAlignDefs;
const vc_Instantiator gBadParams(typeid(D::BadParams), &D::BadParams::make);
const vc_Instantiator gCanNotTrain(typeid(D::CanNotTrain), &D::CanNotTrain::make);
const vc_Instantiator gCanNotRun(typeid(D::CanNotRun), &D::CanNotRun::make);
const vc_Instantiator gNotTrained(typeid(D::NotTrained), &D::NotTrained::make);
const vc_Instantiator gBadImage(typeid(D::BadImage), &D::BadImage::make);
const vc_Instantiator gBadIndex(typeid(D::BadIndex), &D::BadIndex::make);
const vc_Instantiator gWrongDOFMode(typeid(D::WrongDOFMode), &D::WrongDOFMode::make);
const vc_Instantiator gNotImplemented(typeid(D::NotImplemented), &D::NotImplemented::make);
const vc_Instantiator gInternalError(typeid(D::InternalError), &D::InternalError::make);
const vc_Instantiator gCanNotFit(typeid(D::CanNotFit), &D::CanNotFit::make);
const vc_Instantiator gDistortion(typeid(D::DistortionRateTooLarge),
                                  &D::DistortionRateTooLarge::make);
const vc_Instantiator gBadArrangement(typeid(D::BadArrangement), &D::BadArrangement::make);
const vc_Instantiator gNotComputed(typeid(D::NotComputed), &D::NotComputed::make);
}  // namespace
