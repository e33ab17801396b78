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

// Least-squares polynomial map of order 1 to 3 fitted from point pairs (from[i] -> to[i]).
class vc2XformPoly : public vc2XformBase {
 public:
  vc2XformPoly() = default;
  // Throws vcBadParams for an order outside 1..3, lists of different lengths, or too few
  // points; vcMathError::Singular when the points do not determine the polynomial.
  vc2XformPoly(const std::vector<vcVector<2>>& from, const std::vector<vcVector<2>>& to,
               int order);
  int order() const { return order_; }
  // Coefficients of x' then y' over the monomials 1, x, y, x^2, xy, y^2, x^3, x^2y, xy^2, y^3.
  const std::vector<double>& coefficients() const { return coef_; }

  vcVector<2> mapPoint(const vcVector<2>& p) const override;
  bool isLinear() const override { return order_ <= 1; }
  vc2XformLinear linearXform(const vcVector<2>& p) const override;
  vcPtrHandle<vc2XformBase> composeBase(const vc2XformBase& other) const override;
  // Fitted numerically over the inverse of sample points; exact for order 1.
  vcPtrHandle<vc2XformBase> inverseBase() const override;
  vcPtrHandle<vc2XformBase> clone() const override;
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vc2XformPoly; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  int order_ = 1;
  std::vector<double> coef_ = {0, 1, 0, 0, 0, 1};
};
