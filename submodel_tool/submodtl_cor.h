// Conversion of the correlation sub-model parameters into the correlation engine's own.
#pragma once

#include "engines/correlation/vcPatCor.h"
#include "vcFlexSubModelParams.h"

// Trained passes, zone nominals, allowed zones, maximum ranges and steps.
void vfConvertCorTrainParams(const vcFlexSubModelCorTrainParams& p, vc_PatCorTrainParams& e);
// Throws vcFlexAlignDefs::CanNotRun when `params` are not correlation run parameters.
// `numToFind` is the candidates asked of the engine (not public on the parameters).
void vfConvertCorRunParams(const vcFlexSubModelRunParams& params, long numToFind,
                           const vc2XformBase& startPose, vc_PatCorRunParams& e);
