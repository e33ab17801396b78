// Correlation pattern location: zero-mean normalized cross-correlation of a trained grey-level
// template with a run image, over translation and optionally over an angle and a uniform scale.
//
// Frames. The model frame is mapped into the training client frame by origin() (identity by
// default) and from there into training pixels by the training image's client transform. A
// result pose maps model coordinates to the run image's client coordinates, so an exact match
// of an unmoved image reproduces the training geometry.
//
// Zones. DOF code 1 is the angle (degrees), 2 the uniform scale (a factor). Training fixes, per
// DOF, a nominal value and a maximum range: the angle may vary in nominal +- range, the scale
// in nominal +- range. A DOF that is not allowed is trained at its nominal only. A run searches
// the enabled DOFs over a range given relative to the run's start pose (angle offsets in
// degrees, scale offsets added to 1); that range must lie inside the trained one, otherwise the
// run throws vc_PatCorDefs::BadRange.
//
// Passes. Algorithm code 1 is the coarse pass, 2 the fine pass. Training always builds the
// coarse pass (templates at the coarse steps, correlated on an image reduced by the sampling
// factor); training with algorithm 2 also builds fine-step templates, with which the best
// coarse candidates are refined. Every result is then fitted at full resolution: position,
// and angle and scale where the run searches them, to the correlation maximum (the fit
// weights down pixels the template does not explain, and matches a soft image with a template
// blurred as much).
//
// Scores are correlation coefficients in -1..1 reported clipped at 0, of the template (blurred
// as the image is) against the image's pixels at the fitted pose. A result also reports its
// uncertainty and whether another peak of the search is as good (see vc_PatCorResult).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcMatrix.h"
#include "platform/core/vcPair.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "platform/diag/vcDiagFwd.h"

struct vc_PatCorDefs {
  enum Dof : long { eAngle = 1, eScale = 2 };
  enum Algorithm : long { eCoarse = 1, eFine = 2 };
  // Zone masks use the bit (1 << (dof - 1)): 1 angle, 2 scale.
  enum ZoneBits : unsigned long { eAngleBit = 1, eScaleBit = 2 };

  class Errors : public vcExceptionWithString {
   public:
    explicit Errors(const std::string& msg = std::string()) : vcExceptionWithString(msg) {}
  };
  class BadParams : public Errors {
   public:
    using Errors::Errors;
  };
  class BadImage : public Errors {
   public:
    using Errors::Errors;
  };
  class NotTrained : public Errors {
   public:
    using Errors::Errors;
  };
  // The run asks for an angle or scale outside the trained zone.
  class BadRange : public Errors {
   public:
    using Errors::Errors;
  };
};

class vc_PatCorTrainParams {
 public:
  vc_PatCorTrainParams() = default;

  // Passes to train: 1 coarse only, 2 coarse and fine (3 is taken as 2).
  unsigned long algorithms() const { return algorithms_; }
  void algorithms(unsigned long a);

  // Step of a DOF in a pass; angle in degrees, scale as a factor difference. Must be > 0.
  double step(long dof, long algorithm) const;
  void step(long dof, double value, long algorithm);

  // Zone bits (vc_PatCorDefs::ZoneBits) of the DOFs trained over a range.
  unsigned long zoneAllowed() const { return zoneAllowed_; }
  void zoneAllowed(unsigned long mask);

  // Half width of the trained zone around the nominal (>= 0; scale < 1).
  double zoneMaxRange(long dof) const;
  void zoneMaxRange(long dof, double v);

  // Trained zone centre: angle in degrees, scale factor (> 0).
  double zoneNominal(long dof) const;
  void zoneNominal(long dof, double v);

  bool operator==(const vc_PatCorTrainParams&) const = default;

 private:
  unsigned long algorithms_ = 1;
  double coarseStep_[2] = {5.0, 0.05};
  double fineStep_[2] = {0.5, 0.02};
  unsigned long zoneAllowed_ = 0;
  double maxRange_[2] = {45.0, 0.2};
  double nominal_[2] = {0.0, 1.0};
};

class vc_PatCorRunParams {
 public:
  vc_PatCorRunParams() = default;

  // Minimum score of a result after a pass (-1..1). The coarse pass keeps candidates above
  // its threshold less a margin for the detail lost by reduction.
  double acceptThreshold(long algorithm) const;
  void acceptThreshold(long algorithm, double v);

  // When above -1, the coarse pass (algorithm 1) keeps candidates for refinement down to
  // min(this, acceptThreshold(1)) instead of its default margin. The fine pass's value is
  // stored but has no stage after it to steer.
  double neighborAcceptThreshold(long algorithm) const;
  void neighborAcceptThreshold(long algorithm, double v);

  // Results wanted (>= 1).
  long numToFind() const { return numToFind_; }
  void numToFind(long n);

  // How far the template may reach past the window edges, in pixels: left = x, top = y,
  // right = width - 1, bottom = height - 1 (the default (0, 0, 1, 1) allows none). Pixels
  // outside the window are left out of the correlation.
  const vcPelRect& partialMatch() const { return partialMatch_; }
  void partialMatch(const vcPelRect& r);

  // Extra translation freedom in run pixels around the xyRel range, each >= 0.
  const vcPair<long>& uncertainty() const { return uncertainty_; }
  void uncertainty(const vcPair<long>& u);

  // Two results overlap in translation when the fraction of their template areas that
  // overlap exceeds this value (>= 0).
  double xyOverlap() const { return xyOverlap_; }
  void xyOverlap(double v);

  // Range of the pattern centre's position relative to where the start pose puts it, in run
  // client units, widened by uncertainty() pixels. Applies only with a start pose
  // (startPoseType non-zero); the default covers the whole window.
  const vcVector<2>& xyRelLow() const { return xyLow_; }
  const vcVector<2>& xyRelHigh() const { return xyHigh_; }
  void xyRel(const vcVector<2>& low, const vcVector<2>& high);

  // Zone bits of the DOFs searched; the others stay at the start pose.
  unsigned long zoneEnable() const { return zoneEnable_; }
  void zoneEnable(unsigned long mask);

  // Two results within this angle (degrees) and scale difference of each other are the same
  // result when they also overlap in translation.
  double zoneOverlap(long dof) const;
  void zoneOverlap(long dof, double v);

  // Searched range relative to the start pose: angle offsets in degrees, scale offsets
  // (factor - 1); low <= high.
  double zoneRelLow(long dof) const;
  double zoneRelHigh(long dof) const;
  void zoneRel(long dof, double low, double high);

  // Start pose: model coordinates to run client coordinates (linear part and position). Used
  // when startPoseType is non-zero; with 0 the model is searched as trained (identity).
  vcXform<2> startPose;
  long startPoseType = 0;

  // Model coordinates to training client coordinates for this run, in place of the model's
  // own origin() (finite, scales in [0.001, 1000], translation within 1e6). A run changes
  // nothing in the model, so one trained model serves several threads with frames of their
  // own. Unset by default: the model's origin applies.
  const std::optional<vcXform<2>>& modelOrigin() const { return modelOrigin_; }
  void modelOrigin(const vcXform<2>& o);
  void clearModelOrigin() { modelOrigin_.reset(); }

  bool operator==(const vc_PatCorRunParams&) const = default;

 private:
  double accept_[2] = {0.5, 0.5};
  double neighbor_[2] = {-2.0, -2.0};
  long numToFind_ = 1;
  vcPelRect partialMatch_{0, 0, 1, 1};
  vcPair<long> uncertainty_{0, 0};
  double xyOverlap_ = 0.5;
  vcVector<2> xyLow_{-1e30, -1e30};
  vcVector<2> xyHigh_{1e30, 1e30};
  unsigned long zoneEnable_ = 0;
  double zoneOverlap_[2] = {360.0, 1.4};
  double zoneLow_[2] = {0.0, 0.0};
  double zoneHigh_[2] = {0.0, 0.0};
  std::optional<vcXform<2>> modelOrigin_;
};

class vc_PatCorResult {
 public:
  vc_PatCorResult() = default;
  double score() const { return score_; }
  // Model coordinates to run client coordinates.
  const vcXform<2>& pose() const { return pose_; }
  const vcXform<2>& xform() const { return pose_; }
  // Found zone values relative to the start pose: angle offset (degrees), scale factor.
  double angle() const { return angle_; }
  double scale() const { return scale_; }
  // Where the model origin lies in the run image, in root-image pixels.
  const vcVector<2>& imagePosition() const { return imagePos_; }

  // Uncertainty, from the score surface around the peak: its curvature against the score's
  // noise (the share 1 - score the template does not explain). Covariance of imagePosition()
  // in root-image pixels squared (xx, xy, yx, yy), and the 1-sigma of angle() in degrees and
  // of scale() (0 for a zone the run did not search).
  const vcMatrix<2>& positionCovariance() const { return positionCov_; }
  double angleSigma() const { return angleSigma_; }
  double scaleSigma() const { return scaleSigma_; }
  // Another peak of the search scores as well as this one within the score's noise
  // (repetitive texture), or the peak is too flat to place (a featureless patch, a lone
  // straight edge): the position is not determined by the image. runnerUpScore() is the best
  // score of a peak away from every result (-1 when there is none).
  bool ambiguous() const { return ambiguous_; }
  double runnerUpScore() const { return runnerUp_; }

 private:
  friend struct vc_PatCorRunner;
  double score_ = 0.0;
  vcXform<2> pose_;
  double angle_ = 0.0;
  double scale_ = 1.0;
  vcVector<2> imagePos_;
  vcVector<2> centre_;  // pattern centre in run root pixels
  vcMatrix<2> positionCov_{0.0, 0.0, 0.0, 0.0};
  double angleSigma_ = 0.0, scaleSigma_ = 0.0;
  bool ambiguous_ = false;
  double runnerUp_ = -1.0;
  double integerScore_ = 0.0;  // the best integer position's score, which rivals are held to
  double pixels_ = 0.0;        // template pixels the fit used
  double blur_ = 0.0;          // Gaussian sigma the template was blurred by to match the image
};

class vc_PatCorResultSet {
 public:
  // True after a run that completed (even when it found nothing).
  bool success() const { return success_; }
  long numFound() const { return static_cast<long>(results_.size()); }
  const std::vector<vc_PatCorResult>& results() const { return results_; }
  const vc_PatCorResult& operator[](long i) const { return results_.at(i); }
  void clear() {
    success_ = false;
    results_.clear();
  }

 private:
  friend struct vc_PatCorRunner;
  bool success_ = false;
  std::vector<vc_PatCorResult> results_;
};

struct vc_PatCorTrained;

template <class T>
class vc_PatCorModel;

template <>
class vc_PatCorModel<unsigned char> {
 public:
  vc_PatCorModel() = default;

  // Reduction factors of the coarse pass (x, y); the larger of the two rounded is used,
  // at least 1. Takes effect at the next train.
  const vcPair<double>& sample() const { return sample_; }
  void sample(const vcPair<double>& g);

  // Trains from the image's window; a bound mask (same window size) marks with values >= 128
  // the pixels that belong to the pattern. Throws vc_PatCorDefs::BadImage / BadParams.
  void train(const vcPelBuffer_const<unsigned char>& image,
             const vcPelBuffer_const<unsigned char>& mask, const vc_PatCorTrainParams& params,
             vcDiagObject* diag = nullptr, unsigned long flags = 0);

  // Searches the window of `image`. A mask (same window size) marks with values >= 128 the
  // pixels that may take part in the correlation. `results` is cleared first. Throws NotTrained,
  // BadImage, BadParams, BadRange. Changes nothing in the model: runs may overlap on threads.
  void run(const vcPelBuffer_const<unsigned char>& image, const vc_PatCorRunParams& params,
           vc_PatCorResultSet& results, vcDiagObject* diag = nullptr,
           unsigned long flags = 0) const;
  void run(const vcPelBuffer_const<unsigned char>& image,
           const vcPelBuffer_const<unsigned char>& mask, const vc_PatCorRunParams& params,
           vc_PatCorResultSet& results, vcDiagObject* diag = nullptr,
           unsigned long flags = 0) const;

  bool isTrained() const { return trained_; }
  void untrain();

  // Model coordinates to training client coordinates (a run may bring its own, see
  // vc_PatCorRunParams::modelOrigin).
  const vcXform<2>& origin() const { return origin_; }
  void origin(const vcXform<2>& o) {
    origin_ = o;
    computeOriginInverse_();
  }
  // Recomputes originInverse_ from origin_ (identity when origin_ is singular).
  void computeOriginInverse_();

  const vc_PatCorTrainParams& trainParams() const { return trainParams_; }
  // Template size in training pixels (0 x 0 when untrained).
  long templateWidth() const;
  long templateHeight() const;

  // Equal when both are untrained, or both trained from the same pixels, mask, parameters,
  // sampling and origin.
  bool operator==(const vc_PatCorModel& o) const;
  bool operator!=(const vc_PatCorModel& o) const { return !(*this == o); }

  // Read and set directly by a caller that moves the model frame around a run.
  bool trained_ = false;
  vcXform<2> origin_;
  vcXform<2> originInverse_;

 private:
  vcPair<double> sample_{4.0, 4.0};
  vc_PatCorTrainParams trainParams_;
  std::shared_ptr<const vc_PatCorTrained> data_;
};

using vc_PatCorModelU8 = vc_PatCorModel<unsigned char>;
