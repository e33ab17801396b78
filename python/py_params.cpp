// Sub-model and FlexAlign train and run parameters. Ranges are (low, high) pairs: angles in
// degrees, scales as factors (0.9, 1.1); None leaves that degree of freedom out of the search.
#include <optional>
#include <vector>

#include "python/py_common.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

namespace {

using PD = vcFlexSubModelParamsDefs;
using FD = vcFlexAlignDefs;
using OptRange = std::optional<Range>;

// Reads and writes one standard DOF zone of a parameter class with zoneEnable and
// zoneRelStandard, storing scales relative to 1 as the library does.
template <class P, class Dof>
OptRange zone(const P& p, Dof dof, bool isScale) {
  if (!(p.zoneEnable() & dof)) return std::nullopt;
  const double off = isScale ? 1.0 : 0.0;
  return std::pair(p.zoneLowRelStandard(dof) + off, p.zoneHighRelStandard(dof) + off);
}
template <class P, class Dof>
void zone(P& p, Dof dof, bool isScale, const OptRange& r, const std::string& what) {
  if (!r) {
    p.zoneEnable(p.zoneEnable() & ~static_cast<unsigned long>(dof));
    return;
  }
  const Range v = isScale ? scaleRange(*r, what.c_str()) : angleRange(*r, what.c_str());
  const double off = isScale ? 1.0 : 0.0;
  p.zoneRelStandard(dof, v.first - off, v.second - off);
  p.zoneEnable(p.zoneEnable() | dof);
}

template <class P, class Dof, class Cls>
void zoneProperties(Cls& cls, const std::string& name, Dof angle, Dof scale) {
  cls.def_property(
         "angle", [=](const P& p) { return zone(p, angle, false); },
         [=](P& p, const OptRange& r) { zone(p, angle, false, r, name + ".angle"); },
         "(low, high) degrees or None")
      .def_property(
          "scale", [=](const P& p) { return zone(p, scale, true); },
          [=](P& p, const OptRange& r) { zone(p, scale, true, r, name + ".scale"); },
          "(low, high) factors holding 1, e.g. (0.9, 1.1), or None");
}

template <class P, class Cls>
void xyProperties(Cls& cls, const std::string& name) {
  cls.def_property(
         "xy_uncertainty", [](const P& p) { return std::pair(p.xUncertainty(), p.yUncertainty()); },
         [=](P& p, Range u) {
           u = uncertainty(u, (name + ".xy_uncertainty").c_str());
           p.xyUncertainty(u.first, u.second);
         },
         "(x, y) pixels: how far from its predicted place an instance may be found")
      .def_property(
          "xy_overlap", py::overload_cast<>(&P::xyOverlap, py::const_),
          [=](P& p, double v) { p.xyOverlap(checkedIn(v, 0, 1, (name + ".xy_overlap").c_str())); },
          "0 to 1: how much two results may overlap before the weaker is dropped");
}

// The accessor pairs of one name as a Python property.
#define VCPY_PROP(cls, Class, name, member, type)                              \
  cls.def_property(name, static_cast<type (Class::*)() const>(&Class::member), \
                   static_cast<void (Class::*)(type)>(&Class::member))

// Setting a custom entry or going back to the standard one names an instance position.
template <class Params, class P>
void setCustom(Params& p, long instance, const P& params) {
  p.custom(instanceIndex(instance), params);
}
template <class Params>
void restoreStandard(Params& p, long instance) {
  p.restoreStandardParams(instanceIndex(instance));
}

template <class Params>
auto customIndices(const Params& p) {
  return p.customSubModelInstanceIndices();
}

}  // namespace

void bindParams(py::module_& m) {
  py::class_<vcFlexSubModelTrainParams>(m, "SubModelTrainParams",
                                        "Training settings of one sub-model (per engine)")
      .def("debug_string", &vcFlexSubModelTrainParams::toDebugString);
  py::class_<vcFlexSubModelRunParams> runBase(m, "SubModelRunParams",
                                              "Run settings of one instance (per engine)");
  runBase.def("debug_string", &vcFlexSubModelRunParams::toDebugString);
  VCPY_PROP(runBase, vcFlexSubModelRunParams, "accept_threshold", acceptThreshold, double);
  VCPY_PROP(runBase, vcFlexSubModelRunParams, "required", required, bool);
  VCPY_PROP(runBase, vcFlexSubModelRunParams, "use_for_final_fit", useForFinalFit, bool);
  runBase.def_property("distortion_rate",
                       py::overload_cast<>(&vcFlexSubModelRunParams::distortionRate, py::const_),
                       [](vcFlexSubModelRunParams& p, double r) {
                         p.distortionRate(finiteAtLeastZero(r, "distortion_rate"));
                       });

  using GT = vcFlexSubModelGfndTrainParams;
  py::class_<GT, vcFlexSubModelTrainParams> gt(m, "GeofindTrainParams");
  gt.def(py::init<>())
      .def(py::init<const GT&>())
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<GT>, &fromArchiveBytes<GT>));
  VCPY_PROP(gt, GT, "ignore_polarity", ignorePolarity, bool);
  VCPY_PROP(gt, GT, "elasticity", elasticity, double);
  VCPY_PROP(gt, GT, "auto_select_grain_limits", autoSelectGrainLimits, bool);
  gt.def_property(
      "grain_limits",
      [](const GT& p) { return std::pair(p.coarseGrainLimit(), p.fineGrainLimit()); },
      [](GT& p, std::pair<float, float> g) { p.grainLimits(g.first, g.second); }, "(coarse, fine)");

  using CT = vcFlexSubModelCorTrainParams;
  py::class_<CT, vcFlexSubModelTrainParams> ct(m, "CorrelationTrainParams");
  ct.def(py::init<>())
      .def(py::init<const CT&>())
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<CT>, &fromArchiveBytes<CT>));
  VCPY_PROP(ct, CT, "coarse_grain_limit", coarseGrainLimit, double);
  ct.def_property(
      "fine", [](const CT& p) { return (p.accuracies() & vcFlexSubModelCorDefs::eFineAlign) != 0; },
      [](CT& p, bool fine) {
        p.accuracies(fine ? vcFlexSubModelCorDefs::eFineAlign
                          : vcFlexSubModelCorDefs::eCoarseAlign);
      },
      "fine alignment after the coarse search");
  for (const auto& [name, dof] :
       {std::pair("max_angle", PD::eAngle), {"max_scale", PD::eUniformScale}})
    ct.def_property(
        name,
        [dof = dof](const CT& p) {
          return (p.zoneAllowed() & dof) ? p.zoneMaxRangeStandard(dof) : 0.0;
        },
        [dof = dof, name = name](CT& p, double v) {
          const std::string what = std::string("CorrelationTrainParams.") + name;
          if (dof == PD::eAngle)
            checkedIn(v, 0, kMaxAngle, what.c_str());
          else
            checkedIn(v, 0, 0.999, what.c_str());
          if (v > 0) p.zoneMaxRangeStandard(dof, v);
          p.zoneAllowed(v > 0 ? p.zoneAllowed() | dof
                              : p.zoneAllowed() & ~static_cast<unsigned long>(dof));
        },
        "the widest range (degrees, or relative scale) runs may search; 0 for none");

  using GR = vcFlexSubModelGfndRunParams;
  py::class_<GR, vcFlexSubModelRunParams> gr(m, "GeofindRunParams");
  gr.def(py::init<>())
      .def(py::init<const GR&>())
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<GR>, &fromArchiveBytes<GR>));
  VCPY_PROP(gr, GR, "contrast_threshold", contrastThreshold, double);
  VCPY_PROP(gr, GR, "score_using_clutter", scoreUsingClutter, bool);
  xyProperties<GR>(gr, "GeofindRunParams");
  zoneProperties<GR>(gr, "GeofindRunParams", PD::eAngle, PD::eUniformScale);

  using CR = vcFlexSubModelCorRunParams;
  py::class_<CR, vcFlexSubModelRunParams> cr(m, "CorrelationRunParams");
  cr.def(py::init<>())
      .def(py::init<const CR&>())
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<CR>, &fromArchiveBytes<CR>));
  xyProperties<CR>(cr, "CorrelationRunParams");
  zoneProperties<CR>(cr, "CorrelationRunParams", PD::eAngle, PD::eUniformScale);

  py::enum_<FD::RunStrategy>(m, "RunStrategy")
      .value("INDEPENDENT", FD::eIndependentSubModels)
      .value("LOCALLY_FIXTURED", FD::eLocallyFixturedSubModels);
  py::enum_<FD::FinalFitMode>(m, "FinalFitMode")
      .value("NONE", FD::eNone)
      .value("AUTOMATIC", FD::eAutomatic)
      .value("TRANSLATION", FD::eLinearTranslation)
      .value("TRANSLATION_ROTATION", FD::eLinearTranslationRotation)
      .value("TRANSLATION_SCALE", FD::eLinearTranslationScale)
      .value("TRANSLATION_ROTATION_SCALE", FD::eLinearTranslationRotationScale)
      .value("TRANSLATION_ROTATION_SCALE_ASPECT", FD::eLinearTranslationRotationScaleAspect)
      .value("AFFINE", FD::eLinearTranslationRotationScaleAspectSkew)
      .value("POLYNOMIAL_1", FD::ePolynomialOrder1)
      .value("POLYNOMIAL_2", FD::ePolynomialOrder2)
      .value("POLYNOMIAL_3", FD::ePolynomialOrder3);

  using TP = vcFlexAlignTrainParams;
  py::class_<TP>(m, "TrainParams",
                 "FlexAlign training: the standard sub-model training settings and custom ones "
                 "for single instances.")
      .def(py::init<const vcFlexSubModelTrainParams&>(), py::arg("standard") = GT())
      .def(py::init<const TP&>())
      .def("set_standard", py::overload_cast<const vcFlexSubModelTrainParams&>(&TP::standard))
      .def("set_custom", &setCustom<TP, vcFlexSubModelTrainParams>, py::arg("instance"),
           py::arg("params"))
      .def("restore_standard", &restoreStandard<TP>, py::arg("instance"))
      .def_property_readonly("custom_instances", &customIndices<TP>)
      .def("debug_string", &TP::toDebugString)
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<TP>, &fromArchiveBytes<TP>));

  using RP = vcFlexAlignRunParams;
  py::class_<RP> rp(m, "RunParams",
                    "FlexAlign run settings: the search of the whole part, and the standard and "
                    "custom run settings of the instances.");
  rp.def(py::init<const vcFlexSubModelRunParams&>(), py::arg("standard") = GR())
      .def(py::init<const RP&>())
      .def("set_standard", py::overload_cast<const vcFlexSubModelRunParams&>(&RP::standard))
      .def("set_custom", &setCustom<RP, vcFlexSubModelRunParams>, py::arg("instance"),
           py::arg("params"))
      .def("restore_standard", &restoreStandard<RP>, py::arg("instance"))
      .def_property_readonly("custom_instances", &customIndices<RP>)
      .def("debug_string", &RP::toDebugString)
      .def(py::self == py::self)
      .def(py::pickle(&archiveBytes<RP>, &fromArchiveBytes<RP>));
  rp.def_property("num_to_find", py::overload_cast<>(&RP::numToFind, py::const_),
                  [](RP& p, long n) { p.numToFind(atLeastOne(n, "RunParams.num_to_find")); });
  VCPY_PROP(rp, RP, "accept_threshold", acceptThreshold, double);
  VCPY_PROP(rp, RP, "run_strategy", runStrategy, FD::RunStrategy);
  VCPY_PROP(rp, RP, "final_fit_mode", finalFitMode, FD::FinalFitMode);
  VCPY_PROP(rp, RP, "threads", threads, long);
  xyProperties<RP>(rp, "RunParams");
  zoneProperties<RP>(rp, "RunParams", FD::eAngle, FD::eUniformScale);
  rp.def_property(
      "run_order", [](const RP& p) { return p.runOrder(); },
      [](RP& p, const std::vector<std::vector<long>>& order) {
        for (const std::vector<long>& group : order)
          for (long i : group)
            if (i < 0)
              badArgument("RunParams.run_order: instance positions must be 0 or more, not " +
                          std::to_string(i));
        p.runOrder(order);
        p.runOrderMode(order.empty() ? FD::eAutomaticOrdering : FD::eExplicitOrdering);
      },
      "instance positions searched in this order (groups of one or more); empty: automatic");
}

}  // namespace vcpy
