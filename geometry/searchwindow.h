// Search windows: where one search may find its pattern, from the zones it sweeps, the
// translation uncertainty it allows and a margin, in whole image pixels. The sub-model tool
// cuts its window with vfSearchWindow; a flexible part's run composes its two stages (the
// piece's own zones in the part's frame, then the part's zones into the image) from the same
// sweep, growth and pixel rounding.
#pragma once

#include "platform/core/vcMatrix.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

// Absolute sweep bounds, the identity by default: angles in radians, scale-like DOFs as factors.
// The standard set varies angle, uniform, x and y scale; the advanced set rotation, scale,
// aspect (held in xScaleLow/High) and skew.
struct vcSearchZones {
  bool advanced = false;
  double angleLow = 0.0, angleHigh = 0.0;  // angle, or rotation in the advanced set
  double scaleLow = 1.0, scaleHigh = 1.0;
  double xScaleLow = 1.0, xScaleHigh = 1.0;  // x scale, or aspect in the advanced set
  double yScaleLow = 1.0, yScaleHigh = 1.0;
  double skewLow = 0.0, skewHigh = 0.0;
};

// The bounds of zones given as a DOF table holds them, relative to the start pose: low[i] and
// high[i] belong to DOF bit 1 << i (bit 1 angle or rotation, 2 scale, 4 x scale or skew,
// 8 y scale or aspect), in degrees for angles and as offsets from 1 for scale-like DOFs. A DOF
// whose bit `enabled` lacks stays at the identity.
vcSearchZones vfSearchZones(unsigned long enabled, bool advanced, const double low[4],
                            const double high[4]);

// A translation uncertainty: half-axes in client units, and the region's shape (1 elliptical,
// 2 rectangular, as the parameters' XYUncertaintyMode).
struct vcSearchUncertainty {
  double x = 0.0, y = 0.0;
  long mode = 1;
};

// The rectangle, in the coordinates of B's source (image coordinates for a client-from-image
// B), that holds `poly` under pose A swept over `zones`; each side then moves out by the
// uncertainty region's half-extent or by `margin`, whichever is larger (vfEncloseRect).
vcRect vfSearchRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                    const vcSearchZones& zones, const vcSearchUncertainty& u, double margin);

// `r` grown on every side by the box around the uncertainty region mapped by m (unchanged when
// both half-axes are 0, or for a mode that is neither shape).
vcRect vfGrowByUncertainty(const vcRect& r, const vcMatrix<2>& m, const vcSearchUncertainty& u);

// The whole pixels that cover `r`: floor of its low corner, ceiling of its high corner.
vcPelRect vfPixelWindow(const vcRect& r);

// One search's window: vfSearchRect in whole pixels, clipped to `image` (the window of the
// image searched). `swept` (optional) gets the rectangle before rounding and clipping.
vcPelRect vfSearchWindow(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                         const vcSearchZones& zones, const vcSearchUncertainty& u, double margin,
                         const vcPelRect& image, vcRect* swept = nullptr);
