// Coarse pass: the run window reduced by the model's factor, every coarse template the run's
// zones cover correlated at every allowed position (the image sums from integral images, one
// output row at a time), the local maxima above a threshold kept, and the peaks gathered into
// one cluster per instance.
#include "engines/correlation/pcRunTypes.h"

// The pixel loops are written to vectorize; GCC's -O2 cost model declines loops that need a
// scalar tail, so these stages ask for the ordinary model.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

#include <algorithm>
#include <cmath>

namespace {

// Box-average reduction by f (the last partial blocks are dropped). The f source rows of an
// output row are first added into one row (a contiguous loop that vectorizes), then each block
// of f sums is added; sums of at most 64 x 64 8-bit values are exact in floats, so the order
// does not change the result.
template <class P>
void reduceImage(const P* src, long stride, long w, long h, long f, std::vector<float>& dst,
                 long& rw, long& rh) {
  rw = w / f;
  rh = h / f;
  dst.assign(rw * rh, 0.0f);
  const float k = 1.0f / float(f * f);
  const long cols = rw * f;
  std::vector<float> acc(cols);
  for (long v = 0; v < rh; ++v) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (long j = 0; j < f; ++j) {
      const P* row = src + (v * f + j) * stride;
      float* a = acc.data();
      for (long x = 0; x < cols; ++x) a[x] += float(row[x]);
    }
    for (long u = 0; u < rw; ++u) {
      float s = 0;
      for (long i = 0; i < f; ++i) s += acc[u * f + i];
      dst[v * rw + u] = s * k;
    }
  }
}

}  // namespace

std::vector<double> vc_PatCorRunner::zoneList(int d, const std::vector<double>& grid,
                                              bool enabled) const {
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

void vc_PatCorRunner::coarsePass(std::vector<std::vector<Cand>>& clusters) {
  using vc_pcrun::Img;
  std::vector<Cand> cands;
  const long f = D.factor;
  Img red;
  reduceImage(px, stride, fw, fh, f, red.p, red.w, red.h);
  red.integrate();
  std::vector<float> red2(red.p.size());
  for (size_t i = 0; i < red.p.size(); ++i) red2[i] = red.p[i] * red.p[i];
  // With a run mask the coarse pass correlates on the reduced mask (a reduced pixel counts
  // when its whole block does).
  std::vector<float> redMask;
  if (!imask.empty()) {
    long mw2, mh2;
    reduceImage(imask.data(), fw, fw, fh, f, redMask, mw2, mh2);
    for (float& v : redMask) v = v > 0.999f ? 1.0f : 0.0f;
  }
  const bool aOn = P.zoneEnable() & 1, sOn = P.zoneEnable() & 2;
  const std::vector<double> angles = zoneList(0, D.angles[0], aOn);
  const std::vector<double> scales = zoneList(1, D.scales[0], sOn);
  const bool reuse = vc_pcrun::isIdentity(base);
  const double nb = P.neighborAcceptThreshold(1);
  const double thr = nb > -1.0
                         ? std::min(nb, P.acceptThreshold(1))
                         : std::max(tune.coarseFloor, P.acceptThreshold(1) - tune.coarseMargin);
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
        F = vc_pcrun::makeTpl(D, base, a, s);
        local = vc_pcrun::cropValid(vc_pcrun::reduceTpl(F, f), tune);
        Tc = &local;
      } else {
        F = vc_pcrun::makeTpl(D, base, a, s);  // centre of the full template (cheap next to the
                                               // pass)
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
            const double g =
                vc_pcrun::general(T, red.p.data(), red.w, redMask.data(), red.w, u, v, tune);
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
            if (var <= tune.flatVariance * T.n) continue;
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
            cands.push_back(
                {c, double((u + u0 - T.ox) * f) + F.cx, double((v + v0 - T.oy) * f) + F.cy, a, s});
        }
    }
  // Strongest first. Candidates near a stronger one belong to the same instance; each
  // instance keeps its few best zones, since the reduced scores rank close zones loosely.
  std::sort(cands.begin(), cands.end(),
            [](const Cand& p, const Cand& q) { return p.score > q.score; });
  const double sep = tune.clusterSeparation * std::min(D.W, D.H);
  const size_t maxKeep = std::max(tune.clustersMin, tune.clustersPerFind * size_t(P.numToFind()));
  for (const Cand& c : cands) {
    bool placed = false;
    for (std::vector<Cand>& k : clusters)
      if (std::hypot(k[0].x - c.x, k[0].y - c.y) < sep) {
        if (k.size() < tune.clusterZones) k.push_back(c);
        placed = true;
        break;
      }
    if (!placed && clusters.size() < maxKeep) clusters.push_back({c});
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif
