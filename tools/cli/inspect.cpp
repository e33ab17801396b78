// `flexalign inspect train PATTERN GOOD... -o MODEL` and `flexalign inspect run MODEL IMAGE...`:
// a golden model trained from good images of a part, and images of the part compared with it,
// defect by defect, after the flex is undone.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "tools/cli/vcCliCanvas.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliPaths.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcGoldenFile.h"
#include "tools/io/vcImageFile.h"
#include "vcFlexLimits.h"

// The run command's image list: files and folders, the folders' images sorted.
namespace run_command {
std::vector<std::string> imageList(const std::vector<std::string>& args);
}

namespace inspect_command {

namespace fs = std::filesystem;

struct Options {
  std::string pattern, model, mask, overlay;
  std::vector<std::string> images;
  bool json = false;
  vcFlexGoldenParams params;
};

int train(const Options& o) {
  const vcPatternFile pattern = vfLoadPatternFile(o.pattern);
  const std::vector<std::string> files = run_command::imageList(o.images);
  vcCliInputs reads;
  for (const std::string& f : files) reads.add(f);
  reads.add(o.pattern);
  if (!o.mask.empty()) reads.add(o.mask);
  if (const std::string* read = reads.replacedBy(o.model))
    throw vcCliUsage("-o: " + o.model + " would replace " + *read + ", which this run reads");
  std::vector<vcPelBuffer<unsigned char>> images;
  for (const std::string& f : files) images.push_back(vfReadImage(f));
  const std::vector<vcPelBuffer_const<unsigned char>> views(images.begin(), images.end());
  const vcPelBuffer<unsigned char> ignore =
      o.mask.empty() ? vcPelBuffer<unsigned char>() : vfReadImage(o.mask);
  std::vector<bool> used;
  const vcGoldenFile g = vfTrainGoldenFile(pattern, views, o.params, ignore, &used);
  vfSaveGoldenFile(o.model, g);
  long n = 0;
  for (std::size_t i = 0; i < used.size(); ++i) {
    n += used[i];
    if (!used[i]) std::printf("%s: part not found, left out\n", vfPrintable(files[i]).c_str());
  }
  const vcPelRect& r = g.model.region();
  std::printf(
      "%ld of %zu images used; the model covers %.1f %% of the part's %ld x %ld pixels; "
      "wrote %s\n",
      n, files.size(), 100.0 * g.model.coverage(), r.width(), r.height(),
      vfPrintable(o.model).c_str());
  return 0;
}

std::string pieceName(const vcGoldenFile& g, long piece) {
  return piece >= 0 && std::size_t(piece) < g.pattern.instanceNames.size()
             ? g.pattern.instanceNames[std::size_t(piece)]
             : "no piece";
}

void writeOverlay(const std::string& path, const vcGoldenFile& g,
                  const vcPelBuffer_const<unsigned char>& img, const vcFlexInspection& r) {
  vcCliCanvas c(img, vcPelRect(0, 0, img.width(), img.height()));
  static const vcCliColour kRed{255, 40, 40};
  for (std::size_t i = 0; i < r.defects.size(); ++i) {
    const vcFlexDefect& d = r.defects[i];
    const vcRect box(double(d.box.x()) - 2.5, double(d.box.y()) - 2.5, double(d.box.width()) + 4.0,
                     double(d.box.height()) + 4.0);
    c.box(box, vcXform<2>(), kRed);
    c.label(vcVector<2>(box.x() + box.width() / 2, box.y() - 8.0),
            std::to_string(i + 1) + " " + pieceName(g, d.piece), kRed);
  }
  const std::string verdict = vfVerdictName(r.verdict);
  c.caption(verdict + (r.defects.empty() ? ""
                                         : ", " + std::to_string(r.defects.size()) + " defect" +
                                               (r.defects.size() == 1 ? "" : "s")));
  c.writePng(path);
}

std::string table(const std::string& image, const vcGoldenFile& g, const vcFlexInspection& r) {
  char line[320];
  std::string text;
  if (r.verdict == vcFlexInspection::eNotFound)
    return vfPrintable(image) + ": not found (" +
           vfPrintable(r.reason.text(g.pattern.instanceNames)) + ")\n";
  std::snprintf(line, sizeof line, "%s: %s, %zu defect%s\n", vfPrintable(image).c_str(),
                vfVerdictName(r.verdict), r.defects.size(), r.defects.size() == 1 ? "" : "s");
  text += line;
  for (std::size_t i = 0; i < r.defects.size(); ++i) {
    const vcFlexDefect& d = r.defects[i];
    std::snprintf(line, sizeof line,
                  "  defect %zu  x %8.2f  y %8.2f  box %ld,%ld %ldx%ld  area %ld  excess %.1f  "
                  "on %s\n",
                  i + 1, d.centroid.x(), d.centroid.y(), d.box.x(), d.box.y(), d.box.width(),
                  d.box.height(), d.area, d.excess, vfPrintable(pieceName(g, d.piece)).c_str());
    text += line;
  }
  return text;
}

int run(const Options& o) {
  const vcGoldenFile g = vfLoadGoldenFile(o.model);
  const std::vector<std::string> files = run_command::imageList(o.images);
  vcCliInputs reads;
  for (const std::string& f : files) reads.add(f);
  reads.add(o.model);
  std::vector<std::string> overlays;
  std::map<fs::path, std::string> writes;
  for (const std::string& f : files) {
    if (o.overlay.empty()) break;
    overlays.push_back(
        (fs::path(o.overlay) / (fs::path(f).stem().string() + "-overlay.png")).string());
    if (const std::string* read = reads.replacedBy(overlays.back()))
      throw vcCliUsage("--overlay: " + overlays.back() + " would replace " + *read +
                       ", which this run reads");
    const auto other = writes.emplace(fs::weakly_canonical(fs::absolute(overlays.back())), f);
    if (!other.second)
      throw vcCliUsage("--overlay: " + other.first->second + " and " + f + " would both write " +
                       overlays.back());
  }
  if (!o.overlay.empty()) vfMakeFolder(o.overlay);
  int status = 0;
  long counts[3] = {0, 0, 0}, errors = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    try {
      const vcPelBuffer<unsigned char> img = vfReadImage(files[i]);
      const vcFlexInspection r = vfInspectImage(g, img);
      ++counts[r.verdict];
      if (r.verdict != vcFlexInspection::ePass && status == 0) status = 1;
      if (!o.overlay.empty()) writeOverlay(overlays[i], g, img, r);
      const std::string out =
          o.json ? vfInspectionRecord(files[i], r, g.pattern.instanceNames)
                           .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                       "\n"
                 : table(files[i], g, r);
      std::fputs(out.c_str(), stdout);
      std::fflush(stdout);
    } catch (const std::exception& e) {
      const std::string text = vfErrorText(e);
      std::fprintf(
          stderr, "flexalign: %s\n",
          vfPrintable(text.rfind(files[i] + ":", 0) == 0 ? text : files[i] + ": " + text).c_str());
      ++errors;
      status = 2;
    }
  }
  if (!o.json)
    std::printf("%zu image%s: %ld pass, %ld fail, %ld not found, %ld error%s\n", files.size(),
                files.size() == 1 ? "" : "s", counts[0], counts[1], counts[2], errors,
                errors == 1 ? "" : "s");
  return status;
}

}  // namespace inspect_command

vcCliRunner vfInspectCommand(CLI::App& app) {
  using namespace inspect_command;
  vfCliHelpFormat(app, "flexalign inspect train|run ...",
                  "  Compares found parts with good ones, after the flex is undone. Exit status 0\n"
                  "  when every image passes, 1 when one fails or the part is not found, 2 on bad\n"
                  "  input.");
  app.require_subcommand(1, 1);
  auto o = std::make_shared<Options>();
  CLI::App* t = app.add_subcommand("train", "train a golden model from good images");
  vfCliHelpFormat(*t, "flexalign inspect train PATTERN GOOD_IMAGES_OR_FOLDERS... -o MODEL",
                  "  Finds the part in every good image (at least 5; 20 typical), undoes its flex\n"
                  "  and keeps the mean and spread of every pixel. Prints how many images were\n"
                  "  used and how much of the part the model covers.");
  t->add_option("PATTERN", o->pattern, "the pattern file `flexalign train` wrote")->required();
  t->add_option("GOOD", o->images, "good image files or folders")->required();
  t->add_option("-o,--out", o->model, "the golden model file to write")
      ->required()
      ->check(vfCliNotEmpty("a file"));
  t->add_option("--mask", o->mask,
                "do not inspect where this image (in the training image's pixels) is not 0")
      ->type_name("MASK")
      ->check(vfCliNotEmpty("an image file"));
  t->add_option("--floor", o->params.floor, "smallest tolerance, grey levels (default 10)")
      ->check(CLI::Range(0.0, 255.0).description(""));
  t->add_option("--spread-factor", o->params.spreadFactor,
                "tolerance per unit of a pixel's spread over the good images (default 3)")
      ->check(CLI::Range(0.0, vcFlexLimits::kMaxToleranceFactor).description(""));
  t->add_option("--gradient-factor", o->params.gradientFactor,
                "tolerance per grey level per pixel of the image's gradient (default 0.5)")
      ->check(CLI::Range(0.0, vcFlexLimits::kMaxToleranceFactor).description(""));
  t->add_option("--min-area", o->params.minArea, "smallest defect, pixels (default 20)")
      ->check(CLI::Range(1L, vcFlexLimits::kMaxDefectArea).description(""));
  t->add_flag("--pose-only", o->params.rectify.poseOnly,
              "undo only the part's rigid pose, as a rigid tool would (to compare)");
  CLI::App* r = app.add_subcommand("run", "inspect images with a golden model");
  vfCliHelpFormat(*r, "flexalign inspect run MODEL IMAGES_OR_FOLDERS... [--json] [--overlay DIR]",
                  "  Prints a line per defect and a summary, or with --json one object per image:\n"
                  "  image, found, verdict (pass / fail / notFound), defects [{x, y, bbox, area,\n"
                  "  excess, piece}].");
  r->add_option("MODEL", o->model, "the golden model file `flexalign inspect train` wrote")
      ->required();
  r->add_option("IMAGE", o->images, "image files or folders")->required();
  r->add_flag("--json", o->json, "one JSON object per image (JSON lines) instead of tables");
  r->add_option("--overlay", o->overlay,
                "write DIR/<image>-overlay.png with each defect outlined and named")
      ->type_name("DIR")
      ->check(vfCliNotEmpty("a folder"));
  return [o, t] { return t->parsed() ? train(*o) : run(*o); };
}
