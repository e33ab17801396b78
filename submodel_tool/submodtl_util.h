// Helpers shared by the sub-model tool's sources.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcException.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcFlexSubModelParams.h"

class vc2XformBase;
class vcFlexSubModel;
class vcFlexSubModelTrainParams;
class vcFlexSubModelRunParams;

namespace vc_submodtl {

// The text an engine failure carries on into the tool's own error.
std::string messageOf(const vcException& e);

// An engine's refusal of the caller's settings, as the tool reports it: the engine's rule
// with the name of the sub-model it was searching for (Sub-model "name": rule).
std::string pieceMessage(const vcFlexSubModel& subModel, const vcException& e);

// Local linear approximation of a transform at the origin.
vcXform<2> linearAtOrigin(const vc2XformBase& x);

// Client (training) from sub-model coordinates is the origin; its inverse maps the sub-model's
// client rectangle into sub-model coordinates. The four corners (ul, ur, lr, ll) of the
// sub-model's model rectangle in sub-model coordinates.
void modelCorners(const vcFlexSubModel& subModel, vcVector<2> out[4]);

// The search window of vfSubModelSearchWindow; `swept` gets the enclosing rectangle before it
// is widened to pixels and clipped (the image's window when the ranges are not known).
vcPelRect searchWindow(const vcPelBuffer_const<unsigned char>& image,
                       const vcFlexSubModelTrainParams& trainParams,
                       const vcFlexSubModelRunParams& runParams, const vcFlexSubModel& subModel,
                       const vcXform<2>& pose, vcRect& swept);

// The view one engine run searches, with `note` saying how it was chosen: the whole image
// when the image lies within the translation uncertainty (strictly inside when `strict`),
// else the window of searchWindow for `startPose` (client from sub-model). Returns false when
// nothing can be searched: the window lies outside the image, or either side is under
// vc_SubModelTool::kMinSearchSize pixels.
bool runView(const vcPelBuffer_const<unsigned char>& image,
             const vcFlexSubModelTrainParams& trainParams, const vcFlexSubModelRunParams& runParams,
             const vcFlexSubModel& subModel, const vc2XformBase& startPose, double ux, double uy,
             bool strict, vcPelBuffer_const<unsigned char>& view, vc_SubModelSearchNote& note,
             vcDiagObject* diag, unsigned long diagFlags);

// A blank sub-model has nothing to search: it is found where it was expected, fully.
template <class Result>
vcPtrHandle<Result> blankResult(const vc2XformBase& startPose) {
  vcPtrHandle<Result> r(new Result);
  r->pose(startPose.clone());
  r->accepted(true);
  r->score(1.0);
  return r;
}

// An engine's position covariance (image pixels squared) in client units squared: L C L^T
// with L the image's client-from-image linear part.
inline vcMatrix<2> clientCovariance(const vcPelBuffer_const<unsigned char>& image,
                                    const vcMatrix<2>& c) {
  const vcMatrix<2> L = image.clientFromImageXform().matrix();
  return L * c * L.transpose();
}

// The share of position information along the weakest direction against the strongest: the
// covariance's eigenvalue ratio (1 for a round ellipse, 0 for a line).
inline double informationShare(const vcMatrix<2>& c) {
  const double a = c(0, 0), b = c(0, 1), d = c(1, 1);
  const double h = std::sqrt(0.25 * (a - d) * (a - d) + b * b), m = 0.5 * (a + d);
  return m + h > 0 ? std::max(0.0, m - h) / (m + h) : 1.0;
}

}  // namespace vc_submodtl
