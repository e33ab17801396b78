// Undoing the flex of a found part: the run image resampled into the arrangement's nominal frame
// through the pieces as they were found, the deformation field against the fitted part pose,
// and every piece's outline in the run image. The comparison an inspection needs: a rectified
// good part matches its training image piece for piece, so what differs is a defect.
#pragma once

#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "vcFlexModels.h"

class vcArchive;
class vcFlexAlignResult;

struct vcFlexRectifyParams {
  // The output pixels, in arrangement units: output pixel (x, y) is arrangement point (x, y), one
  // pixel per unit. Null (the default): the arrangement's enclosing rectangle grown to whole
  // units, which for an arrangement laid out in training-image pixels is the part's box there.
  vcPelRect region;
  // Value of output pixels whose sample point falls outside the run image.
  unsigned char fill = 0;
  // Undo only the fitted part pose, as a rigid tool would: the field is then 0 everywhere and
  // the outlines are where the pose puts the footprints.
  bool poseOnly = false;
  // How far (arrangement units) beyond its footprint a piece's own map still holds exactly: the
  // blurred skirt of the edges along the footprint's border. 0 to 1e6.
  double margin = 3.0;
  // How far (arrangement units) beyond its footprint and margin a piece's own move still
  // counts; farther from every found piece the fitted part pose takes over. 0: the mean
  // half-diagonal of the pieces' footprints, so that gaps of about a piece's size blend
  // between their neighbours.
  double reach = 0.0;
  // Spacing, in output pixels, of the grid on which the map is evaluated exactly. Pixels on a
  // footprint (with its margin) take their piece's map exactly; between footprints the map is
  // interpolated bilinearly between the nodes, which across a gap of less than about two grid
  // steps may miss the exact blend by up to the two pieces' relative move. 1 to 64.
  long gridStep = 8;
};

// Float values over a pixel rectangle, row by row.
struct vcFlexFieldImage {
  vcPelRect rect;
  std::vector<float> values;
  // Pixel (x, y) of `rect` (not range checked).
  float at(long x, long y) const {
    return values[static_cast<std::size_t>((y - rect.y()) * rect.width() + (x - rect.x()))];
  }
};

struct vcFlexRectified {
  vcPelRect region;  // the output pixels, arrangement units
  // Root images over `region`: pixel (x, y) of each is arrangement point (x, y). The image holds
  // the run image sampled (bilinearly, pixel centres at whole coordinates) where the deformation
  // puts each point; the mask is 255 there and 0 where that fell outside the run image.
  vcPelBuffer<unsigned char> image;
  vcPelBuffer<unsigned char> mask;
  // Per output pixel, where the deformation puts it minus where the fitted part pose puts it,
  // in run-image client units (pixels for an image without a client transform).
  vcFlexFieldImage fieldX, fieldY;
  // Per instance position: the piece's footprint where it lies in the run image (client
  // coordinates); through its own found pose when found, through the deformation when missing,
  // empty for a blank place holder.
  std::vector<vcPolygon> outlines;
  // Per instance position: the largest length of the field over the piece's footprint (0 for a
  // blank one), how far the piece sits from where the fitted part pose puts it.
  std::vector<double> largestDisplacement;
};

// What a result says about where every point of the arrangement went: each found piece's own
// map (arrangement to run-image client coordinates) over its footprint grown by the margin, and
// the fitted part pose. Between footprints the pieces' maps are blended with inverse-square
// weights of the distance to each grown footprint, the fitted pose taking a constant weight (one
// over the reach squared) so that it prevails far from every piece; the blend is exactly a
// piece's own map on its grown footprint and joins it smoothly. Where grown footprints overlap,
// the pieces share in proportion to how deep the point lies inside each. A plain value, copied
// and archived.
class vcFlexAlignDeformation {
 public:
  struct Piece {
    bool blank = true;   // a place holder without extent
    bool found = false;  // found in the result: `map` holds its own move
    // The sub-model's extent placed in the arrangement (four corners, arrangement units); the
    // mask's set pixels for a masked image sub-model. Empty for a blank one.
    vcPolygon footprint;
    vcXform<2> map;  // found: arrangement to client coordinates as the piece was found
  };

  // No pieces and the identity pose.
  vcFlexAlignDeformation();
  // From a result of a pattern trained with `arrangement`. A result instance that is not in
  // the arrangement throws vcFlexAlignDefs::BadIndex; empty transform handles vcBadPointer.
  vcFlexAlignDeformation(const vcFlexAlignResult& result, const vcFlexArrangement& arrangement);

  // Per instance position of the arrangement.
  const std::vector<Piece>& pieces() const { return pieces_; }
  // The fitted part pose from arrangement coordinates to client coordinates.
  const vc2XformBase& partMap() const { return *partMap_; }
  // The default output region (null when the arrangement has no extent).
  const vcPelRect& nominalRegion() const { return nominalRegion_; }
  // The reach a `reach` of 0 stands for.
  double defaultReach() const { return defaultReach_; }

  // Where the deformation puts arrangement point p, and where the fitted part pose puts it
  // (both client coordinates), with the margin and reach of `params` (the exact blend, which
  // rectify() follows on the grid).
  vcVector<2> mapPoint(const vcVector<2>& p,
                       const vcFlexRectifyParams& params = vcFlexRectifyParams()) const;
  vcVector<2> poseMapPoint(const vcVector<2>& p) const { return partMap_->mapPoint(p); }
  // The piece's outline and largest displacement, as vcFlexRectified holds them (BadIndex for
  // a position outside the arrangement).
  vcPolygon outline(long position, const vcFlexRectifyParams& params = vcFlexRectifyParams()) const;
  double largestDisplacement(long position,
                             const vcFlexRectifyParams& params = vcFlexRectifyParams()) const;

  // The run image (whose client coordinates the result's poses refer to) rectified into the
  // arrangement's frame. An unbound image throws vcFlexAlignDefs::BadImage; a grid step,
  // margin, reach or region out of range (or no region for an arrangement without extent)
  // BadParams, here and in the calls above.
  vcFlexRectified rectify(const vcPelBuffer_const<unsigned char>& image,
                          const vcFlexRectifyParams& params = vcFlexRectifyParams()) const;

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignDeformation& d);

 private:
  std::vector<Piece> pieces_;
  vcPtrHandle_const<vc2XformBase> partMap_;
  vcPelRect nominalRegion_;
  double defaultReach_ = 1.0;
};

// Version 0: the part map (polymorphic), the nominal region, the default reach and the pieces.
// Loading checks every count and value and changes nothing on failure.
vcArchive& operator||(vcArchive& ar, vcFlexAlignDeformation& d);
