// vc_SubModelToolDefs errors.
#include "foundations/errdefs.h"

VC_FLEX_DEFINE_ERROR_FAMILY_BASE(vc_SubModelToolDefs)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, BadImage, 0x10005D21)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, InternalError, 0x10005D22)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, CanNotTrain, 0x10005D23)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, CanNotRun, 0x10005D24)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, NotTrained, 0x10005D25)
VC_FLEX_DEFINE_ERROR(vc_SubModelToolDefs, NotImplemented, 0x10005D26)
