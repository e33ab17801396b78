// The blend behind vcFlexAlignDeformation, prepared once for many points: each found piece's
// footprint as a convex quadrilateral with its edges' outward normals, and its map.
#pragma once

#include <vector>

#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "vcFlexRectify.h"

namespace vc_flxalign {

class DeformBlend {
 public:
  struct Edge {
    vcVector<2> a;       // start corner
    vcVector<2> dir;     // unit direction along the edge
    vcVector<2> normal;  // unit, pointing out of the footprint
    double length = 0;
  };
  struct Piece {
    long position = 0;
    vcXform<2> map;
    std::vector<Edge> edges;
    bool solid = false;                     // has an inside (a footprint of positive area)
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // bounding box, arrangement units
    // (all of the grown footprint)
  };

  // The found, non-blank pieces of `d`, their footprints grown by the margin of `params`; a
  // reach of 0 takes d's default. A margin or reach out of range throws BadParams.
  DeformBlend(const vcFlexAlignDeformation& d, const vcFlexRectifyParams& params);

  const std::vector<Piece>& pieces() const { return pieces_; }
  // Depth of p inside piece k (distance to its boundary), or a negative value outside.
  double depth(std::size_t k, const vcVector<2>& p) const;
  // Whether p lies inside piece k (boundary included): the cheap test of the pixel pass.
  bool inside(std::size_t k, const vcVector<2>& p) const;
  // Where the deformation puts arrangement point p (client coordinates); `pose` is where the
  // fitted part pose puts it, needed only away from every footprint.
  vcVector<2> map(const vcVector<2>& p, const vcVector<2>& pose) const;
  // The same, asking the part pose itself when it is needed.
  vcVector<2> map(const vcVector<2>& p) const;

 private:
  vcVector<2> blend_(const vcVector<2>& p, const vcVector<2>* pose) const;

  const vcFlexAlignDeformation& d_;
  std::vector<Piece> pieces_;
  double invReach2_ = 1.0;
};

}  // namespace vc_flxalign
