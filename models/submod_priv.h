// Private helpers shared by the sub-model sources.
#pragma once

#include <vector>

#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

class vc2Wireframe;
class vcGFAlignPattern;

// Enclosing rectangle of the shapes mapped by x (the default rectangle without vertices).
vcRect vf_SyntheticBounds(const std::vector<vc2Wireframe>& shapes,
                          const std::vector<double>& weights, const vcXform<2>& x);
// Trains the engine on the shapes; `clientFromImage` maps the pattern's pixel frame to the
// client frame in which the shapes are given.
void vf_TrainSynthetic(vcGFAlignPattern& pattern, const std::vector<vc2Wireframe>& shapes,
                       const std::vector<double>& weights, const vcXform<2>& clientFromImage);
