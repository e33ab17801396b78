// Scoring and clutter on level 0: the tracked poses are ranked by a fit with the coarse
// points, then the best are measured (fine fit, clutter, score) until enough distinct results
// are safe.
#include <algorithm>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

// Clutter: the share of the model's edge weight whose own edge is missing while an image edge
// of the same direction runs alongside it, more than the capture distance but at most
// tuning.nearMiss pixels away. Such edges mean a near miss: a pose a little off, or at a wrong
// size (a wrong pose fitted to part of the pattern and to an occluder's outline leaves many).
// A true pose with part of the pattern hidden leaves few, as an occluder's face is flat and
// its border crosses the pattern's edges; edges farther away (texture, other objects, noise)
// say nothing about the pose, so they are not counted.
double clutterOf(const Problem& P, const PatPoints& pts, const LevelImage& L0, const Pose& p,
                 Grad& scratch, const Look& look) {
  const vc_GFTuning& T = P.tune;
  const vcMatrix<2> B = poseB(P, p);
  const vcMatrix<2> Bit = invTranspose(B);
  const double el = std::min(P.elasticity, pts.rim);
  // The probes reach one sample beyond the search distance on either side.
  const EdgeProbe E =
      probeAround(pts, B, p.tx, p.ty, T.nearMiss + el + 3, L0, scratch, look.smooth);
  const double thr = look.thr >= 0 ? look.thr : P.contrast;
  double nearMiss = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const double qx = B(0, 0) * pts.ux[i] + B(0, 1) * pts.uy[i] + p.tx;
    const double qy = B(1, 0) * pts.ux[i] + B(1, 1) * pts.uy[i] + p.ty;
    double nx, ny;
    posedNormal(Bit, pts.nx[i], pts.ny[i], nx, ny);
    double t, mag;
    if (findEdge(E, qx, qy, nx, ny, T.matchBand + el, P.ignorePolarity, thr, T.maxProbeSteps, t,
                 mag))
      continue;
    if (!findEdge(E, qx, qy, nx, ny, T.nearMiss + el, P.ignorePolarity, thr, T.maxProbeSteps, t,
                  mag))
      continue;
    // Only an edge running the point's way is a near miss; texture crosses it at any angle.
    const double ex = qx + t * nx, ey = qy + t * ny;
    double gx, gy;
    E.gradient(ex, ey, gx, gy);
    const double gm = std::sqrt(gx * gx + gy * gy);
    double cs = gm > 0 ? (gx * nx + gy * ny) / gm : 0;
    if (P.ignorePolarity) cs = std::fabs(cs);
    if (cs >= T.nearMissCos) nearMiss += pts.w[i];
  }
  return pts.totalW > 0 ? nearMiss / pts.totalW : 0.0;
}

std::vector<Found> scoreCandidates(const Problem& P, const std::vector<PatPoints>& lv,
                                   const vcXform<2>& G, const LevelImage& L0, int topLevel,
                                   int algorithm, const vcGFAlignRunParams& params,
                                   const std::vector<Pose>& poses) {
  const vc_GFTuning& T = P.tune;
  const double accept = params.acceptThreshold();
  const std::size_t numToFind = std::size_t(params.numToFind());
  std::vector<Found> found;
  // The fine points of each scale in pattern coordinates, made when a candidate first needs
  // them: most runs use the sharp scale alone.
  std::vector<PatPoints> scalePts(P.m->scales.size());
  auto pointsOf = [&](std::size_t k) -> const PatPoints& {
    if (scalePts[k].size() == 0) scalePts[k] = toPattern(P.m->scales[k].points, G);
    return scalePts[k];
  };
  const double capture0 = topLevel > 0 ? T.captureAfterTracking : T.captureUntracked;
  // Pass 1: every survivor is fitted with the level-0 coarse points, which ranks them; a soft
  // or noisy image has them fitted at the scale that matches it (see gfScale.cpp).
  std::vector<Found> ranked;
  const double el0 = std::min(P.elasticity, lv[0].rim);
  const double margin0 = capture0 + el0 + T.fitWindowMargin;
  // Each thread ranks its share with scratch space of its own; the points of the scales the
  // looks ask for are made first, as the threads only read them.
  const std::size_t slots = P.pool ? P.pool->size() : 1;
  std::vector<Grad> scratchOf(slots), smoothedOf(slots);
  ranked.resize(poses.size());
  vfParallelFor(P.pool, poses.size(), [&](std::size_t i, unsigned slot) {
    P.deadline.check();
    ranked[i].look = chooseLook(P, edgeStatsAround(P, lv[0], L0, poses[i], margin0, scratchOf[slot]));
  });
  for (const Found& fd : ranked)
    if (fd.look.scale != 0 || fd.look.smooth != 0) pointsOf(fd.look.scale);
  vfParallelFor(P.pool, poses.size(), [&](std::size_t i, unsigned slot) {
    P.deadline.check();
    Found& fd = ranked[i];
    Pose p = poses[i];
    if (fd.look.scale == 0 && fd.look.smooth == 0)
      refine(P, lv[0], L0, 0, T.rankIterations, capture0, p, scratchOf[slot], &fd.st, fd.look);
    else
      refine(P, scalePts[fd.look.scale], L0, 0, T.rankIterations, capture0, p,
             fd.look.smooth > 0 ? smoothedOf[slot] : scratchOf[slot], &fd.st, fd.look);
    fd.p = p;
    fd.score = fd.st.score;
  });
  Grad& scratch = scratchOf[0];
  Grad& smoothed = smoothedOf[0];
  std::sort(ranked.begin(), ranked.end(),
            [](const Found& a, const Found& b) { return a.score > b.score; });
  for (std::size_t i = 0; i < ranked.size(); ++i)
    for (std::size_t j = ranked.size(); j-- > i + 1;)
      if (sameSolution(P, lv[0].centroid, ranked[i].p, ranked[j].p))
        ranked.erase(ranked.begin() + long(j));
  // Pass 2, best first: the fine fit and the clutter measure, the costly part, stop as soon as
  // numToFind distinct results already beat what the rest could score. Clutter only lowers a
  // score; the margin covers the fine fit scoring a little above the coarse one.
  // Results closer than a part of the pattern's size are one instance; the size is taken at
  // the DOFs' nominal values (a scale of 1, not 0), brought into the searched ranges.
  Pose nominal;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) nominal.v[k] = P.dofs[k].dof->identityValue();
  clampDofs(P, nominal);
  const double minSeparation =
      T.separationOfRim * lv[0].rim * std::sqrt(std::fabs(poseB(P, nominal).det()));
  auto centre = [&](const Pose& p) {
    return poseB(P, p) * lv[0].centroid + vcVector<2>(p.tx, p.ty);
  };
  auto enoughAbove = [&](double bound) {
    std::vector<vcVector<2>> distinct;
    for (const Found& f : found) {
      if (f.score < bound) continue;
      const vcVector<2> c = centre(f.p);
      bool fresh = true;
      for (const vcVector<2>& d : distinct) fresh = fresh && c.distance(d) >= minSeparation;
      if (fresh) distinct.push_back(c);
    }
    return distinct.size() >= numToFind;
  };
  // When nothing comes near the accept threshold the best candidate is still measured and
  // returned, not accepted, so that a caller can see how far it fell short.
  Found bestRejected;
  bool haveRejected = false;
  for (Found& fd : ranked) {
    const bool first = &fd == &ranked.front();
    if ((fd.score < T.measureOfAccept * accept && !first) ||
        enoughAbove(fd.score + T.measureMargin))
      break;
    P.deadline.check();
    Pose& p = fd.p;
    // The fine fit with algorithm 2, at the look the ranking chose; with algorithm 1 the
    // ranking fit's measures stand, unless it had not converged (from a pose a few pixels off,
    // its iterations may end short of the optimum).
    Grad& g = fd.look.smooth > 0 ? smoothed : scratch;
    const bool plain = fd.look.scale == 0 && fd.look.smooth == 0;
    if (algorithm == 2 || !plain || !fd.st.converged)
      refine(P, pointsOf(fd.look.scale), L0, 0, T.fineIterations, T.fineCapture, p, g, &fd.st,
             fd.look);
    // The sharp scale keeps the coarse points for the clutter measure, as they are fewer; a
    // blurred one measures with its own points, which the coarse ones no longer match.
    fd.clutter = fd.look.scale == 0 ? clutterOf(P, lv[0], L0, p, g, fd.look)
                                    : clutterOf(P, pointsOf(fd.look.scale), L0, p, g, fd.look);
    fd.score = fd.st.score;
    if (params.scoreUsingClutter())
      fd.score = std::max(0.0, fd.score - T.clutterWeight * fd.clutter);
    fd.p.score = fd.score;
    if (fd.score >= T.measureOfAccept * accept)
      found.push_back(std::move(fd));
    else if (!haveRejected || fd.score > bestRejected.score)
      bestRejected = std::move(fd), haveRejected = true;
  }
  if (found.empty() && haveRejected) found.push_back(std::move(bestRejected));
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.score > b.score; });
  return found;
}

}  // namespace vc_gfrun
