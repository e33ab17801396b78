// The sample-data generator, for examples and tests: synthetic images with known poses.
#include <vector>

#include "platform/core/vcAngle.h"
#include "python/py_common.h"
#include "tools/testing/vcFlexSample.h"
#include "tools/testing/vcSampleImages.h"

namespace vcpy {

namespace {

vcXform<2> poseOf(double x, double y, double angleDeg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(angleDeg * vcRadPerDeg)),
                    vcVector<2>(x, y));
}

py::array_t<unsigned char> asymmetric(const py::object& pose, int width, int height, double blur,
                                      double noise, int clutter, std::uint32_t seed) {
  vcSampleRender r;
  r.width = width;
  r.height = height;
  r.blurSigma = blur;
  r.noiseSigma = noise;
  r.clutterShapes = clutter;
  r.seed = seed;
  const vcXform<2> x = toXform(pose, "pose");
  vcPelBuffer<unsigned char> img;
  {
    py::gil_scoped_release nogil;
    img = vfRenderSample(vfSampleAsymmetricPattern(), x, r);
  }
  return toArray(img);
}

py::tuple render(const vcFlexSample& sample, const py::object& partPose, std::uint32_t seed,
                 double noise, int clutter, double maxShift, double maxTurn, int occlude,
                 double blur) {
  // Copied with the GIL held: another thread may change the sample's arrangement meanwhile.
  const vcFlexSample s = sample;
  vcFlexSampleOptions o;
  o.partPose = toXform(partPose, "part_pose");
  o.seed = seed;
  o.noiseSigma = noise;
  o.clutterShapes = clutter;
  o.maxShift = maxShift;
  o.maxTurnDeg = maxTurn;
  o.occludePiece = occlude;
  o.blurSigma = checkedIn(blur, 0, 20, "blur");
  vcFlexSampleImage img;
  {
    py::gil_scoped_release nogil;
    img = vfRenderFlexSample(s, o);
  }
  py::list truth;
  for (const vcXform<2>& t : img.truth) truth.append(fromXform(t));
  return py::make_tuple(toArray(img.image), truth);
}

}  // namespace

void bindSamples(py::module_& m) {
  py::module_ s = m.def_submodule("samples", "Synthetic images with known poses");
  s.def(
      "pose",
      [](double x, double y, double angle, double scale) {
        return fromXform(poseOf(x, y, angle, scale));
      },
      py::arg("x"), py::arg("y"), py::arg("angle") = 0.0, py::arg("scale") = 1.0,
      "2 x 3 pose: turned by angle (degrees) and scaled about the origin, then moved to (x, y)");
  s.def("asymmetric_image", &asymmetric, py::arg("pose"), py::arg("width") = 640,
        py::arg("height") = 480, py::arg("blur") = 1.0, py::arg("noise") = 0.0,
        py::arg("clutter") = 0, py::arg("seed") = 1,
        "A 128 x 128 pattern without symmetries (coordinates -64 to 64) drawn with pose "
        "(pattern coordinates to image pixels) on a dark ground.");

  py::class_<vcFlexSample>(s, "FlexSample",
                           "A part of six sub-models and eight instances, with run images that "
                           "move each piece a little against the others.")
      .def(py::init(&vfMakeFlexSample))
      .def_property_readonly("train_image",
                             [](const vcFlexSample& x) { return toArray(x.trainImage); })
      .def_readonly("arrangement", &vcFlexSample::arrangement)
      .def_readonly("instance_names", &vcFlexSample::instanceNames)
      .def("train_params", &vfFlexSampleTrainParams,
           "Geofind training; the outline sub-models ignore polarity")
      .def(
          "part_pose",
          [](const vcFlexSample& x, double angle, double scale, double dx, double dy) {
            return fromXform(vfFlexSamplePose(x, angle, scale, dx, dy));
          },
          py::arg("angle") = 0.0, py::arg("scale") = 1.0, py::arg("dx") = 0.0, py::arg("dy") = 0.0,
          "Arrangement to image pose of the part centred in a 640 x 480 image, moved by (dx, dy)")
      .def("render", &render, py::arg("part_pose"), py::arg("seed") = 1, py::arg("noise") = 5.0,
           py::arg("clutter") = 6, py::arg("max_shift") = 4.0, py::arg("max_turn") = 3.0,
           py::arg("occlude") = -1, py::arg("blur") = 1.0,
           "(image, truth): truth[k] is instance k's sub-model to image pose as drawn; the "
           "training image has blur 0.8");
}

}  // namespace vcpy
