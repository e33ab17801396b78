// `flexalign demo`: the sample part trained and run on five rendered images, with a table (or
// JSON line) per image, overlays and the diagnostic report; or, with --write-example, the
// part's description and images written out as a start for a user's own part.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/diag/vcDiag.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/cli/vcCliExample.h"
#include "tools/cli/vcCliReport.h"
#include "tools/cli/vcCliResults.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcResultRecord.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlign.h"

// Named rather than anonymous: the command files compile in one batch, each with its own
// Options and helpers.
namespace demo_command {

namespace fs = std::filesystem;
// Inputs and outputs of each run; enough for a person to see what was searched and found.
constexpr unsigned long kReportFlags = 0x30000;

struct DemoImage {
  std::string title;
  vcFlexSampleOptions options;
  int hidden = -1;  // the instance under the block, reported missing
};

std::vector<DemoImage> demoImages(const vcFlexSample& s) {
  std::vector<DemoImage> v(5);
  v[0].title = "the part turned 9 deg, scaled 1.05, moved";
  v[0].options.partPose = vfFlexSamplePose(s, 9.0, 1.05, 25, -18);
  v[0].options.seed = 21;
  v[1].title = "turned -7 deg, scaled 0.95, more clutter";
  v[1].options.partPose = vfFlexSamplePose(s, -7.0, 0.95, -20, 15);
  v[1].options.clutterShapes = 12;
  v[1].options.seed = 22;
  v[2].title = "turned 4 deg, moved 22 px, camera noise sigma 12";
  v[2].options.partPose = vfFlexSamplePose(s, 4.0, 1.0, 10, 20);
  v[2].options.noiseSigma = 12;
  v[2].options.seed = 24;
  v[3].title = "the second key, a required piece, hidden under a block";
  v[3].options.partPose = vfFlexSamplePose(s, -3.0, 1.02, -12, -10);
  v[3].options.occludePiece = 4;
  v[3].options.seed = 25;
  v[3].hidden = 4;
  v[4].title = "two copies at scale 0.6";
  v[4].options.partPose = vfFlexSamplePose(s, 3.0, 0.6, -150, -90);
  v[4].options.secondCopy = true;
  v[4].options.secondPose = vfFlexSamplePose(s, -4.0, 0.62, 140, 95);
  v[4].options.seed = 23;
  return v;
}

// Pieces farther than 0.5 px from where they were drawn, or missing when they should not be.
int demoMisses(const vcFlexSample& s, const DemoImage& d, const vcFlexSampleImage& img,
               const vcCliImageRun& r) {
  int misses = 0;
  const std::size_t want = d.options.secondCopy ? 2 : 1;
  if (r.parts.size() != want) return 1 + int(want);
  for (const vcPartView& part : r.parts) {
    const vcVector<2> at(part.x, part.y);
    const bool second = d.options.secondCopy && at.distance(d.options.secondPose.trans()) <
                                                    at.distance(d.options.partPose.trans());
    const std::vector<vcXform<2>>& truth = second ? img.secondTruth : img.truth;
    if (part.found != (d.hidden < 0)) ++misses;
    for (std::size_t k = 0; k < part.instances.size(); ++k) {
      const vcInstanceView& in = part.instances[k];
      if (s.instanceShapes[k].empty()) continue;  // the place holder has nothing to find
      if (int(k) == d.hidden) {
        misses += in.found;
        continue;
      }
      if (!in.found || vcVector<2>(in.x, in.y).distance(truth[k].trans()) > 0.5) ++misses;
    }
  }
  return misses;
}

std::string freshFolder() {
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  std::string dir = std::string("flexalign-demo-") + stamp;
  for (int i = 2; fs::exists(dir); ++i)
    dir = std::string("flexalign-demo-") + stamp + "-" + std::to_string(i);
  return dir;
}

struct Options {
  std::string out, example;
  bool json = false;
};

int writeExample(const Options& o, const vcFlexSample& sample, const vcCliExample& example,
                 const std::vector<DemoImage>& images) {
  const std::string ext = ".png";
  const fs::path dir = o.example;
  vfMakeFolder(o.example);
  const std::string text = example.description.dump(2) + "\n";
  vfWriteFileBytes((dir / "part.json").string(),
                   std::vector<std::uint8_t>(text.begin(), text.end()));
  for (const auto& [name, img] : example.images) vfWriteImage((dir / name).string(), img);
  // The run images apart from the training image and masks, so the folder can be run whole.
  vfMakeFolder((dir / "images").string());
  for (std::size_t i = 0; i < images.size(); ++i)
    vfWriteImage((dir / "images" / ("image-" + std::to_string(i + 1) + ext)).string(),
                 vfRenderFlexSample(sample, images[i].options).image);
  std::printf("wrote the example part description %s, its images and the demo's run images in %s\n",
              (dir / "part.json").string().c_str(), (dir / "images").string().c_str());
  std::printf("try: flexalign train %s -o part.fxp && flexalign run part.fxp %s\n",
              (dir / "part.json").string().c_str(), (dir / "images").string().c_str());
  return 0;
}

int demo(const Options& o) {
  const vcFlexSample sample = vfMakeFlexSample();
  const vcCliExample example = vfSampleExample(sample);
  const std::vector<DemoImage> images = demoImages(sample);
  if (!o.example.empty()) return writeExample(o, sample, example, images);

  const std::string out = o.out.empty() ? freshFolder() : o.out;
  vfMakeFolder(out);
  if (!o.json)
    std::printf(
        "flexalign %s demo: the sample part has %zu pieces of %zu sub-models; images are "
        "640 x 480 with noise and clutter\n",
        vfFlexAlignVersion(), sample.instanceNames.size(), sample.arrangement.subModels().size());
  const auto t0 = std::chrono::steady_clock::now();
  const vcCliTrainJob job =
      vfParseDescription(example.description, "demo part",
                         [&](const std::string& name) { return example.images.at(name); });
  const vcPatternFile pattern = vfTrainCliPattern(job);
  if (!o.json)
    std::printf("trained %zu sub-model tools in %.1f ms\n\n", pattern.pattern.tools().size(),
                vfMsSince(t0));

  int misses = 0;
  {
    vcDiagObject report;
    for (std::size_t i = 0; i < images.size(); ++i) {
      const DemoImage& d = images[i];
      const vcFlexSampleImage img = vfRenderFlexSample(sample, d.options);
      const std::string name = "image-" + std::to_string(i + 1);
      const vcCliImageRun r =
          vfRunCliImage(pattern, name, img.image, vcPelBuffer<unsigned char>(), pattern.startPose,
                        pattern.runParams, &report, kReportFlags);
      vfRecordCliReasons(report, r, img.image);
      const int m = demoMisses(sample, d, img, r);
      misses += m;
      if (o.json) {
        std::fputs(vfRunRecordLine(r).c_str(), stdout);
      } else {
        std::printf("Image %zu, %s\n%s", i + 1, d.title.c_str(), vfCliTable(r).c_str());
        std::printf("  %s\n\n", m               ? "NOT AS EXPECTED"
                                : d.hidden >= 0 ? "as expected: the hidden piece is missing "
                                                  "and the part is not found"
                                                : "as expected: every piece within 0.5 px "
                                                  "of where it was drawn");
      }
      vfWriteCliOverlay((fs::path(out) / (name + "-overlay.png")).string(), pattern, img.image, r);
    }
    vcDiagFolderRecorder readable((fs::path(out) / "report").string(), vfPngDiagEncoder());
    vfReadableParams(report, readable, pattern, pattern.startPose);
    readable.flush();
  }
  if (!o.json)
    std::printf("%s\nOverlays: %s/image-N-overlay.png; report: %s/report/index.html\n",
                misses ? "Some results were not as expected." : "All results as expected.",
                out.c_str(), out.c_str());
  return misses ? 1 : 0;
}

}  // namespace demo_command

vcCliRunner vfDemoCommand(CLI::App& app) {
  using namespace demo_command;
  vfCliHelpFormat(
      app, "flexalign demo [--out DIR] [--json] [--write-example DIR]",
      "  Builds the sample part (image, masked, wireframe and blank sub-models), renders five\n"
      "  images (pieces displaced, turned and scaled; noise and clutter; one piece hidden; two\n"
      "  copies), trains, runs and prints a table per image.");
  auto o = std::make_shared<Options>();
  app.add_option("--out", o->out,
                 "where the overlays and the report go (default: a new folder "
                 "flexalign-demo-<time> under the current directory)")
      ->type_name("DIR");
  app.add_flag("--json", o->json, "one JSON object per image instead of the tables");
  app.add_option("--write-example", o->example,
                 "write the part description (part.json), its images and the demo's run "
                 "images into DIR, and stop")
      ->type_name("DIR");
  return [o] { return demo(*o); };
}
