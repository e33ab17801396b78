// A general polygon: an open or closed chain of vertices joined by straight segments or
// circular arcs. Segment i runs from vertex i to vertex i+1 (to vertex 0 for the closing
// segment of a closed chain); its sweep is the signed angle the arc turns through, 0 for a
// straight segment, positive for counter-clockwise in the (x, y) frame (with image y pointing
// down that is clockwise on screen). |sweep| must stay below 2 pi.
#pragma once

#include <vector>

#include "platform/core/vcAngle.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"

class vc2XformBase;

class vcGenPoly {
 public:
  vcGenPoly() = default;
  // Straight segments through the vertices.
  explicit vcGenPoly(std::vector<vcVector<2>> vertices, bool closed = false);

  // Appends a vertex; `sweep` belongs to the segment from the previous vertex to this one
  // and is ignored for the first vertex. Throws vcBadParams when the chain is closed, when a
  // coordinate is not finite or when |sweep| >= 2 pi.
  void addVertex(const vcVector<2>& p, vcRadian sweep = vcRadian(0));
  // Adds the closing segment back to vertex 0. Throws vcBadParams with fewer than two
  // vertices, when already closed, or for a bad sweep.
  void close(vcRadian sweep = vcRadian(0));

  long numVertices() const { return static_cast<long>(v_.size()); }
  long numSegments() const;
  bool closed() const { return closed_; }
  // Index checks throw vcBadParams.
  const vcVector<2>& vertex(long i) const;
  const std::vector<vcVector<2>>& vertices() const { return v_; }
  vcRadian sweep(long seg) const;
  bool isArc(long seg) const { return sweep(seg).toDouble() != 0.0; }
  vcVector<2> segmentStart(long seg) const;
  vcVector<2> segmentEnd(long seg) const;
  // Arc length (chord length for a straight segment).
  double segmentLength(long seg) const;
  // Centre and radius of an arc segment; throws vcBadParams for a straight one.
  vcVector<2> arcCenter(long seg) const;
  double arcRadius(long seg) const;
  // The point a fraction t (0..1) along the segment, and the unit tangent there in the
  // direction of travel (zero for a segment of zero length).
  vcVector<2> pointAt(long seg, double t) const;
  vcVector<2> tangentAt(long seg, double t) const;
  double length() const;

  // Tight axis-aligned box, arcs included; the default vcRect when there are no vertices.
  vcRect encloseRect() const;
  vcRect boundingBox() const { return encloseRect(); }
  // Vertices are mapped; each arc becomes the arc through its mapped end points and mapped
  // middle point (exact for similarity transforms, a close circular fit otherwise).
  vcGenPoly map(const vcXform<2>& x) const;
  vcGenPoly map(const vc2XformBase& x) const;
  // Vertices with every arc divided so that no chord strays more than maxDeviation from it.
  vcPolyline toPolyline(double maxDeviation = 0.1) const;

  bool operator==(const vcGenPoly&) const = default;

 private:
  template <class F>
  vcGenPoly mapWith_(F&& f) const;

  std::vector<vcVector<2>> v_;
  std::vector<vcRadian> sweep_;  // one per segment
  bool closed_ = false;
};
