// Geometric values in client (double) coordinates: rectangles, general and affine rectangles,
// circles, ellipses, elliptic arcs, polygons and polylines. Each maps through an affine
// transform (`map`) and reports its axis-aligned enclosing rectangle (`encloseRect`).
//
// Image y grows downwards, so a vcRect's upper-left corner is its origin (x, y) and its
// lower-right corner is (x + width, y + height). Parallelograms and ellipses are kept as the
// affine image of the unit square [0,1]^2 or the unit circle, which makes mapping exact.
#pragma once

#include <vector>

#include "platform/core/vcAngle.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"

class vcArchive;
class vcGenRect;

class vcRect {
 public:
  // Origin (0, 0), size (0, 0).
  constexpr vcRect() = default;
  // A negative width or height is taken as extending the other way from the origin.
  vcRect(double x, double y, double width, double height);
  vcRect(const vcVector<2>& origin, const vcVector<2>& size)
      : vcRect(origin.x(), origin.y(), size.x(), size.y()) {}
  explicit vcRect(const vcPelRect& r)
      : vcRect(static_cast<double>(r.x()), static_cast<double>(r.y()),
               static_cast<double>(r.width()), static_cast<double>(r.height())) {}

  double x() const { return x_; }
  double y() const { return y_; }
  double width() const { return w_; }
  double height() const { return h_; }
  vcVector<2> origin() const { return {x_, y_}; }
  vcVector<2> size() const { return {w_, h_}; }
  vcVector<2> center() const { return {x_ + 0.5 * w_, y_ + 0.5 * h_}; }
  vcVector<2> ul() const { return {x_, y_}; }
  vcVector<2> ur() const { return {x_ + w_, y_}; }
  vcVector<2> ll() const { return {x_, y_ + h_}; }
  vcVector<2> lr() const { return {x_ + w_, y_ + h_}; }
  double area() const { return w_ * h_; }
  bool contains(const vcVector<2>& p) const {
    return p.x() >= x_ && p.y() >= y_ && p.x() <= x_ + w_ && p.y() <= y_ + h_;
  }

  // The smallest rectangle holding both (a zero-size rectangle counts as its point).
  vcRect enclose(const vcRect& o) const;
  vcRect enclose(const vcVector<2>& p) const;
  // Overlap; the default rectangle when the two do not overlap.
  vcRect operator&(const vcRect& o) const;
  vcGenRect map(const vcXform<2>& x) const;
  vcRect encloseRect() const { return *this; }
  bool operator==(const vcRect&) const = default;

 private:
  double x_ = 0, y_ = 0, w_ = 0, h_ = 0;
};

// A parallelogram: the unit square mapped by a transform. Corner ul is the image of (0, 0),
// ur of (1, 0), ll of (0, 1), lr of (1, 1).
class vcGenRect {
 public:
  // The unit square.
  vcGenRect() = default;
  explicit vcGenRect(const vcXform<2>& fromUnitSquare) : u_(fromUnitSquare) {}
  explicit vcGenRect(const vcRect& r);
  const vcXform<2>& fromUnitSquare() const { return u_; }
  vcVector<2> ul() const { return u_.mapPoint({0, 0}); }
  vcVector<2> ur() const { return u_.mapPoint({1, 0}); }
  vcVector<2> ll() const { return u_.mapPoint({0, 1}); }
  vcVector<2> lr() const { return u_.mapPoint({1, 1}); }
  vcVector<2> center() const { return u_.mapPoint({0.5, 0.5}); }
  vcGenRect map(const vcXform<2>& x) const { return vcGenRect(x * u_); }
  vcRect encloseRect() const;
  bool operator==(const vcGenRect&) const = default;

 private:
  vcXform<2> u_;
};

// A rectangle of given side lengths, turned and sheared about its centre; stored, like
// vcGenRect, as the transform of the unit square. The x side runs along angle xRot and the y
// side along angle xRot + skew + 90 degrees (skew 0 gives a true rectangle).
class vcAffineRectangle {
 public:
  // The unit square.
  vcAffineRectangle() = default;
  vcAffineRectangle(const vcVector<2>& center, double xLength, double yLength, vcRadian xRot,
                    vcRadian skew);
  explicit vcAffineRectangle(const vcXform<2>& fromUnitSquare) : u_(fromUnitSquare) {}

  // The transform that takes the unit square onto this rectangle.
  const vcXform<2>& affRectFromUnitSq() const { return u_; }
  vcVector<2> center() const { return u_.mapPoint({0.5, 0.5}); }
  vcVector<2> ul() const { return u_.mapPoint({0, 0}); }
  vcVector<2> ur() const { return u_.mapPoint({1, 0}); }
  vcVector<2> ll() const { return u_.mapPoint({0, 1}); }
  vcVector<2> lr() const { return u_.mapPoint({1, 1}); }
  double xLength() const { return u_.matrix().xScale(); }
  double yLength() const;
  // Change one side length keeping the centre and the directions.
  void xLength(double v);
  void yLength(double v);
  vcAffineRectangle map(const vcXform<2>& x) const { return vcAffineRectangle(x * u_); }
  vcRect encloseRect() const { return vcGenRect(u_).encloseRect(); }
  // Smallest pixel rectangle covering the rectangle mapped by x (corners within 1e-9 of a pixel
  // boundary are taken as on it, so exact integer rectangles do not grow by rounding).
  vcPelRect encloseImageRect(const vcXform<2>& x) const;
  bool operator==(const vcAffineRectangle&) const = default;

 private:
  vcXform<2> u_;
};

class vcEllipse;

class vcCircle {
 public:
  vcCircle() = default;
  vcCircle(const vcVector<2>& center, double radius) : c_(center), r_(radius) {}
  const vcVector<2>& center() const { return c_; }
  double radius() const { return r_; }
  // A general transform turns a circle into an ellipse.
  vcEllipse map(const vcXform<2>& x) const;
  vcRect encloseRect() const { return vcRect(c_.x() - r_, c_.y() - r_, 2 * r_, 2 * r_); }
  bool operator==(const vcCircle&) const = default;

 private:
  vcVector<2> c_;
  double r_ = 0;
};

// The unit circle mapped by a transform: points U(cos t, sin t).
class vcEllipse {
 public:
  vcEllipse() = default;
  // Half-axes rx along angle `rotation` and ry across it.
  vcEllipse(const vcVector<2>& center, double rx, double ry, vcRadian rotation);
  vcEllipse(const vcCircle& c)  // NOLINT: a circle is an ellipse
      : u_(vcMatrix<2>(c.radius(), 0, 0, c.radius()), c.center()) {}
  explicit vcEllipse(const vcXform<2>& fromUnitCircle) : u_(fromUnitCircle) {}
  const vcXform<2>& fromUnitCircle() const { return u_; }
  vcVector<2> center() const { return u_.trans(); }
  vcVector<2> point(vcRadian t) const { return u_.mapPoint({cos(t), sin(t)}); }
  vcEllipse map(const vcXform<2>& x) const { return vcEllipse(x * u_); }
  vcRect encloseRect() const;
  bool operator==(const vcEllipse&) const = default;

 private:
  vcXform<2> u_;
};

// The part of an ellipse from parameter angle `start` through `start + span` (span may be
// negative; |span| >= 2 pi is the whole ellipse). For a circle the parameter is the polar angle.
class vcEllipseArc {
 public:
  vcEllipseArc() = default;
  vcEllipseArc(const vcEllipse& e, vcRadian start, vcRadian span)
      : e_(e), start_(start), span_(span) {}
  const vcEllipse& ellipse() const { return e_; }
  vcRadian start() const { return start_; }
  vcRadian span() const { return span_; }
  vcVector<2> startPoint() const { return e_.point(start_); }
  vcVector<2> endPoint() const { return e_.point(start_ + span_); }
  vcEllipseArc map(const vcXform<2>& x) const { return {e_.map(x), start_, span_}; }
  vcRect encloseRect() const;
  bool operator==(const vcEllipseArc&) const = default;

 private:
  vcEllipse e_;
  vcRadian start_;
  vcRadian span_;
};

// Open or closed chain of vertices.
class vcPolyline {
 public:
  vcPolyline() = default;
  explicit vcPolyline(std::vector<vcVector<2>> vertices, bool closed = false)
      : v_(std::move(vertices)), closed_(closed) {}
  void addVertex(const vcVector<2>& p) { v_.push_back(p); }
  // Throws vcBadParams for an index out of range.
  const vcVector<2>& vertex(long i) const;
  const std::vector<vcVector<2>>& vertices() const { return v_; }
  long numVertices() const { return static_cast<long>(v_.size()); }
  bool closed() const { return closed_; }
  void closed(bool c) { closed_ = c; }
  // Enclosed area (shoelace, unsigned) when closed; 0 when open.
  double area() const;
  double length() const;
  // Default rectangle when there are no vertices.
  vcRect boundingBox() const;
  vcRect encloseRect() const { return boundingBox(); }
  vcPolyline map(const vcXform<2>& x) const;
  bool operator==(const vcPolyline&) const = default;

 private:
  std::vector<vcVector<2>> v_;
  bool closed_ = false;
};

// Closed polygon.
class vcPolygon {
 public:
  vcPolygon() = default;
  explicit vcPolygon(std::vector<vcVector<2>> vertices) : v_(std::move(vertices)) {}
  void addVertex(const vcVector<2>& p) { v_.push_back(p); }
  // Throws vcBadParams for an index out of range.
  const vcVector<2>& vertex(long i) const;
  const std::vector<vcVector<2>>& vertices() const { return v_; }
  long numVertices() const { return static_cast<long>(v_.size()); }
  // Unsigned area (shoelace).
  double area() const;
  // Positive when the vertices run counter-clockwise in a y-up frame.
  double signedArea() const;
  // Default rectangle when there are no vertices.
  vcRect boundingBox() const;
  vcRect encloseRect() const { return boundingBox(); }
  vcPolygon map(const vcXform<2>& x) const;
  bool operator==(const vcPolygon&) const = default;

 private:
  std::vector<vcVector<2>> v_;
};

// The part of `poly` inside `clip` (Sutherland-Hodgman against the four sides). A polygon
// entirely outside gives an empty polygon. Exact for convex input; a concave polygon may come
// back with zero-width bridges along the rectangle's sides, which add no area.
vcPolygon vfClipPolygon(const vcPolygon& poly, const vcRect& clip);

vcArchive& operator||(vcArchive& ar, vcRect& r);
vcArchive& operator||(vcArchive& ar, vcGenRect& r);
vcArchive& operator||(vcArchive& ar, vcAffineRectangle& r);
vcArchive& operator||(vcArchive& ar, vcPolygon& p);
vcArchive& operator||(vcArchive& ar, vcPelRect& r);
vcArchive& operator||(vcArchive& ar, vcXform<2>& x);
