// A wireframe: a synthetic shape given as an open or closed chain of straight segments and
// circular arcs (a vcGenPoly) together with tolerances: one position tolerance per vertex and
// one length tolerance per segment. Wireframes describe synthetic sub-models and are archived
// with them.
#pragma once

#include <vector>

#include "platform/core/vcAngle.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "platform/display/vcDimTol.h"
#include "platform/display/vcGenPoly.h"

class vc2XformBase;

class vc2Wireframe : public virtual vcPersistent {
 public:
  vc2Wireframe() = default;
  vc2Wireframe(const vc2Wireframe&) = default;
  vc2Wireframe& operator=(const vc2Wireframe&) = default;
  ~vc2Wireframe() override = default;
  static vcPersistent* make();

  // Appends a vertex with its position tolerance (-1: none). `sweep` and `lengthTol` belong to
  // the segment from the previous vertex to this one and are ignored for the first vertex.
  // Throws vcBadParams (and changes nothing) when closed, for a non-finite point or when
  // |sweep| >= 2 pi.
  void insertVertex(const vcVector<2>& p, double positionTol, vcRadian sweep,
                    const vcDimTol& lengthTol);
  // Adds the closing segment from the last vertex back to the first. Throws vcBadParams with
  // fewer than two vertices or when already closed.
  void close(vcRadian sweep, const vcDimTol& lengthTol);

  long numVertices() const { return poly_.numVertices(); }
  long numSegments() const { return poly_.numSegments(); }
  bool closed() const { return poly_.closed(); }
  const vcVector<2>& vertex(long i) const { return poly_.vertex(i); }
  double vertexTol(long i) const;
  // The geometry without tolerances; graphics draw it.
  const vcGenPoly& poly() const { return poly_; }
  operator const vcGenPoly&() const { return poly_; }  // NOLINT: a wireframe draws as its poly
  // Segment i's length tolerance with the nominal value set to the segment's actual length
  // (arc length for arcs); the band is the one given when the segment was added.
  vcDimTol segmentLengthTol(long seg) const;

  vcRect boundingBox() const { return poly_.encloseRect(); }
  vcRect encloseRect() const { return poly_.encloseRect(); }
  // The wireframe under a transform. Absolute tolerances scale with the square root of the
  // transform's area factor (its local one for a general transform).
  vc2Wireframe map(const vcXform<2>& x) const;
  vc2Wireframe map(const vc2XformBase& x) const;

  bool operator==(const vc2Wireframe& o) const {
    return poly_ == o.poly_ && vertexTol_ == o.vertexTol_ && lengthTol_ == o.lengthTol_;
  }

  // Layout after the version byte (0): closed flag, vertex count, per vertex its point and
  // position tolerance, then per segment its sweep (radians) and length tolerance. A load
  // that fails leaves the wireframe as it was.
  void dispatchSerialize(vcArchive& ar) override;
  void reInit() override;

 private:
  void serialize_(vcArchive& ar, unsigned char version);

  vcGenPoly poly_;
  std::vector<double> vertexTol_;    // one per vertex
  std::vector<vcDimTol> lengthTol_;  // one per segment
};
