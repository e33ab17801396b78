// Bases of the sub-model parameters and results, and the sub-model result set.
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vcAngle.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcText.h"
#include "submodel_params/baseprms_util.h"
#include "vcFlexErrors.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

namespace {

// The pose items of a result's debug text, from the transform's linear form at the origin.
std::string poseLines(const vc2XformBase& x, bool withTrans) {
  const vc2XformLinear lin = x.linearXform(vcVector<2>(0, 0));
  const vcMatrix<2>& m = lin.matrix();
  std::string s;
  s += kDbgSubIndent + "angle = " + vfDbl(m.rotation().toDouble() * vcDegPerRad, 3) + "\n";
  s += kDbgSubIndent + "xScale = " + vfDbl(m.xScale(), 4) + "\n";
  s += kDbgSubIndent + "yScale = " + vfDbl(m.yScale(), 4) + "\n";
  s += kDbgSubIndent + "aspect = " + vfDbl(m.aspect(), 4) + "\n";
  s += kDbgSubIndent + "skew = " + vfDbl(m.shear().toDouble() * vcDegPerRad, 3) + "\n";
  if (withTrans)
    s += kDbgSubIndent + "trans = (" + vfDbl(lin.trans().x(), 3) + ", " +
         vfDbl(lin.trans().y(), 3) + ")\n";
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelTrainParams

void vcFlexSubModelTrainParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelTrainParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelTrainParams));
}

void vcFlexSubModelTrainParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "baseprms", __LINE__);
  // The vcPersistent level carries no data.
}

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelRunParams

void vcFlexSubModelRunParams::acceptThreshold(double t) {
  if (!(t >= 0.0 && t <= 1.0))
    throw vcFlexAlignDefs::BadParams("accepthThreshold must be between 0 and 1");
  mutating_();
  acceptThreshold_ = t;
}

void vcFlexSubModelRunParams::distortionRate(double r) {
  if (!(r >= 0.0)) throw vcFlexAlignDefs::BadParams();
  mutating_();
  distortionRate_ = r;
}

void vcFlexSubModelRunParams::useForFinalFit(bool v) {
  mutating_();
  useForFinalFit_ = v;
}

void vcFlexSubModelRunParams::useForDeformationField(bool v) {
  mutating_();
  useForDeformationField_ = v;
}

void vcFlexSubModelRunParams::required(bool v) {
  mutating_();
  required_ = v;
}

bool vcFlexSubModelRunParams::operator==(const vcFlexSubModelRunParams& o) const {
  return numToFind_ == o.numToFind_ && acceptThreshold_ == o.acceptThreshold_ &&
         distortionRate_ == o.distortionRate_ && useForFinalFit_ == o.useForFinalFit_ &&
         useForDeformationField_ == o.useForDeformationField_ && required_ == o.required_;
}

void vcFlexSubModelRunParams::assign_(const vcFlexSubModelRunParams& o) {
  mutating_();
  numToFind_ = o.numToFind_;
  acceptThreshold_ = o.acceptThreshold_;
  distortionRate_ = o.distortionRate_;
  useForFinalFit_ = o.useForFinalFit_;
  useForDeformationField_ = o.useForDeformationField_;
  required_ = o.required_;
}

std::string vcFlexSubModelRunParams::toDebugString() const {
  std::string s;
  s += vfDbgLine("acceptThreshold = ", vfDbl(acceptThreshold_, 2, false));
  s += vfDbgLine("distortionRate = ", vfDbl(distortionRate_, 2, false));
  s += vfDbgLine("useForFinalFit = ", vfStr(useForFinalFit_));
  s += vfDbgLine("useForDeformationField = ", vfStr(useForDeformationField_));
  s += vfDbgLine("required = ", vfStr(required_));
  return s;
}

void vcFlexSubModelRunParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelRunParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelRunParams));
}

void vcFlexSubModelRunParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "baseprms", __LINE__);
  // Read into locals so that a damaged archive leaves the object as it was.
  int numToFind = static_cast<int>(numToFind_);
  double accept = acceptThreshold_, rate = distortionRate_;
  bool finalFit = useForFinalFit_, deformation = useForDeformationField_, required = required_;
  ar || numToFind || accept || rate || finalFit || deformation || required;
  if (ar.isLoading()) {
    mutating_();
    numToFind_ = numToFind;
    acceptThreshold_ = accept;
    distortionRate_ = rate;
    useForFinalFit_ = finalFit;
    useForDeformationField_ = deformation;
    required_ = required;
  }
}

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelResult

vcFlexSubModelResult::vcFlexSubModelResult()
    : pose_(new vc2XformLinear), arrangementFromSubModel_(new vc2XformLinear) {}

vcFlexSubModelResult::vcFlexSubModelResult(const vcFlexSubModelResult& o)
    : vcPersistent(o),
      vcRepBase(o),
      accepted_(o.accepted_),
      score_(o.score_),
      imageRegion_(o.imageRegion_),
      matchRegion_(o.matchRegion_),
      pose_(o.pose_ ? vcPtrHandle_const<vc2XformBase>(o.pose_->clone())
                    : vcPtrHandle_const<vc2XformBase>()),
      arrangementFromSubModel_(o.arrangementFromSubModel_ ? vcPtrHandle_const<vc2XformBase>(
                                                                o.arrangementFromSubModel_->clone())
                                                          : vcPtrHandle_const<vc2XformBase>()),
      positionCov_(o.positionCov_),
      angleSigma_(o.angleSigma_),
      weakDirection_(o.weakDirection_),
      positionWeak_(o.positionWeak_),
      angleSymmetry_(o.angleSymmetry_) {}

vcFlexSubModelResult& vcFlexSubModelResult::operator=(const vcFlexSubModelResult& o) {
  if (this == &o) return *this;
  // Clone first: a failing clone leaves this result untouched.
  vcPtrHandle_const<vc2XformBase> pose, arr;
  if (o.pose_) pose = o.pose_->clone();
  if (o.arrangementFromSubModel_) arr = o.arrangementFromSubModel_->clone();
  mutating_();
  accepted_ = o.accepted_;
  score_ = o.score_;
  imageRegion_ = o.imageRegion_;
  matchRegion_ = o.matchRegion_;
  pose_ = pose;
  arrangementFromSubModel_ = arr;
  positionCov_ = o.positionCov_;
  angleSigma_ = o.angleSigma_;
  weakDirection_ = o.weakDirection_;
  positionWeak_ = o.positionWeak_;
  angleSymmetry_ = o.angleSymmetry_;
  return *this;
}

vcVector<2> vcFlexSubModelResult::location() const { return pose().mapPoint(vcVector<2>(0, 0)); }

vcDegree vcFlexSubModelResult::angle() const {
  const vc2XformLinear lin = pose().linearXform(vcVector<2>(0, 0));
  return vcDegree(lin.matrix().rotation().toDouble() * vcDegPerRad);
}

double vcFlexSubModelResult::xScale() const {
  return pose().linearXform(vcVector<2>(0, 0)).matrix().xScale();
}

double vcFlexSubModelResult::yScale() const {
  return pose().linearXform(vcVector<2>(0, 0)).matrix().yScale();
}

// "First mode": the sub-model's extent and shapes under the found pose; "second mode": its
// axes, beside the label.
void vcFlexSubModelResult::draw(vcGraphicList& list, const vcFlexSubModel& subModel,
                                const vc2XformBase& xform, unsigned long flags,
                                const vcColor& color, const std::string& label) const {
  if (!pose_ || !(flags & 3)) return;
  const vcPtrHandle<vc2XformBase> x = xform.composeBase(*pose_);
  if (flags & 1) subModel.draw(list, *x, 4 | 8, color);
  if (flags & 2) {
    list.append(
        vcPtrHandle<vcGraphic>(new vcGraphicText(label, x->mapPoint({0, 0}), color, vcColor::pass,
                                                 vcUIFormat::defaultFont(), vcVector<2>(8, -8))));
    subModel.draw(list, *x, 1, color);
  }
}

void vcFlexSubModelResult::accepted(bool v) {
  mutating_();
  accepted_ = v;
}

void vcFlexSubModelResult::score(double v) {
  mutating_();
  score_ = v;
}

void vcFlexSubModelResult::imageRegion(const vcPelRect& r) {
  mutating_();
  imageRegion_ = r;
}

void vcFlexSubModelResult::matchRegion(const vcAffineRectangle& r) {
  mutating_();
  matchRegion_ = r;
}

void vcFlexSubModelResult::pose(const vcPtrHandle_const<vc2XformBase>& p) {
  mutating_();
  pose_ = p;
}

void vcFlexSubModelResult::arrangementFromSubModel(const vcPtrHandle_const<vc2XformBase>& p) {
  mutating_();
  arrangementFromSubModel_ = p;
}

std::string vcFlexSubModelResult::toDebugString() const {
  std::string s;
  const vcVector<2> loc = location();
  s += vfDbgLine("location = (", vfDbl(loc.x(), 3) + ", " + vfDbl(loc.y(), 3) + ")");
  s += vfDbgLine("pose = ", "");
  s += poseLines(pose(), false);
  s += vfDbgLine("arrangementFromSubModel = ", "");
  s += poseLines(arrangementFromSubModel(), true);
  s += vfDbgLine("score = ", vfDbl(score_, 3));
  s += vfDbgLine("accepted = ", vfStr(accepted_));
  return s;
}

// Version 1 adds the uncertainty after the version-0 fields; a version-0 result loads with
// none (a zero covariance). Version 2 adds the angle's symmetry; older results load with an
// angle of their own.
void vcFlexSubModelResult::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelResult))) return;
  unsigned char version = 2;
  ar || version;
  if (version > 2) throw vcArchive::UnknownVersion("baseprms", __LINE__);
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelResult));
}

void vcFlexSubModelResult::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, 0, "baseprms", __LINE__);
  vcPtrHandle_const<vc2XformBase> pose = pose_, arr = arrangementFromSubModel_;
  double score = score_;
  bool accepted = accepted_;
  vcAffineRectangle match = matchRegion_;
  vcPelRect image = imageRegion_;
  vfSerializeHandle(ar, this, pose);
  vfSerializeHandle(ar, this, arr);
  ar || score || accepted || match || image;
  double xx = positionCov_(0, 0), xy = positionCov_(0, 1), yy = positionCov_(1, 1);
  double angleSigma = angleSigma_;
  bool weak = positionWeak_;
  if (version >= 1) ar || xx || xy || yy || angleSigma || weak;
  long symmetry = angleSymmetry_;
  if (version >= 2) ar || symmetry;
  if (ar.isLoading()) {
    if (!(xx >= 0 && yy >= 0 && xx * yy >= xy * xy * (1 - 1e-9) && angleSigma >= 0))
      throw vcArchive::BadData("baseprms: the position covariance is not one");
    if (symmetry < 0) throw vcArchive::BadData("baseprms: the angle's symmetry order is negative");
    mutating_();
    pose_ = pose;
    arrangementFromSubModel_ = arr;
    score_ = score;
    accepted_ = accepted;
    matchRegion_ = match;
    imageRegion_ = image;
    uncertainty(vcMatrix<2>(xx, xy, xy, yy), angleSigma, weak);
    angleSymmetry_ = symmetry;
  }
}

void vcFlexSubModelResult::angleSymmetry(long n) {
  if (n < 0) throw vcFlexAlignDefs::BadParams("The angle's symmetry order must not be negative");
  mutating_();
  angleSymmetry_ = n;
}

void vcFlexSubModelResult::uncertainty(const vcMatrix<2>& positionCov, double angleSigma,
                                       bool positionWeak) {
  mutating_();
  positionCov_ = positionCov;
  angleSigma_ = angleSigma;
  positionWeak_ = positionWeak;
  const double a = positionCov(0, 0), b = positionCov(0, 1), d = positionCov(1, 1);
  const double longest = 0.5 * (a + d) + std::sqrt(0.25 * (a - d) * (a - d) + b * b);
  // The eigenvector of the larger eigenvalue, or an axis when the covariance is diagonal.
  const vcVector<2> v = std::fabs(b) > 1e-12 * (a + d) ? vcVector<2>(b, longest - a)
                        : a >= d                       ? vcVector<2>(1.0, 0.0)
                                                       : vcVector<2>(0.0, 1.0);
  weakDirection_ = v.unit();
}

vcFlexSubModelResult::Ellipse vcFlexSubModelResult::positionEllipse() const {
  const double a = positionCov_(0, 0), b = positionCov_(0, 1), d = positionCov_(1, 1);
  const double h = std::sqrt(0.25 * (a - d) * (a - d) + b * b), m = 0.5 * (a + d);
  Ellipse e;
  e.major = std::sqrt(std::max(0.0, m + h));
  e.minor = std::sqrt(std::max(0.0, m - h));
  e.angle = std::atan2(weakDirection_.y(), weakDirection_.x()) * 180.0 / vcPi;
  if (e.angle > 90.0) e.angle -= 180.0;
  if (e.angle <= -90.0) e.angle += 180.0;
  return e;
}

// ---------------------------------------------------------------------------------------------
// vc_SubModelResultSet

vc_SubModelResultSet::vc_SubModelResultSet() : startPose_(new vc2XformLinear) {}

vc_SubModelResultSet::vc_SubModelResultSet(const vc_SubModelResultSet& o)
    : startPose_(o.startPose_) {}

vc_SubModelResultSet& vc_SubModelResultSet::operator=(const vc_SubModelResultSet& o) {
  if (this != &o) {
    startPose_ = o.startPose_;
    results_.clear();
    note_ = vc_SubModelSearchNote();
  }
  return *this;
}

vcArchive& operator||(vcArchive& ar, vc_SubModelResultSet& set) {
  unsigned char version = 1;
  ar || version;
  if (version > 1) throw vcArchive::UnknownVersion("submodtl", __LINE__);
  if (version == 0) {
    double dropped = 0.0;  // a field that later versions no longer keep
    ar || dropped;
  }
  // Loads into locals, so a failure leaves the set as it was.
  vcPtrHandle<vc2XformBase> startPose = set.startPose_;
  std::vector<vcPtrHandle<vcFlexSubModelResult>> results = set.results_;
  vfSerializeHandle(ar, nullptr, startPose);
  unsigned char listVersion = 0;
  ar || listVersion;
  if (listVersion != 0) throw vcArchive::UnknownVersion("submodtl", __LINE__);
  int count = static_cast<int>(results.size());
  ar || count;
  if (ar.isLoading()) {
    // Each element needs at least its pointer tag.
    if (count < 0 || static_cast<std::size_t>(count) > ar.remaining())
      throw vcArchive::BadData("sub-model result count exceeds the data that remains");
    results.assign(static_cast<std::size_t>(count), vcPtrHandle<vcFlexSubModelResult>());
  }
  for (auto& r : results) vfSerializeHandle(ar, nullptr, r);
  if (ar.isLoading()) {
    set.startPose_ = startPose;
    set.results_ = std::move(results);
  }
  return ar;
}

// Parameters of no engine have nothing to search by.
void vcFlexSubModelRunParams::xyUncertainty(double, double) {
  throw vcFlexAlignDefs::NotImplemented();
}

void vcFlexSubModelRunParams::zoneEnable(unsigned long) { throw vcFlexAlignDefs::NotImplemented(); }

void vcFlexSubModelRunParams::searchZone(long, double, double) {
  throw vcFlexAlignDefs::NotImplemented();
}

void vcFlexSubModelRunParams::expandSearchZone(long, double, double) {
  throw vcFlexAlignDefs::NotImplemented();
}
