#include <algorithm>
#include <cmath>
#include <vector>

#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"

namespace {

const char kBadUncertainty[] = "Uncertainty outside allowed range.";

vcMatrix<2> scaling(double sx, double sy) { return vcMatrix<2>(sx, 0.0, 0.0, sy); }

// Positions of the point at distance `radius` from the origin whose polar angle runs over
// [centre - half, centre + half], mapped by `m`, enclosed. A radius of 0 is the origin alone.
vcRect sweptArcRect(double radius, vcRadian centre, vcRadian half, const vcXform<2>& m) {
  if (radius <= 0.0) return vcRect(m.mapPoint({0.0, 0.0}), {0.0, 0.0});
  const vcEllipseArc arc(vcEllipse(vcCircle({0.0, 0.0}, radius)), centre - half, half * 2.0);
  return arc.map(m).encloseRect();
}

// Adds the uncertainty region and the margin around the swept rectangle.
vcRect padded(const vcRect& swept, const vcXform<2>& imageFromClient, double ux, double uy,
              double minMargin, long mode) {
  vcRect u;
  if (mode == vcFlexAlignDefs::eElliptical) {
    u = vcEllipse({0.0, 0.0}, ux, uy, vcRadian(0.0)).map(imageFromClient).encloseRect();
  } else if (mode == vcFlexAlignDefs::eRectangular) {
    u = vcRect(-ux, -uy, 2.0 * ux, 2.0 * uy).map(imageFromClient).encloseRect();
  }
  const double mx = std::max(u.width() / 2.0, minMargin);
  const double my = std::max(u.height() / 2.0, minMargin);
  return vcRect(swept.x() - mx, swept.y() - my, swept.width() + 2.0 * mx,
                swept.height() + 2.0 * my);
}

// Sweeps every vertex (already turned to the centre of the rotation range) over +-half under
// the two extreme transforms, high before low, vertex by vertex.
vcRect sweepExtremes(const std::vector<vcVector<2>>& vertices, vcRadian half,
                     const vcXform<2>& high, const vcXform<2>& low) {
  vcRect r;
  bool first = true;
  const bool noRotation = std::fabs(half.toDouble()) <= 1e-15;
  for (const vcVector<2>& v : vertices) {
    for (const vcXform<2>* e : {&high, &low}) {
      const vcRect one = noRotation ? vcRect(e->mapPoint(v), {0.0, 0.0})
                                    : sweptArcRect(v.len(), v.angle(), half, *e);
      r = first ? one : r.enclose(one);
      first = false;
    }
  }
  return r;
}

std::vector<vcVector<2>> rotated(const vcPolygon& poly, vcRadian t) {
  const vcMatrix<2> rot(1.0, 1.0, vcRadian(0.0), t);
  std::vector<vcVector<2>> out;
  out.reserve(poly.vertices().size());
  for (const vcVector<2>& v : poly.vertices()) out.push_back(rot * v);
  return out;
}

void validate(double ux, double uy, long mode, vcRadian half, double e1, double e2, double e3) {
  const auto inUnit = [](double e) { return e >= -1.0 && e <= 1.0; };
  if (!(ux >= 0.0) || !(uy >= 0.0) ||
      (mode != vcFlexAlignDefs::eElliptical && mode != vcFlexAlignDefs::eRectangular) ||
      !(half.toDouble() >= 0.0) || !inUnit(e1) || !inUnit(e2) || !inUnit(e3))
    throw vcFlexAlignDefs::BadParams(kBadUncertainty);
}

// Bounds of what a linear map does to any vector: its length is multiplied by a factor in
// [lo, hi] and its direction turned by at most `turn` radians either way.
struct LinearBound {
  double lo = 1.0;
  double hi = 1.0;
  double turn = 0.0;
};

// For M with det > 0: polar decomposition M = R(alpha) P, P symmetric positive definite with
// eigenvalues s1 >= s2 (the singular values of M). P turns a direction by at most
// |2 atan(sqrt(s1 / s2)) - pi / 2|, so M by at most |alpha| plus that.
LinearBound boundOf(const vcMatrix<2>& m) {
  const double a = m(0, 0), b = m(0, 1), c = m(1, 0), d = m(1, 1);
  const double det = a * d - b * c;
  LinearBound out;
  const double f = a * a + b * b + c * c + d * d;
  const double disc = std::sqrt(std::max(0.0, f * f - 4.0 * det * det));
  out.hi = std::sqrt(std::max(0.0, (f + disc) / 2.0));
  out.lo = std::sqrt(std::max(0.0, (f - disc) / 2.0));
  if (det <= 0.0 || out.lo <= 0.0) {
    // A folding or degenerate map can send a direction anywhere.
    out.lo = 0.0;
    out.turn = vcPi;
    return out;
  }
  const double alpha = std::atan2(c - b, a + d);
  out.turn = std::fabs(alpha) + std::fabs(2.0 * std::atan(std::sqrt(out.hi / out.lo)) - vcPi / 2);
  return out;
}

// The worse of the two ends of a one-parameter range (the bounds grow away from the identity).
LinearBound worseEnd(const vcMatrix<2>& atLow, const vcMatrix<2>& atHigh) {
  const LinearBound l = boundOf(atLow), h = boundOf(atHigh);
  return {std::min(l.lo, h.lo), std::max(l.hi, h.hi), std::max(l.turn, h.turn)};
}

vcMatrix<2> skewMatrix(vcRadian v) { return vcMatrix<2>(1.0, -sin(v), 0.0, cos(v)); }

}  // namespace

vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian angleLow,
                     vcRadian angleHigh, double scaleLow, double scaleHigh, double xScaleLow,
                     double xScaleHigh, double yScaleLow, double yScaleHigh, double minMargin,
                     long uncertaintyMode) {
  const vcRadian t = (angleLow + angleHigh) / 2.0;
  const vcRadian half = angleHigh - t;
  const vcXform<2> imageFromClient = B.inverse();
  const vcXform<2> high =
      imageFromClient * A *
      vcXform<2>(scaling(scaleHigh, scaleHigh) * scaling(xScaleHigh, yScaleHigh), {0.0, 0.0});
  const vcXform<2> low =
      imageFromClient * A *
      vcXform<2>(scaling(scaleLow, scaleLow) * scaling(xScaleLow, yScaleLow), {0.0, 0.0});
  const vcRect swept = sweepExtremes(rotated(poly, t), half, high, low);
  return padded(swept, imageFromClient, xUncertainty, yUncertainty, minMargin, uncertaintyMode);
}

vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationLow,
                     vcRadian rotationHigh, double scaleLow, double scaleHigh, double aspectLow,
                     double aspectHigh, vcRadian skewLow, vcRadian skewHigh, double minMargin,
                     long uncertaintyMode) {
  const vcRadian t = (rotationLow + rotationHigh) / 2.0;
  const vcRadian half = rotationHigh - t;
  const auto rel = [](double v) { return v > 0.0 ? v - 1.0 : 0.0; };
  validate(xUncertainty, yUncertainty, uncertaintyMode, half, rel(scaleHigh), rel(aspectHigh),
           rel(aspectHigh));

  // Aspect and skew change a vertex's length and direction; bound both so the order in which
  // the searcher composes the DOFs does not matter. Every pose then puts vertex v at a distance
  // in [lo |v|, hi |v|] from the model origin and at a direction within half + turn of v's
  // direction turned by t; the swept region is an annular sector whose hull the inner and
  // outer arcs' rectangles enclose (each radial segment joins a point of each).
  const LinearBound asp = worseEnd(scaling(1.0, aspectLow), scaling(1.0, aspectHigh));
  const LinearBound skw = worseEnd(skewMatrix(skewLow), skewMatrix(skewHigh));
  const double lo = std::max(0.0, std::min(scaleLow, scaleHigh)) * asp.lo * skw.lo;
  const double hi = std::max(std::fabs(scaleLow), std::fabs(scaleHigh)) * asp.hi * skw.hi;
  const vcRadian sweepHalf(std::min(vcPi, half.toDouble() + asp.turn + skw.turn));

  const vcXform<2> imageFromClient = B.inverse();
  const vcXform<2> m = imageFromClient * A;
  vcRect r;
  bool first = true;
  for (const vcVector<2>& v : rotated(poly, t)) {
    const double len = v.len();
    for (double radius : {hi * len, lo * len}) {
      const vcRect one = sweptArcRect(radius, v.angle(), sweepHalf, m);
      r = first ? one : r.enclose(one);
      first = false;
    }
  }
  return padded(r, imageFromClient, xUncertainty, yUncertainty, minMargin, uncertaintyMode);
}

vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationHalfRange,
                     double scaleRel, double aspectRel, vcRadian /*skew*/, double minMargin,
                     long uncertaintyMode) {
  return vfEncloseRect(poly, A, B, xUncertainty, yUncertainty, rotationHalfRange, scaleRel,
                       aspectRel, aspectRel, minMargin, uncertaintyMode);
}

vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationHalfRange,
                     double e1, double e2, double e3, double minMargin, long uncertaintyMode) {
  validate(xUncertainty, yUncertainty, uncertaintyMode, rotationHalfRange, e1, e2, e3);
  const vcXform<2> imageFromClient = B.inverse();
  const vcXform<2> high =
      imageFromClient * A *
      vcXform<2>(scaling(1.0 + e1, 1.0 + e1) * scaling(1.0 + e2, 1.0 + e3), {0.0, 0.0});
  const vcXform<2> low =
      imageFromClient * A *
      vcXform<2>(scaling(1.0 - e1, 1.0 - e1) * scaling(1.0 - e2, 1.0 - e3), {0.0, 0.0});
  const vcRect swept = sweepExtremes(poly.vertices(), rotationHalfRange, high, low);
  return padded(swept, imageFromClient, xUncertainty, yUncertainty, minMargin, uncertaintyMode);
}
