// Checks of the numbers Python hands in, made before anything reaches the library: a NaN, an
// infinity or an absurd size would otherwise give "not found" or an empty list instead of an
// error, or ask for unbounded work.
#include <charconv>
#include <cmath>
#include <string>

#include "platform/core/vcException.h"
#include "python/py_common.h"

namespace vcpy {

std::string number(double v) {
  char buf[32];
  // Whole numbers as they are written (1000000, not 1e+06), others in their shortest form.
  const bool whole = std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15;
  const auto end = whole ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed).ptr
                         : std::to_chars(buf, buf + sizeof buf, v).ptr;
  return std::string(buf, end);
}

namespace {

std::string text(Range r) { return "(" + number(r.first) + ", " + number(r.second) + ")"; }

bool finite(Range r) { return std::isfinite(r.first) && std::isfinite(r.second); }

}  // namespace

void badArgument(const std::string& text) { throw vcBadParams(text); }

double checkedIn(double v, double low, double high, const char* what) {
  if (!(v >= low && v <= high))
    badArgument(std::string(what) + " must be from " + number(low) + " to " + number(high) +
                ", not " + number(v));
  return v;
}

double finiteAtLeastZero(double v, const char* what) {
  if (!(v >= 0 && std::isfinite(v)))
    badArgument(std::string(what) + " must be a finite number of 0 or more, not " + number(v));
  return v;
}

long atLeastOne(long n, const char* what) {
  if (n < 1) badArgument(std::string(what) + " must be at least 1, not " + std::to_string(n));
  return n;
}

long instanceIndex(long i) {
  if (i < 0) badArgument("instance must be 0 or more, not " + std::to_string(i));
  return i;
}

Range angleRange(Range r, const char* what) {
  if (!finite(r) || r.first > r.second || r.first < -kMaxAngle || r.second > kMaxAngle)
    badArgument(std::string(what) + " must be (low, high) degrees with low <= high, within " +
                number(-kMaxAngle) + " to " + number(kMaxAngle) + ", not " + text(r));
  return r;
}

Range scaleRange(Range r, const char* what) {
  // Factors, so a range that leaves out 1 is most likely a relative change typed as a factor.
  if (!finite(r) || r.first < 1 / vcFlexLimits::kMaxPoseScale || r.first > 1 || r.second < 1 ||
      r.second > vcFlexLimits::kMaxPoseScale)
    badArgument(std::string(what) + " must be (low, high) factors with " +
                number(1 / vcFlexLimits::kMaxPoseScale) + " <= low <= 1 <= high <= " +
                number(vcFlexLimits::kMaxPoseScale) + ", not " + text(r));
  return r;
}

Range uncertainty(Range r, const char* what) {
  constexpr double most = vcFlexLimits::kMaxUncertainty;
  if (!finite(r) || r.first < 0 || r.second < 0 || r.first > most || r.second > most)
    badArgument(std::string(what) + " must be (x, y) pixels from 0 to " + number(most) + ", not " +
                text(r));
  return r;
}

vcVector<2> checkedPoint(Range p, const char* what) {
  if (!finite(p) || std::fabs(p.first) > vcFlexLimits::kMaxCoordinate ||
      std::fabs(p.second) > vcFlexLimits::kMaxCoordinate)
    badArgument(std::string(what) + " must be (x, y) pixels within " +
                number(vcFlexLimits::kMaxCoordinate) + " of 0, not " + text(p));
  return vcVector<2>(p.first, p.second);
}

const std::string& checkedPath(const std::string& path) {
  if (path.find('\0') != std::string::npos)
    throw py::value_error("embedded null byte in the path " +
                          std::string(py::repr(py::str(path.data(), path.size()))));
  return path;
}

}  // namespace vcpy
