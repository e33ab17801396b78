// Trains the correlation engine on a small image (with a mask now and then) and runs it on a
// small scene, with every training and run setting taken from the input (now and then any
// double, NaN and infinities included) and the pixels disturbed by the input's remaining
// bytes. Only the library's own exceptions may come out, and every reported pose and score
// must be finite.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engines/correlation/vcPatCor.h"
#include "fuzz/fuzz_scene.h"

namespace {

using fuzz_scene::imageOf;
using fuzz_scene::poseOf;
using Defs = vc_PatCorDefs;

void trainAndRun(FuzzInput& in) {
  vc_PatCorModelU8 model;
  model.sample({in.mostly(1, 6), in.mostly(1, 6)});
  vc_PatCorTrainParams tp;
  tp.algorithms(1 + in.byte() % 3);
  for (long dof : {long(Defs::eAngle), long(Defs::eScale)}) {
    const bool angle = dof == Defs::eAngle;
    tp.step(dof, in.mostly(angle ? 1 : 0.01, angle ? 10 : 0.1), 1);
    tp.step(dof, in.mostly(angle ? 0.1 : 0.005, angle ? 1 : 0.02), 2);
    tp.zoneMaxRange(dof, in.mostly(0, angle ? 30 : 0.2));
    tp.zoneNominal(dof, in.mostly(angle ? -20 : 0.9, angle ? 20 : 1.1));
  }
  tp.zoneAllowed(in.byte() % 4);
  const long tw = 16 + in.byte() % 33, th = 16 + in.byte() % 33;
  const double small = 0.2 * std::min(tw, th) / 128.0;
  const vcXform<2> trainPose(vcMatrix<2>(small, 1, vcRadian(0.0), vcRadian(0.0)),
                             {tw / 2.0, th / 2.0});
  const vcPelBuffer<unsigned char> train = imageOf(in, tw, th, trainPose);
  vcPelBuffer<unsigned char> mask;
  if (in.byte() & 1) {
    mask = vcPelBuffer<unsigned char>(tw, th);
    for (long y = 0; y < th; ++y)
      for (long x = 0; x < tw; ++x) mask.set(x, y, (x + y + in.byte()) % 3 ? 255 : 0);
  }
  model.origin(poseOf(in, 10));
  model.train(train, mask, tp);

  vc_PatCorRunParams rp;
  rp.acceptThreshold(1, in.mostly(-1, 1));
  rp.acceptThreshold(2, in.mostly(-1, 1));
  rp.neighborAcceptThreshold(1, in.mostly(-2, 1));
  rp.numToFind(1 + in.byte() % 4);
  rp.partialMatch(vcPelRect(in.byte() % 8, in.byte() % 8, 1 + in.byte() % 8, 1 + in.byte() % 8));
  rp.uncertainty({in.byte() % 16, in.byte() % 16});
  rp.xyOverlap(in.mostly(0, 1));
  rp.zoneEnable(in.byte() % 4);
  rp.zoneRel(Defs::eAngle, in.mostly(-30, 0), in.mostly(0, 30));
  rp.zoneRel(Defs::eScale, in.mostly(-0.2, 0), in.mostly(0, 0.2));
  rp.zoneOverlap(Defs::eAngle, in.mostly(0, 360));
  if (in.byte() & 1) {
    rp.startPoseType = 1;
    rp.startPose = poseOf(in, 40);
    rp.xyRel({in.mostly(-20, 0), in.mostly(-20, 0)}, {in.mostly(0, 20), in.mostly(0, 20)});
  }
  const long sw = 24 + in.byte() % 57, sh = 24 + in.byte() % 57;
  vcPelBuffer<unsigned char> scene = imageOf(in, sw, sh, poseOf(in, 10) * trainPose);
  if (in.byte() < 32) scene.clientFromImageXform(poseOf(in, 100));
  vc_PatCorResultSet rs;
  model.run(scene, rp, rs);
  for (const vc_PatCorResult& r : rs.results()) {
    const vcXform<2>& p = r.pose();
    if (!std::isfinite(p.trans().x()) || !std::isfinite(p.trans().y()) ||
        !std::isfinite(p.matrix().det()) || !std::isfinite(r.score()))
      __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  try {
    trainAndRun(in);
  } catch (const vcException&) {
  }
  return 0;
}
