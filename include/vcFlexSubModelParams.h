// Per-sub-model search parameters and results, for both pattern-location engines.
//
// The FlexAlign tool handles sub-model parameters and results only through the three abstract
// bases below; the sub-model tool picks its engine from the dynamic type of the parameters.
// All three bases are persistent and reference counted, so they travel in vcPtrHandle and can
// be archived through a base reference (the concrete class comes back on loading).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "vcDofData.h"
#include "vcGeorapidDOF.h"

class vcArchive;
class vcFlexSubModel;
class vcGraphicList;
class vcColor;
class vc_SubModelTool;
class vcGFAlignResult;
class vc_SubModelCorTrainParams;
class vc_SubModelCorRunParams;
class vc_SubModelGfndRunParams;

// DOF enums shared by every sub-model parameter class. Each DOF is one bit, so a set of DOFs is
// a bit mask, and each value is also the DOF's key in a vc_DofData table.
class vcFlexSubModelParamsDefs {
 public:
  enum StandardDOF { eAngle = 1, eUniformScale = 2, eXScale = 4, eYScale = 8 };
  enum AdvancedDOF { eRotation = 1, eScale = 2, eSkew = 4, eAspect = 8 };
  enum XYUncertaintyMode { eElliptical = 1, eRectangular = 2 };
  // The pattern-location engine a parameter class steers.
  enum Engine { eNoEngine = 0, eCorrelationEngine = 1, eGeofindEngine = 2 };

  vcFlexSubModelParamsDefs& operator=(const vcFlexSubModelParamsDefs&) = default;
};

// The search zones of one sub-model's run parameters as callers that handle either engine read
// them: the DOF set their bits name, the bits enabled, and each zone's ends relative to the
// start pose (degrees for angles and skew, offsets from 1 for scale-like DOFs), index i for the
// DOF of bit 1 << i.
struct vc_SubModelZones {
  // eCustom: a caller-made Geofind DOF list, whose zones nothing outside the engine can follow.
  enum Set { eNone = 0, eStandard = 1, eAdvanced = 2, eCustom = 3 };
  Set set = eNone;
  unsigned long enabled = 0;
  double low[4] = {0.0, 0.0, 0.0, 0.0};
  double high[4] = {0.0, 0.0, 0.0, 0.0};

  // Ranges a search window or a prediction can follow: those of the standard or advanced set.
  bool hasRanges() const { return set == eStandard || set == eAdvanced; }
  // The angle zone (the standard set's angle, the advanced set's rotation: bit 1 of either),
  // when it is searched.
  bool angle(double& lo, double& hi) const {
    if (!hasRanges() || !(enabled & 1ul)) return false;
    lo = low[0], hi = high[0];
    return true;
  }
};

// ---------------------------------------------------------------------------------------------
// Bases

class vcFlexSubModelTrainParams : public vcRepBase, public virtual vcPersistent {
 public:
  ~vcFlexSubModelTrainParams() override = default;
  virtual vcPtrHandle<vcFlexSubModelTrainParams> clone() const = 0;
  // Same concrete type and equal fields.
  virtual bool equal(const vcFlexSubModelTrainParams& other) const = 0;
  virtual std::string toDebugString() const { return std::string(); }
  // The engine these parameters train; the sub-model tool trains the one named here.
  virtual vcFlexSubModelParamsDefs::Engine engine() const {
    return vcFlexSubModelParamsDefs::eNoEngine;
  }

  // Nothing to compare at this level.
  bool operator==(const vcFlexSubModelTrainParams&) const { return true; }
  void dispatchSerialize(vcArchive& ar) override;

  // Nothing to copy at this level.
  vcFlexSubModelTrainParams(const vcFlexSubModelTrainParams& o) : vcPersistent(o), vcRepBase(o) {}
  vcFlexSubModelTrainParams& operator=(const vcFlexSubModelTrainParams&) { return *this; }

 protected:
  vcFlexSubModelTrainParams() = default;
  void serialize_(vcArchive& ar, unsigned char version);
};

class vcFlexSubModelRunParams : public vcRepBase, public virtual vcPersistent {
 public:
  ~vcFlexSubModelRunParams() override = default;
  virtual vcPtrHandle<vcFlexSubModelRunParams> clone() const = 0;
  virtual bool equal(const vcFlexSubModelRunParams& other) const = 0;
  // The five lines of this level; the concrete classes append their own.
  virtual std::string toDebugString() const;

  // The engine these parameters steer, and the search settings both engines share, for the
  // callers that handle either kind (a flexible part's run, the sub-model tool's window).
  // Parameters of no engine have no uncertainty and no zones, and refuse to be given any
  // (vcFlexAlignDefs::NotImplemented).
  virtual vcFlexSubModelParamsDefs::Engine engine() const {
    return vcFlexSubModelParamsDefs::eNoEngine;
  }
  virtual double xUncertainty() const { return 0.0; }
  virtual double yUncertainty() const { return 0.0; }
  virtual void xyUncertainty(double x, double y);
  virtual vcFlexSubModelParamsDefs::XYUncertaintyMode xyUncertaintyMode() const {
    return vcFlexSubModelParamsDefs::eElliptical;
  }
  virtual unsigned long zoneEnable() const { return 0; }
  virtual void zoneEnable(unsigned long mask);
  virtual vc_SubModelZones searchZones() const { return vc_SubModelZones(); }
  // Sets the relative zone of `dof` in the parameters' own DOF set, as zoneRelStandard or
  // zoneRelAdvanced does (with their checks).
  virtual void searchZone(long dof, double low, double high);
  // Widens the zone of `dof` by the relative range [low, high] as vc_DofData::expandRelRange
  // does (for the sub-model tool, which widens the zones by the allowed distortion).
  virtual void expandSearchZone(long dof, double low, double high);

  double acceptThreshold() const { return acceptThreshold_; }
  // 0 <= t <= 1.
  void acceptThreshold(double t);
  double distortionRate() const { return distortionRate_; }
  // r >= 0.
  void distortionRate(double r);
  bool useForFinalFit() const { return useForFinalFit_; }
  void useForFinalFit(bool v);
  bool useForDeformationField() const { return useForDeformationField_; }
  void useForDeformationField(bool v);
  bool required() const { return required_; }
  void required(bool v);

  // The six fields of this level, doubles compared exactly.
  bool operator==(const vcFlexSubModelRunParams& o) const;
  void dispatchSerialize(vcArchive& ar) override;

  // Copy the six fields of this level.
  vcFlexSubModelRunParams(const vcFlexSubModelRunParams& o) : vcPersistent(o), vcRepBase(o) {
    assign_(o);
  }
  vcFlexSubModelRunParams& operator=(const vcFlexSubModelRunParams& o) {
    if (this != &o) assign_(o);
    return *this;
  }

 protected:
  vcFlexSubModelRunParams() = default;
  void assign_(const vcFlexSubModelRunParams& o);
  void serialize_(vcArchive& ar, unsigned char version);
  // Number of candidates asked of the engine; only the sub-model tool reads it.
  long numToFind() const { return numToFind_; }
  friend class vc_SubModelTool;

 private:
  long numToFind_ = 1000;
  double acceptThreshold_ = 0.5;
  double distortionRate_ = 0.0;
  bool useForFinalFit_ = true;
  bool useForDeformationField_ = true;
  bool required_ = false;
};

class vcFlexSubModelResult : public vcRepBase, public virtual vcPersistent {
 public:
  ~vcFlexSubModelResult() override = default;
  virtual vcPtrHandle<vcFlexSubModelResult> clone() const = 0;
  // True when `other` is the same instance as this one, by the engine's own overlap rule.
  virtual bool isOverlapping(const vcFlexSubModel& subModel, const vcFlexSubModelResult& other,
                             const vcFlexSubModelRunParams& params) const = 0;
  // True when this result's pose lies inside the DOF ranges and translation uncertainty that
  // `params` allow around `expectedPose` (client from sub-model, like pose()).
  virtual bool isWithinDofUncertainty(const vcFlexSubModel& subModel,
                                      const vc2XformBase& expectedPose,
                                      const vcFlexSubModelRunParams& params) const = 0;
  virtual std::string toDebugString() const;
  // The engine that found this result.
  virtual vcFlexSubModelParamsDefs::Engine engine() const {
    return vcFlexSubModelParamsDefs::eNoEngine;
  }
  // Draws what the engine kept of its match, when it kept anything (a Geofind result whose run
  // saved the match information); nothing at this level.
  virtual void drawMatch(vcGraphicList& list) const {}

  bool accepted() const { return accepted_; }
  double score() const { return score_; }
  const vcPelRect& imageRegion() const { return imageRegion_; }
  const vcAffineRectangle& matchRegion() const { return matchRegion_; }
  // Client from sub-model, as found. Throws vcBadPointer when empty.
  const vc2XformBase& pose() const { return *pose_; }
  // Arrangement from sub-model for this instance. Throws vcBadPointer when empty.
  const vc2XformBase& arrangementFromSubModel() const { return *arrangementFromSubModel_; }
  const vcPtrHandle_const<vc2XformBase>& poseHandle() const { return pose_; }
  const vcPtrHandle_const<vc2XformBase>& arrangementFromSubModelHandle() const {
    return arrangementFromSubModel_;
  }
  // The pose's image of the sub-model origin.
  vcVector<2> location() const;
  // Rotation, x and y scale of the pose's linear approximation at the origin.
  vcDegree angle() const;
  double xScale() const;
  double yScale() const;

  // Uncertainty of the found pose, from the engine's fit: the covariance of location() in
  // client units squared, the 1-sigma of angle() in degrees (0 when the run did not search
  // the angle), and the direction (unit, client) along which the position is least fixed.
  // positionWeak(): the edges fix the position along that direction with less than a tenth of
  // the information they give across it (a bar, a text line), so clutter can slide it there.
  // A result that carries no uncertainty (an older archive) has a zero covariance.
  const vcMatrix<2>& positionCovariance() const { return positionCov_; }
  double angleSigma() const { return angleSigma_; }
  const vcVector<2>& weakDirection() const { return weakDirection_; }
  bool positionWeak() const { return positionWeak_; }
  // The 1-sigma ellipse of positionCovariance(): semi-axes (client units) and the major axis'
  // angle in degrees (counter-clockwise from x, in -90..90).
  struct Ellipse {
    double major = 0.0, minor = 0.0, angle = 0.0;
  };
  Ellipse positionEllipse() const;
  // How far the found angle is the piece's own, from its trained rotational symmetry: 1 it is;
  // 0 the piece is round and has none, so the angle is the one the other pieces predict; n > 1
  // it is defined only modulo 360/n degrees and is the turn of those nearest the prediction.
  long angleSymmetry() const { return angleSymmetry_; }

  // Flag 1: the sub-model under the found pose (first drawing mode); flag 2: the label and the
  // sub-model in its second drawing mode.
  void draw(vcGraphicList& list, const vcFlexSubModel& subModel, const vc2XformBase& xform,
            unsigned long flags, const vcColor& color, const std::string& label) const;

  // Written by the sub-model tool (and FlexAlign's final fit) while a result is being built;
  // a result is only read once it has been handed out.
  void accepted(bool v);
  void score(double v);
  void imageRegion(const vcPelRect& r);
  void matchRegion(const vcAffineRectangle& r);
  // The handles are stored as given (callers hand over fresh transforms).
  void pose(const vcPtrHandle_const<vc2XformBase>& p);
  void arrangementFromSubModel(const vcPtrHandle_const<vc2XformBase>& p);
  // The weak direction follows from the covariance (its longest axis).
  void uncertainty(const vcMatrix<2>& positionCov, double angleSigma, bool positionWeak);
  // Throws vcFlexAlignDefs::BadParams for a negative order.
  void angleSymmetry(long n);

  void dispatchSerialize(vcArchive& ar) override;

  // Deep: each transform is cloned, so a copy never shares one with its source.
  vcFlexSubModelResult(const vcFlexSubModelResult& o);
  vcFlexSubModelResult& operator=(const vcFlexSubModelResult& o);

 protected:
  vcFlexSubModelResult();
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  bool accepted_ = false;
  double score_ = 0.0;
  vcPelRect imageRegion_;
  vcAffineRectangle matchRegion_;
  vcPtrHandle_const<vc2XformBase> pose_;
  vcPtrHandle_const<vc2XformBase> arrangementFromSubModel_;
  vcMatrix<2> positionCov_{0.0, 0.0, 0.0, 0.0};
  double angleSigma_ = 0.0;
  vcVector<2> weakDirection_{1.0, 0.0};
  bool positionWeak_ = false;
  long angleSymmetry_ = 1;
};

// What a sub-model tool run saw beyond the results it kept: whether it could search at all,
// the window it meant to search, and the best candidate the engine reported under the accept
// threshold. It describes one run only: a copy or an archive of a result set does not carry it.
struct vc_SubModelSearchNote {
  enum Outcome { eSearched = 0, eWindowOutsideImage = 1, eWindowTooSmall = 2 };
  Outcome outcome = eSearched;
  // The search window before it was clipped to the image, in image pixels; null when the
  // whole image was searched.
  vcPelRect window;
  // The best score the engine reported under the accept threshold, -1 when none.
  double bestRejected = -1.0;
};

// What one run of a sub-model tool hands back: the pose it started from and the instances the
// engine reported, in engine order. Archived by the free operator|| below.
class vc_SubModelResultSet {
 public:
  vc_SubModelResultSet();
  // A copy shares the start pose and starts with no results.
  vc_SubModelResultSet(const vc_SubModelResultSet& o);
  vc_SubModelResultSet& operator=(const vc_SubModelResultSet& o);

  // Throws vcBadPointer when empty.
  const vc2XformBase& startPose() const { return *startPose_; }
  void startPose(const vcPtrHandle<vc2XformBase>& p) { startPose_ = p; }
  long numFound() const { return static_cast<long>(results_.size()); }
  // The handles share the result objects.
  std::vector<vcPtrHandle<vcFlexSubModelResult>> results() const { return results_; }
  void addResult(const vcPtrHandle<vcFlexSubModelResult>& r) { results_.push_back(r); }
  void clearResults() { results_.clear(); }
  // Why the last run found what it found (not copied, not archived).
  const vc_SubModelSearchNote& note() const { return note_; }
  void note(const vc_SubModelSearchNote& n) { note_ = n; }

 private:
  friend vcArchive& operator||(vcArchive& ar, vc_SubModelResultSet& set);
  vcPtrHandle<vc2XformBase> startPose_;
  std::vector<vcPtrHandle<vcFlexSubModelResult>> results_;
  vc_SubModelSearchNote note_;
};

// Version 1 is written; version 0 (which carried one more double) is still read.
vcArchive& operator||(vcArchive& ar, vc_SubModelResultSet& set);

// privData() of an object built as the public class hands out a view: a private-class object
// owned by the public one. The view's private settings read and write the owner; its public
// accessors are a snapshot of the owner as of the last privData() call or private setter, so set
// public settings on the object itself (a public setter called on the view changes only the
// view). Neither link is copied with its object, so a copy builds its own view and never writes
// to another owner.
template <class Priv>
class vc_PrivView {
 public:
  vc_PrivView() = default;
  vc_PrivView(const vc_PrivView&) {}
  vc_PrivView& operator=(const vc_PrivView&) { return *this; }
  std::unique_ptr<Priv> view;
};

template <class Pub>
class vc_PrivOwner {
 public:
  vc_PrivOwner() = default;
  vc_PrivOwner(const vc_PrivOwner&) {}
  vc_PrivOwner& operator=(const vc_PrivOwner&) { return *this; }
  Pub* owner = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Correlation engine kind. The engine handles only the angle and the uniform scale; the x and
// y scale entries of its tables exist but every accessor refuses them as not implemented.

class vcFlexSubModelCorDefs {
 public:
  enum Accuracy { eCoarseAlign = 1, eFineAlign = 2 };
};

class vcFlexSubModelCorTrainParams : public vcFlexSubModelTrainParams {
 public:
  vcFlexSubModelCorTrainParams();
  vcFlexSubModelCorTrainParams(const vcFlexSubModelCorTrainParams&) = default;
  vcFlexSubModelCorTrainParams& operator=(const vcFlexSubModelCorTrainParams&) = default;
  ~vcFlexSubModelCorTrainParams() override;

  vcPtrHandle<vcFlexSubModelTrainParams> clone() const override;
  bool equal(const vcFlexSubModelTrainParams& other) const override;
  std::string toDebugString() const override;
  bool operator==(const vcFlexSubModelCorTrainParams& o) const;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eCorrelationEngine;
  }

  // Which passes are trained: eCoarseAlign or eFineAlign (both together is not implemented).
  unsigned long accuracies() const { return accuracies_; }
  void accuracies(unsigned long a);
  // Model sampling, 1.0 to 25.5.
  double coarseGrainLimit() const { return coarseGrainLimit_; }
  void coarseGrainLimit(double g);
  // DOFs the model is trained to vary (bit mask of StandardDOF).
  unsigned long zoneAllowed() const;
  void zoneAllowed(unsigned long mask);
  // Half-width v of the trained range, stored as the offsets (-v, +v): angle v >= 0 (degrees),
  // uniform scale 0 <= v < 1.
  double zoneMaxRangeStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  void zoneMaxRangeStandard(vcFlexSubModelParamsDefs::StandardDOF dof, double v);

  const vc_DofData& dofData() const { return dof_; }
  vc_SubModelCorTrainParams& privData();
  const vc_SubModelCorTrainParams& privData() const;

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);
  // Step sizes of the coarse and fine passes (degrees for the angle, factors for scales).
  double coarseStep_(long dof) const;
  double fineStep_(long dof) const;
  void stepSizes_(long dof, double coarse, double fine);
  double zoneNominal_(long dof) const;
  void zoneNominal_(long dof, double n);

 private:
  std::vector<double> coarseSteps_;
  std::vector<double> fineSteps_;
  vc_DofData dof_;
  unsigned long accuracies_ = vcFlexSubModelCorDefs::eCoarseAlign;
  double coarseGrainLimit_ = 4.0;
  friend class vc_SubModelCorTrainParams;
  mutable vc_PrivView<vc_SubModelCorTrainParams> privView_;
};

class vcFlexSubModelCorRunParams : public vcFlexSubModelRunParams {
 public:
  vcFlexSubModelCorRunParams();
  vcFlexSubModelCorRunParams(const vcFlexSubModelCorRunParams& o);
  vcFlexSubModelCorRunParams& operator=(const vcFlexSubModelCorRunParams& o);
  ~vcFlexSubModelCorRunParams() override;

  vcPtrHandle<vcFlexSubModelRunParams> clone() const override;
  bool equal(const vcFlexSubModelRunParams& other) const override;
  std::string toDebugString() const override;
  bool operator==(const vcFlexSubModelCorRunParams& o) const;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eCorrelationEngine;
  }
  // The standard set, with the angle and the uniform scale only.
  vc_SubModelZones searchZones() const override;
  void searchZone(long dof, double low, double high) override;
  void expandSearchZone(long dof, double low, double high) override;

  // DOFs searched (bit mask of StandardDOF).
  unsigned long zoneEnable() const override;
  void zoneEnable(unsigned long mask) override;
  // Search range relative to the start pose: degrees for the angle, factor offsets for the
  // scale (low > -1, low <= high).
  double zoneLowRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  double zoneHighRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  void zoneRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof, double low, double high);
  // Largest difference at which two results are one: angle >= 0, scale >= 1.
  double zoneOverlapStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  void zoneOverlapStandard(vcFlexSubModelParamsDefs::StandardDOF dof, double v);
  double xUncertainty() const override { return xUncertainty_; }
  double yUncertainty() const override { return yUncertainty_; }
  void xyUncertainty(double x, double y) override;
  vcFlexSubModelParamsDefs::XYUncertaintyMode xyUncertaintyMode() const override {
    return xyUncertaintyMode_;
  }
  void xyUncertaintyMode(vcFlexSubModelParamsDefs::XYUncertaintyMode m);
  double xyOverlap() const { return xyOverlap_; }
  void xyOverlap(double v);
  const vcPelRect& partialMatch() const { return partialMatch_; }
  void partialMatch(const vcPelRect& r);

  const vc_DofData& dofData() const { return dof_; }
  // For the sub-model tool, which widens the ranges by the allowed distortion.
  vc_DofData& dofData() { return dof_; }
  vc_SubModelCorRunParams& privData();
  const vc_SubModelCorRunParams& privData() const;

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);
  double neighborAcceptThreshold_() const { return neighborAccept_; }
  void neighborAcceptThreshold_(double v);

 private:
  double neighborAccept_ = -2.0;
  vc_DofData dof_;
  double xUncertainty_ = 0.0;
  double yUncertainty_ = 0.0;
  double xyOverlap_ = 0.5;
  vcPelRect partialMatch_{0, 0, 1, 1};
  vcFlexSubModelParamsDefs::XYUncertaintyMode xyUncertaintyMode_ =
      vcFlexSubModelParamsDefs::eElliptical;
  friend class vc_SubModelCorRunParams;
  mutable vc_PrivView<vc_SubModelCorRunParams> privView_;
};

// Further settings of the correlation training, reached through privData().
class vc_SubModelCorTrainParams : public vcFlexSubModelCorTrainParams {
 public:
  vc_SubModelCorTrainParams() = default;
  vcPtrHandle<vcFlexSubModelTrainParams> clone() const override;

  // Only eAngle and eUniformScale; both steps > 0 and fine < coarse.
  double coarseStep(vcFlexSubModelParamsDefs::StandardDOF dof) const {
    return src_().coarseStep_(dof);
  }
  double fineStep(vcFlexSubModelParamsDefs::StandardDOF dof) const { return src_().fineStep_(dof); }
  void stepSizes(vcFlexSubModelParamsDefs::StandardDOF dof, double coarse, double fine) {
    dst_().stepSizes_(dof, coarse, fine);
    sync_();
  }
  // Centre of the trained zone; the uniform scale's must be > 0.
  double zoneNominal(vcFlexSubModelParamsDefs::StandardDOF dof) const {
    return src_().zoneNominal_(dof);
  }
  void zoneNominal(vcFlexSubModelParamsDefs::StandardDOF dof, double n) {
    dst_().zoneNominal_(dof, n);
    sync_();
  }

  vc_SubModelCorTrainParams& privData() { return *this; }
  const vc_SubModelCorTrainParams& privData() const { return *this; }

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  friend class vcFlexSubModelCorTrainParams;
  const vcFlexSubModelCorTrainParams& src_() const {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  vcFlexSubModelCorTrainParams& dst_() {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  // Refreshes the view's copy of the public settings, which is current as of the last
  // privData() call or private setter.
  void sync_() {
    if (owner_.owner) vcFlexSubModelCorTrainParams::operator=(*owner_.owner);
  }
  vc_PrivOwner<vcFlexSubModelCorTrainParams> owner_;
};

// Further settings of the correlation run, reached through privData().
class vc_SubModelCorRunParams : public vcFlexSubModelCorRunParams {
 public:
  vc_SubModelCorRunParams() = default;
  vcPtrHandle<vcFlexSubModelRunParams> clone() const override;

  // Threshold of the engine's neighbourhood test (-2 by default: no test).
  double neighborAcceptThreshold() const { return src_().neighborAcceptThreshold_(); }
  void neighborAcceptThreshold(double v) {
    dst_().neighborAcceptThreshold_(v);
    sync_();
  }

  vc_SubModelCorRunParams& privData() { return *this; }
  const vc_SubModelCorRunParams& privData() const { return *this; }

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  friend class vcFlexSubModelCorRunParams;
  const vcFlexSubModelCorRunParams& src_() const {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  vcFlexSubModelCorRunParams& dst_() {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  void sync_() {
    if (owner_.owner) vcFlexSubModelCorRunParams::operator=(*owner_.owner);
  }
  vc_PrivOwner<vcFlexSubModelCorRunParams> owner_;
};

class vcFlexSubModelCorResult : public vcFlexSubModelResult {
 public:
  vcFlexSubModelCorResult() = default;
  vcFlexSubModelCorResult(const vcFlexSubModelCorResult&) = default;
  vcFlexSubModelCorResult& operator=(const vcFlexSubModelCorResult&) = default;
  ~vcFlexSubModelCorResult() override = default;

  vcPtrHandle<vcFlexSubModelResult> clone() const override;
  // `other` must be a correlation result and `params` correlation run parameters, else
  // vcFlexAlignDefs::InternalError.
  bool isOverlapping(const vcFlexSubModel& subModel, const vcFlexSubModelResult& other,
                     const vcFlexSubModelRunParams& params) const override;
  // The same decision for a sub-model given by its extent (encloseRect) and origin inverse.
  bool isOverlapping(const vcRect& extent, const vc2XformBase& originInverse,
                     const vcFlexSubModelResult& other,
                     const vcFlexSubModelRunParams& params) const;
  bool isWithinDofUncertainty(const vcFlexSubModel& subModel, const vc2XformBase& expectedPose,
                              const vcFlexSubModelRunParams& params) const override;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eCorrelationEngine;
  }

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);
};

// ---------------------------------------------------------------------------------------------
// Geofind engine kind.

class vcFlexSubModelGfndDefs {
 public:
  enum Algorithm { eGeorapid = 1, eGeofind = 2 };
  enum DOFMode { eStandard = 1, eAdvanced = 2, eCustom = 3 };
};

class vcFlexSubModelGfndTrainParams : public vcFlexSubModelTrainParams {
 public:
  vcFlexSubModelGfndTrainParams() = default;
  vcFlexSubModelGfndTrainParams(const vcFlexSubModelGfndTrainParams&) = default;
  vcFlexSubModelGfndTrainParams& operator=(const vcFlexSubModelGfndTrainParams&) = default;
  ~vcFlexSubModelGfndTrainParams() override = default;

  vcPtrHandle<vcFlexSubModelTrainParams> clone() const override;
  bool equal(const vcFlexSubModelTrainParams& other) const override;
  std::string toDebugString() const override;
  bool operator==(const vcFlexSubModelGfndTrainParams& o) const;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eGeofindEngine;
  }

  bool ignorePolarity() const { return ignorePolarity_; }
  void ignorePolarity(bool v);
  bool autoSelectGrainLimits() const { return autoSelectGrainLimits_; }
  void autoSelectGrainLimits(bool v);
  // >= 0.
  double elasticity() const { return elasticity_; }
  void elasticity(double e);
  float coarseGrainLimit() const { return static_cast<float>(coarseGrainLimit_); }
  float fineGrainLimit() const { return static_cast<float>(fineGrainLimit_); }
  // Both in [1.0, 25.5] and fine <= coarse.
  void grainLimits(float coarse, float fine);
  // Bit mask of Algorithm: 1, 2 or 3.
  unsigned long algorithms() const { return algorithms_; }
  void algorithms(unsigned long a);
  // Engine customisation text.
  const std::string& customizeString() const { return customizeString_; }
  void customize(const std::string& text);
  // Reads the customisation text from a parameter-pack file (lines of `key = value`, blank
  // lines and `#` comments allowed). A missing, unreadable or malformed file throws and leaves
  // the text as it was.
  void customizeFromFile(const std::string& path);

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  bool ignorePolarity_ = false;
  bool autoSelectGrainLimits_ = true;
  double elasticity_ = 0.0;
  double coarseGrainLimit_ = 4.0;
  double fineGrainLimit_ = 1.0;
  unsigned long algorithms_ = vcFlexSubModelGfndDefs::eGeorapid;
  std::string customizeString_;
};

class vcFlexSubModelGfndRunParams : public vcFlexSubModelRunParams {
 public:
  vcFlexSubModelGfndRunParams();
  vcFlexSubModelGfndRunParams(const vcFlexSubModelGfndRunParams& o);
  vcFlexSubModelGfndRunParams& operator=(const vcFlexSubModelGfndRunParams& o);
  ~vcFlexSubModelGfndRunParams() override;

  vcPtrHandle<vcFlexSubModelRunParams> clone() const override;
  bool equal(const vcFlexSubModelRunParams& other) const override;
  std::string toDebugString() const override;
  bool operator==(const vcFlexSubModelGfndRunParams& o) const;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eGeofindEngine;
  }
  // The set of the DOF mode; a custom mode's zones are eCustom with none enabled.
  vc_SubModelZones searchZones() const override;
  // Through zoneRelStandard or zoneRelAdvanced by the DOF mode (WrongDOFMode in custom mode).
  void searchZone(long dof, double low, double high) override;
  void expandSearchZone(long dof, double low, double high) override;

  // >= 0.
  double contrastThreshold() const { return contrastThreshold_; }
  void contrastThreshold(double v);
  double xUncertainty() const override { return xUncertainty_; }
  double yUncertainty() const override { return yUncertainty_; }
  void xyUncertainty(double x, double y) override;
  // In [0, 1].
  double xyOverlap() const { return xyOverlap_; }
  void xyOverlap(double v);
  bool scoreUsingClutter() const { return scoreUsingClutter_; }
  void scoreUsingClutter(bool v);
  bool saveMatchInfo() const { return saveMatchInfo_; }
  void saveMatchInfo(bool v);
  vcFlexSubModelGfndDefs::Algorithm algorithm() const { return algorithm_; }
  void algorithm(vcFlexSubModelGfndDefs::Algorithm a);
  vcFlexSubModelParamsDefs::XYUncertaintyMode xyUncertaintyMode() const override {
    return xyUncertaintyMode_;
  }
  void xyUncertaintyMode(vcFlexSubModelParamsDefs::XYUncertaintyMode m);

  // Standard or advanced here (custom through privData()). Switching to another mode discards
  // the DOF list and table and builds the new mode's defaults.
  vcFlexSubModelGfndDefs::DOFMode dofMode() const { return dofMode_; }
  void dofMode(vcFlexSubModelGfndDefs::DOFMode m);

  // Standard mode zones, relative to the start pose (WrongDOFMode in another mode).
  double zoneLowRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  double zoneHighRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  void zoneRelStandard(vcFlexSubModelParamsDefs::StandardDOF dof, double low, double high);
  double zoneOverlapStandard(vcFlexSubModelParamsDefs::StandardDOF dof) const;
  void zoneOverlapStandard(vcFlexSubModelParamsDefs::StandardDOF dof, double v);
  // Advanced mode zones.
  double zoneLowRelAdvanced(vcFlexSubModelParamsDefs::AdvancedDOF dof) const;
  double zoneHighRelAdvanced(vcFlexSubModelParamsDefs::AdvancedDOF dof) const;
  void zoneRelAdvanced(vcFlexSubModelParamsDefs::AdvancedDOF dof, double low, double high);
  double zoneOverlapAdvanced(vcFlexSubModelParamsDefs::AdvancedDOF dof) const;
  void zoneOverlapAdvanced(vcFlexSubModelParamsDefs::AdvancedDOF dof, double v);
  // Enable flags of the table, in every mode.
  unsigned long zoneEnable() const override;
  void zoneEnable(unsigned long mask) override;

  const vcGeorapidDOFList& dofList() const { return dofList_; }
  const vc_DofData& dofData() const { return dof_; }
  // For the sub-model tool, which widens the ranges by the allowed distortion.
  vc_DofData& dofData() { return dof_; }
  vc_SubModelGfndRunParams& privData();
  const vc_SubModelGfndRunParams& privData() const;

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);
  void setDofMode_(vcFlexSubModelGfndDefs::DOFMode m);
  void customDofList_(const vcGeorapidDOFList& list);
  // Custom mode: requires an initialised list and one valid key.
  void checkCustom_(long key) const;
  // Throws WrongDOFMode unless in `mode`, then BadParams "Unknown DOF" unless `dof` is one bit
  // of the table.
  void checkZone_(vcFlexSubModelGfndDefs::DOFMode mode, long dof) const;

  vcGeorapidDOFList dofList_;
  vc_DofData dof_;

 private:
  void relZone_(vcFlexSubModelGfndDefs::DOFMode mode, long dof, double low, double high);
  void overlap_(vcFlexSubModelGfndDefs::DOFMode mode, long dof, double v, const char* msg);

  double contrastThreshold_ = 10.0;
  double xUncertainty_ = 0.0;
  double yUncertainty_ = 0.0;
  double xyOverlap_ = 0.8;
  bool scoreUsingClutter_ = true;
  bool saveMatchInfo_ = false;
  vcFlexSubModelGfndDefs::Algorithm algorithm_ = vcFlexSubModelGfndDefs::eGeorapid;
  vcFlexSubModelParamsDefs::XYUncertaintyMode xyUncertaintyMode_ =
      vcFlexSubModelParamsDefs::eElliptical;
  vcFlexSubModelGfndDefs::DOFMode dofMode_ = vcFlexSubModelGfndDefs::eStandard;
  friend class vc_SubModelGfndRunParams;
  mutable vc_PrivView<vc_SubModelGfndRunParams> privView_;
};

// Adds the custom DOF mode, in which the caller supplies the engine DOF list.
class vc_SubModelGfndRunParams : public vcFlexSubModelGfndRunParams {
 public:
  vc_SubModelGfndRunParams() = default;
  vcPtrHandle<vcFlexSubModelRunParams> clone() const override;

  // Also accepts eCustom, which starts without a list.
  void dofMode(vcFlexSubModelGfndDefs::DOFMode m);
  using vcFlexSubModelGfndRunParams::dofMode;
  // Custom mode only: copies the list and builds a table with one entry per DOF, each additive,
  // disabled, range [0, 0], overlap 1. Keys are 1, 2, 4, ... from the list's last (innermost)
  // DOF up to its first, the order in which the table configures a list.
  void customDofList(const vcGeorapidDOFList& list);
  // Absolute range and overlap of a custom DOF.
  double zoneLow(long key) const;
  double zoneHigh(long key) const;
  void zone(long key, double low, double high);
  double zoneOverlapCustom(long key) const;
  void zoneOverlapCustom(long key, double v);

  vc_SubModelGfndRunParams& privData() { return *this; }
  const vc_SubModelGfndRunParams& privData() const { return *this; }

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  friend class vcFlexSubModelGfndRunParams;
  const vcFlexSubModelGfndRunParams& src_() const {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  vcFlexSubModelGfndRunParams& dst_() {
    if (owner_.owner) return *owner_.owner;
    return *this;
  }
  void sync_() {
    if (owner_.owner) vcFlexSubModelGfndRunParams::operator=(*owner_.owner);
  }
  vc_PrivOwner<vcFlexSubModelGfndRunParams> owner_;
};

class vcFlexSubModelGfndResult : public vcFlexSubModelResult {
 public:
  vcFlexSubModelGfndResult() = default;
  vcFlexSubModelGfndResult(const vcFlexSubModelGfndResult& o);
  vcFlexSubModelGfndResult& operator=(const vcFlexSubModelGfndResult& o);
  ~vcFlexSubModelGfndResult() override;

  vcPtrHandle<vcFlexSubModelResult> clone() const override;
  // `other` must be a Geofind result and `params` Geofind run parameters, else
  // vcFlexAlignDefs::InternalError.
  bool isOverlapping(const vcFlexSubModel& subModel, const vcFlexSubModelResult& other,
                     const vcFlexSubModelRunParams& params) const override;
  // The same decision for a sub-model given by its extent (encloseRect) and origin inverse.
  bool isOverlapping(const vcRect& extent, const vc2XformBase& originInverse,
                     const vcFlexSubModelResult& other,
                     const vcFlexSubModelRunParams& params) const;
  bool isWithinDofUncertainty(const vcFlexSubModel& subModel, const vc2XformBase& expectedPose,
                              const vcFlexSubModelRunParams& params) const override;
  std::string toDebugString() const override;
  vcFlexSubModelParamsDefs::Engine engine() const override {
    return vcFlexSubModelParamsDefs::eGeofindEngine;
  }

  double contrast() const { return contrast_; }
  double fitError() const { return fitError_; }
  double coverage() const { return coverage_; }
  double clutter() const { return clutter_; }
  // The found DOF values, one per DOF of the run parameters' list, in list order.
  const std::vector<double>& dofValues() const { return dofValues_; }
  // The engine's own result, kept only when the run asked to save match information.
  const vcGFAlignResult* matchInfo() const { return matchInfo_; }
  // Draws the kept engine result (see vcGFAlignResult::draw); nothing without one.
  void drawMatch(vcGraphicList& list) const override;

  // Written by the sub-model tool while the result is built.
  void measures(double contrast, double fitError, double coverage, double clutter);
  void dofValues(const std::vector<double>& v);
  // Copies the engine result (null drops any kept one).
  void matchInfo(const vcGFAlignResult* r);

  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make();

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  double contrast_ = 0.0;
  double fitError_ = 0.0;
  double coverage_ = 0.0;
  double clutter_ = 0.0;
  vcGFAlignResult* matchInfo_ = nullptr;  // owned
  std::vector<double> dofValues_;
};
