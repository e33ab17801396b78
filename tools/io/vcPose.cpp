#include "tools/io/vcPose.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/core/vcAngle.h"
#include "vcFlexLimits.h"

namespace {

// The shortest text that reads back as v: 1000001, not 1e+06.
std::string number(double v) {
  char buf[32];
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (!std::isfinite(v) || std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

}  // namespace

vcXform<2> vfPoseFrom(double x, double y, double angleDeg, double scale) {
  const double a = angleDeg * vcPi / 180.0, c = scale * std::cos(a), s = scale * std::sin(a);
  return vcXform<2>(vcMatrix<2>(c, -s, s, c), vcVector<2>(x, y));
}

double vfPoseAngle(const vcXform<2>& pose) {
  return pose.matrix().rotation().toDouble() * 180.0 / vcPi;
}

double vfPoseScale(const vcXform<2>& pose) { return pose.matrix().scale(); }

std::string vfPoseProblem(const vcXform<2>& pose) {
  const vcMatrix<2>& m = pose.matrix();
  const double t[2] = {pose.trans().x(), pose.trans().y()};
  const double far = vcFlexLimits::kMaxCoordinate, most = vcFlexLimits::kMaxPoseScale;
  for (double v : t) {
    if (!std::isfinite(v)) return "the position " + number(v) + " is not a finite number";
    if (std::fabs(v) > far)
      return "the position " + number(v) + " is more than " + std::to_string(long(far)) + " from 0";
  }
  for (double v : {m(0, 0), m(0, 1), m(1, 0), m(1, 1)})
    if (!std::isfinite(v)) return "the angle or scale is not a finite number";
  const double det = m(0, 0) * m(1, 1) - m(0, 1) * m(1, 0);
  const double scale = std::sqrt(std::fabs(det));
  if (!(det != 0) || scale < 1 / most || scale > most)
    return "the scale " + number(scale) + " is outside " + number(1 / most) + " to " + number(most);
  return "";
}
