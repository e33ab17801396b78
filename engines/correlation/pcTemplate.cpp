// Templates: the zone grids a model is trained at, the training window warped onto the run
// pixel grid for one zone, its reduction for the coarse pass and the crop that frees it of
// invalid corners.
#include "engines/correlation/pcRunTypes.h"

// The pixel loops are written to vectorize; GCC's -O2 cost model declines loops that need a
// scalar tail, so these stages ask for the ordinary model.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

#include <algorithm>
#include <cmath>

namespace vc_pcrun {

std::vector<double> zoneGrid(double nominal, double range, double step, bool allowed) {
  std::vector<double> g;
  if (!allowed || range <= 0) {
    g.push_back(nominal);
    return g;
  }
  if (!(range / step <= vc_PatCorTuning::kMaxZoneSteps))
    throw vc_PatCorDefs::BadParams(
        "Zone step is too small for the zone range (at most 10000 steps each side)");
  const long k = long(std::ceil(range / step - 1e-9));
  for (long i = -k; i <= k; ++i) g.push_back(nominal + std::clamp(i * step, -range, range));
  return g;
}

void finishTpl(Tpl& T) {
  double s = 0, n = 0;
  for (size_t i = 0; i < T.t.size(); ++i) {
    s += T.t[i] * T.m[i];
    n += T.m[i];
  }
  T.n = n;
  const double mean = n > 0 ? s / n : 0.0;
  double q = 0;
  T.full = true;
  for (size_t i = 0; i < T.t.size(); ++i) {
    if (T.m[i] > 0) {
      T.t[i] = float(T.t[i] - mean);
      q += double(T.t[i]) * T.t[i];
    } else {
      T.t[i] = 0.0f;
      T.full = false;
    }
  }
  T.norm = std::sqrt(q);
}

void tplSize(const vc_PatCorTrained& D, const vcMatrix<2>& A, long& w, long& h) {
  const double hx = (D.W - 1) * 0.5, hy = (D.H - 1) * 0.5;
  const double ex = std::fabs(A(0, 0)) * hx + std::fabs(A(0, 1)) * hy;
  const double ey = std::fabs(A(1, 0)) * hx + std::fabs(A(1, 1)) * hy;
  w = 2 * long(std::floor(ex + 1e-9)) + 1 + ((D.W % 2 == 0) ? 1 : 0);
  h = 2 * long(std::floor(ey + 1e-9)) + 1 + ((D.H % 2 == 0) ? 1 : 0);
}

namespace {

// Warps the training window by A (training pixel offsets from its centre to run pixel offsets
// from the template centre) with bilinear sampling, the centre (dx, dy) pixels off the grid's
// own. A run pixel is valid when its four sources lie inside the training window and are
// pattern pixels.
Tpl warp(const vc_PatCorTrained& D, const vcMatrix<2>& A, double dx, double dy, const float* pix) {
  Tpl T;
  const double hx = (D.W - 1) * 0.5, hy = (D.H - 1) * 0.5;
  const bool identity = std::fabs(A(0, 0) - 1) < 1e-12 && std::fabs(A(1, 1) - 1) < 1e-12 &&
                        std::fabs(A(0, 1)) < 1e-12 && std::fabs(A(1, 0)) < 1e-12 && dx == 0 &&
                        dy == 0 && !pix;
  if (identity) {
    T.w = D.W;
    T.h = D.H;
    T.cx = hx;
    T.cy = hy;
    T.t = D.pix;
    T.m.resize(D.pix.size());
    for (size_t i = 0; i < D.mask.size(); ++i) T.m[i] = D.mask[i] ? 1.0f : 0.0f;
    finishTpl(T);
    return T;
  }
  tplSize(D, A, T.w, T.h);
  T.cx = (T.w - 1) * 0.5;
  T.cy = (T.h - 1) * 0.5;
  const vcMatrix<2> Ai = A.inverse();
  const float* src = pix ? pix : D.pix.data();
  T.t.assign(T.w * T.h, 0.0f);
  T.m.assign(T.w * T.h, 0.0f);
  for (long j = 0; j < T.h; ++j) {
    for (long i = 0; i < T.w; ++i) {
      const vcVector<2> s = Ai * vcVector<2>(i - T.cx - dx, j - T.cy - dy);
      const double sx = s.x() + hx, sy = s.y() + hy;
      const long x0 = long(std::floor(sx)), y0 = long(std::floor(sy));
      if (x0 < 0 || y0 < 0 || x0 >= D.W || y0 >= D.H) continue;
      const long x1 = std::min(x0 + 1, D.W - 1), y1 = std::min(y0 + 1, D.H - 1);
      if (sx > D.W - 1 + 1e-9 || sy > D.H - 1 + 1e-9) continue;
      const long i00 = y0 * D.W + x0, i01 = y0 * D.W + x1, i10 = y1 * D.W + x0, i11 = y1 * D.W + x1;
      if (!D.mask[i00] || !D.mask[i01] || !D.mask[i10] || !D.mask[i11]) continue;
      const double fx = sx - x0, fy = sy - y0;
      const double v = (1 - fy) * ((1 - fx) * src[i00] + fx * src[i01]) +
                       fy * ((1 - fx) * src[i10] + fx * src[i11]);
      T.t[j * T.w + i] = float(v);
      T.m[j * T.w + i] = 1.0f;
    }
  }
  finishTpl(T);
  return T;
}

}  // namespace

Tpl reduceTpl(const Tpl& F, long f) {
  Tpl R;
  R.w = F.w / f;
  R.h = F.h / f;
  R.cx = F.cx / f;  // positions map back through the full template's centre
  R.cy = F.cy / f;
  R.t.assign(R.w * R.h, 0.0f);
  R.m.assign(R.w * R.h, 0.0f);
  // Undo zero-mean is unnecessary: the reduction of a zero-mean template is re-centred below.
  for (long v = 0; v < R.h; ++v)
    for (long u = 0; u < R.w; ++u) {
      double s = 0, m = 1;
      for (long j = 0; j < f; ++j)
        for (long i = 0; i < f; ++i) {
          const long k = (v * f + j) * F.w + u * f + i;
          s += F.t[k];
          m = std::min<double>(m, F.m[k]);
        }
      R.t[v * R.w + u] = float(s / double(f * f));
      R.m[v * R.w + u] = float(m);
    }
  finishTpl(R);
  R.angle = F.angle;
  R.scale = F.scale;
  return R;
}

// Removes at each step the border row or column holding the most invalid pixels, so that the
// coarse pass can take exact image statistics from the integral images. Returns the template
// unchanged when the crop would keep less than tune.cropKeep of its valid pixels.
Tpl cropValid(const Tpl& T, const vc_PatCorTuning& tune) {
  if (T.full) return T;
  long x0 = 0, y0 = 0, x1 = T.w, y1 = T.h;
  auto badRow = [&](long y) {
    long c = 0;
    for (long x = x0; x < x1; ++x) c += T.m[y * T.w + x] == 0;
    return c;
  };
  auto badCol = [&](long x) {
    long c = 0;
    for (long y = y0; y < y1; ++y) c += T.m[y * T.w + x] == 0;
    return c;
  };
  while (x1 - x0 > 2 && y1 - y0 > 2) {
    const long b[4] = {badRow(y0), badRow(y1 - 1), badCol(x0), badCol(x1 - 1)};
    const long k = std::max_element(b, b + 4) - b;
    if (b[k] == 0) break;
    if (k == 0) ++y0;
    if (k == 1) --y1;
    if (k == 2) ++x0;
    if (k == 3) --x1;
  }
  if (double((x1 - x0) * (y1 - y0)) < tune.cropKeep * T.n) return T;
  Tpl C = T;
  C.w = x1 - x0;
  C.h = y1 - y0;
  C.ox = T.ox + x0;
  C.oy = T.oy + y0;
  C.t.resize(C.w * C.h);
  C.m.resize(C.w * C.h);
  for (long y = 0; y < C.h; ++y)
    for (long x = 0; x < C.w; ++x) {
      C.t[y * C.w + x] = T.t[(y + y0) * T.w + x + x0];
      C.m[y * C.w + x] = T.m[(y + y0) * T.w + x + x0];
    }
  finishTpl(C);
  return C;
}

Tpl makeTpl(const vc_PatCorTrained& D, const vcMatrix<2>& base, double angle, double scale,
            double dx, double dy, const float* pix) {
  const vcMatrix<2> Z(scale, 1.0, vcRadian(0.0), vcRadian(angle * vcRadPerDeg));
  Tpl T = warp(D, base * Z, dx, dy, pix);
  T.angle = angle;
  T.scale = scale;
  return T;
}

bool isIdentity(const vcMatrix<2>& A) {
  return std::fabs(A(0, 0) - 1) < 1e-9 && std::fabs(A(1, 1) - 1) < 1e-9 &&
         std::fabs(A(0, 1)) < 1e-9 && std::fabs(A(1, 0)) < 1e-9;
}

}  // namespace vc_pcrun

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif
