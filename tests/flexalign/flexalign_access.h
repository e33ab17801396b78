// Builds FlexAlign results by hand (a friend of the result) and reaches the run's steps (the
// run classes, whose steps are open to the library) from the unit tests.
#pragma once

#include <vector>

#include "flexalign/flxalign_run.h"
#include "vcFlexAlignTool.h"

struct vcFlexAlignTestAccess {
  static vcFlexAlignResult result(const vcXform<2>& pose, double score,
                                  const std::vector<long>& positions = {}) {
    vcFlexAlignResult r;
    r.pose_ = new vc2XformLinear(pose);
    r.score_ = static_cast<float>(score);
    for (long p : positions) {
      auto* s = new vcFlexSubModelGfndResult;
      s->pose(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(pose)));
      s->score(score);
      r.subModelResults_.push_back(vcPtrHandle<vcFlexSubModelResult>(s));
      r.positionIndices_.push_back(p);
    }
    return r;
  }
  static bool within(vcFlexAlignResult& r, const vcFlexArrangement& a,
                     const vcFlexAlignRunParams& rp) {
    return r.isWithinDofUncertainty(a, vc2XformLinear(), rp, false);
  }
  static bool overlap(vcFlexAlignResult& r, vcFlexAlignResult& o, const vcFlexArrangement& a,
                      const vcFlexAlignRunParams& rp) {
    r.poseToDofValue(rp.dofMode(), vc2XformLinear());
    o.poseToDofValue(rp.dofMode(), vc2XformLinear());
    return r.isOverlapping(a, o, rp);
  }

  static void fit(const vcFlexAlignPattern& p, vcFlexAlignResult& r, const vcFlexAlignRunParams& rp,
                  vcFlexAlignDefs::FinalFitMode mode, unsigned long dofs) {
    vc_FlexAlignRun(p).doFinalFit(r, vc2XformLinear(), rp, mode, rp.dofMode(), dofs,
                                  vc2XformLinear());
  }
  static std::vector<long> order(const vcFlexAlignPattern& p,
                                 const std::vector<vcVector<2>>& fixtures) {
    return vc_FlexAlignRun(p).computeOptimalSubModelRunOrder(vc2XformLinear(), fixtures,
                                                             p.arrangement());
  }
  static vcPelRect window(const vcFlexAlignPattern& p, const vcFlexAlignRunParams& rp,
                          const vc2XformBase& clientFromImage, const vc2XformBase& start,
                          long position) {
    return vc_FlexAlignRun(p).windowFromUnc(rp, clientFromImage, start, position);
  }
  static vcPtrHandle<vc2XformBase> fromFixtures(const vcFlexAlignPattern& p,
                                                const vc2XformBase& start,
                                                const std::vector<vcVector<2>>& fixtures, long cols,
                                                long rows) {
    vcPtrHandle<vc2XformBase> out;
    vc_FlexAlignRun(p).startPoseFromFixtures(p.arrangement(), start, fixtures,
                                             vcPair<long>(cols, rows), out);
    return out;
  }
  static void placeSubModels(const vcFlexAlignPattern& p, vcFlexAlignResult& r) {
    vc_FlexAlignRun(p).computeSubModelFromArrangementPose(r);
  }
  // The run's overlap removal and ranking, on results whose DOF values are set here.
  static void removeOverlapping(const vcFlexAlignPattern& p, std::vector<vcFlexAlignResult>& res,
                                const vcFlexAlignRunParams& rp) {
    for (vcFlexAlignResult& r : res) r.poseToDofValue(rp.dofMode(), vc2XformLinear());
    vc_FlexAlignRun(p).removeOverlapping_(res, rp);
  }
  static void rank(std::vector<vcFlexAlignResult>& res, long numToFind) {
    vc_FlexAlignRun::rankAndCut_(res, numToFind);
  }
  static void found(vcFlexAlignResult& r, bool f) { r.found_ = f; }
  static void add(vcFlexAlignResult& r, long position, const vcXform<2>& pose) {
    auto* s = new vcFlexSubModelGfndResult;
    s->pose(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(pose)));
    s->score(1.0);
    r.subModelResults_.push_back(vcPtrHandle<vcFlexSubModelResult>(s));
    r.positionIndices_.push_back(position);
  }
};
