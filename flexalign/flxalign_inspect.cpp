// Inspection of one found part: the run image rectified into the golden model's frame, every
// pixel compared with the model's mean, and the pixels outside tolerance grouped into defects
// (8-connected, at least the model's smallest area), each mapped back into the run image
// through the same deformation that rectified it.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "flexalign/flxalign_footprint.h"
#include "vcFlexInspect.h"

namespace {

using FD = vcFlexAlignDefs;

// The piece a defect lies on: the footprint holding its centroid (the deepest of several is
// not needed: footprints of one part overlap little), else the nearest within this distance.
constexpr double kPieceReach = 8.0;

long pieceAt(const vcFlexAlignDeformation& d, const vcVector<2>& p) {
  long best = -1;
  double nearest = kPieceReach;
  for (std::size_t k = 0; k < d.pieces().size(); ++k) {
    if (d.pieces()[k].blank) continue;
    const double dist = vc_flxalign::footprintDistance(d.pieces()[k].footprint, p);
    if (dist <= nearest) best = static_cast<long>(k), nearest = dist;
    if (dist == 0.0) break;
  }
  return best;
}

}  // namespace

void vcFlexGoldenModel::checkImage_(const vcPelBuffer_const<unsigned char>& image) const {
  if (!isTrained()) throw FD::BadParams("The golden model is not trained");
  if (!image.isBound()) throw FD::BadImage("The runtime image is unbound");
  if (image.width() != imageWidth_ || image.height() != imageHeight_)
    throw FD::BadImage("The image is " + std::to_string(image.width()) + " x " +
                       std::to_string(image.height()) + "; the golden model was trained on " +
                       std::to_string(imageWidth_) + " x " + std::to_string(imageHeight_) +
                       " images");
}

vcFlexInspection vcFlexGoldenModel::inspect(const vcFlexArrangement& arrangement,
                                            const vcFlexAlignResultSet& found,
                                            const vcPelBuffer_const<unsigned char>& image,
                                            bool keepDifference) const {
  checkImage_(image);
  if (!found.results().empty() && found.results()[0].found())
    return inspect(arrangement, found.results()[0], image, keepDifference);
  vcFlexInspection out;
  out.verdict = vcFlexInspection::eNotFound;
  if (!found.results().empty())
    out.reason = found.results()[0].status();
  else if (!found.rejected().empty())
    out.reason = found.rejected()[0].status();
  else
    out.reason = vcFlexAlignStatus(vcFlexAlignStatus::eNoCandidate);
  return out;
}

vcFlexInspection vcFlexGoldenModel::inspect(const vcFlexAlignPattern& pattern,
                                            const vcFlexAlignRunParams& runParams,
                                            const vc2XformBase& startPose,
                                            const vcPelBuffer_const<unsigned char>& image,
                                            bool keepDifference) const {
  checkImage_(image);
  vcFlexAlignResultSet set;
  pattern.run(image, startPose, {}, runParams, set);
  return inspect(pattern.arrangement(), set, image, keepDifference);
}

vcFlexInspection vcFlexGoldenModel::inspect(const vcFlexArrangement& arrangement,
                                            const vcFlexAlignResult& result,
                                            const vcPelBuffer_const<unsigned char>& image,
                                            bool keepDifference) const {
  checkImage_(image);
  const vcFlexAlignDeformation d(result, arrangement);
  if (vfFlexArrangementKey(d) != key_)
    throw FD::BadParams("The golden model was trained with another pattern");
  vcFlexInspection out;
  if (!result.found()) {
    out.verdict = vcFlexInspection::eNotFound;
    out.reason = result.status();
    return out;
  }
  out.reason = vcFlexAlignStatus(vcFlexAlignStatus::eFound);
  vcFlexRectified r = d.rectify(image, params_.rectify);

  // Excess over tolerance per pixel; > 0 marks a pixel outside it.
  const long W = region_.width(), H = region_.height();
  std::vector<float> excess(static_cast<std::size_t>(W * H), 0.0f);
  if (keepDifference) {
    out.difference.rect = region_;
    out.difference.values.assign(excess.size(), 0.0f);
  }
  long inspected = 0;
  for (long y = 0; y < H; ++y) {
    const unsigned char* v = r.image.row(y);
    const unsigned char* ok = r.mask.row(y);
    const std::size_t row = static_cast<std::size_t>(y * W);
    const float* mean = &mean_.values[row];
    const float* tol = &tolerance_.values[row];
    const unsigned char* use = &inspected_[row];
    float* e = &excess[row];
    for (long x = 0; x < W; ++x) {
      if (!(use[x] & ok[x])) continue;
      ++inspected;
      const float diff = static_cast<float>(v[x]) - mean[x];
      e[x] = std::fabs(diff) - tol[x];
      if (keepDifference) out.difference.values[row + std::size_t(x)] = diff;
    }
  }
  out.inspected = inspected;

  // Connected components of the marked pixels, by a stack of pixel indices; a visited pixel's
  // excess is cleared so it is taken once.
  std::vector<long> stack, members;
  const bool flex = !params_.rectify.poseOnly;
  for (long start = 0; start < W * H; ++start) {
    if (!(excess[std::size_t(start)] > 0)) continue;
    members.clear();
    stack.assign(1, start);
    vcFlexDefect defect;
    double worst = excess[std::size_t(start)], sx = 0, sy = 0;
    long worstAt = start;
    excess[std::size_t(start)] = 0;
    while (!stack.empty()) {
      const long i = stack.back();
      stack.pop_back();
      members.push_back(i);
      const long x = i % W, y = i / W;
      sx += double(x), sy += double(y);
      for (long v = std::max(y - 1, 0L); v <= std::min(y + 1, H - 1); ++v)
        for (long u = std::max(x - 1, 0L); u <= std::min(x + 1, W - 1); ++u) {
          const long j = v * W + u;
          const float e = excess[std::size_t(j)];
          if (!(e > 0)) continue;
          if (e > worst) worst = e, worstAt = j;
          excess[std::size_t(j)] = 0;
          stack.push_back(j);
        }
    }
    const long area = static_cast<long>(members.size());
    if (area < params_.minArea) continue;
    defect.area = area;
    defect.excess = worst;
    const std::size_t w = static_cast<std::size_t>(worstAt);
    defect.difference = double(r.image.row(worstAt / W)[worstAt % W]) - mean_.values[w];
    const vcVector<2> origin(double(region_.x()), double(region_.y()));
    defect.nominalCentroid = origin + vcVector<2>(sx / double(area), sy / double(area));
    long x0 = W, y0 = H, x1 = -1, y1 = -1;
    double ix0 = 1e300, iy0 = 1e300, ix1 = -1e300, iy1 = -1e300;
    for (long i : members) {
      const long x = i % W, y = i / W;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      // Where the pixel came from: the pose's point moved by the field.
      const vcVector<2> q =
          d.poseMapPoint(origin + vcVector<2>(double(x), double(y))) +
          vcVector<2>(r.fieldX.values[std::size_t(i)], r.fieldY.values[std::size_t(i)]);
      ix0 = std::min(ix0, q.x()), ix1 = std::max(ix1, q.x());
      iy0 = std::min(iy0, q.y()), iy1 = std::max(iy1, q.y());
    }
    defect.nominalBox = vcPelRect(region_.x() + x0, region_.y() + y0, x1 - x0 + 1, y1 - y0 + 1);
    const long bx0 = std::lround(ix0), by0 = std::lround(iy0);
    defect.box = vcPelRect(bx0, by0, std::lround(ix1) - bx0 + 1, std::lround(iy1) - by0 + 1);
    defect.centroid = flex ? d.mapPoint(defect.nominalCentroid, params_.rectify)
                           : d.poseMapPoint(defect.nominalCentroid);
    defect.piece = pieceAt(d, defect.nominalCentroid);
    out.defects.push_back(defect);
  }
  std::stable_sort(out.defects.begin(), out.defects.end(),
                   [](const vcFlexDefect& a, const vcFlexDefect& b) { return a.area > b.area; });
  out.verdict = out.defects.empty() ? vcFlexInspection::ePass : vcFlexInspection::eFail;
  if (keepDifference) out.rectified = std::move(r);
  return out;
}
