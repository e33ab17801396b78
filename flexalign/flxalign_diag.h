// Diagnostic records of FlexAlign training (the run's are members of vc_FlexAlignRun).
#pragma once

#include "vcFlexAlignTool.h"

namespace vc_flxalign {

// The inputs record, then a "Details" record one level down; what the sub-model tools record
// while training nests one level further.
void recordTrainInputs(vcDiagObject* diag, unsigned long flags,
                       const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params);
void recordTrainOutputs(vcDiagObject* diag, unsigned long flags, bool failed);
void recordTrainThrow(vcDiagObject* diag, unsigned long flags, const vcException& e);

}  // namespace vc_flxalign
