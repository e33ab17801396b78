// The FlexAlign pattern: training, runs, and archives as bytes, files and pickles.
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "python/py_common.h"
#include "python/py_results.h"
#include "tools/common/vcFileBytes.h"
#include "tools/common/vcPatternFile.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

namespace {

// Far more than any trained pattern needs; a bigger file is not one of ours.
constexpr std::uintmax_t kMaxPatternBytes = std::uintmax_t(1) << 30;

// Python objects are changed only by calls that hold the GIL, and a pattern's train and run let
// go of it. So they first copy, with the GIL held, what they were handed: another thread may
// change a parameter object or an arrangement while the run is under way (set_custom replaces
// the very objects a run reads), and the run must not see that.
template <class T>
T ownCopy(const T& shared) {
  return shared;
}

// A pattern with a lock: runs of one pattern must not overlap (a run sets and restores state
// of its correlation models), so concurrent Python calls on one object take turns.
class Pattern {
 public:
  Pattern() = default;
  Pattern(const Pattern& o) : p_(o.locked_()) {}

  void train(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params) {
    const vcFlexArrangement a = ownCopy(arrangement);
    const vcFlexAlignTrainParams tp = ownCopy(params);
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    p_.train(a, tp);
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
    for (const auto& f : fixtures) fix.push_back(checkedPoint(f, "fixture"));
    const vcFlexAlignRunParams rp = ownCopy(params);
    vcFlexAlignResultSet rs;
    RunResults out;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mu_);
      if (m.isBound())
        p_.run(img, m, start, fix, rp, rs);
      else
        p_.run(img, start, fix, rp, rs);
      out.time = rs.time();
      for (const vcFlexAlignResult& r : rs.results())
        out.results.push_back(partResult(r, p_.arrangement()));
    }
    return out;
  }

  bool trained() const { return locked_().isTrained(); }
  vcFlexArrangement arrangement() const { return locked_().arrangement(); }

  py::bytes toBytes() const { return archiveBytes(locked_()); }
  static Pattern fromBytes(const py::bytes& b) {
    Pattern p;
    p.p_ = fromArchiveBytes<vcFlexAlignPattern>(b);
    return p;
  }

  // The pattern file of the flexalign command (tools/common/vcPatternFile.h), with the default
  // run settings; load reads the command's files and bare archives alike.
  void save(const std::string& path) const {
    checkedPath(path);
    const std::vector<std::uint8_t> bytes = vfPatternFileBytes(vfPatternFileOf(locked_()));
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
    p.p_ = vfPatternFileFromBytes(std::vector<std::uint8_t>(b.begin(), b.end()), path).pattern;
    return p;
  }

  bool operator==(const Pattern& o) const { return locked_() == o.locked_(); }

 private:
  // Waits for a run on another thread without holding the GIL, so Python goes on meanwhile.
  vcFlexAlignPattern locked_() const {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mu_);
    return p_;
  }
  vcFlexAlignPattern p_;
  mutable std::mutex mu_;
};

}  // namespace

void bindPattern(py::module_& m) {
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
