// The independent strategy: every instance searched once around the start pose, the candidates
// combined where they keep their distances.
#pragma once

#include <vector>

#include "flexalign/flxalign_run.h"

class vc_FlexAlignIndependentRun : public vc_FlexAlignRun {
 public:
  explicit vc_FlexAlignIndependentRun(const vc_FlexAlignRun& run) : vc_FlexAlignRun(run) {}

  // Leaves its candidate results (and the best rejected ones) in `results`.
  void runIndependentSubModelMode_(RunContext& rc, const vc2XformBase& startPose,
                                   const std::vector<vcVector<2>>& fixtures, const OrderList& order,
                                   vcFlexAlignResultSet& results) const;
};
