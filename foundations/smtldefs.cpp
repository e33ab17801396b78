// vc_SubModelToolDefs errors and their registration with the archive's class factory.
#include "foundations/errdefs.h"

VC_FLEX_DEFINE_ERROR_FAMILY_BASE(vc_SubModelToolDefs)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, BadImage, 0x10005D21)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, InternalError, 0x10005D22)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, CanNotTrain, 0x10005D23)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, CanNotRun, 0x10005D24)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, NotTrained, 0x10005D25)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, NotImplemented, 0x10005D26)

namespace {
using D = vc_SubModelToolDefs;
const vc_Instantiator gCanNotTrain(typeid(D::CanNotTrain), &D::CanNotTrain::make);
const vc_Instantiator gCanNotRun(typeid(D::CanNotRun), &D::CanNotRun::make);
const vc_Instantiator gNotTrained(typeid(D::NotTrained), &D::NotTrained::make);
const vc_Instantiator gBadImage(typeid(D::BadImage), &D::BadImage::make);
const vc_Instantiator gNotImplemented(typeid(D::NotImplemented), &D::NotImplemented::make);
const vc_Instantiator gInternalError(typeid(D::InternalError), &D::InternalError::make);
}  // namespace
