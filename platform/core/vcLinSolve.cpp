#include "platform/core/vcLinSolve.h"

#include <cmath>
#include <cstddef>
#include <utility>

bool vfSolveLinearSystem(std::vector<double>& a, std::vector<double>& b, int n, double relTol) {
  if (n < 0 || a.size() < std::size_t(n) * std::size_t(n) || b.size() < std::size_t(n))
    return false;
  return vfSolveLinearSystem(a.data(), b.data(), n, relTol);
}

bool vfSolveLinearSystem(double* a, double* b, int n, double relTol) {
  double scale = 0.0;
  for (int i = 0; i < n * n; ++i) scale = std::fmax(scale, std::fabs(a[i]));
  if (!(scale > 0.0) || !std::isfinite(scale)) return false;
  const double tol = relTol * scale;
  for (int col = 0; col < n; ++col) {
    int piv = col;
    for (int r = col + 1; r < n; ++r)
      if (std::fabs(a[r * n + col]) > std::fabs(a[piv * n + col])) piv = r;
    if (!(std::fabs(a[piv * n + col]) > tol)) return false;
    if (piv != col) {
      for (int c = 0; c < n; ++c) std::swap(a[col * n + c], a[piv * n + c]);
      std::swap(b[col], b[piv]);
    }
    for (int r = col + 1; r < n; ++r) {
      const double f = a[r * n + col] / a[col * n + col];
      if (f == 0.0) continue;
      for (int c = col; c < n; ++c) a[r * n + c] -= f * a[col * n + c];
      b[r] -= f * b[col];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    double s = b[r];
    for (int c = r + 1; c < n; ++c) s -= a[r * n + c] * b[c];
    b[r] = s / a[r * n + r];
    if (!std::isfinite(b[r])) return false;
  }
  return true;
}
