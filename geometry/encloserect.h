// Axis-aligned search windows: the rectangle, in image coordinates, that holds a model polygon
// under every pose a search may still produce. A nominal pose A (model to client) is varied by
// rotation and scale ranges about the model origin, the result is blurred by a translation
// uncertainty (half-axes in client units) and taken into image coordinates through the inverse
// of B (client from image). The uncertainty mode is 1 for an elliptical, 2 for a rectangular
// region; a minimum margin pads every side.
#pragma once

#include "platform/core/vcAngle.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

// Standard DOF set, absolute bounds: pose = A * S(scale) * D(xScale, yScale) * R(angle). Only the
// two extreme scale combinations (all lows, all highs) are swept, not the mixed corners. Accepts
// any input; a mode other than 1 or 2 adds only the margin.
vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian angleLow,
                     vcRadian angleHigh, double scaleLow, double scaleHigh, double xScaleLow,
                     double xScaleHigh, double yScaleLow, double yScaleHigh, double minMargin,
                     long uncertaintyMode);

// Advanced DOF set, absolute bounds: rotation, uniform scale, aspect (y against x) and skew (the
// y axis turned), composed after A in any order. The rectangle holds the polygon under every
// pose of the ranges. Validated like the core relative form (with the high scale and aspect
// ends as the relative values): throws vcFlexAlignDefs::BadParams.
vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationLow,
                     vcRadian rotationHigh, double scaleLow, double scaleHigh, double aspectLow,
                     double aspectHigh, vcRadian skewLow, vcRadian skewHigh, double minMargin,
                     long uncertaintyMode);

// Relative form: rotation half-range, relative scale, relative aspect (applied to both x and
// y), an unused skew, and the margin; forwards to the core relative form.
vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationHalfRange,
                     double scaleRel, double aspectRel, vcRadian skew, double minMargin,
                     long uncertaintyMode);

// Core relative form: sweeps rotations of +-halfRange and the scale pair 1 +- e (e1 uniform,
// e2 on x, e3 on y) about A. Throws vcFlexAlignDefs::BadParams "Uncertainty outside allowed
// range." unless both uncertainties >= 0, the mode is 1 or 2, halfRange >= 0 and every e lies
// in [-1, 1]. The margin is not checked.
vcRect vfEncloseRect(const vcPolygon& poly, const vcXform<2>& A, const vcXform<2>& B,
                     double xUncertainty, double yUncertainty, vcRadian rotationHalfRange,
                     double e1, double e2, double e3, double minMargin, long uncertaintyMode);
