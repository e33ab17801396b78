// Pyramid tracking: the coarse peaks become poses, and on each level from the coarse one down
// to level 1 every pose is refined by least squares and the level's own score decides which
// go on.
#include <algorithm>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

std::vector<Pose> seedPoses(const Problem& P, const std::vector<Cand>& cands, const DofGrid& grid) {
  bool hasSizeDof = false;
  for (const DofSpec& d : P.dofs) hasSizeDof = hasSizeDof || (!d.fixed && isSizeDof(d));
  std::vector<Pose> poses;
  std::size_t places = 0;
  const Cand* best = nullptr;  // the current place's strongest peak
  for (const Cand& c : cands) {
    if (c.placeBest) ++places, best = &c;
    Pose p;
    p.tx = c.x;
    p.ty = c.y;
    p.v = c.v;
    p.score = c.score;
    // With part of the pattern hidden, a fit on a coarse level can trade scale for position
    // and settle on a wrong size that outscores the true pose there. In the strongest places,
    // a peak of another size than its place's best is tracked held at its grid size and half a
    // grid step either way, and the best one free as well, which keeps the true pose among the
    // candidates until level 0 frees every DOF.
    const bool held = hasSizeDof && places <= P.tune.sizeVariety;
    bool otherSize = false;
    for (std::size_t k = 0; k < P.dofs.size() && best; ++k)
      otherSize = otherSize || (!P.dofs[k].fixed && isSizeDof(P.dofs[k]) && c.v[k] != best->v[k]);
    if (held && otherSize) p.holdSize = true;
    poses.push_back(p);
    if (held && (c.placeBest || otherSize)) {
      if (c.placeBest) {
        p.holdSize = true;
        poses.push_back(p);
      }
      // Half a grid step either way as well: a true size between two grid values is too far
      // from both for a held fit.
      for (double sgn : {-0.5, 0.5}) {
        Pose q = p;
        bool moved = false;
        for (std::size_t k = 0; k < P.dofs.size(); ++k)
          if (!P.dofs[k].fixed && isSizeDof(P.dofs[k])) {
            q.v[k] = std::clamp(p.v[k] + sgn * grid.steps[k], P.dofs[k].low, P.dofs[k].high);
            moved = moved || q.v[k] != p.v[k];
          }
        if (moved) poses.push_back(q);
      }
    }
  }
  return poses;
}

// Least squares on each level, the coarse one first (the grid leaves up to half a step in
// every DOF), and the level's own score decides which candidates go on.
void trackDown(const Problem& P, const std::vector<PatPoints>& lv,
               const std::vector<LevelImage>& pyr, int topLevel, const DofGrid& grid, double accept,
               std::size_t numToFind, std::vector<Pose>& poses) {
  const vc_GFTuning& T = P.tune;
  bool hasSizeDof = false;
  for (const DofSpec& d : P.dofs) hasSizeDof = hasSizeDof || (!d.fixed && isSizeDof(d));
  // Each thread fits its share of the poses with scratch space of its own.
  const std::size_t slots = P.pool ? P.pool->size() : 1;
  std::vector<Grad> scratch(slots);
  std::vector<FitStats> stats(slots);
  for (int l = topLevel; l >= 1; --l) {
    vfParallelFor(P.pool, poses.size(), [&](std::size_t i, unsigned slot) {
      P.deadline.check();
      refine(P, lv[l], pyr[l], l, T.levelIterations, T.levelCapture, poses[i], scratch[slot],
             &stats[slot]);
      poses[i].score = stats[slot].score;
    });
    std::sort(poses.begin(), poses.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    std::vector<Pose> keep;
    // Places (instances) sizes searched leave room for the best of each size beside the
    // strongest; each place carries at most placeVariants poses.
    const std::size_t maxPlaces = std::max<std::size_t>(
        hasSizeDof ? T.keepWithSizes : T.keepWithoutSizes, T.keepPerFind * numToFind);
    // Far weaker than the best rarely wins further down, and each survivor costs a fit on
    // every level below; with sizes searched, the true size under heavy cover can trail a
    // wrong one by more on the coarse levels.
    const double rel = hasSizeDof ? T.survivalWithSizes : T.survivalWithoutSizes;
    const double floor =
        std::max(T.survivalOfAccept * accept, poses.empty() ? 0.0 : rel * poses[0].score);
    // Candidates that converged within a fraction of this level's pixel are one.
    const double slack = double(1 << (l - 1));
    // Poses whose centroids lie closer than the pattern's radius share one place.
    const double placeRadius =
        poses.empty() ? 0.0 : lv[0].rim * std::sqrt(std::fabs(poseB(P, poses[0]).det()));
    // Size-held copies double what a place carries while sizes are searched.
    const std::size_t perPlace = hasSizeDof ? 2 * T.placeVariants : T.placeVariants;
    struct Place {
      vcVector<2> c;
      std::size_t poses = 0;
    };
    std::vector<Place> places;
    auto centre = [&](const Pose& p) {
      return poseB(P, p) * lv[0].centroid + vcVector<2>(p.tx, p.ty);
    };
    // The best of each coarse size of a place goes on first, so that variants of one strong
    // wrong-sized pose cannot fill its place.
    std::vector<std::pair<std::size_t, std::vector<long>>> sizesKept;
    auto sizeKey = [&](const Pose& p) {
      std::vector<long> key;
      for (std::size_t k = 0; k < P.dofs.size(); ++k)
        if (!P.dofs[k].fixed && isSizeDof(P.dofs[k]) && grid.steps[k] > 0)
          key.push_back(std::lround(2 * (p.v[k] - P.dofs[k].low) / grid.steps[k]));
      return key;
    };
    std::vector<std::uint8_t> taken(poses.size(), 0);
    for (int pass = 0; pass < 2; ++pass)
      for (std::size_t i = 0; i < poses.size(); ++i) {
        const Pose& p = poses[i];
        if (taken[i] || p.score < floor) continue;
        const vcVector<2> c = centre(p);
        std::size_t at = places.size();
        for (std::size_t j = 0; j < places.size() && at == places.size(); ++j)
          if (places[j].c.distance(c) <= placeRadius) at = j;
        if (at == places.size() ? places.size() >= maxPlaces : places[at].poses >= perPlace)
          continue;
        const std::pair<std::size_t, std::vector<long>> key{at, sizeKey(p)};
        if (pass == 0 && std::find(sizesKept.begin(), sizesKept.end(), key) != sizesKept.end())
          continue;
        bool dup = false;
        for (const Pose& k : keep) dup = dup || sameSolution(P, lv[0].centroid, k, p, slack);
        taken[i] = 1;
        if (dup) continue;
        if (at == places.size()) places.push_back({c, 0});
        ++places[at].poses;
        keep.push_back(p);
        sizesKept.push_back(key);
      }
    std::sort(keep.begin(), keep.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    poses.swap(keep);
    // A single candidate needs no level to tell it from others: from level 2 down it goes to
    // level 0's fit, whose capture holds what the levels between would sharpen.
    if (poses.size() == 1 && l <= T.singleCandidateLevel) break;
  }
}

}  // namespace vc_gfrun
