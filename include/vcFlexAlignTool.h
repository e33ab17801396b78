// The FlexAlign tool: a part described as an arrangement of sub-models is trained once into one
// sub-model tool per distinct sub-model and training parameter set, and later located in images
// with every piece found.
//
// Sections: train parameters, run parameters, alignment results, the pattern.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcVector.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcDofData.h"
#include "vcFlexErrors.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"
#include "vcSubModelTool.h"

class vcArchive;
class vcGraphicList;

// ---------------------------------------------------------------------------------------------
// Train parameters
// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// Run parameters
// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// Alignment results
// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// The pattern
// ---------------------------------------------------------------------------------------------
