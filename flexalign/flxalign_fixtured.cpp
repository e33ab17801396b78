// The locally fixtured strategy: each instance is predicted from the instances already found on
// its branch, searched near that prediction, and every candidate kept opens a branch for the
// instances that follow. The branches are walked depth first from an explicit stack (a part
// may have thousands of instances), best candidate first, and kept within bounds: a branch is
// not followed when even perfect scores for everything left could not lift it into the best
// numToFind found so far, a branch that keeps missing is abandoned, and at most
// maxCombinations() branches are followed to their end.

#include "flexalign/flxalign_fixtured.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <memory>

#include "vcFlexGeometry.h"

namespace {

using vc_flxalign::angleHalfWidth;
using vc_flxalign::isBlank;
using vc_flxalign::kTooMuchOverlap;
using vc_flxalign::overlapFraction;
using vc_flxalign::subModelOf;
using Node = vc_ResTreeElem::Handle;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;
using Xf = vcPtrHandle<vc2XformBase>;
using SD = vcFlexSubModelParamsDefs;
using GD = vcFlexSubModelGfndDefs;

// An order list shared by the branches that walk it, with the most each group can add to a
// score from it to the end (its best instance's share of the part).
struct Walk {
  std::vector<std::vector<long>> groups;
  std::vector<double> reach;  // reach[g]: sum over groups g.. of their largest share
};

std::shared_ptr<const Walk> makeWalk(const vcFlexArrangement& a,
                                     std::vector<std::vector<long>> groups) {
  auto w = std::make_shared<Walk>();
  w->groups = std::move(groups);
  w->reach.assign(w->groups.size() + 1, 0.0);
  for (std::size_t g = w->groups.size(); g-- > 0;) {
    double most = 0.0;
    for (long p : w->groups[g])
      most = std::max(most, vcFlexArrangementHelper::subModelFraction(a, p));
    w->reach[g] = w->reach[g + 1] + most;
  }
  return w;
}

// The groups a branch missed, newest first, shared by the branches that inherit them.
struct Missed {
  std::vector<long> group;
  std::shared_ptr<const Missed> older;
};

// Farthest a polished candidate may lie from its instance's first find (client units):
// the prediction from the others moves it by a few tenths, a look-alike neighbour by more.
constexpr double kPolishReach = 2.0;

std::size_t countPieces(const vcFlexArrangement& a, const std::vector<long>& positions) {
  std::size_t n = 0;
  for (long q : positions)
    if (!isBlank(subModelOf(a, q))) ++n;
  return n;
}

struct Frame {
  Node parent;  // the branch so far
  std::shared_ptr<const Walk> walk;
  std::size_t from = 0;  // the next group of the walk
  std::shared_ptr<const Missed> missed;
  std::size_t missedCount = 0;
  double missedReach = 0.0;  // the most the missed groups could add if searched again
  long level = 0;
  bool top = false;
  long family = -1;  // which candidate of the first group found the branch grew from
  long missesInARow = 0;
  long misses = 0;
  long found = 0;
  double score = 0.0;  // of the branch so far
};

}  // namespace

void vc_FlexAlignLocallyFixturedRun::runLocallyFixturedSubModelMode_(
    RunContext& rc, const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
    const OrderList& order, vcFlexAlignResultSet& results) const {
  const vcFlexAlignRunParams& params = rc.params;
  const Node root(new vc_ResTreeElem());
  // The best score a finished branch of each family reached; a branch that cannot beat the
  // numToFind-th best of them is not followed.
  std::map<long, double> familyBest;
  auto bar = [&] {
    std::vector<double> best;
    for (const auto& f : familyBest) best.push_back(f.second);
    const std::size_t k = static_cast<std::size_t>(params.numToFind());
    if (best.size() < k) return -std::numeric_limits<double>::infinity();
    std::nth_element(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(k - 1), best.end(),
                     std::greater<double>());
    return best[k - 1];
  };
  long finished = 0;

  std::vector<Frame> stack;
  {
    Frame first;
    first.parent = root;
    first.walk = makeWalk(arrangement_, order);
    first.top = true;
    stack.push_back(std::move(first));
  }
  struct Candidate {
    long position;
    ResultHandle result;
  };
  const vcFlexAlignResult noKeys;
  while (!stack.empty()) {
    Frame f = std::move(stack.back());
    stack.pop_back();
    const vcFlexAlignResult partial = pathResult_(f.parent.ptr());
    // Below the root the prediction is the interpolation of the poses the branch's instances
    // imply, and their centres are the fixtures.
    std::unique_ptr<vc2XformInterpMap> map;
    std::vector<vcVector<2>> keyPoints;
    double widenBy = 0.0;
    if (f.parent.ptr() != root.ptr()) {
      vc2XformInterpMap::KeyXforms keyXforms;
      collectKeys_(partial, keyXforms, keyPoints);
      if (!keyXforms.empty()) map = std::make_unique<vc2XformInterpMap>(keyXforms, keyPoints);
      for (long q : partial.positionIndices())
        if (!isBlank(subModelOf(arrangement_, q)))
          widenBy = std::max(widenBy, angleHalfWidth(params.subModelInstanceParams(q)));
    }
    // Only blank instances on the branch: nothing to follow.
    if (f.parent.ptr() != root.ptr() && !map) continue;
    const vc2XformBase& predictFrom = map ? static_cast<const vc2XformBase&>(*map) : startPose;
    const std::vector<vcVector<2>>& fixedAt = map ? keyPoints : fixtures;

    // The groups in turn, up to the first one that keeps a candidate.
    const std::vector<std::vector<long>>& groups = f.walk->groups;
    std::size_t g = f.from;
    std::vector<Candidate> kept;
    bool abandoned = false;
    for (; g < groups.size(); ++g) {
      kept.clear();
      // Why each position of the group kept no candidate, when it kept none.
      std::vector<vcFlexAlignStatus> why(groups[g].size());
      for (std::size_t gi = 0; gi < groups[g].size(); ++gi) {
        const long p = groups[g][gi];
        const vcFlexSubModel& sm = subModelOf(arrangement_, p);
        // The map already interpolates the branch's keys: predicting from it with no further
        // keys gives what the keys of `partial` would, without collecting them again.
        const Xf start = subModelStartPose(
            predictFrom, sm, *arrangement_.positions()[static_cast<std::size_t>(p)], noKeys);
        // Below the top the prediction is local: the tool's own window around it suffices, and
        // the distortion it allows grows with the distance to the instances found.
        // (Only a distortion rate reads them; mapping every fixture through the map would cost
        // the square of the branch's length.)
        std::vector<vcVector<2>> points;
        if (!f.top && std::fabs(params.subModelInstanceParams(p).distortionRate()) > 1e-15) {
          const Xf toSubModel = start->inverseBase();
          for (const vcVector<2>& pt : fixedAt)
            points.push_back(toSubModel->mapPoint(predictFrom.mapPoint(pt)));
        }
        const std::vector<ResultHandle> found =
            searchInstance_(rc, *start, predictFrom, p, f.top, points, widenBy, why[gi]);
        for (const ResultHandle& r : found) {
          long clashWith = -1;
          double most = 0.0;
          for (std::size_t i = 0; i < partial.subModelResults().size(); ++i) {
            const double o =
                overlapFraction(r->matchRegion(), partial.subModelResults()[i]->matchRegion());
            if (o > kTooMuchOverlap && o > most) most = o, clashWith = partial.positionIndices()[i];
          }
          if (clashWith < 0)
            kept.push_back({p, r});
          else if (why[gi].kind != vcFlexAlignStatus::eOverlapped || r->score() > why[gi].score)
            why[gi] = vc_flxalign::overlapped(r->score(), clashWith, most);
        }
      }
      // Of candidates of the group lying in one place, the best.
      std::stable_sort(kept.begin(), kept.end(), [](const Candidate& a, const Candidate& b) {
        return a.result->score() > b.result->score();
      });
      std::vector<Candidate> distinct;
      for (const Candidate& c : kept) {
        const Candidate* clash = nullptr;
        double o = 0.0;
        for (const Candidate& d : distinct)
          if ((o = overlapFraction(c.result->matchRegion(), d.result->matchRegion())) >
              kTooMuchOverlap) {
            clash = &d;
            break;
          }
        if (!clash) {
          distinct.push_back(c);
          continue;
        }
        const std::size_t gi = static_cast<std::size_t>(
            std::find(groups[g].begin(), groups[g].end(), c.position) - groups[g].begin());
        if (why[gi].kind != vcFlexAlignStatus::eOverlapped || c.result->score() > why[gi].score)
          why[gi] = vc_flxalign::overlapped(c.result->score(), clash->position, o);
      }
      kept = std::move(distinct);
      for (std::size_t gi = 0; gi < groups[g].size(); ++gi) {
        const long p = groups[g][gi];
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const Candidate& c) { return c.position == p; }))
          f.parent->addMiss(p, why[gi]);
      }
      if (!kept.empty()) break;
      double most = 0.0;
      for (long p : groups[g])
        most = std::max(most, vcFlexArrangementHelper::subModelFraction(arrangement_, p));
      f.missed = std::make_shared<const Missed>(Missed{groups[g], f.missed});
      ++f.missedCount;
      f.missedReach += most;
      ++f.missesInARow, ++f.misses;
      if (!f.top && params.maxMisses() > 0 && f.missesInARow >= params.maxMisses() &&
          f.misses >= f.found) {
        abandoned = true;
        break;
      }
    }

    if (!abandoned && g < groups.size()) {
      // A child per candidate kept, followed best first.
      const long maxDepth = maxRecursionDepth_;
      std::vector<Frame> children;
      for (std::size_t k = 0; k < kept.size(); ++k) {
        const Candidate& c = kept[k];
        const Node child = f.parent->addChild(c.position, c.result);
        Frame next;
        next.score = f.score + vcFlexArrangementHelper::subModelFraction(arrangement_, c.position) *
                                   c.result->score();
        const double reach =
            next.score + f.walk->reach[g + 1] + (f.level + 1 < maxDepth ? f.missedReach : 0.0);
        if (reach < bar()) {
          f.parent->removeChild(child.ptr());
          continue;
        }
        next.parent = child;
        next.walk = f.walk;
        next.from = g + 1;
        next.missed = f.missed;
        next.missedCount = f.missedCount;
        next.missedReach = f.missedReach;
        next.level = f.level + 1;
        next.family = f.top ? static_cast<long>(k) : f.family;
        next.misses = f.misses;
        next.found = f.found + 1;
        children.push_back(std::move(next));
      }
      for (auto it = children.rbegin(); it != children.rend(); ++it)
        stack.push_back(std::move(*it));
      continue;
    }

    // The branch ends here, unless the groups it missed are to be searched again from what it
    // found (up to the pattern's recursion depth).
    if (!abandoned && f.from == groups.size() && f.missedCount > 0 &&
        f.level < maxRecursionDepth_) {
      std::vector<std::vector<long>> again;
      std::vector<std::vector<long>> missedGroups;
      for (const Missed* m = f.missed.get(); m; m = m->older.get())
        missedGroups.push_back(m->group);
      for (long p : computeOptimalSubModelRunOrder(predictFrom, fixedAt, arrangement_)) {
        const std::vector<long> single{p};
        if (std::find(missedGroups.begin(), missedGroups.end(), single) != missedGroups.end())
          again.push_back(single);
      }
      Frame retry;
      retry.parent = f.parent;
      retry.walk = makeWalk(arrangement_, std::move(again));
      retry.level = f.level + 1;
      retry.family = f.family;
      retry.found = f.found;
      retry.score = f.score;
      stack.push_back(std::move(retry));
      continue;
    }
    if (f.family >= 0) {
      double& best = familyBest.try_emplace(f.family, f.score).first->second;
      best = std::max(best, f.score);
    }
    if (++finished >= params.maxCombinations()) stack.clear();
  }

  finishTree_(root, params, {}, results);
}

void vc_FlexAlignLocallyFixturedRun::polishInstances_(RunContext& rc, const vc2XformBase& startPose,
                                                      vcFlexAlignResultSet& results) const {
  rc.carryScale = false;
  for (vcFlexAlignResult& r : results.results_) {
    // At least two others to predict a piece from: one predicts only its own pose again.
    if (countPieces(arrangement_, r.positionIndices_) < 3) continue;
    // Every piece is searched again, predicted from the others as the tree found them, so the
    // searches depend on each other not at all and run on the run's threads.
    const std::size_t n = r.positionIndices_.size();
    std::vector<std::vector<ResultHandle>> again(n);
    std::vector<std::exception_ptr> error(n);
    vfParallelFor(rc.pool, n, [&](std::size_t at, unsigned) {
      const long p = r.positionIndices_[at];
      const vcFlexSubModel& sm = subModelOf(arrangement_, p);
      if (isBlank(sm)) return;
      try {
        // The prediction reads only the other found instances, in their order.
        vcFlexAlignResult others;
        for (std::size_t k = 0; k < n; ++k) {
          if (k == at) continue;
          others.positionIndices_.push_back(r.positionIndices_[k]);
          others.subModelResults_.push_back(r.subModelResults_[k]);
        }
        const Xf start = subModelStartPose(
            startPose, sm, *arrangement_.positions()[static_cast<std::size_t>(p)], others);
        // A polish, not a new find: the candidate must lie where the first search put it, so
        // the engine looks there first.
        const vcVector<2> origin = r.subModelResults_[at]->pose().mapPoint(vcVector<2>(0.0, 0.0));
        vcFlexAlignStatus why;
        again[at] = searchInstance_(rc, *start, startPose, p, false, {},
                                    angleHalfWidth(rc.params.subModelInstanceParams(p)), why,
                                    &origin, kPolishReach);
      } catch (...) {
        error[at] = std::current_exception();
      }
    });
    for (std::size_t at = 0; at < n; ++at) {
      if (error[at]) std::rethrow_exception(error[at]);
      const long p = r.positionIndices_[at];
      const vcFlexSubModel& sm = subModelOf(arrangement_, p);
      const ResultHandle old = r.subModelResults_[at];
      const vcVector<2> was = old->pose().mapPoint(vcFlexSubModelHelper::centerPt(sm));
      for (const ResultHandle& c : again[at]) {
        if (c->pose().mapPoint(vcFlexSubModelHelper::centerPt(sm)).distance(was) > kPolishReach)
          continue;
        r.score_ += static_cast<float>(vcFlexArrangementHelper::subModelFraction(arrangement_, p) *
                                       (c->score() - old->score()));
        r.subModelResults_[at] = c;
        // One score per piece: the status reads what the result reads.
        vcFlexAlignStatus& st = r.instanceStatus_[static_cast<std::size_t>(p)];
        if (st.kind == vcFlexAlignStatus::eFound) st.score = c->score();
        break;
      }
    }
    if (r.status_.kind == vcFlexAlignStatus::eFound) r.status_.score = r.score_;
  }
  rc.carryScale = true;
}
