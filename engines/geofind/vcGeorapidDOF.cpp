#include "vcGeorapidDOF.h"

#include <cmath>
#include <typeinfo>

#include "platform/core/vcAngle.h"
#include "platform/core/vcArchive.h"

namespace {

// Relative overlap tolerance of a multiplicative DOF around its range centre.
double multiplicativeTolerance(const vxGeorapidDOF& d) {
  const double centre = 0.5 * (std::fabs(d.low()) + std::fabs(d.high()));
  const double c = centre > 0 ? centre : 1.0;
  return std::max(0.0, (static_cast<double>(d.overlap()) - 1.0) * c);
}

}  // namespace

vxGeorapidDOF::vxGeorapidDOF(vxGeorapidDOF* inner, int ownInner)
    : next_(inner), ownsNext_(ownInner != 0) {}

vxGeorapidDOF::~vxGeorapidDOF() {
  if (ownsNext_) delete next_;
}

void vxGeorapidDOF::next(vxGeorapidDOF* inner, bool own) {
  mutating_();
  if (inner == next_) {
    ownsNext_ = own;
    return;
  }
  if (ownsNext_) delete next_;
  next_ = inner;
  ownsNext_ = own;
}

vxGeorapidDOF* vxGeorapidDOF::releaseNext() {
  mutating_();
  vxGeorapidDOF* n = next_;
  next_ = nullptr;
  ownsNext_ = true;
  return n;
}

void vxGeorapidDOF::range(double low, double high) {
  mutating_();
  low_ = low;
  high_ = high;
}

void vxGeorapidDOF::overlap(float v) {
  mutating_();
  overlap_ = v;
}

double vxGeorapidDOF::overlapTolerance() const {
  return std::max(0.0, static_cast<double>(overlap_));
}

bool vxGeorapidDOF::equal(const vxGeorapidDOF& o, bool deep) const {
  if (kind() != o.kind() || low_ != o.low_ || high_ != o.high_ || overlap_ != o.overlap_)
    return false;
  if (!deep) return true;
  if ((next_ == nullptr) != (o.next_ == nullptr)) return false;
  return next_ == nullptr || next_->equal(*o.next_, true);
}

void vxGeorapidDOF::copyInto_(vxGeorapidDOF& to) const {
  to.low_ = low_;
  to.high_ = high_;
  to.overlap_ = overlap_;
  to.next(next_ ? next_->clone() : nullptr, true);
}

void vxGeorapidDOF::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vxGeorapidDOF))) return;
  const unsigned char v = vfExchangeVersion(ar, 0, 0, "vxGeorapidDOF");
  serialize_(ar, v);
  ar.setVisited(this, typeid(vxGeorapidDOF));
}

void vxGeorapidDOF::serialize_(vcArchive& ar, unsigned char) {
  ar || low_ || high_ || overlap_;
  vxGeorapidDOF* inner = next_;
  serializePointer(ar, this, inner);
  if (ar.isLoading()) next(inner, true);
}

// Each concrete level carries its own version byte so that a class can grow fields later.
#define VC_GEORAPID_DOF_LEVEL(Class, Base)                                    \
  void Class::dispatchSerialize(vcArchive& ar) {                              \
    if (ar.haveVisited(this, typeid(Class))) return;                          \
    vfExchangeVersion(ar, 0, 0, #Class);                                      \
    ar.setVisited(this, typeid(Class));                                       \
    vxGeorapidDOF::dispatchSerialize(ar);                                     \
  }                                                                           \
  Class::Class(vxGeorapidDOF* inner, int ownInner) : Base(inner, ownInner) {} \
  vxGeorapidDOF* Class::clone() const {                                       \
    auto* c = new Class(nullptr, 1);                                          \
    copyInto_(*c);                                                            \
    return c;                                                                 \
  }

VC_GEORAPID_DOF_LEVEL(vcGeorapidAngle, vxGeorapidDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidScale, vxGeorapidFactorDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidXScale, vxGeorapidFactorDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidYScale, vxGeorapidFactorDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidScaleLinear, vxGeorapidFactorDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidAspectLinear, vxGeorapidFactorDOF)
VC_GEORAPID_DOF_LEVEL(vcGeorapidSkew, vxGeorapidDOF)
#undef VC_GEORAPID_DOF_LEVEL

vcMatrix<2> vcGeorapidAngle::matrix(double v) const {
  const double a = v * vcRadPerDeg, c = std::cos(a), s = std::sin(a);
  return {c, -s, s, c};
}
vcMatrix<2> vcGeorapidAngle::derivative(double v) const {
  const double a = v * vcRadPerDeg, c = std::cos(a) * vcRadPerDeg, s = std::sin(a) * vcRadPerDeg;
  return {-s, -c, c, -s};
}

double vxGeorapidFactorDOF::overlapTolerance() const { return multiplicativeTolerance(*this); }

vcMatrix<2> vcGeorapidScale::matrix(double v) const { return {v, 0, 0, v}; }
vcMatrix<2> vcGeorapidScale::derivative(double) const { return {1, 0, 0, 1}; }

vcMatrix<2> vcGeorapidXScale::matrix(double v) const { return {v, 0, 0, 1}; }
vcMatrix<2> vcGeorapidXScale::derivative(double) const { return {1, 0, 0, 0}; }

vcMatrix<2> vcGeorapidYScale::matrix(double v) const { return {1, 0, 0, v}; }
vcMatrix<2> vcGeorapidYScale::derivative(double) const { return {0, 0, 0, 1}; }

vcMatrix<2> vcGeorapidScaleLinear::matrix(double v) const { return {v, 0, 0, v}; }
vcMatrix<2> vcGeorapidScaleLinear::derivative(double) const { return {1, 0, 0, 1}; }

vcMatrix<2> vcGeorapidAspectLinear::matrix(double v) const { return {1, 0, 0, v}; }
vcMatrix<2> vcGeorapidAspectLinear::derivative(double) const { return {0, 0, 0, 1}; }

// The y axis image is (-sin v, cos v): the per-axis form with xRot 0 and yRot v.
vcMatrix<2> vcGeorapidSkew::matrix(double v) const {
  const double a = v * vcRadPerDeg;
  return {1, -std::sin(a), 0, std::cos(a)};
}
vcMatrix<2> vcGeorapidSkew::derivative(double v) const {
  const double a = v * vcRadPerDeg;
  return {0, -std::cos(a) * vcRadPerDeg, 0, -std::sin(a) * vcRadPerDeg};
}

vcGeorapidStartPose::vcGeorapidStartPose(vxGeorapidDOF* inner, const vcXform<2>& pose)
    : vxGeorapidDOF(inner, 1), pose_(pose) {}

vxGeorapidDOF* vcGeorapidStartPose::clone() const {
  auto* c = new vcGeorapidStartPose(nullptr, pose_);
  copyInto_(*c);
  return c;
}

void vcGeorapidStartPose::xform(const vcXform<2>& x) {
  mutating_();
  pose_ = x;
}

bool vcGeorapidStartPose::equal(const vxGeorapidDOF& o, bool deep) const {
  if (!vxGeorapidDOF::equal(o, deep)) return false;
  return !deep || static_cast<const vcGeorapidStartPose&>(o).pose_ == pose_;
}

void vcGeorapidStartPose::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcGeorapidStartPose))) return;
  const unsigned char v = vfExchangeVersion(ar, 0, 0, "vcGeorapidStartPose");
  serialize_(ar, v);
  ar.setVisited(this, typeid(vcGeorapidStartPose));
  vxGeorapidDOF::dispatchSerialize(ar);
}

void vcGeorapidStartPose::serialize_(vcArchive& ar, unsigned char) {
  double e[6] = {pose_.matrix()(0, 0), pose_.matrix()(0, 1), pose_.matrix()(1, 0),
                 pose_.matrix()(1, 1), pose_.trans().x(),    pose_.trans().y()};
  for (double& d : e) ar || d;
  if (ar.isLoading()) pose_ = vcXform<2>(vcMatrix<2>(e[0], e[1], e[2], e[3]), {e[4], e[5]});
}

// ---------------------------------------------------------------------------------------------

vcGeorapidDOFList::vcGeorapidDOFList(const vcGeorapidDOFList& o)
    : head_(o.head_ ? o.head_->clone() : nullptr) {}

vcGeorapidDOFList& vcGeorapidDOFList::operator=(const vcGeorapidDOFList& o) {
  if (this != &o) assign(o.head_ ? o.head_->clone() : nullptr);
  return *this;
}

vcGeorapidDOFList::vcGeorapidDOFList(vcGeorapidDOFList&& o) noexcept : head_(o.head_) {
  o.head_ = nullptr;
}

vcGeorapidDOFList& vcGeorapidDOFList::operator=(vcGeorapidDOFList&& o) noexcept {
  if (this != &o) {
    clear();
    head_ = o.head_;
    o.head_ = nullptr;
  }
  return *this;
}

vcGeorapidDOFList::~vcGeorapidDOFList() { clear(); }

void vcGeorapidDOFList::assign(vxGeorapidDOF* head) {
  if (head == head_) return;
  clear();
  head_ = head;
}

void vcGeorapidDOFList::push_back(vxGeorapidDOF* dof) {
  if (!dof) return;
  if (!head_) {
    head_ = dof;
    return;
  }
  vxGeorapidDOF* last = head_;
  while (last->next()) last = last->next();
  last->next(dof, true);
}

void vcGeorapidDOFList::clear() {
  delete head_;
  head_ = nullptr;
}

std::size_t vcGeorapidDOFList::size() const {
  std::size_t n = 0;
  for (const vxGeorapidDOF* d = head_; d; d = d->next()) ++n;
  return n;
}

vxGeorapidDOF* vcGeorapidDOFList::at(std::size_t i) const {
  vxGeorapidDOF* d = head_;
  while (d && i > 0) {
    d = d->next();
    --i;
  }
  return d;
}

std::vector<vxGeorapidDOF*> vcGeorapidDOFList::dofs() const {
  std::vector<vxGeorapidDOF*> v;
  for (vxGeorapidDOF* d = head_; d; d = d->next()) v.push_back(d);
  return v;
}

vxGeorapidDOF* vcGeorapidDOFList::release() {
  vxGeorapidDOF* h = head_;
  head_ = nullptr;
  return h;
}

bool vcGeorapidDOFList::equal(const vcGeorapidDOFList& o, bool deep) const {
  const vxGeorapidDOF* a = head_;
  const vxGeorapidDOF* b = o.head_;
  for (; a && b; a = a->next(), b = b->next())
    if (!a->equal(*b, false)) return false;
  if (a || b) return false;
  return !deep || !head_ || head_->equal(*o.head_, true);
}

void vfSerializeDOFList(vcArchive& ar, const vcPersistent* owner, vcGeorapidDOFList& list) {
  vxGeorapidDOF* head = list.head();
  serializePointer(ar, owner, head);
  if (ar.isLoading()) list.assign(head);  // deletes the chain the list held before
}
