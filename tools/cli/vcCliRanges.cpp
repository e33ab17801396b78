#include "tools/cli/vcCliRanges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/core/vcText.h"

namespace {

using SD = vcFlexSubModelParamsDefs;

std::string number(double v) { return vfFormat("%g", v); }

}  // namespace

double vfPieceReach(const vcFlexAlignRunParams& part, vcFlexAlignDefs::StandardDOF partDof,
                    const vcFlexSubModelRunParams& piece, SD::StandardDOF dof) {
  double lo = 0, hi = 0;
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&piece)) {
    if (c->zoneEnable() & dof) lo = c->zoneLowRelStandard(dof), hi = c->zoneHighRelStandard(dof);
  } else if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&piece)) {
    if (g->zoneEnable() & dof) lo = g->zoneLowRelStandard(dof), hi = g->zoneHighRelStandard(dof);
  }
  double plo = 0, phi = 0;
  if (part.zoneEnable() & partDof)
    plo = part.zoneLowRelStandard(partDof), phi = part.zoneHighRelStandard(partDof);
  return std::max({std::fabs(lo), std::fabs(hi), std::fabs(lo + plo), std::fabs(hi + phi)});
}

std::string vfTrainedRangeProblem(const vcFlexArrangement& a, const vcFlexAlignTrainParams& train,
                                  const vcFlexAlignRunParams& run,
                                  const std::vector<std::string>& names) {
  for (std::size_t k = 0; k < a.subModelIndices().size(); ++k) {
    const auto* t =
        dynamic_cast<const vcFlexSubModelCorTrainParams*>(&train.subModelInstanceParams(long(k)));
    if (!t ||
        a.subModels()[std::size_t(a.subModelIndices()[k])].modelType() == vcFlexModelDefs::eBlank)
      continue;
    const vcFlexSubModelRunParams& piece = run.subModelInstanceParams(long(k));
    const std::string name = k < names.size() ? names[k] : "instance " + std::to_string(k);
    const struct {
      vcFlexAlignDefs::StandardDOF part;
      SD::StandardDOF dof;
      const char* what;
      double unit;
    } zones[] = {{vcFlexAlignDefs::eAngle, SD::eAngle, "angles", 1},
                 {vcFlexAlignDefs::eUniformScale, SD::eUniformScale, "scales", 1}};
    for (const auto& z : zones) {
      const double need = vfPieceReach(run, z.part, piece, z.dof);
      const double have = (t->zoneAllowed() & z.dof) ? t->zoneMaxRangeStandard(z.dof) : 0.0;
      if (need > have + 1e-9) {
        const bool angle = z.dof == SD::eAngle;
        return "piece \"" + name + "\" (correlation) was trained for " + z.what + " within " +
               (angle ? number(have) + " degrees"
                      : "factors " + number(1 - have) + " to " + number(1 + have)) +
               " either way, but the run searches " +
               (angle ? number(need) + " degrees"
                      : "factors " + number(1 - need) + " to " + number(1 + need));
      }
    }
  }
  return "";
}
