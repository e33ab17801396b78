// vcFlexModelDefs errors and their registration with the archive's class factory.
#include "foundations/errdefs.h"

VC_FLEX_DEFINE_ERROR_FAMILY_BASE(vcFlexModelDefs)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, BadParams, 0x10005D01)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, WrongModelType, 0x10005D02)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, InternalError, 0x10005D03)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, NotImplemented, 0x10005D04)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, BadIndex, 0x10005D05)

namespace {
using D = vcFlexModelDefs;
const vc_Instantiator gBadParams(typeid(D::BadParams), &D::BadParams::make);
const vc_Instantiator gBadIndex(typeid(D::BadIndex), &D::BadIndex::make);
const vc_Instantiator gWrongModelType(typeid(D::WrongModelType), &D::WrongModelType::make);
const vc_Instantiator gInternalError(typeid(D::InternalError), &D::InternalError::make);
const vc_Instantiator gNotImplemented(typeid(D::NotImplemented), &D::NotImplemented::make);
}  // namespace
