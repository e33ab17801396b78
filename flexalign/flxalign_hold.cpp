// What the pieces' own uncertainty does to a result before its final fit: a piece whose edges
// do not fix its position along one direction (a bar, a text line) is held there to where the
// other pieces put it (by information, so across that direction it keeps what it found), and
// a piece found farther from the fit than its uncertainty allows is refused, with the reason in
// its status.

#include <algorithm>
#include <cmath>

#include "flexalign/flxalign_run.h"
#include "platform/core/vcAngle.h"
#include "vcFlexAlignTool.h"

namespace {

using FD = vcFlexAlignDefs;
using ResultHandle = vcPtrHandle<vcFlexSubModelResult>;
using Xf = vcPtrHandle<vc2XformBase>;
using vc_flxalign::isBlank;
using vc_flxalign::subModelOf;
using vc_flxalign::angleHalfWidth;
using vc_flxalign::pieceTranslationUncertainty;

// 3: a piece lying more than 3 sigma (along the line to its prediction) plus what its own
// translation uncertainty and angle zone let it move from where the others put it is refused.
// The uncertainty and zone are what the part's flexibility allows; the sigmas are what its
// edges leave open.
constexpr double kRefuseSigmas = 3.0;
// 8 alternations of "fit, then blend the weak pieces towards the fit" settle the fit in which a
// weak piece counts only where its edges fix it: each pass shrinks the change by about the weak
// pieces' share of the fit, well under a half for any part with one fixed piece.
constexpr int kHoldPasses = 8;
// 0.02 px: least scatter of the pieces about a rigid fit (a rigid part still has its pieces'
// own measurement noise), so a held piece is not pinned on a perfect fit of a few pieces.
constexpr double kFlexFloor = 0.02;

// sigma of a covariance along the unit direction u: sqrt(u^T C u).
double covSigmaAlong(const vcMatrix<2>& c, const vcVector<2>& u) {
  return std::sqrt(std::max(0.0, u.x() * (c(0, 0) * u.x() + c(0, 1) * u.y()) +
                                     u.y() * (c(1, 0) * u.x() + c(1, 1) * u.y())));
}

}  // namespace

void vc_FlexAlignRun::holdWeakPieces_(vcFlexAlignResult& r, const vc2XformBase& startPose,
                                      const vcFlexAlignRunParams& p) const {
  if (p.finalFitMode() == FD::eNone) return;
  const Xf originInverse = arrangement_.origin()->inverseBase();
  const Xf startInverse = startPose.inverseBase();
  // Per piece: its centre in the origin frame, where it was found (start-pose frame, and the
  // held one), its weak direction in that frame, and whether it predicts the others.
  struct Piece {
    std::size_t at;
    vcVector<2> arr, img, held;
    vcMatrix<2> cov;  // its position's covariance in the start-pose frame
    bool isWeak, predicts;
  };
  std::vector<Piece> pieces;
  const vcMatrix<2> toStart = startInverse->linearXform(vcVector<2>(0.0, 0.0)).matrix();
  for (std::size_t i = 0; i < r.subModelResults_.size(); ++i) {
    const long q = r.positionIndices_[i];
    const vcFlexSubModel& s = subModelOf(arrangement_, q);
    if (isBlank(s)) continue;
    const vcFlexSubModelResult& sr = *r.subModelResults_[i];
    const vcVector<2> c = vcFlexSubModelHelper::centerPt(s);
    Piece pc;
    pc.at = i;
    pc.arr =
        originInverse->mapPoint(arrangement_.positions()[static_cast<std::size_t>(q)]->mapPoint(c));
    pc.img = pc.held = startInverse->mapPoint(sr.pose().mapPoint(c));
    pc.cov = toStart * sr.positionCovariance() * toStart.transpose();
    pc.isWeak = sr.positionWeak();
    pc.predicts = p.subModelInstanceParams(q).useForFinalFit();
    pieces.push_back(pc);
  }
  const unsigned long dofs = p.dofData().getEnableFlags() & (1ul | 2ul);
  // The fit through the predicting pieces but `skip`, by their held positions; null when they
  // are too few or the fit fails.
  auto fitWithout = [&](std::size_t skip) -> Xf {
    std::vector<vcVector<2>> a, b;
    for (std::size_t k = 0; k < pieces.size(); ++k)
      if (k != skip && pieces[k].predicts) a.push_back(pieces[k].arr), b.push_back(pieces[k].held);
    if (a.empty()) return Xf();
    try {
      return doLeastSqrsFinalFit(a, b, p.dofMode(), a.size() >= 2 ? dofs : 0ul);
    } catch (const vcException&) {
      return Xf();
    }
  };
  // A weak piece's place is the blend of where it was found and where the others put it, each
  // by its information: held = found + K (predicted - found), K = C (C + F)^-1, with C its own
  // covariance and F = f^2 I the scatter of the fixed pieces about the fit (how much the part
  // flexes, as far as a rigid fit can tell). Along a direction its edges do not fix, C >> F and
  // it takes the prediction; across, C << F and it keeps what it found.
  const bool anyWeak =
      std::any_of(pieces.begin(), pieces.end(), [](const Piece& x) { return x.isWeak; });
  if (anyWeak && pieces.size() >= 2) {
    const int params = 2 + ((dofs & 1ul) ? 1 : 0) + ((dofs & 2ul) ? 1 : 0);
    for (int pass = 0; pass < kHoldPasses; ++pass) {
      const Xf fit = fitWithout(pieces.size());
      if (!fit) break;
      double sum = 0.0;
      int coords = 0;
      for (const Piece& x : pieces)
        if (x.predicts && !x.isWeak)
          sum += (fit->mapPoint(x.arr) - x.held).dot(fit->mapPoint(x.arr) - x.held), coords += 2;
      const double f2 =
          std::max(kFlexFloor * kFlexFloor, coords > params ? sum / (coords - params) : 0.0);
      for (Piece& x : pieces) {
        if (!x.isWeak) continue;
        const vcMatrix<2> S = x.cov + vcMatrix<2>(f2, 0.0, 0.0, f2);
        if (!(S.det() > 0.0)) continue;
        x.held = x.img + x.cov * (S.inverse() * (fit->mapPoint(x.arr) - x.img));
      }
    }
  }
  // A piece found beyond its uncertainty from where the pieces put it is refused, the worst
  // first, and the rest fitted again; at least two others must remain to say where it belongs.
  std::vector<bool> refused(pieces.size(), false);
  std::size_t left = pieces.size();
  while (left >= 3) {
    const Xf fit = fitWithout(pieces.size());
    double worst = 1.0, dist = 0.0, limit = 0.0;
    std::size_t who = pieces.size();
    for (std::size_t k = 0; k < pieces.size(); ++k) {
      if (refused[k]) continue;
      // The fit through all of them: one left out of its own prediction would put on it the
      // others' flexing, which its translation uncertainty allows for but a rigid fit of the
      // rest magnifies.
      if (!fit) continue;
      const vcFlexSubModelResult& sr = *r.subModelResults_[pieces[k].at];
      if (sr.positionCovariance()(0, 0) + sr.positionCovariance()(1, 1) <= 0.0) continue;
      // Distances in client units: the piece's held centre against the others' prediction.
      const vcVector<2> off =
          startPose.mapPoint(pieces[k].held) - startPose.mapPoint(fit->mapPoint(pieces[k].arr));
      const double len = off.len();
      if (len <= 0.0) continue;
      // The piece's own translation uncertainty is how far the part lets it flex; a piece
      // that sets none flexes within the run's.
      const long q = r.positionIndices_[pieces[k].at];
      const vcFlexSubModelRunParams& own = p.subModelInstanceParams(q);
      double allow = pieceTranslationUncertainty(own);
      if (!(allow > 0.0)) allow = std::max(p.xUncertainty(), p.yUncertainty());
      // A piece turned within its angle zone about its origin moves its centre too.
      const vcFlexSubModel& sm = subModelOf(arrangement_, q);
      allow += angleHalfWidth(own) * vcPi / 180.0 * vcFlexSubModelHelper::centerPt(sm).len();
      const double lim =
          kRefuseSigmas * covSigmaAlong(sr.positionCovariance(), off * (1.0 / len)) + allow;
      if (len / lim > worst) worst = len / lim, who = k, dist = len, limit = lim;
    }
    if (who == pieces.size()) break;
    refused[who] = true;
    pieces[who].predicts = false;
    --left;
    const std::size_t at = pieces[who].at;
    const long q = r.positionIndices_[at];
    vcFlexAlignStatus st(vcFlexAlignStatus::eBeyondUncertainty);
    st.score = r.subModelResults_[at]->score();
    st.amount = dist;
    st.threshold = limit;
    if (static_cast<std::size_t>(q) < r.instanceStatus_.size())
      r.instanceStatus_[static_cast<std::size_t>(q)] = st;
  }
  // The held pieces lie where the blend put them.
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    if (refused[k] || !pieces[k].isWeak) continue;
    const vcVector<2> move = startPose.mapPoint(pieces[k].held) - startPose.mapPoint(pieces[k].img);
    ResultHandle& h = r.subModelResults_[pieces[k].at];
    ResultHandle moved = h->clone();
    moved->pose(vc2XformLinear(vcMatrix<2>(), move).composeBase(h->pose()));
    h = moved;
  }
  // The refused ones leave the result; its score loses their share.
  for (std::size_t k = pieces.size(); k-- > 0;) {
    if (!refused[k]) continue;
    const std::size_t at = pieces[k].at;
    const long q = r.positionIndices_[at];
    r.score_ -= static_cast<float>(vcFlexArrangementHelper::subModelFraction(arrangement_, q) *
                                   r.subModelResults_[at]->score());
    r.subModelResults_.erase(r.subModelResults_.begin() + static_cast<std::ptrdiff_t>(at));
    r.positionIndices_.erase(r.positionIndices_.begin() + static_cast<std::ptrdiff_t>(at));
  }
}
