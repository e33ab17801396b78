// The FlexAlign tool: a part described as an arrangement of sub-models is trained once into one
// sub-model tool per distinct sub-model and training parameter set, and later located in images
// with every piece found.
//
// Sections: train parameters, run parameters, alignment results, result tree, the pattern. How
// a run is carried out lies in flexalign/, not here.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcVector.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcDofData.h"
#include "vcFlexErrors.h"
#include "vcFlexLimits.h"
#include "vcFlexModels.h"
#include "vcFlexRectify.h"
#include "vcFlexSubModelParams.h"
#include "vcGeorapidDOF.h"
#include "vcSubModelTool.h"

class vcArchive;
class vcGraphicList;

// ---------------------------------------------------------------------------------------------
// Train parameters
// ---------------------------------------------------------------------------------------------

// One standard parameter set for every sub-model instance and custom sets for chosen instance
// indices, as both the FlexAlign train and run parameters hold them. Every set handed in is
// cloned; copies clone again, so no set is ever shared with a caller.
template <class P>
class vc_InstanceParamSets {
 public:
  using Handle = vcPtrHandle_const<P>;

  explicit vc_InstanceParamSets(const P& standard) : standard_(standard.clone()) {}
  vc_InstanceParamSets(const vc_InstanceParamSets& o) { *this = o; }
  vc_InstanceParamSets& operator=(const vc_InstanceParamSets& o) {
    if (this == &o) return *this;
    Handle standard(o.standard().clone());
    std::vector<Handle> custom;
    custom.reserve(o.custom_.size());
    for (const Handle& h : o.custom_) custom.push_back(Handle((*h).clone()));
    standard_ = standard;
    custom_ = std::move(custom);
    indices_ = o.indices_;
    return *this;
  }

  // vcBadPointer when the standard handle is empty.
  const P& standard() const { return *standard_; }
  void standard(const P& p) { standard_ = Handle(p.clone()); }
  // index >= 0 (BadIndex); replaces the entry of `index` or appends one.
  void custom(long index, const P& p) {
    if (index < 0) throw vcFlexAlignDefs::BadIndex();
    Handle h(p.clone());
    const long at = find_(index);
    if (at >= 0) {
      custom_[static_cast<std::size_t>(at)] = h;
    } else {
      custom_.push_back(h);
      indices_.push_back(index);
    }
  }
  // BadIndex for a negative index or one without a custom entry.
  const P& custom(long index) const {
    const long at = index < 0 ? -1 : find_(index);
    if (at < 0) throw vcFlexAlignDefs::BadIndex();
    return *custom_[static_cast<std::size_t>(at)];
  }
  // The custom entry of `index` if there is one, else the standard set.
  const P& instance(long index) const {
    if (standard_.isNull()) throw vcFlexAlignDefs::InternalError();
    if (index < 0) throw vcFlexAlignDefs::BadIndex();
    const long at = find_(index);
    return at >= 0 ? *custom_[static_cast<std::size_t>(at)] : *standard_;
  }
  // Removes the custom entry of `index`, if any (BadIndex for a negative index).
  void restore(long index) {
    if (index < 0) throw vcFlexAlignDefs::BadIndex();
    const long at = find_(index);
    if (at < 0) return;
    custom_.erase(custom_.begin() + at);
    indices_.erase(indices_.begin() + at);
  }
  const std::vector<long>& indices() const { return indices_; }

  // Index lists, list lengths, the standard sets and each custom set with the one at the same
  // place, by their virtual equality.
  bool operator==(const vc_InstanceParamSets& o) const {
    const P& a = *standard_;
    const P& b = *o.standard_;
    if (indices_ != o.indices_ || custom_.size() != o.custom_.size() || !a.equal(b)) return false;
    for (std::size_t i = 0; i < custom_.size(); ++i)
      if (!custom_[i]->equal(*o.custom_[i])) return false;
    return true;
  }

  // The standard set, the index list and the custom list; loading checks that every handle
  // holds a set and the two lists match, and changes nothing on failure.
  void exchange(vcArchive& ar);

 private:
  long find_(long index) const {
    for (std::size_t i = 0; i < indices_.size(); ++i)
      if (indices_[i] == index) return static_cast<long>(i);
    return -1;
  }

  Handle standard_;
  std::vector<Handle> custom_;
  std::vector<long> indices_;
};

class vc_FlexAlignTrainParams;

// One standard sub-model train parameter set for every instance, and custom sets for chosen
// instance indices. Every set handed in is cloned; copies clone again.
class vcFlexAlignTrainParams {
 public:
  explicit vcFlexAlignTrainParams(
      const vcFlexSubModelTrainParams& standard = vcFlexSubModelCorTrainParams());
  vcFlexAlignTrainParams(const vcFlexAlignTrainParams& o);
  vcFlexAlignTrainParams& operator=(const vcFlexAlignTrainParams& o);
  virtual ~vcFlexAlignTrainParams();

  // vcBadPointer when the standard handle is empty (only a damaged archive leaves it so).
  const vcFlexSubModelTrainParams& standard() const;
  void standard(const vcFlexSubModelTrainParams& p);
  // index >= 0 (BadIndex); replaces the entry of `index` or appends one.
  void custom(long index, const vcFlexSubModelTrainParams& p);
  // BadIndex for a negative index or one without a custom entry.
  const vcFlexSubModelTrainParams& custom(long index) const;
  // The custom entry of `index` if there is one, else the standard set.
  const vcFlexSubModelTrainParams& subModelInstanceParams(long index) const;
  // Removes the custom entry of `index`, if any (BadIndex for a negative index).
  void restoreStandardParams(long index);
  // Indices with custom entries, in the order in which they were first set.
  const std::vector<long>& customSubModelInstanceIndices() const { return d_->indices(); }

  // Index vectors, list lengths, standard and custom sets compared in order.
  bool operator==(const vcFlexAlignTrainParams& o) const;
  bool operator!=(const vcFlexAlignTrainParams& o) const { return !(*this == o); }

  std::string toDebugString() const;

  // The same settings seen as the private class (which adds none): the object itself when it
  // was built as that class, else a view, owned by this object and valid as long as it lives,
  // that reads and writes this object's settings.
  vc_FlexAlignTrainParams& privData();
  const vc_FlexAlignTrainParams& privData() const;

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p);

 protected:
  using Sets = vc_InstanceParamSets<vcFlexSubModelTrainParams>;
  // A view of `shared` (privData()).
  explicit vcFlexAlignTrainParams(Sets* shared) : d_(shared) {}

 private:
  friend class vc_FlexAlignTrainParams;
  void assign_(const vcFlexAlignTrainParams& o);

  // Every setting: an object owns its own, the view privData() shares its owner's.
  std::unique_ptr<Sets> own_;
  Sets* d_ = nullptr;
  mutable std::unique_ptr<vc_FlexAlignTrainParams> view_;
};

vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p);

class vc_FlexAlignTrainParams : public vcFlexAlignTrainParams {
 public:
  vc_FlexAlignTrainParams() : vcFlexAlignTrainParams(vcFlexSubModelCorTrainParams()) {}
  vc_FlexAlignTrainParams(const vc_FlexAlignTrainParams&) = default;
  explicit vc_FlexAlignTrainParams(const vcFlexAlignTrainParams& o) : vcFlexAlignTrainParams(o) {}
  vc_FlexAlignTrainParams& operator=(const vc_FlexAlignTrainParams&) = default;
  ~vc_FlexAlignTrainParams() override = default;

  vc_FlexAlignTrainParams& privData() { return *this; }
  const vc_FlexAlignTrainParams& privData() const { return *this; }

 private:
  friend class vcFlexAlignTrainParams;
  struct ViewTag {};
  vc_FlexAlignTrainParams(ViewTag, Sets* shared) : vcFlexAlignTrainParams(shared) {}
};

// ---------------------------------------------------------------------------------------------
// Run parameters
// ---------------------------------------------------------------------------------------------

class vc_FlexAlignRunParams;
class vcFlexAlignPattern;
class vcFlexAlignResult;

// Settings of one run: how many results, the final fit, the strategy and order of the search,
// the translation uncertainty and the zones (the allowed range of each non-translation DOF of
// the arrangement pose around the start pose), and the sub-model run parameters (one standard
// set and per-instance custom sets, each cloned on the way in). Setters validate and change
// nothing when they throw.
//
// What a piece's own zones and uncertainty (its sub-model run parameters) are relative to:
// - eIndependentSubModels: every piece is searched around its pose predicted from the start
//   pose, in its own zones and uncertainty widened by the arrangement's (these settings).
// - eLocallyFixturedSubModels: the first piece found is searched that way; every further piece
//   around its pose predicted from the pieces already found on its branch, in its own zones
//   and uncertainty only (the arrangement's are not added). A candidate stopped at an end of
//   its angle zone is searched again with the zone widened by what the prediction carries (the
//   found pieces' own angle zones), and dropped when it stops there again. A Geofind piece with
//   no size zone of its own, in a part whose zones let the size vary, searches its size within
//   2 % of the prediction (the map between a few close pieces knows the part's size no
//   better), and never beyond the arrangement's zone. Once the walk ends, each piece found on
//   a result with at least three pieces is searched once more in its own zones, around its
//   pose as all the other found pieces predict it and at the size they give; a candidate
//   within 2 units of its first find replaces it (one more search per piece found).
class vcFlexAlignRunParams {
 public:
  using Defs = vcFlexAlignDefs;

  explicit vcFlexAlignRunParams(
      const vcFlexSubModelRunParams& standard = vcFlexSubModelCorRunParams());
  vcFlexAlignRunParams(const vcFlexAlignRunParams& o);
  vcFlexAlignRunParams& operator=(const vcFlexAlignRunParams& o);
  virtual ~vcFlexAlignRunParams();

  // ---- sub-model run parameters (as for the train parameters) ----
  const vcFlexSubModelRunParams& standard() const;
  void standard(const vcFlexSubModelRunParams& p);
  void custom(long index, const vcFlexSubModelRunParams& p);
  const vcFlexSubModelRunParams& custom(long index) const;
  const vcFlexSubModelRunParams& subModelInstanceParams(long index) const;
  void restoreStandardParams(long index);
  const std::vector<long>& customSubModelInstanceIndices() const { return d_->sets.indices(); }

  // ---- run settings ----
  long numToFind() const { return d_->numToFind; }
  void numToFind(long n);  // > 0
  Defs::FinalFitMode finalFitMode() const { return d_->finalFitMode; }
  void finalFitMode(Defs::FinalFitMode m);
  Defs::RunStrategy runStrategy() const { return d_->runStrategy; }
  void runStrategy(Defs::RunStrategy s);
  Defs::RunOrderMode runOrderMode() const { return d_->runOrderMode; }
  void runOrderMode(Defs::RunOrderMode m);
  Defs::XYUncertaintyMode xyUncertaintyMode() const { return d_->xyUncertaintyMode; }
  void xyUncertaintyMode(Defs::XYUncertaintyMode m);
  // Translation uncertainty of the start pose, in run-image client units; both from 0 to
  // kMaxUncertainty.
  static constexpr double kMaxUncertainty = vcFlexLimits::kMaxUncertainty;
  double xUncertainty() const { return d_->xUncertainty; }
  double yUncertainty() const { return d_->yUncertainty; }
  void xyUncertainty(double x, double y);
  // Two results are one when their boxes overlap by more than this fraction (0 to 1).
  double xyOverlap() const { return d_->xyOverlap; }
  void xyOverlap(double v);
  double acceptThreshold() const { return d_->acceptThreshold; }
  void acceptThreshold(double t);  // 0 to 1
  // ---- bounds of the search (what a run may cost, whatever the image) ----
  // Each search of an instance keeps at most maxCandidates() candidates (the best ones), and of
  // those only the ones scoring no more than candidateScoreMargin() below the best: with
  // look-alike pieces a window admits several, and every one kept multiplies the combinations
  // that follow. Defaults 4 and 0.15.
  long maxCandidates() const { return d_->maxCandidates; }
  void maxCandidates(long n);  // >= 1
  double candidateScoreMargin() const { return d_->candidateScoreMargin; }
  void candidateScoreMargin(double m);  // 0 to 1
  // The independent strategy keeps at most this many partial combinations as it adds each
  // instance (those that can still reach the highest scores); the locally fixtured one follows
  // at most this many branches to their end. Default 64.
  long maxCombinations() const { return d_->maxCombinations; }
  void maxCombinations(long n);  // >= 1
  // The locally fixtured strategy abandons a branch that missed this many groups in a row and
  // has missed at least as many as it found (a wrong early candidate puts every further
  // prediction in the wrong place); 0 never abandons. Default 3.
  long maxMisses() const { return d_->maxMisses; }
  void maxMisses(long n);  // >= 0
  // Seconds a run may take, checked before each sub-model search: past it the run throws
  // vcTimeout::Expired. 0 (the default) sets no limit.
  double timeout() const { return d_->timeout; }
  void timeout(double seconds);  // finite, >= 0
  // Threads a run may use, the caller's included: the independent strategy's searches, the
  // polish of the pieces and each Geofind search's candidates are spread over them. 0 (the
  // default) takes the hardware's count. Results are the same whatever the count; a run with
  // a diagnostic recorder uses one. How a run is carried out, not what it finds: neither
  // stored in archives nor compared by operator==.
  long threads() const { return d_->threads; }
  void threads(long n);  // 0 .. kMaxThreads
  static constexpr long kMaxThreads = vcFlexLimits::kMaxThreads;

  // Groups of instance positions searched in turn; no position may repeat. The flat form
  // makes each position a group of its own.
  const std::vector<std::vector<long>>& runOrder() const { return d_->runOrder; }
  void runOrder(const std::vector<long>& order);
  void runOrder(const std::vector<std::vector<long>>& order);

  // ---- zones ----
  // Standard or advanced here (custom on the private class). Switching mode rebuilds that
  // mode's default zones; setting the current mode keeps the zones.
  Defs::DOFMode dofMode() const { return d_->dofMode; }
  void dofMode(Defs::DOFMode m);
  unsigned long zoneEnable() const { return d_->dof.getEnableFlags(); }
  void zoneEnable(unsigned long dofs);
  // Offsets from the start pose: degrees for angles, fractions for scales (-0.2 is 0.8 times).
  double zoneLowRelStandard(Defs::StandardDOF dof) const;
  double zoneHighRelStandard(Defs::StandardDOF dof) const;
  void zoneRelStandard(Defs::StandardDOF dof, double low, double high);
  double zoneOverlapStandard(Defs::StandardDOF dof) const;
  void zoneOverlapStandard(Defs::StandardDOF dof, double v);
  double zoneLowRelAdvanced(Defs::AdvancedDOF dof) const;
  double zoneHighRelAdvanced(Defs::AdvancedDOF dof) const;
  void zoneRelAdvanced(Defs::AdvancedDOF dof, double low, double high);
  double zoneOverlapAdvanced(Defs::AdvancedDOF dof) const;
  void zoneOverlapAdvanced(Defs::AdvancedDOF dof, double v);
  // The zone table and its DOF list, as the run reads them.
  const vc_DofData& dofData() const { return d_->dof; }
  const vcGeorapidDOFList& dofList() const { return d_->dofList; }

  bool operator==(const vcFlexAlignRunParams& o) const;
  bool operator!=(const vcFlexAlignRunParams& o) const { return !(*this == o); }
  std::string toDebugString() const;

  // The same settings seen as the private class (which adds the custom DOF mode): the object
  // itself when it was built as that class, else a view, owned by this object and valid as long
  // as it lives, that reads and writes this object's settings.
  vc_FlexAlignRunParams& privData();
  const vc_FlexAlignRunParams& privData() const;

  // Writes version 2; reads 0 (a flat run order), 1 and 2 (the search bounds).
  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignRunParams& p);

 protected:
  using Sets = vc_InstanceParamSets<vcFlexSubModelRunParams>;
  // Every setting. An object owns its own; the view privData() hands out shares its owner's,
  // so that both read and write the same settings.
  struct Data {
    explicit Data(const vcFlexSubModelRunParams& standard) : sets(standard) {}
    vcGeorapidDOFList dofList;
    vc_DofData dof;
    Defs::DOFMode dofMode = Defs::eStandard;
    long numToFind = 1;
    double xUncertainty = 0.0;
    double yUncertainty = 0.0;
    double xyOverlap = 0.8;
    double acceptThreshold = 0.5;
    Defs::FinalFitMode finalFitMode = Defs::eAutomatic;
    Defs::RunStrategy runStrategy = Defs::eIndependentSubModels;
    Defs::RunOrderMode runOrderMode = Defs::eAutomaticOrdering;
    Defs::XYUncertaintyMode xyUncertaintyMode = Defs::eElliptical;
    std::vector<std::vector<long>> runOrder;
    long maxCandidates = 4;
    double candidateScoreMargin = 0.15;
    long maxCombinations = 64;
    long maxMisses = 3;
    double timeout = 0.0;
    long threads = 0;
    Sets sets;
  };
  // A view of `shared` (privData()).
  explicit vcFlexAlignRunParams(Data* shared);
  void setDofMode_(Defs::DOFMode m);
  void checkZone_(Defs::DOFMode mode, unsigned long dof) const;

  std::unique_ptr<Data> own_;
  Data* d_ = nullptr;

 private:
  friend class vc_FlexAlignRunParams;
  void assign_(const vcFlexAlignRunParams& o);

  mutable std::unique_ptr<vc_FlexAlignRunParams> view_;
};

vcArchive& operator||(vcArchive& ar, vcFlexAlignRunParams& p);

// Adds the custom DOF mode, in which the caller supplies the zone DOF list.
class vc_FlexAlignRunParams : public vcFlexAlignRunParams {
 public:
  vc_FlexAlignRunParams() : vcFlexAlignRunParams(vcFlexSubModelCorRunParams()) {}
  explicit vc_FlexAlignRunParams(const vcFlexAlignRunParams& o) : vcFlexAlignRunParams(o) {}
  vc_FlexAlignRunParams(const vc_FlexAlignRunParams&) = default;
  vc_FlexAlignRunParams& operator=(const vc_FlexAlignRunParams&) = default;
  ~vc_FlexAlignRunParams() override = default;

  Defs::DOFMode dofMode() const { return d_->dofMode; }
  // Also accepts eCustom: the table and list are dropped until customDofList gives a list.
  void dofMode(Defs::DOFMode m);
  // Custom mode only (WrongDOFMode): copies the list and builds one zone per entry.
  void customDofList(const vcGeorapidDOFList& list);
  // Copies the list only.
  void constructCustomDOFList(const vcGeorapidDOFList& list);
  // Rebuilds the custom zones with their defaults (InternalError for an empty list).
  void initializeCustomDOFRanges();
  // Absolute zone ends of custom DOF `dof` (a single bit).
  double zoneLowRelCustom(unsigned long dof) const;
  double zoneHighRelCustom(unsigned long dof) const;
  void zoneRelCustom(unsigned long dof, double low, double high);
  // Not implemented for custom DOFs.
  double zoneOverlapCustom(unsigned long dof) const;
  void zoneOverlapCustom(unsigned long dof, double v);

  vc_FlexAlignRunParams& privData() { return *this; }
  const vc_FlexAlignRunParams& privData() const { return *this; }

 private:
  friend class vcFlexAlignRunParams;
  struct ViewTag {};
  vc_FlexAlignRunParams(ViewTag, Data* shared) : vcFlexAlignRunParams(shared) {}
  void checkCustom_(unsigned long dof) const;
};

// ---------------------------------------------------------------------------------------------
// Alignment results
// ---------------------------------------------------------------------------------------------

// Whether a part or one of its instances was found, and if not, why, with the numbers behind
// it. A result holds one for the part (status()) and one per instance position of the trained
// arrangement (instanceStatus()); which fields a kind fills is listed with it, the others keep
// their defaults. A plain value: copied, compared and archived with its result.
struct vcFlexAlignStatus {
  enum Kind : int {
    // The part or the instance is found. score: its score; threshold: the accept threshold.
    eFound = 0,
    // Instance: not searched on this result's path (the run stopped before it, abandoned the
    // branch after repeated misses, or another instance of its run-order group was taken).
    eNotSearched = 1,
    // Instance: searched, and the engine reported no candidate at all.
    eNoCandidate = 2,
    // Instance: its best candidate scored `score`, under its own accept threshold `threshold`.
    // Part (among the rejected results of a set): its score `score` under the run's accept
    // threshold `threshold`.
    eBelowThreshold = 3,
    // Instance: its predicted search window `window` (image pixels) lay outside the image.
    eOutsideImage = 4,
    // Instance: its predicted search window `window`, clipped to the image, was too small to
    // search (fewer than vc_SubModelTool::kMinSearchSize pixels across).
    eWindowTooSmall = 5,
    // Instance: its best candidate (score `score`) was rejected because its match region
    // overlaps that of instance `other` by the fraction `amount` of the smaller region, more
    // than `threshold` allows (two pieces cannot lie in one place).
    eOverlapped = 6,
    // Instance: its best candidate (score `score`) stopped at the edge of its angle zone, so it
    // is not a match at its best pose; `amount` is the zone's half-width searched (degrees).
    eAtZoneEdge = 7,
    // Instance: candidates were found (the best scored `score`), but none agrees with the
    // positions of the other instances of this result.
    eInconsistent = 8,
    // Part: the required instance `other` is missing (its own status says why).
    eRequiredMissing = 9,
    // Part: the fitted pose was moved by `amount` client units to fit the run's uncertainty
    // and zones, more than the pieces' own uncertainty `threshold` allows.
    eClamped = 10,
    // Part (among the rejected results of a set): the fitted pose lies outside the run's
    // translation uncertainty or zones, or a piece outside its own.
    eOutsideRange = 11,
    // Part (among the rejected results of a set): its `amount` pieces are too few to fit the
    // degrees of freedom the final fit asks for (at least `threshold` pieces).
    eTooFewPieces = 12,
    // Instance: found (score `score`) `amount` client units from where the other pieces put
    // it, farther than its own uncertainty allows (`threshold`: 3 sigma of its fit along that
    // line, plus its translation uncertainty, plus what its angle zone moves its centre); it is
    // left out of the result.
    eBeyondUncertainty = 13,
  };

  vcFlexAlignStatus() = default;
  explicit vcFlexAlignStatus(Kind k) : kind(k) {}

  Kind kind = eNotSearched;
  double score = -1.0;  // -1 when there was no candidate
  double threshold = 0.0;
  long other = -1;  // an instance position, -1 when none
  double amount = 0.0;
  vcPelRect window;

  bool found() const { return kind == eFound; }
  // One line for people, e.g. "best candidate 0.412 is under the accept threshold 0.600".
  // Instances are named "instance N", or by `names[N]` when that list is long enough.
  std::string text(const std::vector<std::string>& names = {}) const;
  bool operator==(const vcFlexAlignStatus& o) const;
  bool operator!=(const vcFlexAlignStatus& o) const { return !(*this == o); }
};

// One located instance of the arrangement: the fitted arrangement pose (origin frame to client
// coordinates), a score, whether it met the run's requirements (and why not), and the found
// sub-models, each tagged with its instance position.
class vcFlexAlignResult {
 public:
  vcFlexAlignResult();
  // Clones the pose, the deformation field and every sub-model result (vcBadPointer for an
  // empty one); shares the arrangement origin.
  vcFlexAlignResult(const vcFlexAlignResult& o);
  vcFlexAlignResult& operator=(const vcFlexAlignResult& o);
  vcFlexAlignResult(vcFlexAlignResult&& o) noexcept = default;
  vcFlexAlignResult& operator=(vcFlexAlignResult&& o) noexcept = default;
  ~vcFlexAlignResult() = default;

  bool found() const { return found_; }
  double score() const { return score_; }
  const vc2XformBase& pose() const { return *pose_; }
  const vc2XformBase& deformationField() const { return *deformationField_; }
  // Where the pose puts the arrangement origin.
  vcVector<2> location() const;
  const std::vector<unsigned long>& infoIds() const { return infoIds_; }
  const std::vector<std::string>& infoStrings() const { return infoStrings_; }
  const std::vector<vcPtrHandle<vcFlexSubModelResult>>& subModelResults() const {
    return subModelResults_;
  }
  const std::vector<long>& positionIndices() const { return positionIndices_; }
  // The pose's DOF values relative to the start pose, as the run computed them (empty before).
  const std::vector<double>& dofValues() const { return dofValues_; }
  // Whether the part was found and, if not, why (found() agrees with it).
  const vcFlexAlignStatus& status() const { return status_; }
  // Per instance position of the trained arrangement: found, or why not. Filled by a run;
  // empty in a default result and in results loaded from archives older than this field.
  const std::vector<vcFlexAlignStatus>& instanceStatus() const { return instanceStatus_; }

  // The result of instance `index` (shared), or an empty handle when it was not found.
  void getSubModelResult(long index, vcPtrHandle<vcFlexSubModelResult>& out) const;
  // The first of `indices` that was found: its place in `indices` (-1 when none) and result.
  long getSubModelResult(const std::vector<long>& indices,
                         vcPtrHandle<vcFlexSubModelResult>& out) const;

  // The run image rectified into the frame of `arrangement` (the one the pattern was trained
  // with) through the pieces as found: vcFlexAlignDeformation(*this, arrangement).rectify(...).
  vcFlexRectified rectify(const vcFlexArrangement& arrangement,
                          const vcPelBuffer_const<unsigned char>& image,
                          const vcFlexRectifyParams& params = vcFlexRectifyParams()) const;

  void draw(vcGraphicList& list, unsigned long flags) const;
  std::string toDebugString() const;

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignResult& r);
  // The run (flexalign/) builds results in place; the unit tests build them by hand.
  friend class vc_FlexAlignRun;
  friend class vc_FlexAlignIndependentRun;
  friend class vc_FlexAlignLocallyFixturedRun;
  friend struct vcFlexAlignTestAccess;

 private:
  void assign_(const vcFlexAlignResult& o);
  // Replaces the DOF values by those of the pose relative to `startPose` (NotImplemented for
  // the custom mode).
  void poseToDofValue(vcFlexAlignDefs::DOFMode mode, const vc2XformBase& startPose);
  // Inside the run's translation uncertainty (plus 2 units) and zones; with `checkSubModels`
  // also every found sub-model inside its own.
  bool isWithinDofUncertainty(const vcFlexArrangement& arrangement, const vc2XformBase& startPose,
                              const vcFlexAlignRunParams& rp, bool checkSubModels);
  // The same instance as `other`: boxes overlapping by more than xyOverlap and every zone DOF
  // within its overlap limit. Both results' DOF values must be computed.
  bool isOverlapping(const vcFlexArrangement& arrangement, const vcFlexAlignResult& other,
                     const vcFlexAlignRunParams& rp) const;

  vcPtrHandle<vc2XformBase> pose_;
  vcPtrHandle<vc2XformBase> deformationField_;
  vcPtrHandle_const<vc2XformBase> arrangementOrigin_;
  float score_ = 0.0f;
  bool found_ = true;
  std::vector<std::string> infoStrings_;
  std::vector<unsigned long> infoIds_;
  std::vector<vcPtrHandle<vcFlexSubModelResult>> subModelResults_;
  std::vector<long> positionIndices_;
  std::vector<double> dofValues_;
  vcFlexAlignDefs::DOFMode dofMode_ = vcFlexAlignDefs::eStandard;
  vcFlexAlignStatus status_{vcFlexAlignStatus::eFound};
  std::vector<vcFlexAlignStatus> instanceStatus_;
};

// Writes version 1 (version 0 and the part and instance statuses); reads 0 and 1.
vcArchive& operator||(vcArchive& ar, vcFlexAlignResult& r);

// What one run returns: the results, best first, and the seconds the search took. When a
// candidate combination was dropped (under the accept threshold, or its fitted pose outside the
// run's ranges), the best of them are kept apart in rejected(), each with a status saying why,
// so that a run that finds nothing can still say how close it came.
class vcFlexAlignResultSet {
 public:
  vcFlexAlignResultSet() = default;
  vcFlexAlignResultSet(const vcFlexAlignResultSet& o);
  vcFlexAlignResultSet& operator=(const vcFlexAlignResultSet& o);
  vcFlexAlignResultSet(vcFlexAlignResultSet&&) noexcept = default;
  vcFlexAlignResultSet& operator=(vcFlexAlignResultSet&&) noexcept = default;
  ~vcFlexAlignResultSet() = default;

  double time() const { return time_; }
  // How many sub-model searches the run made: what it cost, beside the time.
  long searches() const { return searches_; }
  const std::vector<vcFlexAlignResult>& results() const { return results_; }
  // The best dropped candidates, best first, at most the run's numToFind; none found.
  const std::vector<vcFlexAlignResult>& rejected() const { return rejected_; }
  long numFound() const;
  void draw(vcGraphicList& list, unsigned long flags) const;
  std::string toDebugString() const;

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignResultSet& s);
  friend class vc_FlexAlignRun;
  friend class vc_FlexAlignIndependentRun;
  friend class vc_FlexAlignLocallyFixturedRun;

 private:
  double time_ = 0.0;
  long searches_ = 0;
  vcPtrHandle_const<vc2XformBase> startPose_;
  std::vector<vcFlexAlignResult> results_;
  std::vector<vcFlexAlignResult> rejected_;
};

// Writes version 2: version 0, then the rejected results (from version 1) and the number of
// searches (from version 2); reads 0 to 2.
vcArchive& operator||(vcArchive& ar, vcFlexAlignResultSet& s);

// ---------------------------------------------------------------------------------------------
// Result tree
// ---------------------------------------------------------------------------------------------

class vcFlexAlignRunParams;

// One node of the tree of candidate combinations a run grows: the root stands for nothing
// found yet, every other node for one sub-model result of one instance, and each path from the
// root to a leaf for one combination. Nodes are reference counted and must live on the heap,
// held by handles; a node owns its children, the parent and root pointers do not own.
class vc_ResTreeElem : public vcRepBase, public virtual vcPersistent {
 public:
  using Handle = vcPtrHandle<vc_ResTreeElem>;
  using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;

  // A root.
  vc_ResTreeElem();
  // A node holding a clone of `result` for instance `index` below `parent` (a root when null).
  vc_ResTreeElem(long index, const ResultHandle& result, const Handle& parent);
  vc_ResTreeElem(const vc_ResTreeElem& o) = default;
  vc_ResTreeElem& operator=(const vc_ResTreeElem& o) = default;
  ~vc_ResTreeElem() override = default;

  Handle addChild(long index, const ResultHandle& result);
  std::vector<Handle> addChildren(long index, const std::vector<ResultHandle>& results);
  // False, adding nothing, when the lengths differ.
  bool addChildren(const std::vector<long>& indices, const std::vector<ResultHandle>& results);

  long numChildren() const { return static_cast<long>(children_.size()); }
  const Handle& child(long k) const { return children_[static_cast<std::size_t>(k)]; }
  vc_ResTreeElem* parent() { return parent_; }
  Handle parent() const { return Handle(parent_); }
  Handle root() const { return Handle(root_); }
  const ResultHandle& result() const { return result_; }
  long subModelIndex() const { return index_; }
  bool deleteMe() const { return deleteMe_; }
  void deleteMe(bool v) { deleteMe_ = v; }

  double scoreElem(long mode) const;
  // Sum of result scores weighted by each instance's share of the arrangement, from this node
  // up to the root.
  double scoreLeafPath(const vcFlexArrangement& arrangement) const;
  // The first node from here up whose instance is `index` (the root for -1), or null.
  const vc_ResTreeElem* searchLeafPath(long index) const;
  // Every leaf below this node, depth first.
  std::vector<Handle> listLeafs();
  // Removes marked children from here up to the first node that keeps a live child.
  void deleteLeafPath();
  // Removes every combination that repeats another with a score not higher.
  void pruneTree(const vcFlexArrangement& arrangement, const vcFlexAlignRunParams& runParams);
  // Pruned leaves by descending path score, cut to those above the accept threshold.
  std::vector<Handle> topScoringLeafs(const vcFlexArrangement& arrangement,
                                      const vcFlexAlignRunParams& runParams);

  // Removes one child with everything below it (a run drops a combination this way as the
  // tree grows); nothing when `child` is not one of this node's children.
  void removeChild(const vc_ResTreeElem* child);

  // Instances searched below this node whose candidates were all missed or rejected, and why;
  // a result built from a leaf takes the deepest note for each instance it lacks.
  void addMiss(long index, const vcFlexAlignStatus& why) { misses_.emplace_back(index, why); }
  const std::vector<std::pair<long, vcFlexAlignStatus>>& misses() const { return misses_; }

  // A tree lives for one run and is never archived: this throws vcArchive::BadData.
  void dispatchSerialize(vcArchive& ar) override;

 private:
  vc_ResTreeElem(long index, const ResultHandle& result, vc_ResTreeElem* parent);
  void listLeafs_(std::vector<Handle>& out, const Handle& self);

  bool deleteMe_ = false;
  ResultHandle result_;
  long index_ = -1;
  vc_ResTreeElem* parent_ = nullptr;
  vc_ResTreeElem* root_ = nullptr;
  std::vector<Handle> children_;
  std::vector<std::pair<long, vcFlexAlignStatus>> misses_;
};

// ---------------------------------------------------------------------------------------------
// The pattern
// ---------------------------------------------------------------------------------------------

class vcFlexAlignResult;
class vcFlexAlignRunParams;

// A part trained once from an arrangement: one trained sub-model tool per distinct pair of
// sub-model and train parameters (instances sharing both share a tool), and the map from each
// instance to its tool. The pattern keeps private copies of the arrangement and parameters.
class vcFlexAlignPattern {
 public:
  vcFlexAlignPattern();
  // A copy trains sub-model tools of its own (engine objects are never shared).
  vcFlexAlignPattern(const vcFlexAlignPattern& o) = default;
  vcFlexAlignPattern& operator=(const vcFlexAlignPattern& o) = default;
  vcFlexAlignPattern(vcFlexAlignPattern&& o) = default;
  vcFlexAlignPattern& operator=(vcFlexAlignPattern&& o) = default;
  ~vcFlexAlignPattern() = default;

  // Recursion depth, trained flag, train parameters, arrangement, map and tools, in this order.
  bool operator==(const vcFlexAlignPattern& o) const;
  bool operator!=(const vcFlexAlignPattern& o) const { return !(*this == o); }

  // The most sub-model instances an arrangement may hold. A run costs about one sub-model
  // search per instance (a millisecond or so each) plus work growing with the square of the
  // instance count (each prediction interpolates the instances found so far).
  static constexpr long kMaxInstances = vcFlexLimits::kMaxInstances;

  // Validates the arrangement first (BadArrangement, also for more than kMaxInstances
  // instances), which leaves an earlier training intact. A failure after that leaves the
  // pattern untrained with the earlier arrangement and parameters stored.
  void train(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params,
             vcDiagObject* diag = nullptr, unsigned long diagFlags = 0);
  // Keeps the tools when only the instance poses changed; otherwise trains anew with the stored
  // train parameters. NotTrained for an untrained pattern.
  void retrain(const vcFlexArrangement& arrangement, vcDiagObject* diag = nullptr,
               unsigned long diagFlags = 0);
  void untrain() { untrain_(); }
  bool isTrained() const { return trained_; }

  // Finds the part near `startPose` (arrangement origin frame to client). `fixtures` are points
  // in the origin frame already known to lie near their places; they root the search order of
  // the locally fixtured strategy. `results` is refilled, ranked best first.
  void run(const vcPelBuffer_const<unsigned char>& image, const vc2XformBase& startPose,
           const std::vector<vcVector<2>>& fixtures, const vcFlexAlignRunParams& params,
           vcFlexAlignResultSet& results, vcDiagObject* diag = nullptr,
           unsigned long diagFlags = 0) const;
  // The same, searching only where the mask (same window as the image) is set.
  void run(const vcPelBuffer_const<unsigned char>& image,
           const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
           const std::vector<vcVector<2>>& fixtures, const vcFlexAlignRunParams& params,
           vcFlexAlignResultSet& results, vcDiagObject* diag = nullptr,
           unsigned long diagFlags = 0) const;
  // Without a fixture list: NotImplemented (pass an empty list to the forms above).
  void run(const vcPelBuffer_const<unsigned char>& image, const vc2XformBase& startPose,
           const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
           vcDiagObject* diag = nullptr, unsigned long diagFlags = 0) const;
  void run(const vcPelBuffer_const<unsigned char>& image,
           const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
           const vcFlexAlignRunParams& params, vcFlexAlignResultSet& results,
           vcDiagObject* diag = nullptr, unsigned long diagFlags = 0) const;

  const vcFlexArrangement& arrangement() const { return arrangement_; }
  const vcFlexAlignTrainParams& trainParams() const { return trainParams_; }
  // The trained tools and, per instance position, the index of its tool.
  const std::vector<vc_SubModelTool>& tools() const { return tools_; }
  const std::vector<long>& instanceToTool() const { return instanceToTool_; }

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignPattern& p);
  friend class vcFlexAlignPatternHelper;

 private:
  void train_(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params,
              vcDiagObject* diag, unsigned long diagFlags);
  void untrain_() { trained_ = false; }
  // Same sub-models and instance list, as many poses, equal linear origins.
  static bool isEquivalent_(const vcFlexArrangement& a, const vcFlexArrangement& b);

  vcFlexAlignTrainParams trainParams_;
  vcFlexArrangement arrangement_;
  std::vector<vc_SubModelTool> tools_;
  std::vector<long> instanceToTool_;
  long maxRecursionDepth_ = 0;
  bool trained_ = false;
};

vcArchive& operator||(vcArchive& ar, vcFlexAlignPattern& p);

class vcFlexAlignPatternHelper {
 public:
  static long maxRecursionDepth(const vcFlexAlignPattern& p) { return p.maxRecursionDepth_; }
  // depth >= 0 (BadParams "Recursion depth must be >= 0").
  static void maxRecursionDepth(vcFlexAlignPattern& p, long depth);
};
