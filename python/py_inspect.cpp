// GoldenModel and Inspection: a golden model trained from good images with a Pattern, saved and
// loaded as the command's golden model file, and the inspection of one image, whose record is
// the one `flexalign inspect run --json` prints.
#include <mutex>
#include <string>

#include "platform/core/vcException.h"
#include "python/py_common.h"
#include "python/py_results.h"
#include "tools/io/vcGoldenFile.h"
#include "tools/io/vcImageFile.h"

namespace vcpy {

namespace {

// One image's inspection as Python sees it: the record's fields, and the difference image
// when asked for.
struct Inspection {
  nlohmann::json record;
  py::object difference = py::none();
  std::string verdict() const { return record["verdict"]; }
  bool found() const { return record["found"]; }
  py::object reason() const {
    return record.contains("reason") ? py::object(py::str(record["reason"].get<std::string>()))
                                     : py::object(py::none());
  }
  py::object defects() const { return toPython(record["defects"]); }
  py::object toDict(const std::string& image) const {
    nlohmann::json j = record;
    j["image"] = image;
    return toPython(j);
  }
};

py::array_t<float> fieldArray(const vcFlexFieldImage& f) {
  py::array_t<float> a({f.rect.height(), f.rect.width()});
  std::copy(f.values.begin(), f.values.end(), a.mutable_data());
  return a;
}

vcPelBuffer<unsigned char> imageArg(const py::handle& obj, const char* what) {
  if (py::isinstance<py::str>(obj) || py::hasattr(obj, "__fspath__")) {
    const std::string path = py::module_::import("os").attr("fspath")(obj).cast<std::string>();
    checkedPath(path);
    try {
      return vfReadImage(path);
    } catch (const vcBadParams& e) {
      raiseOSError(e.what());
    }
  }
  return imageCopy(obj, what);
}

// Runs of one pattern must not overlap: calls on one model take turns.
class GoldenModel {
 public:
  GoldenModel() = default;
  GoldenModel(const GoldenModel& o) {
    std::lock_guard<std::mutex> lock(o.mu_);
    g_ = o.g_;
    used_ = o.used_;
  }

  static GoldenModel train(const py::object& pattern, const py::list& images,
                           const py::object& startPose, const py::object& params, double floor,
                           double spreadFactor, double gradientFactor, long minArea, double slack,
                           bool poseOnly, const py::object& mask) {
    const py::object state = pattern.attr("__getstate__")();
    if (!py::isinstance<py::tuple>(state))
      throw vcFlexAlignDefs::BadParams("GoldenModel.train: the pattern is not trained");
    const py::tuple t = state.cast<py::tuple>();
    const std::string_view bytes = t[0].cast<py::bytes>();
    vcPatternFile file =
        vfPatternFileFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), "pattern");
    if (!startPose.is_none())
      file.startPose = toXform(startPose, "start_pose");
    else if (!t[1].cast<bool>())
      badArgument("GoldenModel.train: no start pose: pass start_pose= or set pattern.start_pose");
    if (!params.is_none()) file.runParams = params.cast<const vcFlexAlignRunParams&>();
    vcFlexGoldenParams gp;
    gp.floor = floor, gp.spreadFactor = spreadFactor, gp.gradientFactor = gradientFactor;
    gp.minArea = minArea, gp.slack = slack, gp.rectify.poseOnly = poseOnly;
    std::vector<vcPelBuffer<unsigned char>> owned;
    for (const py::handle& im : images) owned.push_back(imageArg(im, "images"));
    const vcPelBuffer<unsigned char> ignore =
        mask.is_none() ? vcPelBuffer<unsigned char>() : imageArg(mask, "mask");
    GoldenModel m;
    {
      py::gil_scoped_release nogil;
      const std::vector<vcPelBuffer_const<unsigned char>> views(owned.begin(), owned.end());
      m.g_ = vfTrainGoldenFile(file, views, gp, ignore, &m.used_);
    }
    return m;
  }

  Inspection inspect(const py::object& image, bool difference) const {
    const vcPelBuffer<unsigned char> img = imageArg(image, "image");
    vcFlexInspection r;
    std::vector<std::string> names;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      r = vfInspectImage(g_, img, difference);
      names = g_.pattern.instanceNames;
    }
    Inspection out;
    out.record = vfInspectionRecord("", r, names);
    out.record.erase("image");
    if (difference && r.verdict != vcFlexInspection::eNotFound)
      out.difference = fieldArray(r.difference);
    return out;
  }

  void save(const std::string& path) const {
    checkedPath(path);
    std::lock_guard<std::mutex> lock(mu_);
    vfSaveGoldenFile(path, g_);
  }
  static GoldenModel load(const std::string& path) {
    checkedPath(path);
    GoldenModel m;
    m.g_ = vfLoadGoldenFile(path);
    return m;
  }
  py::bytes toBytes() const {
    std::lock_guard<std::mutex> lock(mu_);
    const std::vector<std::uint8_t> b = vfGoldenFileBytes(g_);
    return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
  }
  static GoldenModel fromBytes(const py::bytes& b) {
    const std::string_view s = b;
    GoldenModel m;
    m.g_ = vfGoldenFileFromBytes(std::vector<std::uint8_t>(s.begin(), s.end()), "bytes");
    return m;
  }

  const vcGoldenFile& file() const { return g_; }
  const std::vector<bool>& used() const { return used_; }

 private:
  vcGoldenFile g_;
  std::vector<bool> used_;
  mutable std::mutex mu_;
};

}  // namespace

void bindInspect(py::module_& m) {
  py::class_<Inspection>(m, "Inspection",
                         "One image compared with a golden model: verdict ('pass', 'fail', "
                         "'notFound'), found, reason (why not found, else None), defects (dicts "
                         "{x, y, bbox: [x, y, w, h], area, excess, piece}, image pixels) and "
                         "difference (rectified minus mean, float32, when asked for).")
      .def_property_readonly("verdict", &Inspection::verdict)
      .def_property_readonly("found", &Inspection::found)
      .def_property_readonly("reason", &Inspection::reason)
      .def_property_readonly("defects", &Inspection::defects)
      .def_readonly("difference", &Inspection::difference)
      .def("to_dict", &Inspection::toDict, py::arg("image") = "",
           "The record `flexalign inspect run --json` prints for the image.");
  py::class_<GoldenModel>(m, "GoldenModel",
                          "Good parts' mean and spread per pixel in the part's rectified frame; "
                          "inspects images of the part against them.")
      .def_static("train", &GoldenModel::train, py::arg("pattern"), py::arg("images"),
                  py::arg("start_pose") = py::none(), py::arg("params") = py::none(),
                  py::arg("floor") = 10.0, py::arg("spread_factor") = 3.0,
                  py::arg("gradient_factor") = 0.5, py::arg("min_area") = 20,
                  py::arg("slack") = 0.0, py::arg("pose_only") = false,
                  py::arg("mask") = py::none(),
                  "Runs the pattern on each good image (arrays or paths; at least 5 with the "
                  "part found) and keeps the rectified pixels' mean and spread. Tolerance = "
                  "max(floor, spread_factor x spread, gradient_factor x gradient); mask: "
                  "non-zero pixels (training-image pixels) are not inspected.")
      .def("inspect", &GoldenModel::inspect, py::arg("image"), py::arg("difference") = false)
      .def("save", &GoldenModel::save, py::arg("path"))
      .def_static("load", &GoldenModel::load, py::arg("path"))
      .def_property_readonly("image_count",
                             [](const GoldenModel& g) { return g.file().model.imageCount(); })
      .def_property_readonly("used", &GoldenModel::used,
                             "Per training image, whether the part was found and used.")
      .def_property_readonly("coverage",
                             [](const GoldenModel& g) { return g.file().model.coverage(); })
      .def_property_readonly("region",
                             [](const GoldenModel& g) {
                               const vcPelRect& r = g.file().model.region();
                               return py::make_tuple(r.x(), r.y(), r.width(), r.height());
                             })
      .def_property_readonly("mean",
                             [](const GoldenModel& g) { return fieldArray(g.file().model.mean()); })
      .def_property_readonly(
          "tolerance", [](const GoldenModel& g) { return fieldArray(g.file().model.tolerance()); })
      .def(py::pickle([](const GoldenModel& g) { return g.toBytes(); },
                      [](const py::bytes& b) { return GoldenModel::fromBytes(b); }));
}

}  // namespace vcpy
