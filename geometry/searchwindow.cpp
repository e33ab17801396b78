#include "geometry/searchwindow.h"

#include <cmath>

#include "platform/core/vcAngle.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"

vcSearchZones vfSearchZones(unsigned long enabled, bool advanced, const double low[4],
                            const double high[4]) {
  vcSearchZones z;
  z.advanced = advanced;
  if (enabled & 1) z.angleLow = low[0] * vcRadPerDeg, z.angleHigh = high[0] * vcRadPerDeg;
  if (enabled & 2) z.scaleLow = 1.0 + low[1], z.scaleHigh = 1.0 + high[1];
  if (advanced) {
    if (enabled & 4) z.skewLow = low[2] * vcRadPerDeg, z.skewHigh = high[2] * vcRadPerDeg;
    if (enabled & 8) z.xScaleLow = 1.0 + low[3], z.xScaleHigh = 1.0 + high[3];
  } else {
    if (enabled & 4) z.xScaleLow = 1.0 + low[2], z.xScaleHigh = 1.0 + high[2];
    if (enabled & 8) z.yScaleLow = 1.0 + low[3], z.yScaleHigh = 1.0 + high[3];
  }
  return z;
}

vcRect vfSearchRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                    const vcSearchZones& z, const vcSearchUncertainty& u, double margin) {
  if (z.advanced)
    return vfEncloseRect(poly, A, B, u.x, u.y, vcRadian(z.angleLow), vcRadian(z.angleHigh),
                         z.scaleLow, z.scaleHigh, z.xScaleLow, z.xScaleHigh, vcRadian(z.skewLow),
                         vcRadian(z.skewHigh), margin, u.mode);
  return vfEncloseRect(poly, A, B, u.x, u.y, vcRadian(z.angleLow), vcRadian(z.angleHigh),
                       z.scaleLow, z.scaleHigh, z.xScaleLow, z.xScaleHigh, z.yScaleLow,
                       z.yScaleHigh, margin, u.mode);
}

vcRect vfGrowByUncertainty(const vcRect& r, const vcMatrix<2>& m, const vcSearchUncertainty& u) {
  if (!(u.x > 0.0 || u.y > 0.0)) return r;
  // Half-sizes of the box around the region of radii (x, y) mapped by m: an ellipse's extent
  // along an axis is the length of that row of m scaled by the radii; a rectangle's, the sum
  // of the row's absolute entries so scaled.
  double hx = 0.0, hy = 0.0;
  if (u.mode == vcFlexAlignDefs::eElliptical) {
    hx = std::hypot(m.element(0, 0) * u.x, m.element(0, 1) * u.y);
    hy = std::hypot(m.element(1, 0) * u.x, m.element(1, 1) * u.y);
  } else if (u.mode == vcFlexAlignDefs::eRectangular) {
    hx = std::abs(m.element(0, 0)) * u.x + std::abs(m.element(0, 1)) * u.y;
    hy = std::abs(m.element(1, 0)) * u.x + std::abs(m.element(1, 1)) * u.y;
  }
  return vcRect(r.x() - hx, r.y() - hy, r.width() + 2.0 * hx, r.height() + 2.0 * hy);
}

vcPelRect vfPixelWindow(const vcRect& r) {
  const long x0 = static_cast<long>(std::floor(r.x()));
  const long y0 = static_cast<long>(std::floor(r.y()));
  const long x1 = static_cast<long>(std::ceil(r.x() + r.width()));
  const long y1 = static_cast<long>(std::ceil(r.y() + r.height()));
  return vcPelRect(x0, y0, x1 - x0, y1 - y0);
}

vcPelRect vfSearchWindow(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                         const vcSearchZones& zones, const vcSearchUncertainty& u, double margin,
                         const vcPelRect& image, vcRect* swept) {
  const vcRect r = vfSearchRect(poly, A, B, zones, u, margin);
  if (swept) *swept = r;
  return vfPixelWindow(r).intersect(image);
}
