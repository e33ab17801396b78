// Refinement: each coarse cluster at full resolution. Translation is searched within the
// reduction factor around each of the cluster's zones, then the fine zone steps (or halved
// coarse steps) around the best, then the continuous fit brings the sub-pixel position and
// zone (pcFit.cpp).
#include <algorithm>
#include <cmath>

#include "engines/correlation/pcRunTypes.h"

bool vc_PatCorRunner::refine(const std::vector<Cand>& cluster, vc_PatCorResult& out,
                             std::vector<vc_pcrun::Peak>& peaks) const {
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
    if (sc > -1.5) {
      const long x0 = std::lround(k.x - U.cx), y0 = std::lround(k.y - U.cy);
      const bool inside = std::labs(x - x0) < D.factor && std::labs(y - y0) < D.factor;
      peaks.push_back({sc, x + U.cx, y + U.cy, inside, k.angle, k.scale});
    }
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
  if (!fine) {
    // Without fine steps the coarse step is halved around the best zone, so that the fit
    // starts close to the best turn and size.
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
  // Sub-pixel position, and the zone when searched: the correlation maximum itself.
  vc_pcrun::FitPose f;
  f.cx = bx + T.cx;
  f.cy = by + T.cy;
  f.angle = ba;
  f.scale = bs;
  const bool angleFree = aOn && hi[0] > lo[0], scaleFree = sOn && hi[1] > lo[1];
  if (!fit(f, angleFree, scaleFree, vc_pcrun::sharpTemplate(D), tune.fitIterations)) return false;
  // A soft image: the fit again with the template blurred as much (pcBlur.cpp), and the
  // score of that template, the pattern as this camera sees it.
  long x = 0, y = 0;
  Tpl W = warpedAt(f, nullptr, x, y);
  vc_pcrun::BlurredTemplate B;
  // The image's sharpness in training pixels: gradients scale with the pose's size.
  const double size2 =
      std::fabs(base(0, 0) * base(1, 1) - base(0, 1) * base(1, 0)) * f.scale * f.scale;
  const double sigma = imageBlur(imageSharpness(W, x, y) * size2, B);
  if (sigma >= tune.minBlur) {
    if (B.view.blur != sigma) B.make(D, sigma);
    vc_pcrun::FitPose g = f;
    if (fit(g, angleFree, scaleFree, B.view, tune.fitIterations)) {
      f = g;
      W = warpedAt(f, B.pix.data(), x, y);
    }
  }
  // A fitted centre outside the allowed ones: the peak inside was a slope rising out of them.
  const double e = tune.edgeTolerance;
  if (!(f.cx >= cxMin - e && f.cx <= cxMax + e && f.cy >= cyMin - e && f.cy <= cyMax + e))
    return false;
  // The share of the image the template leaves unexplained is what the covariance scales with.
  const double score = exact(W, x, y);
  if (score > -1.5) {
    f.unexplained = std::max(1.0 - score, f.floorShare);
    f.score = score;
  }
  place(out, f);
  out.integerScore_ = best;
  return out.score_ >= P.acceptThreshold(fine ? 2 : 1);
}
