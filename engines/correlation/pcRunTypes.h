// The data a correlation run passes between its stages, and the stage functions.
//
// Pose model. Training keeps the pattern's window (W x H pixels, centre c_t = ((W - 1) / 2,
// (H - 1) / 2) in window pixels, offset o_t in its root image). A run sees the pattern as the
// pixel map p -> A (p - c_t) + c_run from training pixels to run pixels, with
//   A = B Z(angle, scale),   B = (run image from model) (train image from model)^-1,
// B the linear part the start pose gives (identity without one) and Z the searched zone: a
// turn by `angle` degrees times a uniform `scale`. A template is the training window warped
// by A onto the run pixel grid; its centre (cx, cy) on that grid is the image of c_t, so a
// template placed with its top-left at (x, y) puts the pattern centre at c_run = (x + cx,
// y + cy) window pixels. The result pose is then client <- run pixels <- training pixels <-
// model: clientFromImage (p -> A (p - c_t) + c_run) trainImageFromModel.
//
// Score. Zero-mean normalized cross-correlation of the template T (valid set V, n pixels)
// with the image I under it:
//   r = sum_V (T - mT)(I - mI) / sqrt(sum_V (T - mT)^2 * sum_V (I - mI)^2).
// T is stored zero-mean on V with its norm, so the numerator is a plain dot product with I.
//
// Stages, in run order (one file each): templates (pcTemplate.cpp: zone grids, warping,
// reduction, cropping), scores (pcScore.cpp: the coefficient at one position, the best of a
// small neighbourhood, the score of a fitted pose), the coarse pass over the reduced window
// (pcCoarse.cpp), the full-resolution refinement of each candidate (pcRefine.cpp: integer
// position and zone steps), the continuous fit of position, angle and scale with its
// covariance (pcFit.cpp), blur matching for soft images (pcBlur.cpp), and the run's set-up,
// result list, rivals and ambiguity (pcRun.cpp). Training is in vcPatCor.cpp.
#pragma once

#include <memory>
#include <vector>

#include "engines/correlation/pcTuning.h"
#include "engines/correlation/vcPatCor.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcMatrix.h"
#include "platform/core/vcPair.h"
#include "platform/core/vcXform.h"

namespace vc_pcrun {

// The tuning every run and training takes.
const vc_PatCorTuning& defaultTuning();
// Throws BadParams unless the model frame is finite and of sane scale and translation.
void checkOrigin(const vcXform<2>& origin);

// Mask pixels at or above this value are on, as for Geofind and the sub-models: the values
// below, such as the 1 the sub-model tool writes for pixels a caller left out, are off.
constexpr unsigned char kMaskOn = 128;

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

// A coarse peak.
struct Cand {
  double score;
  double x, y;  // full-resolution template centre, window pixel coordinates
  double angle, scale;
};

// The best integer position of one zone near a coarse peak: a rival of the result when it is
// a local maximum away from every result.
struct Peak {
  double score;
  double x, y;    // template centre, window pixels
  bool interior;  // the best of its neighbourhood lies inside it, not on its edge
  double angle, scale;
};

// A pose of the continuous fit and what the fit measured there.
struct FitPose {
  double cx = 0, cy = 0;  // pattern centre, window pixels
  double angle = 0;       // zone angle, degrees
  double scale = 1;       // zone scale factor
  double score = 0;       // correlation coefficient at the last pose sampled
  double pixels = 0;      // template pixels that landed in the window
  double blur = 0;        // Gaussian sigma of the template it was fitted with, pixels
  // Covariance of the fitted values in the order translation x, y (training pixels), then the
  // scale increment and the angle increment (radians) when they were fitted (index -1 when
  // not), per unit of the share of the image's variance the template leaves unexplained;
  // `unexplained` is that share as the fit saw it (at least the noise floor's).
  int dofs = 2, scaleIndex = -1, angleIndex = -1;
  double cov[4][4] = {};
  double unexplained = 0, floorShare = 0;
};

// ------------------------------------------------------------- templates (pcTemplate.cpp)

// Zone values nominal + k step (k = -K .. K, the ends clamped to the range), or the nominal
// alone when the zone is not allowed or has no range.
std::vector<double> zoneGrid(double nominal, double range, double step, bool allowed);
// Makes `t` zero-mean over the valid pixels and fills n, norm and full.
void finishTpl(Tpl& T);
// Reduces a full-resolution template by f; a reduced pixel is valid when its whole block is.
Tpl reduceTpl(const Tpl& F, long f);
// Crops a template to a rectangle without invalid pixels (see vc_PatCorTuning::cropKeep).
Tpl cropValid(const Tpl& T, const vc_PatCorTuning& tune);
// Size of the grid the training window warped by A lands on (the identity's is the window's).
void tplSize(const vc_PatCorTrained& D, const vcMatrix<2>& A, long& w, long& h);
// The training window (or `pix`, a blurred copy of it) warped by base Z(angle, scale), its
// centre (dx, dy) pixels off the template grid's centre (cx, cy).
Tpl makeTpl(const vc_PatCorTrained& D, const vcMatrix<2>& base, double angle, double scale,
            double dx = 0, double dy = 0, const float* pix = nullptr);
bool isIdentity(const vcMatrix<2>& A);

// ----------------------------------------------------------------- continuous fit (pcFit.cpp)

// The training window's central-difference gradients and the pixels the fit uses (pattern
// pixels whose four neighbours are pattern pixels too).
void trainFitData(vc_PatCorTrained& D);

// The grey levels and gradients the fit matches, W x H each: the training window itself or a
// blurred copy (see BlurredTemplate).
struct FitTemplate {
  const float* pix = nullptr;
  const float* gx = nullptr;
  const float* gy = nullptr;
  const unsigned char* mask = nullptr;  // 1: the fit uses the pixel
  long pixels = 0;
  double blur = 0;       // Gaussian sigma the training window was blurred by, pixels
  double sharpness = 0;  // mean squared gradient over variance, on the fit's pixels
};
FitTemplate sharpTemplate(const vc_PatCorTrained& D);
// Mean squared gradient over variance of a fit template's pixels (count = W x H).
double sharpnessOf(const FitTemplate& t, long count);

// The training window blurred by a Gaussian of `sigma` pixels over its pattern pixels
// (normalised by the kernel weight that falls on them), with its gradients (pcBlur.cpp).
struct BlurredTemplate {
  std::vector<float> pix, gx, gy;
  FitTemplate view;
  void make(const vc_PatCorTrained& D, double sigma);
};

// ---------------------------------------------------------------------- scores (pcScore.cpp)

// Score of T with its top-left at (x, y) of an image of row stride `stride`, on the valid set
// template mask x image mask (k may be null: all image pixels valid). -2 when too little of
// the template remains. Instantiated for 8-bit and float images.
template <class P, class K>
double general(const Tpl& T, const P* img, long stride, const K* k, long kstride, long x, long y,
               const vc_PatCorTuning& tune);

}  // namespace vc_pcrun

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
  std::vector<vc_pcrun::Tpl> coarse;         // reduced templates at the coarse grid (identity base)
  // The continuous fit's data: central-difference gradients of `pix` and the pixels that have
  // them (1), W x H each.
  std::vector<float> gx, gy;
  std::vector<unsigned char> fitMask;
  long fitPixels = 0;
  double sharpness = 0;  // vc_pcrun::sharpnessOf the window
};

// The search of one run; a struct so that the result classes can befriend it.
struct vc_PatCorRunner {
  using Tpl = vc_pcrun::Tpl;
  using Cand = vc_pcrun::Cand;

  const vc_PatCorModel<unsigned char>& model;
  const vc_PatCorTrained& D;
  const vc_PatCorRunParams& P;
  const vcPelBuffer_const<unsigned char>& image;
  const vcPelBuffer_const<unsigned char>* mask;
  const vcXform<2>& origin;  // model frame of this run
  const vc_PatCorTuning& tune;

  vc_PatCorRunner(const vc_PatCorModel<unsigned char>& m, const vc_PatCorTrained& d,
                  const vc_PatCorRunParams& p, const vcPelBuffer_const<unsigned char>& i,
                  const vcPelBuffer_const<unsigned char>* k, const vcXform<2>& o,
                  const vc_PatCorTuning& t)
      : model(m), D(d), P(p), image(i), mask(k), origin(o), tune(t) {}

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
  // Scratch of the continuous fit, reused by every fit of the run.
  mutable std::vector<float> fitSamples_, fitWeights_, fitResiduals_, fitSorted_;
  mutable std::vector<int> fitPixels_;

  bool centreAllowed(double cx, double cy) const {
    return cx >= cxMin - 1e-9 && cx <= cxMax + 1e-9 && cy >= cyMin - 1e-9 && cy <= cyMax + 1e-9;
  }

  // ---- scores (pcScore.cpp)

  // Exact score of template T with its top-left at (x, y) of the full image.
  double exact(const Tpl& T, long x, long y) const;
  // Best integer top-left of T within +-r of the centre (cx, cy); returns its score.
  double localSearch(const Tpl& T, double cx, double cy, long r, long& bx, long& by) const;
  // The template (the training window, or `pix`) warped to a fitted pose, sub-pixel offset
  // included, and its integer top-left (x, y): scored against the image's own pixels there, as
  // every other score is. Interpolating the image instead would average its noise by an amount
  // that depends on the sub-pixel phase.
  Tpl warpedAt(const vc_pcrun::FitPose& f, const float* pix, long& x, long& y) const;
  double scoreAt(const vc_pcrun::FitPose& f, const float* pix = nullptr) const;

  // ---- coarse pass (pcCoarse.cpp)

  // The zone values of pass grid `grid` that the run's range [lo, hi] of DOF d covers.
  std::vector<double> zoneList(int d, const std::vector<double>& grid, bool enabled) const;
  // Peaks of the reduced correlation over position and the coarse zones, gathered into
  // clusters of one instance each, strongest first.
  void coarsePass(std::vector<std::vector<Cand>>& clusters);

  // ---- refinement (pcRefine.cpp)

  // Refines one cluster at full resolution into `out`; false when it is not a result. The best
  // integer position of each of its zones goes to `peaks`.
  bool refine(const std::vector<Cand>& cluster, vc_PatCorResult& out,
              std::vector<vc_pcrun::Peak>& peaks) const;

  // ---- continuous fit (pcFit.cpp)

  // Fits the centre, and the angle and scale when free, from `f` to the correlation maximum;
  // false when the fit fails (too few pixels in the window, a direction the pattern does not
  // constrain, or a walk of more than tune.fitReach away from the start).
  // With `iterations` 0 the pose is only measured: its score and covariance; with -1 its score
  // alone.
  bool fit(vc_pcrun::FitPose& f, bool angleFree, bool scaleFree, const vc_pcrun::FitTemplate& T,
           int iterations) const;
  // ---- blur matching (pcBlur.cpp)

  // Mean squared gradient over variance of the image under T's valid pixels at (x, y).
  double imageSharpness(const Tpl& T, long x, long y) const;
  // The blur of the template whose sharpness matches the image's `imageR` (0 when the image is
  // as sharp as the template); B holds that template when it is not 0.
  double imageBlur(double imageR, vc_pcrun::BlurredTemplate& B) const;

  // ---- results (pcRun.cpp)

  // Fills a result from a fitted pose: its score, zone values, pose, positions and
  // uncertainty.
  void place(vc_PatCorResult& out, const vc_pcrun::FitPose& f) const;
  // True when b lies within the overlap limits of a (both translation and zone).
  bool overlaps(const vc_PatCorResult& a, const vc_PatCorResult& b) const;
  void run(vc_PatCorResultSet& rs);
};
