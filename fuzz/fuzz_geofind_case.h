// One Geofind fuzz case: trains Geofind on a small image and runs it on a small scene, with
// every training and run setting taken from the input (now and then any double, NaN and
// infinities included) and the pixels disturbed by the input's remaining bytes. Shared by the
// fuzz target and the tests that replay its reproducers.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engines/geofind/vcGFAlign.h"
#include "fuzz/fuzz_scene.h"

namespace fuzz_geofind {

// Only the library's own exceptions may come out, and every reported pose must be finite.
inline void trainAndRun(FuzzInput& in) {
  vcGFAlignPattern pat;
  pat.ignorePolarity(in.byte() & 1);
  pat.elasticity(in.mostly(0, 4));
  pat.autoSelectGrainLimits(in.byte() & 1);
  pat.grainLimits(static_cast<float>(in.mostly(1, 6)), static_cast<float>(in.mostly(1, 8)));
  pat.origin({in.mostly(-40, 40), in.mostly(-40, 40)});
  pat.trainClientFromPattern(fuzz_scene::poseOf(in, 20));
  const long tw = 24 + in.byte() % 41, th = 24 + in.byte() % 41;
  const double small = 0.2 * std::min(tw, th) / 128.0;
  const vcXform<2> trainPose(vcMatrix<2>(small, 1, vcRadian(0.0), vcRadian(0.0)),
                             {tw / 2.0, th / 2.0});
  const long algorithm = 1 + in.byte() % 3;
  vcPelBuffer<unsigned char> train = fuzz_scene::imageOf(in, tw, th, trainPose);
  pat.train(train, algorithm, nullptr, 0);

  vcGFAlignRunParams rp;
  rp.algorithm(1 + in.byte() % 2);
  rp.acceptThreshold(in.mostly(0, 1));
  rp.contrastThreshold(in.mostly(0, 40));
  rp.scoreUsingClutter(in.byte() & 1);
  rp.numToFind(1 + in.byte() % 4);
  rp.xyOverlap(in.mostly(0, 1));
  rp.saveMatchInfo(in.byte() & 1);
  vcGeorapidDOFList list;
  auto* angle = new vcGeorapidAngle(nullptr, 1);
  list.assign(angle);
  angle->range(static_cast<float>(in.mostly(-180, 0)), static_cast<float>(in.mostly(0, 180)));
  auto* scale = new vcGeorapidScale(list.release(), 1);
  list.assign(scale);
  scale->range(static_cast<float>(in.mostly(0.8, 1)), static_cast<float>(in.mostly(1, 1.25)));
  rp.customizeDOFs(&list);
  const long sw = 32 + in.byte() % 65, sh = 32 + in.byte() % 65;
  vcPelBuffer<unsigned char> scene =
      fuzz_scene::imageOf(in, sw, sh, fuzz_scene::poseOf(in, 10) * trainPose);
  if (in.byte() < 32) scene.clientFromImageXform(fuzz_scene::poseOf(in, 100));
  vcGFAlignResultSet rs;
  pat.run(scene, rp, rs, nullptr, 0);
  for (long i = 0; i < rs.numFound(); ++i) {
    const vcXform<2>& p = rs[i].pose();
    if (!std::isfinite(p.trans().x()) || !std::isfinite(p.trans().y()) ||
        !std::isfinite(p.matrix().det()) || !std::isfinite(rs[i].score()))
      __builtin_trap();
  }
}

}  // namespace fuzz_geofind
