// Fine-stage scale: which of the model's blurred scales the fine fit of a candidate matches, and
// how much the run image is smoothed for it.
//
// A run image may be softer than the training image (depth of field, motion) or noisier (short
// exposures). Matched against the sharp model, a soft image loses the fine detail the model
// relies on and shifts the edges that lie close together; a noisy one leaves faint edges under
// the noise threshold and jitters the rest. Both are undone by matching like with like: the
// model's edges at a blur tau (trained from the training image blurred by tau) against the run
// image blurred to the same total,
//
//     tau^2 = b^2 + s^2,   b = the run image's own extra blur,  s = the smoothing the run adds.
//
// b comes from the widths of the image's edges where the candidate lies: a Gaussian gradient
// profile of variance w^2 has its outer samples, one pixel either side of the peak,
// exp(-1 / (2 w^2)) of the centre one, and blurring by b adds b^2 to w^2, so
// b^2 = w_run^2 - w_train^2 (medians over the edge pixels of the candidate's region and of the
// training window). They are measured before any fit: a sharp model fitted to a soft image
// pulls towards detail that is no longer there, and its matched edges would say little.
// s comes from the noise: smoothing by s lowers a profile of width w to w / sqrt(w^2 + s^2) of
// its peak, and the gradient noise by smoothedNoiseGain(s) / smoothedNoiseGain(0); the
// sharpest scale whose edges then stand fineSnr noise deviations above the noise is taken.
// A sharp, clean image keeps the sharp model and no smoothing: the fit is the plain one.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

double smoothedNoiseGain(double sigma) {
  if (sigma <= 0) return gradientNoiseGain();
  const int r = int(std::ceil(3.0 * sigma));
  std::vector<double> g(std::size_t(2 * r + 1));
  double sum = 0;
  for (int i = -r; i <= r; ++i)
    sum += g[std::size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : g) v /= sum;
  // Sobel / 8 = [-1 0 1] / 2 along x times [1 2 1] / 4 along y: the blurred kernels' squared
  // sums multiply.
  auto squaredSum = [&](const double* k3) {
    double s2 = 0;
    for (int i = -r - 1; i <= r + 1; ++i) {
      double v = 0;
      for (int j = -1; j <= 1; ++j) {
        const int at = i - j;
        if (at >= -r && at <= r) v += k3[j + 1] * g[std::size_t(at + r)];
      }
      s2 += v * v;
    }
    return s2;
  };
  const double diff[3] = {-0.5, 0.0, 0.5}, mean[3] = {0.25, 0.5, 0.25};
  return std::sqrt(squaredSum(diff) * squaredSum(mean));
}

namespace {

// The statistics over the edge pixels of E at least `thr` strong.
EdgeStats edgeStatsOver(const Problem& P, const EdgeProbe& E, double thr) {
  const EdgeProbe& g = E;
  const int xa = 1, xb = g.w - 1, ya = 1, yb = g.h - 1;
  // A large window tells the medians as well from every second row and column.
  const int step = long(g.w) * g.h > P.tune.edgeStatsDense ? 2 : 1;
  constexpr int kBins = 64;
  constexpr double kWidthPerBin = 0.25;  // px^2
  constexpr double kMagPerBin = 2.0;     // grey levels per pixel
  std::array<std::uint32_t, kBins> widths{}, mags{};
  std::size_t n = 0;
  const float thr2 = float(thr * thr);
  for (int y = ya; y < yb; y += step)
    for (int x = xa; x < xb; x += step) {
      const std::size_t i = std::size_t(y) * g.stride + x;
      const float ax = g.gx[i], ay = g.gy[i], m2 = ax * ax + ay * ay;
      if (m2 < thr2) continue;
      // A maximum across the edge (the neighbours along the gradient's quantised direction).
      int dx, dy;
      const float t = std::fabs(ay) / (std::fabs(ax) + 1e-12f);
      if (t < 0.41421356f)
        dx = 1, dy = 0;
      else if (t > 2.4142136f)
        dx = 0, dy = 1;
      else
        dx = 1, dy = (ax * ay > 0) ? 1 : -1;
      const std::size_t a = std::size_t(y - dy) * g.stride + (x - dx),
                        b = std::size_t(y + dy) * g.stride + (x + dx);
      if (g.gx[a] * g.gx[a] + g.gy[a] * g.gy[a] > m2 || g.gx[b] * g.gx[b] + g.gy[b] * g.gy[b] >= m2)
        continue;
      const float m = std::sqrt(m2);
      const double nx = ax / m, ny = ay / m, px = x + g.x0, py = y + g.y0;
      float three[3];
      E.alongRun(px, py, nx, ny, 0, -1, 3, false, three);
      const double fm = three[0], f0 = three[1], fp = three[2];
      if (!(f0 > 0)) continue;
      const double r = 0.5 * (fm + fp) / f0;
      const double w2 = r <= 0 ? 0.0 : r >= 0.999 ? 500.0 : -0.5 / std::log(r);
      ++widths[std::size_t(std::min(double(kBins - 1), w2 / kWidthPerBin))];
      ++mags[std::size_t(std::min(double(kBins - 1), m / kMagPerBin))];
      ++n;
    }
  auto median = [&](const std::array<std::uint32_t, kBins>& h, double perBin) {
    for (std::size_t k = 0, below = 0; k < h.size() && n; ++k) {
      if (2 * (below + h[k]) > n) return (double(k) + 0.5) * perBin;
      below += h[k];
    }
    return 0.0;
  };
  EdgeStats st;
  st.count = n;
  st.width2 = median(widths, kWidthPerBin);
  st.magnitude = median(mags, kMagPerBin);
  return st;
}

}  // namespace

EdgeStats edgeStatsAround(const Problem& P, const PatPoints& pts, const LevelImage& L0,
                          const Pose& p, double margin, Grad& scratch) {
  const EdgeProbe E = probeAround(pts, poseB(P, p), p.tx, p.ty, margin, L0, scratch);
  EdgeStats st = edgeStatsOver(P, E, P.contrast);
  // A dark and soft image can leave its edges under the threshold set by the sharp training
  // image's strength (a gain of 0.4 and a blur of 2 px leave about a fifth of it): their
  // widths, which tell the blur, are then taken from weaker edges, halving the threshold down
  // to weakEdgeShare of it and the noise threshold. The strongest that are enough come first:
  // a weak edge's peak sample rides on its noise, which makes the edge look narrower.
  const double noiseThr = P.tune.noiseFactor * P.noise0;
  for (double thr = 0.5 * P.contrast;
       st.count < P.tune.minWidthSamples && thr >= P.tune.weakEdgeShare * P.contrast - 1e-9 &&
       thr > noiseThr;
       thr *= 0.5)
    st = edgeStatsOver(P, E, thr);
  // The share of saturated pixels, which the exposure needs where the edges are weaker than
  // trained: an overexposed image's clipped edges are weak too, yet it is not dark. Every third
  // pixel of every third row tells whether it passes maxSaturated.
  const std::vector<vc_GFScale>& scales = P.m->scales;
  if (!scales.empty() && st.magnitude < scales.front().medianMag && E.w > 0 && E.h > 0) {
    const CachedLevel& d = *L0.data;
    constexpr int step = 3;
    long bright = 0, all = 0;
    for (int y = E.y0; y < E.y0 + E.h; y += step) {
      const std::uint8_t* row = &d.pix[std::size_t(y) * d.w];
      for (int x = E.x0; x < E.x0 + E.w; x += step) bright += row[x] >= 254, ++all;
    }
    st.saturated = double(bright) / double(all);
  }
  return st;
}

Look chooseLook(const Problem& P, const EdgeStats& rank) {
  const vc_GFTuning& T = P.tune;
  const std::vector<vc_GFScale>& scales = P.m->scales;
  Look look;
  if (scales.empty()) return look;
  // Synthetic shapes have no width of their own: only noise asks for smoothing there.
  const bool synthetic = scales.front().width2 <= 0;
  const bool measured = rank.count >= T.minWidthSamples && rank.width2 > 0;
  const double w2 = measured ? rank.width2 : scales.front().width2;
  const double b2 = synthetic ? 0.0 : std::max(0.0, w2 - scales.front().width2);
  const double noise0 = P.noise0;
  const double edge = rank.magnitude > 0 ? rank.magnitude : P.contrast;
  // The floor of the threshold is a share of the scale's trained strength, lowered with the
  // exposure of the image around the candidate (its edges' median strength at the look against
  // the trained one, at least minExposure): a dark image keeps the pattern's weaker edges above
  // it, as the direction cosines that make the score do not depend on the exposure.
  auto thresholdFor = [&](const vc_GFScale& sc, double smooth, double peak) {
    const double trained = sc.medianMag;
    const double exposure =
        measured && trained > 0 && rank.saturated >= 0 && rank.saturated <= T.maxSaturated
            ? std::clamp(peak / trained, T.minExposure, 1.0)
            : 1.0;
    const double floor = trained > 0
                             ? std::min(P.userContrast, T.trainedContrastShare * trained * exposure)
                             : P.userContrast;
    return std::max(floor,
                    T.noiseFactor * noise0 * smoothedNoiseGain(smooth) / smoothedNoiseGain(0));
  };
  for (std::size_t k = 0; k < scales.size(); ++k) {
    const double tau2 = scales[k].sigma * scales[k].sigma;
    const bool lastScale = k + 1 == scales.size();
    // A scale much sharper than the image would match detail the image no longer has.
    if (std::sqrt(b2) - scales[k].sigma > (k == 0 ? T.sharpTolerance : T.blurTolerance) &&
        !lastScale)
      continue;
    const double s = std::sqrt(std::max(0.0, tau2 - b2));
    const double wr2 = std::max(w2, 0.25);
    const double peak = edge * std::sqrt(wr2 / (wr2 + s * s));
    const double noise = noise0 * smoothedNoiseGain(s) / smoothedNoiseGain(0);
    if (lastScale || peak >= T.fineSnr * noise) {
      look.scale = k;
      look.smooth = s < T.minSmooth ? 0.0 : s;
      look.thr = thresholdFor(scales[k], look.smooth, peak);
      return look;
    }
  }
  return look;
}

}  // namespace vc_gfrun
