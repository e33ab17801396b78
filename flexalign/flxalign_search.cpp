// The search of one instance: its effective parameters (its own zones and uncertainty widened
// by the arrangement's), its window, the sub-model tool's run, and what is kept of the
// candidates: the best few, none lying on a zone's edge, and the reason when none is kept.

#include <algorithm>
#include <cmath>
#include <limits>

#include "flexalign/flxalign_run.h"
#include "platform/core/vcAngle.h"

namespace {

using FD = vcFlexAlignDefs;
using SD = vcFlexSubModelParamsDefs;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;

// Widens zone d of the sub-model parameters (whose zones were `own`) by the arrangement's
// zone d.
void widen(vcFlexSubModelRunParams& sub, const vc_SubModelZones& own,
           const vcFlexAlignRunParams& rp, unsigned long arrEnabled, bool advanced,
           unsigned long dofsOfKind) {
  for (unsigned long d = 1, i = 0; d <= 8; d <<= 1, ++i) {
    if (!(arrEnabled & d) || !(dofsOfKind & d)) continue;
    double lo, hi;
    if (advanced) {
      lo = rp.zoneLowRelAdvanced(static_cast<FD::AdvancedDOF>(d));
      hi = rp.zoneHighRelAdvanced(static_cast<FD::AdvancedDOF>(d));
    } else {
      lo = rp.zoneLowRelStandard(static_cast<FD::StandardDOF>(d));
      hi = rp.zoneHighRelStandard(static_cast<FD::StandardDOF>(d));
    }
    if (sub.zoneEnable() & d)
      lo += own.low[i], hi += own.high[i];
    else
      sub.zoneEnable(sub.zoneEnable() | d);
    sub.searchZone(static_cast<long>(d), lo, hi);
  }
}

}  // namespace

vcPtrHandle<vcFlexSubModelRunParams> vc_FlexAlignRun::effectiveParams_(
    const vcFlexAlignRunParams& rp, long position) const {
  const vcFlexSubModelRunParams& own = rp.subModelInstanceParams(position);
  if (own.engine() == SD::eNoEngine)
    throw FD::CanNotRun("Sub-model runtime parameters are not of the allowed type.");
  const vc_SubModelZones zones = own.searchZones();
  const bool geofind = own.engine() == SD::eGeofindEngine;
  if (geofind) {
    // Geofind's zones are of the set that its DOF mode names, which must be the arrangement's.
    using Z = vc_SubModelZones;
    const bool match = (zones.set == Z::eStandard && rp.dofMode() == FD::eStandard) ||
                       (zones.set == Z::eAdvanced && rp.dofMode() == FD::eAdvanced) ||
                       (zones.set == Z::eCustom && rp.dofMode() == FD::eCustom);
    if (!match) throw FD::BadParams("Sub-model and arrangement DOF modes are incompatible.");
    if (zones.set == Z::eCustom) throw FD::NotImplemented();
  }
  const unsigned long en = rp.dofData().getEnableFlags();
  vcPtrHandle<vcFlexSubModelRunParams> copy = own.clone();
  // The correlation engine searches angle and uniform scale only; in the advanced set the
  // same two bits are rotation and scale.
  widen(*copy, zones, rp, en, rp.dofMode() == FD::eAdvanced, geofind ? 15 : 3);
  copy->xyUncertainty(copy->xUncertainty() + rp.xUncertainty(),
                      copy->yUncertainty() + rp.yUncertainty());
  return copy;
}

namespace {

void setInfiniteUncertainty(vcFlexSubModelRunParams& p) {
  const double inf = std::numeric_limits<double>::infinity();
  p.xyUncertainty(inf, inf);
}

// The angle zone of a sub-model search (degrees, offsets from the start pose), when it has one
// of some width: the rotation of Geofind's advanced set, the angle otherwise.
bool angleZone(const vcFlexSubModelRunParams& p, double& lo, double& hi) {
  if (!p.searchZones().angle(lo, hi)) return false;
  // A full turn has no edge.
  return hi > lo && hi - lo < 360.0;
}

void setAngleZone(vcFlexSubModelRunParams& p, double lo, double hi) {
  p.searchZone(SD::eAngle, lo, hi);
}

// How far, as a relative size, a pose predicted from the pieces already found may be off: the
// map between a few close pieces knows the part's size to about a percent or two, and a piece
// fitted at a size off by that much is pulled off its place by a few tenths of a pixel.
constexpr double kPredictedScaleSlack = 0.02;

// A Geofind piece searched around its predicted pose with no size zone of its own, in a part
// whose zones let the size vary: it searches its size within what the prediction carries (no
// more than the arrangement's zone allows).
void carryPredictedScale(vcFlexSubModelRunParams& p, const vcFlexAlignRunParams& rp) {
  if (p.engine() != SD::eGeofindEngine || p.searchZones().set != vc_SubModelZones::eStandard ||
      rp.dofMode() != FD::eStandard)
    return;
  if (!(rp.dofData().getEnableFlags() & FD::eUniformScale) || (p.zoneEnable() & SD::eUniformScale))
    return;
  const double lo = std::max(-kPredictedScaleSlack, rp.zoneLowRelStandard(FD::eUniformScale));
  const double hi = std::min(kPredictedScaleSlack, rp.zoneHighRelStandard(FD::eUniformScale));
  if (!(hi > lo)) return;
  p.zoneEnable(p.zoneEnable() | SD::eUniformScale);
  p.searchZone(SD::eUniformScale, lo, hi);
}

// A candidate whose turn from the start pose lies on an end of the zone [lo, hi] stopped
// there: its best pose may lie beyond, so it is no match at its best pose.
constexpr double kOnTheEdgeDeg = 0.02;

// Candidates a search asks its engine for beyond those it keeps.
constexpr long kSpareCandidates = 2;

bool onZoneEdge(const vcFlexSubModelResult& r, const vc2XformBase& start, double lo, double hi) {
  const vcMatrix<2> m =
      start.inverseBase()->composeBase(r.pose())->linearXform({0.0, 0.0}).matrix();
  const double turn = m.rotation().toDouble() * vcDegPerRad;
  return std::fabs(turn - lo) < kOnTheEdgeDeg || std::fabs(turn - hi) < kOnTheEdgeDeg;
}

}  // namespace

void vc_FlexAlignRun::RunContext::checkTime() const {
  const double limit = params.timeout();
  if (limit > 0.0 && timer.sec() > limit)
    throw vcTimeout::Expired("The FlexAlign run took longer than its time limit of " +
                             std::to_string(limit) + " s (" + std::to_string(searches) +
                             " sub-model searches made)");
}

std::vector<ResultHandle> vc_FlexAlignRun::searchInstance_(
    RunContext& rc, const vc2XformBase& start, const vc2XformBase& windowStart, long position,
    bool cutWindow, const std::vector<vcVector<2>>& points, double widenBy, vcFlexAlignStatus& miss,
    const vcVector<2>* expectedAt, double expectedWithin) const {
  const vcFlexAlignRunParams& rp = rc.params;
  const vc_SubModelTool& tool =
      tools_[static_cast<std::size_t>(instanceToTool_[static_cast<std::size_t>(position)])];
  miss = vcFlexAlignStatus(vcFlexAlignStatus::eNoCandidate);
  miss.threshold = rp.subModelInstanceParams(position).acceptThreshold();
  vcPtrHandle<vcFlexSubModelRunParams> eff;
  vcPelBuffer_const<unsigned char> view = rc.image, maskView = rc.mask;
  if (cutWindow) {
    eff = effectiveParams_(rp, position);
    const vcPelRect predicted =
        windowFromUnc(rp, *rc.image.clientFromImageXformBase(), windowStart, position);
    const vcPelRect win = predicted.intersect(rc.image.window());
    if (win.isNull() || win.width() < vc_SubModelTool::kMinSearchSize ||
        win.height() < vc_SubModelTool::kMinSearchSize) {
      miss.kind =
          win.isNull() ? vcFlexAlignStatus::eOutsideImage : vcFlexAlignStatus::eWindowTooSmall;
      miss.window = predicted;
      return {};
    }
    view.window(win);
    if (rc.useMask) maskView.window(win);
    // The window already bounds the translation.
    setInfiniteUncertainty(*eff);
  } else {
    eff = rp.subModelInstanceParams(position).clone();
    if (rc.carryScale) carryPredictedScale(*eff, rp);
  }

  // The search keeps at most maxCandidates() candidates: the engine need not carry more down its
  // pyramid than that and the few that an end of the angle zone or an overlap may drop.
  vc_SubModelSearchContext context;
  context.imageCache = &rc.imageCache;
  context.pool = rc.pool;
  context.keep = rp.maxCandidates() + kSpareCandidates;
  if (expectedAt) {
    context.hasExpected = true;
    context.expected = *expectedAt;
    context.expectedWithin = expectedWithin;
  }

  // A symmetric piece's found angle is brought to the prediction before anything reads it (the
  // zone's edges, the overlaps, the branch's prediction of the next pieces, the fit).
  const vc_flxalign::PieceSymmetry symmetry =
      vc_flxalign::pieceSymmetry(tool, vc_flxalign::subModelOf(arrangement_, position));
  auto runTool = [&](const vcFlexSubModelRunParams& p) {
    rc.checkTime();
    ++rc.searches;
    vc_SubModelResultSet found;
    if (rc.useMask)
      tool.run(view, maskView, start, p, points, found, rc.diag, rc.diagFlags, &context);
    else
      tool.run(view, start, p, points, found, rc.diag, rc.diagFlags, &context);
    const vc_SubModelSearchNote& note = found.note();
    if (note.outcome != vc_SubModelSearchNote::eSearched) {
      miss.kind = note.outcome == vc_SubModelSearchNote::eWindowOutsideImage
                      ? vcFlexAlignStatus::eOutsideImage
                      : vcFlexAlignStatus::eWindowTooSmall;
      miss.window = note.window;
    } else if (note.bestRejected >= 0.0) {
      miss.kind = vcFlexAlignStatus::eBelowThreshold;
      miss.score = std::max(miss.score, note.bestRejected);
    }
    std::vector<ResultHandle> out = found.results();
    for (ResultHandle& r : out) r = vc_flxalign::alignToPrediction(r, symmetry, start);
    return out;
  };
  std::vector<ResultHandle> found = runTool(*eff);

  // Candidates stopped at an end of their angle zone: searched again with the zone widened by
  // what the prediction is known to carry (`widenBy`), and dropped when they stop there again.
  double lo = 0.0, hi = 0.0;
  if (angleZone(*eff, lo, hi)) {
    auto pinned = [&](const ResultHandle& r) { return onZoneEdge(*r, start, lo, hi); };
    if (widenBy > 0.0 && std::any_of(found.begin(), found.end(), pinned)) {
      lo -= widenBy, hi += widenBy;
      setAngleZone(*eff, lo, hi);
      found = runTool(*eff);
    }
    for (const ResultHandle& r : found) {
      if (!pinned(r) || (miss.kind == vcFlexAlignStatus::eAtZoneEdge && r->score() <= miss.score))
        continue;
      miss = vcFlexAlignStatus(vcFlexAlignStatus::eAtZoneEdge);
      miss.score = r->score();
      miss.amount = 0.5 * (hi - lo);
      miss.threshold = rp.subModelInstanceParams(position).acceptThreshold();
    }
    found.erase(std::remove_if(found.begin(), found.end(), pinned), found.end());
  }

  // The best few, and only those near the best.
  std::stable_sort(found.begin(), found.end(), [](const ResultHandle& a, const ResultHandle& b) {
    return a->score() > b->score();
  });
  if (!found.empty()) {
    const double floor = found.front()->score() - rp.candidateScoreMargin();
    std::size_t keep = 0;
    while (keep < found.size() && keep < static_cast<std::size_t>(rp.maxCandidates()) &&
           found[keep]->score() >= floor)
      ++keep;
    found.resize(keep);
  }
  return found;
}
