// Training: edge points per pyramid level from an image, or synthesised along wireframes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "engines/geofind/gfImage.h"
#include "engines/geofind/gfModel.h"

namespace {

constexpr int kMaxLevel = 5;
constexpr std::size_t kCapTop = 160;    // coarse search cost grows with these points
constexpr std::size_t kCapLevel = 400;  // intermediate levels and coarse refinement
constexpr std::size_t kCapFine = 4000;  // fine least-squares stage
constexpr std::size_t kMinPoints = 8;
constexpr std::size_t kMinCoarsePoints = 24;
constexpr int kMinCoarseExtent = 12;  // pattern extent in pixels at the coarse level

struct EdgeCand {
  float x, y, nx, ny, mag;
  float width2;  // squared width of the gradient profile across the edge (px^2)
};

// Blurs of the training image whose edges the fine stage keeps (see vc_GFScale): a geometric
// series, each half as wide again as the one before, up to the blur of a camera well out of
// focus. A run picks the nearest and smooths its own image by the rest.
constexpr double kScaleSigmas[] = {1.0, 1.5, 2.25, 3.4};

// |(x, y)| as hypotf computes it (in double, rounded once): the same bits, without a library
// call per pixel, so the loop over the whole window vectorizes.
inline float magnitude(float x, float y) {
  return float(std::sqrt(double(x) * double(x) + double(y) * double(y)));
}

// mag = |(gx, gy)| per pixel; returns the largest.
VC_GF_VECTORIZE float magnitudes(const vc_GFImageF& gx, const vc_GFImageF& gy, vc_GFImageF& mag) {
  float maxMag = 0.0f;
  for (std::size_t i = 0; i < mag.p.size(); ++i) {
    mag.p[i] = magnitude(gx.p[i], gy.p[i]);
    maxMag = std::max(maxMag, mag.p[i]);
  }
  return maxMag;
}

// Width of a gradient profile from three samples one pixel apart around its peak: for a
// Gaussian profile of variance s^2 the outer samples are exp(-1/(2 s^2)) of the centre one.
float profileWidth2(float fm, float f0, float fp) {
  const float r = 0.5f * (fm + fp) / f0;
  if (!(r > 0.0f)) return 0.0f;
  if (r >= 0.999f) return 500.0f;
  return -0.5f / std::log(r);
}

// Sub-pixel edges: non-maximum suppression across the gradient, then a parabola through the
// gradient (projected on the normal) sampled at -1, 0, +1 pixel along the normal, re-centred
// until the centre sample sits on the edge. Re-centring removes the phase bias of a one-shot
// fit, which is what keeps the model consistent with the run-time edge search.
std::vector<EdgeCand> extractEdges(const vc_GFImageF& img, const std::vector<std::uint8_t>* mask,
                                   bool dropUnstable, int border = 2) {
  vc_GFImageF gx, gy;
  vf_GFSobel(img, gx, gy);
  const int w = img.w, h = img.h;
  vc_GFImageF mag(w, h);
  const float maxMag = magnitudes(gx, gy, mag);
  const float thr = std::max(4.0f, 0.15f * maxMag);
  std::vector<EdgeCand> out;
  auto proj = [&](float px, float py, float nx, float ny) {
    float sx, sy;
    gx.sample2(gy, px, py, sx, sy);
    return sx * nx + sy * ny;
  };
  for (int y = border; y + border < h; ++y) {
    for (int x = border; x + border < w; ++x) {
      const float m = mag.at(x, y);
      if (m < thr) continue;
      if (mask && !(*mask)[std::size_t(y) * w + x]) continue;
      const float ax = gx.at(x, y), ay = gy.at(x, y);
      // Quantized direction for the suppression neighbours.
      int dx, dy;
      const float t = std::fabs(ay) / (std::fabs(ax) + 1e-12f);
      if (t < 0.41421356f) {
        dx = 1, dy = 0;
      } else if (t > 2.4142136f) {
        dx = 0, dy = 1;
      } else {
        dx = 1, dy = (ax * ay > 0) ? 1 : -1;
      }
      const float m1 = mag.at(x - dx, y - dy), m2 = mag.at(x + dx, y + dy);
      if (!(m >= m1 && m > m2) && !(m > m1 && m >= m2)) continue;
      float nx = ax / m, ny = ay / m;
      float px = float(x), py = float(y);
      bool ok = true;
      float width2 = 0.0f;
      for (int it = 0; it < 4; ++it) {
        const float fm = proj(px - nx, py - ny, nx, ny), f0 = proj(px, py, nx, ny),
                    fp = proj(px + nx, py + ny, nx, ny);
        const float den = fm - 2 * f0 + fp;
        width2 = profileWidth2(fm, f0, fp);
        if (!(den < 0)) {
          ok = false;
          break;
        }
        float d = 0.5f * (fm - fp) / den;
        d = std::clamp(d, -0.75f, 0.75f);
        px += d * nx;
        py += d * ny;
        if (std::fabs(d) < 0.005f) break;
      }
      if (!ok || std::fabs(px - x) > 1.0f || std::fabs(py - y) > 1.0f) continue;
      float sx, sy;
      gx.sample2(gy, px, py, sx, sy);
      const float sm = magnitude(sx, sy);
      if (sm < 0.5f * thr) continue;
      nx = sx / sm;
      ny = sy / sm;
      if (dropUnstable) {
        // Corners and ends: the direction turns or the edge fades within 1.5 px along it.
        bool stable = true;
        for (float s : {-1.5f, 1.5f}) {
          const float qx = px - s * ny, qy = py + s * nx;
          float ux, uy;
          gx.sample2(gy, qx, qy, ux, uy);
          const float um = magnitude(ux, uy);
          if (um < 0.5f * sm || (ux * nx + uy * ny) < 0.9f * um) stable = false;
        }
        if (!stable) continue;
      }
      out.push_back({px, py, nx, ny, sm, width2});
    }
  }
  return out;
}

// floor(v / g) as the grid has always been drawn (in float); candidates lie at positive
// coordinates, where truncation is the floor without a library call.
inline long long cellOf(float v, float g) {
  const float q = v / g;
  return q >= 0.0f ? static_cast<long long>(q) : static_cast<long long>(std::floor(q));
}

// The cells of a square grid of `g` pixels that hold edge candidates, numbered densely over the
// candidates' bounding box: cell[i] is candidate i's. Rebuilt for each grid in the same storage.
struct CellGrid {
  template <class T>
  using Buffer = std::vector<T, vc_GFNoInit<T>>;
  Buffer<long long> cx, cy;
  Buffer<std::size_t> cell;
  std::size_t size = 0;
  void build(const std::vector<EdgeCand>& in, float g) {
    cx.resize(in.size()), cy.resize(in.size()), cell.resize(in.size());
    long long x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    for (std::size_t i = 0; i < in.size(); ++i) {
      cx[i] = cellOf(in[i].x, g), cy[i] = cellOf(in[i].y, g);
      if (i == 0) x0 = x1 = cx[i], y0 = y1 = cy[i];
      x0 = std::min(x0, cx[i]), x1 = std::max(x1, cx[i]);
      y0 = std::min(y0, cy[i]), y1 = std::max(y1, cy[i]);
    }
    const long long cols = x1 - x0 + 1;
    size = std::size_t(cols * (y1 - y0 + 1));
    for (std::size_t i = 0; i < in.size(); ++i)
      cell[i] = std::size_t((cy[i] - y0) * cols + (cx[i] - x0));
  }
};

// Keeps the strongest point per grid cell of `grain` pixels (the first of equals), widening the
// grid by a quarter at a time until at most `cap` points remain. The cells are counted over a
// dense grid of the candidates' extent (a few bytes per cell of the pattern's window), so each
// widening costs a pass over the candidates.
std::vector<EdgeCand> thin(const std::vector<EdgeCand>& in, float grain, std::size_t cap) {
  float g = std::max(1.0f, grain);
  std::vector<std::uint32_t> stamp;  // the pass that last counted each cell
  std::uint32_t pass = 0;
  CellGrid grid;
  for (;;) {
    grid.build(in, g);
    if (stamp.size() < grid.size) stamp.resize(grid.size, 0);
    ++pass;
    std::size_t cells = 0;
    for (std::size_t c : grid.cell) {
      cells += stamp[c] != pass;
      stamp[c] = pass;
    }
    if (cells <= cap || g > 64) {
      // Candidate numbers fit 32 bits: a window holds fewer pixels than that.
      constexpr std::uint32_t kNone = ~std::uint32_t(0);
      std::vector<std::uint32_t> best(grid.size, kNone);
      for (std::size_t i = 0; i < in.size(); ++i) {
        std::uint32_t& b = best[grid.cell[i]];
        if (b == kNone || in[i].mag > in[b].mag) b = std::uint32_t(i);
      }
      std::vector<std::size_t> idx;
      idx.reserve(cells);
      for (std::uint32_t b : best)
        if (b != kNone) idx.push_back(b);
      std::sort(idx.begin(), idx.end());  // deterministic order
      std::vector<EdgeCand> out;
      out.reserve(idx.size());
      for (std::size_t i : idx) out.push_back(in[i]);
      return out;
    }
    g *= 1.25f;
  }
}

vc_GFPointSet toLevel0(const std::vector<EdgeCand>& pts, int level, float ox, float oy) {
  const float f = float(1 << level), off = 0.5f * (f - 1.0f);
  vc_GFPointSet s;
  for (const EdgeCand& e : pts) s.push(e.x * f + off + ox, e.y * f + off + oy, e.nx, e.ny, 1.0f);
  return s;
}

double median(std::vector<float> v) {
  if (v.empty()) return 0.0;
  std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
  return v[v.size() / 2];
}

double medianMag(const std::vector<EdgeCand>& e) {
  std::vector<float> m;
  for (const EdgeCand& c : e) m.push_back(c.mag);
  return median(m);
}

vc_GFScale makeScale(double sigma, const std::vector<EdgeCand>& edges, float grain, std::size_t cap,
                     float ox, float oy) {
  vc_GFScale sc;
  sc.sigma = sigma;
  const std::vector<EdgeCand> kept = thin(edges, grain, cap);
  sc.points = toLevel0(kept, 0, ox, oy);
  std::vector<float> w2;
  for (const EdgeCand& c : kept) w2.push_back(c.width2);
  sc.medianMag = medianMag(kept);
  sc.width2 = median(w2);
  return sc;
}

// Separable Gaussian blur with the border pixels repeated. Each output sums its taps in the
// same order as the plain double loop over pixels and taps would, so the result is that
// loop's to the bit; looping over pixels inside the taps lets the compiler vectorize it.
VC_GF_VECTORIZE void gaussianBlur(vc_GFImageF& img, double sigma) {
  const int r = int(std::ceil(3.0 * sigma));
  std::vector<float> k(std::size_t(2 * r + 1));
  float sum = 0.0f;
  for (int i = -r; i <= r; ++i)
    sum += k[std::size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& v : k) v /= sum;
  const int w = img.w, h = img.h;
  vc_GFImageF t(w, h);
  std::vector<float> padded(std::size_t(w + 2 * r));
  for (int y = 0; y < h; ++y) {
    const float* src = &img.p[std::size_t(y) * w];
    for (int x = -r; x < w + r; ++x) padded[std::size_t(x + r)] = src[std::clamp(x, 0, w - 1)];
    // The first tap is assigned where the old loop added it to 0: the same value, as no
    // product of a weight and a grey level is -0.
    float* out = &t.p[std::size_t(y) * w];
    for (int x = 0; x < w; ++x) out[x] = k[0] * padded[std::size_t(x)];
    for (int i = 1; i <= 2 * r; ++i) {
      const float ki = k[std::size_t(i)];
      const float* in = &padded[std::size_t(i)];
      for (int x = 0; x < w; ++x) out[x] += ki * in[x];
    }
  }
  for (int y = 0; y < h; ++y) {
    float* out = &img.p[std::size_t(y) * w];
    const float* first = &t.p[std::size_t(std::clamp(y - r, 0, h - 1)) * w];
    for (int x = 0; x < w; ++x) out[x] = k[0] * first[x];
    for (int i = -r + 1; i <= r; ++i) {
      const float ki = k[std::size_t(i + r)];
      const float* in = &t.p[std::size_t(std::clamp(y + i, 0, h - 1)) * w];
      for (int x = 0; x < w; ++x) out[x] += ki * in[x];
    }
  }
}

void checkCount(std::size_t n) {
  if (n < kMinPoints)
    throw vcGFAlignDefs::CanNotTrain("The pattern has too few edge points (" + std::to_string(n) +
                                     " found, at least " + std::to_string(kMinPoints) + " needed)");
}

int coarseLevelFor(const vc_GFTrainSettings& s, int maxLevel,
                   const std::vector<std::size_t>& counts, int w, int h) {
  int level;
  if (s.autoSelect) {
    level = 0;
    for (int l = 1; l <= maxLevel; ++l)
      if (std::min(w, h) >> l >= kMinCoarseExtent && counts[l] >= kMinCoarsePoints) level = l;
  } else {
    level = std::clamp(int(std::floor(std::log2(s.coarseGrain) + 1e-6)), 0, maxLevel);
    while (level > 0 && counts[level] < kMinPoints) --level;
  }
  return level;
}

}  // namespace

std::shared_ptr<vc_GFModel> vf_GFTrainImage(const vcPelBuffer_const<unsigned char>& image,
                                            const vcPelBuffer_const<unsigned char>* mask,
                                            const vc_GFTrainSettings& s) {
  const int w = int(image.width()), h = int(image.height());
  if (w < 8 || h < 8)
    throw vcGFAlignDefs::BadParams("The pattern is too small: at least 8 x 8 pixels are needed");
  auto m = std::make_shared<vc_GFModel>();
  m->ignorePolarity = s.ignorePolarity;
  m->elasticity = s.elasticity;
  m->algorithm = s.algorithm;
  m->region = image.window();
  m->clientFromImage = image.clientFromImageXform();
  const float ox = float(image.offset().x()), oy = float(image.offset().y());

  int maxLevel = 0;
  while (maxLevel < kMaxLevel && (std::min(w, h) >> (maxLevel + 1)) >= 8) ++maxLevel;

  std::vector<vc_GFImageF> pyr{vf_GFToFloat(image)};
  std::vector<std::vector<std::uint8_t>> masks;
  if (mask) {
    std::vector<std::uint8_t> m0(std::size_t(w) * h);
    std::size_t on = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) on += (m0[std::size_t(y) * w + x] = mask->row(y)[x] >= 128);
    if (on == 0) throw vcGFAlignDefs::CanNotTrain("The training mask selects no pixels");
    masks.push_back(std::move(m0));
  }
  for (int l = 1; l <= maxLevel; ++l) {
    pyr.push_back(vf_GFReduce(pyr.back()));
    if (mask) {
      const auto& prev = masks.back();
      const int pw = pyr[l - 1].w;
      const int cw = pyr[l].w, ch = pyr[l].h;
      std::vector<std::uint8_t> c(std::size_t(cw) * ch);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
          c[std::size_t(y) * cw + x] = prev[std::size_t(2 * y) * pw + 2 * x] +
                                           prev[std::size_t(2 * y) * pw + 2 * x + 1] +
                                           prev[std::size_t(2 * y + 1) * pw + 2 * x] +
                                           prev[std::size_t(2 * y + 1) * pw + 2 * x + 1] >=
                                       2;
      masks.push_back(std::move(c));
    }
  }
  std::vector<std::vector<EdgeCand>> raw(maxLevel + 1);
  std::vector<std::size_t> counts(maxLevel + 1);
  for (int l = 0; l <= maxLevel; ++l) {
    raw[l] = extractEdges(pyr[l], mask ? &masks[l] : nullptr, l == 0);
    counts[l] = thin(raw[l], 1.0f, kCapLevel).size();
  }
  checkCount(raw[0].size());
  const int top = coarseLevelFor(s, maxLevel, counts, w, h);
  m->coarseLevel = top;
  m->coarseGrain = float(1 << top);
  m->levels.resize(top + 1);
  for (int l = 0; l <= top; ++l) {
    const std::size_t cap = (l == top && top > 0) ? kCapTop : kCapLevel;
    m->levels[l] = toLevel0(thin(raw[l], l == 0 ? 2.0f : 1.0f, cap), l, ox, oy);
  }
  checkCount(m->levels[top].size());
  for (int l = 0; l <= top; ++l) m->levelMedianMag.push_back(medianMag(raw[l]));
  const float fineGrain = s.autoSelect ? 1.0f : s.fineGrain;
  m->fineGrain = fineGrain;
  // The level-0 points that measure a match, at every scale: the fine ones with the fine
  // stage, else the coarse points of level 0.
  const float grain0 = s.algorithm == 2 ? fineGrain : 2.0f;
  const std::size_t cap0 = s.algorithm == 2 ? kCapFine : kCapLevel;
  m->scales.push_back(makeScale(0.0, raw[0], grain0, cap0, ox, oy));
  if (s.algorithm == 2) m->fine = m->scales.front().points;
  // Blurred scales, each while the pattern still has enough edges at that blur. Edges within
  // two blur widths of the window's border depend on what lies outside it, so they are left
  // out.
  if (!s.blurredScales) return m;
  for (double sigma : kScaleSigmas) {
    if (4.0 * sigma > 0.5 * std::min(w, h)) break;
    vc_GFImageF b = pyr[0];
    gaussianBlur(b, sigma);
    const std::vector<EdgeCand> e =
        extractEdges(b, mask ? &masks[0] : nullptr, true, 2 + int(std::ceil(2.0 * sigma)));
    if (e.size() < kMinPoints) break;
    m->scales.push_back(makeScale(sigma, e, std::max(grain0, float(0.5 * sigma)), cap0, ox, oy));
  }
  return m;
}

std::shared_ptr<vc_GFModel> vf_GFTrainChains(const std::vector<vc_GFSegmentChain>& chains,
                                             const vcXform<2>& clientFromImage,
                                             const vc_GFTrainSettings& s) {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  double totalW = 0.0;
  for (const auto& c : chains) {
    for (const auto& v : c.vertices) {
      if (!std::isfinite(v.x()) || !std::isfinite(v.y()))
        throw vcGFAlignDefs::BadParams("A shape vertex is not finite");
      x0 = std::min(x0, v.x()), y0 = std::min(y0, v.y());
      x1 = std::max(x1, v.x()), y1 = std::max(y1, v.y());
    }
    if (c.vertices.size() >= 2) totalW += std::fabs(c.weight);
  }
  if (totalW <= 0.0)
    throw vcGFAlignDefs::CanNotTrain("The shapes have no segment with a non-zero weight");
  const double extent = std::max(x1 - x0, y1 - y0);
  if (!(extent >= 4.0))
    throw vcGFAlignDefs::BadParams("The pattern is too small: its shapes span less than 4 pixels");

  auto m = std::make_shared<vc_GFModel>();
  m->ignorePolarity = s.ignorePolarity;
  m->elasticity = s.elasticity;
  m->algorithm = s.algorithm;
  m->clientFromImage = clientFromImage;
  m->region =
      vcPelRect(long(std::floor(x0)) - 2, long(std::floor(y0)) - 2,
                long(std::ceil(x1) - std::floor(x0)) + 5, long(std::ceil(y1) - std::floor(y0)) + 5);

  // Points every `spacing` pixels along each segment, kept clear of the vertices where the
  // edge direction is ambiguous.
  auto sample = [&](double spacing, double clear) {
    vc_GFPointSet set;
    for (const auto& c : chains) {
      if (c.weight == 0.0 || c.vertices.size() < 2) continue;
      const float sign = c.weight > 0 ? 1.0f : -1.0f;
      const std::size_t n = c.vertices.size();
      const std::size_t segs = c.closed ? n : n - 1;
      // Distance along the chain to the next sample, carried across short segments (flattened
      // arcs); long segments keep clear of their vertices.
      double carry = 0.5 * spacing;
      for (std::size_t i = 0; i < segs; ++i) {
        const vcVector<2> a = c.vertices[i], b = c.vertices[(i + 1) % n];
        const double len = a.distance(b);
        if (len < 1e-9) continue;
        const vcVector<2> d = (b - a) / len;
        const double clr = len >= 4 * clear ? clear : 0.0;
        double t = std::max(carry, clr);
        for (; t <= len - clr; t += spacing) {
          const vcVector<2> p = a + d * t;
          set.push(float(p.x()), float(p.y()), sign * float(d.y()), -sign * float(d.x()),
                   float(std::fabs(c.weight)));
        }
        carry = std::max(0.0, t - len);
      }
    }
    return set;
  };

  int maxLevel = 0;
  while (maxLevel < kMaxLevel && (int(extent) >> (maxLevel + 1)) >= 8) ++maxLevel;
  std::vector<std::size_t> counts(maxLevel + 1);
  for (int l = 0; l <= maxLevel; ++l) counts[l] = sample(double(1 << l), 1.0 * (1 << l)).size();
  checkCount(counts[0]);
  const int top = coarseLevelFor(s, maxLevel, counts, int(x1 - x0), int(y1 - y0));
  m->coarseLevel = top;
  m->coarseGrain = float(1 << top);
  m->levels.resize(top + 1);
  for (int l = 0; l <= top; ++l) {
    const std::size_t cap = (l == top && top > 0) ? kCapTop : kCapLevel;
    double spacing = l == 0 ? 2.0 : double(1 << l);
    vc_GFPointSet set = sample(spacing, 1.0 * (1 << l));
    while (set.size() > cap && spacing < 1e4) set = sample(spacing *= 1.25, 1.0 * (1 << l));
    m->levels[l] = std::move(set);
  }
  const float fineGrain = s.autoSelect ? 1.0f : s.fineGrain;
  m->fineGrain = fineGrain;
  // The level-0 points that measure a match: the fine ones with the fine stage, else spaced as
  // the coarse points of level 0.
  const double spacing0 = s.algorithm == 2 ? fineGrain : 2.0;
  const std::size_t cap0 = s.algorithm == 2 ? kCapFine : kCapLevel;
  auto set0 = [&](double clear) {
    double spacing = spacing0;
    vc_GFPointSet set = sample(spacing, clear);
    while (set.size() > cap0 && spacing < 1e4) set = sample(spacing *= 1.25, clear);
    return set;
  };
  vc_GFScale sharp;
  sharp.points = set0(1.0);
  if (s.algorithm == 2) m->fine = sharp.points;
  m->scales.push_back(std::move(sharp));
  // Blurring moves no straight edge, but rounds the corners: the blurred scales keep their
  // points clear of the vertices by the blur's reach.
  for (double sigma :
       s.blurredScales ? std::span<const double>(kScaleSigmas) : std::span<const double>()) {
    vc_GFScale sc;
    sc.sigma = sigma;
    sc.points = set0(1.0 + 1.5 * sigma);
    if (sc.points.size() < kMinPoints) break;
    m->scales.push_back(std::move(sc));
  }
  m->levelMedianMag.assign(m->levels.size(), 0.0);
  return m;
}
