// Text of the FlexAlign run parameters as the diagnostic records show it.

#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"

namespace {

using Defs = vcFlexAlignDefs;
const std::string kIndent(10, ' ');

std::string line(const std::string& label, const std::string& value) {
  return kIndent + label + value + "\n";
}

// Enum literals carry their own line end.
std::string literalLine(const std::string& label, const std::string& literal) {
  return kIndent + label + literal;
}

std::string fitName(Defs::FinalFitMode m) {
  switch (m) {
    case Defs::eNone:
      return "vcFlexAlignDefs::eNone \n";
    case Defs::eAutomatic:
      return "vcFlexAlignDefs::eAutomatic \n";
    case Defs::eLinearTranslation:
      return "vcFlexAlignDefs::eLinearTranslation \n";
    case Defs::eLinearTranslationRotation:
      return "vcFlexAlignDefs::eLinearTranslationRotation \n";
    case Defs::eLinearTranslationScale:
      return "vcFlexAlignDefs::eLinearTranslationScale \n";
    case Defs::eLinearTranslationRotationScale:
      return "vcFlexAlignDefs::eLinearTranslationRotationScale \n";
    case Defs::eLinearTranslationRotationScaleAspect:
      return "vcFlexAlignDefs::eLinearTranslationRotationScaleAspect \n";
    case Defs::eLinearTranslationRotationScaleAspectSkew:
      return "vcFlexAlignDefs::eLinearTranslationRotationScaleAspectSkew \n";
    case Defs::ePolynomialOrder1:
      return "vcFlexAlignDefs::ePolynomialOrder1 \n";
    case Defs::ePolynomialOrder2:
      return "vcFlexAlignDefs::ePolynomialOrder2 \n";
    case Defs::ePolynomialOrder3:
      return "vcFlexAlignDefs::ePolynomialOrder3 \n";
  }
  return vfStr(static_cast<long>(m)) + "\n";
}

struct DofLabel {
  unsigned long bit;
  const char* name;
  const char* literal;
};

// Output order: bits 1, 2, 8, 4 in the advanced set.
const DofLabel kStandard[] = {{1, "Angle", "vcFlexAlignDefs::eAngle \n"},
                              {2, "Uniform Scale", "vcFlexAlignDefs::eUniformScale \n"},
                              {4, "X-Scale", "vcFlexAlignDefs::eXScale \n"},
                              {8, "Y-Scale", "vcFlexAlignDefs::eYScale \n"}};
const DofLabel kAdvanced[] = {{1, "Rotation", "vcFlexAlignDefs::eRotation \n"},
                              {2, "Scale", "vcFlexAlignDefs::eScale \n"},
                              {8, "Aspect", "vcFlexAlignDefs::eAspect \n"},
                              {4, "Skew", "vcFlexAlignDefs::eSkew \n"}};

}  // namespace

std::string vcFlexAlignRunParams::toDebugString() const {
  std::string s = line("numToFind = ", vfStr(d_->numToFind));
  s += kIndent + "finalFitMode = " + fitName(d_->finalFitMode);
  s += literalLine("runStrategy = ", d_->runStrategy == Defs::eIndependentSubModels
                                         ? "vcFlexAlignDefs::eIndependentSubModels\n"
                                         : "vcFlexAlignDefs::eLocallyFixturedSubModels\n");
  s += literalLine("runOrderMode = ", d_->runOrderMode == Defs::eExplicitOrdering
                                          ? "vcFlexAlignDefs::eExplicitOrdering\n"
                                          : "vcFlexAlignDefs::eAutomaticOrdering\n");
  std::string order;
  for (const auto& group : d_->runOrder) {
    order += "{";
    for (std::size_t k = 0; k < group.size(); ++k) order += (k ? " " : "") + vfStr(group[k]);
    order += "} ";
  }
  s += literalLine("runOrder = ", d_->runOrder.empty() ? "Not specified\n" : order + "\n");
  s += literalLine("dofMode = ", d_->dofMode == Defs::eStandard   ? "vcFlexAlignDefs::eStandard\n"
                                 : d_->dofMode == Defs::eAdvanced ? "vcFlexAlignDefs::eAdvanced\n"
                                                                  : "vcFlexAlignDefs::eCustom\n");
  const unsigned long en = d_->dof.getEnableFlags();
  std::string enabled, zones, overlaps;
  if (d_->dofMode == Defs::eCustom) {
    for (unsigned long k = 0; k < d_->dof.numDofs(); ++k) {
      const long bit = 1L << k;
      const std::string name = "DOF #" + vfStr(static_cast<long>(k));
      if (en & bit) {
        enabled += kIndent + "   " + name + "\n";
        zones += kIndent + "   " + name + " (absolute): (" + vfStr(d_->dof.getMin(bit)) + ", " +
                 vfStr(d_->dof.getMax(bit)) + ")\n";
      }
      overlaps += kIndent + "   " + name + ": " + vfStr(d_->dof.getOverlap(bit)) + "\n";
    }
  } else {
    for (const DofLabel& d : d_->dofMode == Defs::eStandard ? kStandard : kAdvanced) {
      const long bit = static_cast<long>(d.bit);
      if (en & d.bit) {
        enabled += kIndent + "   " + d.literal;
        zones += kIndent + "   " + d.name + " (relative to start pose): (" +
                 vfStr(d_->dof.getMinOffset(bit)) + ", " + vfStr(d_->dof.getMaxOffset(bit)) + ")\n";
      }
      overlaps += kIndent + "   " + d.name + ": " + vfStr(d_->dof.getOverlap(bit)) + "\n";
    }
  }
  s += line("zoneEnable = ", "") + (enabled.empty() ? kIndent + "   None\n" : enabled);
  s += line("zone(s): ", "") + zones;
  s += line("zoneOverlap = ", "") + overlaps;
  s += line("xyUncertaintyMode = ", "") + kIndent + "   " +
       (d_->xyUncertaintyMode == Defs::eElliptical ? "vcFlexAlignDefs::eElliptical \n"
                                                   : "vcFlexAlignDefs::eRectangular \n");
  s += line("xUncertainty = ", vfStr(d_->xUncertainty));
  s += line("yUncertainty = ", vfStr(d_->yUncertainty));
  s += line("xyOverlap = ", vfStr(d_->xyOverlap));
  s += line("acceptThreshold = ", vfStr(d_->acceptThreshold));
  s += line("maxCandidates = ", vfStr(d_->maxCandidates));
  s += line("candidateScoreMargin = ", vfStr(d_->candidateScoreMargin));
  s += line("maxCombinations = ", vfStr(d_->maxCombinations));
  s += line("maxMisses = ", vfStr(d_->maxMisses));
  s += line("timeout = ", vfStr(d_->timeout));
  return s;
}
