// Conversion of the correlation sub-model parameters into the correlation engine's own.
#pragma once

#include "engines/correlation/vcPatCor.h"
#include "vcFlexSubModelParams.h"

// How far past every pose its zones and uncertainty allow a correlation piece is searched, in
// image pixels: three coarse grains (12 px at the default grain of 4). A piece predicted from
// one found neighbour carries that neighbour's own turn over the distance between them (3
// degrees over 130 px is 7 px) on top of its own move. On the real photographs, with pieces
// moved by up to 5 px and turned by up to 3 degrees, two grains missed 23 of 279; three, none.
double vfCorrelationReach(const vcFlexSubModelCorTrainParams& p);

// Trained passes, zone nominals, allowed zones, maximum ranges and steps.
void vfConvertCorTrainParams(const vcFlexSubModelCorTrainParams& p, vc_PatCorTrainParams& e);
// Throws vcFlexAlignDefs::CanNotRun when `params` are not correlation run parameters.
// `numToFind` is the candidates asked of the engine (not public on the parameters).
void vfConvertCorRunParams(const vcFlexSubModelRunParams& params, long numToFind,
                           const vc2XformBase& startPose, vc_PatCorRunParams& e);
