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
  for (const Cand& c : cands) {
    Pose p;
    p.tx = c.x;
    p.ty = c.y;
    p.v = c.v;
    p.score = c.score;
    poses.push_back(p);
    // With part of the pattern hidden, a fit on a coarse level can trade scale for position
    // and settle on a wrong size that outscores the true pose there; a copy held at the grid's
    // size keeps the true pose among the candidates until level 0 frees every DOF.
    if (hasSizeDof && std::size_t(&c - cands.data()) < P.tune.sizeVariety) {
      p.holdSize = true;
      poses.push_back(p);
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
  Grad scratchLevel, spill;
  FitStats levelStats;
  for (int l = topLevel; l >= 1; --l) {
    // Many candidates on a small level: the gradient of the whole level once is cheaper than
    // one window per candidate.
    if (poses.size() * lv[l].size() * T.wholeLevelGradientRatio >
        std::size_t(pyr[l].w) * pyr[l].h) {
      int gx0, gy0;
      scratchLevel.spill = nullptr;
      sobel(pyr[l], 0, 0, pyr[l].w, pyr[l].h, scratchLevel, gx0, gy0);
    } else {
      gradientOverAll(P, lv[l], pyr[l], l, poses,
                      T.levelCapture + std::min(P.elasticity, lv[l].rim) / (1 << l) +
                          T.fitWindowMargin,
                      scratchLevel, spill);
    }
    for (Pose& p : poses) {
      P.deadline.check();
      refine(P, lv[l], pyr[l], l, T.levelIterations, T.levelCapture, p, scratchLevel, &levelStats);
      p.score = levelStats.score;
    }
    std::sort(poses.begin(), poses.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    std::vector<Pose> keep;
    // Sizes searched leave room for the best of each size beside the strongest poses.
    const std::size_t maxKeep = std::max<std::size_t>(
        hasSizeDof ? T.keepWithSizes : T.keepWithoutSizes, T.keepPerFind * numToFind);
    // Far weaker than the best rarely wins further down, and each survivor costs a fit on
    // every level below; with sizes searched, the true size under heavy cover can trail a
    // wrong one by more on the coarse levels.
    const double rel = hasSizeDof ? T.survivalWithSizes : T.survivalWithoutSizes;
    const double floor =
        std::max(T.survivalOfAccept * accept, poses.empty() ? 0.0 : rel * poses[0].score);
    // Candidates that converged within a fraction of this level's pixel are one.
    const double slack = double(1 << (l - 1));
    // The best of each coarse size goes on first, so that variants of one strong wrong-sized
    // pose cannot fill every place.
    std::vector<std::vector<long>> sizesKept;
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
        if (taken[i] || p.score < floor || keep.size() >= maxKeep) continue;
        const std::vector<long> key = sizeKey(p);
        if (pass == 0 && std::find(sizesKept.begin(), sizesKept.end(), key) != sizesKept.end())
          continue;
        bool dup = false;
        for (const Pose& k : keep) dup = dup || sameSolution(P, lv[0].centroid, k, p, slack);
        taken[i] = 1;
        if (dup) continue;
        keep.push_back(p);
        sizesKept.push_back(key);
      }
    std::sort(keep.begin(), keep.end(),
              [](const Pose& a, const Pose& b) { return a.score > b.score; });
    poses.swap(keep);
  }
}

}  // namespace vc_gfrun
