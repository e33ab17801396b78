// Pieces whose regions overlap so much that a run takes them for one: when the match of a
// piece lies more than 60 % inside the match of one found before (the smaller of the two
// regions counting), the run drops it as a second find of the same place. Found here on the
// nominal layout, so `flexalign train` (and what shows a description) can warn before a run
// reports a well-matched piece missing.
#pragma once

#include <cstddef>
#include <vector>

#include "vcFlexModels.h"

// The fraction of the smaller region beyond which a run rejects the second of two matches.
constexpr double kVcRunOverlapLimit = 0.6;

struct vcCliOverlap {
  std::size_t first, second;  // instance positions, first < second
  double fraction;            // of the smaller region's area
};

// Pairs of non-blank instances of the arrangement whose placed regions (the sub-model's
// extent under its pose) overlap by more than `limit`.
std::vector<vcCliOverlap> vfOverlappingPieces(const vcFlexArrangement& a,
                                              double limit = kVcRunOverlapLimit);
