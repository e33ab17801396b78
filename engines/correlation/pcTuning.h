// Tuning of a correlation run: every number that steers the search, gathered in one place.
//
// Each field gives its default and why it has that value. A run reads them from the tuning it
// is handed, so a benchmark can sweep them. Limits that size buffers or bound the work of a
// mistyped parameter are fixed at compile time and say so.
#pragma once

#include <cstddef>

struct vc_PatCorTuning {
  // ---------------------------------------------------------------------------- training

  // 6: fewest pixels across a coarse template. The reduction factor is lowered until the
  // reduced template keeps this many in both directions; fewer carry too little structure for
  // the coarse peak to stand out of the texture around it.
  long minCoarseSide = 6;
  // 0.5: a warped template is cropped to a rectangle free of invalid corners (so that the
  // coarse pass takes exact image sums from the integral images) unless the crop would keep
  // less than half of its valid pixels; then it keeps its corners and approximate sums.
  double cropKeep = 0.5;
  // 10000: most zone steps either side of the nominal. More is a step typed wrong, not a
  // search anyone can wait for. Bounds the template grids.
  static constexpr double kMaxZoneSteps = 10000;
  // 4096: most coarse templates (angles times scales), each a warped copy of the pattern kept
  // with the model. Bounds the model's memory.
  static constexpr std::size_t kMaxCoarseTemplates = 4096;

  // ------------------------------------------------------------------------------ scores

  // 0.25 and 4: a score needs at least this share of the template's valid pixels (and at least
  // 4 pixels) left after the run mask and the window's border; with less, the coefficient
  // measures a sliver of the pattern and is not reported.
  double minValidShare = 0.25;
  double minValidPixels = 4;
  // 1e-9 (per pixel): a variance at or below this is a flat patch; its coefficient is 0
  // rather than the quotient of two rounding errors.
  double flatVariance = 1e-9;

  // ------------------------------------------------------------------------- coarse pass

  // accept - 0.25, at least 0.05: coarse score a peak needs to become a candidate (when the
  // caller set no neighbour threshold). The reduced images lose the fine detail that lifts the
  // full-resolution score; a quarter covers a 4x reduction of fine print. The floor keeps a
  // zero accept threshold from collecting every ripple of the correlation surface.
  double coarseMargin = 0.25;
  double coarseFloor = 0.05;
  // 0.5 x the smaller template side: coarse peaks closer than this to a stronger one belong to
  // the same instance and join its cluster.
  double clusterSeparation = 0.5;
  // 3: zones (angle and scale pairs) each cluster keeps for the full-resolution refinement.
  // The reduced scores rank neighbouring zones loosely; three cover the best and both sides.
  std::size_t clusterZones = 3;
  // max(8, 4 x numToFind): clusters kept, strongest first. Eight cover the usual rivals
  // (texture that resembles the pattern at the reduced scale); each sought instance brings a
  // few of its own.
  std::size_t clustersMin = 8;
  std::size_t clustersPerFind = 4;

  // ---------------------------------------------------------------------------- refinement

  // 0.2: once numToFind results are in, a cluster whose coarse score trails the weakest of
  // them by more than this is not refined. The reduction moves scores by less than that.
  double refineMargin = 0.2;
  // 3 px: integer searches this wide or wider (the reduction factor around a coarse peak) are
  // sampled every second pixel and then climbed: a correlation peak's top is at least a pixel
  // wide, and the climb costs a third of the full search.
  long sparseSearchFrom = 3;
  // 3: without fine steps, the coarse step is halved this many times around the best zone
  // (an eighth of a coarse step), so that the continuous fit starts well inside its reach.
  int zoneHalvings = 3;

  // ---------------------------------------------------------------------- continuous fit

  // 8 iterations at most; a start within half a pixel and half a halved step converges in
  // three or four.
  int fitIterations = 8;
  // 0.005 px: the fit has converged when no template pixel moves farther in an iteration.
  double fitConverged = 0.005;
  // 0.5 grey levels: the least noise an 8-bit image has (its rounding alone leaves 0.29), so
  // that a perfect match does not report a perfect position along a direction the pattern
  // hardly constrains.
  double noiseFloor = 0.5;
  // 1e-6 of the mean diagonal: ridge added to the fit's normal equations, so that a direction
  // the pattern does not constrain keeps its value and reports a huge variance.
  double fitRidge = 1e-6;
  // 3: scale of Cauchy's weight on a pixel's residual, in units of what noise (the residuals'
  // robust deviation, 1.4826 x their median) and a misplacement of robustSlack (0.1 px) times
  // the template's gradient explain there. Residuals of noise and of the fit's last tenths of a
  // pixel stay well inside it; a pixel the template does not explain (an occluder, the strip
  // of a neighbouring piece that moved its own way) loses most of its say. 0 turns the
  // weighting off.
  double robustScale = 3.0;
  double robustSlack = 0.1;
  // 1 px: largest move of the template's rim in one iteration; the linearisation holds about
  // that far on fine texture.
  double fitMaxStep = 1.0;
  // 2 px: a fit that walks farther from its integer start has left the peak the integer
  // search found (the integer search already holds the best integer position within a pixel).
  double fitReach = 2.0;
  // 0.5 px: a fitted centre this far outside the allowed centres lies beyond the search: the
  // peak inside was a slope rising out of it, not a maximum.
  double edgeTolerance = 0.5;

  // ---------------------------------------------------------------------- blur matching

  // 0.85: an image whose sharpness (mean squared gradient over variance) under the found pose
  // is below this share of the template's is soft, and the template is blurred to match it.
  // Above, the difference is within what turns, sizes and noise make.
  double softerThan = 0.85;
  // 1 px, up to 4 px: blurs of the template whose sharpness is compared with the image's; the
  // blur is interpolated between the two that bracket it.
  double blurStep = 1.0;
  double maxBlur = 4.0;
  // 0.4 px: a smaller blur is not worth a second fit: the bias it removes is a few hundredths.
  double minBlur = 0.4;

  // ------------------------------------------------------------------------ ambiguity

  // 2 px: a rival peak must lie at least this far from every result's centre; nearer, it is
  // the result's own peak seen from a neighbouring zone.
  double rivalDistance = 2.0;
  // 3 deviations, 4 pixels a sample, at least 0.005: a result is ambiguous when a rival peak
  // scores within 3 deviations of the score's noise of it, (1 - r^2) / sqrt(n / 4) for a
  // coefficient r over n pixels (neighbouring pixels of a real image are not independent
  // samples), and never less than 0.005 (a clean image's second instance of repetitive
  // texture). A smooth piece's neighbouring poses all score near 1 but stay outside it.
  double ambiguitySigmas = 3.0;
  double pixelsPerSample = 4.0;
  double ambiguityFloor = 0.005;
  // 0.02: the integer position's score trails the fitted one by up to this on fine texture;
  // a rival whose integer score comes within twice the margin plus this is fitted to see.
  double integerGap = 0.02;
  // 1 px: a result whose 1-sigma position ellipse is longer than this is ambiguous: the image
  // does not tell where along it the pattern lies (a featureless patch, a lone straight edge).
  double maxSigmaPx = 1.0;
};
