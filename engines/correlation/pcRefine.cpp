// Refinement: each coarse cluster at full resolution. Translation is searched within the
// reduction factor around each of the cluster's zones, then the fine zone steps (or halved
// coarse steps) around the best, then the sub-pixel position and zone by parabolas through
// the neighbouring scores.
#include <algorithm>
#include <cmath>

#include "engines/correlation/pcRunTypes.h"

bool vc_PatCorRunner::refine(const std::vector<Cand>& cluster, vc_PatCorResult& out) const {
  using vc_pcrun::makeTpl;
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
  const double clampAt = tune.vertexClamp;
  auto vertex = [clampAt](double m, double z, double p) {
    const double d = m - 2 * z + p;
    if (!(d < 0)) return 0.0;
    return std::clamp(0.5 * (m - p) / d, -clampAt, clampAt);
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
      for (int it = 0; it < tune.zoneHalvings; ++it) {
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
  place(out, cx, cy, ba, bs, std::max(0.0, std::min(1.0, peak)));
  return out.score_ >= P.acceptThreshold(fine ? 2 : 1);
}
