// Least-squares fit: each model point is matched to the strongest image edge along its normal
// within a capture band, and Gauss-Newton moves translation and the free DOFs to minimise the
// weighted point-to-edge distances. Used on every pyramid level and for the level-0 fits.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "engines/geofind/gfRunTypes.h"
#include "platform/core/vcLinSolve.h"

namespace vc_gfrun {
namespace {

// The pixel index nearest to v (an edge position inside a gradient window; 0 for negative
// values), halves rounded up as std::lround does, without a library call (this runs for every
// matched point of every fit).
int nearestIndex(double v) { return int(std::max(v, 0.0) + 0.5); }

// True when the level's pixel two pixels to the bright side of an edge at (x, y) is saturated,
// or the one two pixels to the dark side is black; (gx, gy) is the edge's unit gradient. A
// reduced level is saturated only where all four of its pixels were, and rounds to 254 or 255.
bool isClipped(const LevelImage& L, double x, double y, double gx, double gy, int level) {
  auto at = [&](double px, double py) { return L.pixel(nearestIndex(px), nearestIndex(py)); };
  const int hi = level == 0 ? 255 : 254, lo = level == 0 ? 0 : 1;
  return at(x + 2 * gx, y + 2 * gy) >= hi || at(x - 2 * gx, y - 2 * gy) <= lo;
}

// The covariance of a level-0 fit from its undamped normal matrix A (n x n, unknowns: the
// centroid's translation, then the free DOFs) and the residual variance s2 of a point of unit
// weight: C = s2 A^-1. The pose's tau is the centroid less B(v) pc, so its Jacobian has
// columns e_x, e_y and -dB_k pc, and its covariance is J C J^T. A direction the points do not
// see at all gets a tiny ridge (1e-6 of the strongest) so that it comes out huge, not singular.
void fitCovariance(const double* A, int n, double s2, const std::array<int, kMaxDofs>& freeIdx,
                   const std::array<vcMatrix<2>, kMaxDofs>& dB, const vcVector<2>& pc,
                   const double* rim, FitStats& st) {
  constexpr int kN = 2 + kMaxDofs;
  double C[kN * kN];
  const double transDiag = A[0] + A[n + 1];
  for (int c = 0; c < n; ++c) {
    double M[kN * kN], e[kN] = {};
    std::copy(A, A + n * n, M);
    for (int r = 0; r < n; ++r)
      M[r * n + r] += 1e-6 * (r < 2 ? transDiag : transDiag * rim[r - 2] * rim[r - 2]) + 1e-300;
    e[c] = 1.0;
    if (!vfSolveLinearSystem(M, e, n, 1e-15)) return;
    for (int r = 0; r < n; ++r) C[r * n + c] = s2 * e[r];
  }
  vcVector<2> col[kN];
  col[0] = vcVector<2>(1, 0), col[1] = vcVector<2>(0, 1);
  for (int k = 2; k < n; ++k) col[k] = -(dB[std::size_t(k - 2)] * pc);
  double xx = 0, xy = 0, yy = 0;
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      xx += col[a].x() * C[a * n + b] * col[b].x();
      xy += col[a].x() * C[a * n + b] * col[b].y();
      yy += col[a].y() * C[a * n + b] * col[b].y();
    }
  st.positionCov = vcMatrix<2>(xx, xy, xy, yy);
  st.dofSigma.fill(0.0);
  for (int k = 2; k < n; ++k)
    st.dofSigma[std::size_t(freeIdx[std::size_t(k - 2)])] = std::sqrt(std::max(0.0, C[k * n + k]));
  // The information the edges give the centroid's translation, the other DOFs free: the
  // inverse of the translation block of C, whose eigenvalues' ratio is that of the block's.
  const double a = C[0], b = C[1], d = C[n + 1];
  const double h = std::sqrt(0.25 * (a - d) * (a - d) + b * b), m = 0.5 * (a + d);
  st.informationShare = m + h > 0 ? std::max(0.0, m - h) / (m + h) : 1.0;
  st.haveCov = true;
}

}  // namespace

PixRect windowAround(const PatPoints& pts, const vcMatrix<2>& B, double tx, double ty,
                     double margin) {
  double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const vcVector<2> q = B * vcVector<2>(pts.ux[i], pts.uy[i]);
    a0 = std::min(a0, q.x()), a1 = std::max(a1, q.x());
    b0 = std::min(b0, q.y()), b1 = std::max(b1, q.y());
  }
  return {int(std::floor(a0 + tx - margin)), int(std::floor(b0 + ty - margin)),
          int(std::ceil(a1 + tx + margin)) + 1, int(std::ceil(b1 + ty + margin)) + 1};
}

EdgeProbe probeAround(const PatPoints& pts, const vcMatrix<2>& B, double tx, double ty,
                      double margin, const LevelImage& L, Grad& scratch, double smooth) {
  const PixRect r = windowAround(pts, B, tx, ty, margin);
  if (smooth > 0) {
    const PixRect c = r.clippedTo(L.win);
    if (!scratch.covers(&L, smooth, c.x0, c.y0, c.x1, c.y1)) smoothSobel(L, smooth, r.grown(8), scratch);
    return EdgeProbe::within(scratch, c);
  }
  gradientOf(L, r, scratch);
  return EdgeProbe::within(scratch, r.clippedTo(L.win));
}

bool findEdge(const EdgeProbe& E, double px, double py, double nx, double ny, double R,
              bool ignorePolarity, double thr, int maxSteps, double& t, double& mag, float* width2,
              bool precise) {
  const int n = int(std::ceil(R));
  const int cap = std::min(maxSteps, vc_GFTuning::kProbeStepsLimit);
  float f[2 * vc_GFTuning::kProbeStepsLimit + 3];
  const int m = std::min(n, cap) + 1;
  E.alongRun(px, py, nx, ny, 0, -m, 2 * m + 1, ignorePolarity, f);
  int best = -1;
  float bv = float(thr);
  const int lim = std::min(n, cap);
  for (int k = -lim; k <= lim; ++k) {
    const float v = f[k + m];
    if (v >= bv && v >= f[k + m - 1] && v >= f[k + m + 1]) {
      // Prefer the nearer of two equally strong edges.
      if (v > bv || best < 0 || std::abs(k) < std::abs(best - m)) {
        bv = v;
        best = k + m;
      }
    }
  }
  if (best < 0) return false;
  double t0 = best - m;
  if (!precise) {
    // One parabola through the integer samples: its vertex, and the magnitude there.
    const double a = f[best - 1], b = f[best], c = f[best + 1];
    const double den = a - 2.0 * b + c;
    double d = 0.0;
    if (den < 0) d = std::clamp(0.5 * (a - c) / den, -0.75, 0.75);
    t = t0 + d;
    mag = b - 0.25 * (a - c) * d;
    return std::fabs(t) <= R + 0.5 && mag >= thr * 0.5;
  }
  // Re-centre the three samples on the estimate once, as in training, so that the parabola
  // is evaluated at the same phase as the model's edges.
  for (int it = 0; it < 2; ++it) {
    // The first three samples are the integer ones already taken.
    float a = f[best - 1], b = f[best], c = f[best + 1];
    if (it > 0) {
      float abc[3];
      E.alongRun(px, py, nx, ny, t0, -1, 3, ignorePolarity, abc);
      a = abc[0], b = abc[1], c = abc[2];
    }
    const double den = a - 2.0 * b + c;
    if (!(den < 0)) break;
    // A Gaussian profile of variance s^2 has its outer samples exp(-1/(2 s^2)) of the centre's.
    if (width2) {
      const double r = 0.5 * (a + c) / b;
      *width2 = r <= 0 ? 0.0f : r >= 0.999 ? 500.0f : float(-0.5 / std::log(r));
    }
    const double d = std::clamp(0.5 * (a - c) / den, -0.75, 0.75);
    t0 += d;
    mag = b;
    if (std::fabs(d) < 0.005) break;
  }
  if (std::fabs(t0) > R + 0.5) return false;
  t = t0;
  mag = std::fabs(E.along(px, py, nx, ny, t0));
  return mag >= thr * 0.5;
}

// Gauss-Newton on tau and the free DOFs, minimising the weighted point-to-edge distances along
// the model normals: sum w_i (n_i . (B u_i + tau) - n_i . e_i)^2, measured on pyramid level
// `level` (capture and distances in that level's pixels; stats are level-0 only).
void refine(const Problem& P, const PatPoints& pts, const LevelImage& L0, int level, int iterations,
            double capture, Pose& p, Grad& scratch, FitStats* stats, const Look& look) {
  const vc_GFTuning& T = P.tune;
  const double f = double(1 << level), cl = 0.5 * (f - 1.0);
  const int nd = int(P.dofs.size());
  // Fixed-size lists: a fit runs for every candidate on every level, so it allocates nothing.
  std::array<int, kMaxDofs> freeIdx{};
  std::size_t nFree = 0;
  for (int k = 0; k < nd; ++k)
    if (!P.dofs[k].fixed && !(p.holdSize && level >= T.holdSizeFrom && isSizeDof(P.dofs[k])))
      freeIdx[nFree++] = k;
  const int n = 2 + int(nFree);
  // A capture band wider than the pattern explains nothing more; the bound keeps the work of a
  // huge elasticity proportional to the pattern.
  const double el = std::min(P.elasticity, pts.rim) / f;
  const vcVector<2> pc = pts.centroid;
  const double radius = pts.rim;
  // Window of the gradient: the mapped points plus the capture band. The fine fit of a
  // candidate usually lies inside the window its coarse fit just took.
  const EdgeProbe E = probeAround(pts, poseB(P, p) * (1.0 / f), (p.tx - cl) / f, (p.ty - cl) / f,
                                  capture + el + T.fitWindowMargin, L0, scratch, look.smooth);
  const double thr = look.thr >= 0 ? look.thr : P.contrastOn(level);
  // Widths of the matched edges, for their median (a histogram: no allocation per fit).
  constexpr int kWidthBins = 64;
  constexpr double kWidthPerBin = 0.25;  // px^2
  std::array<std::uint32_t, kWidthBins> widths{};
  bool converged = false;
  // The level-0 fit's covariance takes its normal matrix on the last pass from the matched
  // image edges' own normals: a model point at a bar's corner that matched the bar's side
  // fixes the position across the side only, whatever its model normal says.
  const bool wantCov = stats && level == 0;
  double Afit[(2 + kMaxDofs) * (2 + kMaxDofs)] = {};
  if (stats) stats->haveCov = false;
  for (int it = 0; it <= iterations; ++it) {
    const bool last = it == iterations;
    const double R = last ? T.matchBand + el
                          : std::max(T.shrinkFloor, capture * std::pow(T.captureShrink, it)) + el;
    const vcMatrix<2> B = poseB(P, p);
    const vcMatrix<2> Bl = B * (1.0 / f);
    const double tlx = (p.tx - cl) / f, tly = (p.ty - cl) / f;
    const vcMatrix<2> Bit = invTranspose(B);
    std::array<vcMatrix<2>, kMaxDofs> dB;
    for (std::size_t k = 0; k < nFree; ++k) dB[k] = poseDB(P, p, std::size_t(freeIdx[k]));
    // Displacement at the pattern's rim per unit of each DOF, for the convergence test.
    double rim[kMaxDofs] = {};
    for (std::size_t k = 0; k < nFree; ++k) {
      const vcMatrix<2>& d = dB[k];
      rim[k] =
          std::sqrt(d(0, 0) * d(0, 0) + d(0, 1) * d(0, 1) + d(1, 0) * d(1, 0) + d(1, 1) * d(1, 1)) *
          radius;
    }
    double A[(2 + kMaxDofs) * (2 + kMaxDofs)] = {}, Aclip[(2 + kMaxDofs) * (2 + kMaxDofs)] = {};
    double bvec[2 + kMaxDofs] = {}, bclip[2 + kMaxDofs] = {};
    double wWhole = 0, wClipped = 0;
    double sumW = 0, sumWm = 0, sumR2 = 0, sumC = 0, sumCos = 0;
    std::size_t matched = 0;
    if (stats && last) stats->modelPts.clear(), stats->imagePts.clear();
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const double ux = pts.ux[i], uy = pts.uy[i];
      const double px = Bl(0, 0) * ux + Bl(0, 1) * uy + tlx;
      const double py = Bl(1, 0) * ux + Bl(1, 1) * uy + tly;
      double nx, ny;
      posedNormal(Bit, pts.nx[i], pts.ny[i], nx, ny);
      sumW += pts.w[i];
      double t, mag;
      float w2 = 0;
      if (!findEdge(E, px, py, nx, ny, R, P.ignorePolarity, thr, T.maxProbeSteps, t, mag,
                    last ? &w2 : nullptr, level == 0))
        continue;
      // Direction agreement at the matched edge: an edge running another way (texture, another
      // object crossing the pattern) is not this point's edge, however near.
      const double ex = px + t * nx, ey = py + t * ny;
      double gx, gy;
      E.gradient(ex, ey, gx, gy);
      const double gm = std::sqrt(gx * gx + gy * gy);
      double cs = gm > 0 ? (gx * nx + gy * ny) / gm : 0;
      if (P.ignorePolarity) cs = std::fabs(cs);
      if (cs < T.minMatchCos) continue;
      if (last) {
        sumWm += pts.w[i];
        sumCos += pts.w[i] * cs;
        sumR2 += pts.w[i] * t * t;
        sumC += pts.w[i] * mag;
        ++matched;
        ++widths[std::size_t(std::min(double(kWidthBins - 1), w2 / kWidthPerBin))];
        if (wantCov) {
          stats->modelPts.emplace_back(px, py);
          stats->imagePts.emplace_back(ex, ey);
          double J[2 + kMaxDofs];
          J[0] = gx / gm;
          J[1] = gy / gm;
          for (std::size_t k = 0; k < nFree; ++k) {
            const vcVector<2> d = dB[k] * vcVector<2>(ux - pc.x(), uy - pc.y());
            J[2 + k] = J[0] * d.x() + J[1] * d.y();
          }
          for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c) Afit[r * n + c] += pts.w[i] * J[r] * J[c];
        }
        continue;
      }
      // Robust weight: Cauchy on the distance, its scale widened by the elasticity.
      const double sc = T.cauchyScale + el;
      const double wt = pts.w[i] / (1.0 + (t / sc) * (t / sc));
      double J[2 + kMaxDofs];
      J[0] = nx / f;
      J[1] = ny / f;
      for (std::size_t k = 0; k < nFree; ++k) {
        const vcVector<2> d = dB[k] * vcVector<2>(ux - pc.x(), uy - pc.y());
        J[2 + k] = (nx * d.x() + ny * d.y()) / f;
      }
      // An edge against a saturated side (a bright part overexposed, a dark one crushed) has
      // lost that side's profile, and its peak leans towards the other: it is left out of the
      // fit while most edges are whole.
      const bool clipped = isClipped(L0, ex, ey, gx / gm, gy / gm, level);
      double* Ad = clipped ? Aclip : A;
      double* bd = clipped ? bclip : bvec;
      (clipped ? wClipped : wWhole) += wt;
      for (int r = 0; r < n; ++r) {
        bd[r] += wt * J[r] * t;
        for (int c = 0; c < n; ++c) Ad[r * n + c] += wt * J[r] * J[c];
      }
    }
    if (last) {
      if (stats) {
        stats->coverage = sumW > 0 ? sumWm / sumW : 0;
        stats->score = sumW > 0 ? sumCos / sumW : 0;
        stats->fitError = sumWm > 0 ? std::sqrt(sumR2 / sumWm) : 0;
        stats->contrast = sumWm > 0 ? sumC / sumWm : 0;
        stats->matched = matched;
        stats->converged = converged;
        stats->width2 = 0;
        for (std::size_t b = 0, below = 0; b < widths.size() && matched; ++b) {
          if (2 * (below + widths[b]) > matched) {
            stats->width2 = (double(b) + 0.5) * kWidthPerBin;
            break;
          }
          below += widths[b];
        }
        // Residual variance of a point of unit weight, sum w t^2 / (m - n), with the points'
        // own weights, as in the matrix.
        if (wantCov && matched > std::size_t(n)) {
          for (int r = 0; r < n; ++r)
            for (int c = 0; c < r; ++c) Afit[r * n + c] = Afit[c * n + r];
          const double s2 = sumR2 / double(matched - std::size_t(n)) * T.pointsPerSample;
          fitCovariance(Afit, n, s2, freeIdx, dB, pc, rim, *stats);
        }
      }
      break;
    }
    if (wClipped > wWhole)
      for (int r = 0; r < n; ++r) {
        bvec[r] += bclip[r];
        for (int c = 0; c < n; ++c) A[r * n + c] += Aclip[r * n + c];
      }
    // Tikhonov damping keeps DOFs that the points do not constrain where they are: a turn of a
    // round pattern, a scale along a straight one. A DOF's diagonal is raised to at least a share
    // of what it would be if every point saw the DOF's full displacement at the rim, so a DOF the
    // points hardly see moves little however the noise pulls, and one they see is left alone.
    const double transDiag = A[0] + A[n + 1];
    for (int r = 0; r < n; ++r) {
      A[r * n + r] += T.damping * (A[r * n + r] + 1.0);
      if (r >= 2)
        A[r * n + r] =
            std::max(A[r * n + r], T.dofDamping * transDiag * (rim[r - 2] / f) * (rim[r - 2] / f));
    }
    if (!vfSolveLinearSystem(A, bvec, n)) break;
    const double* dx = bvec;  // the step, solved in place
    // The unknowns move the centroid and turn/scale about it, which keeps translation and the
    // other DOFs nearly uncorrelated however far the pattern origin lies from the edges.
    const vcVector<2> c0 = B * pc;
    for (std::size_t k = 0; k < nFree; ++k) p.v[std::size_t(freeIdx[k])] += dx[2 + k];
    clampDofs(P, p);
    const vcVector<2> c1 = poseB(P, p) * pc;
    p.tx += dx[0] + c0.x() - c1.x();
    p.ty += dx[1] + c0.y() - c1.y();
    // A step far beyond the capture band means the points locked onto something else; stop
    // moving but still score where we are.
    const double step = std::hypot(dx[0], dx[1]);
    if (step > T.lockOffFactor * f * (capture + el)) it = iterations - 1;
    // Converged when the centroid and the rim move by less than a hundredth of a pixel; on the
    // pyramid levels above, a twentieth is plenty for the next level's capture.
    const double tiny = (level == 0 ? T.convergedLevel0 : T.convergedAbove) * f;
    bool still = step < tiny;
    for (std::size_t k = 0; k < nFree && still; ++k) still = std::fabs(dx[2 + k]) * rim[k] < tiny;
    if (still) it = iterations - 1;
    converged = still;
  }
}

}  // namespace vc_gfrun
