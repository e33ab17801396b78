#include "platform/core/vcShapes.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"

namespace {

// Accumulates an axis-aligned box over points.
struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool any = false;
  void add(const vcVector<2>& p) {
    if (!any) {
      x0 = x1 = p.x();
      y0 = y1 = p.y();
      any = true;
      return;
    }
    x0 = std::min(x0, p.x());
    y0 = std::min(y0, p.y());
    x1 = std::max(x1, p.x());
    y1 = std::max(y1, p.y());
  }
  vcRect rect() const { return any ? vcRect(x0, y0, x1 - x0, y1 - y0) : vcRect(); }
};

double shoelace(const std::vector<vcVector<2>>& v) {
  double s = 0;
  for (std::size_t i = 0, n = v.size(); i < n; ++i) s += v[i].cross(v[(i + 1) % n]);
  return 0.5 * s;
}

std::vector<vcVector<2>> mapAll(const std::vector<vcVector<2>>& v, const vcXform<2>& x) {
  std::vector<vcVector<2>> r;
  r.reserve(v.size());
  for (const auto& p : v) r.push_back(x.mapPoint(p));
  return r;
}

const vcVector<2>& checkedVertex(const std::vector<vcVector<2>>& v, long i) {
  if (i < 0 || i >= static_cast<long>(v.size()))
    throw vcBadParams("vertex index " + std::to_string(i) + " out of range");
  return v[static_cast<std::size_t>(i)];
}

// True when angle t lies on the arc from `start` over `span` (span >= 0).
bool onArc(double t, double start, double span) {
  const double twoPi = 2.0 * vcPi;
  double d = std::fmod(t - start, twoPi);
  if (d < 0) d += twoPi;
  return d <= span;
}

}  // namespace

// ---- vcRect ----

vcRect::vcRect(double x, double y, double width, double height)
    : x_(width < 0 ? x + width : x),
      y_(height < 0 ? y + height : y),
      w_(std::fabs(width)),
      h_(std::fabs(height)) {}

vcRect vcRect::enclose(const vcRect& o) const {
  const double x0 = std::min(x_, o.x_), y0 = std::min(y_, o.y_);
  const double x1 = std::max(x_ + w_, o.x_ + o.w_), y1 = std::max(y_ + h_, o.y_ + o.h_);
  return {x0, y0, x1 - x0, y1 - y0};
}

vcRect vcRect::enclose(const vcVector<2>& p) const { return enclose(vcRect(p.x(), p.y(), 0, 0)); }

vcRect vcRect::operator&(const vcRect& o) const {
  const double x0 = std::max(x_, o.x_), y0 = std::max(y_, o.y_);
  const double x1 = std::min(x_ + w_, o.x_ + o.w_), y1 = std::min(y_ + h_, o.y_ + o.h_);
  if (x1 < x0 || y1 < y0) return vcRect();
  return {x0, y0, x1 - x0, y1 - y0};
}

vcGenRect vcRect::map(const vcXform<2>& x) const { return vcGenRect(*this).map(x); }

// ---- vcGenRect ----

vcGenRect::vcGenRect(const vcRect& r) : u_(vcMatrix<2>(r.width(), 0, 0, r.height()), r.origin()) {}

vcRect vcGenRect::encloseRect() const {
  Box b;
  b.add(ul());
  b.add(ur());
  b.add(ll());
  b.add(lr());
  return b.rect();
}

// ---- vcAffineRectangle ----

vcAffineRectangle::vcAffineRectangle(const vcVector<2>& center, double xLength, double yLength,
                                     vcRadian xRot, vcRadian skew) {
  const vcMatrix<2> m(xRot, xRot + skew, xLength, yLength);
  u_ = vcXform<2>(m, center - m * vcVector<2>(0.5, 0.5));
}

double vcAffineRectangle::yLength() const {
  const vcMatrix<2>& m = u_.matrix();
  return std::hypot(m(0, 1), m(1, 1));
}

void vcAffineRectangle::xLength(double v) {
  const vcVector<2> c = center();
  const vcMatrix<2>& m = u_.matrix();
  const double old = xLength();
  const double k = old > 0 ? v / old : 0.0;
  const vcMatrix<2> n(m(0, 0) * k, m(0, 1), m(1, 0) * k, m(1, 1));
  u_ = vcXform<2>(n, c - n * vcVector<2>(0.5, 0.5));
}

void vcAffineRectangle::yLength(double v) {
  const vcVector<2> c = center();
  const vcMatrix<2>& m = u_.matrix();
  const double old = yLength();
  const double k = old > 0 ? v / old : 0.0;
  const vcMatrix<2> n(m(0, 0), m(0, 1) * k, m(1, 0), m(1, 1) * k);
  u_ = vcXform<2>(n, c - n * vcVector<2>(0.5, 0.5));
}

vcPelRect vcAffineRectangle::encloseImageRect(const vcXform<2>& x) const {
  const vcRect r = map(x).encloseRect();
  constexpr double eps = 1e-9;
  const long x0 = static_cast<long>(std::floor(r.x() + eps));
  const long y0 = static_cast<long>(std::floor(r.y() + eps));
  const long x1 = static_cast<long>(std::ceil(r.x() + r.width() - eps));
  const long y1 = static_cast<long>(std::ceil(r.y() + r.height() - eps));
  return vcPelRect(x0, y0, std::max(0L, x1 - x0), std::max(0L, y1 - y0));
}

// ---- circles, ellipses, arcs ----

vcEllipse vcCircle::map(const vcXform<2>& x) const { return vcEllipse(*this).map(x); }

vcEllipse::vcEllipse(const vcVector<2>& center, double rx, double ry, vcRadian rotation)
    : u_(vcMatrix<2>(rotation, rotation, rx, ry), center) {}

vcRect vcEllipse::encloseRect() const {
  // x(t) = cx + a cos t + b sin t reaches cx +- hypot(a, b); likewise for y.
  const vcMatrix<2>& m = u_.matrix();
  const double ex = std::hypot(m(0, 0), m(0, 1)), ey = std::hypot(m(1, 0), m(1, 1));
  const vcVector<2> c = center();
  return {c.x() - ex, c.y() - ey, 2 * ex, 2 * ey};
}

vcRect vcEllipseArc::encloseRect() const {
  double start = start_.toDouble(), span = span_.toDouble();
  if (span < 0) {
    start += span;
    span = -span;
  }
  if (span >= 2.0 * vcPi) return e_.encloseRect();
  Box b;
  b.add(e_.point(vcRadian(start)));
  b.add(e_.point(vcRadian(start + span)));
  // The extremes of x and y along the ellipse, where d/dt vanishes, if they lie on the arc.
  const vcMatrix<2>& m = e_.fromUnitCircle().matrix();
  const double tx = std::atan2(m(0, 1), m(0, 0)), ty = std::atan2(m(1, 1), m(1, 0));
  for (double t : {tx, tx + vcPi, ty, ty + vcPi})
    if (onArc(t, start, span)) b.add(e_.point(vcRadian(t)));
  return b.rect();
}

// ---- polylines and polygons ----

const vcVector<2>& vcPolyline::vertex(long i) const { return checkedVertex(v_, i); }

double vcPolyline::area() const { return closed_ ? std::fabs(shoelace(v_)) : 0.0; }

double vcPolyline::length() const {
  double s = 0;
  for (std::size_t i = 1; i < v_.size(); ++i) s += v_[i].distance(v_[i - 1]);
  if (closed_ && v_.size() > 2) s += v_.back().distance(v_.front());
  return s;
}

vcRect vcPolyline::boundingBox() const {
  Box b;
  for (const auto& p : v_) b.add(p);
  return b.rect();
}

vcPolyline vcPolyline::map(const vcXform<2>& x) const { return vcPolyline(mapAll(v_, x), closed_); }

const vcVector<2>& vcPolygon::vertex(long i) const { return checkedVertex(v_, i); }

double vcPolygon::area() const { return std::fabs(shoelace(v_)); }

double vcPolygon::signedArea() const { return shoelace(v_); }

vcRect vcPolygon::boundingBox() const {
  Box b;
  for (const auto& p : v_) b.add(p);
  return b.rect();
}

vcPolygon vcPolygon::map(const vcXform<2>& x) const { return vcPolygon(mapAll(v_, x)); }

vcPolygon vfClipPolygon(const vcPolygon& poly, const vcRect& clip) {
  std::vector<vcVector<2>> pts = poly.vertices();
  // Each side as "keep where s * (coordinate axis) <= limit".
  struct Side {
    int axis;
    double sign, limit;
  };
  const Side sides[4] = {{0, -1, -clip.x()},
                         {0, 1, clip.x() + clip.width()},
                         {1, -1, -clip.y()},
                         {1, 1, clip.y() + clip.height()}};
  for (const Side& s : sides) {
    if (pts.empty()) break;
    std::vector<vcVector<2>> out;
    out.reserve(pts.size() + 4);
    auto inside = [&](const vcVector<2>& p) { return s.sign * p[s.axis] <= s.limit; };
    for (std::size_t i = 0, n = pts.size(); i < n; ++i) {
      const vcVector<2>& a = pts[i];
      const vcVector<2>& b = pts[(i + 1) % n];
      const bool ia = inside(a), ib = inside(b);
      if (ia) out.push_back(a);
      if (ia != ib) {
        const double da = s.sign * a[s.axis] - s.limit, db = s.sign * b[s.axis] - s.limit;
        const double t = da / (da - db);
        vcVector<2> q = a + (b - a) * t;
        q[s.axis] = s.sign * s.limit;  // exactly on the side, free of rounding
        out.push_back(q);
      }
    }
    pts = std::move(out);
  }
  return vcPolygon(std::move(pts));
}

// ---- archive exchange ----

vcArchive& operator||(vcArchive& ar, vcXform<2>& x) {
  const vcMatrix<2>& m = x.matrix();
  double a = m(0, 0), b = m(0, 1), c = m(1, 0), d = m(1, 1);
  vcVector<2> t = x.trans();
  ar || a || b || c || d || t;
  if (ar.isLoading()) x = vcXform<2>(vcMatrix<2>(a, b, c, d), t);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcRect& r) {
  vcVector<2> o = r.origin(), s = r.size();
  ar || o || s;
  if (ar.isLoading()) r = vcRect(o, s);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcGenRect& r) {
  vcXform<2> u = r.fromUnitSquare();
  ar || u;
  if (ar.isLoading()) r = vcGenRect(u);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcAffineRectangle& r) {
  vcXform<2> u = r.affRectFromUnitSq();
  ar || u;
  if (ar.isLoading()) r = vcAffineRectangle(u);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcPolygon& p) {
  std::vector<vcVector<2>> v = p.vertices();
  const std::uint64_t n = ar.exchangeCount(v.size(), 2 * sizeof(double));
  v.resize(static_cast<std::size_t>(n));
  for (auto& q : v) ar || q;
  if (ar.isLoading()) p = vcPolygon(std::move(v));
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcPelRect& r) {
  long x = r.x(), y = r.y(), w = r.width(), h = r.height();
  ar || x || y || w || h;
  if (ar.isLoading()) r = vcPelRect(x, y, w, h);
  return ar;
}
