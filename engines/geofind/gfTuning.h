// Tuning of a Geofind run: every number that steers the search, gathered in one place.
//
// Each field gives its default and why it has that value. The defaults were chosen on rendered
// images with known truth (geofind_bench: blur, noise up to sigma 20, clutter, 25-40 % cover);
// a run reads them from the tuning it is handed, so a benchmark can sweep them. Limits that
// size buffers or bound memory are fixed at compile time and say so.
#pragma once

#include <cstddef>

struct vc_GFTuning {
  // ------------------------------------------------------------------ pyramid and noise

  // 3: contrast threshold in gradient noise deviations. With Rayleigh-distributed noise
  // magnitudes, three deviations leave about 1 % of the background pixels above the
  // threshold: few enough that noise does not pass for edges, low enough that faint edges of
  // the pattern still count.
  double noiseFactor = 3.0;
  // 8192: pixels sampled for the noise estimate, on a regular grid over the whole image. The
  // lower quartile of that many is stable to a few per cent, and the estimate costs the same
  // tens of microseconds on any image, which a small search near a predicted pose can afford.
  double noiseSamples = 8192.0;
  // 0.25: share of the pattern's median edge strength as trained below which the caller's
  // contrast threshold does not go. A quarter keeps the median edge of an exposure at 0.3 to
  // 0.4 of the training one above the threshold, and with it most of the pattern.
  double trainedContrastShare = 0.25;
  // 0.3: the fine stage lowers that floor with the exposure it measures around a candidate (the
  // median strength of the edges there against the trained one), down to this share: a dark
  // exposure (gain 0.4, or 0.4 and a blur of 2 px) then keeps most of the pattern above it, and
  // the floor still stands at 0.075 of the trained strength where noise does not set it.
  double minExposure = 0.3;
  // 0.02: a candidate's window with more than this share of saturated pixels keeps the trained
  // floor. Clipping flattens the edges against the bright side (an overexposed cup rim): they
  // are weak for that reason, and a lower floor lets the fit take the wrong edges beside them.
  double maxSaturated = 0.02;

  // ----------------------------------------------------------------------- coarse search

  // 100: response of a perfectly aligned gradient in the orientation maps. The responses are
  // bytes (at most 255) and a coarse pose sums one per coarse model point (at most 160 by
  // training) in 16 bits; 100 leaves headroom and resolves scores to 1 %.
  int responseMax = 100;
  // 16 orientation bins over the full turn (8 over the half turn when polarity is ignored):
  // 22.5-degree bins, so that with the cosine response a gradient between two bin centres
  // still scores cos(11.25 deg) = 0.98 in the nearer one.
  int orientationBins = 16;
  // 2: smallest pattern radius, in coarse-level pixels, taken for the DOF grid steps and for
  // the distance within which coarse peaks suppress each other. Below it the steps would grow
  // beyond what the 3 x 3 spread of the response maps tolerates.
  double minRadius = 2.0;
  // 1: displacement at the pattern's rim, in coarse-level pixels, per DOF grid step. The 3 x 3
  // maximum of the response maps absorbs one pixel, so neighbouring grid poses overlap.
  double gridStepAtRim = 1.0;
  // 200000: most coarse poses (products of the DOF grid values) a run may scan. A run beyond
  // it would take seconds on every window; the caller is told to narrow the ranges instead.
  std::size_t maxCoarsePoses = 200000;
  // 2: with sizes searched, the coarse scan gathers up to five neighbouring sizes (two either
  // side of the middle) into one band, scanned at its middle on maps spread two pixels
  // further, and scores the band's sizes exactly only where it peaks. A 0.9-1.1 range over the
  // full circle is then one band for the benchmark's parts (a quarter of the scans);
  // a wider spread lets more clutter peak in the band's maps, each climbed for every size.
  int sizeBandReach = 2;
  // 4: a caller's prediction is searched on its own (each pose scored directly, no orientation
  // planes) while that costs less than four times the estimated scan of the whole window: the
  // whole window's peaks cost far more to track than its scan, so the estimate flatters it.
  double localOverFull = 4.0;
  // 0.8: the score a prediction's result needs (besides the accept threshold) to end the
  // search there. A weaker one may be a neighbouring edge the seeds ran into while the part
  // lies just beyond the box, and a wider look costs little next to a wrong find; true matches
  // on ordinary images score well above it.
  double localSure = 0.8;
  // 2 pixels of the top level: the least half-width of a prediction's box. A caller sure of the
  // position to the pixel still has the scan look around it, as the whole window's scan would.
  double localBoxMin = 2.0;
  // 0.7 x accept, at least 0.15: coarse score a peak needs to become a candidate. Coarse
  // scores run below the final ones (pixel grid, spread orientations, half-step DOF errors),
  // so the threshold sits under the accept threshold; the floor keeps a zero accept threshold
  // from collecting every noise peak.
  double coarseThresholdOfAccept = 0.7;
  double coarseThresholdMin = 0.15;
  // max(12, 4 x numToFind): coarse peaks kept after suppression. Twelve cover the usual
  // confusions (a wrong size under cover, clutter of the pattern's own shape); each sought
  // instance brings a few rivals of its own.
  std::size_t coarseKeepMin = 12;
  std::size_t coarseKeepPerFind = 4;
  // 64 and 8 (x the peaks kept): on a cluttered image the candidate list is cut back to the 8 x
  // best whenever it grows past 64 x, which bounds memory without losing the final keep.
  std::size_t coarsePoolLimit = 64;
  std::size_t coarsePoolKeep = 8;
  // 4 and 0.8: a place (the peaks of one instance, within the pattern's radius) carries at most
  // four DOF variants, each scoring at least 0.8 of the place's best: the turns of a symmetric
  // pattern (a square's four), or the sizes and turns an instance under cover or clutter leaves
  // close together. Variants do not count against the places kept, at any level, so an instance
  // takes one place whatever its symmetry and other instances are not crowded out; and weak
  // variants of a strong place are not tracked.
  std::size_t placeVariants = 4;
  double variantShare = 0.8;
  // 12: the strongest coarse places that keep neighbouring sizes apart in suppression and get
  // size-held copies for tracking. Under cover the peak of a wrong size, fitted to an
  // occluder's outline, can stand next to the true one and outscore it; twelve is enough for
  // the benchmark's 40 % cover and bounds the extra tracking work.
  std::size_t sizeVariety = 12;
  // 0.51 and 2.01 grid steps: coarse peaks closer than this in every free DOF (and within the
  // pattern radius in position) are one. Among the sizeVariety strongest, size DOFs merge only
  // within about half a step (so neighbouring sizes stay apart); otherwise two steps either way
  // merge, as the 3 x 3 spread makes one peak show on neighbouring grid poses.
  double suppressSizeSteps = 0.51;
  // 0.35 of the pattern's radius and 1: a coarse peak suppresses weaker ones within the
  // pattern's radius, but lets one rival farther away than a third of the radius stand beside
  // it. Without it a decoy beside the pattern (dense texture, where the spread orientation maps
  // answer every direction) suppresses the pattern itself; within a third of the radius the
  // peaks are those one instance leaves on neighbouring grid poses.
  double suppressOfRim = 0.35;
  int coarseRivals = 1;
  double suppressSteps = 2.01;

  // ------------------------------------------------------------------ pyramid tracking

  // 1: size-held candidates keep their coarse size on this pyramid level and above; level 0
  // frees every DOF. One level of free tracking below the hold is not enough for a wrong-size
  // fit to run away.
  int holdSizeFrom = 1;
  // 3 Gauss-Newton iterations per pyramid level, with a capture band of 2.5 level pixels: the
  // coarse grid leaves up to half a step in every DOF, about 1.5 px at the rim; three steps
  // converge to well within the next level's capture.
  int levelIterations = 3;
  double levelCapture = 2.5;
  // 2: once tracking holds a single candidate, it is fitted on no level below this one but
  // level 0: level 1 holds twice level 2's points and would only sharpen the pose to within
  // what the level-0 fit (capture 2.5 px) captures from level 2 (a few tenths of a pixel).
  int singleCandidateLevel = 2;
  // 8 (with size DOFs) or 6 candidates kept per level, at least 3 x numToFind: the sizes
  // searched need room for the best of each size beside the strongest poses.
  std::size_t keepWithSizes = 8;
  std::size_t keepWithoutSizes = 6;
  std::size_t keepPerFind = 3;
  // 0.6 (with size DOFs) or 0.7 of the level's best score, and at least 0.6 x accept: far
  // weaker than the best rarely wins further down, and each survivor costs a fit on every
  // level below. With sizes searched, the true size under heavy cover can trail a wrong one by
  // more on the coarse levels.
  double survivalWithSizes = 0.6;
  double survivalWithoutSizes = 0.7;
  double survivalOfAccept = 0.6;

  // ------------------------------------------------------------------------ level-0 fit

  // 2.5 px after tracking, 1.5 px when the coarse search ran on level 0: the capture band of
  // the first level-0 fit. A tracked pose is within a pixel or so; a pose straight from the
  // coarse grid is within the response maps' one-pixel spread.
  double captureAfterTracking = 2.5;
  double captureUntracked = 1.5;
  // 3 iterations for the coarse-point fit that ranks the survivors, 4 for the fine fit with a
  // 1.5 px capture band: the ranking fit only needs the order right; the fine fit brings the
  // last hundredths of a pixel.
  int rankIterations = 3;
  int fineIterations = 4;
  double fineCapture = 1.5;
  // 0.6: each iteration shrinks the capture band by this factor, down to shrinkFloor (1.5 px):
  // wide enough at first to pull the pose in, narrow later so that neighbouring edges stop
  // tugging at the converged points.
  double captureShrink = 0.6;
  double shrinkFloor = 1.5;
  // 1 px (plus the elasticity): on a fit's last pass a model point is matched when an edge lies
  // this close along its normal; the clutter measure takes the same band for the point's own
  // edge. Sub-pixel fits leave true edges well inside it.
  double matchBand = 1.0;
  // 0.7 (45 degrees): least cosine between a model point's normal and the gradient of the image
  // edge it matches. An edge running another way is texture or another object crossing the
  // pattern, not the point's own edge; a pose off by a few degrees still passes easily.
  double minMatchCos = 0.7;
  // 0.75 px (plus the elasticity): scale of the Cauchy weight on the point-to-edge distance.
  // Matches farther off than a pixel are likely wrong edges and lose most of their say.
  double cauchyScale = 0.75;
  // 1e-6: Tikhonov damping of the normal equations (relative to each diagonal entry, plus
  // this), so that DOFs the points do not constrain stay where they are.
  double damping = 1e-6;
  // 0.03: least diagonal of every DOF but translation in the normal equations, as a share of
  // what it would be if every point saw the DOF's full displacement at the pattern's rim. A DOF
  // the points hardly constrain (the turn of a round pattern, the size of a blurred blob) then
  // stays near where the coarse grid put it instead of drifting to the edge of its range; one
  // the points constrain is well above it and untouched.
  double dofDamping = 0.03;
  // 3: a step longer than 3 x level factor x (capture + elasticity) means the points locked
  // onto something else; the fit stops moving but still scores where it is.
  double lockOffFactor = 3.0;
  // 0.01 px on level 0, 0.05 px on the levels above (times the level factor): the fit has
  // converged when the centroid and the rim move less than this. A twentieth of a pixel is
  // plenty for the next level's capture.
  double convergedLevel0 = 0.01;
  double convergedAbove = 0.05;
  // 2: matched points per independent sample in the fit's covariance. Neighbouring model points
  // lie about a pixel apart and their edges share the gradient's 3 x 3 support, so their
  // residuals are not independent; counting them all would understate the uncertainty.
  double pointsPerSample = 2.0;
  // 0.1: a found pose's position is weak along a direction when the edges fix it there with
  // less than a tenth of the information they give across it (1-sigma ellipse more than about
  // 3 times longer than wide): a bar, a text line, a straight connector edge, which a little
  // clutter at its ends slides along its length.
  double weakInformationShare = 0.1;
  // 1 px: a result whose 1-sigma position ellipse is longer than this is ambiguous: its edges
  // do not tell where along them the pattern lies.
  double maxSigmaPx = 1.0;
  // 4 px: extra margin of the gradient window around a fit's points and capture band; the
  // fine fit of a candidate then usually lies inside the window its coarse fit just took.
  double fitWindowMargin = 4.0;
  // 16: farthest integer step, in level pixels, of the edge search along a normal. Wider
  // bands (huge elasticity) are cut there; the work per point stays bounded. At most
  // kProbeStepsLimit, which sizes the search's stack buffer.
  int maxProbeSteps = 16;
  static constexpr int kProbeStepsLimit = 64;

  // ------------------------------------------------------------------ fine-stage scale

  // 12: matched edges the ranking fit needs before their widths tell the image's blur; with
  // fewer the image is taken to be as sharp as the training one.
  std::size_t minWidthSamples = 12;
  // 0.25: with fewer edges than that above the level-0 contrast threshold, the widths are taken
  // from weaker edges, the threshold halved until enough pass, down to this share of it (and
  // never under the noise threshold). The threshold follows the sharp training image's
  // strength, which a dark, soft run image's edges fall far below.
  double weakEdgeShare = 0.25;
  // 0.15 px: a blurred scale may be this much sharper than the run image's extra blur; sharper
  // ones match detail the image has lost and pull its edges off their place (a soft image
  // matched half a pixel too sharp is off by a few tenths of a pixel).
  double blurTolerance = 0.15;
  // 0.7 px: the sharp scale, with no smoothing of the run image, serves up to this much extra
  // blur. Cameras and renders differ from their training images by about that much without
  // losing any detail that matters, and the width estimate scatters by a few tenths on a sharp
  // image; the plain fit is then both exact and the cheapest.
  double sharpTolerance = 0.7;
  // 4096 pixels: a candidate's window larger than this has its edge widths and strengths taken
  // from every second row and column. A few hundred edge pixels give medians as steady as all
  // of them, and a large pattern's window holds tens of thousands.
  long edgeStatsDense = 4096;
  // 8: the fine fit smooths the run image until the edges around the candidate stand this many
  // gradient noise deviations high: enough that noise hardly moves the edge positions, with no
  // more smoothing than that takes.
  double fineSnr = 8.0;
  // 0.3 px: smoothing below this is not worth a smoothed gradient window; the plain one serves.
  double minSmooth = 0.3;

  // ------------------------------------------------------------------ scoring and clutter

  // 4 px: farthest offset of an image edge alongside a missed model point that counts as a
  // near miss in the clutter measure. Beyond it, edges (texture, other objects) say nothing
  // about the pose.
  double nearMiss = 4.0;
  // 0.9 (about 25 degrees): least cosine between a missed point's normal and the gradient of
  // the edge alongside it for a near miss. The pattern's own edge, a little off, runs the same
  // way; texture and an occluder's surface run any way.
  double nearMissCos = 0.9;
  // 0.5: with scoreUsingClutter the score is lowered by this share of the clutter. A near miss
  // is half as damning as a missing edge: the point may still be on the right object.
  double clutterWeight = 0.5;
  // 0.5 x accept: a measured candidate below it is dropped (the best of them is still returned,
  // not accepted); candidates ranked below it are not measured at all.
  double measureOfAccept = 0.5;
  // 0.05: the fine measure stops once numToFind distinct results beat a candidate's ranking
  // score by this much. Clutter only lowers a score; the margin covers the fine fit scoring a
  // little above the coarse-point one.
  double measureMargin = 0.05;
  // 0.5 x the pattern's rim at its nominal size: two results whose centres lie closer are one
  // instance when counting distinct results.
  double separationOfRim = 0.5;
  // 1.5 px (times the level's slack) and 1 % of a size value: two fitted poses this close are
  // one solution (candidates from neighbouring coarse cells converge onto one instance).
  double samePosition = 1.5;
  double sameSize = 0.01;
};
