#include "tools/common/vcResultView.h"

#include <cmath>

#include "tools/common/vcPose.h"

namespace {

// A pose's local linear form at the frame's (0, 0): the place the tools report.
vcXform<2> at0(const vc2XformBase& x) { return x.linearXform({0, 0}).xform(); }

const char* reasonOf(vcFlexAlignStatus::Kind k) {
  using S = vcFlexAlignStatus;
  switch (k) {
    case S::eFound:
      return "found";
    case S::eNotSearched:
      return "notSearched";
    case S::eNoCandidate:
      return "noCandidate";
    case S::eBelowThreshold:
      return "belowThreshold";
    case S::eOutsideImage:
      return "outsideImage";
    case S::eWindowTooSmall:
      return "windowTooSmall";
    case S::eOverlapped:
      return "overlapped";
    case S::eAtZoneEdge:
      return "atZoneEdge";
    case S::eInconsistent:
      return "inconsistent";
    case S::eRequiredMissing:
      return "requiredMissing";
    case S::eClamped:
      return "clamped";
    case S::eOutsideRange:
      return "outsideRange";
    case S::eTooFewPieces:
      return "tooFewPieces";
  }
  return "unknown";
}

vcStatusView statusView(const vcFlexAlignStatus& s, const std::vector<std::string>& names) {
  vcStatusView v;
  v.reason = reasonOf(s.kind);
  v.text = s.text(names);
  v.score = s.score;
  v.threshold = s.threshold;
  v.amount = s.amount;
  if (s.other >= 0)
    v.other = std::size_t(s.other) < names.size() ? names[std::size_t(s.other)]
                                                  : "instance " + std::to_string(s.other);
  v.window = s.window;
  return v;
}

vcPartView partView(const vcFlexAlignResult& r, const vcFlexArrangement& a,
                    const std::vector<std::string>& names) {
  const std::size_t n = a.subModelIndices().size();
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
  part.status = statusView(r.status(), names);
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
    // Results from archives older than the statuses have none: say only found or not.
    if (k < r.instanceStatus().size())
      in.status = statusView(r.instanceStatus()[k], names);
    else if (in.found)
      in.status.reason = in.status.text = "found";
    part.instances.push_back(in);
  }
  return part;
}

}  // namespace

std::vector<vcPartView> vfResultView(const vcFlexAlignResultSet& results,
                                     const vcFlexArrangement& a,
                                     const std::vector<std::string>& names) {
  std::vector<vcPartView> out;
  for (const vcFlexAlignResult& r : results.results()) out.push_back(partView(r, a, names));
  return out;
}

std::vector<vcPartView> vfRejectedView(const vcFlexAlignResultSet& results,
                                       const vcFlexArrangement& a,
                                       const std::vector<std::string>& names) {
  std::vector<vcPartView> out;
  for (const vcFlexAlignResult& r : results.rejected()) out.push_back(partView(r, a, names));
  return out;
}
