// The two pattern-location engines as rigid pattern finders: train from an image (and mask),
// find over angle and scale ranges. A result's pose maps training-image pixels to run-image
// pixels; x, y is where it puts the pattern's origin (by default the training image's centre).
#include <mutex>
#include <vector>

#include "engines/correlation/vcPatCor.h"
#include "engines/geofind/vcGFAlign.h"
#include "python/py_common.h"

namespace vcpy {

namespace {

struct FinderResult {
  double x = 0, y = 0, angle = 0, scale = 1, score = 0;
  vcXform<2> pose;
};

FinderResult makeResult(const vcXform<2>& pose, double score, const vcVector<2>& origin) {
  const vcVector<2> at = pose.mapPoint(origin);
  return {at.x(), at.y(), angleDeg(pose), pose.matrix().scale(), score, pose};
}

vcVector<2> originOr(const std::optional<Range>& origin,
                     const vcPelBuffer_const<unsigned char>& img) {
  return origin ? checkedPoint(*origin, "origin")
                : vcVector<2>(img.width() / 2.0, img.height() / 2.0);
}

// The search settings of find, checked before the finder's lock is taken.
struct FindSettings {
  Range angle, scale;
  long numToFind;
  double acceptThreshold;
};
FindSettings findSettings(Range angle, Range scale, long numToFind, double acceptThreshold) {
  return {angleRange(angle, "angle"), scaleRange(scale, "scale"),
          atLeastOne(numToFind, "num_to_find"),
          checkedIn(acceptThreshold, 0, 1, "accept_threshold")};
}

vcPelBuffer_const<unsigned char> maskFor(const py::object& mask,
                                         const vcPelBuffer_const<unsigned char>& img) {
  if (mask.is_none()) return {};
  vcPelBuffer<unsigned char> m = imageCopy(mask, "mask");
  if (m.width() != img.width() || m.height() != img.height())
    throw py::value_error("mask must have the image's shape");
  return m;
}

void requireTrained(bool trained) {
  if (!trained) throw py::value_error("the finder is not trained");
}

// Runs on one finder are serialised: a finder is one object, and the engines do not promise
// that one pattern may run on two threads at once.
class GeofindFinder {
 public:
  void train(const py::object& image, const py::object& mask, std::optional<Range> origin,
             bool ignorePolarity, const py::object& channels) {
    const vcPelBuffer<unsigned char> img = imageCopy(image, "image", channels);
    const vcPelBuffer_const<unsigned char> m = maskFor(mask, img);
    const vcVector<2> at = originOr(origin, img);
    // The lock is taken and given back without the GIL, so that no thread holds one of them
    // while waiting for the other.
    py::gil_scoped_release nogil;
    vcGFAlignPattern p;
    p.ignorePolarity(ignorePolarity);
    if (m.isBound())
      p.train(img, m, 2, nullptr, 0);
    else
      p.train(img, 2, nullptr, 0);
    std::lock_guard<std::mutex> lock(mu_);
    pattern_ = p;
    origin_ = at;
  }

  std::vector<FinderResult> find(const py::object& image, Range angle, Range scale, long numToFind,
                                 double acceptThreshold, double contrastThreshold,
                                 const py::object& channels) {
    const vcPelBuffer_const<unsigned char> img = imageView(image, "image", channels);
    const FindSettings f = findSettings(angle, scale, numToFind, acceptThreshold);
    vcGFAlignRunParams rp;
    rp.numToFind(f.numToFind);
    rp.acceptThreshold(f.acceptThreshold);
    rp.contrastThreshold(checkedIn(contrastThreshold, 0, 255, "contrast_threshold"));
    vcGeorapidDOFList dofs;
    auto* a = new vcGeorapidAngle(nullptr, 1);
    a->range(angle.first, angle.second);
    a->overlap(360.0f);
    auto* s = new vcGeorapidScale(a, 1);
    s->range(scale.first, scale.second);
    s->overlap(1.4f);
    dofs.assign(s);
    rp.customizeDOFs(&dofs);
    vcGFAlignResultSet rs;
    vcVector<2> origin;
    bool trained = false;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      trained = pattern_.isTrained();
      if (trained) pattern_.run(img, rp, rs, nullptr, 0);
      origin = origin_;
    }
    requireTrained(trained);
    std::vector<FinderResult> out;
    for (const vcGFAlignResult& r : rs.results())
      if (r.accepted()) out.push_back(makeResult(r.pose(), r.score(), origin));
    return out;
  }

  bool trained() {
    py::gil_scoped_release nogil;  // a find on another thread may hold the lock a while
    std::lock_guard<std::mutex> lock(mu_);
    return pattern_.isTrained();
  }

  // What the trained edges fix, as numbers (directions in degrees in the training image, sigmas
  // per pixel of edge noise), and the training's warnings.
  py::dict constraints() {
    vc_GFConstraints c;
    bool trained;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      trained = pattern_.isTrained();
      if (trained) c = pattern_.constraints();
    }
    requireTrained(trained);
    py::dict d;
    d["strong_direction"] = c.strongDirection();
    d["weak_direction"] = c.weakDirection();
    d["strong_sigma"] = c.strongSigma();
    d["weak_sigma"] = c.weakSigma();
    d["weak_share"] = c.weakShare();
    d["angle_sigma"] = c.angleSigma();
    d["symmetry"] = c.symmetry;
    return d;
  }
  std::vector<std::string> trainingWarnings() {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    return pattern_.trainingWarnings();
  }

 private:
  vcGFAlignPattern pattern_;
  vcVector<2> origin_;
  std::mutex mu_;
};

class CorrelationFinder {
 public:
  void train(const py::object& image, const py::object& mask, std::optional<Range> origin,
             double maxAngle, double maxScale, bool fine, const py::object& channels) {
    const vcPelBuffer<unsigned char> img = imageCopy(image, "image", channels);
    const vcPelBuffer_const<unsigned char> m = maskFor(mask, img);
    checkedIn(maxAngle, 0, kMaxAngle, "max_angle");
    checkedIn(maxScale, 0, 0.999, "max_scale");
    vc_PatCorTrainParams tp;
    tp.algorithms(fine ? vc_PatCorDefs::eFine : vc_PatCorDefs::eCoarse);
    unsigned long zones = 0;
    if (maxAngle > 0) zones |= vc_PatCorDefs::eAngleBit;
    if (maxScale > 0) zones |= vc_PatCorDefs::eScaleBit;
    tp.zoneAllowed(zones);
    if (maxAngle > 0) tp.zoneMaxRange(vc_PatCorDefs::eAngle, maxAngle);
    if (maxScale > 0) tp.zoneMaxRange(vc_PatCorDefs::eScale, maxScale);
    const vcVector<2> at = originOr(origin, img);
    py::gil_scoped_release nogil;
    vc_PatCorModelU8 model;
    model.train(img, m, tp);
    std::lock_guard<std::mutex> lock(mu_);
    model_ = model;
    origin_ = at;
  }

  std::vector<FinderResult> find(const py::object& image, Range angle, Range scale, long numToFind,
                                 double acceptThreshold, const py::object& channels) {
    const vcPelBuffer_const<unsigned char> img = imageView(image, "image", channels);
    const FindSettings f = findSettings(angle, scale, numToFind, acceptThreshold);
    angle = f.angle;
    scale = f.scale;
    vc_PatCorRunParams rp;
    rp.numToFind(f.numToFind);
    rp.acceptThreshold(vc_PatCorDefs::eCoarse, f.acceptThreshold);
    rp.acceptThreshold(vc_PatCorDefs::eFine, f.acceptThreshold);
    unsigned long zones = 0;
    if (angle.first != 0 || angle.second != 0) {
      zones |= vc_PatCorDefs::eAngleBit;
      rp.zoneRel(vc_PatCorDefs::eAngle, angle.first, angle.second);
    }
    if (scale.first != 1 || scale.second != 1) {
      zones |= vc_PatCorDefs::eScaleBit;
      rp.zoneRel(vc_PatCorDefs::eScale, scale.first - 1, scale.second - 1);
    }
    rp.zoneEnable(zones);
    vc_PatCorResultSet rs;
    vcVector<2> origin;
    bool trained = false;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      trained = model_.isTrained();
      if (trained) model_.run(img, rp, rs);
      origin = origin_;
    }
    requireTrained(trained);
    std::vector<FinderResult> out;
    for (const vc_PatCorResult& r : rs.results())
      out.push_back(makeResult(r.pose(), r.score(), origin));
    return out;
  }

  bool trained() {
    py::gil_scoped_release nogil;  // a find on another thread may hold the lock a while
    std::lock_guard<std::mutex> lock(mu_);
    return model_.isTrained();
  }

 private:
  vc_PatCorModelU8 model_;
  vcVector<2> origin_;
  std::mutex mu_;
};

}  // namespace

void bindEngines(py::module_& m) {
  py::class_<FinderResult>(m, "FinderResult", "One match of a rigid pattern finder.")
      .def_readonly("x", &FinderResult::x, "where the pose puts the pattern's origin")
      .def_readonly("y", &FinderResult::y)
      .def_readonly("angle", &FinderResult::angle, "degrees")
      .def_readonly("scale", &FinderResult::scale)
      .def_readonly("score", &FinderResult::score, "0 to 1")
      .def_property_readonly(
          "pose", [](const FinderResult& r) { return fromXform(r.pose); },
          "2 x 3: training-image pixels to run-image pixels")
      .def("__repr__", [](const FinderResult& r) {
        return py::str("FinderResult(x={:.3f}, y={:.3f}, angle={:.3f}, scale={:.4f}, score={:.3f})")
            .format(r.x, r.y, r.angle, r.scale, r.score);
      });

  py::class_<GeofindFinder>(m, "GeofindFinder", "Geometric (edge-based) rigid pattern finder.")
      .def(py::init<>())
      .def("train", &GeofindFinder::train, py::arg("image"), py::arg("mask") = py::none(),
           py::arg("origin") = py::none(), py::arg("ignore_polarity") = false,
           py::arg("channels") = py::none(),
           "Trains from a uint8 image; mask pixels of 0 are left out. origin (x, y) in "
           "training pixels is the point results report (default: the image's centre); "
           "channels: a colour image's channel order ('RGB', 'BGR').")
      .def("find", &GeofindFinder::find, py::arg("image"), py::arg("angle") = Range(0, 0),
           py::arg("scale") = Range(1, 1), py::arg("num_to_find") = 1,
           py::arg("accept_threshold") = 0.5, py::arg("contrast_threshold") = 10.0,
           py::arg("channels") = py::none(),
           "Matches best first over angle (degrees) and scale ranges (low, high).")
      .def_property_readonly("trained", &GeofindFinder::trained)
      .def_property_readonly(
          "constraints", &GeofindFinder::constraints,
          "what the trained edges fix: strong_direction and weak_direction (degrees in the "
          "training image), strong_sigma and weak_sigma (1-sigma position error along each per "
          "pixel of edge noise), weak_share (0: edges all one way .. 1: every way alike), "
          "angle_sigma (degrees per pixel of edge noise; inf without leverage) and symmetry (n: "
          "angle defined modulo 360/n; 1 none; 0 round)")
      .def_property_readonly("training_warnings", &GeofindFinder::trainingWarnings,
                             "what training warns of the edges: a direction they barely fix, "
                             "a round or an n-fold symmetric pattern");

  py::class_<CorrelationFinder>(m, "CorrelationFinder", "Normalized-correlation pattern finder.")
      .def(py::init<>())
      .def("train", &CorrelationFinder::train, py::arg("image"), py::arg("mask") = py::none(),
           py::arg("origin") = py::none(), py::arg("max_angle") = 0.0, py::arg("max_scale") = 0.0,
           py::arg("fine") = true, py::arg("channels") = py::none(),
           "Trains from a uint8 image. max_angle (degrees) and max_scale (relative) bound the "
           "angle and scale ranges later runs may search.")
      .def("find", &CorrelationFinder::find, py::arg("image"), py::arg("angle") = Range(0, 0),
           py::arg("scale") = Range(1, 1), py::arg("num_to_find") = 1,
           py::arg("accept_threshold") = 0.5, py::arg("channels") = py::none(),
           "Matches best first over angle (degrees) and scale ranges (low, high).")
      .def_property_readonly("trained", &CorrelationFinder::trained);
}

}  // namespace vcpy
