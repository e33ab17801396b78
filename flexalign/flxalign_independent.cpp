// The independent strategy: every instance is searched once from the run's start pose, and the
// candidates are combined. A candidate joins a combination only where it keeps its distances
// to the instances already in it (a look-alike of a neighbour answering the search lies a
// piece's pitch away); every combination also stays as it was, without the instance, so a
// hidden piece whose neighbour answers its search costs only that piece. As each instance is
// added, only the best maxCombinations() combinations are kept, so the work grows with the
// number of instances times that bound, never with the product of the candidates.

#include "flexalign/flxalign_independent.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_set>

namespace {

using vc_flxalign::isBlank;
using vc_flxalign::kTooMuchOverlap;
using vc_flxalign::overlapFraction;
using vc_flxalign::subModelOf;
using Node = vc_ResTreeElem::Handle;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;
using Xf = vcPtrHandle<vc2XformBase>;

// How many of the nearest instances already in a combination a candidate is checked against.
constexpr std::size_t kNeighboursChecked = 6;


// The factors the run lets the part's size change by: the uniform scale zone (the scale of the
// advanced set), else the tolerance of the uncertainty test.
void scaleRange(const vcFlexAlignRunParams& rp, double& lo, double& hi) {
  lo = 0.99, hi = 1.01;
  if (!(rp.zoneEnable() & 2ul)) return;
  if (rp.dofMode() == vcFlexAlignDefs::eStandard) {
    lo = 1.0 + rp.zoneLowRelStandard(vcFlexAlignDefs::eUniformScale);
    hi = 1.0 + rp.zoneHighRelStandard(vcFlexAlignDefs::eUniformScale);
  } else if (rp.dofMode() == vcFlexAlignDefs::eAdvanced) {
    lo = 1.0 + rp.zoneLowRelAdvanced(vcFlexAlignDefs::eScale);
    hi = 1.0 + rp.zoneHighRelAdvanced(vcFlexAlignDefs::eScale);
  }
  lo = std::min(lo, 0.99), hi = std::max(hi, 1.01);
}

struct Combination {
  Node node;  // stands for its path up to the root
  double score = 0.0;
};

}  // namespace

void vc_FlexAlignIndependentRun::runIndependentSubModelMode_(
    RunContext& rc, const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
    const OrderList& order, vcFlexAlignResultSet& results) const {
  (void)fixtures;
  const vcFlexAlignRunParams& params = rc.params;
  const std::size_t n = arrangement_.subModelIndices().size();
  // Instance centres in the origin frame, and the part's scale under the start pose.
  std::vector<vcVector<2>> centre(n);
  std::vector<double> uncertainty(n);
  for (std::size_t p = 0; p < n; ++p) {
    const Xf placed =
        arrangement_.origin()->inverseBase()->composeBase(*arrangement_.positions()[p]);
    centre[p] = placed->mapPoint(vcFlexSubModelHelper::centerPt(subModelOf(arrangement_, long(p))));
    uncertainty[p] = vc_flxalign::pieceTranslationUncertainty(params.subModelInstanceParams(long(p)));
  }
  const double startScale =
      std::sqrt(std::fabs(startPose.linearXform(vcVector<2>(0.0, 0.0)).matrix().det()));
  double scaleLo, scaleHi;
  scaleRange(params, scaleLo, scaleHi);
  auto foundCentre = [&](long q, const vcFlexSubModelResult& r) {
    return r.pose().mapPoint(vcFlexSubModelHelper::centerPt(subModelOf(arrangement_, q)));
  };

  Node root(new vc_ResTreeElem());
  std::vector<Combination> combos{{root, 0.0}};
  const vcFlexAlignResult empty;
  // Each instance is searched once: what that search gave holds for every combination.
  std::vector<vcFlexAlignStatus> searched(n);
  // With threads the searches, which depend on the start pose alone, are made first, all at
  // once; their candidates are combined in order below, as they would be one after another.
  struct Search {
    std::vector<ResultHandle> found;
    vcFlexAlignStatus miss;
    std::exception_ptr error;
  };
  std::vector<Search> early(order.size());
  std::vector<bool> searchedEarly(order.size(), false);
  if (rc.pool) {
    std::vector<std::size_t> todo;
    for (std::size_t g = 0; g < order.size(); ++g)
      if (!order[g].empty() && !isBlank(subModelOf(arrangement_, order[g].front()))) {
        effectiveParams_(params, order[g].front());  // refused in order, before any search
        todo.push_back(g);
        searchedEarly[g] = true;
      }
    vfParallelFor(rc.pool, todo.size(), [&](std::size_t i, unsigned) {
      const std::size_t g = todo[i];
      const long p = order[g].front();
      const vc2XformBase& position = *arrangement_.positions()[static_cast<std::size_t>(p)];
      try {
        const Xf start = subModelStartPose(startPose, subModelOf(arrangement_, p), position, empty);
        early[g].found = searchInstance_(rc, *start, startPose, p, true, {}, 0.0, early[g].miss);
      } catch (...) {
        early[g].error = std::current_exception();
      }
    });
  }
  for (std::size_t g = 0; g < order.size(); ++g) {
    const std::vector<long>& group = order[g];
    if (group.empty()) continue;
    const long p = group.front();
    const std::size_t up = static_cast<std::size_t>(p);
    const vcFlexSubModel& sm = subModelOf(arrangement_, p);
    const vc2XformBase& position = *arrangement_.positions()[up];
    const double fraction = vcFlexArrangementHelper::subModelFraction(arrangement_, p);
    effectiveParams_(params, p);  // refuses parameters of the wrong kind or mode up front
    if (isBlank(sm)) {
      // A blank instance is placed where each combination predicts it.
      const vc_SubModelTool& tool = tools_[static_cast<std::size_t>(instanceToTool_[up])];
      for (Combination& c : combos) {
        rc.checkTime();
        const Xf start = subModelStartPose(startPose, sm, position, pathResult_(c.node.ptr()));
        vc_SubModelResultSet blank;
        tool.run(rc.image, *start, params.subModelInstanceParams(p), {}, blank, rc.diag,
                 rc.diagFlags);
        if (blank.results().empty()) continue;
        c.score += fraction * blank.results().front()->score();
        c.node = c.node->addChild(p, blank.results().front());
      }
      continue;
    }

    vcFlexAlignStatus miss;
    std::vector<ResultHandle> found;
    if (searchedEarly[g]) {
      if (early[g].error) std::rethrow_exception(early[g].error);
      found = std::move(early[g].found);
      miss = early[g].miss;
    } else {
      const Xf start = subModelStartPose(startPose, sm, position, empty);
      found = searchInstance_(rc, *start, startPose, p, true, {}, 0.0, miss);
    }
    if (found.empty()) {
      searched[up] = miss;
      if (params.subModelInstanceParams(p).required()) {
        // Nothing can be found without it; the rejected combination says why.
        results.results_.clear();
        vcFlexAlignResult why = resultsFromLeaves_({root}, params, searched).front();
        why.found_ = false;
        why.status_ = vcFlexAlignStatus(vcFlexAlignStatus::eRequiredMissing);
        why.status_.other = p;
        results.rejected_.assign(1, std::move(why));
        return;
      }
      continue;
    }
    // A combination that lacks the instance although it had candidates lacks it because none
    // fitted that combination.
    searched[up] = vcFlexAlignStatus(vcFlexAlignStatus::eInconsistent);
    searched[up].score = found.front()->score();
    searched[up].threshold = miss.threshold;
    std::vector<vcVector<2>> candidateCentre;
    for (const ResultHandle& r : found) candidateCentre.push_back(foundCentre(p, *r));

    std::vector<Combination> next;
    for (const Combination& c : combos) {
      // The nearest instances of the combination, with where they were found.
      struct Known {
        double nominal;
        long q;
        const vcFlexSubModelResult* r;
      };
      std::vector<Known> known;
      for (const vc_ResTreeElem* e = c.node.ptr(); e && e->parent(); e = e->parent().ptr()) {
        const long q = e->subModelIndex();
        if (isBlank(subModelOf(arrangement_, q))) continue;
        known.push_back(
            {centre[up].distance(centre[static_cast<std::size_t>(q)]), q, e->result().ptr()});
      }
      const std::size_t m = std::min(known.size(), kNeighboursChecked);
      std::partial_sort(known.begin(), known.begin() + static_cast<std::ptrdiff_t>(m), known.end(),
                        [](const Known& a, const Known& b) { return a.nominal < b.nominal; });
      vcFlexAlignStatus rejected(vcFlexAlignStatus::eInconsistent);
      for (std::size_t k = 0; k < found.size(); ++k) {
        const ResultHandle& r = found[k];
        double most = 0.0;
        long with = -1;
        for (const Known& kn : known) {
          const double f = overlapFraction(r->matchRegion(), kn.r->matchRegion());
          if (f > kTooMuchOverlap && f > most) most = f, with = kn.q;
        }
        if (with >= 0) {
          if (rejected.kind != vcFlexAlignStatus::eOverlapped)
            rejected = vc_flxalign::overlapped(r->score(), with, most);
          continue;
        }
        bool fits = true;
        for (std::size_t i = 0; i < m && fits; ++i) {
          const Known& kn = known[i];
          const double d = kn.nominal * startScale;
          const double tol = uncertainty[up] + uncertainty[static_cast<std::size_t>(kn.q)] + 1.0;
          const double actual = candidateCentre[k].distance(foundCentre(kn.q, *kn.r));
          fits = actual >= d * scaleLo - tol && actual <= d * scaleHi + tol;
        }
        if (!fits) continue;
        next.push_back({c.node->addChild(p, r), c.score + fraction * r->score()});
      }
      if (rejected.kind == vcFlexAlignStatus::eOverlapped) c.node->addMiss(p, rejected);
      next.push_back(c);  // the combination without the instance
    }

    // The best combinations; all of them still lack the same instances, so their scores order
    // what each can still reach. Dropped new nodes leave the tree, and so does every node left
    // without a kept combination below it.
    std::stable_sort(next.begin(), next.end(),
                     [](const Combination& a, const Combination& b) { return a.score > b.score; });
    const std::size_t keep =
        std::min(next.size(), static_cast<std::size_t>(params.maxCombinations()));
    std::unordered_set<const vc_ResTreeElem*> kept;
    for (std::size_t i = 0; i < keep; ++i) kept.insert(next[i].node.ptr());
    // A detached node is marked, and never climbed from again: its parent pointer may then
    // name a node already freed.
    for (std::size_t i = keep; i < next.size(); ++i) {
      vc_ResTreeElem* e = next[i].node.ptr();
      while (!e->deleteMe() && e->parent() && e->numChildren() == 0 && !kept.count(e)) {
        vc_ResTreeElem* above = e->parent();
        e->deleteMe(true);
        above->removeChild(e);
        e = above;
      }
    }
    next.resize(keep);
    combos = std::move(next);
  }

  // Ranked by score; those above the accept threshold are the candidate results. Repeats of
  // one part are left to the run's overlap removal, after the fit has tested each.
  std::vector<Node> top, cut;
  for (const Combination& c : combos)
    (c.score > params.acceptThreshold() ? top : cut).push_back(c.node);
  emitResults_(top, cut, params, searched, results);
}
