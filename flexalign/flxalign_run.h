// Pieces the run's sources share: what one run carries through its search, and the geometry of
// match regions.
#pragma once

#include <atomic>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
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

// The inputs of one run, its clock and how many sub-model searches it has made.
struct vcFlexAlignPattern::RunContext {
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
