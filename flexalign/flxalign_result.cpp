// FlexAlign results: one located arrangement and the result set of a run, with the two tests
// the run applies to candidates (inside the search region, same instance as another).

#include <algorithm>
#include <cmath>

#include "flexalign/flxalign_archive.h"
#include "flexalign/flxalign_dof.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"

namespace {

using Defs = vcFlexAlignDefs;
using namespace vc_flxalign;

vcPtrHandle<vc2XformBase> cloneChecked(const vcPtrHandle<vc2XformBase>& h) {
  return (*h).clone();  // the dereference throws vcBadPointer for an empty handle
}

}  // namespace

vcFlexAlignResult::vcFlexAlignResult()
    : pose_(new vc2XformLinear),
      deformationField_(new vc2XformLinear),
      arrangementOrigin_(new vc2XformLinear) {}

vcFlexAlignResult::vcFlexAlignResult(const vcFlexAlignResult& o) { assign_(o); }

vcFlexAlignResult& vcFlexAlignResult::operator=(const vcFlexAlignResult& o) {
  if (this != &o) assign_(o);
  return *this;
}

void vcFlexAlignResult::assign_(const vcFlexAlignResult& o) {
  vcPtrHandle<vc2XformBase> pose = cloneChecked(o.pose_);
  vcPtrHandle<vc2XformBase> field = cloneChecked(o.deformationField_);
  std::vector<vcPtrHandle<vcFlexSubModelResult>> subs;
  subs.reserve(o.subModelResults_.size());
  for (const auto& h : o.subModelResults_) subs.push_back((*h).clone());
  pose_ = pose;
  deformationField_ = field;
  subModelResults_ = std::move(subs);
  arrangementOrigin_ = o.arrangementOrigin_;
  score_ = o.score_;
  found_ = o.found_;
  infoStrings_ = o.infoStrings_;
  infoIds_ = o.infoIds_;
  positionIndices_ = o.positionIndices_;
  dofValues_ = o.dofValues_;
  dofMode_ = o.dofMode_;
  status_ = o.status_;
  instanceStatus_ = o.instanceStatus_;
}

vcVector<2> vcFlexAlignResult::location() const { return (*pose_).mapPoint(vcVector<2>(0, 0)); }

void vcFlexAlignResult::getSubModelResult(long index,
                                          vcPtrHandle<vcFlexSubModelResult>& out) const {
  out = vcPtrHandle<vcFlexSubModelResult>();
  const auto at = std::find(positionIndices_.begin(), positionIndices_.end(), index);
  if (at != positionIndices_.end())
    out = subModelResults_[static_cast<std::size_t>(at - positionIndices_.begin())];
}

long vcFlexAlignResult::getSubModelResult(const std::vector<long>& indices,
                                          vcPtrHandle<vcFlexSubModelResult>& out) const {
  for (std::size_t k = 0; k < indices.size(); ++k) {
    getSubModelResult(indices[k], out);
    if (out) return static_cast<long>(k);
  }
  out = vcPtrHandle<vcFlexSubModelResult>();
  return -1;
}

void vcFlexAlignResult::draw(vcGraphicList&, unsigned long) const {}

void vcFlexAlignResult::poseToDofValue(Defs::DOFMode mode, const vc2XformBase& startPose) {
  if (mode == Defs::eCustom) throw Defs::NotImplemented();
  const vcPtrHandle<vc2XformBase> rel = (*pose_).composeBase(*startPose.inverseBase());
  const vcMatrix<2> m = rel->linearXform(vcVector<2>(0, 0)).matrix();
  const std::array<double, 4> v =
      mode == Defs::eAdvanced ? advancedDofValues(m) : standardDofValues(m);
  dofValues_.assign(v.begin(), v.end());
}

bool vcFlexAlignResult::isWithinDofUncertainty(const vcFlexArrangement& arrangement,
                                               const vc2XformBase& startPose,
                                               const vcFlexAlignRunParams& rp,
                                               bool checkSubModels) {
  if (rp.dofMode() == Defs::eCustom) throw Defs::NotImplemented();
  poseToDofValue(rp.dofMode(), startPose);
  const vcVector<2> s = startPose.mapPoint({0, 0}), p = (*pose_).mapPoint({0, 0});
  if (std::fabs(p.x() - s.x()) > rp.xUncertainty() + 2.0) return false;
  if (std::fabs(p.y() - s.y()) > rp.yUncertainty() + 2.0) return false;
  // Degrees for angles, factors for scales.
  const double tolerance[4] = {0.5, 0.01, rp.dofMode() == Defs::eAdvanced ? 0.5 : 0.01, 0.01};
  const vc_DofData& t = rp.dofData();
  for (std::size_t i = 0; i < dofValues_.size() && i < t.numDofs(); ++i) {
    const long dof = 1L << i;
    const double v = dofValues_[i], tol = tolerance[i];
    double lo, hi;
    if (t.isEnabled(dof)) {
      lo = std::min(t.getMin(dof), t.getMax(dof)) - tol;
      hi = std::max(t.getMin(dof), t.getMax(dof)) + tol;
    } else {
      const double neutral = t.getMode(dof) == vc_DofData::eMultiplicative ? 1.0 : 0.0;
      lo = neutral - tol;
      hi = neutral + tol;
    }
    if (v < lo || v > hi) return false;
  }
  if (!checkSubModels) return true;
  for (std::size_t k = 0; k < subModelResults_.size(); ++k) {
    const long index = positionIndices_[k];
    const std::size_t p = static_cast<std::size_t>(index);
    const vcFlexSubModel& sm =
        arrangement.subModels()[static_cast<std::size_t>(arrangement.subModelIndices()[p])];
    // A blank instance was placed, not searched: there is no measurement to check.
    if (sm.modelType() == vcFlexModelDefs::eBlank) continue;
    // Where the arrangement pose puts the instance.
    const vcPtrHandle<vc2XformBase> expected = (*pose_).composeBase(
        *arrangement.origin()->inverseBase()->composeBase(*arrangement.positions()[p]));
    if (!subModelResults_[k]->isWithinDofUncertainty(sm, *expected,
                                                     rp.subModelInstanceParams(index)))
      return false;
  }
  return true;
}

bool vcFlexAlignResult::isOverlapping(const vcFlexArrangement& arrangement,
                                      const vcFlexAlignResult& other,
                                      const vcFlexAlignRunParams& rp) const {
  const vcVector<2> centre = vcFlexArrangementHelper::centerPt(arrangement);
  const vcVector<2> c1 = (*pose_).mapPoint(centre), c2 = (*other.pose_).mapPoint(centre);
  const vcRect box = arrangement.encloseRect();
  auto mappedSize = [&](const vc2XformBase& pose) {
    const vc2XformLinear lin = pose.linearXform({0, 0});
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const vcVector<2>& c : {box.ul(), box.ur(), box.lr(), box.ll()}) {
      const vcVector<2> q = lin.mapPoint(c);
      x0 = std::min(x0, q.x()), x1 = std::max(x1, q.x());
      y0 = std::min(y0, q.y()), y1 = std::max(y1, q.y());
    }
    return vcVector<2>(x1 - x0, y1 - y0);
  };
  const vcVector<2> s1 = mappedSize(*pose_), s2 = mappedSize(*other.pose_);
  const double ox = std::max(0.0, 1.0 - 2.0 * std::fabs(c1.x() - c2.x()) / (s1.x() + s2.x()));
  const double oy = std::max(0.0, 1.0 - 2.0 * std::fabs(c1.y() - c2.y()) / (s1.y() + s2.y()));
  if (!(ox * oy > rp.xyOverlap())) return false;
  const vcGeorapidDOFList& list = rp.dofList();
  if (list.empty()) return true;
  const std::vector<vxGeorapidDOF*> dofs = list.dofs();
  const std::size_t n = dofs.size();
  for (std::size_t k = 0; k < n; ++k) {
    // The list's first DOF is the table's highest entry.
    const std::size_t d = n - 1 - k;
    if (d >= dofValues_.size() || d >= other.dofValues_.size()) continue;
    float diff = static_cast<float>(std::fabs(dofValues_[d] - other.dofValues_[d]));
    const double period = dofs[k]->circular();
    if (period > 0.0 && period - diff < diff) diff = static_cast<float>(period - diff);
    if (rp.dofData().getOverlap(1L << d) < diff) return false;
  }
  return true;
}

std::string vcFlexAlignResult::toDebugString() const {
  const std::string ind(10, ' ');
  const vcVector<2> loc = location();
  const vcMatrix<2> m = (*pose_).linearXform({0, 0}).matrix();
  std::string s = ind + "location = (" + vfStr(loc.x()) + ", " + vfStr(loc.y()) + ")\n";
  s += ind + "pose = \n" + ind + "   " + vfStr(m(0, 0)) + " " + vfStr(m(0, 1)) + " " +
       vfStr(loc.x()) + "\n" + ind + "   " + vfStr(m(1, 0)) + " " + vfStr(m(1, 1)) + " " +
       vfStr(loc.y()) + "\n";
  s += ind + "angle = " + vfStr(m.xRot().toDouble() * vcDegPerRad) + "\n";
  s += ind + "xScale = " + vfStr(m.xScale()) + "\n";
  s += ind + "yScale = " + vfStr(m.yScale()) + "\n";
  s += ind + "score = " + vfStr(score()) + "\n";
  s += ind + "status = " + status_.text() + "\n";
  for (std::size_t p = 0; p < instanceStatus_.size(); ++p)
    if (!instanceStatus_[p].found())
      s +=
          ind + "missed #" + vfStr(static_cast<long>(p)) + " = " + instanceStatus_[p].text() + "\n";
  for (std::size_t k = 0; k < subModelResults_.size(); ++k)
    s += "\n           Sub-Model #" + vfStr(positionIndices_[k]) + "\n" +
         subModelResults_[k]->toDebugString();
  return s;
}

vcArchive& operator||(vcArchive& ar, vcFlexAlignResult& r) {
  unsigned char version = 1;
  ar || version;
  if (version > 1) throw vcArchive::UnknownVersion(kSource, __LINE__);
  // Loads into a fresh result, so a damaged archive leaves `r` as it was.
  vcFlexAlignResult t;
  vcFlexAlignResult& x = ar.isStoring() ? r : t;
  auto xform = [&](vcPtrHandle<vc2XformBase>& h) {
    vc2XformBase* p = h.ptr();
    serializePointer(ar, nullptr, p);
    if (ar.isLoading()) {
      if (!p) throw vcArchive::BadData("flxalign result: empty transform");
      h = vcPtrHandle<vc2XformBase>(p);
    }
  };
  xform(x.pose_);
  xform(x.deformationField_);
  ar || x.score_;
  {
    vcPtrHandle<vc2XformBase> origin(const_cast<vc2XformBase*>(x.arrangementOrigin_.ptr()));
    xform(origin);
    x.arrangementOrigin_ = origin;
  }
  exchangeListVersion(ar, __LINE__);
  const std::size_t n = exchangeCount32(ar, x.subModelResults_.size(), 1);
  if (ar.isLoading()) x.subModelResults_.assign(n, vcPtrHandle<vcFlexSubModelResult>());
  for (auto& h : x.subModelResults_) {
    vcFlexSubModelResult* p = h.ptr();
    serializePointer(ar, nullptr, p);
    if (ar.isLoading()) {
      if (!p) throw vcArchive::BadData("flxalign result: empty sub-model result");
      h = vcPtrHandle<vcFlexSubModelResult>(p);
    }
  }
  exchangeLongs(ar, x.positionIndices_, __LINE__);
  exchangeListVersion(ar, __LINE__);
  const std::size_t nd = exchangeCount32(ar, x.dofValues_.size(), sizeof(double));
  if (ar.isLoading()) x.dofValues_.assign(nd, 0.0);
  for (double& d : x.dofValues_) ar || d;
  ar || x.found_;
  exchangeListVersion(ar, __LINE__);
  const std::size_t ns = exchangeCount32(ar, x.infoStrings_.size(), 1);
  if (ar.isLoading()) x.infoStrings_.assign(ns, std::string());
  for (std::string& str : x.infoStrings_) ar || str;
  exchangeListVersion(ar, __LINE__);
  const std::size_t ni = exchangeCount32(ar, x.infoIds_.size(), 4);
  if (ar.isLoading()) x.infoIds_.assign(ni, 0);
  for (unsigned long& id : x.infoIds_) {
    unsigned int v = static_cast<unsigned int>(id);
    ar || v;
    id = v;
  }
  unsigned int mode = static_cast<unsigned int>(x.dofMode_);
  ar || mode;
  if (version >= 1) {
    exchangeStatus(ar, x.status_);
    exchangeStatuses(ar, x.instanceStatus_, __LINE__);
  }
  if (ar.isStoring()) return ar;
  // A version-0 result says only whether it was found; a required instance missing was then
  // the only reason for not being found.
  if (version == 0)
    x.status_ = vcFlexAlignStatus{x.found_ ? vcFlexAlignStatus::eFound
                                           : vcFlexAlignStatus::eRequiredMissing};
  if (x.status_.found() != x.found_)
    throw vcArchive::BadData("flxalign result: status does not match the found flag");
  if (x.positionIndices_.size() != x.subModelResults_.size())
    throw vcArchive::BadData("flxalign result: positions do not match the sub-model results");
  // An enumeration must not hold a value outside its own (that is undefined behaviour).
  if (mode < Defs::eStandard || mode > Defs::eCustom)
    throw vcArchive::BadData("flxalign result: unknown DOF mode");
  x.dofMode_ = static_cast<Defs::DOFMode>(mode);
  r = std::move(t);
  return ar;
}

// ---- result set ----

vcFlexAlignResultSet::vcFlexAlignResultSet(const vcFlexAlignResultSet& o)
    : time_(o.time_),
      searches_(o.searches_),
      startPose_(o.startPose_),
      results_(o.results_),
      rejected_(o.rejected_) {}

vcFlexAlignResultSet& vcFlexAlignResultSet::operator=(const vcFlexAlignResultSet& o) {
  if (this == &o) return *this;
  std::vector<vcFlexAlignResult> results = o.results_;
  std::vector<vcFlexAlignResult> rejected = o.rejected_;
  time_ = o.time_;
  searches_ = o.searches_;
  startPose_ = o.startPose_;
  results_ = std::move(results);
  rejected_ = std::move(rejected);
  return *this;
}

long vcFlexAlignResultSet::numFound() const {
  return static_cast<long>(std::count_if(results_.begin(), results_.end(),
                                         [](const vcFlexAlignResult& r) { return r.found(); }));
}

void vcFlexAlignResultSet::draw(vcGraphicList&, unsigned long) const {}

std::string vcFlexAlignResultSet::toDebugString() const {
  const std::string ind(10, ' ');
  std::string s = ind + "time = " + vfStr(time_) + "\n" + ind + "numFound = " + vfStr(numFound()) +
                  "\n" + ind + "searches = " + vfStr(searches_) + "\n";
  for (std::size_t i = 0; i < results_.size(); ++i)
    s += "\n   Result #" + vfStr(static_cast<long>(i)) + "\n" + results_[i].toDebugString();
  for (std::size_t i = 0; i < rejected_.size(); ++i)
    s += "\n   Rejected #" + vfStr(static_cast<long>(i)) + "\n" + rejected_[i].toDebugString();
  return s;
}

vcArchive& operator||(vcArchive& ar, vcFlexAlignResultSet& set) {
  unsigned char version = 2;
  ar || version;
  if (version > 2) throw vcArchive::UnknownVersion(kSource, __LINE__);
  double time = set.time_;
  ar || time;
  vc2XformBase* start = const_cast<vc2XformBase*>(set.startPose_.ptr());
  serializePointer(ar, nullptr, start);
  vcPtrHandle_const<vc2XformBase> startPose =
      ar.isLoading() ? vcPtrHandle_const<vc2XformBase>(start) : set.startPose_;
  // Results, then (from version 1) the rejected ones, each behind a version byte and a count;
  // loading fills locals, so a damaged archive leaves the set as it was.
  auto list = [&](std::vector<vcFlexAlignResult>& stored, std::vector<vcFlexAlignResult>& read) {
    exchangeListVersion(ar, __LINE__);
    const std::size_t n = exchangeCount32(ar, stored.size(), 1);
    if (ar.isStoring()) {
      for (vcFlexAlignResult& r : stored) ar || r;
      return;
    }
    read.resize(n);
    for (vcFlexAlignResult& r : read) ar || r;
  };
  std::vector<vcFlexAlignResult> results, rejected;
  list(set.results_, results);
  if (version >= 1) list(set.rejected_, rejected);
  int searches = static_cast<int>(set.searches_);
  if (version >= 2) ar || searches;
  if (ar.isStoring()) return ar;
  if (searches < 0) throw vcArchive::BadData("flxalign result set: negative search count");
  set.searches_ = searches;
  set.time_ = time;
  set.startPose_ = startPose;
  set.results_ = std::move(results);
  set.rejected_ = std::move(rejected);
  return ar;
}
