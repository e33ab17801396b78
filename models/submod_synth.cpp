// Synthetic sub-models: shapes with weights, their extent and their engine training.
#include "models/submod_priv.h"
#include "platform/display/vcSMDGD.h"
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

vcRect vf_SyntheticBounds(const std::vector<vc2Wireframe>& shapes,
                          const std::vector<double>& weights, const vcXform<2>& x) {
  return vcSMDGDModelPrivate::boundingBox(
      vcSMDGDModelPrivate::weightedWireframesToModel(shapes, weights),
      vcSMDGDModelPrivate::wireframeXforms(shapes, weights), x);
}
