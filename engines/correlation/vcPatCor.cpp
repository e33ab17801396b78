// Correlation engine: training, template warping and the two-pass search.
//
// Score of a template T (valid set V, n pixels) at an image position:
//   r = sum_V (T - mT)(I - mI) / sqrt(sum_V (T - mT)^2 * sum_V (I - mI)^2)
// T is stored zero-mean on V (so the numerator is a plain dot product with I) with its norm
// precomputed; for a template valid everywhere the image sums come from integral images, so
// each position costs one contiguous dot product. Warped templates have invalid corners: the
// coarse pass still takes the image statistics from the bounding box (a cheap approximation
// good enough to pick candidates), the fine pass computes them exactly on V.
#include "engines/correlation/vcPatCor.h"

// The pixel loops are written to vectorize; GCC's -O2 cost model declines loops that need a
// scalar tail, so this file asks for the ordinary model.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

void checkOrigin(const vcXform<2>& origin) {
  if (!vfIsSaneXform(origin))
    throw vc_PatCorDefs::BadParams(
        "The model origin must be finite, with scales in [0.001, 1000] and a translation "
        "within 1e6");
}

constexpr double kDegToRad = 0.017453292519943295;

// A warped template on the run-pixel grid. `t` is zero-mean over the valid pixels (0 at
// invalid ones), `m` 1 at valid pixels. (cx, cy) is the template centre on its grid.
struct Tpl {
  long w = 0, h = 0;
  double cx = 0, cy = 0;
  std::vector<float> t, m;
  double n = 0;     // valid pixel count
  double norm = 0;  // sqrt(sum t^2)
  bool full = true;
  double angle = 0, scale = 1;  // zone values it was made for
  long ox = 0, oy = 0;          // crop offset inside the uncropped template
};

// Float image with integral images of values and squares ((w + 1) x (h + 1), double).
struct Img {
  long w = 0, h = 0;
  std::vector<float> p;
  std::vector<double> s1, s2;
  void integrate() {
    s1.assign((w + 1) * (h + 1), 0.0);
    s2.assign((w + 1) * (h + 1), 0.0);
    for (long y = 0; y < h; ++y) {
      double r1 = 0, r2 = 0;
      const float* row = &p[y * w];
      double* a1 = &s1[(y + 1) * (w + 1)];
      double* a2 = &s2[(y + 1) * (w + 1)];
      const double* b1 = &s1[y * (w + 1)];
      const double* b2 = &s2[y * (w + 1)];
      for (long x = 0; x < w; ++x) {
        r1 += row[x];
        r2 += double(row[x]) * row[x];
        a1[x + 1] = b1[x + 1] + r1;
        a2[x + 1] = b2[x + 1] + r2;
      }
    }
  }
  // Sums over the box [x, x + bw) x [y, y + bh).
  void box(long x, long y, long bw, long bh, double& a, double& b) const {
    const long W = w + 1;
    const long i0 = y * W + x, i1 = y * W + x + bw, i2 = (y + bh) * W + x,
               i3 = (y + bh) * W + x + bw;
    a = s1[i3] - s1[i1] - s1[i2] + s1[i0];
    b = s2[i3] - s2[i1] - s2[i2] + s2[i0];
  }
};

// Box-average reduction by f (the last partial blocks are dropped).
template <class P>
void reduce(const P* src, long stride, long w, long h, long f, std::vector<float>& dst, long& rw,
            long& rh) {
  rw = w / f;
  rh = h / f;
  dst.assign(rw * rh, 0.0f);
  const float k = 1.0f / float(f * f);
  std::vector<float> acc(rw);
  for (long v = 0; v < rh; ++v) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (long j = 0; j < f; ++j) {
      const P* row = src + (v * f + j) * stride;
      for (long u = 0; u < rw; ++u) {
        float s = 0;
        for (long i = 0; i < f; ++i) s += row[u * f + i];
        acc[u] += s;
      }
    }
    for (long u = 0; u < rw; ++u) dst[v * rw + u] = acc[u] * k;
  }
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

// Trained state shared (read-only) between copies of a model.
struct vc_PatCorTrained {
  long W = 0, H = 0;
  std::vector<float> pix;           // training window
  std::vector<unsigned char> mask;  // 1 = pattern pixel
  bool hasMask = false;
  vcXform<2> trainClientFromImage;
  vcPair<long> offset;                       // window corner in the training root image
  long factor = 1;                           // coarse reduction
  std::vector<double> angles[2], scales[2];  // zone grids per pass
  std::vector<Tpl> coarse;                   // reduced templates at the coarse grid (identity base)
  std::vector<unsigned char> rawMaskForEq;
};

namespace {

// Mask pixels at or above this value are on, as for Geofind and the sub-models: the values
// below, such as the 1 the sub-model tool writes for pixels a caller left out, are off.
constexpr unsigned char kMaskOn = 128;

// More steps than this across a zone is a step typed wrong, not a search anyone can wait for.
constexpr double kMaxZoneSteps = 10000;
// Templates kept for the coarse pass (angles times scales), each a warped copy of the pattern.
constexpr std::size_t kMaxCoarseTemplates = 4096;

std::vector<double> zoneGrid(double nominal, double range, double step, bool allowed) {
  std::vector<double> g;
  if (!allowed || range <= 0) {
    g.push_back(nominal);
    return g;
  }
  if (!(range / step <= kMaxZoneSteps))
    throw vc_PatCorDefs::BadParams(
        "Zone step is too small for the zone range (at most 10000 steps each side)");
  const long k = long(std::ceil(range / step - 1e-9));
  for (long i = -k; i <= k; ++i) g.push_back(nominal + std::clamp(i * step, -range, range));
  return g;
}

// Warps the training window by A (training pixel offsets from its centre to run pixel offsets
// from the template centre) with bilinear sampling. A run pixel is valid when its four
// sources lie inside the training window and are pattern pixels.
Tpl warp(const vc_PatCorTrained& D, const vcMatrix<2>& A) {
  Tpl T;
  const double hx = (D.W - 1) * 0.5, hy = (D.H - 1) * 0.5;
  const bool identity = std::fabs(A(0, 0) - 1) < 1e-12 && std::fabs(A(1, 1) - 1) < 1e-12 &&
                        std::fabs(A(0, 1)) < 1e-12 && std::fabs(A(1, 0)) < 1e-12;
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
  const double ex = std::fabs(A(0, 0)) * hx + std::fabs(A(0, 1)) * hy;
  const double ey = std::fabs(A(1, 0)) * hx + std::fabs(A(1, 1)) * hy;
  T.w = 2 * long(std::floor(ex + 1e-9)) + 1 + ((D.W % 2 == 0) ? 1 : 0);
  T.h = 2 * long(std::floor(ey + 1e-9)) + 1 + ((D.H % 2 == 0) ? 1 : 0);
  T.cx = (T.w - 1) * 0.5;
  T.cy = (T.h - 1) * 0.5;
  const vcMatrix<2> Ai = A.inverse();
  T.t.assign(T.w * T.h, 0.0f);
  T.m.assign(T.w * T.h, 0.0f);
  for (long j = 0; j < T.h; ++j) {
    for (long i = 0; i < T.w; ++i) {
      const vcVector<2> s = Ai * vcVector<2>(i - T.cx, j - T.cy);
      const double sx = s.x() + hx, sy = s.y() + hy;
      const long x0 = long(std::floor(sx)), y0 = long(std::floor(sy));
      if (x0 < 0 || y0 < 0 || x0 >= D.W || y0 >= D.H) continue;
      const long x1 = std::min(x0 + 1, D.W - 1), y1 = std::min(y0 + 1, D.H - 1);
      if (sx > D.W - 1 + 1e-9 || sy > D.H - 1 + 1e-9) continue;
      const long i00 = y0 * D.W + x0, i01 = y0 * D.W + x1, i10 = y1 * D.W + x0, i11 = y1 * D.W + x1;
      if (!D.mask[i00] || !D.mask[i01] || !D.mask[i10] || !D.mask[i11]) continue;
      const double fx = sx - x0, fy = sy - y0;
      const double v = (1 - fy) * ((1 - fx) * D.pix[i00] + fx * D.pix[i01]) +
                       fy * ((1 - fx) * D.pix[i10] + fx * D.pix[i11]);
      T.t[j * T.w + i] = float(v);
      T.m[j * T.w + i] = 1.0f;
    }
  }
  finishTpl(T);
  return T;
}

// Reduces a full-resolution template by f; a reduced pixel is valid when its whole block is.
Tpl reduceTpl(const Tpl& F, long f) {
  Tpl R;
  R.w = F.w / f;
  R.h = F.h / f;
  R.cx = F.cx / f;  // only used to map positions back, see fullCentre()
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

// Crops a template to a rectangle without invalid pixels, removing at each step the border
// row or column holding the most invalid ones, so that the coarse pass can take exact image
// statistics from the integral images. Returns the template unchanged when the crop would
// keep less than half of its valid pixels.
Tpl cropValid(const Tpl& T) {
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
  if (double((x1 - x0) * (y1 - y0)) < 0.5 * T.n) return T;
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

Tpl makeTpl(const vc_PatCorTrained& D, const vcMatrix<2>& base, double angle, double scale) {
  const vcMatrix<2> Z(scale, 1.0, vcRadian(0.0), vcRadian(angle * kDegToRad));
  Tpl T = warp(D, base * Z);
  T.angle = angle;
  T.scale = scale;
  return T;
}

bool isIdentity(const vcMatrix<2>& A) {
  return std::fabs(A(0, 0) - 1) < 1e-9 && std::fabs(A(1, 1) - 1) < 1e-9 &&
         std::fabs(A(0, 1)) < 1e-9 && std::fabs(A(1, 0)) < 1e-9;
}

struct Cand {
  double score;
  double x, y;  // full-resolution template centre, window pixel coordinates
  double angle, scale;
};

}  // namespace

// Score of T with its top-left at (x, y) of an image of row stride `stride`, on the valid set
// template mask x image mask (k may be null: all image pixels valid). -2 when too little of
// the template remains. Sums run in eight lanes so that they vectorize.
template <class P, class K>
double general(const Tpl& T, const P* img, long stride, const K* k, long kstride, long x, long y) {
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
    if (vi <= 1e-9 * T.n || T.norm <= 0) return 0.0;
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
  if (n < 0.25 * T.n || n < 4) return -2.0;
  const double vt = stt - st * st / n, vi = sii - si * si / n;
  if (vt <= 1e-9 * n || vi <= 1e-9 * n) return 0.0;
  return (sti - st * si / n) / std::sqrt(vt * vi);
}

// The search of one run; a struct so that the result classes can befriend it.
struct vc_PatCorRunner {
  const vc_PatCorModel<unsigned char>& model;
  const vc_PatCorTrained& D;
  const vc_PatCorRunParams& P;
  const vcPelBuffer_const<unsigned char>& image;
  const vcPelBuffer_const<unsigned char>* mask;
  const vcXform<2>& origin;  // model frame of this run

  vc_PatCorRunner(const vc_PatCorModel<unsigned char>& m, const vc_PatCorTrained& d,
                  const vc_PatCorRunParams& p, const vcPelBuffer_const<unsigned char>& i,
                  const vcPelBuffer_const<unsigned char>* k, const vcXform<2>& o)
      : model(m), D(d), P(p), image(i), mask(k), origin(o) {}

  // The run window read in place: no copy of the image is made.
  const unsigned char* px = nullptr;
  long stride = 0, fw = 0, fh = 0;
  std::vector<unsigned char> imask;  // run mask as 1/0 over fw x fh (empty when none)
  // With partial matching the window is copied into a larger buffer whose border is masked
  // out; (padX, padY) is the window's corner in it.
  std::vector<unsigned char> padded;
  long padX = 0, padY = 0;
  vcMatrix<2> base;
  double lo[2], hi[2];
  double cxMin = 0, cxMax = 0, cyMin = 0, cyMax = 0;  // allowed centre positions

  // Exact score of template T with its top-left at (x, y) of the full image.
  double exact(const Tpl& T, long x, long y) const {
    if (x < 0 || y < 0 || x + T.w > fw || y + T.h > fh) return -2.0;
    if (T.full && imask.empty()) {
      // Image sums along with the dot product: only a few hundred positions get here, so an
      // integral image of the full window would cost more than it saves.
      double num = 0, a = 0, b = 0;
      for (long j = 0; j < T.h; ++j) dot3(&T.t[j * T.w], px + (y + j) * stride + x, T.w, num, a, b);
      const double var = b - a * a / T.n;
      if (var <= 1e-9 * T.n || T.norm <= 0) return 0.0;
      return num / (T.norm * std::sqrt(var));
    }
    if (imask.empty())
      return general(T, px, stride, static_cast<const unsigned char*>(nullptr), 0, x, y);
    // The mask copy is packed: it has its own stride.
    return general(T, px, stride, imask.data(), fw, x, y);
  }

  bool centreAllowed(double cx, double cy) const {
    return cx >= cxMin - 1e-9 && cx <= cxMax + 1e-9 && cy >= cyMin - 1e-9 && cy <= cyMax + 1e-9;
  }

  std::vector<double> zoneList(int d, const std::vector<double>& grid, bool enabled) const {
    std::vector<double> out;
    if (!enabled) {
      out.push_back(d == 0 ? 0.0 : 1.0);
      return out;
    }
    const double st = grid.size() > 1 ? std::fabs(grid[1] - grid[0]) : 0.0;
    for (double g : grid)
      if (g >= lo[d] - 0.5 * st - 1e-9 && g <= hi[d] + 0.5 * st + 1e-9)
        out.push_back(std::clamp(g, lo[d], hi[d]));
    out.erase(std::unique(out.begin(), out.end()), out.end());
    if (out.empty()) out.push_back(0.5 * (lo[d] + hi[d]));
    return out;
  }

  void coarsePass(std::vector<std::vector<Cand>>& clusters) {
    std::vector<Cand> cands;
    const long f = D.factor;
    Img red;
    reduce(px, stride, fw, fh, f, red.p, red.w, red.h);
    red.integrate();
    std::vector<float> red2(red.p.size());
    for (size_t i = 0; i < red.p.size(); ++i) red2[i] = red.p[i] * red.p[i];
    // With a run mask the coarse pass correlates on the reduced mask (a reduced pixel counts
    // when its whole block does).
    std::vector<float> redMask;
    if (!imask.empty()) {
      long mw2, mh2;
      reduce(imask.data(), fw, fw, fh, f, redMask, mw2, mh2);
      for (float& v : redMask) v = v > 0.999f ? 1.0f : 0.0f;
    }
    const bool aOn = P.zoneEnable() & 1, sOn = P.zoneEnable() & 2;
    const std::vector<double> angles = zoneList(0, D.angles[0], aOn);
    const std::vector<double> scales = zoneList(1, D.scales[0], sOn);
    const bool reuse = isIdentity(base);
    const double nb = P.neighborAcceptThreshold(1);
    const double thr = nb > -1.0 ? std::min(nb, P.acceptThreshold(1))
                                 : std::max(0.05, P.acceptThreshold(1) - 0.25);
    std::vector<float> map, accN, acc1, acc2;
    for (double s : scales)
      for (double a : angles) {
        Tpl local;
        const Tpl* Tc = nullptr;
        if (reuse) {
          for (const Tpl& c : D.coarse)
            if (std::fabs(c.angle - a) < 1e-9 && std::fabs(c.scale - s) < 1e-12) Tc = &c;
        }
        Tpl F;
        if (!Tc) {
          F = makeTpl(D, base, a, s);
          local = cropValid(reduceTpl(F, f));
          Tc = &local;
        } else {
          F = makeTpl(D, base, a, s);  // centre of the full template (cheap next to the pass)
        }
        const Tpl& T = *Tc;
        if (T.w < 1 || T.h < 1 || T.w > red.w || T.h > red.h || T.norm <= 0) continue;
        // Reduced top-left u <-> uncropped u - ox <-> full centre f * (u - ox) + F.cx.
        auto lim = [](double v) { return long(std::clamp(v, -1e9, 1e9)); };
        const long u0 = std::max(0L, lim(std::floor((cxMin - F.cx) / f)) + T.ox);
        const long u1 = std::min(red.w - T.w, lim(std::ceil((cxMax - F.cx) / f)) + T.ox);
        const long v0 = std::max(0L, lim(std::floor((cyMin - F.cy) / f)) + T.oy);
        const long v1 = std::min(red.h - T.h, lim(std::ceil((cyMax - F.cy) / f)) + T.oy);
        if (u1 < u0 || v1 < v0) continue;
        const long mw = u1 - u0 + 1, mh = v1 - v0 + 1;
        map.assign(mw * mh, -2.0f);
        const double invNorm = 1.0 / T.norm;
        if (!redMask.empty()) {
          for (long v = v0; v <= v1; ++v)
            for (long u = u0; u <= u1; ++u) {
              const double g = general(T, red.p.data(), red.w, redMask.data(), red.w, u, v);
              if (g > -1.5) map[(v - v0) * mw + (u - u0)] = float(g);
            }
        } else {
          // One output row at a time: each template pixel scales a run of image pixels into
          // the row's accumulators, a contiguous loop without a reduction.
          accN.resize(mw);
          acc1.resize(mw);
          acc2.resize(mw);
          for (long v = v0; v <= v1; ++v) {
            std::fill(accN.begin(), accN.end(), 0.0f);
            if (!T.full) {
              std::fill(acc1.begin(), acc1.end(), 0.0f);
              std::fill(acc2.begin(), acc2.end(), 0.0f);
            }
            for (long j = 0; j < T.h; ++j)
              for (long i = 0; i < T.w; ++i) {
                const float w = T.t[j * T.w + i];
                const float* src = &red.p[(v + j) * red.w + u0 + i];
                float* an = accN.data();
                for (long u = 0; u < mw; ++u) an[u] += w * src[u];
                if (!T.full && T.m[j * T.w + i] > 0) {
                  const float* sq = &red2[(v + j) * red.w + u0 + i];
                  float* b1 = acc1.data();
                  float* b2 = acc2.data();
                  for (long u = 0; u < mw; ++u) {
                    b1[u] += src[u];
                    b2[u] += sq[u];
                  }
                }
              }
            for (long u = u0; u <= u1; ++u) {
              double a1, a2;
              if (T.full) {
                red.box(u, v, T.w, T.h, a1, a2);
              } else {
                a1 = acc1[u - u0];
                a2 = acc2[u - u0];
              }
              const double var = a2 - a1 * a1 / T.n;
              if (var <= 1e-9 * T.n) continue;
              map[(v - v0) * mw + (u - u0)] = float(accN[u - u0] * invNorm / std::sqrt(var));
            }
          }
        }
        for (long v = 0; v < mh; ++v)
          for (long u = 0; u < mw; ++u) {
            const float c = map[v * mw + u];
            if (c < thr) continue;
            bool peak = true;
            for (long dv = -1; dv <= 1 && peak; ++dv)
              for (long du = -1; du <= 1; ++du) {
                if (!du && !dv) continue;
                const long uu = u + du, vv = v + dv;
                if (uu < 0 || vv < 0 || uu >= mw || vv >= mh) continue;
                const float o = map[vv * mw + uu];
                if (o > c || (o == c && (dv < 0 || (dv == 0 && du < 0)))) {
                  peak = false;
                  break;
                }
              }
            if (peak)
              cands.push_back({c, double((u + u0 - T.ox) * f) + F.cx,
                               double((v + v0 - T.oy) * f) + F.cy, a, s});
          }
      }
    // Strongest first. Candidates near a stronger one belong to the same instance; each
    // instance keeps its few best zones, since the reduced scores rank close zones loosely.
    std::sort(cands.begin(), cands.end(),
              [](const Cand& p, const Cand& q) { return p.score > q.score; });
    const double sep = 0.5 * std::min(D.W, D.H);
    const size_t maxKeep = size_t(std::max(8L, 4 * P.numToFind()));
    for (const Cand& c : cands) {
      bool placed = false;
      for (std::vector<Cand>& k : clusters)
        if (std::hypot(k[0].x - c.x, k[0].y - c.y) < sep) {
          if (k.size() < 3) k.push_back(c);
          placed = true;
          break;
        }
      if (!placed && clusters.size() < maxKeep) clusters.push_back({c});
    }
  }

  // Best integer top-left of T within +-r of the centre (cx, cy); returns its score.
  double localSearch(const Tpl& T, double cx, double cy, long r, long& bx, long& by) const {
    const long x0 = std::lround(cx - T.cx), y0 = std::lround(cy - T.cy);
    double best = -3.0;
    for (long y = y0 - r; y <= y0 + r; ++y)
      for (long x = x0 - r; x <= x0 + r; ++x) {
        if (!centreAllowed(x + T.cx, y + T.cy)) continue;
        const double s = exact(T, x, y);
        if (s > best) {
          best = s;
          bx = x;
          by = y;
        }
      }
    return best;
  }

  // Refines one candidate at full resolution: translation at the coarse zone, then the
  // fine zone steps around it, then sub-pixel translation and zone by parabola fits.
  bool refine(const std::vector<Cand>& cluster, vc_PatCorResult& out) const {
    const bool aOn = P.zoneEnable() & 1, sOn = P.zoneEnable() & 2;
    Tpl T;
    long bx = 0, by = 0;
    double best = -3.0;
    Cand c = cluster[0];
    for (const Cand& k : cluster) {
      Tpl U = makeTpl(D, base, k.angle, k.scale);
      long x = 0, y = 0;
      const double sc = localSearch(U, k.x, k.y, D.factor, x, y);
      if (sc > best) {
        best = sc;
        bx = x;
        by = y;
        c = k;
        T = std::move(U);
      }
    }
    if (best < -1.5) return false;
    double ba = c.angle, bs = c.scale;
    const bool fine =
        D.angles[1].size() + D.scales[1].size() > 0 && (model.trainParams().algorithms() & 2);
    double fa = 0, fs = 0;
    if (fine) {
      fa = model.trainParams().step(1, 2);
      fs = model.trainParams().step(2, 2);
      const double ca = model.trainParams().step(1, 1), cs = model.trainParams().step(2, 1);
      std::vector<double> as{c.angle}, ss{c.scale};
      if (aOn)
        for (long k = 1; k * fa <= 0.5 * ca + 1e-9; ++k) {
          as.push_back(c.angle - k * fa);
          as.push_back(c.angle + k * fa);
        }
      if (sOn)
        for (long k = 1; k * fs <= 0.5 * cs + 1e-9; ++k) {
          ss.push_back(c.scale - k * fs);
          ss.push_back(c.scale + k * fs);
        }
      const double cxb = bx + T.cx, cyb = by + T.cy;
      for (double s : ss)
        for (double a : as) {
          if (a < lo[0] - 1e-9 || a > hi[0] + 1e-9 || s < lo[1] - 1e-12 || s > hi[1] + 1e-12)
            continue;
          if (a == c.angle && s == c.scale) continue;
          Tpl U = makeTpl(D, base, a, s);
          long x = 0, y = 0;
          const double sc = localSearch(U, cxb, cyb, 1, x, y);
          if (sc > best) {
            best = sc;
            bx = x;
            by = y;
            ba = a;
            bs = s;
            T = std::move(U);
          }
        }
    }
    if (ba != c.angle || bs != c.scale) {
      // The best zone moved: re-centre translation once more.
      long x = bx, y = by;
      const double sc = localSearch(T, bx + T.cx, by + T.cy, 1, x, y);
      if (sc > best) {
        best = sc;
        bx = x;
        by = y;
      }
    }
    auto vertex = [](double m, double z, double p) {
      const double d = m - 2 * z + p;
      if (!(d < 0)) return 0.0;
      return std::clamp(0.5 * (m - p) / d, -0.5, 0.5);
    };
    // Sub-step zone: parabola over the neighbouring steps (fine steps when trained, else
    // coarse ones) at the best translation.
    auto zoneVertex = [&](double v, double st, bool angleDof) {
      if (st <= 0) return v;
      const double vm = v - st, vp = v + st;
      const int d = angleDof ? 0 : 1;
      if (vm < lo[d] - 1e-9 || vp > hi[d] + 1e-9) return v;
      Tpl A = angleDof ? makeTpl(D, base, vm, bs) : makeTpl(D, base, ba, vm);
      Tpl B = angleDof ? makeTpl(D, base, vp, bs) : makeTpl(D, base, ba, vp);
      const double cxb = bx + T.cx, cyb = by + T.cy;
      const double m = exact(A, std::lround(cxb - A.cx), std::lround(cyb - A.cy));
      const double p = exact(B, std::lround(cxb - B.cx), std::lround(cyb - B.cy));
      if (m < -1.5 || p < -1.5) return v;
      return v + st * vertex(m, best, p);
    };
    if (fine) {
      const double fa2 = aOn ? zoneVertex(ba, fa, true) : ba;
      const double fs2 = sOn ? zoneVertex(bs, fs, false) : bs;
      if (fa2 != ba || fs2 != bs) {
        // Keep the interpolated zone when its template scores at least as well.
        Tpl U = makeTpl(D, base, fa2, fs2);
        long x = bx, y = by;
        const double sc = localSearch(U, bx + T.cx, by + T.cy, 1, x, y);
        if (sc >= best) {
          best = sc;
          bx = x;
          by = y;
          ba = fa2;
          bs = fs2;
          T = std::move(U);
        }
      }
    } else {
      // Without fine steps the coarse step is halved three times around the best zone: the
      // score falls off too fast over a coarse step for a parabola through its neighbours.
      for (int d = 0; d < 2; ++d) {
        if (!(d == 0 ? aOn : sOn)) continue;
        double st = model.trainParams().step(d + 1, 1);
        for (int it = 0; it < 3; ++it) {
          st *= 0.5;
          const double v = d == 0 ? ba : bs;
          for (double z : {v - st, v + st}) {
            if (z < lo[d] - 1e-9 || z > hi[d] + 1e-9) continue;
            Tpl U = d == 0 ? makeTpl(D, base, z, bs) : makeTpl(D, base, ba, z);
            long x = bx, y = by;
            const double sc = localSearch(U, bx + T.cx, by + T.cy, 1, x, y);
            if (sc > best) {
              best = sc;
              bx = x;
              by = y;
              (d == 0 ? ba : bs) = z;
              T = std::move(U);
            }
          }
        }
      }
    }
    // Sub-pixel translation: separable parabola through the 3x3 neighbourhood.
    const double sxm = exact(T, bx - 1, by), sxp = exact(T, bx + 1, by);
    const double sym = exact(T, bx, by - 1), syp = exact(T, bx, by + 1);
    const double dx = (sxm > -1.5 && sxp > -1.5) ? vertex(sxm, best, sxp) : 0.0;
    const double dy = (sym > -1.5 && syp > -1.5) ? vertex(sym, best, syp) : 0.0;
    double peak = best;
    if (dx != 0 || dy != 0) {
      // Height of the fitted paraboloid at the vertex.
      peak = best + 0.25 * ((sxp - sxm) * dx + (syp - sym) * dy);
      peak = std::min(peak, 1.0);
      peak = std::max(peak, best);
    }
    const double cx = bx + T.cx + dx, cy = by + T.cy + dy;
    if (!centreAllowed(cx, cy) && !centreAllowed(bx + T.cx, by + T.cy)) return false;
    out.score_ = std::max(0.0, std::min(1.0, peak));
    out.angle_ = ba;
    out.scale_ = bs;
    // Pixel map training -> run (root pixels): p -> A (p - c_t) + c_run.
    const vcMatrix<2> A = base * vcMatrix<2>(bs, 1.0, vcRadian(0.0), vcRadian(ba * kDegToRad));
    const vcVector<2> ct(D.offset.x() + (D.W - 1) * 0.5, D.offset.y() + (D.H - 1) * 0.5);
    const vcVector<2> cr(image.offset().x() + cx - padX, image.offset().y() + cy - padY);
    const vcXform<2> runFromTrain(A, cr - A * ct);
    const vcXform<2> trainImageFromModel = D.trainClientFromImage.inverse() * origin;
    out.pose_ = image.clientFromImageXform() * runFromTrain * trainImageFromModel;
    out.imagePos_ = runFromTrain * (trainImageFromModel * vcVector<2>(0, 0));
    out.centre_ = cr;
    return out.score_ >= P.acceptThreshold(fine ? 2 : 1);
  }

  // True when b lies within the overlap limits of a (both translation and zone).
  bool overlaps(const vc_PatCorResult& a, const vc_PatCorResult& b) const {
    const double ox = std::max(0.0, 1.0 - std::fabs(a.centre_.x() - b.centre_.x()) / D.W);
    const double oy = std::max(0.0, 1.0 - std::fabs(a.centre_.y() - b.centre_.y()) / D.H);
    if (ox * oy <= P.xyOverlap()) return false;
    double da = std::fabs(a.angle_ - b.angle_);
    da = std::min(da, 360.0 - std::fmod(da, 360.0));
    if (da > P.zoneOverlap(1)) return false;
    if (std::fabs(a.scale_ - b.scale_) > P.zoneOverlap(2)) return false;
    return true;
  }

  void run(vc_PatCorResultSet& rs) {
    std::vector<std::vector<Cand>> cands;
    coarsePass(cands);
    std::vector<vc_PatCorResult> found;
    // Clusters come strongest first. Once enough results are in, a cluster whose coarse score
    // trails the weakest of them by more than the reduction can explain is not refined.
    for (const std::vector<Cand>& c : cands) {
      if (long(found.size()) >= P.numToFind()) {
        double weakest = 2.0;
        std::vector<double> sc;
        for (const vc_PatCorResult& r : found) sc.push_back(r.score_);
        std::sort(sc.rbegin(), sc.rend());
        weakest = sc[P.numToFind() - 1];
        if (c[0].score < weakest - 0.2) break;
      }
      vc_PatCorResult r;
      if (refine(c, r)) found.push_back(r);
    }
    std::stable_sort(
        found.begin(), found.end(),
        [](const vc_PatCorResult& p, const vc_PatCorResult& q) { return p.score_ > q.score_; });
    for (const vc_PatCorResult& r : found) {
      bool dup = false;
      for (const vc_PatCorResult& k : rs.results_)
        if (overlaps(k, r)) {
          dup = true;
          break;
        }
      if (!dup) rs.results_.push_back(r);
      if (long(rs.results_.size()) >= P.numToFind()) break;
    }
    rs.success_ = true;
  }
};

void vc_PatCorModel<unsigned char>::sample(const vcPair<double>& g) {
  if (!(g.x() >= 1.0) || !(g.y() >= 1.0) || g.x() > 64.0 || g.y() > 64.0)
    throw vc_PatCorDefs::BadParams("Sampling must be >= 1 and <= 64");
  sample_ = g;
}

void vc_PatCorModel<unsigned char>::computeOriginInverse_() {
  try {
    originInverse_ = origin_.inverse();
  } catch (const vcException&) {
    originInverse_ = vcXform<2>();
  }
}

void vc_PatCorModel<unsigned char>::untrain() {
  trained_ = false;
  data_.reset();
}

long vc_PatCorModel<unsigned char>::templateWidth() const { return data_ ? data_->W : 0; }
long vc_PatCorModel<unsigned char>::templateHeight() const { return data_ ? data_->H : 0; }

void vc_PatCorModel<unsigned char>::train(const vcPelBuffer_const<unsigned char>& image,
                                          const vcPelBuffer_const<unsigned char>& mask,
                                          const vc_PatCorTrainParams& params, vcDiagObject*,
                                          unsigned long) {
  if (!image.isBound()) throw vc_PatCorDefs::BadImage("Training image is unbound");
  if (image.width() < 4 || image.height() < 4)
    throw vc_PatCorDefs::BadImage("Training image must be at least 4 x 4 pixels");
  if (mask.isBound() && (mask.width() != image.width() || mask.height() != image.height()))
    throw vc_PatCorDefs::BadImage("Training mask size does not match the training image");
  if (!vfIsSaneXform(image.clientFromImageXform()))
    throw vc_PatCorDefs::BadImage(
        "The training image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
  checkOrigin(origin_);
  auto D = std::make_shared<vc_PatCorTrained>();
  D->W = image.width();
  D->H = image.height();
  D->pix.resize(D->W * D->H);
  D->mask.assign(D->W * D->H, 1);
  D->hasMask = mask.isBound();
  for (long y = 0; y < D->H; ++y) {
    const unsigned char* r = image.row(y);
    for (long x = 0; x < D->W; ++x) D->pix[y * D->W + x] = r[x];
    if (D->hasMask) {
      const unsigned char* m = mask.row(y);
      for (long x = 0; x < D->W; ++x) D->mask[y * D->W + x] = m[x] >= kMaskOn ? 1 : 0;
    }
  }
  long valid = 0;
  double s = 0, q = 0;
  for (size_t i = 0; i < D->pix.size(); ++i)
    if (D->mask[i]) {
      ++valid;
      s += D->pix[i];
      q += double(D->pix[i]) * D->pix[i];
    }
  if (valid < 16) throw vc_PatCorDefs::BadImage("Training mask leaves fewer than 16 pixels");
  if (q - s * s / valid <= 1e-6 * valid)
    throw vc_PatCorDefs::BadImage("Training pattern has no contrast");
  D->trainClientFromImage = image.clientFromImageXform();
  D->offset = image.offset();
  // The coarse templates must keep some structure: at least 6 pixels across.
  long f = std::max(1L, std::lround(std::max(sample_.x(), sample_.y())));
  while (f > 1 && (D->W / f < 6 || D->H / f < 6)) --f;
  D->factor = f;
  const unsigned long allowed = params.zoneAllowed();
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && !(params.algorithms() & 2)) break;
    D->angles[pass] = zoneGrid(params.zoneNominal(1), params.zoneMaxRange(1),
                               params.step(1, pass + 1), allowed & 1);
    D->scales[pass] = zoneGrid(params.zoneNominal(2), params.zoneMaxRange(2),
                               params.step(2, pass + 1), allowed & 2);
  }
  if (D->scales[0].size() * D->angles[0].size() > kMaxCoarseTemplates)
    throw vc_PatCorDefs::BadParams(
        "Zone ranges and coarse steps give more than 4096 coarse templates");
  const vcMatrix<2> id;
  for (double sc : D->scales[0])
    for (double a : D->angles[0]) {
      const Tpl F = makeTpl(*D, id, a, sc);
      D->coarse.push_back(cropValid(reduceTpl(F, f)));
    }
  trainParams_ = params;
  data_ = std::move(D);
  trained_ = true;
}

void vc_PatCorModel<unsigned char>::run(const vcPelBuffer_const<unsigned char>& image,
                                        const vc_PatCorRunParams& params,
                                        vc_PatCorResultSet& results, vcDiagObject* diag,
                                        unsigned long flags) const {
  run(image, vcPelBuffer_const<unsigned char>(), params, results, diag, flags);
}

void vc_PatCorModel<unsigned char>::run(const vcPelBuffer_const<unsigned char>& image,
                                        const vcPelBuffer_const<unsigned char>& mask,
                                        const vc_PatCorRunParams& params,
                                        vc_PatCorResultSet& results, vcDiagObject*,
                                        unsigned long) const {
  results.clear();
  if (!trained_ || !data_) throw vc_PatCorDefs::NotTrained("Correlation model is not trained");
  if (!image.isBound()) throw vc_PatCorDefs::BadImage("Run image is unbound");
  if (mask.isBound() && (mask.width() != image.width() || mask.height() != image.height()))
    throw vc_PatCorDefs::BadImage("Run mask size does not match the run image");
  if (!vfIsSaneXform(image.clientFromImageXform()))
    throw vc_PatCorDefs::BadImage(
        "The run image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
  // The run's own model frame, or the model's (a public member a caller may have set after
  // training).
  const vcXform<2>& origin = params.modelOrigin() ? *params.modelOrigin() : origin_;
  checkOrigin(origin);
  if (params.startPoseType != 0 && !vfIsSaneXform(params.startPose))
    throw vc_PatCorDefs::BadParams(
        "The start pose must be finite, with scales in [0.001, 1000] and a translation within "
        "1e6");
  const vc_PatCorTrained& D = *data_;

  vc_PatCorRunner R(*this, D, params, image, mask.isBound() ? &mask : nullptr, origin);
  // Zone ranges (absolute zone values) and the trained limits.
  for (int d = 0; d < 2; ++d) {
    const bool on = params.zoneEnable() & (1ul << d);
    const double unit = d == 0 ? 0.0 : 1.0;
    R.lo[d] = on ? unit + params.zoneRelLow(d + 1) : unit;
    R.hi[d] = on ? unit + params.zoneRelHigh(d + 1) : unit;
    const bool allowed = trainParams_.zoneAllowed() & (1ul << d);
    const double nom = trainParams_.zoneNominal(d + 1);
    const double rg = allowed ? trainParams_.zoneMaxRange(d + 1) : 0.0;
    const double tol = d == 0 ? 1e-6 : 1e-9;
    if (R.lo[d] < nom - rg - tol || R.hi[d] > nom + rg + tol)
      throw vc_PatCorDefs::BadRange(d == 0 ? "Angle range outside the trained zone"
                                           : "Scale range outside the trained zone");
  }
  // Pixel base map: training pixels to run pixels at the start pose.
  const vcXform<2> trainImageFromModel = D.trainClientFromImage.inverse() * origin;
  if (params.startPoseType != 0) {
    const vcXform<2> runImageFromModel = image.imageFromClientXform() * params.startPose;
    R.base = runImageFromModel.matrix() * trainImageFromModel.matrix().inverse();
  }
  {
    // Checked on the template's extent before it is warped, so a start pose that blows the
    // template up past the window costs nothing; the other candidates differ from this one by
    // bounded turns and scales.
    const double angle = 0.5 * (R.lo[0] + R.hi[0]), scale = 0.5 * (R.lo[1] + R.hi[1]);
    const vcMatrix<2> A =
        R.base * vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(angle * kDegToRad));
    const double hx = (D.W - 1) * 0.5, hy = (D.H - 1) * 0.5;
    const double ex = std::fabs(A(0, 0)) * hx + std::fabs(A(0, 1)) * hy;
    const double ey = std::fabs(A(1, 0)) * hx + std::fabs(A(1, 1)) * hy;
    const vcPelRect& pm = params.partialMatch();
    const double roomX = double(image.width() + pm.x() + pm.width() - 1);
    const double roomY = double(image.height() + pm.y() + pm.height() - 1);
    if (!(2 * std::floor(ex + 1e-9) + 1 <= roomX) || !(2 * std::floor(ey + 1e-9) + 1 <= roomY))
      throw vc_PatCorDefs::BadImage("Run window is smaller than the template");
    const Tpl T0 = makeTpl(D, R.base, angle, scale);
    if (roomX < T0.w || roomY < T0.h)
      throw vc_PatCorDefs::BadImage("Run window is smaller than the template");
  }
  // Allowed template-centre positions in window pixels.
  R.cxMin = -1e30;
  R.cxMax = 1e30;
  R.cyMin = -1e30;
  R.cyMax = 1e30;
  if (params.startPoseType != 0 && params.xyRelLow().x() > -1e29) {
    const vcVector<2> ct(D.offset.x() + (D.W - 1) * 0.5, D.offset.y() + (D.H - 1) * 0.5);
    const vcXform<2> runImageFromModel = image.imageFromClientXform() * params.startPose;
    const vcVector<2> c = runImageFromModel * (trainImageFromModel.inverse() * ct) -
                          vcVector<2>(double(image.offset().x()), double(image.offset().y()));
    const vcMatrix<2> M = image.imageFromClientXform().matrix();
    const vcVector<2> l = params.xyRelLow(), h = params.xyRelHigh();
    double x0 = 1e30, x1 = -1e30, y0 = 1e30, y1 = -1e30;
    for (const vcVector<2>& k : {vcVector<2>(l.x(), l.y()), vcVector<2>(h.x(), l.y()),
                                 vcVector<2>(l.x(), h.y()), vcVector<2>(h.x(), h.y())}) {
      const vcVector<2> q = M * k;
      x0 = std::min(x0, q.x());
      x1 = std::max(x1, q.x());
      y0 = std::min(y0, q.y());
      y1 = std::max(y1, q.y());
    }
    R.cxMin = c.x() + x0 - params.uncertainty().x();
    R.cxMax = c.x() + x1 + params.uncertainty().x();
    R.cyMin = c.y() + y0 - params.uncertainty().y();
    R.cyMax = c.y() + y1 + params.uncertainty().y();
  }
  const vcPelRect& pm = params.partialMatch();
  const long pl = pm.x(), pt = pm.y(), pr = pm.width() - 1, pb = pm.height() - 1;
  if (pl + pt + pr + pb == 0) {
    R.px = image.row(0);
    R.stride = image.rowStride();
    R.fw = image.width();
    R.fh = image.height();
    if (mask.isBound()) {
      R.imask.resize(R.fw * R.fh);
      for (long y = 0; y < R.fh; ++y) {
        const unsigned char* r = mask.row(y);
        for (long x = 0; x < R.fw; ++x) R.imask[y * R.fw + x] = r[x] >= kMaskOn ? 1 : 0;
      }
    }
  } else {
    R.fw = image.width() + pl + pr;
    R.fh = image.height() + pt + pb;
    R.padX = pl;
    R.padY = pt;
    R.padded.assign(R.fw * R.fh, 0);
    R.imask.assign(R.fw * R.fh, 0);
    for (long y = 0; y < image.height(); ++y) {
      const unsigned char* r = image.row(y);
      const unsigned char* m = mask.isBound() ? mask.row(y) : nullptr;
      unsigned char* o = &R.padded[(y + pt) * R.fw + pl];
      unsigned char* k = &R.imask[(y + pt) * R.fw + pl];
      for (long x = 0; x < image.width(); ++x) {
        o[x] = r[x];
        k[x] = (!m || m[x] >= kMaskOn) ? 1 : 0;
      }
    }
    R.px = R.padded.data();
    R.stride = R.fw;
    R.cxMin += pl;
    R.cxMax += pl;
    R.cyMin += pt;
    R.cyMax += pt;
  }
  R.run(results);
}

bool vc_PatCorModel<unsigned char>::operator==(const vc_PatCorModel& o) const {
  if (trained_ != o.trained_) return false;
  if (!trained_) return true;
  if (!data_ || !o.data_) return data_ == o.data_;
  const vc_PatCorTrained &a = *data_, &b = *o.data_;
  return sample_ == o.sample_ && trainParams_ == o.trainParams_ && origin_ == o.origin_ &&
         a.W == b.W && a.H == b.H && a.pix == b.pix && a.mask == b.mask &&
         a.trainClientFromImage == b.trainClientFromImage;
}
