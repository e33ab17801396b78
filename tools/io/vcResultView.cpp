#include "tools/io/vcResultView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/io/vcPose.h"

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
    case S::eBeyondUncertainty:
      return "beyondUncertainty";
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

std::string fixed(double v, int digits) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

// How many pieces to name as those that pulled a part down: the worst few say where to look.
constexpr std::size_t kNamedLosses = 3;

// Why a part is under its accept threshold, from its pieces: with none found, what became of
// the searches; otherwise the sum that makes its score, and the pieces that lost it most.
std::string underThreshold(const vcPartView& part) {
  long found = 0, notSearched = 0, noCandidate = 0, outside = 0, weak = 0;
  for (const vcInstanceView& in : part.instances) {
    if (in.weight <= 0) continue;  // a blank piece adds nothing
    if (in.found) ++found;
    const std::string& why = in.status.reason;
    if (why == "notSearched") ++notSearched;
    if (why == "noCandidate") ++noCandidate;
    if (why == "outsideImage" || why == "windowTooSmall") ++outside;
    if (!in.found && why != "notSearched" && why != "noCandidate" && why != "outsideImage" &&
        why != "windowTooSmall")
      ++weak;
  }
  const std::string threshold = fixed(part.status.threshold, 3);
  if (found == 0) {
    if (noCandidate + outside + weak == 0) return "nothing was searched";
    std::string t = "no piece was found:";
    auto add = [&](long n, const char* what) {
      if (n) t += (t.back() == ':' ? " " : "; ") + std::to_string(n) + " " + what;
    };
    add(noCandidate, "searched, no candidate came back");
    add(weak, "with candidates that were not taken");
    add(outside, "with the search window outside the image");
    add(notSearched, "not searched");
    return t;
  }
  std::string sum;
  double total = 0;
  for (const vcInstanceView& in : part.instances) {
    if (in.weight <= 0) continue;
    total += in.share;
    sum += (sum.empty() ? "" : ", ") + in.name + " " + fixed(in.share, 3) + " of " +
           fixed(in.weight, 3);
  }
  std::vector<const vcInstanceView*> losers;
  for (const vcInstanceView& in : part.instances)
    if (in.weight - in.share > 0.0005) losers.push_back(&in);
  std::stable_sort(losers.begin(), losers.end(), [](const auto* a, const auto* b) {
    return a->weight - a->share > b->weight - b->share;
  });
  if (losers.size() > kNamedLosses) losers.resize(kNamedLosses);
  std::string down;
  for (const vcInstanceView* in : losers)
    down += (down.empty() ? "" : ", ") + in->name + " (" +
            (in->found ? "score " + fixed(in->score, 3) : std::string("not found")) + ", -" +
            fixed(in->weight - in->share, 3) + ")";
  return "score " + fixed(total, 3) + " is under the accept threshold " + threshold +
         "; the pieces' shares (score times weight, of the weight): " + sum +
         (down.empty() ? "" : "; pulled down most by " + down);
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
    in.weight = vcFlexArrangementHelper::subModelFraction(a, long(k));
    if (sub) {
      in.share = in.weight * sub->score();
      in.pose = at0(sub->pose());
      in.score = sub->score();
      const vcXform<2> nominal = at0(*a.positions()[k]);
      const vcXform<2> placed = at0(sub->arrangementFromSubModel());
      in.offset = placed.trans().distance(nominal.trans());
      in.turn = std::remainder(vfPoseAngle(placed) - vfPoseAngle(nominal), 360.0);
      const vcFlexSubModelResult::Ellipse e = sub->positionEllipse();
      in.sigmaMajor = e.major;
      in.sigmaMinor = e.minor;
      in.sigmaDirection = e.angle;
      in.angleSigma = sub->angleSigma();
      in.angleSymmetry = sub->angleSymmetry();
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
  if (part.status.reason == "belowThreshold") part.status.text = underThreshold(part);
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

bool vfRunFound(const vcRunView& r) {
  return std::any_of(r.parts.begin(), r.parts.end(), [](const vcPartView& p) { return p.found; });
}
