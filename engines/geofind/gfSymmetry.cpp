#include "engines/geofind/gfModel.h"

void vf_GFSymmetry(const vc_GFModel&, vc_GFPatternInfo& info) {
  info.flags = 0;
  info.value1 = 360.0;
  info.value2 = 0.0;
}
