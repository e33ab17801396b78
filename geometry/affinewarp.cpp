#include <cstdint>

#include "platform/core/vcAffineSampling.h"
#include "platform/core/vcShapes.h"
#include "vcFlexGeometry.h"

// The output is sampled over an affine rectangle about the image centre whose sides run along
// the inverse rotations of the matrix's axes, so the picture appears turned and sheared by the
// matrix; its side lengths, then the output size, come from the enclosing pixel rectangles.
vcPelBuffer<unsigned char> vfAffineTransformImage(
    const vcPelBuffer_const<unsigned char>& image, const vcMatrix<2>& m, unsigned char fill,
    vcAffineSamplingParams::Interpolation interpolation) {
  const double w = static_cast<double>(image.width());
  const double h = static_cast<double>(image.height());
  const vcPair<long> off = image.offset();
  const vcVector<2> centre(static_cast<double>(off.x()) + 0.5 * w,
                           static_cast<double>(off.y()) + 0.5 * h);
  const vcRadian a1 = -m.xRot();
  const vcRadian a2 = m.xRot() - m.yRot();
  const vcXform<2> identity;

  // First extent: the window turned by the matrix. Second: a rectangle of that extent's size
  // turned the same way, which covers the source whatever the rotation.
  const vcAffineRectangle r1(centre, w, h, a1, a2);
  const vcPelRect p1 = r1.encloseImageRect(identity);
  vcAffineRectangle r2(centre, static_cast<double>(p1.width()), static_cast<double>(p1.height()),
                       a1, a2);
  const vcPelRect p2 = r2.encloseImageRect(identity);
  // A margin so that interpolation near the border reads fill, not the sampler's edge rule.
  const vcPelRect p3 = p2.trim(-4, -4, -4, -4, false);

  vcPelBuffer<unsigned char> work(p3, 32);
  vfPelSet_U8(work, fill);
  // Copy the whole source image, not only its window, where it overlaps the work buffer. Views
  // share pixels but not windows, so narrowing copies leaves the caller's window untouched even
  // if a copy throws; equal windows make the copy position-exact.
  vcPelBuffer_const<unsigned char> whole = image;
  whole.setEntire();
  const vcPelRect overlap = whole.window().intersect(p3);
  vcPelBuffer<unsigned char> dst = work;
  if (!overlap.isNull()) {
    whole.window(overlap, false);
    dst.window(overlap, false);
  }
  // Without overlap this copies nothing, and an unbound image fails here as the copy's error.
  vfPelCopy(whole, dst);

  r2 = vcAffineRectangle(work.clientFromImageXform() * r2.affRectFromUnitSq());

  const double fx = static_cast<double>(p1.width()) * m.xScale();
  const double fy = static_cast<double>(p1.height()) * m.yScale();
  const auto nx = static_cast<std::int16_t>(static_cast<long>(fx + 0.5));
  const auto ny = static_cast<std::int16_t>(static_cast<long>(fy + 0.5));
  // Whole output pixels: stretch the region by the rounding of the size.
  if (fx != 0.0) r2.xLength(r2.xLength() * nx / fx);
  if (fy != 0.0) r2.yLength(r2.yLength() * ny / fy);

  return vfAffineTransformImage(work, vcAffineSamplingParams(r2, nx, ny, interpolation));
}
