// `flexalign preview DESCRIPTION -o PNG`: what a part description describes, drawn over its
// training image: every piece's region or outline with its name, the arrangement's origin and
// box, and in red the pieces that overlap so much a run would drop one of them; and, each piece
// trained alone, the training warnings of what its edges cannot fix.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "platform/display/vc2Wireframe.h"
#include "tools/cli/vcCliCanvas.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/cli/vcCliOverlaps.h"
#include "tools/cli/vcCliPaths.h"
#include "tools/cli/vcCliPieceWarnings.h"
#include "tools/cli/vcCliText.h"

// Named rather than anonymous: the command files compile in one batch, each with its own
// Options and helpers.
namespace preview_command {

struct Options {
  std::string description, out;
};

const vcCliColour kBox{255, 210, 0}, kPiece{0, 235, 60}, kClash{255, 40, 40}, kOrigin{0, 220, 255},
    kBlank{200, 120, 255};

int preview(const Options& o) {
  // The picture must not replace what it is drawn from.
  vcCliInputs reads;
  reads.add(o.description);
  if (reads.replacedBy(o.out)) throw vcCliUsage("-o " + o.out + ": would replace the description");
  const vcCliTrainJob job = vfReadDescription(o.description);
  for (const std::string& f : job.files) reads.add(f);
  if (const std::string* f = reads.replacedBy(o.out))
    throw vcCliUsage("-o " + o.out + ": would replace " + *f);
  const vcFlexArrangement& a = job.arrangement;
  std::set<std::size_t> clashing;
  for (const vcCliOverlap& v : vfOverlappingPieces(a))
    clashing.insert(v.first), clashing.insert(v.second);

  vcCliCanvas c(job.trainImage, vcPelRect(0, 0, job.trainImage.width(), job.trainImage.height()));
  // Arrangement coordinates are the training image's pixels.
  c.box(a.encloseRect(), vcXform<2>(), kBox);
  for (std::size_t k = 0; k < a.subModelIndices().size(); ++k) {
    const vcFlexSubModel& m = a.subModels()[std::size_t(a.subModelIndices()[k])];
    const vcXform<2> pose = a.positions()[k]->linearXform({0, 0}).xform();
    const vcCliColour colour = clashing.count(k) ? kClash : kPiece;
    vcVector<2> label = pose.trans();
    if (m.modelType() == vcFlexModelDefs::eBlank) {
      c.cross(pose.trans(), 6, kBlank);
      c.text(pose.trans() + vcVector<2>(8, -3), job.instanceNames[k] + " (blank)", kBlank);
      continue;
    }
    if (m.modelType() == vcFlexModelDefs::eSynthetic) {
      for (const vc2Wireframe& w : m.shapes()) {
        const long n = w.numVertices();
        for (long i = 0; i + 1 < n + (w.closed() ? 1 : 0); ++i)
          c.line(pose.mapPoint(w.vertex(i)), pose.mapPoint(w.vertex((i + 1) % n)), colour);
      }
    } else {
      c.box(m.encloseRect(), pose, colour);
    }
    label = pose.mapPoint(m.encloseRect().ul()) + vcVector<2>(3, 3);
    c.text(label, job.instanceNames[k], colour);
    c.cross(pose.trans(), 3, colour);
  }
  const vcVector<2> origin = a.origin()->linearXform({0, 0}).xform().trans();
  c.cross(origin, 10, kOrigin);
  c.text(origin + vcVector<2>(12, 4), "origin", kOrigin);
  if (c.reduced()) c.caption("shown at 1/" + std::to_string(c.shrink()));
  c.writePng(o.out);
  // What each piece's edges cannot fix, as `flexalign train` warns.
  for (const vcCliPieceWarnings& w : vfPieceWarnings(job))
    for (const std::string& text : w.texts)
      std::fprintf(stderr, "flexalign: warning: %s: %s: %s\n", vfPrintable(o.description).c_str(),
                   vfPieceWarningSubject(w, job.instanceNames).c_str(), text.c_str());
  std::printf("drew %zu pieces of %s over its training image into %s%s\n",
              a.subModelIndices().size(), o.description.c_str(), o.out.c_str(),
              clashing.empty() ? "" : "; red pieces overlap enough for a run to drop one");
  return 0;
}

}  // namespace preview_command

vcCliRunner vfPreviewCommand(CLI::App& app) {
  using namespace preview_command;
  vfCliHelpFormat(
      app, "flexalign preview DESCRIPTION -o PNG",
      "  Draws what the description describes over its training image: each piece's\n"
      "  region (image pieces) or outline (wireframes) with its name and a cross at its\n"
      "  origin, blank pieces as a cross, the part's origin and box (yellow); pieces that\n"
      "  overlap so much that a run would drop one are red. Trains each piece to warn, as\n"
      "  `flexalign train` does, of what its edges cannot fix.");
  auto o = std::make_shared<Options>();
  app.add_option("DESCRIPTION", o->description, "the part description (JSON)")->required();
  app.add_option("-o,--output", o->out, "the PNG file to write")->type_name("PNG")->required();
  return [o] { return preview(*o); };
}
