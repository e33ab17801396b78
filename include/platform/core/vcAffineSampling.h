// Affine resampling of an 8-bit image: an output image of nx by ny pixels is read from the
// source over an affine rectangle given in the source's client coordinates.
#pragma once

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"

class vcAffineSamplingParams {
 public:
  enum Interpolation { eNearestNeighbor = 0, eBilinear = 1 };

  vcAffineSamplingParams() = default;
  // Throws vcBadParams for a negative size or an interpolation outside the enumeration.
  vcAffineSamplingParams(const vcAffineRectangle& region, long width, long height,
                         Interpolation interpolation = eBilinear, unsigned char outsideValue = 0);
  const vcAffineRectangle& region() const { return region_; }
  long width() const { return width_; }
  long height() const { return height_; }
  Interpolation interpolation() const { return interp_; }
  // Value of output pixels whose sample point lies outside the source window.
  unsigned char outsideValue() const { return outside_; }

 private:
  vcAffineRectangle region_;
  long width_ = 0;
  long height_ = 0;
  Interpolation interp_ = eBilinear;
  unsigned char outside_ = 0;
};

// Output pixel (i, j) takes the source value at the region point
// affRectFromUnitSq()((i + 0.5) / width, (j + 0.5) / height), taken from client to source image
// coordinates by the source's imageFromClientXform(). Source pixel (k, l) covers
// [k, k + 1) x [l, l + 1) in image coordinates, so its centre is (k + 0.5, l + 0.5).
// Nearest takes the pixel containing the point; bilinear blends the four nearest pixel
// centres, repeating edge pixels for points in the outer half-pixel of the window. The result's
// client transform maps its pixels back onto the region, so client coordinates carry over.
// Throws vcBadParams for an unbound source and vcMathError::Singular for a singular source
// client transform.
vcPelBuffer<unsigned char> vfAffineTransformImage(const vcPelBuffer_const<unsigned char>& src,
                                                  const vcAffineSamplingParams& params);
