// The FlexAlign pattern: training, runs, results, and archives as bytes, files and pickles.
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "python/py_common.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

namespace {

vcXform<2> linearOf(const vc2XformBase& x) { return x.linearXform(vcVector<2>(0, 0)).xform(); }

// One instance of the arrangement in one result. A piece that was not found reports where the
// fitted part pose puts it.
struct InstanceResult {
  long index = 0;
  std::string name;
  bool found = false;
  double score = 0;
  vcXform<2> pose;  // sub-model coordinates to image pixels
};

struct PartResult {
  bool found = false;
  double score = 0;
  vcXform<2> pose;  // the arrangement origin's frame to image pixels (linear part at its origin)
  vcVector<2> location;
  std::vector<std::string> info;
  std::vector<InstanceResult> instances;
};

struct RunResults {
  double time = 0;
  std::vector<PartResult> results;
};

PartResult convert(const vcFlexAlignResult& r, const vcFlexArrangement& a) {
  PartResult out;
  out.found = r.found();
  out.score = r.score();
  out.pose = linearOf(r.pose());
  out.location = r.location();
  out.info = r.infoStrings();
  const std::size_t n = a.subModelIndices().size();
  const vcPtrHandle<vc2XformBase> fromArrangement =
      r.pose().composeBase(*a.origin()->inverseBase());
  out.instances.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    InstanceResult& ir = out.instances[k];
    ir.index = static_cast<long>(k);
    ir.name = a.subModels()[static_cast<std::size_t>(a.subModelIndices()[k])].name();
    ir.pose = linearOf(*fromArrangement->composeBase(*a.positions()[k]));
  }
  for (std::size_t i = 0; i < r.positionIndices().size(); ++i) {
    InstanceResult& ir = out.instances[static_cast<std::size_t>(r.positionIndices()[i])];
    const vcFlexSubModelResult& s = *r.subModelResults()[i];
    ir.found = true;
    ir.score = s.score();
    ir.pose = linearOf(s.pose());
  }
  return out;
}

[[noreturn]] void raiseOSError(const std::string& text) {
  PyErr_SetString(PyExc_OSError, text.c_str());
  throw py::error_already_set();
}

// A pattern with a lock: runs of one pattern must not overlap (a run sets and restores state
// of its correlation models), so concurrent Python calls on one object take turns.
class Pattern {
 public:
  Pattern() = default;
  Pattern(const Pattern& o) : p_(o.locked_()) {}

  void train(const vcFlexArrangement& a, const vcFlexAlignTrainParams& params) {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    p_.train(a, params);
  }

  RunResults run(const py::object& image, const py::object& startPose,
                 const vcFlexAlignRunParams& params, const py::object& mask,
                 const std::vector<std::pair<double, double>>& fixtures) const {
    const vcPelBuffer_const<unsigned char> img = imageView(image, "image");
    vcPelBuffer_const<unsigned char> m;
    if (!mask.is_none()) {
      m = imageView(mask, "mask");
      if (m.width() != img.width() || m.height() != img.height())
        throw py::value_error("mask must have the image's shape");
    }
    const vc2XformLinear start(startPose.is_none() ? vcXform<2>()
                                                   : toXform(startPose, "start_pose"));
    std::vector<vcVector<2>> fix;
    for (const auto& [x, y] : fixtures) fix.emplace_back(x, y);
    vcFlexAlignResultSet rs;
    RunResults out;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      if (m.isBound())
        p_.run(img, m, start, fix, params, rs);
      else
        p_.run(img, start, fix, params, rs);
      out.time = rs.time();
      for (const vcFlexAlignResult& r : rs.results())
        out.results.push_back(convert(r, p_.arrangement()));
    }
    return out;
  }

  bool trained() const { return locked_().isTrained(); }
  vcFlexArrangement arrangement() const { return locked_().arrangement(); }

  py::bytes toBytes() const {
    vcArchive ar;
    vcFlexAlignPattern copy = locked_();
    ar || copy;
    return py::bytes(reinterpret_cast<const char*>(ar.bytes().data()), ar.bytes().size());
  }
  static Pattern fromBytes(const py::bytes& b) {
    const std::string_view s = b;
    vcArchive ar(std::vector<std::uint8_t>(s.begin(), s.end()));
    Pattern p;
    ar || p.p_;
    return p;
  }

  void save(const std::string& path) const {
    const std::string b = toBytes();
    std::ofstream f(path, std::ios::binary);
    if (!f.write(b.data(), static_cast<std::streamsize>(b.size())) || !f.flush())
      raiseOSError(path + ": cannot write the file");
  }
  static Pattern load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) raiseOSError(path + ": cannot open the file");
    const std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return fromBytes(py::bytes(b));
  }

  bool operator==(const Pattern& o) const { return locked_() == o.locked_(); }

 private:
  vcFlexAlignPattern locked_() const {
    std::lock_guard<std::mutex> lock(mu_);
    return p_;
  }
  vcFlexAlignPattern p_;
  mutable std::mutex mu_;
};

py::object angleOf(const vcXform<2>& x) { return py::float_(angleDeg(x)); }

}  // namespace

void bindPattern(py::module_& m) {
  py::class_<InstanceResult>(m, "InstanceResult", "One instance (placed sub-model) of a result.")
      .def_readonly("index", &InstanceResult::index, "the instance position in the arrangement")
      .def_readonly("name", &InstanceResult::name, "its sub-model's name")
      .def_readonly("found", &InstanceResult::found)
      .def_readonly("score", &InstanceResult::score, "0 to 1; 0 when not found")
      .def_property_readonly(
          "pose", [](const InstanceResult& r) { return fromXform(r.pose); },
          "2 x 3: sub-model coordinates to image pixels; for a piece not found, where the part "
          "pose places it")
      .def_property_readonly("x", [](const InstanceResult& r) { return r.pose.trans().x(); })
      .def_property_readonly("y", [](const InstanceResult& r) { return r.pose.trans().y(); })
      .def_property_readonly("angle", [](const InstanceResult& r) { return angleOf(r.pose); })
      .def_property_readonly("scale",
                             [](const InstanceResult& r) { return r.pose.matrix().scale(); })
      .def("__repr__", [](const InstanceResult& r) {
        return py::str("InstanceResult({}, found={}, x={:.3f}, y={:.3f}, score={:.3f})")
            .format(r.name, r.found, r.pose.trans().x(), r.pose.trans().y(), r.score);
      });

  py::class_<PartResult>(m, "Result", "One found part.")
      .def_readonly("found", &PartResult::found, "False when a required instance is missing")
      .def_readonly("score", &PartResult::score, "0 to 1")
      .def_property_readonly(
          "pose", [](const PartResult& r) { return fromXform(r.pose); },
          "2 x 3: the arrangement origin's frame to image pixels (the fitted part pose)")
      .def_property_readonly("x", [](const PartResult& r) { return r.location.x(); })
      .def_property_readonly("y", [](const PartResult& r) { return r.location.y(); })
      .def_property_readonly("angle", [](const PartResult& r) { return angleOf(r.pose); })
      .def_property_readonly("scale", [](const PartResult& r) { return r.pose.matrix().scale(); })
      .def_readonly("info", &PartResult::info, "why a result is not found")
      .def_readonly("instances", &PartResult::instances, "every instance, in arrangement order");

  py::class_<RunResults>(m, "ResultSet")
      .def_readonly("time", &RunResults::time, "run time, seconds")
      .def_readonly("results", &RunResults::results, "best first")
      .def("__len__", [](const RunResults& r) { return r.results.size(); })
      .def("__getitem__", [](const RunResults& r, long i) {
        if (i < 0) i += static_cast<long>(r.results.size());
        if (i < 0 || i >= static_cast<long>(r.results.size()))
          throw py::index_error("result index out of range");
        return r.results[static_cast<std::size_t>(i)];
      });

  py::class_<Pattern>(m, "Pattern",
                      "A FlexAlign pattern: trained from an arrangement, run on images.")
      .def(py::init<>())
      .def("train", &Pattern::train, py::arg("arrangement"),
           py::arg("params") = vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()))
      .def("run", &Pattern::run, py::arg("image"), py::arg("start_pose") = py::none(),
           py::arg("params") = vcFlexAlignRunParams(vcFlexSubModelGfndRunParams()),
           py::arg("mask") = py::none(),
           py::arg("fixtures") = std::vector<std::pair<double, double>>(),
           "start_pose (2 x 3): arrangement coordinates to image pixels where the part is "
           "expected (default: identity).")
      .def_property_readonly("trained", &Pattern::trained)
      .def_property_readonly("arrangement", &Pattern::arrangement)
      .def("to_bytes", &Pattern::toBytes)
      .def_static("from_bytes", &Pattern::fromBytes, py::arg("data"))
      .def("save", &Pattern::save, py::arg("path"))
      .def_static("load", &Pattern::load, py::arg("path"))
      .def("__copy__", [](const Pattern& p) { return Pattern(p); })
      .def("__deepcopy__", [](const Pattern& p, py::dict) { return Pattern(p); })
      .def(py::self == py::self)
      .def(py::pickle([](const Pattern& p) { return p.toBytes(); },
                      [](const py::bytes& b) { return Pattern::fromBytes(b); }));
}

}  // namespace vcpy
