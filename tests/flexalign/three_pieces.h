// A part of three distinct pieces laid out in an L, drawn into noisy images with each piece
// moved a little, for the run tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/core/vcAngle.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlignTool.h"

namespace vcTestThree {

using FD = vcFlexAlignDefs;
using Xf = vcPtrHandle_const<vc2XformBase>;

// Sub-model client coordinates are training-image pixels; the pattern's centre is at (48, 48).
inline const vcXform<2> kTrainPose(vcMatrix<2>(0.6, 0, 0, 0.6), vcVector<2>(48, 48));

inline vcXform<2> rigid(double x, double y, double deg) {
  const double a = deg * vcPi / 180.0;
  return vcXform<2>(vcMatrix<2>(std::cos(a), -std::sin(a), std::sin(a), std::cos(a)),
                    vcVector<2>(x, y));
}

struct Scene {
  std::vector<vcSamplePattern> patterns;
  std::vector<vcXform<2>> nominal;  // arrangement from sub-model, per instance
  vcFlexArrangement arrangement;
};

// Three distinct pieces laid out in an L.
inline Scene scene() {
  Scene s;
  s.patterns = {vfSampleAsymmetricPattern(), vfSampleSquarePattern(), vfSampleRectanglePattern()};
  s.nominal = {rigid(0, 0, 0), rigid(130, 0, 0), rigid(0, 120, 0)};
  std::vector<vcFlexSubModel> subs;
  std::vector<Xf> positions;
  vcSampleRender train;
  train.width = train.height = 96;
  for (std::size_t k = 0; k < s.patterns.size(); ++k) {
    subs.emplace_back(vfRenderSample(s.patterns[k], kTrainPose, train), "piece");
    positions.push_back(new vc2XformLinear(s.nominal[k]));
  }
  s.arrangement = vcFlexArrangement(subs, positions);
  return s;
}

// The part under `part` (arrangement to image), piece k further moved by moves[k] in
// arrangement coordinates; `hide` skips a piece. Returns the true client poses of the pieces.
inline std::vector<vcXform<2>> render(const Scene& s, const vcXform<2>& part,
                                      const std::vector<vcXform<2>>& moves,
                                      vcPelBuffer<unsigned char>& img, int hide = -1) {
  std::vector<vcXform<2>> truth;
  vcSampleRender opt;
  opt.blurSigma = 0.8;
  for (std::size_t k = 0; k < s.patterns.size(); ++k) {
    truth.push_back(part * moves[k] * s.nominal[k]);
    if (static_cast<int>(k) == hide) continue;
    const vcPelBuffer<unsigned char> piece =
        vfRenderSample(s.patterns[k], truth[k] * kTrainPose, opt);
    for (long y = 0; y < img.height(); ++y)
      for (long x = 0; x < img.width(); ++x)
        img.row(y)[x] = std::max(img.row(y)[x], piece.get(x, y));
  }
  return truth;
}

inline vcPelBuffer<unsigned char> blankImage(std::uint32_t seed) {
  vcPelBuffer<unsigned char> img(640, 480);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 3.0);
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x)
      img.row(y)[x] = static_cast<unsigned char>(std::clamp(40.0 + noise(rng), 0.0, 255.0));
  return img;
}

inline vcFlexAlignRunParams runParams(FD::RunStrategy strategy) {
  vcFlexSubModelGfndRunParams sub;
  sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4.0, 4.0);
  sub.xyUncertainty(5.0, 5.0);
  vcFlexAlignRunParams rp(sub);
  rp.runStrategy(strategy);
  rp.xyUncertainty(25.0, 25.0);
  rp.zoneEnable(FD::eAngle);
  rp.zoneRelStandard(FD::eAngle, -10.0, 10.0);
  return rp;
}

inline vcFlexAlignPattern trained(const Scene& s) {
  vcFlexAlignPattern pat;
  pat.train(s.arrangement, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  return pat;
}

}  // namespace vcTestThree
