// Pieces the run's sources share: what one run carries through its search, and the geometry of
// match regions.
#pragma once

#include <atomic>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcPair.h"
#include "platform/core/vcThreadPool.h"
#include "platform/core/vcTimer.h"
#include "vcFlexAlignTool.h"

namespace vc_flxalign {

// Two match regions sharing more than this fraction of the smaller one are one place, which two
// pieces cannot both fill.
inline constexpr double kTooMuchOverlap = 0.6;

// The area two match regions share, as a fraction of the smaller one (0 when apart).
double overlapFraction(const vcAffineRectangle& r1, const vcAffineRectangle& r2);

// The status of an instance whose best candidate was rejected for overlapping `other`.
vcFlexAlignStatus overlapped(double score, long other, double fraction);

// A piece's own translation uncertainty (the larger of x and y, client units), 0 without one.
double pieceTranslationUncertainty(const vcFlexSubModelRunParams& p);

// Half the width of a piece's angle zone (degrees), 0 without one.
double angleHalfWidth(const vcFlexSubModelRunParams& p);

// A piece's rotational symmetry as its training found it: `order` 1 none, 0 round, n n-fold
// (its angle defined only modulo 360/n), and the centre it turns about, sub-model coordinates
// (an n-fold piece's edge centroid, a round piece's window centre).
struct PieceSymmetry {
  long order = 1;
  vcVector<2> centre;
};
PieceSymmetry pieceSymmetry(const vc_SubModelTool& tool, const vcFlexSubModel& subModel);

// A found piece whose edges do not fix its angle, turned about its symmetry centre to agree with
// `predicted` (client from sub-model, where the other pieces put it): a round piece takes the
// predicted angle, an n-fold one the turn of its n that lies nearest it, so that a symmetric
// piece never turns the part. Returns `found` itself for a piece with an angle of its own.
vcPtrHandle<vcFlexSubModelResult> alignToPrediction(const vcPtrHandle<vcFlexSubModelResult>& found,
                                                    const PieceSymmetry& symmetry,
                                                    const vc2XformBase& predicted);

inline bool isBlank(const vcFlexSubModel& s) { return s.modelType() == vcFlexModelDefs::eBlank; }

inline const vcFlexSubModel& subModelOf(const vcFlexArrangement& a, long position) {
  return a.subModels()[static_cast<std::size_t>(
      a.subModelIndices()[static_cast<std::size_t>(position)])];
}

}  // namespace vc_flxalign

// A run of a trained pattern: the sequence vcFlexAlignPattern::run makes (validation, order,
// search, fit, filters, ranking) and the steps both strategies share (the search of one
// instance, where it looks, the results of the tree's leaves, the final fit). It reads the
// pattern it was made from, which must outlive it, and changes nothing of it. The strategies
// (flxalign_independent.h, flxalign_fixtured.h) derive from it.
class vc_FlexAlignRun {
 public:
  using OrderList = std::vector<std::vector<long>>;

  explicit vc_FlexAlignRun(const vcFlexAlignPattern& pattern);

  // The inputs of one run, its clock and how many sub-model searches it has made.
  struct RunContext {
    const vcPelBuffer_const<unsigned char>& image;
    const vcPelBuffer_const<unsigned char>& mask;
    bool useMask;
    const vcFlexAlignRunParams& params;
    vcDiagObject* diag;
    unsigned long diagFlags;
    vcTimer timer{true};
    std::atomic<long> searches{0};
    // Threads for the run's independent parts (null: this thread alone).
    vcThreadPool* pool = nullptr;
    // What Geofind measures of the image once for every search of this run.
    vcGFImageCache imageCache{image, useMask ? &mask : nullptr};
    // Whether a piece searched around a prediction searches its size near the predicted one:
    // not while polishing, when all the other pieces found give the part's size.
    bool carryScale = true;

    // Throws vcTimeout::Expired when the run is past its time limit.
    void checkTime() const;
  };

  // ---- the run ----
  // run_ between the records of its inputs and outputs (and of what it threw).
  void recordedRun_(const vcPelBuffer_const<unsigned char>& image,
                    const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
                    const std::vector<vcVector<2>>& fixtures, const vcFlexAlignRunParams& params,
                    vcFlexAlignResultSet& results, bool useMask, vcDiagObject* diag,
                    unsigned long diagFlags) const;
  void run_(const vcPelBuffer_const<unsigned char>& image,
            const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
            const std::vector<vcVector<2>>& fixtures, const vcFlexAlignRunParams& params,
            vcFlexAlignResultSet& results, bool useMask, vcDiagObject* diag,
            unsigned long diagFlags) const;
  // The instance's run parameters with the arrangement's zones and uncertainty added.
  vcPtrHandle<vcFlexSubModelRunParams> effectiveParams_(const vcFlexAlignRunParams& params,
                                                        long position) const;
  // Candidates of one instance near `start`, the best few (maxCandidates, candidateScoreMargin)
  // and none stopped at an end of its angle zone: with `cutWindow` in the window of the
  // arrangement's variation around `windowStart`, else with the instance's own parameters on
  // the whole image, a candidate on a zone's end searched again with the zone widened by
  // `widenBy` degrees. `miss` says why, should no candidate be kept. With `expectedAt`, the
  // engine looks for the sub-model's origin there (within `expectedWithin`) first.
  std::vector<vcPtrHandle<vcFlexSubModelResult>> searchInstance_(
      RunContext& rc, const vc2XformBase& start, const vc2XformBase& windowStart, long position,
      bool cutWindow, const std::vector<vcVector<2>>& points, double widenBy,
      vcFlexAlignStatus& miss, const vcVector<2>* expectedAt = nullptr,
      double expectedWithin = 0.0) const;
  // The instances found on the path from `node` up to the root (shared results).
  vcFlexAlignResult pathResult_(const vc_ResTreeElem* node) const;
  // One candidate result per leaf, with the status of every instance: found, the deepest miss
  // noted on the leaf's path, else `searched[position]` (when given), else not searched.
  std::vector<vcFlexAlignResult> resultsFromLeaves_(
      const std::vector<vcPtrHandle<vc_ResTreeElem>>& leaves, const vcFlexAlignRunParams& params,
      const std::vector<vcFlexAlignStatus>& searched) const;
  // `top` as the candidate results, and the best numToFind of `cut` (by path score) as the
  // rejected ones.
  void emitResults_(const std::vector<vcPtrHandle<vc_ResTreeElem>>& top,
                    std::vector<vcPtrHandle<vc_ResTreeElem>> cut,
                    const vcFlexAlignRunParams& params,
                    const std::vector<vcFlexAlignStatus>& searched,
                    vcFlexAlignResultSet& results) const;
  // The best leaves of the tree as the candidate results, and the best ones the accept
  // threshold cut (or the bare root, when nothing was found) as the rejected ones.
  void finishTree_(const vcPtrHandle<vc_ResTreeElem>& root, const vcFlexAlignRunParams& params,
                   const std::vector<vcFlexAlignStatus>& searched,
                   vcFlexAlignResultSet& results) const;
  // The steps of the run after the search: the final fit of each result (through the
  // instances meant for it), the removal of results of one instance, the mark of results that
  // miss a required instance, and the ranking.
  void fitResults_(std::vector<vcFlexAlignResult>& results, const vc2XformBase& startPose,
                   const vc2XformBase& startLin, const vcFlexAlignRunParams& params) const;
  // Before the fit: pieces weak along a direction held there to the others' prediction, and
  // pieces beyond their uncertainty from it refused (their status says so).
  void holdWeakPieces_(vcFlexAlignResult& result, const vc2XformBase& startPose,
                       const vcFlexAlignRunParams& params) const;
  void removeOverlapping_(std::vector<vcFlexAlignResult>& results,
                          const vcFlexAlignRunParams& params) const;
  void markMissingRequired_(std::vector<vcFlexAlignResult>& results, const OrderList& order,
                            const vcFlexAlignRunParams& params) const;
  static void rankAndCut_(std::vector<vcFlexAlignResult>& results, long numToFind);

  // ---- the final fit ----
  void doFinalFit(vcFlexAlignResult& result, const vc2XformBase& startPose,
                  const vcFlexAlignRunParams& rp, vcFlexAlignDefs::FinalFitMode mode,
                  vcFlexAlignDefs::DOFMode dofMode, unsigned long& dofs,
                  const vc2XformBase& pointXform) const;
  vcPtrHandle<vc2XformBase> doLeastSqrsFinalFit(const std::vector<vcVector<2>>& arrangementPts,
                                                const std::vector<vcVector<2>>& imagePts,
                                                vcFlexAlignDefs::DOFMode dofMode,
                                                unsigned long dofs) const;
  // Found (non-blank) sub-models the run's final fit needs (0 for eNone).
  static std::size_t piecesForFinalFit_(const vcFlexAlignRunParams& rp);
  void clampArrangementPoseToRuntimeDOFRanges(vcFlexAlignResult& result,
                                              const vc2XformBase& startPose,
                                              const vcFlexAlignRunParams& rp) const;
  void computeSubModelFromArrangementPose(vcFlexAlignResult& result) const;

  // ---- where the run looks ----
  // Instance positions: fixtures are the roots of a minimum spanning tree over fixtures and
  // instance centres; instances follow in joining order, blank ones last.
  std::vector<long> computeOptimalSubModelRunOrder(const vc2XformBase& startPose,
                                                   const std::vector<vcVector<2>>& fixtures,
                                                   const vcFlexArrangement& arrangement) const;
  // Predicted client pose of an instance: from the start pose until `partial` holds found
  // instances, then from the interpolation of the arrangement poses they imply.
  vcPtrHandle<vc2XformBase> subModelStartPose(const vc2XformBase& startPose,
                                              const vcFlexSubModel& subModel,
                                              const vc2XformBase& position,
                                              const vcFlexAlignResult& partial) const;
  // Keys of the found, non-blank instances of `partial`: the implied pose of the origin frame
  // at each instance's centre (in the origin frame).
  void collectKeys_(const vcFlexAlignResult& partial,
                    std::vector<vcPtrHandle_const<vc2XformBase>>& keyXforms,
                    std::vector<vcVector<2>>& keyPoints) const;
  // Image pixel window of the instance at `position` (empty for a blank one); `first` is the
  // image's client-from-image transform, `second` the start pose.
  vcPelRect windowFromUnc(const vcFlexAlignRunParams& params, const vc2XformBase& first,
                          const vc2XformBase& second, long position) const;
  // A first-order polynomial through a grid over the arrangement mapped by the start pose.
  void startPoseFromFixtures(const vcFlexArrangement& arrangement, const vc2XformBase& startPose,
                             const std::vector<vcVector<2>>& fixtures, const vcPair<long>& gridSize,
                             vcPtrHandle<vc2XformBase>& out) const;

  // ---- records ----
  void recordRunInputs(vcDiagObject* diag, unsigned long flags,
                       const vcPelBuffer_const<unsigned char>& image, const vc2XformBase& startPose,
                       const std::vector<vcVector<2>>& fixtures,
                       const vcFlexAlignRunParams& params) const;
  void recordRunOutputs(vcDiagObject* diag, unsigned long flags,
                        const vcPelBuffer_const<unsigned char>& image,
                        const vcFlexAlignResultSet& results, bool failed) const;
  void recordRunThrow(vcDiagObject* diag, unsigned long flags, const vcException& e) const;

 protected:
  // The trained pattern, as the run reads it.
  const vcFlexArrangement& arrangement_;
  const std::vector<vc_SubModelTool>& tools_;
  const std::vector<long>& instanceToTool_;
  const long maxRecursionDepth_;
  const bool trained_;
};
