#include "tools/cli/vcCliExample.h"

#include <cmath>

#include "platform/core/vcException.h"
#include "platform/display/vc2Wireframe.h"
#include "tools/io/vcPose.h"

namespace {

using nlohmann::json;

json pose(const vcXform<2>& x) {
  return {{"x", x.trans().x()},
          {"y", x.trans().y()},
          {"angle", vfPoseAngle(x)},
          {"scale", vfPoseScale(x)}};
}

// A mask as a file must cover the training image: its window's pixels at their place, the
// rest left out (zero).
vcPelBuffer<unsigned char> fullMask(const vcPelBuffer_const<unsigned char>& mask, long w, long h) {
  vcPelBuffer<unsigned char> out(w, h);
  const vcPelRect r = mask.window();
  for (long y = 0; y < r.height(); ++y)
    for (long x = 0; x < r.width(); ++x)
      if (r.x() + x >= 0 && r.x() + x < w && r.y() + y >= 0 && r.y() + y < h)
        out.set(r.x() + x, r.y() + y, mask.get(x, y));
  return out;
}

}  // namespace

vcCliExample vfSampleExample(const vcFlexSample& s) {
  vcCliExample ex;
  json& d = ex.description;
  d["trainImage"] = "train.png";
  ex.images["train.png"] = vfPelCopy(s.trainImage);
  d["origin"] = {s.partCentre.x(), s.partCentre.y()};
  const vcFlexArrangement& a = s.arrangement;
  for (const vcFlexSubModel& m : a.subModels()) {
    json j;
    j["name"] = m.name();
    j["engine"] = "geofind";
    if (m.modelType() == vcFlexModelDefs::eBlank) {
      j["kind"] = "blank";
    } else if (m.modelType() == vcFlexModelDefs::eSynthetic) {
      j["kind"] = "wireframe";
      for (const vc2Wireframe& w : m.shapes()) {
        json pts = json::array();
        for (long i = 0; i < w.numVertices(); ++i)
          pts.push_back({w.vertex(i).x(), w.vertex(i).y()});
        j["shapes"].push_back({{"closed", w.closed()}, {"points", pts}});
      }
    } else {
      const vcPelRect r = m.image().window();
      // The sample centres each image sub-model by a pure shift of the training pixels.
      const vcXform<2> c = m.clientFromImage()->linearXform({0, 0}).xform();
      j["region"] = {r.x(), r.y(), r.width(), r.height()};
      j["centre"] = {-c.trans().x(), -c.trans().y()};
      if (m.mask().isBound()) {
        j["kind"] = "masked";
        const std::string file = m.name() + "-mask.png";
        j["mask"] = file;
        // The region's own size is enough.
        vcPelBuffer<unsigned char> mask =
            fullMask(m.mask(), s.trainImage.width(), s.trainImage.height());
        mask.window(r);
        ex.images[file] = vfPelCopy(mask);
      } else {
        j["kind"] = "image";
      }
    }
    // The key is placed three times; the demo hides one, which the part must not do without.
    if (m.name() == "key") j["run"] = {{"required", true}};
    d["subModels"].push_back(j);
  }
  for (std::size_t i = 0; i < a.positions().size(); ++i)
    d["instances"].push_back(
        {{"subModel", a.subModels()[std::size_t(a.subModelIndices()[i])].name()},
         {"pose", pose(a.positions()[i]->linearXform({0, 0}).xform())}});
  // The part anywhere in the 640 x 480 images, turned up to 15 degrees, from 0.55 to 1.1
  // times its size, up to two copies.
  const vcXform<2> start = vfFlexSamplePose(s, 0, 1);
  d["run"] = {
      {"start", pose(start)},
      {"numToFind", 2},
      {"strategy", "locallyFixtured"},
      {"xyUncertainty", {320, 240}},
      {"angle", {-15, 15}},
      {"scale", {0.55, 1.1}},
      {"subModels", {{"acceptThreshold", 0.6}, {"xyUncertainty", {6, 6}}, {"angle", {-4, 4}}}}};
  return ex;
}
