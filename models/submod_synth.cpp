// Synthetic sub-models: shapes with weights, their extent and their engine training.
#include <cmath>

#include "engines/geofind/vcGFAlign.h"
#include "models/submod_priv.h"
#include "vcFlexModels.h"

void vcFlexSubModel::setSynthetic_(const std::vector<vc2Wireframe>& shapes,
                                   const std::vector<double>& weights,
                                   const vc2XformBase& clientFromImage, bool weightsGiven) {
  if (shapes.empty()) throw vcFlexModelDefs::BadParams("No shapes are provided");
  if (weightsGiven) {
    if (weights.size() != shapes.size())
      throw vcFlexModelDefs::BadParams("Weights do not match the shapes");
    for (double w : weights)
      // Written so that a NaN weight is refused as well.
      if (!(w >= -1.0 && w <= 1.0))
        throw vcFlexModelDefs::BadParams("One or more weights are outside the valid range (-1, 1)");
  }
  modelType_ = vcFlexModelDefs::eSynthetic;
  shapes_ = shapes;
  weights_ = weightsGiven ? weights : std::vector<double>(shapes.size(), 1.0);
  origin_ = new vc2XformLinear;
  clientFromImage_ = clientFromImage.clone();
  imageFromClient_ = clientFromImage.inverseBase();
  symmetry_ = 0;
  symmetryParams_ = vcVector<2>();
  updateDerived_();
  featureArea_ = encloseImageRect_.width() * encloseImageRect_.height();
  extractSymmetry_();
}

vcRect vf_SyntheticBounds(const std::vector<vc2Wireframe>& shapes, const std::vector<double>&,
                          const vcXform<2>& x) {
  vcRect r;
  bool first = true;
  for (const vc2Wireframe& w : shapes) {
    if (w.numVertices() == 0) continue;
    const vcRect b = w.poly().map(x).encloseRect();
    r = first ? b : r.enclose(b);
    first = false;
  }
  return r;
}

void vf_TrainSynthetic(vcGFAlignPattern& pattern, const std::vector<vc2Wireframe>& shapes,
                       const std::vector<double>& weights, const vcXform<2>& clientFromImage) {
  // The engine trains from vertex chains; arcs are divided finely enough (0.05 client units)
  // that the chords stay on the edge the arc describes.
  std::vector<std::vector<vcVector<2>>> chains;
  std::vector<bool> closed;
  chains.reserve(shapes.size());
  for (const vc2Wireframe& w : shapes) {
    const vcPolyline p = w.poly().toPolyline(0.05);
    chains.push_back(p.vertices());
    closed.push_back(w.closed());
  }
  pattern.trainPolylines(chains, closed, weights, clientFromImage, 1);
}
