// What a piece's rotational symmetry does to its found pose: a round piece has no angle of its
// own and an n-fold one only modulo 360/n, so the angle a search reports for it is an accident
// of the image. The piece takes the angle the other pieces predict (or the nearest of its n),
// turned about its symmetry centre, which the turn leaves in place.

#include <cmath>

#include "engines/geofind/vcGFAlign.h"
#include "flexalign/flxalign_run.h"
#include "platform/core/vcAngle.h"
#include "vcSubModelTool.h"

vc_flxalign::PieceSymmetry vc_flxalign::pieceSymmetry(const vc_SubModelTool& tool,
                                                      const vcFlexSubModel& subModel) {
  PieceSymmetry out;
  const vcGFAlignPattern* g = tool.geofindPattern();
  if (!g || !g->isTrained()) return out;
  const vc_GFConstraints& c = g->constraints();
  if (c.symmetry == 1) return out;
  out.order = c.symmetry;
  // An n-fold piece turns about the centroid of its edges, which its symmetry puts on its
  // centre exactly (a turn by 360/n about any other point would move it). A round piece turns
  // only by the few degrees its prediction differs, about the middle of its window: its edge
  // centroid is pulled off its centre by the very relief (and edges of neighbours in its window)
  // that keep it from being a perfect circle, by pixels on a photographed coin.
  const vcPtrHandle_const<vc2XformBase> cfi = subModel.clientFromImage();
  out.centre = c.symmetry > 1 && cfi ? subModel.originInverse()->mapPoint(cfi->mapPoint(c.centre))
                                     : vcFlexSubModelHelper::centerPt(subModel);
  return out;
}

vcPtrHandle<vcFlexSubModelResult> vc_flxalign::alignToPrediction(
    const vcPtrHandle<vcFlexSubModelResult>& found, const PieceSymmetry& symmetry,
    const vc2XformBase& predicted) {
  if (symmetry.order == 1) return found;
  // The turn t, in sub-model coordinates, that takes the found pose to the predicted one's
  // angle: found o R(t) has the predicted orientation.
  const vcVector<2> zero(0.0, 0.0);
  const vcMatrix<2> rel =
      found->pose().inverseBase()->composeBase(predicted)->linearXform(zero).matrix();
  double turn = rel.rotation().toDouble();
  if (symmetry.order > 1) {
    const double step = 2.0 * vcPi / static_cast<double>(symmetry.order);
    turn = step * std::round(turn / step);
  }
  vcPtrHandle<vcFlexSubModelResult> out = found->clone();
  out->angleSymmetry(symmetry.order);
  // A round piece's angle was never measured: it has no sigma to report.
  if (symmetry.order == 0)
    out->uncertainty(found->positionCovariance(), 0.0, found->positionWeak());
  if (turn == 0.0) return out;
  const vcMatrix<2> r(std::cos(turn), -std::sin(turn), std::sin(turn), std::cos(turn));
  const vc2XformLinear about(r, symmetry.centre - r * symmetry.centre);
  out->pose(vcPtrHandle_const<vc2XformBase>(found->pose().composeBase(about)));
  return out;
}
