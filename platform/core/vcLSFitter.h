// Weighted least-squares fit of a 2-D affine transform to point pairs, with the degrees of
// freedom chosen by count: 2 translation, 3 rotation + translation (rigid), 4 rotation +
// uniform scale + translation (similarity), 6 full affine.
#pragma once

#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcXform.h"

class vcLSGeneralFitter {
 public:
  vcLSGeneralFitter() = default;
  // Adds the pairs from[i] -> to[i]. Each pair's weight is weights[i] when `weights` is not
  // empty, else `weight`. Throws vcBadParams for lists of different lengths, a weights list of
  // another length, or a negative or non-finite weight; on failure nothing is added.
  void update(const std::vector<vcVector<2>>& from, const std::vector<vcVector<2>>& to,
              const std::vector<double>& weights, double weight = 1.0);
  void reset() { pts_.clear(); }
  long numPoints() const { return static_cast<long>(pts_.size()); }

  // The transform T minimising sum w |T(from) - to|^2 over the family given by `dof`
  // (2, 3, 4 or 6, else vcBadParams). `residual` receives the weighted RMS distance
  // sqrt(sum w |T(from) - to|^2 / sum w). Throws vcMathError::Singular when the pairs do not
  // determine the transform (no pairs or zero total weight; for dof > 2 all `from` points
  // coincide; for dof 6 they lie on one line), and also when the residual exceeds `maxResidual`,
  // since a fit that far off is no fit.
  vcXform<2> fit(int dof, double& residual, double maxResidual = 1e10) const;

 private:
  struct Pair {
    vcVector<2> from, to;
    double w;
  };
  std::vector<Pair> pts_;
};
