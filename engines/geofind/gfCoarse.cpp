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

// By value, so that the loops using it have no branch and vectorize.
inline std::uint8_t max3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  const std::uint8_t m = a > b ? a : b;
  return m > c ? m : c;
}

int dirBin(double gx, double gy, int nb, bool ignorePolarity) {
  double a = std::atan2(gy, gx);
  const double period = ignorePolarity ? vcPi : 2 * vcPi;
  a = std::fmod(a + 2 * vcPi, period);
  int b = int(std::lround(a / period * nb)) % nb;
  return b < 0 ? b + nb : b;
}

// The 3 x 3 maximum of a w x h plane (rows `ss` apart) into another (rows `ds` apart):
// separable, along rows into `rowMax` (w x h), then down columns.
void max3x3(const std::uint8_t* src, std::size_t ss, std::uint8_t* dst, std::size_t ds, int w,
            int h, std::uint8_t* rowMax) {
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* __restrict s = src + std::size_t(y) * ss;
    std::uint8_t* __restrict d = rowMax + std::size_t(y) * w;
    if (w == 1) {
      d[0] = s[0];
      continue;
    }
    d[0] = max3(s[0], s[0], s[1]);
    for (int x = 1; x + 1 < w; ++x) d[x] = max3(s[x - 1], s[x], s[x + 1]);
    d[w - 1] = max3(s[w - 2], s[w - 1], s[w - 1]);
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* __restrict a0 = rowMax + std::size_t(std::max(y - 1, 0)) * w;
    const std::uint8_t* __restrict a1 = rowMax + std::size_t(y) * w;
    const std::uint8_t* __restrict a2 = rowMax + std::size_t(std::min(y + 1, h - 1)) * w;
    std::uint8_t* __restrict d = dst + std::size_t(y) * ds;
    for (int x = 0; x < w; ++x) d[x] = max3(a0[x], a1[x], a2[x]);
  }
}

// Per orientation bin o: K max(0, cos(theta - theta_o)) (|cos| when polarity is ignored) of the
// pixels whose gradient reaches the contrast threshold, then a (2 r + 1)^2 maximum for each
// spread r asked for (1: the coarse grid of poses tolerates one pixel of displacement; wider
// for the scan of a band of sizes). `R` holds one set of maps per spread.
void buildResponses(const Grad& g, const Problem& P, int level, int pad,
                    const std::vector<int>& spreads, std::vector<ResponseMaps>& R) {
  const int nb = P.ignorePolarity ? P.tune.orientationBins / 2 : P.tune.orientationBins;
  const int stride = g.w + 2 * pad;
  const std::size_t planeSize = std::size_t(stride) * (g.h + 2 * pad);
  R.resize(spreads.size());
  for (ResponseMaps& m : R) {
    m.nb = nb, m.w = g.w, m.h = g.h, m.pad = pad, m.stride = stride;
    m.buf.assign(planeSize * nb, 0);
  }
  const std::size_t n = std::size_t(g.w) * g.h;
  // Unit gradient directions once; weak pixels get a zero vector and so no response.
  std::vector<float> ux(n), uy(n);
  const float thr2 = float(P.contrastOn(level) * P.contrastOn(level));
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      const std::size_t s = std::size_t(y) * g.stride + x, i = std::size_t(y) * g.w + x;
      const float gx = g.gx[s], gy = g.gy[s], m2 = gx * gx + gy * gy;
      const float inv = (m2 >= thr2 && m2 > 0) ? 1.0f / std::sqrt(m2) : 0.0f;
      ux[i] = gx * inv;
      uy[i] = gy * inv;
    }
  const double period = P.ignorePolarity ? vcPi : 2 * vcPi;
  const float K = float(P.tune.responseMax);
  std::vector<std::uint8_t> tmp(n), rowMax(n), colMax(n);
  // The loops below have no branch inside and vectorize.
  for (int b = 0; b < nb; ++b) {
    const float cx = float(std::cos(b * period / nb)), cy = float(std::sin(b * period / nb));
    if (P.ignorePolarity)
      for (std::size_t i = 0; i < n; ++i)
        tmp[i] = std::uint8_t(std::fabs(ux[i] * cx + uy[i] * cy) * K + 0.5f);
    else
      for (std::size_t i = 0; i < n; ++i)
        tmp[i] = std::uint8_t(std::max(ux[i] * cx + uy[i] * cy, 0.0f) * K + 0.5f);
    // Each spread is the 3 x 3 maximum of the one below it, so the wider maps continue from
    // the narrower ones (spreads ascend).
    const std::uint8_t* cur = tmp.data();
    std::size_t curStride = std::size_t(g.w);
    int done = 0;
    for (std::size_t si = 0; si < spreads.size(); ++si)
      while (done < spreads[si]) {
        const bool hit = done + 1 == spreads[si];
        std::uint8_t* out = hit ? R[si].buf.data() + planeSize * b + std::size_t(pad) * stride + pad
                                : (cur == colMax.data() ? tmp.data() : colMax.data());
        const std::size_t outStride = hit ? std::size_t(stride) : std::size_t(g.w);
        max3x3(cur, curStride, out, outStride, g.w, g.h, rowMax.data());
        cur = out, curStride = outStride, ++done;
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
        step = rel * 180.0 / vcPi;
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

// The strongest places, best first, each with its DOF variants. `maxR` is the pattern's largest
// radius in pixels of the level, `f` the level's factor.
std::vector<Cand> strongestPlaces(const Problem& P, const DofGrid& grid, std::vector<Cand> cands,
                                  double maxR, double f, std::size_t keep) {
  const vc_GFTuning& T = P.tune;
  std::sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.cy != b.cy) return a.cy < b.cy;
    return a.cx < b.cx;
  });
  // A weaker peak within the pattern's radius of a kept place is that instance again: a variant
  // of it when its DOFs differ, else nothing; except that each place lets one rival farther
  // away than suppressOfRim of the radius stand beside it as a place of its own. A decoy next to
  // the pattern (dense texture, where the spread orientation maps answer every direction) can
  // outscore it at the coarse level, and must not suppress it; more rivals would only be tracked
  // for nothing.
  const double rpx = std::max(T.minRadius, maxR) * f;
  const double rival = std::max(T.minRadius, T.suppressOfRim * maxR) * f;
  struct Place {
    double cx, cy, best;
    int rivals = 0;
    std::vector<std::size_t> kept;  // indices into out
  };
  std::vector<Place> places;
  std::vector<Cand> out;
  for (Cand cd : cands) {
    long at = -1;
    bool besideAllowed = false;
    for (std::size_t j = 0; j < places.size() && at < 0; ++j) {
      const double d = std::hypot(cd.cx - places[j].cx, cd.cy - places[j].cy);
      if (d > rpx) continue;
      at = long(j);
      besideAllowed = d > rival && places[j].rivals < T.coarseRivals;
    }
    if (at >= 0 && besideAllowed) {
      if (places.size() >= keep) continue;
      ++places[std::size_t(at)].rivals;
      at = -1;
    } else if (at >= 0) {
      Place& pl = places[std::size_t(at)];
      if (pl.kept.size() >= T.placeVariants || cd.score < T.variantShare * pl.best) continue;
      // Neighbouring sizes stay apart in the strongest places: under occlusion the peak of a
      // wrong size, fitted to an occluder's outline, can stand next to the true one and be the
      // higher. Otherwise a peak within two grid steps of a kept one in every DOF is the same.
      const bool sizesApart = std::size_t(at) < T.sizeVariety;
      bool same = false;
      for (std::size_t k : pl.kept) {
        bool near = true;
        for (std::size_t q = 0; q < P.dofs.size() && near; ++q) {
          if (P.dofs[q].fixed) continue;
          const double tol =
              isSizeDof(P.dofs[q]) && sizesApart ? T.suppressSizeSteps : T.suppressSteps;
          near = circDiff(cd.v[q], out[k].v[q], P.dofs[q].dof->circular()) <= tol * grid.steps[q];
        }
        same = same || near;
      }
      if (same) continue;
      pl.kept.push_back(out.size());
      out.push_back(cd);
      continue;
    }
    if (places.size() >= keep) continue;
    cd.placeBest = true;
    places.push_back({cd.cx, cd.cy, cd.score, 0, {out.size()}});
    out.push_back(cd);
  }
  return out;
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

namespace {

// The poses the coarse scan visits when sizes are searched. Neighbouring sizes differ by a
// pixel at the rim, which is most of what the 3 x 3 spread of the maps tolerates, so a size
// range multiplies the scan by the number of sizes. Instead each free size DOF's grid values
// are gathered into bands of up to 2 reach + 1 neighbours, and a band is scanned once, at its
// middle, against maps spread reach pixels further: its members lie within reach pixels of the
// middle at the rim, so their peaks show in the band's. Only where the band's scan peaks are
// its members scored exactly, on the 3 x 3 maps, so the candidates are those of a scan of
// every size.
struct SizeBands {
  DofGrid scan;
  // Per DOF and scanned value: the grid values it stands for.
  std::vector<std::vector<std::vector<double>>> members;
  int spread = 1;  // of the maps the scan reads
};

SizeBands sizeBands(const Problem& P, const DofGrid& grid, int reach) {
  SizeBands b;
  b.scan.steps = grid.steps;
  for (std::size_t k = 0; k < grid.values.size(); ++k) {
    const std::vector<double>& vals = grid.values[k];
    std::vector<double> scan;
    std::vector<std::vector<double>> members;
    const bool banded = reach > 0 && !P.dofs[k].fixed && isSizeDof(P.dofs[k]) && vals.size() > 1;
    const std::size_t width = banded ? std::size_t(2 * reach + 1) : 1;
    for (std::size_t i = 0; i < vals.size(); i += width) {
      const std::size_t last = std::min(vals.size(), i + width) - 1;
      scan.push_back(0.5 * (vals[i] + vals[last]));
      members.emplace_back(vals.begin() + long(i), vals.begin() + long(last) + 1);
    }
    if (banded && scan.size() < vals.size()) b.spread = 1 + reach;
    b.scan.values.push_back(std::move(scan));
    b.members.push_back(std::move(members));
  }
  return b;
}

// Where each point of a pose lands relative to the centroid on the level, and its bin.
// `withBins` false keeps the bins as they are (a pose that only scales another uniformly).
void shiftsOf(const Problem& P, const PatPoints& pts, const vcMatrix<2>& B, double f, int nb,
              bool withBins, std::vector<int>& dx, std::vector<int>& dy, std::vector<int>& bin) {
  const vcMatrix<2> Bit = invTranspose(B);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const vcVector<2> q =
        B * vcVector<2>(pts.ux[i] - pts.centroid.x(), pts.uy[i] - pts.centroid.y());
    dx[i] = int(std::lround(q.x() / f));
    dy[i] = int(std::lround(q.y() / f));
    if (!withBins) continue;
    const vcVector<2> n = Bit * vcVector<2>(pts.nx[i], pts.ny[i]);
    bin[i] = dirBin(n.x(), n.y(), nb, P.ignorePolarity);
  }
}

}  // namespace

std::vector<Cand> coarseSearch(const Problem& P, const PatPoints& pts, const LevelImage& L,
                               int level, const DofGrid& grid, double thr, std::size_t keep) {
  const double f = double(1 << level), c = 0.5 * (f - 1.0);
  Grad g;
  gradientOf(L, L.win, g);
  double maxR = 0;
  Pose probe;
  const std::size_t nCombos = grid.count();
  for (std::size_t ci = 0; ci < nCombos; ++ci) {
    grid.at(ci, probe.v);
    const vcMatrix<2> B = poseB(P, probe);
    const double s =
        std::sqrt(std::fabs(B.det())) + std::hypot(B(0, 0) - B(1, 1), B(0, 1) + B(1, 0));
    maxR = std::max(maxR, pts.rim * s / f);
  }
  // Bands pay where the scans they save (a vector add per point and pose over the window)
  // outweigh the wider maps they need (a few operations per pixel, orientation and spread):
  // over a full circle of angles, not for the few poses of a narrow search.
  SizeBands bands = sizeBands(P, grid, P.tune.sizeBandReach);
  const double saved = double(nCombos - bands.scan.count()) * double(pts.size()) / 16.0;
  const double planes = P.ignorePolarity ? P.tune.orientationBins / 2 : P.tune.orientationBins;
  if (saved < 6.0 * planes * bands.spread) bands = sizeBands(P, grid, 0);
  const bool banded = bands.spread > 1;
  const int pad = int(std::ceil(maxR)) + 2 + bands.spread;
  std::vector<ResponseMaps> maps;
  buildResponses(g, P, level, pad, banded ? std::vector<int>{1, bands.spread} : std::vector<int>{1},
                 maps);
  const ResponseMaps& exact = maps.front();
  const ResponseMaps& R = maps.back();
  // Positions are scanned over the run's window on this level.
  const int W = g.w, H = g.h;
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
  std::vector<int> fdx(pts.size()), fdy(pts.size()), fbin(pts.size());
  std::vector<const std::uint8_t*> base(pts.size());  // each point's plane, shifted
  const double totalW = double(pts.size()) * P.tune.responseMax;
  const std::uint16_t thrInt = std::uint16_t(std::min(65535.0, std::ceil(thr * totalW)));
  std::vector<Cand> cands;
  std::vector<std::pair<int, int>> peaks;
  const RowKernels& rows = rowKernels();
  const std::size_t nScan = bands.scan.count();
  for (std::size_t ci = 0; ci < nScan; ++ci) {
    P.deadline.check();
    bands.scan.at(ci, probe.v);
    const vcMatrix<2> B = poseB(P, probe);
    shiftsOf(P, pts, B, f, R.nb, true, dx, dy, bin);
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
    peaks.clear();
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
        if (banded) {
          peaks.emplace_back(x, y);
          continue;
        }
        Cand cd;
        cd.score = s / totalW;
        cd.cx = (x + g.x0) * f + c;
        cd.cy = (y + g.y0) * f + c;
        const vcVector<2> Bc = B * pts.centroid;
        cd.x = cd.cx - Bc.x();
        cd.y = cd.cy - Bc.y();
        grid.at(ci, cd.v);
        cands.push_back(cd);
      }
    }
    if (banded && !peaks.empty()) {
      // Each member pose of the band at its own local maxima, found uphill from the band's
      // peaks on the 3 x 3 maps; a member peaks once per position.
      std::array<std::size_t, kMaxDofs> at{}, member{};
      for (std::size_t k = 0, idx = ci; k < bands.members.size(); ++k) {
        at[k] = idx % bands.members[k].size();
        idx /= bands.members[k].size();
      }
      for (bool more = true; more;) {
        Pose m;
        for (std::size_t k = 0; k < bands.members.size(); ++k)
          m.v[k] = bands.members[k][at[k]][member[k]];
        const vcMatrix<2> Bm = poseB(P, m);
        // A member that only scales the band's pose uniformly turns no normal: same bins.
        const double r = std::sqrt(std::fabs(Bm.det() / B.det()));
        const bool uniform = std::fabs(Bm(0, 0) - r * B(0, 0)) + std::fabs(Bm(0, 1) - r * B(0, 1)) +
                                 std::fabs(Bm(1, 0) - r * B(1, 0)) +
                                 std::fabs(Bm(1, 1) - r * B(1, 1)) <
                             1e-12 * r;
        if (uniform) fbin = bin;
        shiftsOf(P, pts, Bm, f, exact.nb, !uniform, fdx, fdy, fbin);
        const vcVector<2> Bc = Bm * pts.centroid;
        const std::size_t first = cands.size();
        for (std::size_t i = 0; i < pts.size(); ++i)
          base[i] = exact.plane(fbin[i]) + std::size_t(fdy[i] + pad) * AS + pad + fdx[i];
        auto exactAt = [&](int x, int y) {
          const std::size_t at = std::size_t(y) * AS + std::size_t(x);
          int sum = 0;
          for (const std::uint8_t* b : base) sum += b[at];
          return sum;
        };
        for (const auto& [px, py] : peaks) {
          // Uphill from the band's peak to the member's own: the member's peak lies within the
          // band's spread of it.
          int bx = px, by = py, best = exactAt(px, py);
          for (int step = 0; step <= bands.spread; ++step) {
            int nx = bx, ny = by, top = best;
            for (int y = std::max(0, by - 1); y <= std::min(H - 1, by + 1); ++y)
              for (int x = std::max(0, bx - 1); x <= std::min(W - 1, bx + 1); ++x) {
                if (x == bx && y == by) continue;
                const int sc = exactAt(x, y);
                if (sc > top) top = sc, nx = x, ny = y;
              }
            if (nx == bx && ny == by) break;
            bx = nx, by = ny, best = top;
          }
          if (best < int(thrInt)) continue;
          const double cx = (bx + g.x0) * f + c, cy = (by + g.y0) * f + c;
          bool seen = false;
          for (std::size_t j = first; j < cands.size() && !seen; ++j)
            seen = cands[j].cx == cx && cands[j].cy == cy;
          if (seen) continue;
          Cand cd;
          cd.score = best / totalW;
          cd.cx = cx, cd.cy = cy;
          cd.x = cx - Bc.x(), cd.y = cy - Bc.y();
          cd.v = m.v;
          cands.push_back(cd);
        }
        // The next member: a counter over the DOFs' member lists.
        more = false;
        for (std::size_t k = 0; k < bands.members.size() && !more; ++k) {
          if (++member[k] < bands.members[k][at[k]].size())
            more = true;
          else
            member[k] = 0;
        }
      }
    }
    // Bound memory on cluttered images: keep the best few per pass.
    if (cands.size() > P.tune.coarsePoolLimit * keep) {
      std::nth_element(cands.begin(), cands.begin() + long(P.tune.coarsePoolKeep * keep),
                       cands.end(), [](const Cand& a, const Cand& b) { return a.score > b.score; });
      cands.resize(P.tune.coarsePoolKeep * keep);
    }
  }
  return strongestPlaces(P, grid, std::move(cands), maxR, f, keep);
}

std::vector<Cand> localSearch(const Problem& P, const PatPoints& pts, const LevelImage& L,
                              int level, const DofGrid& grid, const Prediction& box,
                              std::size_t keep) {
  const double f = double(1 << level), c = 0.5 * (f - 1.0);
  const std::size_t nCombos = grid.count();
  std::vector<vcMatrix<2>> Bs(nCombos);
  double maxR = 0;
  Pose probe;
  for (std::size_t ci = 0; ci < nCombos; ++ci) {
    grid.at(ci, probe.v);
    Bs[ci] = poseB(P, probe);
    const double s = std::sqrt(std::fabs(Bs[ci].det())) +
                     std::hypot(Bs[ci](0, 0) - Bs[ci](1, 1), Bs[ci](0, 1) + Bs[ci](1, 0));
    maxR = std::max(maxR, pts.rim * s / f);
  }
  // The window's unit gradient directions (zero where weak), padded so that no point of a pose
  // inside the window falls off the array.
  Grad g;
  gradientOf(L, L.win, g);
  const int pad = int(std::ceil(maxR)) + 2;
  const int W = g.w + 2 * pad, H = g.h + 2 * pad;
  std::vector<float> ux(std::size_t(W) * H, 0.0f), uy(std::size_t(W) * H, 0.0f);
  const float thr2 = float(P.contrastOn(level) * P.contrastOn(level));
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      const std::size_t s = std::size_t(y) * g.stride + x;
      const std::size_t i = std::size_t(y + pad) * W + (x + pad);
      const float gx = g.gx[s], gy = g.gy[s], m2 = gx * gx + gy * gy;
      const float inv = (m2 >= thr2 && m2 > 0) ? 1.0f / std::sqrt(m2) : 0.0f;
      ux[i] = gx * inv;
      uy[i] = gy * inv;
    }
  const std::size_t n = pts.size();
  std::vector<long> at(n);
  std::vector<float> nx(n), ny(n), score;
  std::vector<Cand> cands;
  for (std::size_t ci = 0; ci < nCombos; ++ci) {
    P.deadline.check();
    const vcMatrix<2>& B = Bs[ci];
    const vcMatrix<2> Bit = invTranspose(B);
    const vcVector<2> Bc = B * pts.centroid;
    // The centroid's positions on this level for the origins the prediction allows, relative to
    // the window.
    const int X0 = std::max(0, int(std::floor((box.tx - box.ex + Bc.x() - c) / f)) - g.x0);
    const int X1 = std::min(g.w - 1, int(std::ceil((box.tx + box.ex + Bc.x() - c) / f)) - g.x0);
    const int Y0 = std::max(0, int(std::floor((box.ty - box.ey + Bc.y() - c) / f)) - g.y0);
    const int Y1 = std::min(g.h - 1, int(std::ceil((box.ty + box.ey + Bc.y() - c) / f)) - g.y0);
    if (X0 > X1 || Y0 > Y1) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const vcVector<2> q =
          B * vcVector<2>(pts.ux[i] - pts.centroid.x(), pts.uy[i] - pts.centroid.y());
      at[i] = std::lround(q.y() / f) * W + std::lround(q.x() / f);
      double mx, my;
      posedNormal(Bit, pts.nx[i], pts.ny[i], mx, my);
      nx[i] = float(mx), ny[i] = float(my);
    }
    // Mean direction cosine of the points at every allowed centroid position.
    const int SW = X1 - X0 + 1, SH = Y1 - Y0 + 1;
    score.assign(std::size_t(SW) * SH, 0.0f);
    for (int y = 0; y < SH; ++y)
      for (int x = 0; x < SW; ++x) {
        const long base = long(Y0 + y + pad) * W + (X0 + x + pad);
        float sum = 0.0f;
        for (std::size_t i = 0; i < n; ++i) {
          const std::size_t k = std::size_t(base + at[i]);
          float r = ux[k] * nx[i] + uy[k] * ny[i];
          if (P.ignorePolarity) r = std::fabs(r);
          sum += std::max(r, 0.0f);
        }
        score[std::size_t(y) * SW + x] = sum / float(n);
      }
    // Local maxima among the allowed positions (ties to the first in row order).
    for (int y = 0; y < SH; ++y)
      for (int x = 0; x < SW; ++x) {
        const float s = score[std::size_t(y) * SW + x];
        bool peak = s > 0.0f;
        for (int yy = std::max(0, y - 1); yy <= std::min(SH - 1, y + 1) && peak; ++yy)
          for (int xx = std::max(0, x - 1); xx <= std::min(SW - 1, x + 1); ++xx) {
            const float o = score[std::size_t(yy) * SW + xx];
            if (o > s || (o == s && yy * SW + xx < y * SW + x)) {
              peak = false;
              break;
            }
          }
        if (!peak) continue;
        Cand cd;
        cd.score = s;
        cd.cx = (X0 + x + g.x0) * f + c;
        cd.cy = (Y0 + y + g.y0) * f + c;
        cd.x = cd.cx - Bc.x();
        cd.y = cd.cy - Bc.y();
        grid.at(ci, cd.v);
        cands.push_back(cd);
      }
  }
  return strongestPlaces(P, grid, std::move(cands), maxR, f, keep);
}

double localSearchCost(const PatPoints& pts, int level, const DofGrid& grid,
                       const Prediction& box) {
  const double f = double(1 << level);
  // About eight operations a point for every allowed position of every pose.
  const double positions = (2.0 * box.ex / f + 2.0) * (2.0 * box.ey / f + 2.0);
  return 8.0 * positions * double(grid.count()) * double(pts.size());
}

double coarseSearchCost(const Problem& P, const PatPoints& pts, const LevelImage& L,
                        const DofGrid& grid) {
  // Per orientation plane about a dozen operations a pixel; per pose and point a vector add
  // over the window's rows (sixteen sums an operation).
  const double area = double(L.width()) * double(L.height());
  const double planes = P.ignorePolarity ? P.tune.orientationBins / 2 : P.tune.orientationBins;
  return planes * area * 12.0 + double(grid.count()) * double(pts.size()) * area / 16.0;
}

}  // namespace vc_gfrun
