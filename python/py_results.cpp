// Results of a FlexAlign run as Python values, their records and their pickles.
#include "python/py_results.h"

#include <cmath>

#include "tools/io/vcPose.h"

namespace vcpy {

namespace {

// Results pickle as tuples of plain values, so they travel between processes (a cluster's
// workers) without the pattern. Older pickles (without statuses, weights and dropped
// combinations) still load.
py::tuple xformState(const vcXform<2>& x) {
  const vcMatrix<2>& m = x.matrix();
  return py::make_tuple(m(0, 0), m(0, 1), x.trans().x(), m(1, 0), m(1, 1), x.trans().y());
}
vcXform<2> xformFrom(const py::tuple& t) {
  return vcXform<2>(vcMatrix<2>(t[0].cast<double>(), t[1].cast<double>(), t[3].cast<double>(),
                                t[4].cast<double>()),
                    vcVector<2>(t[2].cast<double>(), t[5].cast<double>()));
}

py::tuple stateOf(const vcStatusView& s) {
  const vcPelRect& w = s.window;
  return py::make_tuple(s.reason, s.text, s.score, s.threshold, s.amount, s.other,
                        py::make_tuple(w.x(), w.y(), w.width(), w.height()));
}
vcStatusView statusFrom(const py::tuple& t) {
  if (t.size() != 7) throw py::value_error("not a pickled Status");
  vcStatusView s;
  s.reason = t[0].cast<std::string>();
  s.text = t[1].cast<std::string>();
  s.score = t[2].cast<double>();
  s.threshold = t[3].cast<double>();
  s.amount = t[4].cast<double>();
  s.other = t[5].cast<std::string>();
  const auto w = t[6].cast<std::tuple<long, long, long, long>>();
  s.window = vcPelRect(std::get<0>(w), std::get<1>(w), std::get<2>(w), std::get<3>(w));
  return s;
}
// What a result pickled before statuses knew: found or not.
vcStatusView plainStatus(bool found) {
  vcStatusView s;
  if (found) s.reason = s.text = "found";
  return s;
}

py::tuple stateOf(const vcInstanceView& r) {
  return py::make_tuple(r.index, r.name, r.found, r.score, xformState(r.pose), r.offset, r.turn,
                        r.weight, r.share, stateOf(r.status), r.sigmaMajor, r.sigmaMinor,
                        r.sigmaDirection, r.angleSigma, r.angleSymmetry);
}
vcInstanceView instanceFrom(const py::tuple& t) {
  if (t.size() != 7 && t.size() != 10 && t.size() != 14 && t.size() != 15)
    throw py::value_error("not a pickled InstanceResult");
  vcInstanceView r;
  r.index = t[0].cast<long>();
  r.name = t[1].cast<std::string>();
  r.found = t[2].cast<bool>();
  r.score = t[3].cast<double>();
  r.pose = xformFrom(t[4].cast<py::tuple>());
  r.offset = t[5].cast<double>();
  r.turn = t[6].cast<double>();
  r.x = r.pose.trans().x();
  r.y = r.pose.trans().y();
  r.angle = vfPoseAngle(r.pose);
  r.scale = vfPoseScale(r.pose);
  if (t.size() >= 10) {
    r.weight = t[7].cast<double>();
    r.share = t[8].cast<double>();
    r.status = statusFrom(t[9].cast<py::tuple>());
    if (t.size() >= 14) {
      r.sigmaMajor = t[10].cast<double>();
      r.sigmaMinor = t[11].cast<double>();
      r.sigmaDirection = t[12].cast<double>();
      r.angleSigma = t[13].cast<double>();
    }
    if (t.size() == 15) r.angleSymmetry = t[14].cast<long>();
  } else {
    r.status = plainStatus(r.found);
  }
  return r;
}

py::tuple stateOf(const PartResult& r) {
  const vcPartView& v = r.view;
  py::list instances;
  for (const vcInstanceView& i : v.instances) instances.append(stateOf(i));
  return py::make_tuple(v.found, v.score, xformState(v.pose), v.x, v.y, v.info, instances,
                        r.deformation ? py::object(archiveBytes(*r.deformation)) : py::none(),
                        stateOf(v.status));
}
PartResult partFrom(const py::tuple& t) {
  if (t.size() < 7 || t.size() > 9) throw py::value_error("not a pickled Result");
  PartResult r;
  vcPartView& v = r.view;
  v.found = t[0].cast<bool>();
  v.score = t[1].cast<double>();
  v.pose = xformFrom(t[2].cast<py::tuple>());
  v.x = t[3].cast<double>();
  v.y = t[4].cast<double>();
  v.angle = vfPoseAngle(v.pose);
  v.xScale = v.pose.matrix().xScale();
  v.yScale = v.pose.matrix().yScale();
  v.scale = vfPoseScale(v.pose);
  v.info = t[5].cast<std::vector<std::string>>();
  for (const py::handle& i : t[6].cast<py::list>())
    v.instances.push_back(instanceFrom(i.cast<py::tuple>()));
  if (t.size() >= 8 && !t[7].is_none())
    r.deformation = fromArchiveBytes<vcFlexAlignDeformation>(t[7].cast<py::bytes>());
  v.status = t.size() == 9 ? statusFrom(t[8].cast<py::tuple>()) : plainStatus(v.found);
  return r;
}

py::tuple stateOf(const RunResults& r) {
  py::list results, rejected;
  for (const PartResult& p : r.results) results.append(stateOf(p));
  for (const PartResult& p : r.rejected) rejected.append(stateOf(p));
  return py::make_tuple(r.time, results, rejected, r.width, r.height);
}
RunResults resultsFrom(const py::tuple& t) {
  if (t.size() != 2 && t.size() != 5) throw py::value_error("not a pickled ResultSet");
  RunResults r;
  r.time = t[0].cast<double>();
  for (const py::handle& p : t[1].cast<py::list>())
    r.results.push_back(partFrom(p.cast<py::tuple>()));
  if (t.size() == 5) {
    for (const py::handle& p : t[2].cast<py::list>())
      r.rejected.push_back(partFrom(p.cast<py::tuple>()));
    r.width = t[3].cast<long>();
    r.height = t[4].cast<long>();
  }
  return r;
}

vcRunView runView(const RunResults& r, const std::string& image) {
  vcRunView v;
  v.image = image;
  v.width = r.width;
  v.height = r.height;
  v.ms = r.time * 1000.0;
  for (const PartResult& p : r.results) v.parts.push_back(p.view);
  for (const PartResult& p : r.rejected) v.rejected.push_back(p.view);
  return v;
}

const char* const kRecordDoc =
    "The record `flexalign run --json` prints, as plain dicts and lists (the README lists the "
    "fields).";

}  // namespace

RunResults runResults(const vcFlexAlignResultSet& rs, const vcFlexArrangement& a,
                      const std::vector<std::string>& names, long width, long height) {
  RunResults out;
  out.time = rs.time();
  out.width = width;
  out.height = height;
  const std::vector<vcPartView> found = vfResultView(rs, a, names);
  for (std::size_t i = 0; i < found.size(); ++i)
    out.results.push_back({found[i], vcFlexAlignDeformation(rs.results()[i], a)});
  for (const vcPartView& v : vfRejectedView(rs, a, names)) out.rejected.push_back({v, {}});
  return out;
}

py::object toPython(const nlohmann::json& j) {
  switch (j.type()) {
    case nlohmann::json::value_t::object: {
      py::dict d;
      for (const auto& [k, v] : j.items()) d[py::str(k)] = toPython(v);
      return d;
    }
    case nlohmann::json::value_t::array: {
      py::list l;
      for (const auto& v : j) l.append(toPython(v));
      return l;
    }
    case nlohmann::json::value_t::string:
      return py::str(j.get<std::string>());
    case nlohmann::json::value_t::boolean:
      return py::bool_(j.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return py::int_(j.get<long long>());
    case nlohmann::json::value_t::number_unsigned:
      return py::int_(j.get<unsigned long long>());
    case nlohmann::json::value_t::number_float:
      return py::float_(j.get<double>());
    default:
      return py::none();
  }
}

void bindResults(py::module_& m) {
  py::class_<vcStatusView>(m, "Status", "Whether a part or piece was found and, if not, why.")
      .def_readonly("reason", &vcStatusView::reason,
                    "found, notSearched, noCandidate, belowThreshold, outsideImage, "
                    "windowTooSmall, overlapped, atZoneEdge, inconsistent, requiredMissing, "
                    "clamped, outsideRange, tooFewPieces or beyondUncertainty")
      .def_readonly("text", &vcStatusView::text, "the same in words, pieces named")
      .def_readonly("score", &vcStatusView::score, "the best candidate's; -1 when none")
      .def_readonly("threshold", &vcStatusView::threshold)
      .def_readonly("amount", &vcStatusView::amount)
      .def_readonly("other", &vcStatusView::other, "the other piece the reason names")
      .def_property_readonly(
          "window",
          [](const vcStatusView& s) -> py::object {
            if (s.window.isNull()) return py::none();
            return py::make_tuple(s.window.x(), s.window.y(), s.window.width(), s.window.height());
          },
          "(x, y, width, height): the search window, image pixels (outsideImage, "
          "windowTooSmall); None otherwise")
      .def("to_dict", [](const vcStatusView& s) { return toPython(vfStatusRecord(s)); })
      .def("__repr__",
           [](const vcStatusView& s) {
             return py::str("Status({!r}, {!r})").format(s.reason, s.text);
           })
      .def(py::pickle([](const vcStatusView& s) { return stateOf(s); }, &statusFrom));

  py::class_<vcInstanceView>(m, "InstanceResult", "One instance (placed sub-model) of a result.")
      .def_readonly("index", &vcInstanceView::index, "the instance position in the arrangement")
      .def_readonly("name", &vcInstanceView::name,
                    "the instance's name: its sub-model's, numbered (\"key 1\", \"key 2\") where "
                    "the sub-model is placed more than once")
      .def_readonly("found", &vcInstanceView::found)
      .def_readonly("score", &vcInstanceView::score, "0 to 1; 0 when not found")
      .def_property_readonly(
          "pose", [](const vcInstanceView& r) { return fromXform(r.pose); },
          "2 x 3: sub-model coordinates to image pixels; for a piece not found, where the part "
          "pose places it")
      .def_readonly("x", &vcInstanceView::x)
      .def_readonly("y", &vcInstanceView::y)
      .def_readonly("angle", &vcInstanceView::angle, "degrees, clockwise on screen")
      .def_readonly("scale", &vcInstanceView::scale)
      .def_readonly("offset", &vcInstanceView::offset,
                    "a found piece's distance from its nominal place under the fitted part pose "
                    "(arrangement units); 0 when not found")
      .def_readonly("turn", &vcInstanceView::turn,
                    "a found piece's turn against its nominal placement, degrees; 0 when not found")
      .def_readonly("sigma_major", &vcInstanceView::sigmaMajor,
                    "a found piece's 1-sigma position ellipse: its longer semi-axis, pixels")
      .def_readonly("sigma_minor", &vcInstanceView::sigmaMinor,
                    "the ellipse's shorter semi-axis, pixels")
      .def_readonly("sigma_direction", &vcInstanceView::sigmaDirection,
                    "the ellipse's longer axis, degrees from x (-90 to 90): where the piece's "
                    "edges fix it least")
      .def_readonly("angle_sigma", &vcInstanceView::angleSigma,
                    "a found piece's 1-sigma angle, degrees; 0 when its angle was not searched "
                    "or the piece is round")
      .def_readonly("angle_symmetry", &vcInstanceView::angleSymmetry,
                    "how far a found piece's angle is its own, from its trained symmetry: 1 it "
                    "is; 0 the piece is round and has none (its angle is where the other pieces "
                    "put it); n its angle is defined only modulo 360/n degrees (the turn nearest "
                    "the other pieces')")
      .def_readonly("weight", &vcInstanceView::weight,
                    "the piece's part of the part score (the weights sum to 1)")
      .def_readonly("share", &vcInstanceView::share,
                    "what it adds to the part score: weight times score")
      .def_readonly("status", &vcInstanceView::status, "found, or why not")
      .def("__repr__",
           [](const vcInstanceView& r) {
             return py::str("InstanceResult({}, found={}, x={:.3f}, y={:.3f}, score={:.3f})")
                 .format(r.name, r.found, r.x, r.y, r.score);
           })
      .def(py::pickle([](const vcInstanceView& r) { return stateOf(r); }, &instanceFrom));

  py::class_<PartResult> result(m, "Result", "One found part, or a combination the run dropped.");
  result
      .def_property_readonly(
          "found", [](const PartResult& r) { return r.view.found; },
          "False when a required instance is missing")
      .def_property_readonly(
          "score", [](const PartResult& r) { return r.view.score; }, "0 to 1")
      .def_property_readonly(
          "pose", [](const PartResult& r) { return fromXform(r.view.pose); },
          "2 x 3: the arrangement origin's frame to image pixels (the fitted part pose)")
      .def_property_readonly("x", [](const PartResult& r) { return r.view.x; })
      .def_property_readonly("y", [](const PartResult& r) { return r.view.y; })
      .def_property_readonly(
          "angle", [](const PartResult& r) { return r.view.angle; }, "degrees, clockwise on screen")
      .def_property_readonly("scale", [](const PartResult& r) { return r.view.scale; })
      .def_property_readonly(
          "x_scale", [](const PartResult& r) { return r.view.xScale; },
          "the scale of the arrangement's x axis")
      .def_property_readonly(
          "y_scale", [](const PartResult& r) { return r.view.yScale; },
          "the scale of the arrangement's y axis")
      .def_property_readonly(
          "info", [](const PartResult& r) { return r.view.info; }, "why a result is not found")
      .def_property_readonly(
          "status", [](const PartResult& r) { return r.view.status; },
          "found, or why not: for a part under its accept threshold, each "
          "piece's share of its score and the pieces that pulled it down")
      .def_property_readonly(
          "instances", [](const PartResult& r) { return r.view.instances; },
          "every instance, in arrangement order")
      .def(
          "to_dict", [](const PartResult& r) { return toPython(vfPartRecord(r.view)); }, kRecordDoc)
      .def(py::pickle([](const PartResult& r) { return stateOf(r); }, &partFrom));
  bindRectify(m, result);

  py::class_<RunResults>(m, "ResultSet")
      .def_readonly("time", &RunResults::time, "run time, seconds")
      .def_readonly("results", &RunResults::results, "best first")
      .def_readonly("rejected", &RunResults::rejected,
                    "the best combinations the run dropped (under the accept threshold, or "
                    "outside the run's ranges), each with its status saying why: how close a "
                    "run that found nothing came")
      .def_readonly("width", &RunResults::width, "the run image's")
      .def_readonly("height", &RunResults::height)
      .def_property_readonly(
          "found",
          [](const RunResults& r) {
            for (const PartResult& p : r.results)
              if (p.view.found) return true;
            return false;
          },
          "some result has its found flag set")
      .def(
          "to_dict",
          [](const RunResults& r, const std::string& image) {
            return toPython(vfRunRecord(runView(r, image)));
          },
          py::arg("image") = "",
          "The image's record, as `flexalign run --json` prints it (`image` names the file; "
          "time_ms is the library's run time).")
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
