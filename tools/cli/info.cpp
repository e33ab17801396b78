// `flexalign info PATTERN`: what a pattern file holds: each piece with its region and the run
// settings a run of the file uses, as numbers a person can check against the description.
#include <cstdio>
#include <memory>

#include "platform/core/vcText.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliRunSettings.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcPatternFile.h"
#include "tools/io/vcPose.h"

// Named rather than anonymous: the command files compile in one batch, each with its own
// Options and helpers.
namespace info_command {

using SD = vcFlexSubModelParamsDefs;
using FD = vcFlexAlignDefs;

std::string pose(const vcXform<2>& x) {
  return vfFormat("(%.2f, %.2f), angle %.3f deg, scale %.4f", x.trans().x(), x.trans().y(),
                  vfPoseAngle(x), vfPoseScale(x));
}

// What the piece is and where it comes from in the training image.
std::string region(const vcFlexSubModel& m) {
  switch (m.modelType()) {
    case vcFlexModelDefs::eBlank:
      return "blank (a place holder, not searched)";
    case vcFlexModelDefs::eSynthetic:
      return vfFormat("wireframe, %zu shapes spanning %.1f x %.1f", m.shapes().size(),
                      m.encloseRect().width(), m.encloseRect().height());
    default: {
      const vcPelRect r = m.image().window();
      return vfFormat("%s, region [%ld, %ld, %ld, %ld]", m.mask().isBound() ? "masked" : "image",
                      r.x(), r.y(), r.width(), r.height());
    }
  }
}

template <class P>
std::string zones(const P& p) {
  std::string s;
  if (p.zoneEnable() & SD::eAngle)
    s += vfFormat(", angle %g to %g deg", p.zoneLowRelStandard(SD::eAngle),
                  p.zoneHighRelStandard(SD::eAngle));
  if (p.zoneEnable() & SD::eUniformScale)
    s += vfFormat(", scale %g to %g", 1 + p.zoneLowRelStandard(SD::eUniformScale),
                  1 + p.zoneHighRelStandard(SD::eUniformScale));
  if constexpr (std::is_same_v<P, vcFlexSubModelGfndRunParams>)
    s += vfFormat(", contrast %g", p.contrastThreshold());
  return s;
}

// One piece's run settings on either engine's class, without its uncertainty: where it is
// searched is printed apart, as the run widens it.
std::string pieceRun(const vcFlexSubModelRunParams& p) {
  std::string s = vfFormat("accept %g", p.acceptThreshold());
  if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&p)) s += zones(*g);
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&p)) s += zones(*c);
  if (p.required()) s += ", required";
  return s;
}

std::string reach(const vcPieceReach& r) {
  return vfFormat("+-%g x %g px", r.x, r.y) +
         (r.angle ? vfFormat(", angle %g to %g deg", r.angleLow, r.angleHigh) : std::string());
}

// Where the run looks for the piece: about the place the pieces found before predict (the
// locally fixtured strategy's pieces after the first), and about the start pose.
void printSearched(const vcFlexAlignRunParams& rp, const vcFlexAlignTrainParams& tp, long k) {
  const std::string first = reach(vfPieceReach(rp, tp, k, true)) + " about the start pose";
  if (rp.runStrategy() != FD::eLocallyFixturedSubModels) {
    std::printf("  %-12s searched %s\n", "", first.c_str());
    return;
  }
  std::printf("  %-12s searched %s about its predicted place; as the first piece %s\n", "",
              reach(vfPieceReach(rp, tp, k, false)).c_str(), first.c_str());
}

int info(const std::string& path) {
  const vcPatternFile p = vfLoadPatternFile(path);
  const vcFlexArrangement& a = p.pattern.arrangement();
  const vcFlexAlignRunParams& rp = p.runParams;
  std::printf("%s: %zu sub-models, %zu instances, %zu trained tools\n", vfPrintable(path).c_str(),
              a.subModels().size(), a.positions().size(), p.pattern.tools().size());
  std::printf("pieces (sub-model coordinates to training-image pixels):\n");
  for (std::size_t k = 0; k < a.positions().size(); ++k) {
    const vcFlexSubModel& m = a.subModels()[std::size_t(a.subModelIndices()[k])];
    const auto& tp = p.pattern.trainParams().subModelInstanceParams(long(k));
    const char* engine = m.modelType() == vcFlexModelDefs::eBlank ? "-"
                         : tp.engine() == SD::eCorrelationEngine  ? "correlation"
                                                                  : "geofind";
    std::printf("  %-12s %s; at %s; %s\n", vfPrintable(p.instanceNames[k]).c_str(),
                region(m).c_str(), pose(a.positions()[k]->linearXform({0, 0}).xform()).c_str(),
                engine);
    if (m.modelType() != vcFlexModelDefs::eBlank) {
      std::printf("  %-12s run: %s\n", "", pieceRun(rp.subModelInstanceParams(long(k))).c_str());
      printSearched(rp, p.pattern.trainParams(), long(k));
      const std::vector<long>& toTool = p.pattern.instanceToTool();
      if (k < toTool.size() && toTool[k] >= 0 && std::size_t(toTool[k]) < p.pattern.tools().size())
        for (const std::string& w : p.pattern.tools()[std::size_t(toTool[k])].trainingWarnings())
          std::printf("  %-12s warning: %s\n", "", w.c_str());
    }
  }
  std::printf("run settings of the part:\n  start %s\n", pose(p.startPose).c_str());
  std::printf("  strategy %s, up to %ld results, accept %g, xy within %g x %g\n",
              rp.runStrategy() == FD::eLocallyFixturedSubModels ? "locallyFixtured" : "independent",
              rp.numToFind(), rp.acceptThreshold(), rp.xUncertainty(), rp.yUncertainty());
  std::string z;
  if (rp.zoneEnable() & FD::eAngle)
    z += vfFormat("  angle %g to %g deg", rp.zoneLowRelStandard(FD::eAngle),
                  rp.zoneHighRelStandard(FD::eAngle));
  if (rp.zoneEnable() & FD::eUniformScale)
    z += vfFormat("  scale %g to %g", 1 + rp.zoneLowRelStandard(FD::eUniformScale),
                  1 + rp.zoneHighRelStandard(FD::eUniformScale));
  std::printf("%s\n", z.empty() ? "  angle and scale as the start pose" : z.c_str());
  return 0;
}

}  // namespace info_command

vcCliRunner vfInfoCommand(CLI::App& app) {
  using namespace info_command;
  vfCliHelpFormat(
      app, "flexalign info PATTERN",
      "  Lists each piece of the pattern (its region in the training image, its pose and\n"
      "  engine, its run settings, how far about its predicted place a run searches it and\n"
      "  what training warned of its edges) and the run settings of the part.");
  auto path = std::make_shared<std::string>();
  app.add_option("PATTERN", *path, "the pattern file")->required();
  return [path] { return info(*path); };
}
