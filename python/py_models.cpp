// Sub-models and arrangements.
#include <string>
#include <vector>

#include "python/py_common.h"
#include "vcFlexModels.h"

namespace vcpy {

namespace {

using H = vcPtrHandle_const<vc2XformBase>;

vcXform<2> linearOf(const vc2XformBase& x) { return x.linearXform(vcVector<2>(0, 0)).xform(); }

vcFlexSubModel imageSubModel(const py::object& image, const std::string& name,
                             const py::object& mask, const py::object& clientFromImage) {
  // The sub-model keeps its pixels: copy them, so later changes to the array do not reach it.
  vcPelBuffer<unsigned char> img = imageCopy(image, "image");
  if (!clientFromImage.is_none())
    img.clientFromImageXform(toXform(clientFromImage, "client_from_image"));
  if (mask.is_none()) return vcFlexSubModel(img, name);
  vcPelBuffer<unsigned char> m = imageCopy(mask, "mask");
  if (m.width() != img.width() || m.height() != img.height())
    throw py::value_error("mask must have the image's shape");
  m.clientFromImageXform(img.clientFromImageXform());
  return vcFlexSubModel(img, m, name);
}

vc2Wireframe outline(const py::handle& points, bool closed) {
  const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(points);
  if (!a || a.ndim() != 2 || a.shape(1) != 2 || a.shape(0) < 2)
    throw py::value_error("each shape must be an N x 2 array of points, N >= 2");
  vc2Wireframe w;
  for (py::ssize_t i = 0; i < a.shape(0); ++i)
    w.insertVertex(checkedPoint({a.at(i, 0), a.at(i, 1)}, "an outline point"), -1, vcRadian(0),
                   vcDimTol());
  if (closed) w.close(vcRadian(0), vcDimTol());
  return w;
}

vcFlexSubModel wireframeSubModel(const py::list& shapes, const std::string& name, bool closed,
                                 const std::optional<std::vector<double>>& weights) {
  std::vector<vc2Wireframe> w;
  for (const py::handle& s : shapes) w.push_back(outline(s, closed));
  if (weights) {
    for (double v : *weights) finiteAtLeastZero(v, "an outline weight");
    return vcFlexSubModel(w, *weights, vc2XformLinear(), name);
  }
  return vcFlexSubModel(w, vc2XformLinear(), name);
}

vcFlexArrangement arrangement(const std::vector<vcFlexSubModel>& subModels,
                              const std::vector<long>& indices, const py::list& placements) {
  std::vector<H> pos;
  for (const py::handle& p : placements)
    pos.push_back(H(new vc2XformLinear(toXform(p, "placement"))));
  return vcFlexArrangement(subModels, indices, pos);
}

}  // namespace

void bindModels(py::module_& m) {
  py::class_<vcFlexSubModel>(m, "SubModel",
                             "A rigid piece: an image (optionally masked), outlines, or a blank "
                             "place holder that carries only a name.")
      .def_static("from_image", &imageSubModel, py::arg("image"), py::arg("name") = "",
                  py::arg("mask") = py::none(), py::arg("client_from_image") = py::none(),
                  "client_from_image (2 x 3) maps the image's pixels to the sub-model's own "
                  "coordinates (default: the pixels themselves). Mask pixels of 0 are left out.")
      .def_static("from_outlines", &wireframeSubModel, py::arg("shapes"), py::arg("name") = "",
                  py::arg("closed") = true, py::arg("weights") = py::none(),
                  "shapes: N x 2 point arrays in the sub-model's coordinates.")
      .def_static(
          "blank", [](const std::string& name) { return vcFlexSubModel(name); }, py::arg("name"))
      .def_property_readonly("name", &vcFlexSubModel::name)
      .def_property_readonly("kind",
                             [](const vcFlexSubModel& s) {
                               switch (s.modelType()) {
                                 case vcFlexModelDefs::eImage:
                                   return "image";
                                 case vcFlexModelDefs::eSynthetic:
                                   return "outlines";
                                 default:
                                   return "blank";
                               }
                             })
      .def_property(
          "origin", [](const vcFlexSubModel& s) { return fromXform(linearOf(*s.origin())); },
          [](vcFlexSubModel& s, const py::object& x) {
            s.origin(vc2XformLinear(toXform(x, "origin")));
          },
          "2 x 3: the point and frame poses of this sub-model refer to")
      .def_property_readonly("image",  // a copy; None for outlines and blanks
                             [](const vcFlexSubModel& s) -> py::object {
                               if (s.modelType() != vcFlexModelDefs::eImage) return py::none();
                               return toArray(s.image());
                             })
      .def(py::self == py::self)
      .def("__repr__", [](const vcFlexSubModel& s) {
        return "SubModel(" + py::repr(py::str(s.name())).cast<std::string>() + ")";
      });

  py::class_<vcFlexArrangement>(m, "Arrangement",
                                "Sub-models placed in arrangement coordinates; one sub-model may "
                                "be placed several times (each placement is an instance).")
      .def(py::init(&arrangement), py::arg("sub_models"), py::arg("indices"), py::arg("placements"),
           "indices[k]: the sub-model of instance k; placements[k] (2 x 3): its coordinates to "
           "arrangement coordinates.")
      .def_property_readonly("sub_models", &vcFlexArrangement::subModels)
      .def_property_readonly("indices", &vcFlexArrangement::subModelIndices)
      .def_property_readonly("placements",
                             [](const vcFlexArrangement& a) {
                               py::list out;
                               for (const H& p : a.positions()) out.append(fromXform(linearOf(*p)));
                               return out;
                             })
      .def_property(
          "origin", [](const vcFlexArrangement& a) { return fromXform(linearOf(*a.origin())); },
          [](vcFlexArrangement& a, const py::object& x) {
            a.origin(vc2XformLinear(toXform(x, "origin")));
          },
          "2 x 3: the frame part poses refer to, in arrangement coordinates")
      .def_property_readonly("num_instances",
                             [](const vcFlexArrangement& a) { return a.subModelIndices().size(); })
      .def(py::self == py::self);
}

}  // namespace vcpy
