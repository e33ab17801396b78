// Coarse search: on the top pyramid level, every pose of a DOF grid is scored at every
// position at once by summing shifted gradient-orientation response maps (one plane per
// orientation bin), and the peaks above a threshold become candidates.
#include <algorithm>
#include <cmath>
#include <string>

#include "engines/geofind/gfRowKernels.h"
#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {
namespace {

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
  R.nb = P.ignorePolarity ? P.tune.orientationBins / 2 : P.tune.orientationBins;
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
      tmp[i] = std::uint8_t(c * P.tune.responseMax + 0.5f);
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

// The grid for a pattern of this radius in coarse-level pixels.
DofGrid makeGrid(const Problem& P, double radiusPx) {
  DofGrid g;
  const double r = std::max(radiusPx, P.tune.minRadius);
  for (const DofSpec& d : P.dofs) {
    std::vector<double> vals;
    double step = 0;
    if (d.fixed) {
      vals.push_back(d.low);
    } else {
      // gridStepAtRim pixels of displacement at the pattern's rim per step, inside the 3x3
      // tolerance of the response maps.
      const double rel = P.tune.gridStepAtRim / r;
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

}  // namespace

DofGrid coarseGrid(const Problem& P, const PatPoints& pts, int level) {
  // The pattern's radius at the largest size the DOF ranges allow.
  const double scale = [&] {
    Pose p0;
    for (std::size_t k = 0; k < P.dofs.size(); ++k) p0.v[k] = P.dofs[k].high;
    const vcMatrix<2> B = poseB(P, p0);
    return std::sqrt(std::fabs(B.det()));
  }();
  const double radius = pts.rim * std::max(scale, 1e-6) / (1 << level);
  DofGrid grid = makeGrid(P, radius);
  if (grid.count() > P.tune.maxCoarsePoses)
    throw vcGFAlignDefs::BadParams("The DOF ranges need more than " +
                                   std::to_string(P.tune.maxCoarsePoses) + " coarse poses");
  return grid;
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
  // A point shifted by (dx, dy) sees image pixels only where the window and its shifted copy
  // overlap; elsewhere it adds the planes' zero padding. Its run covers only the rows of that
  // overlap, and when the padding is wider than the overlap (a pattern large against the
  // window) it adds the overlap row by row, so that the work follows the pixels a point sees
  // rather than the padding around them. Either way the sums in the used columns are the same.
  const std::size_t AS = std::size_t(R.stride), run = AS * std::size_t(H);
  std::vector<std::uint16_t> acc(run), rowPeak(static_cast<std::size_t>(H));
  std::vector<int> dx(pts.size()), dy(pts.size()), bin(pts.size());
  const double totalW = double(pts.size()) * P.tune.responseMax;
  const std::uint16_t thrInt = std::uint16_t(std::min(65535.0, std::ceil(thr * totalW)));
  std::vector<Cand> cands;
  const RowKernels& rows = rowKernels();
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
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const int y0 = std::max(0, -dy[i]), y1 = std::min(H, H - dy[i]);
      const int x0 = std::max(0, -dx[i]), x1 = std::min(W, W - dx[i]);
      if (y0 >= y1 || x0 >= x1) continue;
      const std::uint8_t* src = R.plane(bin[i]) + std::size_t(dy[i] + pad) * AS + pad + dx[i];
      if (2 * std::size_t(x1 - x0) >= AS) {
        rows.accumulate(acc.data() + std::size_t(y0) * AS, src + std::size_t(y0) * AS,
                        int(std::size_t(y1 - y0) * AS));
      } else {
        for (int y = y0; y < y1; ++y)
          rows.accumulate(acc.data() + std::size_t(y) * AS + x0, src + std::size_t(y) * AS + x0,
                          x1 - x0);
      }
    }
    for (int y = 0; y < H; ++y) rowPeak[std::size_t(y)] = rows.max(&acc[std::size_t(y) * AS], W);
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
    if (cands.size() > P.tune.coarsePoolLimit * keep) {
      std::nth_element(cands.begin(), cands.begin() + long(P.tune.coarsePoolKeep * keep),
                       cands.end(), [](const Cand& a, const Cand& b) { return a.score > b.score; });
      cands.resize(P.tune.coarsePoolKeep * keep);
    }
  }
  std::sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.cy != b.cy) return a.cy < b.cy;
    return a.cx < b.cx;
  });
  // Greedy suppression of neighbours in position and every DOF: within the pattern's radius a
  // weaker peak is the same instance, except that each kept peak lets one rival farther away
  // than suppressOfRim of the radius stand beside it. A decoy next to the pattern (dense
  // texture, where the spread orientation maps answer every direction) can outscore it at the
  // coarse level, and must not suppress it; more rivals would only be tracked for nothing.
  const double rpx = std::max(P.tune.minRadius, maxR) * f;
  const double rival = std::max(P.tune.minRadius, P.tune.suppressOfRim * maxR) * f;
  std::vector<Cand> out;
  std::vector<int> rivals;  // per kept peak: rivals admitted beside it
  for (const Cand& cd : cands) {
    bool dup = false;
    long beside = -1;
    for (std::size_t j = 0; j < out.size() && !dup; ++j) {
      const Cand& o = out[j];
      const double d = std::hypot(cd.cx - o.cx, cd.cy - o.cy);
      if (d > rpx) continue;
      // Neighbouring sizes stay apart among the strongest peaks: under occlusion the peak of a
      // wrong size, fitted to an occluder's outline, can stand next to the true one and be the
      // higher. Further down the list (a caller collecting many candidates) they merge again.
      bool near = true;
      for (std::size_t k = 0; k < P.dofs.size(); ++k) {
        if (P.dofs[k].fixed) continue;
        const double tol = isSizeDof(P.dofs[k]) && out.size() < P.tune.sizeVariety
                               ? P.tune.suppressSizeSteps
                               : P.tune.suppressSteps;
        if (circDiff(cd.v[k], o.v[k], P.dofs[k].dof->circular()) > tol * grid.steps[k])
          near = false;
      }
      if (!near) continue;
      if (d > rival && rivals[j] < P.tune.coarseRivals && beside < 0)
        beside = long(j);
      else
        dup = true;
    }
    if (dup) continue;
    if (beside >= 0) ++rivals[std::size_t(beside)];
    out.push_back(cd);
    rivals.push_back(0);
    if (out.size() >= keep) break;
  }
  return out;
}

}  // namespace vc_gfrun
