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
  // 3: without fine steps, the coarse step is halved this many times around the best zone
  // (an eighth of a coarse step): the score falls off too fast over a coarse step for a
  // parabola through its neighbours.
  int zoneHalvings = 3;
  // 0.5 px (or zone step): the sub-pixel vertex of a parabola is kept within half a step of
  // the best sample; farther means the three samples do not bracket a maximum.
  double vertexClamp = 0.5;
};
