#include "platform/core/vcAffineSampling.h"

#include <cmath>

vcAffineSamplingParams::vcAffineSamplingParams(const vcAffineRectangle& region, long width,
                                               long height, Interpolation interpolation,
                                               unsigned char outsideValue)
    : region_(region),
      width_(width),
      height_(height),
      interp_(interpolation),
      outside_(outsideValue) {
  if (width < 0 || height < 0) throw vcBadParams("sampling size must not be negative");
  if (interpolation != eNearestNeighbor && interpolation != eBilinear)
    throw vcBadParams("unknown sampling interpolation " + std::to_string(interpolation));
}

vcPelBuffer<unsigned char> vfAffineTransformImage(const vcPelBuffer_const<unsigned char>& src,
                                                  const vcAffineSamplingParams& params) {
  if (!src.isBound()) throw vcBadParams("vfAffineTransformImage: image is not bound");
  const long nx = params.width(), ny = params.height();
  vcPelBuffer<unsigned char> dst(nx, ny);
  const vcXform<2>& unit = params.region().affRectFromUnitSq();
  // Output pixel index (i, j) -> unit square -> client -> source root-image coordinates, then
  // relative to the window so that window pixel (0, 0) covers [0, 1)^2.
  const vcXform<2> pixToUnit(vcMatrix<2>(nx > 0 ? 1.0 / nx : 0.0, 0, 0, ny > 0 ? 1.0 / ny : 0.0),
                             vcVector<2>());
  const vcXform<2> outToClient = unit * pixToUnit;
  dst.clientFromImageXform(outToClient);
  if (nx == 0 || ny == 0) return dst;
  const vcXform<2> winFromRoot(vcMatrix<2>(), vcVector<2>(-static_cast<double>(src.offset().x()),
                                                          -static_cast<double>(src.offset().y())));
  const vcXform<2> outToSrc = winFromRoot * src.imageFromClientXform() * outToClient;
  const vcMatrix<2>& m = outToSrc.matrix();
  const long w = src.width(), h = src.height();
  const unsigned char fill = params.outsideValue();
  const bool bilinear = params.interpolation() == vcAffineSamplingParams::eBilinear;
  for (long j = 0; j < ny; ++j) {
    unsigned char* out = dst.row(j);
    // Point of pixel centre (i + 0.5, j + 0.5); advance by the first column per pixel.
    vcVector<2> q = outToSrc.mapPoint({0.5, j + 0.5});
    const vcVector<2> step(m(0, 0), m(1, 0));
    for (long i = 0; i < nx; ++i, q += step) {
      const double fx = std::floor(q.x()), fy = std::floor(q.y());
      if (!(fx >= 0 && fy >= 0 && fx < w && fy < h)) {  // also rejects NaN
        out[i] = fill;
        continue;
      }
      if (!bilinear) {
        out[i] = src.get(static_cast<long>(fx), static_cast<long>(fy));
        continue;
      }
      // Blend between the centres around q: x0 = floor(q - 0.5), weight of x0 + 1 is the rest.
      const double gx = q.x() - 0.5, gy = q.y() - 0.5;
      const double bx = std::floor(gx), by = std::floor(gy);
      const double ax = gx - bx, ay = gy - by;
      long x0 = static_cast<long>(bx), y0 = static_cast<long>(by);
      long x1 = x0 + 1, y1 = y0 + 1;
      if (x0 < 0) x0 = 0;
      if (y0 < 0) y0 = 0;
      if (x1 >= w) x1 = w - 1;
      if (y1 >= h) y1 = h - 1;
      const unsigned char* r0 = src.row(y0);
      const unsigned char* r1 = src.row(y1);
      const double top = r0[x0] + ax * (r0[x1] - r0[x0]);
      const double bot = r1[x0] + ax * (r1[x1] - r1[x0]);
      const double v = top + ay * (bot - top);
      out[i] = static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    }
  }
  return dst;
}
