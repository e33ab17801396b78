// Diagnostic records of the sub-model tool. Every function does nothing without a recorder or
// when the caller's flag word refuses the record's kind; none of them throws.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/diag/vcDiag.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

namespace vc_submodtl {

void recordTrainInputs(vcDiagObject* diag, unsigned long flags, const vcFlexSubModel& subModel,
                       const vcFlexSubModelTrainParams& params);
// t < 0 marks a failed training.
void recordTrainOutputs(vcDiagObject* diag, unsigned long flags, double t);
// Adds "Exception Data" to the last record; `who` names the throwing call.
void recordFailure(vcDiagObject* diag, unsigned long flags, const std::string& who,
                   const vcException& e);

// Returns true when it raised the recorder's level (recordRunOutputs lowers it again).
bool recordRunInputs(vcDiagObject* diag, unsigned long flags,
                     const vcPelBuffer_const<unsigned char>& image, const vcFlexSubModel& subModel,
                     const vc2XformBase& startPose, const vcFlexSubModelRunParams& params);
void recordWindow(vcDiagObject* diag, unsigned long flags,
                  const vcPelBuffer_const<unsigned char>& image, const vcRect& box,
                  const vcPelRect& roi);
// The search ranges of `params` around the start pose, one record per enabled DOF.
void recordDofs(vcDiagObject* diag, unsigned long flags,
                const vcPelBuffer_const<unsigned char>& image, const std::string& title,
                const vcFlexSubModel& subModel, const vc2XformBase& startPose,
                const vcFlexSubModelRunParams& params);
// "Distortion Based DOFs" with the allowed movement, then one record per DOF of the ranges
// the distortion gives.
void recordDistortion(vcDiagObject* diag, unsigned long flags,
                      const vcPelBuffer_const<unsigned char>& image, double d,
                      const vcFlexSubModel& subModel, const vc2XformBase& startPose,
                      const std::vector<vcVector<2>>& points,
                      const vcFlexSubModelRunParams& combined);
void recordMatchInfo(vcDiagObject* diag, unsigned long flags,
                     const vcPelBuffer_const<unsigned char>& image,
                     const vc_SubModelResultSet& results);
void recordRunOutputs(vcDiagObject* diag, unsigned long flags,
                      const vcPelBuffer_const<unsigned char>& image, const vcFlexSubModel& subModel,
                      const vc_SubModelResultSet& results, bool lowerLevel);

}  // namespace vc_submodtl
