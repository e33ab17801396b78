// `flexalign train DESCRIPTION -o PATTERN`: a JSON part description trained into a pattern
// file that keeps the description's run settings.
#include <cstdio>
#include <memory>

#include "platform/core/vcException.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliDescription.h"

namespace {

struct Options {
  std::string description, out;
};

int train(const Options& o) {
  const auto t0 = std::chrono::steady_clock::now();
  const vcCliTrainJob job = vfReadDescription(o.description);
  vcPatternFile p;
  try {
    p = vfTrainCliPattern(job);
  } catch (const vcException& e) {
    throw vcCliUsage(o.description + ": training failed: " + e.what());
  }
  vfSavePatternFile(o.out, p);
  std::printf("trained %zu instances of %zu sub-models (%zu tools) in %.1f ms; wrote %s\n",
              job.instanceNames.size(), job.arrangement.subModels().size(),
              p.pattern.tools().size(), vfMsSince(t0), o.out.c_str());
  return 0;
}

}  // namespace

vcCliRunner vfTrainCommand(CLI::App& app) {
  vfCliHelpFormat(
      app, "flexalign train DESCRIPTION -o PATTERN",
      "  Reads the JSON part description (see the README, or `flexalign demo --write-example`),\n"
      "  trains the pattern and writes it with the description's run settings to PATTERN.");
  auto o = std::make_shared<Options>();
  app.add_option("DESCRIPTION", o->description, "the part description (JSON)")->required();
  app.add_option("-o,--output", o->out, "the pattern file to write")
      ->type_name("PATTERN")
      ->required();
  return [o] { return train(*o); };
}
