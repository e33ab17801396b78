// Geometric algorithms shared by the alignment tool: the interpolated transform map, the
// minimum spanning tree that orders instances, the enclosing rectangles of search windows and
// the affine image warp.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcAffineSampling.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcMatrix.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"

class vcArchive;

// Minimum spanning tree of a complete graph given as a row-major square distance matrix,
// grown by Prim's method from one or more roots. Ties go to the lowest outside vertex, then to
// the lowest tree vertex, so the join order is reproducible.
class MST : public virtual vcPersistent {
 public:
  MST();
  MST(const MST& other);
  MST& operator=(const MST& other);
  ~MST() override;

  // Vertices 0 .. numRoots-1 are the roots. n is the truncated square root of the number of
  // entries; only the first n*n entries are read, entry a*n+b being the distance from a to b.
  void compute(std::vector<double>& distances, int numRoots);
  // The same tree over points with their Euclidean distances, without the matrix: memory
  // linear and time quadratic in the number of points (the matrix form is cubic in time).
  void compute(const std::vector<vcVector<2>>& points, int numRoots);
  // k-th vertex to join (roots report 0). Not range checked.
  int order(int k) const { return order_[k]; }
  // Tree vertex through which v joined (roots report 0). Not range checked.
  int parent(int v) const { return parent_[v]; }
  // Number of vertices of the last computation.
  int size() const { return size_; }
  void erase();
  static vcPersistent* make();

 protected:
  void dispatchSerialize(vcArchive& ar) override;

 private:
  void serialize_(vcArchive& ar, unsigned char version);

  std::vector<std::int32_t> order_;
  std::vector<std::int32_t> parent_;
  std::int32_t size_ = 0;
};

// Non-linear transform blended from linear key transforms attached to key points. At a point p
// it acts as the weighted average of the key transforms, with weights that fall off with the
// distance from p to each key point; far from all keys the choice of scheme decides whether
// the nearest keys or the average of all keys dominate.
class vc2XformInterpMap : public vc2XformBase {
 public:
  enum InterpolationType : std::int32_t { eGaussian = 1, eExponential = 2, eLinear = 3 };

  // Invalid key lists (counts differ, no keys, repeated key points).
  class BadParams : public vc2XformDefs::Errors {
   public:
    BadParams() = default;
    BadParams(const BadParams&) = default;
    ~BadParams() override = default;
    void dispatchSerialize(vcArchive& ar) override;
    virtual long errorNumber() const;
    // Throws a copy of this heap-allocated object after deleting it; never returns.
    [[noreturn]] virtual void suicideAndRethrow();
    static vcPersistent* make();

   private:
    void serialize_(vcArchive& ar, unsigned char version);
  };
  // Non-linear key transforms and unknown interpolation modes.
  class NotImplemented : public vc2XformDefs::Errors {
   public:
    NotImplemented() = default;
    NotImplemented(const NotImplemented&) = default;
    ~NotImplemented() override = default;
    void dispatchSerialize(vcArchive& ar) override;
    virtual long errorNumber() const;
    [[noreturn]] virtual void suicideAndRethrow();
    static vcPersistent* make();

   private:
    void serialize_(vcArchive& ar, unsigned char version);
  };

  using KeyXforms = std::vector<vcPtrHandle_const<vc2XformBase>>;
  using KeyPoints = std::vector<vcVector<2>>;

  // One identity key at the origin.
  vc2XformInterpMap();
  // One key: a clone of xf at pt. A non-linear xf throws NotImplemented.
  vc2XformInterpMap(const vc2XformBase& xf, const vcVector<2>& pt);
  // Shares the handles. Throws BadParams for differing counts, no keys or two equal key
  // points, NotImplemented for a non-linear key, vcBadPointer for an empty handle.
  vc2XformInterpMap(const KeyXforms& keyXforms, const KeyPoints& keyPoints);
  vc2XformInterpMap(const vc2XformInterpMap& other);
  vc2XformInterpMap& operator=(const vc2XformInterpMap& other);
  ~vc2XformInterpMap() override;

  // Appends a clone of xf at pt without checking for a repeated point; the Gaussian and linear
  // schemes need distinct key points. A non-linear xf throws NotImplemented.
  void addKeyXform(const vc2XformBase& xf, vcVector<2> pt);
  const KeyXforms& keyXforms() const { return keyXforms_; }
  const KeyPoints& keyPoints() const { return keyPoints_; }
  InterpolationType interpolationMode() const { return interpolationMode_; }
  // Stores any value; an unknown one makes mapping throw NotImplemented.
  void interpolationMode(InterpolationType mode);

  void dispatchSerialize(vcArchive& ar) override;
  vcVector<2> mapPoint(const vcVector<2>& p) const override;
  bool isLinear() const override;
  vc2XformLinear linearXform(const vcVector<2>& p) const override;
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  // Keys move to their images and their transforms are inverted; the result is checked like a
  // newly built map, so coincident images throw BadParams.
  vcPtrHandle<vc2XformBase> inverseBase() const override;
  vcPtrHandle<vc2XformBase> clone() const override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 public:
  // A key transform taken apart for blending: the sines and cosines of its axis angles, the
  // logarithms of its axis scales, whether it mirrors, its translation.
  struct KeyParts {
    double sinX, cosX, sinY, cosY, logXs, logYs;
    bool mirrored;
    double tx, ty;
  };

 private:
  // Takes every key apart once, so that mapping costs a few operations per key; none are kept
  // when a key is not linear (only a damaged archive holds one), and mapping takes them apart
  // at each point.
  void keepParts_();

  KeyXforms keyXforms_;
  KeyPoints keyPoints_;
  InterpolationType interpolationMode_ = eExponential;
  std::vector<KeyParts> parts_;
};

// Axis-aligned search windows: the rectangle, in image coordinates, that holds a model polygon
// under every pose a search may still produce. A nominal pose A (model to client) is varied by
// rotation and scale ranges about the model origin, the result is blurred by a translation
// uncertainty (half-axes in client units) and taken into image coordinates through the inverse
// of B (client from image). The uncertainty mode is 1 for an elliptical, 2 for a rectangular
// region; a minimum margin pads every side.

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

// Warps an 8-bit image by m about the centre of its window into a new image. The output covers
// the window turned and sheared by m's axis angles, with m's x and y scales applied to its
// size; pixels the source does not cover take `fill`. The caller's image, window included, is
// not changed. Failures of the underlying sampler (an unbound image) pass through.
vcPelBuffer<unsigned char> vfAffineTransformImage(
    const vcPelBuffer_const<unsigned char>& image, const vcMatrix<2>& m, unsigned char fill,
    vcAffineSamplingParams::Interpolation interpolation);
