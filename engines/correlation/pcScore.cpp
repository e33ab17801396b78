// Scores: the correlation coefficient of a template at one position, with or without masks,
// and the best integer position in a small neighbourhood.
#include "engines/correlation/pcRunTypes.h"

// The pixel loops are written to vectorize; GCC's -O2 cost model declines loops that need a
// scalar tail, so these stages ask for the ordinary model.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

#include <cmath>

namespace vc_pcrun {
namespace {

// Dot product with a row of 8-bit pixels, plus the pixels' sum and sum of squares. Eight
// independent partial sums: one float sum may not be reordered, eight lanes fill a register.
void dot3(const float* t, const unsigned char* p, long n, double& num, double& s1, double& s2) {
  float an[8] = {0, 0, 0, 0, 0, 0, 0, 0}, a1[8] = {0, 0, 0, 0, 0, 0, 0, 0},
        a2[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  long i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; ++k) {
      const float v = p[i + k];
      an[k] += t[i + k] * v;
      a1[k] += v;
      a2[k] += v * v;
    }
  float rn = 0, r1 = 0, r2 = 0;
  for (; i < n; ++i) {
    const float v = p[i];
    rn += t[i] * v;
    r1 += v;
    r2 += v * v;
  }
  for (int k = 0; k < 8; ++k) {
    rn += an[k];
    r1 += a1[k];
    r2 += a2[k];
  }
  num += rn;
  s1 += r1;
  s2 += r2;
}

}  // namespace

// Sums run in eight lanes so that they vectorize.
template <class P, class K>
double general(const Tpl& T, const P* img, long stride, const K* k, long kstride, long x, long y,
               const vc_PatCorTuning& tune) {
  if (!k) {
    // T is zero-mean on its own valid set: three sums suffice.
    double sti = 0, si = 0, sii = 0;
    for (long j = 0; j < T.h; ++j) {
      const float* tr = &T.t[j * T.w];
      const float* mr = &T.m[j * T.w];
      const P* ir = img + (y + j) * stride + x;
      float an[8] = {}, a1[8] = {}, a2[8] = {};
      long i = 0;
      for (; i + 8 <= T.w; i += 8)
        for (int l = 0; l < 8; ++l) {
          const float v = float(ir[i + l]), mv = mr[i + l] * v;
          an[l] += tr[i + l] * v;
          a1[l] += mv;
          a2[l] += mv * v;
        }
      for (; i < T.w; ++i) {
        const float v = float(ir[i]), mv = mr[i] * v;
        an[0] += tr[i] * v;
        a1[0] += mv;
        a2[0] += mv * v;
      }
      for (int l = 0; l < 8; ++l) {
        sti += an[l];
        si += a1[l];
        sii += a2[l];
      }
    }
    const double vi = sii - si * si / T.n;
    if (vi <= tune.flatVariance * T.n || T.norm <= 0) return 0.0;
    return sti / (T.norm * std::sqrt(vi));
  }
  double st = 0, si = 0, stt = 0, sii = 0, sti = 0, n = 0;
  for (long j = 0; j < T.h; ++j) {
    const float* tr = &T.t[j * T.w];
    const float* mr = &T.m[j * T.w];
    const P* ir = img + (y + j) * stride + x;
    const K* kr = k + (y + j) * kstride + x;
    float a[6][8] = {};
    for (long i0 = 0; i0 < T.w; i0 += 8)
      for (int l = 0; l < 8; ++l) {
        const long i = i0 + l;
        if (i >= T.w) break;
        const float wgt = mr[i] * float(kr[i]);
        const float t = tr[i], p = float(ir[i]), v = p * wgt;
        a[0][l] += t * wgt;
        a[1][l] += v;
        a[2][l] += t * t * wgt;
        a[3][l] += v * p;
        a[4][l] += t * v;
        a[5][l] += wgt;
      }
    for (int l = 0; l < 8; ++l) {
      st += a[0][l];
      si += a[1][l];
      stt += a[2][l];
      sii += a[3][l];
      sti += a[4][l];
      n += a[5][l];
    }
  }
  if (n < tune.minValidShare * T.n || n < tune.minValidPixels) return -2.0;
  const double vt = stt - st * st / n, vi = sii - si * si / n;
  if (vt <= tune.flatVariance * n || vi <= tune.flatVariance * n) return 0.0;
  return (sti - st * si / n) / std::sqrt(vt * vi);
}

template double general<unsigned char, unsigned char>(const Tpl&, const unsigned char*, long,
                                                      const unsigned char*, long, long, long,
                                                      const vc_PatCorTuning&);
template double general<float, float>(const Tpl&, const float*, long, const float*, long, long,
                                      long, const vc_PatCorTuning&);

}  // namespace vc_pcrun

double vc_PatCorRunner::exact(const Tpl& T, long x, long y) const {
  if (x < 0 || y < 0 || x + T.w > fw || y + T.h > fh) return -2.0;
  if (T.full && imask.empty()) {
    // Image sums along with the dot product: only a few hundred positions get here, so an
    // integral image of the full window would cost more than it saves.
    double num = 0, a = 0, b = 0;
    for (long j = 0; j < T.h; ++j)
      vc_pcrun::dot3(&T.t[j * T.w], px + (y + j) * stride + x, T.w, num, a, b);
    const double var = b - a * a / T.n;
    if (var <= tune.flatVariance * T.n || T.norm <= 0) return 0.0;
    return num / (T.norm * std::sqrt(var));
  }
  if (imask.empty())
    return vc_pcrun::general(T, px, stride, static_cast<const unsigned char*>(nullptr), 0, x, y,
                             tune);
  // The mask copy is packed: it has its own stride.
  return vc_pcrun::general(T, px, stride, imask.data(), fw, x, y, tune);
}

// Wider neighbourhoods (the reduction factor around a coarse peak) are sampled every second
// pixel, then climbed a pixel at a time: a correlation peak is at least a pixel wide at its
// top, so the best of the coarser samples lies on its flanks, and a third of the positions
// cost the same answer.
double vc_PatCorRunner::localSearch(const Tpl& T, double cx, double cy, long r, long& bx,
                                    long& by) const {
  const long x0 = std::lround(cx - T.cx), y0 = std::lround(cy - T.cy);
  const long step = r >= tune.sparseSearchFrom ? 2 : 1;
  double best = -3.0;
  for (long y = y0 - r; y <= y0 + r; y += step)
    for (long x = x0 - r; x <= x0 + r; x += step) {
      if (!centreAllowed(x + T.cx, y + T.cy)) continue;
      const double s = exact(T, x, y);
      if (s > best) {
        best = s;
        bx = x;
        by = y;
      }
    }
  if (step == 1 || best < -1.5) return best;
  for (bool climbed = true; climbed;) {
    climbed = false;
    const long cx0 = bx, cy0 = by;
    for (long y = cy0 - 1; y <= cy0 + 1; ++y)
      for (long x = cx0 - 1; x <= cx0 + 1; ++x) {
        if ((x == cx0 && y == cy0) || std::labs(x - x0) > r || std::labs(y - y0) > r ||
            !centreAllowed(x + T.cx, y + T.cy))
          continue;
        const double s = exact(T, x, y);
        if (s > best) {
          best = s;
          bx = x;
          by = y;
          climbed = true;
        }
      }
  }
  return best;
}

vc_pcrun::Tpl vc_PatCorRunner::warpedAt(const vc_pcrun::FitPose& f, const float* pix, long& x,
                                        long& y) const {
  const vcMatrix<2> A =
      base * vcMatrix<2>(f.scale, 1.0, vcRadian(0.0), vcRadian(f.angle * vcRadPerDeg));
  long w, h;
  vc_pcrun::tplSize(D, A, w, h);
  const double cx = (w - 1) * 0.5, cy = (h - 1) * 0.5;
  x = std::lround(f.cx - cx);
  y = std::lround(f.cy - cy);
  return vc_pcrun::makeTpl(D, base, f.angle, f.scale, f.cx - cx - double(x), f.cy - cy - double(y),
                           pix);
}

double vc_PatCorRunner::scoreAt(const vc_pcrun::FitPose& f, const float* pix) const {
  long x, y;
  const Tpl T = warpedAt(f, pix, x, y);
  return exact(T, x, y);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif
