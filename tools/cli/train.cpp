// `flexalign train DESCRIPTION -o PATTERN`: a JSON part description trained into a pattern
// file that keeps the description's run settings.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/core/vcException.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/cli/vcCliOverlaps.h"
#include "tools/cli/vcCliPaths.h"
#include "tools/cli/vcCliPieceWarnings.h"
#include "tools/cli/vcCliText.h"

// Named rather than anonymous: the command files compile in one batch, each with its own
// Options and helpers.
namespace train_command {

struct Options {
  std::string description, out;
};

int train(const Options& o) {
  const auto t0 = std::chrono::steady_clock::now();
  const vcCliTrainJob job = vfReadDescription(o.description);
  // The pattern must not replace what it is trained from.
  vcCliInputs reads;
  reads.add(o.description);
  for (const std::string& f : job.files) reads.add(f);
  if (const std::string* f = reads.replacedBy(o.out))
    throw vcCliUsage("-o " + o.out + ": would replace " + *f + ", which the training reads");
  // At most kShownOverlaps pairs: 1000 pieces over one another are half a million pairs.
  constexpr std::size_t kShownOverlaps = 20;
  const std::vector<vcCliOverlap> overlaps = vfOverlappingPieces(job.arrangement);
  for (std::size_t i = 0; i < std::min(overlaps.size(), kShownOverlaps); ++i) {
    const vcCliOverlap& v = overlaps[i];
    std::fprintf(stderr,
                 "flexalign: warning: %s: pieces \"%s\" and \"%s\" overlap by %.0f %% of the "
                 "smaller region; a run drops a piece whose match lies more than %.0f %% inside "
                 "another's\n",
                 vfPrintable(o.description).c_str(),
                 vfPrintable(job.instanceNames[v.first]).c_str(),
                 vfPrintable(job.instanceNames[v.second]).c_str(), 100 * v.fraction,
                 100 * kVcRunOverlapLimit);
  }
  if (overlaps.size() > kShownOverlaps)
    std::fprintf(stderr, "flexalign: warning: %s: %zu more pairs of pieces overlap as much\n",
                 vfPrintable(o.description).c_str(), overlaps.size() - kShownOverlaps);
  vcPatternFile p;
  try {
    p = vfTrainCliPattern(job);
  } catch (const vcException& e) {
    throw vcCliUsage(o.description + ": training failed: " + vfErrorText(e));
  }
  for (const vcCliPieceWarnings& w : vfPieceWarnings(p.pattern))
    for (const std::string& text : w.texts)
      std::fprintf(stderr, "flexalign: warning: %s: %s: %s\n", vfPrintable(o.description).c_str(),
                   vfPieceWarningSubject(w, job.instanceNames).c_str(), text.c_str());
  vfSavePatternFile(o.out, p);
  std::printf("trained %zu instances of %zu sub-models (%zu tools) in %.1f ms; wrote %s\n",
              job.instanceNames.size(), job.arrangement.subModels().size(),
              p.pattern.tools().size(), vfMsSince(t0), o.out.c_str());
  return 0;
}

}  // namespace train_command

vcCliRunner vfTrainCommand(CLI::App& app) {
  using namespace train_command;
  vfCliHelpFormat(
      app, "flexalign train DESCRIPTION -o PATTERN",
      "  Reads the JSON part description (see the README, or `flexalign demo --write-example`),\n"
      "  trains the pattern and writes it with the description's run settings to PATTERN.\n"
      "  Where the description says nothing: the strategy is locallyFixtured, each piece is\n"
      "  searched 5 degrees either way about the angle the pieces found before predict, an\n"
      "  image piece's instance lies where its region is in the training image. Scale ranges\n"
      "  are factors ([0.9, 1.1]) and must hold 1. Warns about pieces that overlap so much\n"
      "  that a run would drop one of them, and about what a piece's edges cannot fix: a\n"
      "  direction it can slide along, no angle (a round piece), an angle defined only modulo\n"
      "  360/n (an n-fold symmetric one).");
  auto o = std::make_shared<Options>();
  app.add_option("DESCRIPTION", o->description, "the part description (JSON)")->required();
  app.add_option("-o,--output", o->out, "the pattern file to write")
      ->type_name("PATTERN")
      ->required();
  return [o] { return train(*o); };
}
