// Abstract 2-D transform used through handles; linear and polynomial implementations.
#pragma once

#include <vector>

#include "platform/core/vcHandle.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcXform.h"

class vc2XformLinear;

class vc2XformBase : public vcRepBase, public virtual vcPersistent {
 public:
  ~vc2XformBase() override = default;
  virtual vcVector<2> mapPoint(const vcVector<2>& p) const = 0;
  virtual bool isLinear() const = 0;
  // Local linear approximation at p.
  virtual vc2XformLinear linearXform(const vcVector<2>& p) const = 0;
  // A new transform that applies `other` first and then this one.
  virtual vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const = 0;
  // Throws vcMathError::Singular when the transform cannot be inverted.
  virtual vcPtrHandle<vc2XformBase> inverseBase() const = 0;
  virtual vcPtrHandle<vc2XformBase> clone() const = 0;
};

// a * b applies b first, then a.
vcPtrHandle<vc2XformBase> operator*(const vc2XformBase& a, const vc2XformBase& b);
vcPtrHandle<vc2XformBase> operator*(const vcPtrHandle_const<vc2XformBase>& a,
                                    const vcPtrHandle_const<vc2XformBase>& b);

// Errors of the transform family; carries no message of its own.
struct vc2XformDefs {
  class Errors : public vcException {
   public:
    Errors() = default;
    Errors(const Errors&) = default;
    void dispatchSerialize(vcArchive& ar) override;

   protected:
    void serialize_(vcArchive& ar, unsigned char version);
  };
};

class vc2XformLinear : public vc2XformBase {
 public:
  vc2XformLinear() = default;
  vc2XformLinear(const vcMatrix<2>& m, const vcVector<2>& t) : x_(m, t) {}
  explicit vc2XformLinear(const vcXform<2>& x) : x_(x) {}
  const vcXform<2>& xform() const { return x_; }
  const vcMatrix<2>& matrix() const { return x_.matrix(); }
  const vcVector<2>& trans() const { return x_.trans(); }

  vcVector<2> mapPoint(const vcVector<2>& p) const override { return x_.mapPoint(p); }
  bool isLinear() const override { return true; }
  vc2XformLinear linearXform(const vcVector<2>&) const override { return *this; }
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  vcPtrHandle<vc2XformBase> inverseBase() const override;
  vcPtrHandle<vc2XformBase> clone() const override;
  vc2XformLinear operator*(const vc2XformLinear& o) const { return vc2XformLinear(x_ * o.x_); }
  vc2XformLinear inverse() const { return vc2XformLinear(x_.inverse()); }
  bool operator==(const vc2XformLinear& o) const { return x_ == o.x_; }
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vc2XformLinear; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  vcXform<2> x_;
};

// Polynomial map of order 1 to 3, fitted by least squares so that from[i] lands on to[i].
// The destination list comes first, as callers hold "image points from model points".
// The polynomial is evaluated in normalised coordinates u = pre(p) (centred on the fitted
// points and scaled to unit spread) which keeps the normal equations well conditioned for
// pixel-sized coordinates; composing with a linear transform on either side stays exact.
class vc2XformPoly : public vc2XformBase {
 public:
  // The identity, order 1.
  vc2XformPoly() = default;
  // Throws vcBadParams for an order outside 1..3, lists of different lengths, or fewer points
  // than coefficients per axis (3, 6, 10); vcMathError::Singular when the points do not
  // determine the polynomial (e.g. all on one line).
  vc2XformPoly(const std::vector<vcVector<2>>& to, const std::vector<vcVector<2>>& from, int order);
  int order() const { return order_; }
  static int numTerms(int order) { return (order + 1) * (order + 2) / 2; }
  // Normalisation applied to a point before the polynomial.
  const vcXform<2>& preXform() const { return pre_; }
  // Coefficients of x' then y' over the monomials of u = preXform()(p):
  // 1, ux, uy, ux^2, ux uy, uy^2, ux^3, ux^2 uy, ux uy^2, uy^3 (first numTerms(order) of them).
  const std::vector<double>& coefficients() const { return coef_; }
  // Bounding box (min corner, max corner) of the points the polynomial was fitted on; the
  // numeric inverse is fitted over it.
  vcVector<2> domainMin() const { return domMin_; }
  vcVector<2> domainMax() const { return domMax_; }

  vcVector<2> mapPoint(const vcVector<2>& p) const override;
  bool isLinear() const override { return order_ <= 1; }
  // The Jacobian at p with the translation that makes it agree with the map at p.
  vc2XformLinear linearXform(const vcVector<2>& p) const override;
  // Exact (another polynomial) when `other` is linear; a general composition otherwise.
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  // Order 1: the exact inverse, as a vc2XformLinear. Orders 2 and 3: a vc2XformPolyInverse,
  // exact to rounding wherever Newton's method converges from its fitted starting guess (inside
  // the mapped domain and a margin around it). Singular when the map folds the domain.
  vcPtrHandle<vc2XformBase> inverseBase() const override;
  vcPtrHandle<vc2XformBase> clone() const override;
  // Linear transform applied after the polynomial (exact composition from the left).
  vc2XformPoly premultiplied(const vcXform<2>& a) const;
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vc2XformPoly; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  int order_ = 1;
  vcXform<2> pre_;
  std::vector<double> coef_ = {0, 1, 0, 0, 0, 1};
  vcVector<2> domMin_{0, 0};
  vcVector<2> domMax_{1, 1};
};

// Numeric inverse of a polynomial map: a polynomial fitted to the inverse over a grid of the
// forward map's domain gives a start, which Newton's method on the forward map then refines.
// A point where the iteration does not settle keeps the fitted estimate.
class vc2XformPolyInverse : public vc2XformBase {
 public:
  vc2XformPolyInverse() = default;
  // Throws vcMathError::Singular when `forward` folds its domain.
  explicit vc2XformPolyInverse(const vc2XformPoly& forward);
  const vc2XformPoly& forward() const { return fwd_; }
  const vc2XformPoly& estimate() const { return est_; }

  vcVector<2> mapPoint(const vcVector<2>& p) const override;
  bool isLinear() const override { return fwd_.isLinear(); }
  vc2XformLinear linearXform(const vcVector<2>& p) const override;
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  vcPtrHandle<vc2XformBase> inverseBase() const override { return fwd_.clone(); }
  vcPtrHandle<vc2XformBase> clone() const override { return new vc2XformPolyInverse(*this); }
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vc2XformPolyInverse; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  vc2XformPoly fwd_;
  vc2XformPoly est_;
};

// b first, then a, as one transform holding clones of both. The map, its local linear form
// and its inverse follow the two parts; archived with both parts as polymorphic pointers.
class vc2XformComposed : public vc2XformBase {
 public:
  vc2XformComposed();
  vc2XformComposed(vcPtrHandle_const<vc2XformBase> a, vcPtrHandle_const<vc2XformBase> b);
  const vcPtrHandle_const<vc2XformBase>& first() const { return b_; }
  const vcPtrHandle_const<vc2XformBase>& second() const { return a_; }

  vcVector<2> mapPoint(const vcVector<2>& p) const override;
  bool isLinear() const override;
  vc2XformLinear linearXform(const vcVector<2>& p) const override;
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  vcPtrHandle<vc2XformBase> inverseBase() const override;
  vcPtrHandle<vc2XformBase> clone() const override;
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vc2XformComposed; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  // Identity parts by default so that a default object maps points.
  vcPtrHandle_const<vc2XformBase> a_;
  vcPtrHandle_const<vc2XformBase> b_;
};

// A transform applying b first, then a, without any simplification. Transform classes of
// other layers use it for their composeBase.
vcPtrHandle<vc2XformBase> vfComposeXformsGeneric(const vc2XformBase& a, const vc2XformBase& b);
