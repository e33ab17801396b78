// The FlexAlign pattern: training, runs, and archives as bytes, files and pickles.
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/core/vcException.h"
#include "python/py_common.h"
#include "python/py_results.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/cli/vcCliPieceWarnings.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcPatternFile.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

namespace {

// The command's bound: a bigger file is not one of ours.
constexpr std::uintmax_t kMaxPatternBytes = kVcPatternFileMaxBytes;

// Python objects are changed only by calls that hold the GIL, and a pattern's train and run let
// go of it. So they first copy, with the GIL held, what they were handed: another thread may
// change a parameter object or an arrangement while the run is under way (set_custom replaces
// the very objects a run reads), and the run must not see that.
template <class T>
T ownCopy(const T& shared) {
  return shared;
}

// A description as `flexalign train` reads it: the arrangement, its train settings and what
// the pattern file keeps for runs.
struct Description {
  vcCliTrainJob job;

  static Description load(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
      raiseOSError(path + (std::filesystem::exists(path, ec) ? ": not a regular file"
                                                             : ": cannot open the file"));
    Description d;
    {
      py::gil_scoped_release nogil;
      d.job = vfReadDescription(path);
    }
    return d;
  }
};

// A pattern with a lock: runs of one pattern must not overlap (a run sets and restores state
// of its correlation models), so concurrent Python calls on one object take turns. It keeps
// what a pattern file keeps: the run settings, the start pose and the instances' names.
class Pattern {
 public:
  Pattern() = default;
  Pattern(const Pattern& o) {
    const auto [f, start] = o.locked_();
    f_ = f;
    hasStart_ = start;
  }

  // Trained here, a pattern runs with the tools' default settings and has no start pose: the
  // arrangement's coordinates need not be any image's.
  void train(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params) {
    const vcFlexArrangement a = ownCopy(arrangement);
    const vcFlexAlignTrainParams tp = ownCopy(params);
    py::gil_scoped_release nogil;
    vcFlexAlignPattern p;
    p.train(a, tp);
    const vcPatternFile f = vfPatternFileOf(p);
    std::lock_guard<std::mutex> lock(mu_);
    f_ = f;
    hasStart_ = false;
  }
  // As `flexalign train` trains it, keeping its run settings and start pose.
  void trainDescription(const Description& d) {
    const vcCliTrainJob job = ownCopy(d.job);
    py::gil_scoped_release nogil;
    const vcPatternFile f = vfTrainCliPattern(job);
    std::lock_guard<std::mutex> lock(mu_);
    f_ = f;
    hasStart_ = true;
  }

  RunResults run(const py::object& image, const py::object& startPose, const py::object& params,
                 const py::object& mask, const std::vector<std::pair<double, double>>& fixtures,
                 const py::object& channels) const {
    const vcPelBuffer_const<unsigned char> img = imageView(image, "image", channels);
    vcPelBuffer_const<unsigned char> m;
    if (!mask.is_none()) {
      m = imageView(mask, "mask");
      if (m.width() != img.width() || m.height() != img.height())
        throw py::value_error("mask must have the image's shape");
    }
    std::optional<vcXform<2>> start;
    if (!startPose.is_none()) start = toXform(startPose, "start_pose");
    std::optional<vcFlexAlignRunParams> rp;
    if (!params.is_none()) rp = ownCopy(params.cast<const vcFlexAlignRunParams&>());
    std::vector<vcVector<2>> fix;
    for (const auto& f : fixtures) fix.push_back(checkedPoint(f, "fixture"));
    vcFlexAlignResultSet rs;
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    // (An untrained pattern says so first, from the library.)
    if (!start && !hasStart_ && f_.pattern.isTrained()) {
      py::gil_scoped_acquire gil;
      badArgument(
          "Pattern.run: no start pose: pass start_pose= (a 2 x 3 pose of the arrangement's "
          "origin frame in the image) or set pattern.start_pose; a pattern trained here holds "
          "none, one loaded from a pattern file or trained from a description holds its own");
    }
    const vc2XformLinear at(start ? *start : f_.startPose);
    const vcFlexAlignRunParams& settings = rp ? *rp : f_.runParams;
    if (m.isBound())
      f_.pattern.run(img, m, at, fix, settings, rs);
    else
      f_.pattern.run(img, at, fix, settings, rs);
    return runResults(rs, f_.pattern.arrangement(), f_.instanceNames, img.width(), img.height());
  }

  bool trained() const { return std::get<0>(locked_()).pattern.isTrained(); }
  vcFlexArrangement arrangement() const { return std::get<0>(locked_()).pattern.arrangement(); }
  std::vector<std::string> instanceNames() const { return std::get<0>(locked_()).instanceNames; }
  // Per instance whose piece training warned of: the warnings, as `flexalign train` prints them.
  std::map<std::string, std::vector<std::string>> trainingWarnings() const {
    const vcPatternFile f = std::get<0>(locked_());
    std::map<std::string, std::vector<std::string>> out;
    for (const vcCliPieceWarnings& w : vfPieceWarnings(f.pattern))
      for (std::size_t k : w.instances)
        if (k < f.instanceNames.size()) out[f.instanceNames[k]] = w.texts;
    return out;
  }

  vcFlexAlignRunParams runParams() const { return std::get<0>(locked_()).runParams; }
  void runParams(const vcFlexAlignRunParams& p) {
    const vcFlexAlignRunParams own = ownCopy(p);
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    f_.runParams = own;
  }
  py::object startPose() const {
    const auto [f, start] = locked_();
    return start ? py::object(fromXform(f.startPose)) : py::none();
  }
  void startPose(const py::object& pose) {
    const bool given = !pose.is_none();
    const vcXform<2> x = given ? toXform(pose, "start_pose") : vcXform<2>();
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    hasStart_ = given;
    // The file needs one: without, it keeps where the part lay in training, as the command
    // assumes for a bare pattern.
    f_.startPose = given ? x
                         : (f_.pattern.isTrained()
                                ? f_.pattern.arrangement().origin()->linearXform({0, 0}).xform()
                                : vcXform<2>());
  }

  py::bytes toBytes() const { return archiveBytes(std::get<0>(locked_()).pattern); }
  static Pattern fromBytes(const py::bytes& b) {
    Pattern p;
    const vcFlexAlignPattern trained = fromArchiveBytes<vcFlexAlignPattern>(b);
    if (trained.isTrained()) {
      p.f_ = vfPatternFileOf(trained);
    } else {
      p.f_.pattern = trained;
    }
    return p;
  }
  // Pickles carry the pattern file's bytes and whether the start pose was given, so a copy on
  // another process runs as this one does; an untrained pattern pickles as its archive.
  py::object state() const {
    const auto [f, start] = locked_();
    if (!f.pattern.isTrained()) return archiveBytes(f.pattern);
    const std::vector<std::uint8_t> b = vfPatternFileBytes(f);
    return py::make_tuple(py::bytes(reinterpret_cast<const char*>(b.data()), b.size()), start);
  }
  static Pattern fromState(const py::object& state) {
    // Older pickles hold the bare archive.
    if (py::isinstance<py::bytes>(state)) return fromBytes(state.cast<py::bytes>());
    const py::tuple t = state.cast<py::tuple>();
    if (t.size() != 2) throw py::value_error("not a pickled Pattern");
    const std::string_view s = t[0].cast<py::bytes>();
    Pattern p;
    p.f_ = vfPatternFileFromBytes(std::vector<std::uint8_t>(s.begin(), s.end()), "pickle");
    p.hasStart_ = t[1].cast<bool>();
    return p;
  }

  // The pattern file of the flexalign command (tools/io/vcPatternFile.h) with the run
  // settings, start pose and names; load reads the command's files and bare archives alike.
  void save(const std::string& path) const {
    checkedPath(path);
    const std::vector<std::uint8_t> bytes = vfPatternFileBytes(std::get<0>(locked_()));
    try {
      vfWriteFileBytes(path, bytes);  // a temporary renamed into place: never half a file
    } catch (const vcBadParams& e) {
      raiseOSError(e.what());
    }
  }
  static Pattern load(const std::string& path) {
    checkedPath(path);
    // Sized before it is read: a device or a huge file must not be read until memory runs out.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) raiseOSError(path + ": cannot open the file");
    if (!std::filesystem::is_regular_file(status))
      raiseOSError(path + ": not a pattern file (not a regular file)");
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) raiseOSError(path + ": cannot open the file");
    if (size == 0) raiseOSError(path + ": not a pattern file (the file is empty)");
    if (size > kMaxPatternBytes)
      raiseOSError(path + ": not a pattern file (" + std::to_string(size) +
                   " bytes; pattern files are at most " + std::to_string(kMaxPatternBytes) + ")");
    std::ifstream f(path, std::ios::binary);
    if (!f) raiseOSError(path + ": cannot open the file");
    std::string b(static_cast<std::size_t>(size), '\0');
    if (!f.read(b.data(), static_cast<std::streamsize>(size)))
      raiseOSError(path + ": cannot read the file");
    Pattern p;
    p.f_ = vfPatternFileFromBytes(std::vector<std::uint8_t>(b.begin(), b.end()), path);
    p.hasStart_ = true;
    return p;
  }

  bool operator==(const Pattern& o) const {
    return std::get<0>(locked_()).pattern == std::get<0>(o.locked_()).pattern;
  }

 private:
  // Waits for a run on another thread without holding the GIL, so Python goes on meanwhile.
  std::tuple<vcPatternFile, bool> locked_() const {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    return {f_, hasStart_};
  }
  vcPatternFile f_;
  bool hasStart_ = false;
  mutable std::mutex mu_;
};

}  // namespace

void bindPattern(py::module_& m) {
  py::class_<Description>(m, "Description",
                          "A part description (JSON) as `flexalign train` reads it.")
      .def_static("load", &Description::load, py::arg("path"),
                  "Reads the description and the images it names (relative to its folder); "
                  "vf.ParamsError names the file and the JSON path of a bad field, OSError a "
                  "file that cannot be read.")
      .def_property_readonly("arrangement", [](const Description& d) { return d.job.arrangement; })
      .def_property_readonly("train_params", [](const Description& d) { return d.job.trainParams; })
      .def_property_readonly("run_params", [](const Description& d) { return d.job.runParams; })
      .def_property_readonly("start_pose",
                             [](const Description& d) { return fromXform(d.job.startPose); })
      .def_property_readonly("instance_names",
                             [](const Description& d) { return d.job.instanceNames; })
      .def_property_readonly("train_image",
                             [](const Description& d) { return toArray(d.job.trainImage); });

  py::class_<Pattern>(m, "Pattern",
                      "A FlexAlign pattern: trained from an arrangement or a description, run "
                      "on images.")
      .def(py::init<>())
      .def("train", &Pattern::train, py::arg("arrangement"),
           py::arg("params") = vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()),
           "Trains on an arrangement; the pattern then runs with the tools' default settings "
           "(run_params) and holds no start pose.")
      .def("train", &Pattern::trainDescription, py::arg("description"),
           "Trains a Description as `flexalign train` does, keeping its run settings and start "
           "pose.")
      .def("run", &Pattern::run, py::arg("image"), py::arg("start_pose") = py::none(),
           py::arg("params") = py::none(), py::arg("mask") = py::none(),
           py::arg("fixtures") = std::vector<std::pair<double, double>>(),
           py::arg("channels") = py::none(),
           "start_pose (2 x 3): the arrangement's origin frame to image pixels where the part is "
           "expected; params: RunParams. Either left out: the pattern's own (start_pose, "
           "run_params), as `flexalign run` runs a pattern file; a run with no start pose given "
           "or held raises vf.ParamsError. channels: the order of a colour image's channels "
           "('RGB', 'BGR' as OpenCV gives them, 'RGBA', 'BGRA').")
      .def_property_readonly("trained", &Pattern::trained)
      .def_property_readonly("arrangement", &Pattern::arrangement)
      .def_property_readonly("instance_names", &Pattern::instanceNames,
                             "the names results give the instances")
      .def_property_readonly(
          "training_warnings", &Pattern::trainingWarnings,
          "{instance name: [warning]} for the pieces whose edges training found cannot fix a "
          "direction (it can slide along it) or an angle (round, or n-fold symmetric: angle "
          "modulo 360/n), in the words `flexalign train` prints")
      .def_property("run_params", py::overload_cast<>(&Pattern::runParams, py::const_),
                    py::overload_cast<const vcFlexAlignRunParams&>(&Pattern::runParams),
                    "the settings a run without params= takes (a copy): a pattern file's, a "
                    "description's, or for a pattern trained on an arrangement the tools' defaults")
      .def_property("start_pose", py::overload_cast<>(&Pattern::startPose, py::const_),
                    py::overload_cast<const py::object&>(&Pattern::startPose),
                    "the start pose a run without start_pose= takes, or None")
      .def("to_bytes", &Pattern::toBytes, "the trained pattern's archive (without run settings)")
      .def_static("from_bytes", &Pattern::fromBytes, py::arg("data"))
      .def("save", &Pattern::save, py::arg("path"),
           "Writes the pattern file `flexalign run` reads: the pattern, run_params, the start "
           "pose (without one, where the part lay in training) and the instance names.")
      .def_static("load", &Pattern::load, py::arg("path"))
      .def("__copy__", [](const Pattern& p) { return Pattern(p); })
      .def("__deepcopy__", [](const Pattern& p, py::dict) { return Pattern(p); })
      .def(py::self == py::self)
      .def(py::pickle([](const Pattern& p) -> py::object { return p.state(); },
                      [](const py::object& s) { return Pattern::fromState(s); }));
}

}  // namespace vcpy
