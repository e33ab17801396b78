// Continuous fit: the position, turn and size of a refined candidate that maximise the
// correlation coefficient, by Gauss-Newton on the coefficient itself (the enhanced correlation
// coefficient of Evangelidis and Psarakis, 2008), in the inverse compositional form of Baker
// and Matthews (2004) so that the template's gradients serve every iteration.
//
// Warp. A training pixel p (u = p - c_t) lands on the window point W(u) = A u + c, A = B Z,
// Z = scale R(angle). The increment is a similarity of the template about its centre,
// W_d(u) = (1 + s) R(a) u + t, with derivatives at 0 of t -> identity, s -> u, a -> J u
// (J the quarter turn), so the steepest-descent image of a pixel is
//   g = (Tx, Ty, Tx u + Ty v, -Tx v + Ty u).
// Each iteration samples the image at W(u) (bilinear), and with t, i and the columns G of g
// made zero-mean over the pixels that land inside the window (each pixel weighted, below)
// solves
//   H d = G^T (lambda i - t),   H = G^T G,
//   lambda = (|t|^2 - t^T P t) / (i^T t - i^T P t),   P = G H^-1 G^T,
// the step to the maximum of the linearised coefficient r(d) = (t + G d) . i / |t + G d| |i|;
// its fixed point G^T (lambda i - t) = 0 is the coefficient's own stationarity condition. The
// warp is then composed with the increment's inverse:
//   scale /= 1 + s, angle -= a, c -= A' t   (A' the new linear part).
// Weights: Cauchy's on each pixel's residual, so that pixels the template does not explain
// do not pull the fit (see vc_PatCorTuning::robustScale).
//
// Uncertainty. Near the maximum r(d) = r0 - d^T (H / |t|^2) d / 2: H / |t|^2 is the curvature
// of the score surface. The residual lambda i - t holds the image noise and what the template
// does not explain; its energy is about 2 (1 - r) |t|^2. With n pixels and m fitted values,
// the noise variance per pixel is sigma^2 = 2 (1 - r) |t|^2 / (n - m) and the covariance of
// the fitted values sigma^2 H^-1, that is 2 (1 - r) / (n - m) times the inverse curvature.
// The fit keeps it per unit of 1 - r; the caller multiplies by the share its final score
// leaves, and by no less than a noise floor's.
#include <algorithm>
#include <cmath>

#include "engines/correlation/pcRunTypes.h"

namespace vc_pcrun {
namespace {

constexpr int kMaxFitDofs = 4;

// Solves the symmetric positive definite system M x = b of size m by Cholesky; false when M is
// not positive definite (a direction the pixels do not constrain). `inv` (when given) gets
// M^-1.
bool solveSpd(const double (&M)[kMaxFitDofs][kMaxFitDofs], const double* b, int m, double* x,
              double (*inv)[kMaxFitDofs] = nullptr) {
  double L[kMaxFitDofs][kMaxFitDofs] = {};
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = M[i][j];
      for (int k = 0; k < j; ++k) s -= L[i][k] * L[j][k];
      if (i == j) {
        if (!(s > 1e-12 * std::max(1.0, M[i][i]))) return false;
        L[i][i] = std::sqrt(s);
      } else {
        L[i][j] = s / L[j][j];
      }
    }
  auto solve = [&](const double* rhs, double* out) {
    double y[kMaxFitDofs];
    for (int i = 0; i < m; ++i) {
      double s = rhs[i];
      for (int k = 0; k < i; ++k) s -= L[i][k] * y[k];
      y[i] = s / L[i][i];
    }
    for (int i = m - 1; i >= 0; --i) {
      double s = y[i];
      for (int k = i + 1; k < m; ++k) s -= L[k][i] * out[k];
      out[i] = s / L[i][i];
    }
  };
  solve(b, x);
  if (inv)
    for (int c = 0; c < m; ++c) {
      double e[kMaxFitDofs] = {}, col[kMaxFitDofs];
      e[c] = 1.0;
      solve(e, col);
      for (int r = 0; r < m; ++r) inv[r][c] = col[r];
    }
  return true;
}

}  // namespace

FitTemplate sharpTemplate(const vc_PatCorTrained& D) {
  FitTemplate t;
  t.pix = D.pix.data();
  t.gx = D.gx.data();
  t.gy = D.gy.data();
  t.mask = D.fitMask.data();
  t.pixels = D.fitPixels;
  return t;
}

void trainFitData(vc_PatCorTrained& D) {
  const long W = D.W, H = D.H;
  D.gx.assign(std::size_t(W * H), 0.0f);
  D.gy.assign(std::size_t(W * H), 0.0f);
  D.fitMask.assign(std::size_t(W * H), 0);
  D.fitPixels = 0;
  for (long y = 1; y + 1 < H; ++y)
    for (long x = 1; x + 1 < W; ++x) {
      const long k = y * W + x;
      if (!D.mask[k] || !D.mask[k - 1] || !D.mask[k + 1] || !D.mask[k - W] || !D.mask[k + W])
        continue;
      D.gx[k] = 0.5f * (D.pix[k + 1] - D.pix[k - 1]);
      D.gy[k] = 0.5f * (D.pix[k + W] - D.pix[k - W]);
      D.fitMask[k] = 1;
      ++D.fitPixels;
    }
  D.sharpness = sharpnessOf(sharpTemplate(D), W * H);
}

}  // namespace vc_pcrun

bool vc_PatCorRunner::fit(vc_pcrun::FitPose& f, bool angleFree, bool scaleFree,
                          const vc_pcrun::FitTemplate& T, int iterations) const {
  using vc_pcrun::kMaxFitDofs;
  const long W = D.W, H = D.H;
  const double hx = (W - 1) * 0.5, hy = (H - 1) * 0.5;
  // Parameters in the order translation x, y, then scale, then angle, as far as they are free.
  const int m = 2 + (scaleFree ? 1 : 0) + (angleFree ? 1 : 0);
  const int is = scaleFree ? 2 : -1, ia = angleFree ? (scaleFree ? 3 : 2) : -1;
  const double rim = std::hypot(hx, hy);
  const double startX = f.cx, startY = f.cy;
  std::vector<float>& smp = fitSamples_;
  std::vector<int>& at = fitPixels_;
  std::vector<float>& wt = fitWeights_;
  for (int it = 0;; ++it) {
    const vcMatrix<2> A =
        base * vcMatrix<2>(f.scale, 1.0, vcRadian(0.0), vcRadian(f.angle * vcRadPerDeg));
    const double a00 = A(0, 0), a01 = A(0, 1), a10 = A(1, 0), a11 = A(1, 1);
    const unsigned char* mk = imask.empty() ? nullptr : imask.data();
    // Sampling: the image under every template pixel that lands inside the window.
    smp.clear();
    at.clear();
    double n = 0, st = 0, stt = 0, si = 0, sii = 0, sti = 0;
    const double xmax = double(fw - 1), ymax = double(fh - 1);
    for (long j = 0; j < H; ++j) {
      const double v = j - hy;
      const double rx = a01 * v + f.cx, ry = a11 * v + f.cy;
      const long row = j * W;
      for (long i = 0; i < W; ++i) {
        if (!T.mask[row + i]) continue;
        const double u = i - hx;
        const double x = a00 * u + rx, y = a10 * u + ry;
        if (!(x >= 0 && y >= 0 && x < xmax && y < ymax)) continue;
        const long ix = long(x), iy = long(y);
        const long o = iy * stride + ix;
        if (mk) {
          const long q = iy * fw + ix;
          if (!mk[q] || !mk[q + 1] || !mk[q + fw] || !mk[q + fw + 1]) continue;
        }
        const double fx = x - ix, fy = y - iy;
        const unsigned char* p0 = px + o;
        const unsigned char* p1 = p0 + stride;
        const double I =
            (p0[0] + (p0[1] - p0[0]) * fx) * (1 - fy) + (p1[0] + (p1[1] - p1[0]) * fx) * fy;
        const double t = T.pix[row + i];
        smp.push_back(float(I));
        at.push_back(int(row + i));
        n += 1;
        st += t;
        stt += t * t;
        si += I;
        sii += I * I;
        sti += t * I;
      }
    }
    if (n < tune.minValidShare * double(T.pixels) || n < 16) return false;
    const double tt = stt - st * st / n, ii = sii - si * si / n, ti = sti - st * si / n;
    if (tt <= tune.flatVariance * n || ii <= tune.flatVariance * n || ti <= 0) return false;
    f.score = ti / std::sqrt(tt * ii);
    f.pixels = n;
    if (iterations < 0) return true;  // the score alone
    // Weights: Cauchy's on each pixel's residual against the template at the plain gain, in
    // units of what noise and a slight misplacement explain there: the residuals' robust
    // deviation s (1.4826 x their median, at least the noise floor) and the template's
    // gradient times robustSlack. Pixels the template does not explain (an occluder, a
    // neighbouring piece that moved its own way, a highlight) lose their say; the edges of a
    // pattern of flat areas, where every residual of a misplacement lies, keep theirs.
    const std::size_t N = smp.size();
    wt.assign(N, 1.0f);
    if (tune.robustScale > 0) {
      const double g0 = tt / ti, mi0 = si / n, mt0 = st / n;
      std::vector<float>& res = fitResiduals_;
      res.resize(N);
      for (std::size_t q = 0; q < N; ++q)
        res[q] = float(std::fabs(g0 * (smp[q] - mi0) - (T.pix[at[q]] - mt0)));
      std::vector<float>& sorted = fitSorted_;
      sorted.assign(res.begin(), res.end());
      std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(N / 2), sorted.end());
      const double noise = std::max(1.4826 * double(sorted[N / 2]), g0 * tune.noiseFloor);
      // w = 1 / (1 + z^2), z = residual / (c sqrt(noise^2 + slack^2 |grad t|^2)).
      const float c2 = float(tune.robustScale * tune.robustScale);
      const float n2 = float(c2 * noise * noise),
                  s2 = float(c2 * tune.robustSlack * tune.robustSlack);
      for (std::size_t q = 0; q < N; ++q) {
        const int k = at[q];
        const float e = n2 + s2 * (T.gx[k] * T.gx[k] + T.gy[k] * T.gy[k]);
        wt[q] = e / (e + res[q] * res[q]);
      }
    }
    double sw = 0, swt = 0, swi = 0, swtt = 0, swti = 0;
    double sg[kMaxFitDofs] = {}, sgi[kMaxFitDofs] = {}, sgt[kMaxFitDofs] = {};
    double sgg[kMaxFitDofs][kMaxFitDofs] = {};
    for (std::size_t q = 0; q < N; ++q) {
      const int k = at[q];
      const double w = wt[q], I = smp[q], t = T.pix[k];
      const double u = double(k % W) - hx, v = double(k / W) - hy;
      const double gx = T.gx[k], gy = T.gy[k];
      double g[kMaxFitDofs] = {gx, gy, 0, 0};
      if (is >= 0) g[is] = gx * u + gy * v;
      if (ia >= 0) g[ia] = -gx * v + gy * u;
      sw += w;
      swt += w * t;
      swi += w * I;
      swtt += w * t * t;
      swti += w * t * I;
      for (int a = 0; a < m; ++a) {
        const double wg = w * g[a];
        sg[a] += wg;
        sgi[a] += wg * I;
        sgt[a] += wg * t;
        for (int b = 0; b <= a; ++b) sgg[a][b] += wg * g[b];
      }
    }
    const double wtt = swtt - swt * swt / sw, wti = swti - swt * swi / sw;
    if (wtt <= 0 || wti <= 0) return false;
    const double mi = swi / sw, mt = swt / sw;
    double Hm[kMaxFitDofs][kMaxFitDofs] = {}, gi[kMaxFitDofs], gt[kMaxFitDofs];
    for (int a = 0; a < m; ++a) {
      gi[a] = sgi[a] - mi * sg[a];
      gt[a] = sgt[a] - mt * sg[a];
      for (int c = 0; c <= a; ++c) Hm[a][c] = Hm[c][a] = sgg[a][c] - sg[a] * sg[c] / sw;
    }
    // A direction the pattern does not constrain (along a lone straight edge, the turn of a
    // round blob) gets a tiny ridge: the step leaves it alone, and its variance comes out huge
    // instead of the solve failing.
    double trace = 0;
    for (int a = 0; a < m; ++a) trace += Hm[a][a];
    for (int a = 0; a < m; ++a) Hm[a][a] += tune.fitRidge * trace / m;
    double inv[kMaxFitDofs][kMaxFitDofs], x1[kMaxFitDofs], x2[kMaxFitDofs], d[kMaxFitDofs];
    if (!vc_pcrun::solveSpd(Hm, gi, m, x1, inv)) return false;
    vc_pcrun::solveSpd(Hm, gt, m, x2);
    // The gain that makes the step the maximum of the linearised coefficient:
    // lambda = (|t|^2 - t^T P t) / (i^T t - i^T P t), P the projection onto the steepest-descent
    // images; where the denominator is not positive the plain |t|^2 / (i^T t) still climbs.
    double tpt = 0, ipt = 0;
    for (int a = 0; a < m; ++a) tpt += gt[a] * x2[a], ipt += gi[a] * x2[a];
    const double lambda = wti - ipt > 1e-12 * wtt ? (wtt - tpt) / (wti - ipt) : wtt / wti;
    for (int a = 0; a < m; ++a) d[a] = lambda * x1[a] - x2[a];
    // Covariance of this iteration's values (see the header), per unit of the unexplained
    // share 1 - r: the caller scales it by the share the final score leaves (taken on the
    // image's own pixels, whose noise the bilinear samples here partly average away). The
    // noise floor keeps a perfect match from claiming no uncertainty at all: in template grey
    // levels the image's floor is lambda times its own.
    const double floor2 = std::pow(wtt / wti * tune.noiseFloor, 2);
    const double perShare = 2.0 * wtt / std::max(1.0, sw - m);
    f.floorShare = floor2 / perShare;
    f.unexplained = std::max(1.0 - f.score, f.floorShare);
    for (int a = 0; a < kMaxFitDofs; ++a)
      for (int c = 0; c < kMaxFitDofs; ++c) f.cov[a][c] = 0;
    for (int a = 0; a < m; ++a)
      for (int c = 0; c < m; ++c) f.cov[a][c] = perShare * inv[a][c];
    f.dofs = m;
    f.scaleIndex = is;
    f.angleIndex = ia;
    f.blur = T.blur;
    if (it >= iterations) break;
    // At most maxStep pixels at the rim per iteration: a start off by more than the
    // linearisation holds (a pixel or so on fine texture) then walks instead of jumping.
    {
      const double reach = std::max({std::hypot(d[0], d[1]), is >= 0 ? std::fabs(d[is]) * rim : 0.0,
                                     ia >= 0 ? std::fabs(d[ia]) * rim : 0.0});
      if (reach > tune.fitMaxStep)
        for (int a = 0; a < m; ++a) d[a] *= tune.fitMaxStep / reach;
    }
    // Compose with the increment's inverse.
    const double ds = is >= 0 ? d[is] : 0.0, da = ia >= 0 ? d[ia] : 0.0;
    if (!(1.0 + ds > 0.5)) return false;
    f.scale /= 1.0 + ds;
    f.angle -= da / vcRadPerDeg;
    f.scale = std::clamp(f.scale, lo[1], hi[1]);
    f.angle = std::clamp(f.angle, lo[0], hi[0]);
    const vcMatrix<2> A2 =
        base * vcMatrix<2>(f.scale, 1.0, vcRadian(0.0), vcRadian(f.angle * vcRadPerDeg));
    const vcVector<2> move = A2 * vcVector<2>(d[0], d[1]);
    f.cx -= move.x();
    f.cy -= move.y();
    if (std::hypot(f.cx - startX, f.cy - startY) > tune.fitReach) return false;
    const double step =
        std::max({std::hypot(d[0], d[1]), std::fabs(ds) * rim, std::fabs(da) * rim});
    if (step < tune.fitConverged) break;
  }
  return true;
}
