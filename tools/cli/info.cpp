// `flexalign info PATTERN`: what a pattern file holds.
#include <cstdio>
#include <memory>

#include "platform/core/vcAngle.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/common/vcPatternFile.h"

namespace {

const char* kindName(vcFlexModelDefs::ModelType t) {
  switch (t) {
    case vcFlexModelDefs::eBlank:
      return "blank";
    case vcFlexModelDefs::eSynthetic:
      return "wireframe";
    default:
      return "image";
  }
}

double degrees(const vcMatrix<2>& m) { return m.rotation().toDouble() * 180 / vcPi; }

int info(const std::string& path) {
  const vcPatternFile p = vfLoadPatternFile(path);
  const vcFlexArrangement& a = p.pattern.arrangement();
  std::printf("%s: %zu sub-models, %zu instances, %zu trained tools\n", path.c_str(),
              a.subModels().size(), a.positions().size(), p.pattern.tools().size());
  std::printf("sub-models:\n");
  for (const vcFlexSubModel& m : a.subModels()) {
    const vcRect r = m.encloseRect();
    std::printf("  %-12s %-9s%s extent %.1f x %.1f\n", m.name().c_str(), kindName(m.modelType()),
                m.modelType() == vcFlexModelDefs::eImage && m.mask().isBound() ? " (masked)" : "",
                r.width(), r.height());
  }
  std::printf("instances:\n");
  for (std::size_t k = 0; k < a.positions().size(); ++k) {
    const vcXform<2> x = a.positions()[k]->linearXform({0, 0}).xform();
    const auto& tp = p.pattern.trainParams().subModelInstanceParams(long(k));
    const bool geofind = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&tp) != nullptr;
    std::printf(
        "  %-12s at (%.2f, %.2f), angle %.3f deg, scale %.4f; engine %s%s\n",
        k < p.instanceNames.size() ? p.instanceNames[k].c_str() : "?", x.trans().x(), x.trans().y(),
        degrees(x.matrix()), x.matrix().scale(),
        a.subModels()[std::size_t(a.subModelIndices()[k])].modelType() == vcFlexModelDefs::eBlank
            ? "none (place holder)"
        : geofind ? "geofind"
                  : "correlation",
        p.runParams.subModelInstanceParams(long(k)).required() ? ", required" : "");
  }
  const vcXform<2>& s = p.startPose;
  std::printf("run defaults: start (%.2f, %.2f), angle %.3f deg, scale %.4f\n%s", s.trans().x(),
              s.trans().y(), degrees(s.matrix()), s.matrix().scale(),
              p.runParams.toDebugString().c_str());
  return 0;
}

}  // namespace

vcCliRunner vfInfoCommand(CLI::App& app) {
  vfCliHelpFormat(app, "flexalign info PATTERN",
                  "  Lists the pattern's sub-models, instances, engines and run settings.");
  auto path = std::make_shared<std::string>();
  app.add_option("PATTERN", *path, "the pattern file")->required();
  return [path] { return info(*path); };
}
