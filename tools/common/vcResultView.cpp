#include "tools/common/vcResultView.h"

#include <cmath>

#include "tools/common/vcPose.h"

namespace {

// A pose's local linear form at the frame's (0, 0): the place the tools report.
vcXform<2> at0(const vc2XformBase& x) { return x.linearXform({0, 0}).xform(); }

}  // namespace

std::vector<vcPartView> vfResultView(const vcFlexAlignResultSet& results,
                                     const vcFlexArrangement& a,
                                     const std::vector<std::string>& names) {
  std::vector<vcPartView> out;
  const std::size_t n = a.subModelIndices().size();
  for (const vcFlexAlignResult& r : results.results()) {
    vcPartView part;
    part.found = r.found();
    part.score = r.score();
    part.pose = at0(r.pose());
    part.x = r.location().x();
    part.y = r.location().y();
    part.angle = vfPoseAngle(part.pose);
    part.xScale = part.pose.matrix().xScale();
    part.yScale = part.pose.matrix().yScale();
    part.scale = vfPoseScale(part.pose);
    part.info = r.infoStrings();
    const vcPtrHandle<vc2XformBase> fromArrangement =
        r.pose().composeBase(*a.origin()->inverseBase());
    for (std::size_t k = 0; k < n; ++k) {
      vcInstanceView in;
      in.index = long(k);
      in.name = k < names.size() ? names[k] : "instance " + std::to_string(k);
      vcPtrHandle<vcFlexSubModelResult> sub;
      r.getSubModelResult(long(k), sub);
      in.found = bool(sub);
      if (sub) {
        in.pose = at0(sub->pose());
        in.score = sub->score();
        const vcXform<2> nominal = at0(*a.positions()[k]);
        const vcXform<2> placed = at0(sub->arrangementFromSubModel());
        in.offset = placed.trans().distance(nominal.trans());
        in.turn = std::remainder(vfPoseAngle(placed) - vfPoseAngle(nominal), 360.0);
      } else {
        in.pose = at0(*fromArrangement->composeBase(*a.positions()[k]));
      }
      in.x = in.pose.trans().x();
      in.y = in.pose.trans().y();
      in.angle = vfPoseAngle(in.pose);
      in.scale = vfPoseScale(in.pose);
      part.instances.push_back(in);
    }
    out.push_back(part);
  }
  return out;
}
