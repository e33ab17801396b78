// Umbrella header: every public header of the library.
#pragma once

#define VCFLEX_VERSION_STRING "0.1.0"

inline const char* vfFlexAlignVersion() { return VCFLEX_VERSION_STRING; }

#include "vcDofData.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"
#include "vcFlexInspect.h"
#include "vcFlexLimits.h"
#include "vcFlexModels.h"
#include "vcFlexRectify.h"
#include "vcFlexSubModelParams.h"
#include "vcSubModelTool.h"
#include "vcFlexAlignTool.h"
