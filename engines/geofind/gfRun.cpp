#include "engines/geofind/gfModel.h"

void vf_GFRun(const vc_GFModel&, const vcXform<2>&, const vcPelBuffer_const<unsigned char>&,
              const vcPelBuffer_const<unsigned char>*, const vcGFAlignRunParams&,
              vcGFAlignResultSet& results) {
  results.clear();
}
