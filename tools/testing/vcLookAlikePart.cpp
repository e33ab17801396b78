#include "tools/testing/vcLookAlikePart.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/core/vcAngle.h"
#include "tools/testing/vcSampleImages.h"

namespace vcTest {

namespace {

constexpr double kPitch = 60.0;
constexpr double kGround = 40.0;

vcXform<2> translation(const vcVector<2>& t) { return vcXform<2>(vcMatrix<2>(), t); }

vcXform<2> turnAbout(const vcVector<2>& c, double deg, const vcVector<2>& shift) {
  const double a = deg * vcPi / 180.0;
  const vcMatrix<2> r(std::cos(a), -std::sin(a), std::sin(a), std::cos(a));
  return vcXform<2>(r, c + shift - r * c);
}

// Piece k about its own centre: a 36 x 28 rectangle, a 6 x 7 notch at one of five places on
// its top edge and a 5 x 5 tooth at one of seven places below its bottom edge (35 variants).
std::vector<vcVector<2>> outline(int k) {
  const double n = -14.0 + 5.0 * (k % 5);
  const double t = -15.0 + 4.5 * ((k / 5) % 7);
  return {{-18, -14}, {n, -14},    {n, -7},     {n + 6, -7}, {n + 6, -14}, {18, -14},
          {18, 14},   {t + 5, 14}, {t + 5, 19}, {t, 19},     {t, 14},      {-18, 14}};
}

vcSampleShape placed(int k, const vcXform<2>& x) {
  std::vector<vcVector<2>> v = outline(k);
  for (vcVector<2>& p : v) p = x.mapPoint(p);
  return vfSamplePolygon(v, 170);
}

}  // namespace

LookAlikePart lookAlikePart(int cols, int rows) {
  LookAlikePart part;
  part.cols = cols, part.rows = rows;
  const int w = static_cast<int>(cols * kPitch + 40), h = static_cast<int>(rows * kPitch + 40);
  part.partCentre = vcVector<2>(w / 2.0, h / 2.0);
  vcSamplePattern all;
  all.background = kGround;
  all.halfSize = std::max(w, h);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const vcVector<2> centre(50 + kPitch * c, 50 + kPitch * r);
      part.centres.push_back(centre);
      all.shapes.push_back(placed(r * cols + c, translation(centre)));
    }
  vcSampleRender train;
  train.width = w;
  train.height = h;
  train.blurSigma = 0.8;
  train.noiseSigma = 1.0;
  part.trainImage = vfRenderSample(all, vcXform<2>(), train);
  std::vector<vcFlexSubModel> subs;
  std::vector<vcPtrHandle_const<vc2XformBase>> places;
  for (std::size_t k = 0; k < part.centres.size(); ++k) {
    const vcVector<2>& c = part.centres[k];
    vcPelBuffer_const<unsigned char> v = part.trainImage;
    v.window(vcPelRect(static_cast<long>(c.x()) - 24, static_cast<long>(c.y()) - 22, 48, 46));
    v.clientFromImageXform(translation(-c));
    subs.emplace_back(v, "piece " + std::to_string(k));
    places.push_back(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(translation(c))));
  }
  part.arrangement = vcFlexArrangement(subs, places);
  part.arrangement.origin(vc2XformLinear(translation(part.partCentre)));
  return part;
}

LookAlikeImage renderLookAlike(const LookAlikePart& part, const LookAlikeScene& scene) {
  LookAlikeImage out;
  std::mt19937 rng(scene.seed);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  vcSamplePattern all;
  all.background = kGround;
  all.halfSize = std::max(scene.width, scene.height);
  auto draw = [&](const vcXform<2>& pose, std::vector<vcXform<2>>& truth) {
    const vcXform<2> fromArrangement = pose * translation(-part.partCentre);
    for (std::size_t k = 0; k < part.centres.size(); ++k) {
      const vcVector<2>& c = part.centres[k];
      const vcXform<2> move = turnAbout(c, scene.maxTurnDeg * U(rng),
                                        {scene.maxShift * U(rng), scene.maxShift * U(rng)});
      truth.push_back(fromArrangement * move * translation(c));
      if (static_cast<int>(k) != scene.hide) all.shapes.push_back(placed(int(k), truth.back()));
    }
  };
  draw(scene.partPose, out.truth);
  if (scene.secondCopy) draw(scene.secondPose, out.secondTruth);
  vcSampleRender r;
  r.width = scene.width;
  r.height = scene.height;
  r.blurSigma = 1.0;
  r.noiseSigma = scene.noiseSigma;
  r.seed = scene.seed;
  out.image = vfRenderSample(all, vcXform<2>(), r);
  return out;
}

vcXform<2> lookAlikePose(const LookAlikePart& part, double deg, double dx, double dy, int width,
                         int height) {
  (void)part;
  return turnAbout({0, 0}, deg, {width / 2.0 + dx, height / 2.0 + dy});
}

vcXform<2> offBy(const vcXform<2>& pose, double deg, double dx, double dy) {
  return translation({dx, dy}) * pose * turnAbout({0, 0}, deg, {0, 0});
}

}  // namespace vcTest
