// Results of a FlexAlign run as Python values, and their pickles.
#include "python/py_results.h"

#include <cmath>

namespace vcpy {

namespace {

vcXform<2> linearOf(const vc2XformBase& x) { return x.linearXform(vcVector<2>(0, 0)).xform(); }

constexpr double kDeg = 180.0 / 3.14159265358979323846;

py::object angleOf(const vcXform<2>& x) { return py::float_(angleDeg(x)); }

// Results pickle as tuples of plain values, so they travel between processes (a cluster's
// workers) without the pattern.
py::tuple xformState(const vcXform<2>& x) {
  const vcMatrix<2>& m = x.matrix();
  return py::make_tuple(m(0, 0), m(0, 1), x.trans().x(), m(1, 0), m(1, 1), x.trans().y());
}
vcXform<2> xformFrom(const py::tuple& t) {
  return vcXform<2>(vcMatrix<2>(t[0].cast<double>(), t[1].cast<double>(), t[3].cast<double>(),
                                t[4].cast<double>()),
                    vcVector<2>(t[2].cast<double>(), t[5].cast<double>()));
}

py::tuple stateOf(const InstanceResult& r) {
  return py::make_tuple(r.index, r.name, r.found, r.score, xformState(r.pose), r.offset, r.turn);
}
InstanceResult instanceFrom(const py::tuple& t) {
  if (t.size() != 7) throw py::value_error("not a pickled InstanceResult");
  return {t[0].cast<long>(),   t[1].cast<std::string>(),          t[2].cast<bool>(),
          t[3].cast<double>(), xformFrom(t[4].cast<py::tuple>()), t[5].cast<double>(),
          t[6].cast<double>()};
}

py::tuple stateOf(const PartResult& r) {
  py::list instances;
  for (const InstanceResult& i : r.instances) instances.append(stateOf(i));
  return py::make_tuple(r.found, r.score, xformState(r.pose), r.location.x(), r.location.y(),
                        r.info, instances,
                        r.deformation ? py::object(archiveBytes(*r.deformation)) : py::none());
}
// Pickles made before results could rectify have no deformation.
PartResult partFrom(const py::tuple& t) {
  if (t.size() != 7 && t.size() != 8) throw py::value_error("not a pickled Result");
  PartResult r;
  r.found = t[0].cast<bool>();
  r.score = t[1].cast<double>();
  r.pose = xformFrom(t[2].cast<py::tuple>());
  r.location = vcVector<2>(t[3].cast<double>(), t[4].cast<double>());
  r.info = t[5].cast<std::vector<std::string>>();
  for (const py::handle& i : t[6].cast<py::list>())
    r.instances.push_back(instanceFrom(i.cast<py::tuple>()));
  if (t.size() == 8 && !t[7].is_none())
    r.deformation = fromArchiveBytes<vcFlexAlignDeformation>(t[7].cast<py::bytes>());
  return r;
}

py::tuple stateOf(const RunResults& r) {
  py::list results;
  for (const PartResult& p : r.results) results.append(stateOf(p));
  return py::make_tuple(r.time, results);
}
RunResults resultsFrom(const py::tuple& t) {
  if (t.size() != 2) throw py::value_error("not a pickled ResultSet");
  RunResults r;
  r.time = t[0].cast<double>();
  for (const py::handle& p : t[1].cast<py::list>())
    r.results.push_back(partFrom(p.cast<py::tuple>()));
  return r;
}

}  // namespace

PartResult partResult(const vcFlexAlignResult& r, const vcFlexArrangement& a) {
  PartResult out;
  out.found = r.found();
  out.score = r.score();
  out.pose = linearOf(r.pose());
  out.location = r.location();
  out.info = r.infoStrings();
  out.deformation = vcFlexAlignDeformation(r, a);
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
    const vcXform<2> nominal = linearOf(*a.positions()[static_cast<std::size_t>(ir.index)]);
    const vcXform<2> placed = linearOf(s.arrangementFromSubModel());
    ir.offset = placed.trans().distance(nominal.trans());
    ir.turn = std::remainder(
        (placed.matrix().rotation() - nominal.matrix().rotation()).toDouble() * kDeg, 360.0);
  }
  return out;
}

void bindResults(py::module_& m) {
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
      .def_readonly("offset", &InstanceResult::offset,
                    "a found piece's distance from its nominal place under the fitted part pose "
                    "(arrangement units); 0 when not found")
      .def_readonly("turn", &InstanceResult::turn,
                    "a found piece's turn against its nominal placement, degrees; 0 when not found")
      .def("__repr__",
           [](const InstanceResult& r) {
             return py::str("InstanceResult({}, found={}, x={:.3f}, y={:.3f}, score={:.3f})")
                 .format(r.name, r.found, r.pose.trans().x(), r.pose.trans().y(), r.score);
           })
      .def(py::pickle([](const InstanceResult& r) { return stateOf(r); }, &instanceFrom));

  py::class_<PartResult> result(m, "Result", "One found part.");
  result.def_readonly("found", &PartResult::found, "False when a required instance is missing")
      .def_readonly("score", &PartResult::score, "0 to 1")
      .def_property_readonly(
          "pose", [](const PartResult& r) { return fromXform(r.pose); },
          "2 x 3: the arrangement origin's frame to image pixels (the fitted part pose)")
      .def_property_readonly("x", [](const PartResult& r) { return r.location.x(); })
      .def_property_readonly("y", [](const PartResult& r) { return r.location.y(); })
      .def_property_readonly("angle", [](const PartResult& r) { return angleOf(r.pose); })
      .def_property_readonly("scale", [](const PartResult& r) { return r.pose.matrix().scale(); })
      .def_property_readonly(
          "x_scale", [](const PartResult& r) { return r.pose.matrix().xScale(); },
          "the scale of the arrangement's x axis")
      .def_property_readonly(
          "y_scale", [](const PartResult& r) { return r.pose.matrix().yScale(); },
          "the scale of the arrangement's y axis")
      .def_readonly("info", &PartResult::info, "why a result is not found")
      .def_readonly("instances", &PartResult::instances, "every instance, in arrangement order")
      .def(py::pickle([](const PartResult& r) { return stateOf(r); }, &partFrom));
  bindRectify(m, result);

  py::class_<RunResults>(m, "ResultSet")
      .def_readonly("time", &RunResults::time, "run time, seconds")
      .def_readonly("results", &RunResults::results, "best first")
      .def("__len__", [](const RunResults& r) { return r.results.size(); })
      .def("__getitem__",
           [](const RunResults& r, long i) {
             if (i < 0) i += static_cast<long>(r.results.size());
             if (i < 0 || i >= static_cast<long>(r.results.size()))
               throw py::index_error("result index out of range");
             return r.results[static_cast<std::size_t>(i)];
           })
      .def(py::pickle([](const RunResults& r) { return stateOf(r); }, &resultsFrom));
}

}  // namespace vcpy
