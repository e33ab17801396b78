// The angle and scale ranges a piece is searched over, against those its correlation model
// was trained for: a correlation model finds only what it was trained to, so the description
// reader trains each correlation piece for the ranges its run asks, and a run refuses, naming
// the piece, a pattern whose settings ask for more.
#pragma once

#include <string>
#include <vector>

#include "vcFlexAlignTool.h"

// The widest offset either way of one zone (degrees for the angle, relative for the scale)
// over the piece's searches: the first one adds the part's range to the piece's own, later
// ones use its own.
double vfPieceReach(const vcFlexAlignRunParams& part, vcFlexAlignDefs::StandardDOF partDof,
                    const vcFlexSubModelRunParams& piece,
                    vcFlexSubModelParamsDefs::StandardDOF dof);

// Empty when every correlation piece was trained for what `run` asks of it, else the first
// piece that was not and why (naming it by `names`).
std::string vfTrainedRangeProblem(const vcFlexArrangement& arrangement,
                                  const vcFlexAlignTrainParams& train,
                                  const vcFlexAlignRunParams& run,
                                  const std::vector<std::string>& names);
