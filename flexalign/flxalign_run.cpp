// The run sequence: validation, search order, the search by one of the two strategies, and the
// filtering, fitting and ranking of the combinations found; results built from the tree's
// leaves, with the reason each missing instance is missing.

#include "flexalign/flxalign_run.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "flexalign/flxalign_fixtured.h"
#include "flexalign/flxalign_independent.h"
#include "platform/core/vcText.h"
#include "platform/core/vcXform.h"
#include "vcFlexGeometry.h"
#include "vcFlexLimits.h"

namespace {

using FD = vcFlexAlignDefs;
using Order = std::vector<std::vector<long>>;
using Node = vc_ResTreeElem::Handle;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;
using vc_flxalign::isBlank;

// The engines' own bound on positions (the platform cannot see the public table) is the table's.
static_assert(kVcMaxCoordinate == vcFlexLimits::kMaxCoordinate &&
              kVcMaxScale == vcFlexLimits::kMaxPoseScale);

// A start pose the run can search from: finite, within kMaxCoordinate of the client origin,
// its scale neither vanishing nor absurd. Anything else would give windows of nothing or of
// everything, and a "not found" that hides the mistake.
void checkStartPose(const vc2XformBase& startPose) {
  const vc2XformLinear lin = startPose.linearXform(vcVector<2>(0.0, 0.0));
  const vcMatrix<2>& m = lin.matrix();
  const vcVector<2>& t = lin.trans();
  const double scale = std::sqrt(std::fabs(m.det()));
  const bool finite = std::isfinite(m.element(0, 0)) && std::isfinite(m.element(0, 1)) &&
                      std::isfinite(m.element(1, 0)) && std::isfinite(m.element(1, 1)) &&
                      std::isfinite(t.x()) && std::isfinite(t.y());
  if (!finite) throw FD::BadParams("The start pose is not finite");
  constexpr double kFar = vcFlexLimits::kMaxCoordinate;
  if (std::fabs(t.x()) > kFar || std::fabs(t.y()) > kFar)
    throw FD::BadParams("The start pose lies more than " + vfBoundStr(kFar) +
                        " client units from the origin (" + std::to_string(t.x()) + ", " +
                        std::to_string(t.y()) + ")");
  if (!(scale >= 1e-6 && scale <= 1e6))
    throw FD::BadParams("The start pose's scale " + std::to_string(scale) +
                        " is outside 1e-6 to 1e6");
}

}  // namespace

// ---- public entry ----

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>& image,
                             const vc2XformBase& startPose,
                             const std::vector<vcVector<2>>& fixtures,
                             const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
                             vcDiagObject* diag, unsigned long diagFlags) const {
  vc_FlexAlignRun(*this).recordedRun_(image, vcPelBuffer_const<unsigned char>(), startPose,
                                      fixtures, params, results, false, diag, diagFlags);
}

void vcFlexAlignPattern::run(const vcPelBuffer_const<unsigned char>& image,
                             const vcPelBuffer_const<unsigned char>& mask,
                             const vc2XformBase& startPose,
                             const std::vector<vcVector<2>>& fixtures,
                             const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
                             vcDiagObject* diag, unsigned long diagFlags) const {
  vc_FlexAlignRun(*this).recordedRun_(image, mask, startPose, fixtures, params, results, true, diag,
                                      diagFlags);
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

vc_FlexAlignRun::vc_FlexAlignRun(const vcFlexAlignPattern& pattern)
    : arrangement_(pattern.arrangement()),
      tools_(pattern.tools()),
      instanceToTool_(pattern.instanceToTool()),
      maxRecursionDepth_(vcFlexAlignPatternHelper::maxRecursionDepth(pattern)),
      trained_(pattern.isTrained()) {}

void vc_FlexAlignRun::recordedRun_(const vcPelBuffer_const<unsigned char>& image,
                                   const vcPelBuffer_const<unsigned char>& mask,
                                   const vc2XformBase& startPose,
                                   const std::vector<vcVector<2>>& fixtures,
                                   const vcFlexAlignRunParams& params,
                                   vcFlexAlignResultSet& results, bool useMask, vcDiagObject* diag,
                                   unsigned long diagFlags) const {
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

// ---- the partial result of a path, and results from leaves ----

vcFlexAlignResult vc_FlexAlignRun::pathResult_(const vc_ResTreeElem* node) const {
  vcFlexAlignResult r;
  for (const vc_ResTreeElem* e = node; e && e->parent(); e = e->parent().ptr()) {
    r.positionIndices_.push_back(e->subModelIndex());
    r.subModelResults_.push_back(e->result());
  }
  return r;
}

std::vector<vcFlexAlignResult> vc_FlexAlignRun::resultsFromLeaves_(
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

void vc_FlexAlignRun::emitResults_(const std::vector<Node>& top, std::vector<Node> cut,
                                   const vcFlexAlignRunParams& rp,
                                   const std::vector<vcFlexAlignStatus>& searched,
                                   vcFlexAlignResultSet& results) const {
  results.results_ = resultsFromLeaves_(top, rp, searched);
  results.rejected_.clear();
  std::vector<double> score;
  for (const Node& c : cut) score.push_back(c->parent() ? c->scoreLeafPath(arrangement_) : 0.0);
  std::vector<std::size_t> rank(cut.size());
  for (std::size_t i = 0; i < rank.size(); ++i) rank[i] = i;
  std::stable_sort(rank.begin(), rank.end(),
                   [&](std::size_t a, std::size_t b) { return score[a] > score[b]; });
  std::vector<Node> best;
  for (std::size_t i = 0; i < rank.size() && best.size() < static_cast<std::size_t>(rp.numToFind());
       ++i)
    best.push_back(cut[rank[i]]);
  for (vcFlexAlignResult& r : resultsFromLeaves_(best, rp, searched)) {
    r.found_ = false;
    r.status_.kind = vcFlexAlignStatus::eBelowThreshold;
    results.rejected_.push_back(std::move(r));
  }
}

void vc_FlexAlignRun::finishTree_(const Node& root, const vcFlexAlignRunParams& rp,
                                  const std::vector<vcFlexAlignStatus>& searched,
                                  vcFlexAlignResultSet& results) const {
  const std::vector<Node> top = root->topScoringLeafs(arrangement_, rp);
  // The best combinations the threshold cut, or the bare root when nothing at all was found,
  // so that the run can still say how close it came and why each instance is missing.
  std::vector<Node> cut;
  for (const Node& leaf : root->listLeafs())
    if (std::find(top.begin(), top.end(), leaf) == top.end()) cut.push_back(leaf);
  if (root->numChildren() == 0) cut.push_back(root);
  emitResults_(top, std::move(cut), rp, searched, results);
}

// ---- the run sequence ----

void vc_FlexAlignRun::run_(const vcPelBuffer_const<unsigned char>& image,
                           const vcPelBuffer_const<unsigned char>& mask,
                           const vc2XformBase& startPose, const std::vector<vcVector<2>>& fixtures,
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
  checkStartPose(startPose);

  // An explicit run order naming instances the pattern does not have would index past its
  // tools; an automatic one only keeps the groups the run order names.
  const long n = static_cast<long>(arrangement_.subModelIndices().size());
  if (p.runOrderMode() == FD::eExplicitOrdering)
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
  RunContext rc{image, mask, useMask, p, diag, diagFlags};
  // A recorder takes its records in the order of the searches: one thread then.
  const unsigned threads = diag              ? 1u
                           : p.threads() > 0 ? unsigned(p.threads())
                                             : vcThreadPool::hardwareThreads();
  vcThreadPool pool(threads);
  if (threads > 1) rc.pool = &pool;
  if (p.runStrategy() == FD::eIndependentSubModels)
    vc_FlexAlignIndependentRun(*this).runIndependentSubModelMode_(rc, startPose, fixtures, order,
                                                                  R);
  else {
    const vc_FlexAlignLocallyFixturedRun fixtured(*this);
    fixtured.runLocallyFixturedSubModelMode_(rc, startPose, fixtures, order, R);
    fixtured.polishInstances_(rc, startPose, R);
  }
  R.startPose_ = startPose.clone();
  R.searches_ = rc.searches.load();
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

void vc_FlexAlignRun::fitResults_(std::vector<vcFlexAlignResult>& res,
                                  const vc2XformBase& startPose, const vc2XformBase& startLin,
                                  const vcFlexAlignRunParams& p) const {
  for (vcFlexAlignResult& r : res) holdWeakPieces_(r, startPose, p);
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
    if (!fit[i].found_ && r.found_) r.found_ = false, r.status_ = fit[i].status_;
    r.poseToDofValue(p.dofMode(), startLin);
    // A symmetric piece's angle is where the fitted part puts it (or the nearest of its n).
    const vcPtrHandle<vc2XformBase> fromArrangement =
        r.pose_->composeBase(*arrangement_.origin()->inverseBase());
    for (std::size_t k = 0; k < r.positionIndices_.size(); ++k) {
      const long q = r.positionIndices_[k];
      const std::size_t at = static_cast<std::size_t>(q);
      const vc_flxalign::PieceSymmetry sym =
          vc_flxalign::pieceSymmetry(tools_[static_cast<std::size_t>(instanceToTool_[at])],
                                     vc_flxalign::subModelOf(arrangement_, q));
      if (sym.order == 1) continue;
      r.subModelResults_[k] = vc_flxalign::alignToPrediction(
          r.subModelResults_[k], sym, *fromArrangement->composeBase(*arrangement_.positions()[at]));
    }
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
void vc_FlexAlignRun::removeOverlapping_(std::vector<vcFlexAlignResult>& res,
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

void vc_FlexAlignRun::markMissingRequired_(std::vector<vcFlexAlignResult>& res,
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
void vc_FlexAlignRun::rankAndCut_(std::vector<vcFlexAlignResult>& res, long numToFind) {
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
