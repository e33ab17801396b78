// A found part's run image rectified into its arrangement's frame, as NumPy arrays.
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "python/py_common.h"
#include "python/py_results.h"

namespace vcpy {

namespace {

// What Result.rectify returns: plain arrays, with the region they cover.
struct Rectified {
  py::array_t<unsigned char> image, mask;
  py::array_t<float> fieldX, fieldY;
  py::list outlines;
  std::vector<double> largestDisplacement;
  std::tuple<long, long, long, long> region;
};

// The field's values taken over, not copied: at 2^26 pixels each field is 256 MB.
py::array_t<float> fieldArray(vcFlexFieldImage&& f) {
  auto* held = new std::vector<float>(std::move(f.values));
  py::capsule owner(held, [](void* p) { delete static_cast<std::vector<float>*>(p); });
  return py::array_t<float>({f.rect.height(), f.rect.width()}, held->data(), owner);
}

py::array_t<double> outlineArray(const vcPolygon& p) {
  py::array_t<double> out({static_cast<long>(p.vertices().size()), 2L});
  double* d = out.mutable_data();
  for (const vcVector<2>& v : p.vertices()) *d++ = v.x(), *d++ = v.y();
  return out;
}

vcPelRect checkedRegion(const std::tuple<long, long, long, long>& r) {
  const auto [x, y, w, h] = r;
  // Compared, not std::labs: the smallest long has no positive counterpart.
  constexpr long kFar = vcFlexLimits::kMaxRectifyStart;
  constexpr long kMost = vcFlexLimits::kMaxRectifyPixels;
  if (w < 1 || h < 1 || w > kMost / h || x < -kFar || x > kFar || y < -kFar || y > kFar)
    badArgument("region must be (x, y, width, height) with width and height at least 1, at most " +
                std::to_string(kMost) + " pixels, x and y within " + std::to_string(kFar) +
                "; not (" + std::to_string(x) + ", " + std::to_string(y) + ", " +
                std::to_string(w) + ", " + std::to_string(h) + ")");
  return vcPelRect(x, y, w, h);
}

Rectified rectify(const PartResult& r, const py::handle& image,
                  const std::optional<std::tuple<long, long, long, long>>& region, int fill,
                  bool poseOnly, double margin, double reach, long gridStep,
                  const py::object& channels) {
  if (!r.deformation)
    throw py::value_error(
        "this Result cannot rectify: it is a combination the run dropped, or was pickled before "
        "results could rectify");
  const vcPelBuffer_const<unsigned char> img = imageView(image, "image", channels);
  vcFlexRectifyParams p;
  if (region) p.region = checkedRegion(*region);
  p.fill = static_cast<unsigned char>(checkedIn(fill, 0, 255, "fill"));
  p.poseOnly = poseOnly;
  using L = vcFlexLimits;
  p.margin = checkedIn(margin, 0, L::kMaxRectifyDistance, "margin");
  p.reach = checkedIn(reach, 0, L::kMaxRectifyDistance, "reach");
  p.gridStep = static_cast<long>(
      checkedIn(static_cast<double>(gridStep), 1, double(L::kMaxRectifyGridStep), "grid_step"));
  vcFlexRectified out;
  {
    py::gil_scoped_release nogil;
    out = r.deformation->rectify(img, p);
  }
  Rectified py;
  py.image = adoptArray(std::move(out.image));
  py.mask = adoptArray(std::move(out.mask));
  py.fieldX = fieldArray(std::move(out.fieldX));
  py.fieldY = fieldArray(std::move(out.fieldY));
  for (const vcPolygon& o : out.outlines) py.outlines.append(outlineArray(o));
  py.largestDisplacement = out.largestDisplacement;
  py.region = {out.region.x(), out.region.y(), out.region.width(), out.region.height()};
  return py;
}

}  // namespace

void bindRectify(py::module_& m, py::class_<PartResult>& result) {
  py::class_<Rectified>(m, "Rectified",
                        "A run image rectified into the arrangement's frame: array element "
                        "[row, col] is arrangement point (x + col, y + row) of `region`.")
      .def_readonly("image", &Rectified::image,
                    "uint8: the run image sampled where the deformation puts each point")
      .def_readonly("mask", &Rectified::mask,
                    "uint8: 255 where that lies in the run image, 0 "
                    "where it falls outside (the pixel holds `fill`)")
      .def_readonly("field_x", &Rectified::fieldX,
                    "float32: where the deformation puts each point minus where the fitted part "
                    "pose puts it, x (run-image pixels)")
      .def_readonly("field_y", &Rectified::fieldY, "float32: the same, y")
      .def_readonly("outlines", &Rectified::outlines,
                    "per instance, an (n, 2) array: the piece's footprint in the run image "
                    "(through its own pose when found, the deformation when missing; empty for "
                    "a blank)")
      .def_readonly("largest_displacement", &Rectified::largestDisplacement,
                    "per instance, the largest length of the field over its footprint")
      .def_readonly("region", &Rectified::region, "(x, y, width, height), arrangement units");

  static const std::string doc =
      "The run image this result was found in, rectified into the arrangement's frame "
      "through the pieces as found: region (x, y, width, height) in arrangement units, "
      "one pixel each (default the arrangement's box); pose_only undoes only the fitted "
      "part pose; margin and reach (arrangement units, 0: the pieces' mean "
      "half-diagonal) say how far each piece's own move holds exactly and counts at all; "
      "grid_step (1 to " +
      std::to_string(vcFlexLimits::kMaxRectifyGridStep) +
      " pixels) the grid the map is evaluated on between pieces; channels: "
      "a colour image's channel order, as Pattern.run takes it.";
  result.def("rectify", &rectify, py::arg("image"), py::arg("region") = py::none(),
             py::arg("fill") = 0, py::arg("pose_only") = false, py::arg("margin") = 3.0,
             py::arg("reach") = 0.0, py::arg("grid_step") = 8, py::arg("channels") = py::none(),
             doc.c_str());
}

}  // namespace vcpy
