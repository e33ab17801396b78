#include "platform/core/vc2XformBase.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <typeinfo>

#include "platform/core/vcArchive.h"
#include "platform/core/vcLinSolve.h"
#include "platform/core/vcShapes.h"

namespace {

// Monomials 1, x, y, x^2, xy, y^2, x^3, x^2y, xy^2, y^3 and their partial derivatives.
void monomials(const vcVector<2>& u, double m[10]) {
  const double x = u.x(), y = u.y();
  m[0] = 1, m[1] = x, m[2] = y;
  m[3] = x * x, m[4] = x * y, m[5] = y * y;
  m[6] = x * x * x, m[7] = x * x * y, m[8] = x * y * y, m[9] = y * y * y;
}
void monomialsDx(const vcVector<2>& u, double m[10]) {
  const double x = u.x(), y = u.y();
  m[0] = 0, m[1] = 1, m[2] = 0;
  m[3] = 2 * x, m[4] = y, m[5] = 0;
  m[6] = 3 * x * x, m[7] = 2 * x * y, m[8] = y * y, m[9] = 0;
}
void monomialsDy(const vcVector<2>& u, double m[10]) {
  const double x = u.x(), y = u.y();
  m[0] = 0, m[1] = 0, m[2] = 1;
  m[3] = 0, m[4] = x, m[5] = 2 * y;
  m[6] = 0, m[7] = x * x, m[8] = 2 * x * y, m[9] = 3 * y * y;
}

vcPtrHandle<vc2XformBase> linearAsHandle(const vcXform<2>& x) { return new vc2XformLinear(x); }

}  // namespace

// ---- vc2XformDefs::Errors ----

void vc2XformDefs::Errors::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(Errors))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2XformDefs::Errors");
  serialize_(ar, version);
  ar.setVisited(this, typeid(Errors));
}

void vc2XformDefs::Errors::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformDefs::Errors", version);
  vcException::dispatchSerialize(ar);
}

// ---- composition helpers ----

vcPtrHandle<vc2XformBase> operator*(const vc2XformBase& a, const vc2XformBase& b) {
  return a.composeBase(b);
}

vcPtrHandle<vc2XformBase> operator*(const vcPtrHandle_const<vc2XformBase>& a,
                                    const vcPtrHandle_const<vc2XformBase>& b) {
  return a->composeBase(*b);
}

vcPtrHandle<vc2XformBase> vfComposeXformsGeneric(const vc2XformBase& a, const vc2XformBase& b) {
  return new vc2XformComposed(a.clone(), b.clone());
}

// ---- vc2XformLinear ----

vcPtrHandle<vc2XformBase> vc2XformLinear::composeBase(const vc2XformBase& other) const {
  if (const auto* poly = dynamic_cast<const vc2XformPoly*>(&other))
    return new vc2XformPoly(poly->premultiplied(x_));
  if (other.isLinear()) return linearAsHandle(x_ * other.linearXform(vcVector<2>()).xform());
  return vfComposeXformsGeneric(*this, other);
}

vcPtrHandle<vc2XformBase> vc2XformLinear::inverseBase() const {
  return linearAsHandle(x_.inverse());
}

vcPtrHandle<vc2XformBase> vc2XformLinear::clone() const { return new vc2XformLinear(*this); }

void vc2XformLinear::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2XformLinear))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2XformLinear");
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2XformLinear));
}

void vc2XformLinear::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformLinear", version);
  vcXform<2> x = x_;
  ar || x;
  if (ar.isLoading()) {
    mutating_();
    x_ = x;
  }
}

// ---- vc2XformPoly ----

vc2XformPoly::vc2XformPoly(const std::vector<vcVector<2>>& to, const std::vector<vcVector<2>>& from,
                           int order) {
  if (order < 1 || order > 3) throw vcBadParams("polynomial order must be 1, 2 or 3");
  if (to.size() != from.size())
    throw vcBadParams("polynomial fit needs point lists of equal length");
  const int nt = numTerms(order);
  if (from.size() < static_cast<std::size_t>(nt))
    throw vcBadParams("polynomial fit of order " + std::to_string(order) + " needs at least " +
                      std::to_string(nt) + " point pairs");

  // Normalise: centre on the mean, scale so the RMS distance from it is sqrt(2).
  vcVector<2> c, lo = from[0], hi = from[0];
  for (const auto& p : from) {
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
      throw vcBadParams("polynomial fit points must be finite");
    c += p;
    lo = vcVector<2>(std::min(lo.x(), p.x()), std::min(lo.y(), p.y()));
    hi = vcVector<2>(std::max(hi.x(), p.x()), std::max(hi.y(), p.y()));
  }
  c = c / static_cast<double>(from.size());
  double ss = 0;
  for (const auto& p : from) ss += (p - c).dot(p - c);
  const double rms = std::sqrt(ss / static_cast<double>(from.size()));
  if (!(rms > 0)) throw vcMathError::Singular("polynomial fit points all coincide");
  const double k = std::sqrt(2.0) / rms;
  const vcXform<2> pre(vcMatrix<2>(k, 0, 0, k), c * -k);

  // Normal equations, shared by both output coordinates.
  std::vector<double> ata(nt * nt, 0.0), bx(nt, 0.0), by(nt, 0.0);
  double m[10];
  for (std::size_t i = 0; i < from.size(); ++i) {
    monomials(pre.mapPoint(from[i]), m);
    for (int r = 0; r < nt; ++r) {
      for (int s = 0; s < nt; ++s) ata[r * nt + s] += m[r] * m[s];
      bx[r] += m[r] * to[i].x();
      by[r] += m[r] * to[i].y();
    }
  }
  std::vector<double> ata2 = ata;
  if (!vfSolveLinearSystem(ata, bx, nt, 1e-10) || !vfSolveLinearSystem(ata2, by, nt, 1e-10))
    throw vcMathError::Singular("points do not determine a polynomial of order " +
                                std::to_string(order));
  order_ = order;
  pre_ = pre;
  coef_.assign(bx.begin(), bx.end());
  coef_.insert(coef_.end(), by.begin(), by.end());
  domMin_ = lo;
  domMax_ = hi;
}

vcVector<2> vc2XformPoly::mapPoint(const vcVector<2>& p) const {
  const int nt = numTerms(order_);
  double m[10];
  monomials(pre_.mapPoint(p), m);
  double x = 0, y = 0;
  for (int i = 0; i < nt; ++i) {
    x += coef_[i] * m[i];
    y += coef_[nt + i] * m[i];
  }
  return {x, y};
}

vc2XformLinear vc2XformPoly::linearXform(const vcVector<2>& p) const {
  const int nt = numTerms(order_);
  const vcVector<2> u = pre_.mapPoint(p);
  double dx[10], dy[10];
  monomialsDx(u, dx);
  monomialsDy(u, dy);
  double j00 = 0, j01 = 0, j10 = 0, j11 = 0;
  for (int i = 0; i < nt; ++i) {
    j00 += coef_[i] * dx[i];
    j01 += coef_[i] * dy[i];
    j10 += coef_[nt + i] * dx[i];
    j11 += coef_[nt + i] * dy[i];
  }
  // Chain rule through the normalisation: d f / d p = (d f / d u) * pre.M.
  const vcMatrix<2> j = vcMatrix<2>(j00, j01, j10, j11) * pre_.matrix();
  return vc2XformLinear(j, mapPoint(p) - j * p);
}

vc2XformPoly vc2XformPoly::premultiplied(const vcXform<2>& a) const {
  vc2XformPoly r(*this);
  const int nt = numTerms(order_);
  const vcMatrix<2>& m = a.matrix();
  for (int i = 0; i < nt; ++i) {
    const double cx = coef_[i], cy = coef_[nt + i];
    r.coef_[i] = m(0, 0) * cx + m(0, 1) * cy;
    r.coef_[nt + i] = m(1, 0) * cx + m(1, 1) * cy;
  }
  r.coef_[0] += a.trans().x();
  r.coef_[nt] += a.trans().y();
  return r;
}

vcPtrHandle<vc2XformBase> vc2XformPoly::composeBase(const vc2XformBase& other) const {
  if (!other.isLinear()) return vfComposeXformsGeneric(*this, other);
  // p -> poly(pre(L p)): only the normalisation changes; the domain follows L's inverse.
  const vcXform<2> l = other.linearXform(vcVector<2>()).xform();
  vc2XformPoly* r = new vc2XformPoly(*this);
  r->pre_ = pre_ * l;
  if (std::fabs(l.matrix().det()) > 1e-300) {
    const vcXform<2> li = l.inverse();
    const vcVector<2> corners[4] = {
        domMin_, {domMax_.x(), domMin_.y()}, {domMin_.x(), domMax_.y()}, domMax_};
    vcVector<2> lo = li.mapPoint(corners[0]), hi = lo;
    for (const auto& c : corners) {
      const vcVector<2> q = li.mapPoint(c);
      lo = vcVector<2>(std::min(lo.x(), q.x()), std::min(lo.y(), q.y()));
      hi = vcVector<2>(std::max(hi.x(), q.x()), std::max(hi.y(), q.y()));
    }
    r->domMin_ = lo;
    r->domMax_ = hi;
  }
  return r;
}

vcPtrHandle<vc2XformBase> vc2XformPoly::inverseBase() const {
  if (order_ == 1) return linearAsHandle(linearXform(vcVector<2>()).xform().inverse());
  return new vc2XformPolyInverse(*this);
}

vcPtrHandle<vc2XformBase> vc2XformPoly::clone() const { return new vc2XformPoly(*this); }

void vc2XformPoly::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2XformPoly))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2XformPoly");
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2XformPoly));
}

void vc2XformPoly::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformPoly", version);
  int order = order_;
  vcXform<2> pre = pre_;
  vcVector<2> lo = domMin_, hi = domMax_;
  ar || order;
  ar || pre;
  const std::uint64_t n = ar.exchangeCount(coef_.size(), sizeof(double));
  if (ar.isLoading() && (order < 1 || order > 3 || n != 2u * numTerms(order)))
    throw vcArchive::BadData("archive holds an invalid polynomial transform");
  std::vector<double> coef = coef_;
  coef.resize(static_cast<std::size_t>(n));
  for (double& c : coef) ar || c;
  ar || lo || hi;
  if (ar.isLoading()) {
    mutating_();
    order_ = order;
    pre_ = pre;
    coef_ = std::move(coef);
    domMin_ = lo;
    domMax_ = hi;
  }
}

// ---- vc2XformPolyInverse ----

vc2XformPolyInverse::vc2XformPolyInverse(const vc2XformPoly& forward) : fwd_(forward) {
  constexpr int kGrid = 16;
  vcVector<2> lo = fwd_.domainMin(), hi = fwd_.domainMax();
  // A degenerate domain still needs an area to sample.
  if (hi.x() - lo.x() <= 0) hi.x(lo.x() + 1);
  if (hi.y() - lo.y() <= 0) hi.y(lo.y() + 1);
  std::vector<vcVector<2>> grid, mapped;
  grid.reserve(kGrid * kGrid);
  mapped.reserve(kGrid * kGrid);
  int sign = 0;
  for (int j = 0; j < kGrid; ++j) {
    for (int i = 0; i < kGrid; ++i) {
      const vcVector<2> p(lo.x() + (hi.x() - lo.x()) * i / (kGrid - 1),
                          lo.y() + (hi.y() - lo.y()) * j / (kGrid - 1));
      const double d = fwd_.linearXform(p).matrix().det();
      const int s = d > 0 ? 1 : (d < 0 ? -1 : 0);
      if (s == 0 || (sign != 0 && s != sign))
        throw vcMathError::Singular("polynomial transform folds over its domain");
      sign = s;
      grid.push_back(p);
      mapped.push_back(fwd_.mapPoint(p));
    }
  }
  // One order more than the forward map follows the inverse's curvature better.
  est_ = vc2XformPoly(grid, mapped, std::min(3, fwd_.order() + 1));
}

vcVector<2> vc2XformPolyInverse::mapPoint(const vcVector<2>& p) const {
  const vcVector<2> start = est_.mapPoint(p);
  vcVector<2> q = start;
  for (int it = 0; it < 20; ++it) {
    const vcVector<2> r = fwd_.mapPoint(q) - p;
    const vcMatrix<2> j = fwd_.linearXform(q).matrix();
    const double d = j.det();
    if (!(std::fabs(d) > 1e-300)) return start;
    const vcVector<2> step = j.inverse() * r;
    q -= step;
    if (!std::isfinite(q.x()) || !std::isfinite(q.y())) return start;
    if (step.len() <= 1e-12 * (1.0 + q.len())) return q;
  }
  return (fwd_.mapPoint(q) - p).len() < (fwd_.mapPoint(start) - p).len() ? q : start;
}

vc2XformLinear vc2XformPolyInverse::linearXform(const vcVector<2>& p) const {
  const vcVector<2> q = mapPoint(p);
  const vcMatrix<2> ji = fwd_.linearXform(q).matrix().inverse();
  return vc2XformLinear(ji, q - ji * p);
}

vcPtrHandle<vc2XformBase> vc2XformPolyInverse::composeBase(const vc2XformBase& other) const {
  return vfComposeXformsGeneric(*this, other);
}

void vc2XformPolyInverse::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2XformPolyInverse))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2XformPolyInverse");
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2XformPolyInverse));
}

void vc2XformPolyInverse::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformPolyInverse", version);
  vc2XformPoly fwd = fwd_, est = est_;
  ar || fwd || est;
  if (ar.isLoading()) {
    mutating_();
    fwd_ = fwd;
    est_ = est;
  }
}

// ---- vc2XformComposed ----

vc2XformComposed::vc2XformComposed() : a_(new vc2XformLinear), b_(new vc2XformLinear) {}

vc2XformComposed::vc2XformComposed(vcPtrHandle_const<vc2XformBase> a,
                                   vcPtrHandle_const<vc2XformBase> b)
    : a_(std::move(a)), b_(std::move(b)) {
  if (!a_ || !b_) throw vcBadPointer("composed transform needs two transforms");
}

vcVector<2> vc2XformComposed::mapPoint(const vcVector<2>& p) const {
  return a_->mapPoint(b_->mapPoint(p));
}

bool vc2XformComposed::isLinear() const { return a_->isLinear() && b_->isLinear(); }

vc2XformLinear vc2XformComposed::linearXform(const vcVector<2>& p) const {
  return a_->linearXform(b_->mapPoint(p)) * b_->linearXform(p);
}

vcPtrHandle<vc2XformBase> vc2XformComposed::composeBase(const vc2XformBase& other) const {
  return vfComposeXformsGeneric(*this, other);
}

vcPtrHandle<vc2XformBase> vc2XformComposed::inverseBase() const {
  return new vc2XformComposed(b_->inverseBase(), a_->inverseBase());
}

vcPtrHandle<vc2XformBase> vc2XformComposed::clone() const {
  return new vc2XformComposed(a_->clone(), b_->clone());
}

void vc2XformComposed::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2XformComposed))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2XformComposed");
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2XformComposed));
}

void vc2XformComposed::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformComposed", version);
  vc2XformBase* a = const_cast<vc2XformBase*>(a_.ptr());
  vc2XformBase* b = const_cast<vc2XformBase*>(b_.ptr());
  if (ar.isStoring()) {
    serializePointer(ar, this, a);
    serializePointer(ar, this, b);
    return;
  }
  a = nullptr;
  b = nullptr;
  serializePointer(ar, this, a);
  vcPtrHandle_const<vc2XformBase> ha(a);  // owns a from here even if b fails
  serializePointer(ar, this, b);
  vcPtrHandle_const<vc2XformBase> hb(b);
  if (!ha || !hb) throw vcArchive::BadData("archive holds a composed transform without parts");
  mutating_();
  a_ = ha;
  b_ = hb;
}
