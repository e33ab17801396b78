// The locally fixtured strategy: each instance searched around what the instances found before
// it on its branch predict, then each found one polished against all the others.
#pragma once

#include <vector>

#include "flexalign/flxalign_run.h"

class vc_FlexAlignLocallyFixturedRun : public vc_FlexAlignRun {
 public:
  explicit vc_FlexAlignLocallyFixturedRun(const vc_FlexAlignRun& run) : vc_FlexAlignRun(run) {}

  // Leaves its candidate results (and the best rejected ones) in `results`.
  void runLocallyFixturedSubModelMode_(RunContext& rc, const vc2XformBase& startPose,
                                       const std::vector<vcVector<2>>& fixtures,
                                       const OrderList& order, vcFlexAlignResultSet& results) const;
  // Each instance was searched around what the instances found before it predicted (the first
  // around the start pose, in the arrangement's zones). Each found one is searched again, in
  // its own zones, around its pose as all the other found instances predict it, and the
  // candidate near its first find takes its place.
  void polishInstances_(RunContext& rc, const vc2XformBase& startPose,
                        vcFlexAlignResultSet& results) const;
};
