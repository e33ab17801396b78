// Where the run looks: the order in which instances are searched, the predicted pose of each
// instance, and its search window.

#include <cmath>
#include <limits>

#include "flexalign/flxalign_run.h"
#include "geometry/searchwindow.h"
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

vcPolygon corners(const vcRect& r) { return vcPolygon({r.ul(), r.ur(), r.lr(), r.ll()}); }

// The sweep bounds of the enabled zones, whose relative ends low(bit) and high(bit) read.
template <class Low, class High>
vcSearchZones zones(unsigned long enabled, bool advanced, Low low, High high) {
  double lo[4] = {0.0, 0.0, 0.0, 0.0}, hi[4] = {0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < 4; ++i)
    if (enabled & (1ul << i)) lo[i] = low(1L << i), hi[i] = high(1L << i);
  return vfSearchZones(enabled, advanced, lo, hi);
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
  const vcVector<2> zero(0.0, 0.0);
  const vcXform<2> clientFromImage = first.linearXform(zero).xform();
  const vcXform<2> start = second.linearXform(zero).xform();
  const vcXform<2> placed =
      placementInOriginFrame(arrangement_, *arrangement_.positions()[p])->linearXform(zero).xform();

  // Sub-model zones and uncertainty, in the origin frame. A custom DOF list has no zones a
  // window can follow: the sub-model is swept by none.
  const vc_SubModelZones z = ip.searchZones();
  const vcSearchZones own = vfSearchZones(z.hasRanges() ? z.enabled : 0ul,
                                          z.set == vc_SubModelZones::eAdvanced, z.low, z.high);
  const vcSearchUncertainty u{ip.xUncertainty(), ip.yUncertainty(), ip.xyUncertaintyMode()};
  // The sub-model's extent is in its client frame; its zones turn and scale it about its
  // origin: the corners go into sub-model coordinates before the placement takes them on.
  const vcRect& er = s.encloseRect();
  const vcXform<2> toSubModel = s.originInverse()->linearXform(zero).xform();
  const vcPolygon outline({toSubModel.mapPoint(er.ul()), toSubModel.mapPoint(er.ur()),
                           toSubModel.mapPoint(er.lr()), toSubModel.mapPoint(er.ll())});
  vcRect r = vfSearchRect(outline, placed, vcXform<2>(), own, {0.0, 0.0, u.mode}, 0.0);
  // The instance's uncertainty is in run-image client units: into the origin frame.
  r = vfGrowByUncertainty(r, start.matrix().inverse(), u);

  // Arrangement zones about the start pose, then into image pixels.
  const unsigned long en = params.dofData().getEnableFlags();
  const bool adv = params.dofMode() == vcFlexAlignDefs::eAdvanced;
  vcSearchZones arr;
  if (params.dofMode() != vcFlexAlignDefs::eCustom) {
    using FD = vcFlexAlignDefs;
    if (adv)
      arr = zones(
          en, true,
          [&](long d) { return params.zoneLowRelAdvanced(static_cast<FD::AdvancedDOF>(d)); },
          [&](long d) { return params.zoneHighRelAdvanced(static_cast<FD::AdvancedDOF>(d)); });
    else
      arr = zones(
          en, false,
          [&](long d) { return params.zoneLowRelStandard(static_cast<FD::StandardDOF>(d)); },
          [&](long d) { return params.zoneHighRelStandard(static_cast<FD::StandardDOF>(d)); });
  }
  const vcSearchUncertainty partU{params.xUncertainty(), params.yUncertainty(),
                                  params.xyUncertaintyMode()};
  r = vfSearchRect(corners(r), start, clientFromImage, arr, {0.0, 0.0, partU.mode}, kWindowMargin);
  r = vfGrowByUncertainty(r, clientFromImage.matrix().inverse(), partU);
  return vfPixelWindow(r);
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
