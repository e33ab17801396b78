// Run: coarse search on the top pyramid level with gradient-orientation response maps, tracking
// of candidates down the pyramid with the direction-cosine score, least-squares refinement on
// level-0 edge points, scoring, and overlap removal.
//
// Pose model. u = pattern point (origin-relative pattern coordinates, from the training pixels
// through patternFromTrainPixel). The client position is A u + t with A = S D(v), S the start
// pose's linear part and D(v) the product of the DOF matrices in list order. In window pixels
// (level 0) the position is B u + tau with B = Mw A, where Mw maps client coordinates to window
// pixels. The search runs over tau and the DOF values v; level l sees (B u + tau - c_l) / 2^l,
// c_l = (2^l - 1) / 2 (2x2 mean reduction keeps pixel centres at 2x + 0.5).
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/geofind/gfImage.h"
#include "engines/geofind/gfModel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxDofs = 8;
constexpr int kResponseMax = 100;  // response map scale; 160 points x 100 fits 16 bits
constexpr double kPi = 3.14159265358979323846;
// Contrast threshold in gradient noise deviations (see gradientNoise).
constexpr double kNoiseFactor = 3.0;
// Farthest offset in pixels of an image edge alongside a missed model point that counts as a
// near miss (see clutterOf).
constexpr double kNearMiss = 4.0;
// Size-held candidates keep their coarse size on this pyramid level and above.
constexpr int kHoldSizeFrom = 1;
// The strongest coarse peaks that keep neighbouring sizes apart and get size-held copies.
constexpr std::size_t kSizeVariety = 12;

struct Deadline {
  bool active = false;
  Clock::time_point end;
  void check() const {
    if (active && Clock::now() > end) throw vcTimeout::Expired("Geofind run time limit expired");
  }
};

struct DofSpec {
  const vxGeorapidDOF* dof = nullptr;
  double low = 0, high = 0;
  bool fixed = true;
  bool fullCircle = false;
};

struct Pose {
  double tx = 0, ty = 0;  // tau, level-0 window pixels
  std::array<double, kMaxDofs> v{};
  double score = 0;
  bool holdSize = false;  // size DOFs stay at their coarse values down to level kHoldSizeFrom
};

// Model points in pattern coordinates.
struct PatPoints {
  std::vector<float> ux, uy, nx, ny, w;
  double totalW = 0;
  vcVector<2> centroid;  // weighted mean position: the pivot of DOF steps while tracking
  double rim = 0;        // largest distance of a point from the centroid
  std::size_t size() const { return ux.size(); }
};

struct LevelImage {
  int w = 0, h = 0;
  std::vector<std::uint8_t> pix;
  std::vector<std::uint8_t> mask;  // empty: every pixel usable
};

struct Grad {
  int w = 0, h = 0;
  std::vector<float> gx, gy;
  const void* source = nullptr;  // level image the window was taken from
  int x0 = 0, y0 = 0;            // window origin in that image
  bool covers(const void* src, int a0, int b0, int a1, int b1) const {
    return src == source && a0 >= x0 && b0 >= y0 && a1 <= x0 + w && b1 <= y0 + h;
  }
};

struct Problem {
  const vc_GFModel* m = nullptr;
  std::vector<DofSpec> dofs;
  vcMatrix<2> S;
  vcMatrix<2> Mw;  // client -> window pixels, linear part
  vcVector<2> MwT;
  bool ignorePolarity = false;
  double contrast = 10;  // level 0; contrastAt[l] on pyramid level l
  std::vector<double> contrastAt;
  double elasticity = 0;
  Deadline deadline;
  double contrastOn(int level) const {
    return level < int(contrastAt.size()) ? contrastAt[std::size_t(level)] : contrast;
  }
};

vcMatrix<2> dofMatrix(const Problem& P, const Pose& p) {
  vcMatrix<2> D;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) D = D * P.dofs[k].dof->matrix(p.v[k]);
  return D;
}

// B = Mw S D(v)
vcMatrix<2> poseB(const Problem& P, const Pose& p) { return P.Mw * P.S * dofMatrix(P, p); }

// dB/dv_k
vcMatrix<2> poseDB(const Problem& P, const Pose& p, std::size_t k) {
  vcMatrix<2> D;
  for (std::size_t j = 0; j < P.dofs.size(); ++j)
    D = D * (j == k ? P.dofs[j].dof->derivative(p.v[j]) : P.dofs[j].dof->matrix(p.v[j]));
  return P.Mw * P.S * D;
}

vcMatrix<2> invTranspose(const vcMatrix<2>& B) {
  const double d = B.det();
  return {B(1, 1) / d, -B(1, 0) / d, -B(0, 1) / d, B(0, 0) / d};
}

PatPoints toPattern(const vc_GFPointSet& s, const vcXform<2>& G) {
  PatPoints o;
  const vcMatrix<2> Gi = invTranspose(G.matrix());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const vcVector<2> u = G.mapPoint({s.x[i], s.y[i]});
    const vcVector<2> n = (Gi * vcVector<2>(s.nx[i], s.ny[i])).unit();
    o.ux.push_back(float(u.x()));
    o.uy.push_back(float(u.y()));
    o.nx.push_back(float(n.x()));
    o.ny.push_back(float(n.y()));
    o.w.push_back(s.w[i]);
    o.totalW += s.w[i];
    o.centroid += s.w[i] * u;
  }
  if (o.totalW > 0) o.centroid = o.centroid * (1.0 / o.totalW);
  for (std::size_t i = 0; i < o.size(); ++i)
    o.rim = std::max(o.rim, std::hypot(o.ux[i] - o.centroid.x(), o.uy[i] - o.centroid.y()));
  return o;
}

// ------------------------------------------------------------------------------ images

LevelImage reduce(const LevelImage& in) {
  LevelImage o;
  o.w = in.w / 2;
  o.h = in.h / 2;
  o.pix.resize(std::size_t(o.w) * o.h);
  for (int y = 0; y < o.h; ++y) {
    const std::uint8_t* a = &in.pix[std::size_t(2 * y) * in.w];
    const std::uint8_t* b = a + in.w;
    std::uint8_t* d = &o.pix[std::size_t(y) * o.w];
    for (int x = 0; x < o.w; ++x)
      d[x] = std::uint8_t((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
  }
  if (!in.mask.empty()) {
    o.mask.resize(o.pix.size());
    for (int y = 0; y < o.h; ++y)
      for (int x = 0; x < o.w; ++x) {
        const std::size_t i0 = std::size_t(2 * y) * in.w + 2 * x;
        o.mask[std::size_t(y) * o.w + x] =
            in.mask[i0] + in.mask[i0 + 1] + in.mask[i0 + in.w] + in.mask[i0 + in.w + 1] >= 2;
      }
  }
  return o;
}

// Robust scale s of the gradient noise of a level: at full size edges are thin, so most pixels
// are flat and the lower quartile of the Sobel / 8 magnitude over the usable pixels (a regular
// sample of them on large windows) is a noise magnitude even when the pattern fills the
// window. With Gaussian noise each gradient component has deviation s and the magnitude is
// Rayleigh distributed, lower quartile s sqrt(2 ln (4/3)).
double gradientNoise(const LevelImage& L) {
  constexpr int kBins = 1024;
  constexpr float kPerBin = 4.0f;  // quarter grey levels per pixel
  std::array<std::uint32_t, kBins + 1> hist{};
  // About 30000 samples pin the quartile down well enough.
  const int step = std::max(1, int(std::sqrt(double(L.w) * L.h / 30000.0)));
  std::size_t n = 0;
  for (int y = 1; y < L.h - 1; y += step) {
    const std::uint8_t* a = &L.pix[std::size_t(y - 1) * L.w];
    const std::uint8_t* b = a + L.w;
    const std::uint8_t* c = b + L.w;
    const std::uint8_t* m = L.mask.empty() ? nullptr : &L.mask[std::size_t(y) * L.w];
    for (int x = 1; x < L.w - 1; x += step) {
      if (m && !m[x]) continue;
      const int gx = (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
      const int gy = (c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
      const float mag = 0.125f * std::sqrt(float(gx * gx + gy * gy));
      ++hist[std::min<std::size_t>(kBins, std::size_t(mag * kPerBin))];
      ++n;
    }
  }
  if (n == 0) return 0.0;
  std::size_t below = 0;
  const std::size_t q = n / 4;
  for (int i = 0; i <= kBins; ++i) {
    if (below + hist[std::size_t(i)] > q) {
      // Linear interpolation inside the quartile's bin.
      const double frac = double(q - below) / double(hist[std::size_t(i)]);
      return (i + frac) / kPerBin / 0.7585;
    }
    below += hist[std::size_t(i)];
  }
  return kBins / kPerBin;
}

// Sobel / 8 over the rectangle [x0, x1) x [y0, y1) of a level (clipped); masked pixels and the
// image border get a zero gradient.
void sobel(const LevelImage& L, int x0, int y0, int x1, int y1, Grad& g, int& gx0, int& gy0) {
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, L.w), y1 = std::min(y1, L.h);
  gx0 = x0, gy0 = y0;
  g.source = &L, g.x0 = x0, g.y0 = y0;
  g.w = std::max(0, x1 - x0), g.h = std::max(0, y1 - y0);
  g.gx.assign(std::size_t(g.w) * g.h, 0.0f);
  g.gy.assign(std::size_t(g.w) * g.h, 0.0f);
  for (int y = std::max(y0, 1); y < std::min(y1, L.h - 1); ++y) {
    const std::uint8_t* a = &L.pix[std::size_t(y - 1) * L.w];
    const std::uint8_t* b = a + L.w;
    const std::uint8_t* c = b + L.w;
    // Row starts inside the buffers: a pointer shifted back by x0 would lie before them.
    float* ox = g.gx.data() + std::size_t(y - y0) * g.w;
    float* oy = g.gy.data() + std::size_t(y - y0) * g.w;
    const int xe = std::min(x1, L.w - 1);
    for (int x = std::max(x0, 1); x < xe; ++x) {
      ox[x - x0] = 0.125f * float((a[x + 1] + 2 * b[x + 1] + c[x + 1]) -
                                  (a[x - 1] + 2 * b[x - 1] + c[x - 1]));
      oy[x - x0] =
          0.125f * float((c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
    }
  }
  if (!L.mask.empty())
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (!L.mask[std::size_t(y) * L.w + x]) {
          g.gx[std::size_t(y - y0) * g.w + (x - x0)] = 0;
          g.gy[std::size_t(y - y0) * g.w + (x - x0)] = 0;
        }
}

// --------------------------------------------------------------------------- coarse search

struct ResponseMaps {
  int nb = 8, w = 0, h = 0, pad = 0, stride = 0;
  std::vector<std::uint8_t> buf;  // nb planes of (h + 2 pad) x stride
  const std::uint8_t* plane(int b) const {
    return buf.data() + std::size_t(b) * stride * (h + 2 * pad);
  }
};

int dirBin(double gx, double gy, int nb, bool ignorePolarity) {
  double a = std::atan2(gy, gx);
  const double period = ignorePolarity ? kPi : 2 * kPi;
  a = std::fmod(a + 2 * kPi, period);
  int b = int(std::lround(a / period * nb)) % nb;
  return b < 0 ? b + nb : b;
}

// Per orientation bin o: K max(0, cos(theta - theta_o)) (|cos| when polarity is ignored) of the
// pixels whose gradient reaches the contrast threshold, then a 3x3 maximum so that the coarse
// grid of poses tolerates one pixel of displacement.
void buildResponses(const Grad& g, const Problem& P, int level, int pad, ResponseMaps& R) {
  R.nb = P.ignorePolarity ? 8 : 16;
  R.w = g.w, R.h = g.h, R.pad = pad, R.stride = g.w + 2 * pad;
  const std::size_t planeSize = std::size_t(R.stride) * (R.h + 2 * pad);
  R.buf.assign(planeSize * R.nb, 0);
  const std::size_t n = std::size_t(g.w) * g.h;
  // Unit gradient directions once; weak pixels get a zero vector and so no response.
  std::vector<float> ux(n), uy(n);
  const float thr2 = float(P.contrastOn(level) * P.contrastOn(level));
  for (std::size_t i = 0; i < n; ++i) {
    const float gx = g.gx[i], gy = g.gy[i], m2 = gx * gx + gy * gy;
    const float inv = (m2 >= thr2 && m2 > 0) ? 1.0f / std::sqrt(m2) : 0.0f;
    ux[i] = gx * inv;
    uy[i] = gy * inv;
  }
  const double period = P.ignorePolarity ? kPi : 2 * kPi;
  std::vector<std::uint8_t> tmp(n), rowMax(n);
  for (int b = 0; b < R.nb; ++b) {
    const float cx = float(std::cos(b * period / R.nb)), cy = float(std::sin(b * period / R.nb));
    for (std::size_t i = 0; i < n; ++i) {
      float c = ux[i] * cx + uy[i] * cy;
      if (P.ignorePolarity) c = std::fabs(c);
      c = std::max(c, 0.0f);
      tmp[i] = std::uint8_t(c * kResponseMax + 0.5f);
    }
    // Separable 3x3 maximum: along rows, then down columns into the padded plane.
    for (int y = 0; y < g.h; ++y) {
      const std::uint8_t* s = &tmp[std::size_t(y) * g.w];
      std::uint8_t* d = &rowMax[std::size_t(y) * g.w];
      for (int x = 0; x < g.w; ++x)
        d[x] = std::max({s[x], s[std::max(x - 1, 0)], s[std::min(x + 1, g.w - 1)]});
    }
    std::uint8_t* dst = R.buf.data() + planeSize * b;
    for (int y = 0; y < g.h; ++y) {
      const std::uint8_t* a0 = &rowMax[std::size_t(std::max(y - 1, 0)) * g.w];
      const std::uint8_t* a1 = &rowMax[std::size_t(y) * g.w];
      const std::uint8_t* a2 = &rowMax[std::size_t(std::min(y + 1, g.h - 1)) * g.w];
      std::uint8_t* d = dst + std::size_t(y + pad) * R.stride + pad;
      for (int x = 0; x < g.w; ++x) d[x] = std::max({a0[x], a1[x], a2[x]});
    }
  }
}

// acc[j] += src[j]: one shifted response plane added to the accumulator; contiguous so it
// vectorizes. An AVX2 copy is chosen at load time where the processor has it (same sums).
__attribute__((optimize("O3"), target_clones("avx2", "default"))) void accumulateRow(
    std::uint16_t* __restrict acc, const std::uint8_t* __restrict src, int n) {
  for (int x = 0; x < n; ++x) acc[x] = std::uint16_t(acc[x] + src[x]);
}

__attribute__((optimize("O3"), target_clones("avx2", "default"))) std::uint16_t rowMax(
    const std::uint16_t* __restrict a, int n) {
  std::uint16_t m = 0;
  for (int x = 0; x < n; ++x) m = std::max(m, a[x]);
  return m;
}

struct Cand {
  double score;
  double x, y;    // tau, level-0 pixels
  double cx, cy;  // where the points' centroid lands, level-0 pixels
  std::array<double, kMaxDofs> v;
};

// Enumerates the DOF grid of the coarse level.
struct DofGrid {
  std::vector<std::vector<double>> values;
  std::vector<double> steps;
  std::size_t count() const {
    std::size_t n = 1;
    for (auto& v : values) n *= v.size();
    return n;
  }
  void at(std::size_t idx, std::array<double, kMaxDofs>& v) const {
    for (std::size_t k = 0; k < values.size(); ++k) {
      v[k] = values[k][idx % values[k].size()];
      idx /= values[k].size();
    }
  }
};

DofGrid makeGrid(const Problem& P, double radiusPx) {
  DofGrid g;
  const double r = std::max(radiusPx, 2.0);
  for (const DofSpec& d : P.dofs) {
    std::vector<double> vals;
    double step = 0;
    if (d.fixed) {
      vals.push_back(d.low);
    } else {
      // About 1.5 px of displacement at the pattern's rim per step, inside the 3x3 tolerance
      // of the response maps.
      const double rel = 1.0 / r;
      if (d.dof->kind() == vxGeorapidDOF::eAngle || d.dof->kind() == vxGeorapidDOF::eSkew)
        step = rel * 180.0 / kPi;
      else
        step = rel * std::max(std::fabs(d.low), std::fabs(d.high));
      const double span = d.high - d.low;
      if (d.fullCircle) {
        const int n = std::max(1, int(std::ceil(360.0 / step)));
        step = 360.0 / n;
        for (int i = 0; i < n; ++i) vals.push_back(d.low + i * step);
      } else {
        const int n = std::max(1, int(std::ceil(span / step)));
        step = span / n;
        for (int i = 0; i <= n; ++i) vals.push_back(d.low + i * step);
        if (n == 0) vals.push_back(d.low);
      }
    }
    g.values.push_back(vals);
    g.steps.push_back(step);
  }
  return g;
}

// Scale-like DOFs (every kind but angle and skew) change the pattern's size or proportions.
bool isSizeDof(const DofSpec& d) {
  return d.dof->kind() != vxGeorapidDOF::eAngle && d.dof->kind() != vxGeorapidDOF::eSkew;
}

double circDiff(double a, double b, double period) {
  double d = std::fabs(a - b);
  if (period > 0) {
    d = std::fmod(d, period);
    d = std::min(d, period - d);
  }
  return d;
}

std::vector<Cand> coarseSearch(const Problem& P, const PatPoints& pts, const LevelImage& L,
                               int level, const DofGrid& grid, double thr, std::size_t keep) {
  const double f = double(1 << level), c = 0.5 * (f - 1.0);
  Grad g;
  int gx0, gy0;
  sobel(L, 0, 0, L.w, L.h, g, gx0, gy0);
  double maxR = 0;
  Pose probe;
  const std::size_t nCombos = grid.count();
  std::vector<vcMatrix<2>> Bs(nCombos);
  for (std::size_t ci = 0; ci < nCombos; ++ci) {
    grid.at(ci, probe.v);
    Bs[ci] = poseB(P, probe);
    const double s = std::sqrt(std::fabs(Bs[ci].det())) +
                     std::hypot(Bs[ci](0, 0) - Bs[ci](1, 1), Bs[ci](0, 1) + Bs[ci](1, 0));
    maxR = std::max(maxR, pts.rim * s / f);
  }
  const int pad = int(std::ceil(maxR)) + 3;
  ResponseMaps R;
  buildResponses(g, P, level, pad, R);
  const int W = L.w, H = L.h;
  // The accumulator has the response planes' row stride, so that each point adds one shifted
  // plane in a single contiguous run; the columns beyond W collect wrapped sums and are unused.
  const std::size_t AS = std::size_t(R.stride), run = AS * std::size_t(H);
  std::vector<std::uint16_t> acc(run), rowPeak(static_cast<std::size_t>(H));
  std::vector<int> dx(pts.size()), dy(pts.size()), bin(pts.size());
  const double totalW = double(pts.size()) * kResponseMax;
  const std::uint16_t thrInt = std::uint16_t(std::min(65535.0, std::ceil(thr * totalW)));
  std::vector<Cand> cands;
  for (std::size_t ci = 0; ci < nCombos; ++ci) {
    P.deadline.check();
    const vcMatrix<2>& B = Bs[ci];
    const vcMatrix<2> Bit = invTranspose(B);
    // The accumulator is indexed by the centroid's position, which lies on the pattern, so the
    // scan covers every placement that overlaps the image wherever the origin is.
    const vcVector<2> Bc = B * pts.centroid;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const vcVector<2> q =
          B * vcVector<2>(pts.ux[i] - pts.centroid.x(), pts.uy[i] - pts.centroid.y());
      dx[i] = int(std::lround(q.x() / f));
      dy[i] = int(std::lround(q.y() / f));
      const vcVector<2> n = Bit * vcVector<2>(pts.nx[i], pts.ny[i]);
      bin[i] = dirBin(n.x(), n.y(), R.nb, P.ignorePolarity);
    }
    std::fill(acc.begin(), acc.end(), 0);
    for (std::size_t i = 0; i < pts.size(); ++i)
      accumulateRow(acc.data(), R.plane(bin[i]) + std::size_t(dy[i] + pad) * AS + pad + dx[i],
                    int(run));
    for (int y = 0; y < H; ++y) rowPeak[std::size_t(y)] = rowMax(&acc[std::size_t(y) * AS], W);
    for (int y = 0; y < H; ++y) {
      // Most rows hold no score above the threshold; their maximum tells without a scan.
      if (rowPeak[std::size_t(y)] < thrInt) continue;
      const std::uint16_t* a = &acc[std::size_t(y) * AS];
      for (int x = 0; x < W; ++x) {
        const std::uint16_t s = a[x];
        if (s < thrInt) continue;
        bool peak = true;
        for (int yy = std::max(0, y - 1); yy <= std::min(H - 1, y + 1) && peak; ++yy)
          for (int xx = std::max(0, x - 1); xx <= std::min(W - 1, x + 1); ++xx) {
            const std::uint16_t o = acc[std::size_t(yy) * AS + xx];
            if (o > s || (o == s && (yy * W + xx) < (y * W + x))) {
              peak = false;
              break;
            }
          }
        if (!peak) continue;
        Cand cd;
        cd.score = s / totalW;
        cd.cx = x * f + c;
        cd.cy = y * f + c;
        cd.x = cd.cx - Bc.x();
        cd.y = cd.cy - Bc.y();
        grid.at(ci, cd.v);
        cands.push_back(cd);
      }
    }
    // Bound memory on cluttered images: keep the best few per pass.
    if (cands.size() > 64 * keep) {
      std::nth_element(cands.begin(), cands.begin() + long(8 * keep), cands.end(),
                       [](const Cand& a, const Cand& b) { return a.score > b.score; });
      cands.resize(8 * keep);
    }
  }
  std::sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.cy != b.cy) return a.cy < b.cy;
    return a.cx < b.cx;
  });
  // Greedy suppression of neighbours in position and every DOF.
  const double rpx = std::max(2.0, maxR) * f;
  std::vector<Cand> out;
  for (const Cand& cd : cands) {
    bool dup = false;
    for (const Cand& o : out) {
      if (std::hypot(cd.cx - o.cx, cd.cy - o.cy) > rpx) continue;
      // Neighbouring sizes stay apart among the strongest peaks: under occlusion the peak of a
      // wrong size, fitted to an occluder's outline, can stand next to the true one and be the
      // higher. Further down the list (a caller collecting many candidates) they merge again.
      bool near = true;
      for (std::size_t k = 0; k < P.dofs.size(); ++k) {
        if (P.dofs[k].fixed) continue;
        const double tol = isSizeDof(P.dofs[k]) && out.size() < kSizeVariety ? 0.51 : 2.01;
        if (circDiff(cd.v[k], o.v[k], P.dofs[k].dof->circular()) > tol * grid.steps[k])
          near = false;
      }
      if (near) {
        dup = true;
        break;
      }
    }
    if (!dup) out.push_back(cd);
    if (out.size() >= keep) break;
  }
  return out;
}

// -------------------------------------------------------------------- pyramid tracking

void clampDofs(const Problem& P, Pose& p) {
  for (std::size_t k = 0; k < P.dofs.size(); ++k) {
    const DofSpec& d = P.dofs[k];
    if (d.fixed) {
      p.v[k] = d.low;
    } else if (d.fullCircle) {
      p.v[k] = d.low + std::fmod(std::fmod(p.v[k] - d.low, 360.0) + 360.0, 360.0);
    } else {
      p.v[k] = std::clamp(p.v[k], d.low, d.high);
    }
  }
}

// True when two fitted poses are one solution: candidates from neighbouring coarse cells
// converge onto the same instance, and fitting it twice costs a whole fine stage.
// `slack` widens the position and angle tolerances for the coarser pyramid levels.
bool sameSolution(const Problem& P, const vcVector<2>& pivot, const Pose& a, const Pose& b,
                  double slack = 1.0) {
  const vcVector<2> ca = poseB(P, a) * pivot + vcVector<2>(a.tx, a.ty);
  const vcVector<2> cb = poseB(P, b) * pivot + vcVector<2>(b.tx, b.ty);
  if (ca.distance(cb) > 1.5 * slack) return false;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) {
    const double tol = isSizeDof(P.dofs[k]) ? 0.01 * std::max(1.0, std::fabs(a.v[k])) : slack;
    if (circDiff(a.v[k], b.v[k], P.dofs[k].dof->circular()) > tol) return false;
  }
  return true;
}

// ------------------------------------------------------------------- least squares

struct FitStats {
  double score = 0, contrast = 0, fitError = 0, coverage = 0;
  std::size_t matched = 0;
  std::vector<vcVector<2>> modelPts, imagePts;  // window pixels
};

// Solves the small symmetric system A x = b (n <= 2 + kMaxDofs) by Gaussian elimination with
// partial pivoting; returns false when singular.
bool solve(int n, double* A, double* b, double* x) {
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(A[r * n + c]) > std::fabs(A[piv * n + c])) piv = r;
    if (std::fabs(A[piv * n + c]) < 1e-12) return false;
    if (piv != c) {
      for (int k = 0; k < n; ++k) std::swap(A[c * n + k], A[piv * n + k]);
      std::swap(b[c], b[piv]);
    }
    for (int r = c + 1; r < n; ++r) {
      const double fct = A[r * n + c] / A[c * n + c];
      for (int k = c; k < n; ++k) A[r * n + k] -= fct * A[c * n + k];
      b[r] -= fct * b[c];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    double s = b[r];
    for (int k = r + 1; k < n; ++k) s -= A[r * n + k] * x[k];
    x[r] = s / A[r * n + r];
  }
  return true;
}

struct EdgeProbe {
  const Grad* g;
  int x0, y0;
  float sample(const std::vector<float>& plane, double x, double y) const {
    x -= x0;
    y -= y0;
    if (x < 0 || y < 0 || x > g->w - 1.001 || y > g->h - 1.001) return 0.0f;
    const int ix = int(x), iy = int(y);
    const float fx = float(x - ix), fy = float(y - iy);
    const float* r0 = &plane[std::size_t(iy) * g->w + ix];
    const float* r1 = r0 + g->w;
    return (r0[0] + (r0[1] - r0[0]) * fx) * (1 - fy) + (r1[0] + (r1[1] - r1[0]) * fx) * fy;
  }
  // Gradient projected on n at p + t n; projecting the four neighbours first shares one
  // bilinear weighting between both planes.
  float along(double px, double py, double nx, double ny, double t) const {
    const double x = px + t * nx - x0, y = py + t * ny - y0;
    if (x < 0 || y < 0 || x > g->w - 1.001 || y > g->h - 1.001) return 0.0f;
    const int ix = int(x), iy = int(y);
    const float fx = float(x - ix), fy = float(y - iy);
    const std::size_t o = std::size_t(iy) * g->w + ix, o1 = o + g->w;
    const float* gx = g->gx.data();
    const float* gy = g->gy.data();
    const float ax = float(nx), ay = float(ny);
    const float v00 = gx[o] * ax + gy[o] * ay, v01 = gx[o + 1] * ax + gy[o + 1] * ay;
    const float v10 = gx[o1] * ax + gy[o1] * ay, v11 = gx[o1 + 1] * ax + gy[o1 + 1] * ay;
    return (v00 + (v01 - v00) * fx) * (1 - fy) + (v10 + (v11 - v10) * fx) * fy;
  }
};

// The gradient of level L around the pattern's points mapped by B and moved by (tx, ty), with
// `margin` pixels on every side: the window already in `scratch` when it covers that, else a
// new one.
EdgeProbe probeAround(const PatPoints& pts, const vcMatrix<2>& B, double tx, double ty,
                      double margin, const LevelImage& L, Grad& scratch) {
  double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const vcVector<2> q = B * vcVector<2>(pts.ux[i], pts.uy[i]);
    a0 = std::min(a0, q.x()), a1 = std::max(a1, q.x());
    b0 = std::min(b0, q.y()), b1 = std::max(b1, q.y());
  }
  const int x0 = int(std::floor(a0 + tx - margin)), x1 = int(std::ceil(a1 + tx + margin)) + 1;
  const int y0 = int(std::floor(b0 + ty - margin)), y1 = int(std::ceil(b1 + ty + margin)) + 1;
  int gx0, gy0;
  if (scratch.covers(&L, std::max(x0, 0), std::max(y0, 0), std::min(x1, L.w), std::min(y1, L.h)))
    gx0 = scratch.x0, gy0 = scratch.y0;
  else
    sobel(L, x0, y0, x1, y1, scratch, gx0, gy0);
  return EdgeProbe{&scratch, gx0, gy0};
}

// A model normal (mx, my) under a pose whose linear part has inverse transpose Bit, unit length.
void posedNormal(const vcMatrix<2>& Bit, double mx, double my, double& nx, double& ny) {
  nx = Bit(0, 0) * mx + Bit(0, 1) * my;
  ny = Bit(1, 0) * mx + Bit(1, 1) * my;
  const double nl = std::sqrt(nx * nx + ny * ny);
  nx /= nl, ny /= nl;
}

// Searches along the normal within [-R, R] for the strongest edge of the right polarity;
// returns false when none reaches the contrast threshold. t = sub-pixel offset, mag = strength.
bool findEdge(const EdgeProbe& E, double px, double py, double nx, double ny, double R,
              bool ignorePolarity, double thr, double& t, double& mag) {
  const int n = int(std::ceil(R));
  float f[2 * 16 + 3];
  const int m = std::min(n, 16) + 1;
  for (int k = -m; k <= m; ++k) {
    float v = E.along(px, py, nx, ny, k);
    if (ignorePolarity) v = std::fabs(v);
    f[k + m] = v;
  }
  int best = -1;
  float bv = float(thr);
  const int lim = std::min(n, 16);
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
  // Re-centre the three samples on the estimate once, as in training, so that the parabola
  // is evaluated at the same phase as the model's edges.
  for (int it = 0; it < 2; ++it) {
    // The first three samples are the integer ones already taken.
    float a = f[best - 1], b = f[best], c = f[best + 1];
    if (it > 0) {
      a = E.along(px, py, nx, ny, t0 - 1), b = E.along(px, py, nx, ny, t0);
      c = E.along(px, py, nx, ny, t0 + 1);
      if (ignorePolarity) a = std::fabs(a), b = std::fabs(b), c = std::fabs(c);
    }
    const double den = a - 2.0 * b + c;
    if (!(den < 0)) break;
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
            double capture, Pose& p, Grad& scratch, FitStats* stats) {
  const double f = double(1 << level), cl = 0.5 * (f - 1.0);
  const int nd = int(P.dofs.size());
  std::vector<int> freeIdx;
  for (int k = 0; k < nd; ++k)
    if (!P.dofs[k].fixed && !(p.holdSize && level >= kHoldSizeFrom && isSizeDof(P.dofs[k])))
      freeIdx.push_back(k);
  const int n = 2 + int(freeIdx.size());
  // A capture band wider than the pattern explains nothing more; the bound keeps the work of a
  // huge elasticity proportional to the pattern.
  const double el = std::min(P.elasticity, pts.rim) / f;
  const vcVector<2> pc = pts.centroid;
  const double radius = pts.rim;
  // Window of the gradient: the mapped points plus the capture band. The fine fit of a
  // candidate usually lies inside the window its coarse fit just took.
  const EdgeProbe E = probeAround(pts, poseB(P, p) * (1.0 / f), (p.tx - cl) / f, (p.ty - cl) / f,
                                  capture + el + 4, L0, scratch);
  const double thr = P.contrastOn(level);
  for (int it = 0; it <= iterations; ++it) {
    const bool last = it == iterations;
    const double R = last ? 1.0 + el : std::max(1.5, capture * std::pow(0.6, it)) + el;
    const vcMatrix<2> B = poseB(P, p);
    const vcMatrix<2> Bl = B * (1.0 / f);
    const double tlx = (p.tx - cl) / f, tly = (p.ty - cl) / f;
    const vcMatrix<2> Bit = invTranspose(B);
    std::vector<vcMatrix<2>> dB;
    for (int k : freeIdx) dB.push_back(poseDB(P, p, std::size_t(k)));
    // Displacement at the pattern's rim per unit of each DOF, for the convergence test.
    double rim[kMaxDofs] = {};
    for (std::size_t k = 0; k < dB.size(); ++k) {
      const vcMatrix<2>& d = dB[k];
      rim[k] =
          std::sqrt(d(0, 0) * d(0, 0) + d(0, 1) * d(0, 1) + d(1, 0) * d(1, 0) + d(1, 1) * d(1, 1)) *
          radius;
    }
    double A[(2 + kMaxDofs) * (2 + kMaxDofs)] = {};
    double bvec[2 + kMaxDofs] = {};
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
      if (!findEdge(E, px, py, nx, ny, R, P.ignorePolarity, thr, t, mag)) continue;
      if (last) {
        // Direction agreement at the matched edge.
        const double ex = px + t * nx, ey = py + t * ny;
        const double gx = E.sample(scratch.gx, ex, ey), gy = E.sample(scratch.gy, ex, ey);
        const double gm = std::sqrt(gx * gx + gy * gy);
        double cs = gm > 0 ? (gx * nx + gy * ny) / gm : 0;
        if (P.ignorePolarity) cs = std::fabs(cs);
        if (cs <= 0) continue;
        sumWm += pts.w[i];
        sumCos += pts.w[i] * cs;
        sumR2 += pts.w[i] * t * t;
        sumC += pts.w[i] * mag;
        ++matched;
        if (stats && level == 0) {
          stats->modelPts.emplace_back(px, py);
          stats->imagePts.emplace_back(ex, ey);
        }
        continue;
      }
      // Robust weight: Cauchy on the distance, its scale widened by the elasticity.
      const double sc = 0.75 + el;
      const double wt = pts.w[i] / (1.0 + (t / sc) * (t / sc));
      double J[2 + kMaxDofs];
      J[0] = nx / f;
      J[1] = ny / f;
      for (std::size_t k = 0; k < dB.size(); ++k) {
        const vcVector<2> d = dB[k] * vcVector<2>(ux - pc.x(), uy - pc.y());
        J[2 + k] = (nx * d.x() + ny * d.y()) / f;
      }
      for (int r = 0; r < n; ++r) {
        bvec[r] += wt * J[r] * t;
        for (int c = 0; c < n; ++c) A[r * n + c] += wt * J[r] * J[c];
      }
    }
    if (last) {
      if (stats) {
        stats->coverage = sumW > 0 ? sumWm / sumW : 0;
        stats->score = sumW > 0 ? sumCos / sumW : 0;
        stats->fitError = sumWm > 0 ? std::sqrt(sumR2 / sumWm) : 0;
        stats->contrast = sumWm > 0 ? sumC / sumWm : 0;
        stats->matched = matched;
      }
      break;
    }
    // Tikhonov damping keeps DOFs that the points do not constrain where they are.
    for (int r = 0; r < n; ++r) A[r * n + r] += 1e-6 * (A[r * n + r] + 1.0);
    double dx[2 + kMaxDofs] = {};
    if (!solve(n, A, bvec, dx)) break;
    // The unknowns move the centroid and turn/scale about it, which keeps translation and the
    // other DOFs nearly uncorrelated however far the pattern origin lies from the edges.
    const vcVector<2> c0 = B * pc;
    for (std::size_t k = 0; k < freeIdx.size(); ++k) p.v[freeIdx[k]] += dx[2 + k];
    clampDofs(P, p);
    const vcVector<2> c1 = poseB(P, p) * pc;
    p.tx += dx[0] + c0.x() - c1.x();
    p.ty += dx[1] + c0.y() - c1.y();
    // A step far beyond the capture band means the points locked onto something else; stop
    // moving but still score where we are.
    const double step = std::hypot(dx[0], dx[1]);
    if (step > 3 * f * (capture + el)) it = iterations - 1;
    // Converged when the centroid and the rim move by less than a hundredth of a pixel; on the
    // pyramid levels above, a twentieth is plenty for the next level's capture.
    const double tiny = (level == 0 ? 0.01 : 0.05) * f;
    bool still = step < tiny;
    for (std::size_t k = 0; k < dB.size() && still; ++k)
      still = std::fabs(dx[2 + k]) * rim[k] < tiny;
    if (still) it = iterations - 1;
  }
}

// Clutter: the share of the model's edge weight whose own edge is missing while an image edge
// of the same direction runs alongside it, more than the capture distance but at most
// kNearMiss pixels away. Such edges mean a near miss: a pose a little off, or at a wrong size
// (a wrong pose fitted to part of the pattern and to an occluder's outline leaves many). A true
// pose with part of the pattern hidden leaves few, as an occluder's face is flat and its border
// crosses the pattern's edges; edges farther away (texture, other objects, noise) say nothing
// about the pose, so they are not counted.
double clutterOf(const Problem& P, const PatPoints& pts, const LevelImage& L0, const Pose& p,
                 Grad& scratch) {
  const vcMatrix<2> B = poseB(P, p);
  const vcMatrix<2> Bit = invTranspose(B);
  const double el = std::min(P.elasticity, pts.rim);
  // The probes reach one sample beyond the search distance on either side.
  const EdgeProbe E = probeAround(pts, B, p.tx, p.ty, kNearMiss + el + 3, L0, scratch);
  double nearMiss = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const double qx = B(0, 0) * pts.ux[i] + B(0, 1) * pts.uy[i] + p.tx;
    const double qy = B(1, 0) * pts.ux[i] + B(1, 1) * pts.uy[i] + p.ty;
    double nx, ny;
    posedNormal(Bit, pts.nx[i], pts.ny[i], nx, ny);
    double t, mag;
    if (findEdge(E, qx, qy, nx, ny, 1.0 + el, P.ignorePolarity, P.contrast, t, mag)) continue;
    if (findEdge(E, qx, qy, nx, ny, kNearMiss + el, P.ignorePolarity, P.contrast, t, mag))
      nearMiss += pts.w[i];
  }
  return pts.totalW > 0 ? nearMiss / pts.totalW : 0.0;
}

}  // namespace

struct vc_GFRunner {
  static void run(const vc_GFModel& m, const vcXform<2>& G,
                  const vcPelBuffer_const<unsigned char>& image,
                  const vcPelBuffer_const<unsigned char>* mask, const vcGFAlignRunParams& params,
                  vcGFAlignResultSet& results);
};

void vf_GFRun(const vc_GFModel& m, const vcXform<2>& G,
              const vcPelBuffer_const<unsigned char>& image,
              const vcPelBuffer_const<unsigned char>* mask, const vcGFAlignRunParams& params,
              vcGFAlignResultSet& results) {
  vc_GFRunner::run(m, G, image, mask, params, results);
}

void vc_GFRunner::run(const vc_GFModel& m, const vcXform<2>& G,
                      const vcPelBuffer_const<unsigned char>& image,
                      const vcPelBuffer_const<unsigned char>* mask,
                      const vcGFAlignRunParams& params, vcGFAlignResultSet& results) {
  results.results_.clear();
  Problem P;
  P.m = &m;
  P.ignorePolarity = m.ignorePolarity;
  P.contrast = params.contrastThreshold();
  P.elasticity = m.elasticity;
  if (params.timeout() > 0) {
    P.deadline.active = true;
    P.deadline.end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(params.timeout()));
  }

  // DOFs, in list order; the start pose carries the expected linear part.
  for (vxGeorapidDOF* d = params.dofList().head(); d; d = d->next()) {
    if (d->kind() == vxGeorapidDOF::eStartPose) {
      P.S = static_cast<const vcGeorapidStartPose*>(d)->xform().matrix();
      continue;
    }
    DofSpec s;
    s.dof = d;
    s.low = d->low();
    s.high = d->high();
    const std::string nm = d->name();
    if (!std::isfinite(s.low) || !std::isfinite(s.high))
      throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm + ": not finite");
    if (s.low > s.high)
      throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm + ": low is above high");
    if (d->kind() == vxGeorapidDOF::eAngle) {
      if (s.high - s.low > 3600.0)
        throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm + ": wider than 3600 degrees");
      if (s.high - s.low >= 360.0 - 1e-9) {
        s.fullCircle = true;
        s.high = s.low + 360.0;
      }
    } else if (d->kind() == vxGeorapidDOF::eSkew) {
      if (s.low <= -60.0 || s.high >= 60.0)
        throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm +
                                       ": must lie within (-60, 60) degrees");
    } else if (d->isMultiplicative()) {
      if (s.low <= 0.0)
        throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm + ": must be > 0");
      if (s.high > 16.0 * s.low)
        throw vcGFAlignDefs::BadParams("Illegal range for DOF " + nm +
                                       ": spans more than a factor of 16");
    }
    s.fixed = s.low == s.high;
    P.dofs.push_back(s);
  }
  if (P.dofs.size() > std::size_t(kMaxDofs))
    throw vcGFAlignDefs::BadParams("Too many DOFs: at most 8 can be searched");
  if (P.S.isSingular()) throw vcGFAlignDefs::BadParams("The start pose is singular");

  // Client -> window pixels.
  const vcXform<2>& Cr = image.clientFromImageXform();
  if (Cr.matrix().isSingular())
    throw vcGFAlignDefs::BadImage("The run image's client transform is singular");
  const vcXform<2> Mw = vcXform<2>(vcMatrix<2>(), vcVector<2>(-double(image.offset().x()),
                                                              -double(image.offset().y()))) *
                        Cr.inverse();
  P.Mw = Mw.matrix();
  P.MwT = Mw.trans();
  if (image.width() < 3 || image.height() < 3)
    throw vcGFAlignDefs::BadImage("The run window is too small: at least 3 x 3 pixels");

  const int algorithm = (params.algorithm() == 2 && m.fine.size() > 0) ? 2 : 1;
  const int top = m.coarseLevel;

  // Pyramid of the window.
  std::vector<LevelImage> pyr(1);
  {
    LevelImage& L = pyr[0];
    L.w = int(image.width());
    L.h = int(image.height());
    L.pix.resize(std::size_t(L.w) * L.h);
    for (int y = 0; y < L.h; ++y) std::copy_n(image.row(y), L.w, &L.pix[std::size_t(y) * L.w]);
    if (mask) {
      L.mask.resize(L.pix.size());
      for (int y = 0; y < L.h; ++y) {
        const unsigned char* r = mask->row(y);
        for (int x = 0; x < L.w; ++x) L.mask[std::size_t(y) * L.w + x] = r[x] >= 128;
      }
    }
  }
  int topLevel = top;
  while (topLevel > 0 && ((pyr[0].w >> topLevel) < 3 || (pyr[0].h >> topLevel) < 3)) --topLevel;
  for (int l = 1; l <= topLevel; ++l) pyr.push_back(reduce(pyr.back()));
  // Edges must stand out of the noise: three noise deviations leave about 1 % of the background
  // pixels above the threshold. Noise is measured at full size, where edges cover the fewest
  // pixels; each 2 x 2 reduction halves it.
  const double noise0 = gradientNoise(pyr[0]);
  for (std::size_t l = 0; l < pyr.size(); ++l)
    P.contrastAt.push_back(std::max(P.contrast, kNoiseFactor * noise0 / double(1 << l)));
  P.contrast = P.contrastAt[0];
  P.deadline.check();

  std::vector<PatPoints> lv;
  for (int l = 0; l <= topLevel; ++l) lv.push_back(toPattern(m.levels[l], G));
  const PatPoints finePts = algorithm == 2 ? toPattern(m.fine, G) : PatPoints();

  // Coarse search.
  const double scaleTop = [&] {
    Pose p0;
    for (std::size_t k = 0; k < P.dofs.size(); ++k) p0.v[k] = P.dofs[k].high;
    const vcMatrix<2> B = poseB(P, p0);
    return std::sqrt(std::fabs(B.det()));
  }();
  const double radiusTop = lv[topLevel].rim * std::max(scaleTop, 1e-6) / (1 << topLevel);
  const DofGrid grid = makeGrid(P, radiusTop);
  if (grid.count() > 200000)
    throw vcGFAlignDefs::BadParams("The DOF ranges need more than 200000 coarse poses");
  const double accept = params.acceptThreshold();
  const std::size_t numToFind = std::size_t(params.numToFind());
  bool hasSizeDof = false;
  for (const DofSpec& d : P.dofs) hasSizeDof = hasSizeDof || (!d.fixed && isSizeDof(d));
  const std::size_t keepTop = std::max<std::size_t>(12, 4 * numToFind);
  const double coarseThr = std::max(0.15, 0.7 * accept);
  std::vector<Cand> cands =
      coarseSearch(P, lv[topLevel], pyr[topLevel], topLevel, grid, coarseThr, keepTop);
  P.deadline.check();

  std::vector<Pose> poses;
  for (const Cand& c : cands) {
    Pose p;
    p.tx = c.x;
    p.ty = c.y;
    p.v = c.v;
    p.score = c.score;
    poses.push_back(p);
    // With part of the pattern hidden, a fit on a coarse level can trade scale for position
    // and settle on a wrong size that outscores the true pose there; a copy held at the grid's
    // size keeps the true pose among the candidates until level 0 frees every DOF.
    if (hasSizeDof && std::size_t(&c - cands.data()) < kSizeVariety) {
      p.holdSize = true;
      poses.push_back(p);
      // Half a grid step either way as well: a true size between two grid values is too far
      // from both for a held fit.
      for (double sgn : {-0.5, 0.5}) {
        Pose q = p;
        bool moved = false;
        for (std::size_t k = 0; k < P.dofs.size(); ++k)
          if (!P.dofs[k].fixed && isSizeDof(P.dofs[k])) {
            q.v[k] = std::clamp(p.v[k] + sgn * grid.steps[k], P.dofs[k].low, P.dofs[k].high);
            moved = moved || q.v[k] != p.v[k];
          }
        if (moved) poses.push_back(q);
      }
    }
  }

  // Down the pyramid: least squares on each level, the coarse one first (the grid leaves up
  // to half a step in every DOF), and the level's own score decides which candidates go on.
  Grad scratchLevel;
  FitStats levelStats;
  for (int l = topLevel; l >= 1; --l) {
    // Many candidates on a small level: the gradient of the whole level once is cheaper than
    // one window per candidate.
    if (poses.size() * lv[l].size() * 8 > std::size_t(pyr[l].w) * pyr[l].h) {
      int gx0, gy0;
      sobel(pyr[l], 0, 0, pyr[l].w, pyr[l].h, scratchLevel, gx0, gy0);
    }
    for (Pose& p : poses) {
      P.deadline.check();
      refine(P, lv[l], pyr[l], l, 3, 2.5, p, scratchLevel, &levelStats);
      p.score = levelStats.score;
    }
    std::sort(poses.begin(), poses.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    std::vector<Pose> keep;
    // Sizes searched leave room for the best of each size beside the strongest poses.
    const std::size_t maxKeep = std::max<std::size_t>(hasSizeDof ? 8 : 6, 3 * numToFind);
    // Far weaker than the best rarely wins further down, and each survivor costs a fit on
    // every level below; with sizes searched, the true size under heavy cover can trail a
    // wrong one by more on the coarse levels.
    const double rel = hasSizeDof ? 0.6 : 0.7;
    const double floor = std::max(0.6 * accept, poses.empty() ? 0.0 : rel * poses[0].score);
    // Candidates that converged within a fraction of this level's pixel are one.
    const double slack = double(1 << (l - 1));
    // The best of each coarse size goes on first, so that variants of one strong wrong-sized
    // pose cannot fill every place.
    std::vector<std::vector<long>> sizesKept;
    auto sizeKey = [&](const Pose& p) {
      std::vector<long> key;
      for (std::size_t k = 0; k < P.dofs.size(); ++k)
        if (!P.dofs[k].fixed && isSizeDof(P.dofs[k]) && grid.steps[k] > 0)
          key.push_back(std::lround(2 * (p.v[k] - P.dofs[k].low) / grid.steps[k]));
      return key;
    };
    std::vector<std::uint8_t> taken(poses.size(), 0);
    for (int pass = 0; pass < 2; ++pass)
      for (std::size_t i = 0; i < poses.size(); ++i) {
        const Pose& p = poses[i];
        if (taken[i] || p.score < floor || keep.size() >= maxKeep) continue;
        const std::vector<long> key = sizeKey(p);
        if (pass == 0 && std::find(sizesKept.begin(), sizesKept.end(), key) != sizesKept.end())
          continue;
        bool dup = false;
        for (const Pose& k : keep) dup = dup || sameSolution(P, lv[0].centroid, k, p, slack);
        taken[i] = 1;
        if (dup) continue;
        keep.push_back(p);
        sizesKept.push_back(key);
      }
    std::sort(keep.begin(), keep.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    poses.swap(keep);
  }

  // Level 0: least squares.
  struct Found {
    Pose p;
    FitStats st;
    double clutter = 0, score = 0;
  };
  std::vector<Found> found;
  Grad scratch;
  const double capture0 = topLevel > 0 ? 2.5 : 1.5;
  // Pass 1: every survivor is fitted with the level-0 coarse points, which ranks them.
  std::vector<Found> ranked;
  for (Pose p : poses) {
    P.deadline.check();
    Found fd;
    refine(P, lv[0], pyr[0], 0, 3, capture0, p, scratch, &fd.st);
    fd.p = p;
    fd.score = fd.st.score;
    ranked.push_back(std::move(fd));
  }
  std::sort(ranked.begin(), ranked.end(),
            [](const Found& a, const Found& b) { return a.score > b.score; });
  for (std::size_t i = 0; i < ranked.size(); ++i)
    for (std::size_t j = ranked.size(); j-- > i + 1;)
      if (sameSolution(P, lv[0].centroid, ranked[i].p, ranked[j].p))
        ranked.erase(ranked.begin() + long(j));
  // Pass 2, best first: the fine fit and the clutter measure, the costly part, stop as soon as
  // numToFind distinct results already beat what the rest could score. Clutter only lowers a
  // score; the margin covers the fine fit scoring a little above the coarse one.
  const double minSeparation = 0.5 * lv[0].rim * std::sqrt(std::fabs(poseB(P, Pose()).det()));
  auto centre = [&](const Pose& p) {
    return poseB(P, p) * lv[0].centroid + vcVector<2>(p.tx, p.ty);
  };
  auto enoughAbove = [&](double bound) {
    std::vector<vcVector<2>> distinct;
    for (const Found& f : found) {
      if (f.score < bound) continue;
      const vcVector<2> c = centre(f.p);
      bool fresh = true;
      for (const vcVector<2>& d : distinct) fresh = fresh && c.distance(d) >= minSeparation;
      if (fresh) distinct.push_back(c);
    }
    return distinct.size() >= numToFind;
  };
  // When nothing comes near the accept threshold the best candidate is still measured and
  // returned, not accepted, so that a caller can see how far it fell short.
  Found bestRejected;
  bool haveRejected = false;
  for (Found& fd : ranked) {
    const bool first = &fd == &ranked.front();
    if ((fd.score < 0.5 * accept && !first) || enoughAbove(fd.score + 0.05)) break;
    P.deadline.check();
    Pose& p = fd.p;
    if (algorithm == 2) refine(P, finePts, pyr[0], 0, 4, 1.5, p, scratch, &fd.st);
    fd.clutter = clutterOf(P, lv[0], pyr[0], p, scratch);
    fd.score = fd.st.score;
    if (params.scoreUsingClutter()) fd.score = std::max(0.0, fd.score - 0.5 * fd.clutter);
    fd.p.score = fd.score;
    if (fd.score >= 0.5 * accept)
      found.push_back(std::move(fd));
    else if (!haveRejected || fd.score > bestRejected.score)
      bestRejected = std::move(fd), haveRejected = true;
  }
  if (found.empty() && haveRejected) found.push_back(std::move(bestRejected));
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.score > b.score; });

  // Results, with overlap removal against stronger ones.
  const vcXform<2> MwInv = Mw.inverse();
  const vcPelRect& r = m.region;
  const vcXform<2> unitToTrain(vcMatrix<2>(double(r.width()), 0.0, 0.0, double(r.height())),
                               vcVector<2>(r.x() - 0.5, r.y() - 0.5));
  std::vector<vcGFAlignResult> out;
  std::vector<std::array<double, 4>> boxes;  // centre x, y, width, height in client units
  for (const Found& fd : found) {
    vcGFAlignResult res;
    const vcMatrix<2> Apose = P.S * dofMatrix(P, fd.p);
    // tau = Mw t  =>  t = Mw^-1 tau
    const vcVector<2> t = MwInv.mapPoint({fd.p.tx, fd.p.ty});
    res.pose_ = vcXform<2>(Apose, t);
    res.score_ = float(fd.score);
    res.contrast_ = float(fd.st.contrast);
    res.fitError_ = float(fd.st.fitError);
    res.coverage_ = float(fd.st.coverage);
    res.clutter_ = float(fd.clutter);
    res.accepted_ = fd.score >= accept && fd.st.contrast >= P.contrast;
    for (std::size_t k = 0; k < P.dofs.size(); ++k) res.dofValues_.push_back(fd.p.v[k]);
    res.matchRegion_ = res.pose_ * G * unitToTrain;
    double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
    for (const vcVector<2>& c : res.matchRegionCorners()) {
      a0 = std::min(a0, c.x()), a1 = std::max(a1, c.x());
      b0 = std::min(b0, c.y()), b1 = std::max(b1, c.y());
    }
    // Overlap as the product of the 1-D overlaps of the enclosing boxes.
    bool dup = false;
    for (std::size_t j = 0; j < out.size() && !dup; ++j) {
      const auto& o = boxes[j];
      const double cx = 0.5 * (a0 + a1), cy = 0.5 * (b0 + b1), w = a1 - a0, hh = b1 - b0;
      const double ox = std::max(0.0, 1.0 - 2.0 * std::fabs(cx - o[0]) / (w + o[2]));
      const double oy = std::max(0.0, 1.0 - 2.0 * std::fabs(cy - o[1]) / (hh + o[3]));
      if (ox * oy <= params.xyOverlap()) continue;
      bool same = true;
      for (std::size_t k = 0; k < P.dofs.size(); ++k) {
        const double d =
            circDiff(res.dofValues_[k], out[j].dofValues_[k], P.dofs[k].dof->circular());
        if (d > P.dofs[k].dof->overlapTolerance()) same = false;
      }
      dup = same;
    }
    if (dup) continue;
    // Image region in root pixels.
    const vcXform<2> toPix = Cr.inverse();
    double p0 = 1e300, q0 = 1e300, p1 = -1e300, q1 = -1e300;
    for (const vcVector<2>& c : res.matchRegionCorners()) {
      const vcVector<2> q = toPix.mapPoint(c);
      p0 = std::min(p0, q.x()), p1 = std::max(p1, q.x());
      q0 = std::min(q0, q.y()), q1 = std::max(q1, q.y());
    }
    const long ix0 = long(std::floor(p0 + 0.5)), iy0 = long(std::floor(q0 + 0.5));
    const long ix1 = long(std::ceil(p1 + 0.5)), iy1 = long(std::ceil(q1 + 0.5));
    res.imageRegion_ = vcPelRect(ix0, iy0, ix1 - ix0, iy1 - iy0).intersect(image.entire());
    if (params.saveMatchInfo()) {
      const vcXform<2> winToClient = MwInv;
      for (const auto& q : fd.st.modelPts) res.matchModel_.push_back(winToClient.mapPoint(q));
      for (const auto& q : fd.st.imagePts) res.matchImage_.push_back(winToClient.mapPoint(q));
    }
    boxes.push_back({0.5 * (a0 + a1), 0.5 * (b0 + b1), a1 - a0, b1 - b0});
    out.push_back(std::move(res));
    if (out.size() >= numToFind) break;
  }
  results.results_ = std::move(out);
}
