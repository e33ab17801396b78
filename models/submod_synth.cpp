// Synthetic sub-models: shapes with weights, their extent and their engine training.
#include <cmath>
#include <cstdio>
#include <string>

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
  if (!vf_IsFiniteXform(clientFromImage))
    throw vcFlexModelDefs::BadParams("Sub-model '" + name_ +
                                     "': the shapes' client-from-image transform is not finite");
  // The extent is checked before anything is built from the shapes: an engine trains on every
  // pixel their outline crosses.
  {
    const vcRect box = vf_SyntheticBounds(
        shapes, weightsGiven ? weights : std::vector<double>(shapes.size(), 1.0),
        clientFromImage.inverseBase()->linearXform(vcVector<2>(0.0, 0.0)).xform());
    if (!std::isfinite(box.x()) || !std::isfinite(box.y()) || !(box.width() <= kMaxExtent) ||
        !(box.height() <= kMaxExtent)) {
      char size[64];
      std::snprintf(size, sizeof size, "%.4g x %.4g", box.width(), box.height());
      throw vcFlexModelDefs::BadParams("Sub-model '" + name_ + "': its shapes span " + size +
                                       " pixels; at most " + std::to_string(long(kMaxExtent)) +
                                       " x " + std::to_string(long(kMaxExtent)) + " are allowed");
    }
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

bool vf_IsFiniteXform(const vc2XformBase& x) {
  const vc2XformLinear lin = x.linearXform(vcVector<2>(0.0, 0.0));
  const vcMatrix<2>& m = lin.matrix();
  return std::isfinite(m.element(0, 0)) && std::isfinite(m.element(0, 1)) &&
         std::isfinite(m.element(1, 0)) && std::isfinite(m.element(1, 1)) &&
         std::isfinite(lin.trans().x()) && std::isfinite(lin.trans().y());
}

vcRect vf_SyntheticBounds(const std::vector<vc2Wireframe>& shapes,
                          const std::vector<double>& weights, const vcXform<2>& x) {
  return vcSMDGDModelPrivate::boundingBox(
      vcSMDGDModelPrivate::weightedWireframesToModel(shapes, weights),
      vcSMDGDModelPrivate::wireframeXforms(shapes, weights), x);
}
