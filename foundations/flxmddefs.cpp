// vcFlexModelDefs errors.
#include "foundations/errdefs.h"

VC_FLEX_DEFINE_ERROR_FAMILY_BASE(vcFlexModelDefs)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, BadParams, 0x10005D01)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, WrongModelType, 0x10005D02)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, InternalError, 0x10005D03)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, NotImplemented, 0x10005D04)
VC_FLEX_DEFINE_ERROR(vcFlexModelDefs, BadIndex, 0x10005D05)
