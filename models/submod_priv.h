// Private helpers shared by the sub-model sources.
#pragma once

#include <vector>

#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

class vc2Wireframe;
class vc2XformBase;

// Whether the linear form of `x` at the origin holds only finite numbers.
bool vf_IsFiniteXform(const vc2XformBase& x);

// Enclosing rectangle of the shapes, each placed where it lies and then mapped by x (the
// default rectangle without vertices).
vcRect vf_SyntheticBounds(const std::vector<vc2Wireframe>& shapes,
                          const std::vector<double>& weights, const vcXform<2>& x);
