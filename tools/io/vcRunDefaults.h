// The run settings the tools start from where a part description or a program gives none:
// the locally fixtured strategy (each piece searched near where the pieces found so far put
// it), and for every piece a search of a few degrees either way about its predicted angle, so
// a piece turned a little against the part is reported at its own angle.
#pragma once

#include "vcFlexAlignTool.h"

// Degrees either way each piece is searched about its predicted angle.
constexpr double kVcDefaultPieceAngle = 5.0;

// One piece's defaults on the engine it was trained for (a Geofind or correlation class).
vcPtrHandle<vcFlexSubModelRunParams> vfDefaultPieceRunParams(const vcFlexSubModelTrainParams& t);
// The whole part's defaults for a pattern trained with `train`: every instance gets the run
// settings of its own engine (custom where it differs from the standard one).
vcFlexAlignRunParams vfDefaultRunParams(const vcFlexAlignTrainParams& train, long instances);
