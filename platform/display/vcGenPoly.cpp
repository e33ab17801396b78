#include "platform/display/vcGenPoly.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcException.h"

namespace {

constexpr double kTwoPi = 2.0 * vcPi;

bool finite(const vcVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

void checkSweep(vcRadian s) {
  const double v = s.toDouble();
  if (!std::isfinite(v) || std::fabs(v) >= kTwoPi)
    throw vcBadParams("An arc sweep must be finite and smaller than a full turn");
}

vcVector<2> rotate(const vcVector<2>& v, double a) {
  const double c = std::cos(a), s = std::sin(a);
  return {c * v.x() - s * v.y(), s * v.x() + c * v.y()};
}

double cross(const vcVector<2>& a, const vcVector<2>& b) { return a.x() * b.y() - a.y() * b.x(); }

// Sweep of the circular arc from a through m to b; 0 when the three points are collinear.
// The arc through m subtends 2 pi - 2 * (angle a-m-b) at the centre (inscribed angle).
double sweepThrough(const vcVector<2>& a, const vcVector<2>& m, const vcVector<2>& b) {
  const vcVector<2> ma = a - m, mb = b - m;
  const double c = cross(m - a, b - m);
  const double scale = ma.len() * mb.len();
  if (scale == 0 || std::fabs(c) <= 1e-12 * scale) return 0.0;
  const double inscribed = std::atan2(std::fabs(cross(ma, mb)), ma.x() * mb.x() + ma.y() * mb.y());
  const double s = kTwoPi - 2.0 * inscribed;
  return c > 0 ? s : -s;
}

}  // namespace

vcGenPoly::vcGenPoly(std::vector<vcVector<2>> vertices, bool closed) {
  for (const auto& p : vertices) addVertex(p);
  if (closed) close();
}

void vcGenPoly::addVertex(const vcVector<2>& p, vcRadian sweep) {
  if (closed_) throw vcBadParams("Cannot add a vertex to a closed chain");
  if (!finite(p)) throw vcBadParams("A vertex is not finite");
  if (!v_.empty()) checkSweep(sweep);
  if (!v_.empty()) sweep_.push_back(sweep);
  v_.push_back(p);
}

void vcGenPoly::close(vcRadian sweep) {
  if (closed_) throw vcBadParams("The chain is already closed");
  if (v_.size() < 2) throw vcBadParams("A closed chain needs at least two vertices");
  checkSweep(sweep);
  sweep_.push_back(sweep);
  closed_ = true;
}

long vcGenPoly::numSegments() const { return static_cast<long>(sweep_.size()); }

const vcVector<2>& vcGenPoly::vertex(long i) const {
  if (i < 0 || i >= numVertices()) throw vcBadParams("Vertex index out of range");
  return v_[static_cast<std::size_t>(i)];
}

vcRadian vcGenPoly::sweep(long seg) const {
  if (seg < 0 || seg >= numSegments()) throw vcBadParams("Segment index out of range");
  return sweep_[static_cast<std::size_t>(seg)];
}

vcVector<2> vcGenPoly::segmentStart(long seg) const {
  sweep(seg);
  return v_[static_cast<std::size_t>(seg)];
}

vcVector<2> vcGenPoly::segmentEnd(long seg) const {
  sweep(seg);
  return v_[static_cast<std::size_t>((seg + 1) % numVertices())];
}

vcVector<2> vcGenPoly::arcCenter(long seg) const {
  const double s = sweep(seg).toDouble();
  if (s == 0.0) throw vcBadParams("The segment is straight");
  const vcVector<2> a = segmentStart(seg), b = segmentEnd(seg);
  const vcVector<2> chord = b - a;
  const double len = chord.len();
  if (len == 0) return a;
  // Centre on the chord's left normal at distance (half chord) / tan(sweep / 2).
  const vcVector<2> normal(-chord.y() / len, chord.x() / len);
  return (a + b) * 0.5 + normal * (0.5 * len / std::tan(0.5 * s));
}

double vcGenPoly::arcRadius(long seg) const {
  const vcVector<2> c = arcCenter(seg);
  return (segmentStart(seg) - c).len();
}

double vcGenPoly::segmentLength(long seg) const {
  const double s = sweep(seg).toDouble();
  if (s == 0.0) return (segmentEnd(seg) - segmentStart(seg)).len();
  return arcRadius(seg) * std::fabs(s);
}

vcVector<2> vcGenPoly::pointAt(long seg, double t) const {
  const double s = sweep(seg).toDouble();
  const vcVector<2> a = segmentStart(seg), b = segmentEnd(seg);
  if (s == 0.0 || a == b) return a + (b - a) * t;
  const vcVector<2> c = arcCenter(seg);
  return c + rotate(a - c, s * t);
}

vcVector<2> vcGenPoly::tangentAt(long seg, double t) const {
  const double s = sweep(seg).toDouble();
  const vcVector<2> a = segmentStart(seg), b = segmentEnd(seg);
  if (a == b) return {0, 0};
  if (s == 0.0) return (b - a).unit();
  const vcVector<2> r = rotate(a - arcCenter(seg), s * t);
  const vcVector<2> perp(-r.y(), r.x());  // counter-clockwise travel direction
  return (s > 0 ? perp : perp * -1.0).unit();
}

double vcGenPoly::length() const {
  double sum = 0;
  for (long i = 0; i < numSegments(); ++i) sum += segmentLength(i);
  return sum;
}

vcRect vcGenPoly::encloseRect() const {
  if (v_.empty()) return vcRect();
  double x0 = v_[0].x(), x1 = x0, y0 = v_[0].y(), y1 = y0;
  auto add = [&](const vcVector<2>& p) {
    x0 = std::min(x0, p.x());
    x1 = std::max(x1, p.x());
    y0 = std::min(y0, p.y());
    y1 = std::max(y1, p.y());
  };
  for (const auto& p : v_) add(p);
  for (long i = 0; i < numSegments(); ++i) {
    const double s = sweep_[static_cast<std::size_t>(i)].toDouble();
    if (s == 0.0 || segmentStart(i) == segmentEnd(i)) continue;
    // An arc reaches beyond its end points only at the axis directions it passes.
    const vcVector<2> c = arcCenter(i);
    const double r = arcRadius(i);
    const vcVector<2> a = segmentStart(i) - c;
    const double start = std::atan2(a.y(), a.x());
    const double lo = std::min(start, start + s), hi = std::max(start, start + s);
    for (int k = static_cast<int>(std::ceil(lo / (0.5 * vcPi)));
         k <= static_cast<int>(std::floor(hi / (0.5 * vcPi))); ++k) {
      const double ang = k * 0.5 * vcPi;
      add(c + vcVector<2>(r * std::cos(ang), r * std::sin(ang)));
    }
  }
  return vcRect(x0, y0, x1 - x0, y1 - y0);
}

template <class F>
vcGenPoly vcGenPoly::mapWith_(F&& f) const {
  vcGenPoly out;
  out.v_.reserve(v_.size());
  for (const auto& p : v_) out.v_.push_back(f(p));
  out.sweep_.reserve(sweep_.size());
  for (long i = 0; i < numSegments(); ++i) {
    const double s = sweep_[static_cast<std::size_t>(i)].toDouble();
    if (s == 0.0) {
      out.sweep_.push_back(vcRadian(0));
      continue;
    }
    const vcVector<2> a = out.v_[static_cast<std::size_t>(i)];
    const vcVector<2> b = out.v_[static_cast<std::size_t>((i + 1) % numVertices())];
    out.sweep_.push_back(vcRadian(sweepThrough(a, f(pointAt(i, 0.5)), b)));
  }
  out.closed_ = closed_;
  return out;
}

vcGenPoly vcGenPoly::map(const vcXform<2>& x) const {
  return mapWith_([&](const vcVector<2>& p) { return x.mapPoint(p); });
}

vcGenPoly vcGenPoly::map(const vc2XformBase& x) const {
  return mapWith_([&](const vcVector<2>& p) { return x.mapPoint(p); });
}

vcPolyline vcGenPoly::toPolyline(double maxDeviation) const {
  if (!(maxDeviation > 0)) throw vcBadParams("The chord deviation must be positive");
  vcPolyline out;
  for (long i = 0; i < numVertices(); ++i) {
    out.addVertex(v_[static_cast<std::size_t>(i)]);
    if (i >= numSegments() || !isArc(i) || segmentStart(i) == segmentEnd(i)) continue;
    // A chord spanning angle d deviates r (1 - cos(d / 2)) from its arc.
    const double r = arcRadius(i), s = std::fabs(sweep(i).toDouble());
    const double d = maxDeviation >= r ? vcPi / 2 : 2.0 * std::acos(1.0 - maxDeviation / r);
    const long n = std::max(1L, static_cast<long>(std::ceil(s / std::min(d, vcPi / 2))));
    for (long k = 1; k < n; ++k) out.addVertex(pointAt(i, static_cast<double>(k) / n));
  }
  out.closed(closed_);
  return out;
}
