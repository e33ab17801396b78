// vcFlexAlignDefs errors.
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
