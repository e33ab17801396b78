// The data a Geofind run passes between its stages, and the stage functions.
//
// Pose model. u = pattern point (origin-relative pattern coordinates, from the training pixels
// through patternFromTrainPixel). The client position is A u + t with A = S D(v), S the start
// pose's linear part and D(v) the product of the DOF matrices in list order. In image pixels
// (level 0: the root image's pixels, counted from its corner) the position is B u + tau with
// B = Mw A, where Mw maps client coordinates to image pixels. The search runs over tau and the
// DOF values v; level l sees (B u + tau - c_l) / 2^l, c_l = (2^l - 1) / 2 (2x2 mean reduction
// from the image's corner keeps pixel centres at 2x + 0.5). The window limits where the run
// looks: the positions it scans and the pixels its fits see.
//
// Stages, in run order (one file each): pyramid and noise (gfPyramid.cpp), coarse search
// (gfCoarse.cpp), pyramid tracking (gfTrack.cpp), least-squares fit (gfFit.cpp), level-0
// scoring and clutter (gfScore.cpp), result assembly (gfResults.cpp); gfRun.cpp runs them.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engines/geofind/gfImageCache.h"
#include "engines/geofind/gfModel.h"
#include "engines/geofind/gfTuning.h"
#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcMatrix.h"
#include "platform/core/vcThreadPool.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "vcGeorapidDOF.h"

namespace vc_gfrun {

using Clock = std::chrono::steady_clock;

// Most DOFs a run searches besides translation; sizes the pose and the normal equations.
constexpr int kMaxDofs = 8;

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
  bool holdSize = false;  // size DOFs stay at their coarse values down to tuning.holdSizeFrom
};

// Model points in pattern coordinates.
struct PatPoints {
  std::vector<float> ux, uy, nx, ny, w;
  double totalW = 0;
  vcVector<2> centroid;  // weighted mean position: the pivot of DOF steps while tracking
  double rim = 0;        // largest distance of a point from the centroid
  std::size_t size() const { return ux.size(); }
};

// A run's view of one pyramid level of its image cache (gfImageCache.h): the level's pixels and
// gradient, and the part of the level the run may see, its window there. Pixels and gradient
// are read only inside the window, after the cache has made them.
struct LevelImage {
  vc_GFImageData* cache = nullptr;
  const CachedLevel* data = nullptr;
  int level = 0;
  PixRect win;
  int width() const { return win.x1 - win.x0; }
  int height() const { return win.y1 - win.y0; }
  // The pixel at (x, y), clamped into the window (whose pixels the run has made).
  std::uint8_t pixel(int x, int y) const {
    x = std::clamp(x, win.x0, win.x1 - 1);
    y = std::clamp(y, win.y0, win.y1 - 1);
    return data->pix[std::size_t(y) * data->w + x];
  }
};

// A window of Sobel / 8 gradient of one level: a view of the cache's gradient, or a window of
// its own after a Gaussian blur of `smooth` pixels (the cache holds the plain gradient only).
struct Grad {
  const float* gx = nullptr;
  const float* gy = nullptr;
  std::size_t stride = 0;
  int x0 = 0, y0 = 0, w = 0, h = 0;  // the window, level pixels
  const void* source = nullptr;      // level the window was taken from
  double smooth = 0;
  // The planes of a smoothed window and the blur's rows: kept between fits, never zeroed
  // (every value is written before it is read).
  struct Buffer {
    std::unique_ptr<float[]> p;
    std::size_t capacity = 0;
    float* get(std::size_t n) {
      if (n > capacity) p.reset(new float[n]), capacity = n;
      return p.get();
    }
  };
  Buffer ownX, ownY, work;
  bool covers(const void* src, double blur, int a0, int b0, int a1, int b1) const {
    return src == source && blur == smooth && a0 >= x0 && b0 >= y0 && a1 <= x0 + w && b1 <= y0 + h;
  }
};

// How a level-0 fit sees the image: which of the model's blurred scales it matches, how much
// the run image is smoothed for it, and the contrast threshold of its edges (see gfScale.cpp).
struct Look {
  std::size_t scale = 0;  // index into vc_GFModel::scales
  double smooth = 0;      // Gaussian blur of the run image, pixels
  double thr = -1;        // contrast threshold; < 0: the level's own
};

// What every stage reads: the DOFs, the frames, the thresholds and the tuning.
struct Problem {
  explicit Problem(const vc_GFTuning& t) : tune(t) {}
  const vc_GFTuning& tune;
  const vc_GFModel* m = nullptr;
  std::vector<DofSpec> dofs;
  vcMatrix<2> S;
  vcMatrix<2> Mw;  // client -> image pixels, linear part
  bool ignorePolarity = false;
  double userContrast = 10;  // the caller's contrast threshold
  double contrast = 10;      // level 0; contrastAt[l] on pyramid level l
  double noise0 = 0;         // deviation of a level-0 gradient component's noise
  std::vector<double> contrastAt;
  double elasticity = 0;
  Deadline deadline;
  vcThreadPool* pool = nullptr;  // threads for the candidates; null: this thread
  double contrastOn(int level) const {
    return level < int(contrastAt.size()) ? contrastAt[std::size_t(level)] : contrast;
  }
};

// Where the caller expects the pattern: its origin within (tx, ty) +- (ex, ey), level-0 image
// pixels (vcGFAlignRunParams::prediction).
struct Prediction {
  double tx = 0, ty = 0, ex = 0, ey = 0;
};

// A coarse peak.
struct Cand {
  double score;
  double x, y;    // tau, level-0 pixels
  double cx, cy;  // where the points' centroid lands, level-0 pixels
  std::array<double, kMaxDofs> v;
  bool placeBest = false;  // the strongest peak of its place (one instance)
};

// The DOF grid of the coarse level.
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

// Measures of a fit; the point lists only on level 0's last iteration.
struct FitStats {
  double score = 0, contrast = 0, fitError = 0, coverage = 0;
  std::size_t matched = 0;
  // Whether the last step moved the pose by less than the level's convergence tolerance.
  bool converged = false;
  // Median squared width of the matched edges' gradient profiles (px^2, 0 when none matched).
  double width2 = 0;
  std::vector<vcVector<2>> modelPts, imagePts;  // window pixels
  // From the level-0 fit's normal equations and residuals: the 1-sigma covariance of tau
  // (window pixels squared), each free DOF's sigma (0 for a fixed one), and the share of
  // position information along the weakest direction against the strongest (1: round).
  vcMatrix<2> positionCov{0.0, 0.0, 0.0, 0.0};
  std::array<double, kMaxDofs> dofSigma{};
  double informationShare = 1.0;
  bool haveCov = false;
};

// A candidate measured on level 0.
struct Found {
  Pose p;
  FitStats st;
  double clutter = 0, score = 0;
  Look look;  // how it was measured; look.thr is the contrast it must reach to be accepted
};

// Bilinear samples of a gradient window.
struct EdgeProbe {
  // The window of one fit: exactly the pixels it asked for, even when its planes belong to a
  // larger window taken before, so that a fit's answer never depends on what ran before it.
  const float* gx = nullptr;
  const float* gy = nullptr;
  std::size_t stride = 0;
  int x0 = 0, y0 = 0, w = 0, h = 0;
  // The part c (level pixels, inside g) of the window g.
  static EdgeProbe within(const Grad& g, const PixRect& c) {
    EdgeProbe e;
    e.stride = g.stride;
    e.x0 = c.x0, e.y0 = c.y0;
    e.w = std::max(0, c.x1 - c.x0), e.h = std::max(0, c.y1 - c.y0);
    if (e.w > 0 && e.h > 0 && g.gx) {
      const std::size_t o = std::size_t(c.y0 - g.y0) * g.stride + std::size_t(c.x0 - g.x0);
      e.gx = g.gx + o, e.gy = g.gy + o;
    }
    return e;
  }
  // Both gradient components at (x, y), sharing one bilinear weighting; 0 outside the window.
  void gradient(double x, double y, double& ox, double& oy) const {
    x -= x0;
    y -= y0;
    if (x < 0 || y < 0 || x > w - 1.001 || y > h - 1.001) {
      ox = oy = 0;
      return;
    }
    const int ix = int(x), iy = int(y);
    const float fx = float(x - ix), fy = float(y - iy);
    const float w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy), w10 = (1 - fx) * fy, w11 = fx * fy;
    const std::size_t o = std::size_t(iy) * stride + ix, o1 = o + stride;
    ox = w00 * gx[o] + w01 * gx[o + 1] + w10 * gx[o1] + w11 * gx[o1 + 1];
    oy = w00 * gy[o] + w01 * gy[o + 1] + w10 * gy[o1] + w11 * gy[o1 + 1];
  }
  // Gradient projected on n at p + t n (0 outside the window).
  float along(double px, double py, double nx, double ny, double t) const {
    float v;
    alongRun(px, py, nx, ny, t, 0, 1, false, &v);
    return v;
  }
  // along(px, py, nx, ny, t0 + (k0 + j)) for j = 0 .. n - 1 into out[j], |values| when
  // `absolute`: the edge search's inner loop, with the window's constants loaded once.
  // Projecting the four neighbours first shares one bilinear weighting between both planes.
  void alongRun(double px, double py, double nx, double ny, double t0, int k0, int n, bool absolute,
                float* out) const {
    const std::size_t sw = stride;
    const double xmax = w - 1.001, ymax = h - 1.001;
    const float ax = float(nx), ay = float(ny);
    const double tb = t0 + k0, xb = px + tb * nx - x0, yb = py + tb * ny - y0;
    const double xe = xb + (n - 1) * nx, ye = yb + (n - 1) * ny;
    if (xb >= 0 && yb >= 0 && xb <= xmax && yb <= ymax && xe >= 0 && ye >= 0 && xe <= xmax &&
        ye <= ymax) {
      // The whole run lies inside the window (a segment does when both its ends do): no test
      // per sample, and the position steps along the normal.
      float x = float(xb), y = float(yb);
      for (int j = 0; j < n; ++j, x += ax, y += ay) {
        const int ix = int(x), iy = int(y);
        const float fx = x - float(ix), fy = y - float(iy);
        const std::size_t o = std::size_t(iy) * sw + std::size_t(ix), o1 = o + sw;
        const float v00 = gx[o] * ax + gy[o] * ay, v01 = gx[o + 1] * ax + gy[o + 1] * ay;
        const float v10 = gx[o1] * ax + gy[o1] * ay, v11 = gx[o1 + 1] * ax + gy[o1 + 1] * ay;
        const float v = (v00 + (v01 - v00) * fx) * (1 - fy) + (v10 + (v11 - v10) * fx) * fy;
        out[j] = absolute ? std::fabs(v) : v;
      }
      return;
    }
    for (int j = 0; j < n; ++j) {
      const double t = t0 + (k0 + j);
      const double x = px + t * nx - x0, y = py + t * ny - y0;
      float v = 0.0f;
      if (!(x < 0 || y < 0 || x > xmax || y > ymax)) {
        const int ix = int(x), iy = int(y);
        const float fx = float(x - ix), fy = float(y - iy);
        const std::size_t o = std::size_t(iy) * sw + ix, o1 = o + sw;
        const float v00 = gx[o] * ax + gy[o] * ay, v01 = gx[o + 1] * ax + gy[o + 1] * ay;
        const float v10 = gx[o1] * ax + gy[o1] * ay, v11 = gx[o1 + 1] * ax + gy[o1 + 1] * ay;
        v = (v00 + (v01 - v00) * fx) * (1 - fy) + (v10 + (v11 - v10) * fx) * fy;
      }
      out[j] = absolute ? std::fabs(v) : v;
    }
  }
};

// ------------------------------------------------------------- pose model (gfPose.cpp)

vcMatrix<2> dofMatrix(const Problem& P, const Pose& p);
// B = Mw S D(v)
vcMatrix<2> poseB(const Problem& P, const Pose& p);
// dB/dv_k
vcMatrix<2> poseDB(const Problem& P, const Pose& p, std::size_t k);
vcMatrix<2> invTranspose(const vcMatrix<2>& B);
// A model normal (mx, my) under a pose whose linear part has inverse transpose Bit, unit length.
void posedNormal(const vcMatrix<2>& Bit, double mx, double my, double& nx, double& ny);
// The model's points of one stage in pattern coordinates (G: pattern from training pixels).
PatPoints toPattern(const vc_GFPointSet& s, const vcXform<2>& G);
// Scale-like DOFs (every kind but angle and skew) change the pattern's size or proportions.
bool isSizeDof(const DofSpec& d);
// |a - b|, the shorter way round for a circular DOF of the given period (0: not circular).
double circDiff(double a, double b, double period);
// Fixed DOFs to their value, circular ones into their turn, the others into their range.
void clampDofs(const Problem& P, Pose& p);
// True when two fitted poses are one solution: candidates from neighbouring coarse cells
// converge onto the same instance, and fitting it twice costs a whole fine stage.
// `slack` widens the position and angle tolerances for the coarser pyramid levels.
bool sameSolution(const Problem& P, const vcVector<2>& pivot, const Pose& a, const Pose& b,
                  double slack = 1.0);

// --------------------------------------------------------- pyramid and noise (gfPyramid.cpp)

// The run's views of levels 0 .. `top` of `cache` over `window` (fewer when the window is too
// small for them: at least 3 x 3 pixels on the top one).
std::vector<LevelImage> openLevels(vc_GFImageData& cache,
                                   const vcPelBuffer_const<unsigned char>& window, int top);
// Deviation of the pixel noise of the whole image `window` belongs to (grey levels).
double imageNoise(const vcPelBuffer_const<unsigned char>& window, const vc_GFTuning& T);
// Deviation of one Sobel / 8 gradient component on white noise of unit deviation.
double gradientNoiseGain();
// Fills P.noise0, P.contrastAt (one per level) and P.contrast from the caller's threshold, the
// pattern's trained edge strength and the image noise (`noise`, grey levels).
void setContrastThresholds(Problem& P, double noise, std::size_t levels);
// The Sobel / 8 gradient of the rectangle [x0, x1) x [y0, y1) of a level, clipped to the run's
// window there: a view of the cache's gradient. Masked pixels have a zero gradient.
void gradientOf(const LevelImage& L, const PixRect& r, Grad& g);
// The same after a Gaussian blur of `sigma` pixels (> 0) of the level around the rectangle, in
// g's own planes; beyond the window the image is continued by the window's border pixels.
void smoothSobel(const LevelImage& L, double sigma, const PixRect& r, Grad& g);

// ------------------------------------------------------- fine-stage scale (gfScale.cpp)

// Deviation of one Sobel / 8 gradient component on unit white noise after a Gaussian blur of
// `sigma` pixels (gradientNoiseGain() at 0).
double smoothedNoiseGain(double sigma);
// The image's edges around a candidate: the median squared width of their gradient profiles
// and their median strength, over the edge pixels (maxima across the edge above the level-0
// threshold, or above a lower one when too few pass it) of the gradient window around the
// pattern's points at p.
struct EdgeStats {
  double width2 = 0, magnitude = 0;
  // Share of the window's pixels at 254 or 255 (sampled); -1 where the edges are not weaker
  // than trained, which leaves the exposure alone.
  double saturated = -1;
  std::size_t count = 0;
};
EdgeStats edgeStatsAround(const Problem& P, const PatPoints& pts, const LevelImage& L0,
                          const Pose& p, double margin, Grad& scratch);
// The look for the level-0 fits of a candidate whose surroundings show `edges`.
Look chooseLook(const Problem& P, const EdgeStats& edges);

// ---------------------------------------------------------- coarse search (gfCoarse.cpp)

// The grid of DOF values scanned on the coarse level `level` for the pattern's points there;
// refuses ranges that need more than tuning.maxCoarsePoses grid poses.
DofGrid coarseGrid(const Problem& P, const PatPoints& pts, int level);
// Peaks of the gradient-orientation score over position and the grid on one level, at least
// `thr`, best first: at most `keep` places (instances), each with a few DOF variants (see
// vc_GFTuning::placeVariants).
std::vector<Cand> coarseSearch(const Problem& P, const PatPoints& pts, const LevelImage& L,
                               int level, const DofGrid& grid, double thr, std::size_t keep);
// The coarse search of a prediction: the peaks of the mean direction cosine over the origins
// `box` allows (whole pixels of the level) and the DOF grid, each pose scored directly from the
// level's gradient, best first, at most `keep` places as coarseSearch keeps them. Its cost follows
// the poses the prediction allows, where the full search pays for orientation planes over the whole
// window.
std::vector<Cand> localSearch(const Problem& P, const PatPoints& pts, const LevelImage& L,
                              int level, const DofGrid& grid, const Prediction& box,
                              std::size_t keep);
// Rough operation counts of the two, to pick the cheaper.
double localSearchCost(const PatPoints& pts, int level, const DofGrid& grid, const Prediction& box);
double coarseSearchCost(const Problem& P, const PatPoints& pts, const LevelImage& L,
                        const DofGrid& grid);

// ------------------------------------------------------------- tracking (gfTrack.cpp)

// Poses for tracking from the coarse peaks, with size-held copies of the strongest places.
std::vector<Pose> seedPoses(const Problem& P, const std::vector<Cand>& cands, const DofGrid& grid);
// Fits every pose on each level from `topLevel` down to 1 and keeps the strong, distinct ones:
// at most so many places, each with a few DOF variants.
void trackDown(const Problem& P, const std::vector<PatPoints>& lv,
               const std::vector<LevelImage>& pyr, int topLevel, const DofGrid& grid, double accept,
               std::size_t numToFind, std::vector<Pose>& poses);

// ---------------------------------------------------------- least squares (gfFit.cpp)

// The pattern's points mapped by B and moved by (tx, ty), with `margin` pixels on every side.
PixRect windowAround(const PatPoints& pts, const vcMatrix<2>& B, double tx, double ty,
                     double margin);
// The gradient of level L over windowAround(...): the cache's plain gradient, or with `smooth`
// a smoothed window in `scratch` (kept while the next request lies inside it).
EdgeProbe probeAround(const PatPoints& pts, const vcMatrix<2>& B, double tx, double ty,
                      double margin, const LevelImage& L, Grad& scratch, double smooth = 0);
// Searches along the normal within [-R, R] for the strongest edge of the right polarity;
// returns false when none reaches the contrast threshold. t = sub-pixel offset, mag = strength,
// width2 (when given, with `precise`) = squared width of the gradient profile through the edge.
// `precise` re-centres the samples on the estimate and measures the strength there, as
// training did: the last hundredths of a pixel, which only level 0 needs; otherwise one
// parabola through the integer samples.
bool findEdge(const EdgeProbe& E, double px, double py, double nx, double ny, double R,
              bool ignorePolarity, double thr, int maxSteps, double& t, double& mag,
              float* width2 = nullptr, bool precise = true);
// Gauss-Newton on tau and the free DOFs of p on pyramid level `level`; fills `stats` on the
// last iteration. On level 0 `look` says how the image is seen.
void refine(const Problem& P, const PatPoints& pts, const LevelImage& L0, int level, int iterations,
            double capture, Pose& p, Grad& scratch, FitStats* stats, const Look& look = Look());

// ------------------------------------------------------ scoring and clutter (gfScore.cpp)

// Share of the model's edge weight that narrowly misses an image edge at pose p.
double clutterOf(const Problem& P, const PatPoints& pts, const LevelImage& L0, const Pose& p,
                 Grad& scratch, const Look& look = Look());
// Level 0: ranks the tracked poses with the coarse points, then measures the best (fine fit
// with the model's points at the scale chosen for each when algorithm 2, clutter, score) until
// numToFind distinct results are safe. `G` maps training pixels to pattern coordinates. Best
// first; the best rejected candidate alone when none comes near the accept threshold.
std::vector<Found> scoreCandidates(const Problem& P, const std::vector<PatPoints>& lv,
                                   const vcXform<2>& G, const LevelImage& L0, int topLevel,
                                   int algorithm, const vcGFAlignRunParams& params,
                                   const std::vector<Pose>& poses);

}  // namespace vc_gfrun

// The run, and the stage that writes the results' private fields.
struct vc_GFRunner {
  static void run(const vc_GFModel& m, const vcXform<2>& G,
                  const vcPelBuffer_const<unsigned char>& image,
                  const vcPelBuffer_const<unsigned char>* mask, const vcGFAlignRunParams& params,
                  const vc_GFTuning& tuning, vcGFAlignResultSet& results);
  // Results in client coordinates from the measured candidates (best first), without those
  // that overlap a stronger one, at most numToFind (gfResults.cpp).
  static void setUncertainty(vcGFAlignResult& res, const vc_gfrun::Problem& P,
                             const vc_gfrun::FitStats& st);
  static std::vector<vcGFAlignResult> assemble(const vc_gfrun::Problem& P,
                                               const std::vector<vc_gfrun::Found>& found,
                                               const vc_GFModel& m, const vcXform<2>& G,
                                               const vcXform<2>& Mw,
                                               const vcPelBuffer_const<unsigned char>& image,
                                               const vcGFAlignRunParams& params);
};
