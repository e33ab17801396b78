// Where the run looks: the order in which instances are searched, the predicted pose of each
// instance, and its search window.

#include <cmath>
#include <limits>

#include "flexalign/flxalign_run.h"
#include "platform/core/vcAngle.h"
#include "vcFlexAlignTool.h"
#include "vcFlexGeometry.h"

namespace {

using Xf = vcPtrHandle<vc2XformBase>;

bool isBlank(const vcFlexSubModel& s) { return s.modelType() == vcFlexModelDefs::eBlank; }

const vcFlexSubModel& subModelOf(const vcFlexArrangement& a, std::size_t position) {
  return a.subModels()[static_cast<std::size_t>(a.subModelIndices()[position])];
}

// Placement of an instance in the origin frame: origin inverse after the instance's position.
Xf placementInOriginFrame(const vcFlexArrangement& a, const vc2XformBase& position) {
  const Xf originInverse = a.origin()->inverseBase();
  return originInverse->composeBase(position);
}

}  // namespace

// Fixtures are the roots of a minimum spanning tree over fixtures and instance centres; the
// instances follow in the order they join it, so each is searched next to something known.
// Without fixtures the origin of the arrangement (where the start pose puts the part's centre)
// is the root: the search starts at the instance nearest it, where an uncertain angle of the
// start pose moves a piece least. Blank instances have nothing to search by and come last.
// The tree is built from the points themselves, in memory linear in the instance count.
std::vector<long> vc_FlexAlignRun::computeOptimalSubModelRunOrder(
    const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
    const vcFlexArrangement& arrangement) const {
  (void)startPose;
  const std::size_t n = arrangement.subModelIndices().size();
  std::vector<vcVector<2>> points = fixtures;
  if (points.empty()) points.push_back(vcVector<2>(0.0, 0.0));
  const std::size_t roots = points.size();
  std::vector<long> vertexOf, blanks;
  for (std::size_t p = 0; p < n; ++p) {
    if (isBlank(subModelOf(arrangement, p))) {
      blanks.push_back(static_cast<long>(p));
      continue;
    }
    const Xf placed = placementInOriginFrame(arrangement, *arrangement.positions()[p]);
    points.push_back(placed->mapPoint(vcFlexSubModelHelper::centerPt(subModelOf(arrangement, p))));
    vertexOf.push_back(static_cast<long>(p));
  }
  std::vector<long> order;
  MST mst;
  mst.compute(points, static_cast<int>(roots));
  for (std::size_t k = roots; k < points.size(); ++k)
    order.push_back(vertexOf[static_cast<std::size_t>(mst.order(static_cast<int>(k))) - roots]);
  order.insert(order.end(), blanks.begin(), blanks.end());
  return order;
}

// The pose of the origin frame that a found instance implies: found pose after the inverse of
// the instance's placement, linearised at the instance's centre.
void vc_FlexAlignRun::collectKeys_(const vcFlexAlignResult& partial,
                                   vc2XformInterpMap::KeyXforms& keyXforms,
                                   vc2XformInterpMap::KeyPoints& keyPoints) const {
  const vcFlexArrangement& a = arrangement_;
  for (std::size_t i = 0; i < partial.positionIndices().size(); ++i) {
    const std::size_t k = static_cast<std::size_t>(partial.positionIndices()[i]);
    const vcFlexSubModel& s = subModelOf(a, k);
    if (isBlank(s)) continue;
    const Xf placed = placementInOriginFrame(a, *a.positions()[k]);
    const vcVector<2> centre = placed->mapPoint(vcFlexSubModelHelper::centerPt(s));
    const Xf implied = partial.subModelResults()[i]->pose().composeBase(*placed->inverseBase());
    keyXforms.push_back(vcPtrHandle_const<vc2XformBase>(implied->linearXform(centre).clone()));
    keyPoints.push_back(centre);
  }
}

vcPtrHandle<vc2XformBase> vc_FlexAlignRun::subModelStartPose(
    const vc2XformBase& startPose, const vcFlexSubModel& subModel, const vc2XformBase& position,
    const vcFlexAlignResult& partial) const {
  const Xf placed = placementInOriginFrame(arrangement_, position);
  const vcVector<2> q = placed->mapPoint(vcFlexSubModelHelper::centerPt(subModel));
  vc2XformLinear local = startPose.linearXform(q);
  vc2XformInterpMap::KeyXforms keyXforms;
  vc2XformInterpMap::KeyPoints keyPoints;
  collectKeys_(partial, keyXforms, keyPoints);
  if (!keyXforms.empty()) local = vc2XformInterpMap(keyXforms, keyPoints).linearXform(q);
  return local.composeBase(*placed);
}

namespace {

// Half-sizes of the box around the uncertainty region (radii ux, uy) mapped by m.
vcVector<2> uncertaintyBox(const vcMatrix<2>& m, double ux, double uy, long mode) {
  if (mode == vcFlexAlignDefs::eElliptical)
    return {std::hypot(m.element(0, 0) * ux, m.element(0, 1) * uy),
            std::hypot(m.element(1, 0) * ux, m.element(1, 1) * uy)};
  if (mode == vcFlexAlignDefs::eRectangular)
    return {std::abs(m.element(0, 0)) * ux + std::abs(m.element(0, 1)) * uy,
            std::abs(m.element(1, 0)) * ux + std::abs(m.element(1, 1)) * uy};
  return {0.0, 0.0};
}

vcRect grow(const vcRect& r, const vcMatrix<2>& m, double ux, double uy, long mode) {
  const vcVector<2> h = uncertaintyBox(m, ux, uy, mode);
  return vcRect(r.x() - h.x(), r.y() - h.y(), r.width() + 2.0 * h.x(), r.height() + 2.0 * h.y());
}

vcPolygon corners(const vcRect& r) { return vcPolygon({r.ul(), r.ur(), r.lr(), r.ll()}); }

// Absolute sweep bounds: angles in radians, scale-like values as factors.
struct Sweep {
  bool advanced = false;
  double a0 = 0, a1 = 0;  // angle or rotation
  double s0 = 1, s1 = 1;  // uniform scale or scale
  double x0 = 1, x1 = 1;  // x-scale or aspect
  double y0 = 1, y1 = 1;  // y-scale
  double k0 = 0, k1 = 0;  // skew
};

vcRect sweep(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B, const Sweep& s,
             double ux, double uy, long mode, double margin) {
  if (s.advanced)
    return vfEncloseRect(poly, A, B, ux, uy, vcRadian(s.a0), vcRadian(s.a1), s.s0, s.s1, s.x0, s.x1,
                         vcRadian(s.k0), vcRadian(s.k1), margin, mode);
  return vfEncloseRect(poly, A, B, ux, uy, vcRadian(s.a0), vcRadian(s.a1), s.s0, s.s1, s.x0, s.x1,
                       s.y0, s.y1, margin, mode);
}

// Reads the enabled zones of a DOF table: bits 1 angle/rotation, 2 scale, and for the four-DOF
// sets 4 (x-scale or skew) and 8 (y-scale or aspect).
template <class Low, class High>
Sweep zones(unsigned long enabled, bool advanced, bool fourDofs, Low low, High high) {
  Sweep s;
  s.advanced = advanced;
  if (enabled & 1) s.a0 = low(1) * vcRadPerDeg, s.a1 = high(1) * vcRadPerDeg;
  if (enabled & 2) s.s0 = 1.0 + low(2), s.s1 = 1.0 + high(2);
  if (!fourDofs) return s;
  if (advanced) {
    if (enabled & 4) s.k0 = low(4) * vcRadPerDeg, s.k1 = high(4) * vcRadPerDeg;
    if (enabled & 8) s.x0 = 1.0 + low(8), s.x1 = 1.0 + high(8);
  } else {
    if (enabled & 4) s.x0 = 1.0 + low(4), s.x1 = 1.0 + high(4);
    if (enabled & 8) s.y0 = 1.0 + low(8), s.y1 = 1.0 + high(8);
  }
  return s;
}

// Edge operators and pyramids need a little image beyond the pattern itself.
constexpr double kWindowMargin = 2.0;

}  // namespace

// The window holds the instance under every pose its own zones and uncertainty and the
// arrangement's zones and uncertainty allow: the sub-model outline is swept by its own zones
// in the origin frame, grown by its uncertainty, then swept by the arrangement zones about the
// start pose and taken into image pixels.
vcPelRect vc_FlexAlignRun::windowFromUnc(const vcFlexAlignRunParams& params,
                                         const vc2XformBase& first, const vc2XformBase& second,
                                         long position) const {
  const std::size_t p = static_cast<std::size_t>(position);
  const vcFlexSubModel& s = subModelOf(arrangement_, p);
  if (isBlank(s)) return vcPelRect();
  const vcFlexSubModelRunParams& ip = params.subModelInstanceParams(position);
  const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&ip);
  const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&ip);
  const vcVector<2> zero(0.0, 0.0);
  const vcXform<2> clientFromImage = first.linearXform(zero).xform();
  const vcXform<2> start = second.linearXform(zero).xform();
  const vcXform<2> placed =
      placementInOriginFrame(arrangement_, *arrangement_.positions()[p])->linearXform(zero).xform();

  // Sub-model zones and uncertainty, in the origin frame.
  Sweep own;
  double ux = 0.0, uy = 0.0;
  long mode = vcFlexAlignDefs::eElliptical;
  using SD = vcFlexSubModelParamsDefs;
  if (g) {
    const bool adv = g->dofMode() == vcFlexSubModelGfndDefs::eAdvanced;
    const unsigned long en = g->dofMode() == vcFlexSubModelGfndDefs::eCustom ? 0 : g->zoneEnable();
    if (adv)
      own = zones(
          en, true, true,
          [&](long d) { return g->zoneLowRelAdvanced(static_cast<SD::AdvancedDOF>(d)); },
          [&](long d) { return g->zoneHighRelAdvanced(static_cast<SD::AdvancedDOF>(d)); });
    else
      own = zones(
          en, false, true,
          [&](long d) { return g->zoneLowRelStandard(static_cast<SD::StandardDOF>(d)); },
          [&](long d) { return g->zoneHighRelStandard(static_cast<SD::StandardDOF>(d)); });
    ux = g->xUncertainty(), uy = g->yUncertainty(), mode = g->xyUncertaintyMode();
  } else if (c) {
    own = zones(
        c->zoneEnable() & 3ul, false, false,
        [&](long d) { return c->zoneLowRelStandard(static_cast<SD::StandardDOF>(d)); },
        [&](long d) { return c->zoneHighRelStandard(static_cast<SD::StandardDOF>(d)); });
    ux = c->xUncertainty(), uy = c->yUncertainty(), mode = c->xyUncertaintyMode();
  }
  // The sub-model's extent is in its client frame; its zones turn and scale it about its
  // origin: the corners go into sub-model coordinates before the placement takes them on.
  const vcRect& er = s.encloseRect();
  const vcXform<2> toSubModel = s.originInverse()->linearXform(zero).xform();
  const vcPolygon outline({toSubModel.mapPoint(er.ul()), toSubModel.mapPoint(er.ur()),
                           toSubModel.mapPoint(er.lr()), toSubModel.mapPoint(er.ll())});
  vcRect r = sweep(outline, placed, vcXform<2>(), own, 0.0, 0.0, mode, 0.0);
  // The instance's uncertainty is in run-image client units: into the origin frame.
  if (ux > 0.0 || uy > 0.0) r = grow(r, start.matrix().inverse(), ux, uy, mode);

  // Arrangement zones about the start pose, then into image pixels.
  const unsigned long en = params.dofData().getEnableFlags();
  const bool adv = params.dofMode() == vcFlexAlignDefs::eAdvanced;
  Sweep arr;
  if (params.dofMode() != vcFlexAlignDefs::eCustom) {
    using FD = vcFlexAlignDefs;
    if (adv)
      arr = zones(
          en, true, true,
          [&](long d) { return params.zoneLowRelAdvanced(static_cast<FD::AdvancedDOF>(d)); },
          [&](long d) { return params.zoneHighRelAdvanced(static_cast<FD::AdvancedDOF>(d)); });
    else
      arr = zones(
          en, false, true,
          [&](long d) { return params.zoneLowRelStandard(static_cast<FD::StandardDOF>(d)); },
          [&](long d) { return params.zoneHighRelStandard(static_cast<FD::StandardDOF>(d)); });
  }
  r = sweep(corners(r), start, clientFromImage, arr, 0.0, 0.0, params.xyUncertaintyMode(),
            kWindowMargin);
  if (params.xUncertainty() > 0.0 || params.yUncertainty() > 0.0)
    r = grow(r, clientFromImage.matrix().inverse(), params.xUncertainty(), params.yUncertainty(),
             params.xyUncertaintyMode());
  const long x0 = static_cast<long>(std::floor(r.x()));
  const long y0 = static_cast<long>(std::floor(r.y()));
  const long x1 = static_cast<long>(std::ceil(r.x() + r.width()));
  const long y1 = static_cast<long>(std::ceil(r.y() + r.height()));
  return vcPelRect(x0, y0, x1 - x0, y1 - y0);
}

void vc_FlexAlignRun::startPoseFromFixtures(const vcFlexArrangement& arrangement,
                                            const vc2XformBase& startPose,
                                            const std::vector<vcVector<2>>& fixtures,
                                            const vcPair<long>& gridSize,
                                            vcPtrHandle<vc2XformBase>& out) const {
  if (gridSize.x() * gridSize.y() < 21) throw vcFlexAlignDefs::InternalError("Too few points");
  if (fixtures.size() == 1) {
    out = startPose.clone();
    return;
  }
  if (fixtures.empty()) {
    out = new vc2XformLinear;
    return;
  }
  const vcRect r = arrangement.encloseRect();
  const double dx = r.width() / static_cast<double>(gridSize.x());
  const double dy = r.height() / static_cast<double>(gridSize.y());
  std::vector<vcVector<2>> grid, mapped;
  for (long i = 0; i <= gridSize.x(); ++i) {
    for (long j = 0; j <= gridSize.y(); ++j) {
      const vcVector<2> pt(r.x() + static_cast<double>(i) * dx,
                           r.y() + static_cast<double>(j) * dy);
      grid.push_back(pt);
      mapped.push_back(startPose.mapPoint(pt));
    }
  }
  out = new vc2XformPoly(mapped, grid, 1);
}
