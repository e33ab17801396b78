// The run: validation, search order, the two search strategies over the result tree, and the
// filtering, fitting and ranking of the combinations found.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "platform/core/vcTimer.h"
#include "vcFlexAlignTool.h"
#include "vcFlexGeometry.h"

namespace {

using FD = vcFlexAlignDefs;
using SD = vcFlexSubModelParamsDefs;
using Order = std::vector<std::vector<long>>;
using Node = vc_ResTreeElem::Handle;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;
using Xf = vcPtrHandle<vc2XformBase>;

constexpr double kTooMuchOverlap = 0.6;

bool isBlank(const vcFlexSubModel& s) { return s.modelType() == vcFlexModelDefs::eBlank; }

// Area of a convex polygon (shoelace).
double area(const std::vector<vcVector<2>>& poly) {
  double a = 0.0;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    a += poly[j].x() * poly[i].y() - poly[i].x() * poly[j].y();
  return 0.5 * std::abs(a);
}

std::vector<vcVector<2>> cornersOf(const vcAffineRectangle& r) {
  return {r.ul(), r.ur(), r.lr(), r.ll()};
}

// Clips a convex polygon by the half-plane left of the directed edge a -> b (for a
// counter-clockwise clip polygon; the caller orients it).
std::vector<vcVector<2>> clip(const std::vector<vcVector<2>>& poly, const vcVector<2>& a,
                              const vcVector<2>& b) {
  std::vector<vcVector<2>> out;
  auto side = [&](const vcVector<2>& p) {
    return (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
  };
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const vcVector<2>& p = poly[i];
    const vcVector<2>& q = poly[(i + 1) % poly.size()];
    const double sp = side(p), sq = side(q);
    if (sp >= 0) out.push_back(p);
    if ((sp >= 0) != (sq >= 0)) {
      const double t = sp / (sp - sq);
      out.push_back(vcVector<2>(p.x() + t * (q.x() - p.x()), p.y() + t * (q.y() - p.y())));
    }
  }
  return out;
}

std::vector<vcVector<2>> counterClockwise(std::vector<vcVector<2>> poly) {
  double a = 0.0;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    a += poly[j].x() * poly[i].y() - poly[i].x() * poly[j].y();
  if (a < 0) std::reverse(poly.begin(), poly.end());
  return poly;
}

// The area two match regions share, as a fraction of the smaller one (0 when their boxes do
// not meet). More than kTooMuchOverlap is one place, which two pieces cannot both fill.
double overlapFraction(const vcAffineRectangle& r1, const vcAffineRectangle& r2) {
  const std::vector<vcVector<2>> a = counterClockwise(cornersOf(r1));
  const std::vector<vcVector<2>> b = counterClockwise(cornersOf(r2));
  auto box = [](const std::vector<vcVector<2>>& p, double& x0, double& y0, double& x1, double& y1) {
    x0 = y0 = std::numeric_limits<double>::infinity();
    x1 = y1 = -x0;
    for (const auto& v : p) {
      x0 = std::min(x0, v.x()), y0 = std::min(y0, v.y());
      x1 = std::max(x1, v.x()), y1 = std::max(y1, v.y());
    }
  };
  double ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
  box(a, ax0, ay0, ax1, ay1);
  box(b, bx0, by0, bx1, by1);
  if (ax1 < bx0 || bx1 < ax0 || ay1 < by0 || by1 < ay0) return 0.0;
  std::vector<vcVector<2>> inter = a;
  for (std::size_t i = 0; i < b.size() && !inter.empty(); ++i)
    inter = clip(inter, b[i], b[(i + 1) % b.size()]);
  const double common = inter.size() < 3 ? 0.0 : area(inter);
  const double smaller = std::min(area(a), area(b));
  return smaller > 0.0 ? common / smaller : 0.0;
}

// The status of an instance whose candidates were all rejected for overlapping: the best one's.
vcFlexAlignStatus overlapped(double score, long other, double fraction) {
  vcFlexAlignStatus s{vcFlexAlignStatus::eOverlapped};
  s.score = score;
  s.other = other;
  s.amount = fraction;
  s.threshold = kTooMuchOverlap;
  return s;
}

}  // namespace

// ---- public entry ----

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>& image,
                             const vc2XformBase& startPose,
                             const std::vector<vcVector<2>>& fixtures,
                             const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
                             vcDiagObject* diag, unsigned long diagFlags) const {
  recordedRun_(image, vcPelBuffer_const<unsigned char>(), startPose, fixtures, params, results,
               false, diag, diagFlags);
}

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>& image,
                             const vcPelBuffer_const<unsigned char>& mask,
                             const vc2XformBase& startPose,
                             const std::vector<vcVector<2>>& fixtures,
                             const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
                             vcDiagObject* diag, unsigned long diagFlags) const {
  recordedRun_(image, mask, startPose, fixtures, params, results, true, diag, diagFlags);
}

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>&, const vc2XformBase&,
                             const vcFlexAlignRunParams&, vcFlexAlignResultSet&, vcDiagObject*,
                             unsigned long) const {
  throw FD::NotImplemented();
}

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>&,
                             const vcPelBuffer_const<unsigned char>&, const vc2XformBase&,
                             const vcFlexAlignRunParams&, vcFlexAlignResultSet&, vcDiagObject*,
                             unsigned long) const {
  throw FD::NotImplemented();
}

void vcFlexAlignPattern::recordedRun_(const vcPelBuffer_const<unsigned char>& image,
                                      const vcPelBuffer_const<unsigned char>& mask,
                                      const vc2XformBase& startPose,
                                      const std::vector<vcVector<2>>& fixtures,
                                      const vcFlexAlignRunParams& params,
                                      vcFlexAlignResultSet& results, bool useMask,
                                      vcDiagObject* diag, unsigned long diagFlags) const {
  recordRunInputs(diag, diagFlags, image, startPose, fixtures, params);
  try {
    run_(image, mask, startPose, fixtures, params, results, useMask, diag, diagFlags);
  } catch (const vcException& e) {
    recordRunOutputs(diag, diagFlags, image, results, true);
    recordRunThrow(diag, diagFlags, e);
    throw;
  }
  recordRunOutputs(diag, diagFlags, image, results, false);
}

// ---- effective parameters and the search of one instance ----

namespace {

// Widens zone d of the sub-model parameters by the arrangement's zone d.
template <class P, class Dof, class ArrDof>
void widen(P& sub, const vcFlexAlignRunParams& rp, unsigned long arrEnabled, bool advanced,
           unsigned long dofsOfKind) {
  for (unsigned long d = 1; d <= 8; d <<= 1) {
    if (!(arrEnabled & d) || !(dofsOfKind & d)) continue;
    double lo, hi;
    if (advanced) {
      lo = rp.zoneLowRelAdvanced(static_cast<FD::AdvancedDOF>(d));
      hi = rp.zoneHighRelAdvanced(static_cast<FD::AdvancedDOF>(d));
    } else {
      lo = rp.zoneLowRelStandard(static_cast<FD::StandardDOF>(d));
      hi = rp.zoneHighRelStandard(static_cast<FD::StandardDOF>(d));
    }
    const Dof dof = static_cast<Dof>(d);
    if (sub.zoneEnable() & d) {
      if constexpr (std::is_same_v<ArrDof, SD::AdvancedDOF>) {
        lo += sub.zoneLowRelAdvanced(dof), hi += sub.zoneHighRelAdvanced(dof);
      } else {
        lo += sub.zoneLowRelStandard(dof), hi += sub.zoneHighRelStandard(dof);
      }
    } else {
      sub.zoneEnable(sub.zoneEnable() | d);
    }
    if constexpr (std::is_same_v<ArrDof, SD::AdvancedDOF>)
      sub.zoneRelAdvanced(dof, lo, hi);
    else
      sub.zoneRelStandard(dof, lo, hi);
  }
}

}  // namespace

vcPtrHandle<vcFlexSubModelRunParams> vcFlexAlignPattern::effectiveParams_(
    const vcFlexAlignRunParams& rp, long position) const {
  const vcFlexSubModelRunParams& own = rp.subModelInstanceParams(position);
  const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&own);
  const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&own);
  if (g && c) throw FD::InternalError();
  if (!g && !c) throw FD::CanNotRun("Sub-model runtime parameters are not of the allowed type.");
  const unsigned long en = rp.dofData().getEnableFlags();
  vcPtrHandle<vcFlexSubModelRunParams> copy = own.clone();
  if (g) {
    using GD = vcFlexSubModelGfndDefs;
    const bool match = (g->dofMode() == GD::eStandard && rp.dofMode() == FD::eStandard) ||
                       (g->dofMode() == GD::eAdvanced && rp.dofMode() == FD::eAdvanced) ||
                       (g->dofMode() == GD::eCustom && rp.dofMode() == FD::eCustom);
    if (!match) throw FD::BadParams("Sub-model and arrangement DOF modes are incompatible.");
    if (g->dofMode() == GD::eCustom) throw FD::NotImplemented();
    auto& e = dynamic_cast<vcFlexSubModelGfndRunParams&>(*copy);
    if (g->dofMode() == GD::eAdvanced)
      widen<vcFlexSubModelGfndRunParams, SD::AdvancedDOF, SD::AdvancedDOF>(e, rp, en, true, 15);
    else
      widen<vcFlexSubModelGfndRunParams, SD::StandardDOF, SD::StandardDOF>(e, rp, en, false, 15);
    e.xyUncertainty(e.xUncertainty() + rp.xUncertainty(), e.yUncertainty() + rp.yUncertainty());
  } else {
    auto& e = dynamic_cast<vcFlexSubModelCorRunParams&>(*copy);
    // The correlation engine searches angle and uniform scale only; in the advanced set the
    // same two bits are rotation and scale.
    widen<vcFlexSubModelCorRunParams, SD::StandardDOF, SD::StandardDOF>(
        e, rp, en, rp.dofMode() == FD::eAdvanced, 3);
    e.xyUncertainty(e.xUncertainty() + rp.xUncertainty(), e.yUncertainty() + rp.yUncertainty());
  }
  return copy;
}

namespace {

void setInfiniteUncertainty(vcFlexSubModelRunParams& p) {
  const double inf = std::numeric_limits<double>::infinity();
  if (auto* g = dynamic_cast<vcFlexSubModelGfndRunParams*>(&p)) g->xyUncertainty(inf, inf);
  if (auto* c = dynamic_cast<vcFlexSubModelCorRunParams*>(&p)) c->xyUncertainty(inf, inf);
}

}  // namespace

std::vector<ResultHandle> vcFlexAlignPattern::searchInstance_(
    const vcPelBuffer_const<unsigned char>& image, const vcPelBuffer_const<unsigned char>& mask,
    bool useMask, const vc2XformBase& start, const vc2XformBase& windowStart,
    const vcFlexAlignRunParams& rp, long position, bool cutWindow,
    const std::vector<vcVector<2>>& points, vcFlexAlignStatus& miss, vcDiagObject* diag,
    unsigned long diagFlags) const {
  const vc_SubModelTool& tool =
      tools_[static_cast<std::size_t>(instanceToTool_[static_cast<std::size_t>(position)])];
  miss = vcFlexAlignStatus{vcFlexAlignStatus::eNoCandidate};
  miss.threshold = rp.subModelInstanceParams(position).acceptThreshold();
  vcPtrHandle<vcFlexSubModelRunParams> eff;
  vcPelBuffer_const<unsigned char> view = image, maskView = mask;
  if (cutWindow) {
    eff = effectiveParams_(rp, position);
    const vcPelRect predicted =
        windowFromUnc(rp, *image.clientFromImageXformBase(), windowStart, position);
    const vcPelRect win = predicted.intersect(image.window());
    if (win.isNull() || win.width() < vc_SubModelTool::kMinSearchSize ||
        win.height() < vc_SubModelTool::kMinSearchSize) {
      miss.kind =
          win.isNull() ? vcFlexAlignStatus::eOutsideImage : vcFlexAlignStatus::eWindowTooSmall;
      miss.window = predicted;
      return {};
    }
    view.window(win);
    if (useMask) maskView.window(win);
    // The window already bounds the translation.
    setInfiniteUncertainty(*eff);
  } else {
    eff = rp.subModelInstanceParams(position).clone();
  }
  vc_SubModelResultSet found;
  if (useMask)
    tool.run(view, maskView, start, *eff, points, found, diag, diagFlags);
  else
    tool.run(view, start, *eff, points, found, diag, diagFlags);
  const vc_SubModelSearchNote& note = found.note();
  if (note.outcome != vc_SubModelSearchNote::eSearched) {
    miss.kind = note.outcome == vc_SubModelSearchNote::eWindowOutsideImage
                    ? vcFlexAlignStatus::eOutsideImage
                    : vcFlexAlignStatus::eWindowTooSmall;
    miss.window = note.window;
  } else if (note.bestRejected >= 0.0) {
    miss.kind = vcFlexAlignStatus::eBelowThreshold;
    miss.score = note.bestRejected;
  }
  return found.results();
}

// ---- the partial result of a path, and results from leaves ----

vcFlexAlignResult vcFlexAlignPattern::pathResult_(const vc_ResTreeElem* node) const {
  vcFlexAlignResult r;
  for (const vc_ResTreeElem* e = node; e && e->parent(); e = e->parent().ptr()) {
    r.positionIndices_.push_back(e->subModelIndex());
    r.subModelResults_.push_back(e->result());
  }
  return r;
}

std::vector<vcFlexAlignResult> vcFlexAlignPattern::resultsFromLeaves_(
    const std::vector<Node>& leaves, const vcFlexAlignRunParams& rp,
    const std::vector<vcFlexAlignStatus>& searched) const {
  const std::size_t n = arrangement_.subModelIndices().size();
  std::vector<vcFlexAlignResult> out(leaves.size());
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    vcFlexAlignResult& r = out[k];
    r.instanceStatus_.assign(n, vcFlexAlignStatus());
    std::vector<bool> known(n, false);
    double score = 0.0;
    for (const vc_ResTreeElem* e = leaves[k].ptr(); e && e->parent(); e = e->parent().ptr()) {
      const long p = e->subModelIndex();
      r.positionIndices_.push_back(p);
      r.subModelResults_.push_back(e->result()->clone());
      score += vcFlexArrangementHelper::subModelFraction(arrangement_, p) * e->result()->score();
      vcFlexAlignStatus& st = r.instanceStatus_[static_cast<std::size_t>(p)];
      st = vcFlexAlignStatus{vcFlexAlignStatus::eFound};
      st.score = e->result()->score();
      st.threshold = rp.subModelInstanceParams(p).acceptThreshold();
      known[static_cast<std::size_t>(p)] = true;
    }
    // The deepest note of a miss on the path says why an instance is missing; the root's
    // notes are those of searches made before anything was found.
    for (const vc_ResTreeElem* e = leaves[k].ptr(); e; e = e->parent().ptr()) {
      for (auto it = e->misses().rbegin(); it != e->misses().rend(); ++it) {
        const std::size_t p = static_cast<std::size_t>(it->first);
        if (p >= n || known[p]) continue;
        r.instanceStatus_[p] = it->second;
        known[p] = true;
      }
    }
    for (std::size_t p = 0; p < n && p < searched.size(); ++p)
      if (!known[p]) r.instanceStatus_[p] = searched[p];
    r.arrangementOrigin_ = arrangement_.origin()->clone();
    r.dofMode_ = rp.dofMode();
    r.score_ = static_cast<float>(score);
    r.status_ = vcFlexAlignStatus{vcFlexAlignStatus::eFound};
    r.status_.score = r.score_;
    r.status_.threshold = rp.acceptThreshold();
  }
  return out;
}

void vcFlexAlignPattern::finishTree_(const Node& root, const vcFlexAlignRunParams& rp,
                                     const std::vector<vcFlexAlignStatus>& searched,
                                     vcFlexAlignResultSet& results) const {
  const std::vector<Node> top = root->topScoringLeafs(arrangement_, rp);
  results.results_ = resultsFromLeaves_(top, rp, searched);
  results.rejected_.clear();
  // The best combinations the threshold cut, or the bare root when nothing at all was found,
  // so that the run can still say how close it came and why each instance is missing.
  std::vector<Node> cut;
  for (const Node& leaf : root->listLeafs())
    if (std::find(top.begin(), top.end(), leaf) == top.end()) cut.push_back(leaf);
  if (root->numChildren() == 0) cut.push_back(root);
  std::stable_sort(cut.begin(), cut.end(), [&](const Node& a, const Node& b) {
    return a->scoreLeafPath(arrangement_) > b->scoreLeafPath(arrangement_);
  });
  if (cut.size() > static_cast<std::size_t>(rp.numToFind()))
    cut.resize(static_cast<std::size_t>(rp.numToFind()));
  for (vcFlexAlignResult& r : resultsFromLeaves_(cut, rp, searched)) {
    r.found_ = false;
    r.status_.kind = vcFlexAlignStatus::eBelowThreshold;
    results.rejected_.push_back(std::move(r));
  }
}

// ---- independent mode ----

void vcFlexAlignPattern::runIndependentSubModelMode_(
    const vcPelBuffer_const<unsigned char>& image, const vcPelBuffer_const<unsigned char>& mask,
    const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
    const vcFlexAlignRunParams& params, const Order& order, vcFlexAlignResultSet& results,
    bool useMask, vcDiagObject* diag, unsigned long diagFlags) const {
  (void)fixtures;
  Node root(new vc_ResTreeElem());
  std::vector<Node> leaves{root};
  const vcFlexAlignResult empty;
  // Each instance is searched once: what that search gave holds for every combination.
  std::vector<vcFlexAlignStatus> searched(arrangement_.subModelIndices().size());
  for (const std::vector<long>& group : order) {
    if (group.empty()) continue;
    const long p = group.front();
    const std::size_t up = static_cast<std::size_t>(p);
    const vcFlexSubModel& sm =
        arrangement_.subModels()[static_cast<std::size_t>(arrangement_.subModelIndices()[up])];
    const vc2XformBase& position = *arrangement_.positions()[up];
    effectiveParams_(params, p);  // refuses parameters of the wrong kind or mode up front
    if (!isBlank(sm)) {
      const Xf start = subModelStartPose(startPose, sm, position, empty);
      vcFlexAlignStatus miss;
      const std::vector<ResultHandle> found = searchInstance_(
          image, mask, useMask, *start, startPose, params, p, true, {}, miss, diag, diagFlags);
      if (found.empty()) {
        searched[up] = miss;
        if (params.subModelInstanceParams(p).required()) {
          // Nothing can be found without it; the rejected combination says why.
          results.results_.clear();
          vcFlexAlignResult why = resultsFromLeaves_({root}, params, searched).front();
          why.found_ = false;
          why.status_ = vcFlexAlignStatus{vcFlexAlignStatus::eRequiredMissing};
          why.status_.other = p;
          results.rejected_.push_back(std::move(why));
          return;
        }
        continue;
      }
      // Had candidates: a combination without them lacks the instance for another reason.
      searched[up] = vcFlexAlignStatus{vcFlexAlignStatus::eInconsistent};
      searched[up].score = found.front()->score();
      searched[up].threshold = miss.threshold;
      std::vector<Node> next;
      for (const Node& leaf : leaves) {
        const std::vector<Node> added = leaf->addChildren(p, found);
        next.insert(next.end(), added.begin(), added.end());
      }
      leaves = std::move(next);
    } else {
      const vc_SubModelTool& tool = tools_[static_cast<std::size_t>(instanceToTool_[up])];
      std::vector<Node> next;
      for (const Node& leaf : leaves) {
        const Xf start = subModelStartPose(startPose, sm, position, pathResult_(leaf.ptr()));
        vc_SubModelResultSet blank;
        tool.run(image, *start, params.subModelInstanceParams(p), {}, blank, diag, diagFlags);
        if (blank.results().empty()) {
          next.push_back(leaf);
          continue;
        }
        next.push_back(leaf->addChild(p, blank.results().front()));
      }
      leaves = std::move(next);
    }
  }
  finishTree_(root, params, searched, results);
}

// ---- locally fixtured mode ----

void vcFlexAlignPattern::runLocallyFixturedSubModelMode_(
    const vcPelBuffer_const<unsigned char>& image, const vcPelBuffer_const<unsigned char>& mask,
    const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
    const vcFlexAlignRunParams& params, const Order& order, vcFlexAlignResultSet& results,
    bool useMask, vcDiagObject* diag, unsigned long diagFlags, long recursionLevel, bool isTopLevel,
    const Order& remaining, const Node* parentIn) const {
  const Node parent = parentIn && *parentIn ? *parentIn : Node(new vc_ResTreeElem());
  const vcFlexAlignResult partial = pathResult_(parent.ptr());
  Order missed = remaining;
  std::size_t g = 0;
  struct Candidate {
    long position;
    ResultHandle result;
  };
  std::vector<Candidate> kept;
  for (; g < order.size(); ++g) {
    kept.clear();
    // Why each position of the group kept no candidate, when it kept none.
    std::vector<vcFlexAlignStatus> why(order[g].size());
    for (std::size_t gi = 0; gi < order[g].size(); ++gi) {
      const long p = order[g][gi];
      const std::size_t up = static_cast<std::size_t>(p);
      const vcFlexSubModel& sm =
          arrangement_.subModels()[static_cast<std::size_t>(arrangement_.subModelIndices()[up])];
      const Xf start = subModelStartPose(startPose, sm, *arrangement_.positions()[up], partial);
      // Below the top level the prediction is local: the tool's own window around it suffices.
      std::vector<vcVector<2>> points;
      if (!isTopLevel) {
        const Xf toSubModel = start->inverseBase();
        for (const vcVector<2>& f : fixtures)
          points.push_back(toSubModel->mapPoint(startPose.mapPoint(f)));
      }
      const std::vector<ResultHandle> found =
          searchInstance_(image, mask, useMask, *start, startPose, params, p, isTopLevel, points,
                          why[gi], diag, diagFlags);
      for (const ResultHandle& r : found) {
        long clashWith = -1;
        double most = 0.0;
        for (std::size_t i = 0; i < partial.subModelResults_.size(); ++i) {
          const double f =
              overlapFraction(r->matchRegion(), partial.subModelResults_[i]->matchRegion());
          if (f > kTooMuchOverlap && f > most) most = f, clashWith = partial.positionIndices_[i];
        }
        if (clashWith < 0)
          kept.push_back({p, r});
        else if (why[gi].kind != vcFlexAlignStatus::eOverlapped || r->score() > why[gi].score)
          why[gi] = overlapped(r->score(), clashWith, most);
      }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Candidate& a, const Candidate& b) {
      return a.result->score() > b.result->score();
    });
    std::vector<Candidate> distinct;
    for (const Candidate& c : kept) {
      const Candidate* clash = nullptr;
      double f = 0.0;
      for (const Candidate& d : distinct)
        if ((f = overlapFraction(c.result->matchRegion(), d.result->matchRegion())) >
            kTooMuchOverlap) {
          clash = &d;
          break;
        }
      if (!clash) {
        distinct.push_back(c);
        continue;
      }
      const std::size_t gi = static_cast<std::size_t>(
          std::find(order[g].begin(), order[g].end(), c.position) - order[g].begin());
      if (why[gi].kind != vcFlexAlignStatus::eOverlapped || c.result->score() > why[gi].score)
        why[gi] = overlapped(c.result->score(), clash->position, f);
    }
    kept = std::move(distinct);
    for (std::size_t gi = 0; gi < order[g].size(); ++gi) {
      const long p = order[g][gi];
      const bool has = std::any_of(kept.begin(), kept.end(),
                                   [&](const Candidate& c) { return c.position == p; });
      if (!has) parent->addMiss(p, why[gi]);
    }
    if (!kept.empty()) break;
    missed.push_back(order[g]);
  }

  if (g < order.size()) {
    std::vector<long> positions;
    std::vector<ResultHandle> found;
    for (const Candidate& c : kept) positions.push_back(c.position), found.push_back(c.result);
    const std::size_t first = static_cast<std::size_t>(parent->numChildren());
    parent->addChildren(positions, found);
    const Order rest(order.begin() + static_cast<std::ptrdiff_t>(g) + 1, order.end());
    for (std::size_t k = first; k < static_cast<std::size_t>(parent->numChildren()); ++k) {
      const Node child = parent->child(static_cast<long>(k));
      vc2XformInterpMap::KeyXforms keyXforms;
      vc2XformInterpMap::KeyPoints keyPoints;
      collectKeys_(pathResult_(child.ptr()), keyXforms, keyPoints);
      if (keyXforms.empty()) continue;  // only blank instances on the path: nothing to follow
      const vc2XformInterpMap map(keyXforms, keyPoints);
      runLocallyFixturedSubModelMode_(image, mask, map, keyPoints, params, rest, results, useMask,
                                      diag, diagFlags, recursionLevel + 1, false, missed, &child);
    }
  }

  if (order.size() == missed.size()) {
    // Nothing found at all: no result, but the rejected root says why each instance missed.
    if (isTopLevel) finishTree_(parent, params, {}, results);
    return;
  }
  if (order.empty() && !missed.empty() &&
      recursionLevel < vcFlexAlignPatternHelper::maxRecursionDepth(*this)) {
    Order again;
    for (long p : computeOptimalSubModelRunOrder(startPose, fixtures, arrangement_)) {
      const std::vector<long> single{p};
      if (std::find(missed.begin(), missed.end(), single) != missed.end()) again.push_back(single);
    }
    runLocallyFixturedSubModelMode_(image, mask, startPose, fixtures, params, again, results,
                                    useMask, diag, diagFlags, recursionLevel + 1, false, Order(),
                                    &parent);
  }
  if (parent.ptr() == parent->root().ptr()) finishTree_(parent, params, {}, results);
}

// ---- the run sequence ----

void vcFlexAlignPattern::run_(const vcPelBuffer_const<unsigned char>& image,
                              const vcPelBuffer_const<unsigned char>& mask,
                              const vc2XformBase& startPose,
                              const std::vector<vcVector<2>>& fixtures,
                              const vcFlexAlignRunParams& p, vcFlexAlignResultSet& R, bool useMask,
                              vcDiagObject* diag, unsigned long diagFlags) const {
  vcTimer timer(true);
  if (!trained_) throw FD::NotTrained();
  if (!image.isBound()) throw FD::BadImage("The runtime image is unbound");
  if (useMask) {
    if (!mask.isBound()) throw FD::BadImage("Mask image has to be bound");
    if (!(mask.window() == image.window()))
      throw FD::BadImage("Mask image size does not match runtime image");
  }
  if (p.runOrderMode() == FD::eExplicitOrdering && p.runOrder().empty())
    throw FD::CanNotRun("Run order list is empty");

  // A run order naming instances the pattern does not have would index past its tools.
  const long n = static_cast<long>(arrangement_.subModelIndices().size());
  for (const auto& group : p.runOrder())
    for (long q : group)
      if (q < 0 || q >= n) throw FD::BadIndex();

  Order order;
  if (p.runOrderMode() == FD::eAutomaticOrdering) {
    if (p.runStrategy() == FD::eIndependentSubModels) {
      for (long q = 0; q < n; ++q) order.push_back({q});
    } else {
      for (long q : computeOptimalSubModelRunOrder(startPose, fixtures, arrangement_))
        order.push_back({q});
    }
    if (!p.runOrder().empty()) {
      Order kept;
      for (const auto& group : order)
        if (std::find(p.runOrder().begin(), p.runOrder().end(), group) != p.runOrder().end())
          kept.push_back(group);
      order = std::move(kept);
    }
  } else {
    order = p.runOrder();
  }

  R.results_.clear();
  R.rejected_.clear();
  if (p.runStrategy() == FD::eIndependentSubModels)
    runIndependentSubModelMode_(image, mask, startPose, fixtures, p, order, R, useMask, diag,
                                diagFlags);
  else
    runLocallyFixturedSubModelMode_(image, mask, startPose, fixtures, p, order, R, useMask, diag,
                                    diagFlags, 0, true, Order(), nullptr);
  R.startPose_ = startPose.clone();
  std::vector<vcFlexAlignResult>& res = R.results_;
  std::vector<vcFlexAlignResult>& rejected = R.rejected_;
  // Moves the results `drop` picks into the rejected ones, with the status it gives them.
  auto reject = [&](const std::function<bool(vcFlexAlignResult&)>& drop) {
    std::vector<vcFlexAlignResult> kept;
    for (vcFlexAlignResult& r : res) {
      if (drop(r)) {
        r.found_ = false;
        rejected.push_back(std::move(r));
      } else {
        kept.push_back(std::move(r));
      }
    }
    res = std::move(kept);
  };
  reject([&](vcFlexAlignResult& r) {
    if (!(r.score() < p.acceptThreshold())) return false;
    r.status_.kind = vcFlexAlignStatus::eBelowThreshold;
    return true;
  });
  R.time_ = timer.sec();

  const vcVector<2> originPoint = arrangement_.origin()->mapPoint(vcVector<2>(0.0, 0.0));
  const vc2XformLinear startLin = startPose.linearXform(originPoint);
  fitResults_(res, startPose, startLin, p);
  reject([](vcFlexAlignResult& r) { return r.status_.kind == vcFlexAlignStatus::eTooFewPieces; });
  const bool checkSubModels = p.runStrategy() == FD::eIndependentSubModels;
  reject([&](vcFlexAlignResult& r) {
    if (r.isWithinDofUncertainty(arrangement_, startLin, p, checkSubModels)) return false;
    r.status_.kind = vcFlexAlignStatus::eOutsideRange;
    return true;
  });
  removeOverlapping_(res, p);
  markMissingRequired_(res, order, p);
  rankAndCut_(res, p.numToFind());

  // The rejected ones are fitted too (where a fit is possible), so that they show where the
  // part would lie; the best of them are kept.
  std::vector<vcFlexAlignResult> unfitted;
  for (vcFlexAlignResult& r : rejected)
    if (r.dofValues_.empty()) unfitted.push_back(r);
  rejected.erase(std::remove_if(rejected.begin(), rejected.end(),
                                [](const vcFlexAlignResult& r) { return r.dofValues_.empty(); }),
                 rejected.end());
  for (vcFlexAlignResult& r : unfitted) {
    const vcFlexAlignStatus why = r.status_;
    std::vector<vcFlexAlignResult> one{r};
    fitResults_(one, startPose, startLin, p);
    r = std::move(one.front());
    r.status_ = why;  // a fit of too few pieces leaves the start pose, and the first reason
    r.found_ = false;
    rejected.push_back(std::move(r));
  }
  std::stable_sort(
      rejected.begin(), rejected.end(),
      [](const vcFlexAlignResult& a, const vcFlexAlignResult& b) { return a.score() > b.score(); });
  if (rejected.size() > static_cast<std::size_t>(p.numToFind()))
    rejected.resize(static_cast<std::size_t>(p.numToFind()));
}

void vcFlexAlignPattern::fitResults_(std::vector<vcFlexAlignResult>& res,
                                     const vc2XformBase& startPose, const vc2XformBase& startLin,
                                     const vcFlexAlignRunParams& p) const {
  // Fit through the sub-models meant for it; the results keep all of theirs.
  std::vector<vcFlexAlignResult> fit = res;
  for (vcFlexAlignResult& r : fit) {
    std::vector<long> idx;
    std::vector<ResultHandle> subs;
    for (std::size_t k = 0; k < r.positionIndices_.size(); ++k) {
      if (!p.subModelInstanceParams(r.positionIndices_[k]).useForFinalFit()) continue;
      idx.push_back(r.positionIndices_[k]);
      subs.push_back(r.subModelResults_[k]);
    }
    r.positionIndices_ = std::move(idx);
    r.subModelResults_ = std::move(subs);
  }
  const std::size_t needed = piecesForFinalFit_(p);
  for (std::size_t i = 0; i < res.size(); ++i) {
    vcFlexAlignResult& r = res[i];
    std::size_t pieces = 0;
    for (long q : fit[i].positionIndices_)
      if (!isBlank(arrangement_.subModels()[static_cast<std::size_t>(
              arrangement_.subModelIndices()[static_cast<std::size_t>(q)])]))
        ++pieces;
    // A combination of too few pieces for the fit cannot be placed: it is not found, and the
    // run goes on with the others.
    if (pieces < needed && !fit[i].subModelResults_.empty()) {
      r.found_ = false;
      r.status_ = vcFlexAlignStatus(vcFlexAlignStatus::eTooFewPieces);
      r.status_.amount = static_cast<double>(pieces);
      r.status_.threshold = static_cast<double>(needed);
      r.pose_ = startPose.clone();
      computeSubModelFromArrangementPose(r);
      continue;
    }
    unsigned long dofs = p.dofData().getEnableFlags();
    doFinalFit(fit[i], startPose, p, p.finalFitMode(), p.dofMode(), dofs, vc2XformLinear());
    r.pose_ = fit[i].pose_;
    r.infoStrings_ = fit[i].infoStrings_;
    r.infoIds_ = fit[i].infoIds_;
    r.poseToDofValue(p.dofMode(), startLin);
    for (std::size_t k = 0; k < fit[i].positionIndices_.size(); ++k) {
      const auto at = std::find(r.positionIndices_.begin(), r.positionIndices_.end(),
                                fit[i].positionIndices_[k]);
      if (at == r.positionIndices_.end()) continue;
      r.subModelResults_[static_cast<std::size_t>(at - r.positionIndices_.begin())]
          ->arrangementFromSubModel(fit[i].subModelResults_[k]->arrangementFromSubModelHandle());
    }
    computeSubModelFromArrangementPose(r);
  }
}

// Of two results of one instance the weaker goes; of equal ones the earlier.
void vcFlexAlignPattern::removeOverlapping_(std::vector<vcFlexAlignResult>& res,
                                            const vcFlexAlignRunParams& p) const {
  for (std::size_t i = 0; i < res.size(); ++i) {
    for (std::size_t j = i + 1; j < res.size();) {
      if (!res[i].isOverlapping(arrangement_, res[j], p)) {
        ++j;
      } else if (res[j].score() >= res[i].score()) {
        res.erase(res.begin() + static_cast<std::ptrdiff_t>(i));
        j = i + 1;
      } else {
        res.erase(res.begin() + static_cast<std::ptrdiff_t>(j));
      }
    }
  }
}

void vcFlexAlignPattern::markMissingRequired_(std::vector<vcFlexAlignResult>& res,
                                              const OrderList& order,
                                              const vcFlexAlignRunParams& p) const {
  for (vcFlexAlignResult& r : res) {
    for (const auto& group : order) {
      if (group.empty()) continue;
      bool present = false;
      for (long q : group)
        if (std::find(r.positionIndices_.begin(), r.positionIndices_.end(), q) !=
            r.positionIndices_.end())
          present = true;
      if (present || !p.subModelInstanceParams(group.front()).required()) continue;
      if (r.found_) {
        r.status_ = vcFlexAlignStatus{vcFlexAlignStatus::eRequiredMissing};
        r.status_.other = group.front();
      }
      r.found_ = false;
      r.infoStrings_.push_back("One or more required sub-models are missing");
      r.infoIds_.push_back(0);
    }
  }
}

// Found ones first, then by score, a tie keeping the earlier; cut to `numToFind`.
void vcFlexAlignPattern::rankAndCut_(std::vector<vcFlexAlignResult>& res, long numToFind) {
  const std::size_t k = std::min(res.size(), static_cast<std::size_t>(numToFind));
  for (std::size_t a = 0; a < k; ++a) {
    std::size_t best = a;
    for (std::size_t b = a + 1; b < res.size(); ++b) {
      const bool better =
          res[b].found() != res[best].found() ? res[b].found() : res[b].score() > res[best].score();
      if (better) best = b;
    }
    if (best != a) std::swap(res[a], res[best]);
  }
  res.resize(k);
}
