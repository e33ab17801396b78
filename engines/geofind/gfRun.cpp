// Run: coarse search on the top pyramid level with gradient-orientation response maps, tracking
// of candidates down the pyramid with the direction-cosine score, least-squares refinement on
// level-0 edge points, scoring, and overlap removal. The pose model and the stages are in
// gfRunTypes.h; the numbers that steer them in gfTuning.h.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "engines/geofind/gfRunTypes.h"

using vc_gfrun::Cand;
using vc_gfrun::Clock;
using vc_gfrun::coarseGrid;
using vc_gfrun::coarseSearch;
using vc_gfrun::DofGrid;
using vc_gfrun::DofSpec;
using vc_gfrun::Found;
using vc_gfrun::kMaxDofs;
using vc_gfrun::LevelImage;
using vc_gfrun::openLevels;
using vc_gfrun::PatPoints;
using vc_gfrun::Prediction;
using vc_gfrun::localSearch;
using vc_gfrun::localSearchCost;
using vc_gfrun::coarseSearchCost;
using vc_gfrun::Pose;
using vc_gfrun::Problem;
using vc_gfrun::scoreCandidates;
using vc_gfrun::seedPoses;
using vc_gfrun::setContrastThresholds;
using vc_gfrun::toPattern;
using vc_gfrun::trackDown;

namespace {

// The DOFs of the list (validated, in list order), the start pose and the window's frame.
// Returns the transform from client coordinates to window pixels.
vcXform<2> setUp(Problem& P, const vc_GFModel& m, const vcPelBuffer_const<unsigned char>& image,
                 const vcGFAlignRunParams& params) {
  P.m = &m;
  P.ignorePolarity = m.ignorePolarity;
  P.userContrast = params.contrastThreshold();
  P.contrast = P.userContrast;
  P.elasticity = m.elasticity;
  P.pool = params.threadPool();
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

  // Client -> image pixels, counted from the root image's corner as the cache's levels are.
  const vcXform<2>& Cr = image.clientFromImageXform();
  if (Cr.matrix().isSingular())
    throw vcGFAlignDefs::BadImage("The run image's client transform is singular");
  const vcPelRect root = image.entire();
  const vcXform<2> Mw =
      vcXform<2>(vcMatrix<2>(), vcVector<2>(-double(root.x()), -double(root.y()))) * Cr.inverse();
  P.Mw = Mw.matrix();
  if (image.width() < 3 || image.height() < 3)
    throw vcGFAlignDefs::BadImage("The run window is too small: at least 3 x 3 pixels");
  return Mw;
}

// The prediction in level-0 image pixels: the origin's position, and the uncertainty box's
// half-extents (the client box mapped by the image's linear part).
Prediction predictionBox(const Problem& P, const vcXform<2>& Mw, const vcGFAlignRunParams& params) {
  const vcVector<2> t = Mw.mapPoint(params.predictedPosition());
  const double ux = params.predictionUx(), uy = params.predictionUy();
  Prediction b;
  b.tx = t.x(), b.ty = t.y();
  b.ex = std::fabs(P.Mw(0, 0)) * ux + std::fabs(P.Mw(0, 1)) * uy;
  b.ey = std::fabs(P.Mw(1, 0)) * ux + std::fabs(P.Mw(1, 1)) * uy;
  return b;
}

// True when a measured pose's origin lies inside the box (with half a pixel to spare): the fits
// may carry a pose out of the box scanned, and the whole window may then hold a better one.
bool inside(const Prediction& box, const Pose& p) {
  const double slack = 0.5;  // px
  return std::fabs(p.tx - box.tx) <= box.ex + slack && std::fabs(p.ty - box.ty) <= box.ey + slack;
}

}  // namespace

void vf_GFRun(const vc_GFModel& m, const vcXform<2>& G,
              const vcPelBuffer_const<unsigned char>& image,
              const vcPelBuffer_const<unsigned char>* mask, const vcGFAlignRunParams& params,
              vcGFAlignResultSet& results) {
  static const vc_GFTuning kTuning;
  vc_GFRunner::run(m, G, image, mask, params, kTuning, results);
}

void vc_GFRunner::run(const vc_GFModel& m, const vcXform<2>& G,
                      const vcPelBuffer_const<unsigned char>& image,
                      const vcPelBuffer_const<unsigned char>* mask,
                      const vcGFAlignRunParams& params, const vc_GFTuning& tuning,
                      vcGFAlignResultSet& results) {
  results.results_.clear();
  Problem P(tuning);
  const vcXform<2> Mw = setUp(P, m, image, params);
  const int algorithm = (params.algorithm() == 2 && m.fine.size() > 0) ? 2 : 1;
  const double accept = params.acceptThreshold();
  const std::size_t numToFind = std::size_t(params.numToFind());

  // Pyramid and noise: the levels of the image cache over the window, and a contrast threshold
  // for each. A cache of other pixels than the run's serves another image: the run makes its own.
  std::shared_ptr<vc_GFImageData> cache = params.imageCache();
  if (!cache || !cache->serves(image, mask)) cache = std::make_shared<vc_GFImageData>(image, mask);
  const std::vector<LevelImage> pyr = openLevels(*cache, image, m.coarseLevel);
  const int topLevel = int(pyr.size()) - 1;
  setContrastThresholds(P, cache->noise(tuning), pyr.size());
  P.deadline.check();

  // The model's points of each level in pattern coordinates (the fine ones are the scoring's).
  std::vector<PatPoints> lv;
  for (int l = 0; l <= topLevel; ++l) lv.push_back(toPattern(m.levels[l], G));

  // The DOF grid of the top level; the coarse peaks become poses tracked down the pyramid and
  // measured on level 0.
  const DofGrid grid = coarseGrid(P, lv[topLevel], topLevel);
  const std::size_t keepTop =
      std::max<std::size_t>(tuning.coarseKeepMin, tuning.coarseKeepPerFind * numToFind);
  const double coarseThr =
      std::max(tuning.coarseThresholdMin, tuning.coarseThresholdOfAccept * accept);
  auto fromPeaks = [&](const std::vector<Cand>& cands) {
    std::vector<Pose> poses = seedPoses(P, cands, grid);
    trackDown(P, lv, pyr, topLevel, grid, accept, numToFind, poses);
    return scoreCandidates(P, lv, G, pyr[0], topLevel, algorithm, params, poses);
  };
  std::vector<Found> found;
  bool searched = false;
  // A prediction is searched first where that costs less than localOverFull times the scan of
  // the whole window. Its box is scanned, then twice the box when the best pose found is not
  // sure (under localSure or the accept threshold) or its fits carried it beyond twice the box
  // (a piece predicted from a single other one can lie a little beyond what the caller
  // expects); the window is scanned only when that finds nothing sure either.
  if (params.hasPrediction()) {
    Prediction box = predictionBox(P, Mw, params);
    const double full = coarseSearchCost(P, lv[topLevel], pyr[topLevel], grid);
    const double reach = double(1 << topLevel);
    // However certain the caller, the scan covers a few pixels of the top level around the
    // prediction: a pose started off its optimum by a pixel or two converges to a neighbouring
    // edge instead, where the scan would have seen the better peak.
    box.ex = std::max(box.ex, tuning.localBoxMin * reach);
    box.ey = std::max(box.ey, tuning.localBoxMin * reach);
    for (int attempt = 0; attempt < 2 && !searched; ++attempt) {
      if (localSearchCost(lv[topLevel], topLevel, grid, box) > tuning.localOverFull * full) break;
      found = fromPeaks(localSearch(P, lv[topLevel], pyr[topLevel], topLevel, grid, box, keepTop));
      box.ex = 2 * box.ex + reach, box.ey = 2 * box.ey + reach;
      searched = !found.empty() && found.front().score >= std::max(accept, tuning.localSure) &&
                 found.front().st.contrast >= found.front().look.thr &&
                 inside(box, found.front().p);
    }
  }
  if (!searched)
    found = fromPeaks(coarseSearch(P, lv[topLevel], pyr[topLevel], topLevel, grid, coarseThr,
                                   keepTop));
  P.deadline.check();
  results.results_ = assemble(P, found, m, G, Mw, image, params);
}
