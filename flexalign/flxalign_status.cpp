// Why a part or an instance was found or not: its text and comparison.

#include <cstdio>

#include "vcFlexAlignTool.h"

namespace {

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

std::string percent(double fraction) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f %%", 100.0 * fraction);
  return buf;
}

std::string rectText(const vcPelRect& w) {
  return "(" + std::to_string(w.x()) + ", " + std::to_string(w.y()) + ") " +
         std::to_string(w.width()) + " x " + std::to_string(w.height());
}

}  // namespace

std::string vcFlexAlignStatus::text(const std::vector<std::string>& names) const {
  const std::string otherName = other >= 0 && static_cast<std::size_t>(other) < names.size()
                                    ? names[static_cast<std::size_t>(other)]
                                    : "instance " + std::to_string(other);
  switch (kind) {
    case eFound:
      return "found, score " + number(score);
    case eNotSearched:
      return "not searched";
    case eNoCandidate:
      return "searched, no candidate came back";
    case eBelowThreshold:
      // An engine that reports a best score of 0 had nothing to offer.
      if (score <= 0.0) return "searched, no candidate came back";
      return "best candidate " + number(score) + " is under the accept threshold " +
             number(threshold);
    case eOutsideImage:
      return "its search window " + rectText(window) + " lies outside the image";
    case eWindowTooSmall:
      return "its search window " + rectText(window) + " is too small to search in the image";
    case eOverlapped:
      return "its best candidate (" + number(score) + ") overlaps " + otherName + " by " +
             percent(amount) + " (more than " + percent(threshold) + " is one place)";
    case eAtZoneEdge:
      return "its best candidate (" + number(score) + ") stops at the edge of its angle zone (+-" +
             number(amount) + " degrees)";
    case eInconsistent:
      return "its candidates (best " + number(score) + ") do not fit the other pieces";
    case eRequiredMissing:
      return other < 0 ? std::string("a required instance is missing")
                       : "the required " + otherName + " is missing";
    case eClamped:
      return "the fitted pose was clamped by " + number(amount) +
             " to the run's ranges, more than the pieces' own uncertainty " + number(threshold);
    case eOutsideRange:
      return "the fitted pose lies outside the run's uncertainty or zones";
    case eTooFewPieces:
      return "its " + std::to_string(static_cast<long>(amount)) +
             " pieces are too few for the final fit, which needs " +
             std::to_string(static_cast<long>(threshold));
    case eBeyondUncertainty:
      return "found (" + number(score) + ") " + number(amount) +
             " from where the other pieces put it, beyond its uncertainty " + number(threshold);
  }
  return "unknown status " + std::to_string(static_cast<int>(kind));
}

bool vcFlexAlignStatus::operator==(const vcFlexAlignStatus& o) const {
  return kind == o.kind && score == o.score && threshold == o.threshold && other == o.other &&
         amount == o.amount && window == o.window;
}
