// `flexalign run PATTERN IMAGE...`: the pattern searched in each image (or each image of a
// folder), on --jobs threads, with a table or a JSON line per image in input order.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/core/vcAngle.h"
#include "platform/diag/vcDiag.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliJobs.h"
#include "tools/cli/vcCliResults.h"
#include "tools/common/vcImageFile.h"
#include "tools/common/vcPatternFile.h"

namespace {

namespace fs = std::filesystem;
// Inputs and outputs of each run; enough for a person to see what was searched and found.
constexpr unsigned long kReportFlags = 0x30000;
// The files of a folder that are run, by extension (any case).
const std::string kImageExtensions = " .png .jpg .jpeg .tif .tiff .bmp .pgm .ppm ";

struct Options {
  std::string pattern;
  std::vector<std::string> images;
  std::string start, overlay, report;
  bool json = false;
  long jobs = 1;
};

vcXform<2> parseStart(const std::string& s) {
  double v[4];
  char tail = 0;
  if (std::sscanf(s.c_str(), "%lf,%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4 ||
      !(v[3] > 0) || !std::isfinite(v[0] + v[1] + v[2] + v[3]))
    throw vcCliUsage("--start " + s + ": expected x,y,angle,scale (four numbers, scale > 0)");
  const double a = v[2] * vcPi / 180.0;
  return vcXform<2>(
      vcMatrix<2>(v[3] * std::cos(a), -v[3] * std::sin(a), v[3] * std::sin(a), v[3] * std::cos(a)),
      vcVector<2>(v[0], v[1]));
}

std::vector<std::string> imageList(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (const std::string& a : args) {
    if (fs::is_directory(a)) {
      std::vector<std::string> in;
      for (const auto& e : fs::directory_iterator(a)) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (e.is_regular_file() && kImageExtensions.find(" " + ext + " ") != std::string::npos)
          in.push_back(e.path().string());
      }
      std::sort(in.begin(), in.end());
      if (in.empty())
        throw vcCliUsage(a + ": the folder holds no image file (" +
                         kImageExtensions.substr(1, kImageExtensions.size() - 2) + ")");
      out.insert(out.end(), in.begin(), in.end());
    } else {
      out.push_back(a);
    }
  }
  return out;
}

struct ImageOutput {
  bool error = false;
  bool found = false;
  std::string text;
};

int run(const Options& o) {
  if (!o.overlay.empty()) vfMakeFolder(o.overlay);
  if (!o.report.empty()) vfMakeFolder(o.report);
  const vcPatternFile pattern = vfLoadPatternFile(o.pattern);
  const vcXform<2> start = o.start.empty() ? pattern.startPose : parseStart(o.start);
  const std::vector<std::string> files = imageList(o.images);
  const std::size_t threads = std::min(std::size_t(o.jobs), files.size());
  // A pattern must not be shared between threads: every worker runs its own copy.
  const std::vector<vcPatternFile> copies(threads, pattern);

  auto work = [&](std::size_t i, std::size_t worker) {
    const vcPatternFile& own = copies[worker];
    const std::string stem = fs::path(files[i]).stem().string();
    ImageOutput out;
    try {
      const vcPelBuffer<unsigned char> img = vfReadImage(files[i]);
      std::unique_ptr<vcDiagFolderRecorder> diag;
      if (!o.report.empty())
        diag = std::make_unique<vcDiagFolderRecorder>((fs::path(o.report) / stem).string(),
                                                      vfPngDiagEncoder());
      const vcCliImageRun r = vfRunCliImage(own, files[i], img, start, own.runParams, diag.get(),
                                            diag ? kReportFlags : 0);
      if (diag) diag->flush();
      if (!o.overlay.empty())
        vfWriteCliOverlay((fs::path(o.overlay) / (stem + ".png")).string(), own, img, r);
      out.found = vfCliPartFound(r);
      out.text = o.json ? vfCliJson(r).dump() + "\n" : vfCliTable(r);
    } catch (const std::exception& e) {
      out.error = true;
      out.text = std::string("flexalign: ") + e.what() + "\n";
    }
    return out;
  };

  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  auto deliver = [&](std::size_t i, ImageOutput out) {
    if (progress) std::fputs("\r\033[K", stderr);
    if (out.error) {
      std::fputs(out.text.c_str(), stderr);
      status = 2;
    } else {
      std::fputs(out.text.c_str(), stdout);
      std::fflush(stdout);
      if (!out.found && status == 0) status = 1;
    }
    if (progress) {
      const double s = vfMsSince(t0) / 1000.0, rate = double(i + 1) / std::max(s, 1e-9);
      std::fprintf(stderr, "%zu/%zu images, %.1f images/s, %.1f s left", i + 1, files.size(), rate,
                   double(files.size() - i - 1) / rate);
    }
  };
  vfRunInOrder<ImageOutput>(files.size(), threads, work, deliver);
  if (progress) std::fputs("\r\033[K", stderr);
  return status;
}

}  // namespace

vcCliRunner vfRunCommand(CLI::App& app) {
  vfCliHelpFormat(
      app, "flexalign run PATTERN IMAGE... [options]",
      "  IMAGE is a PNG, JPEG, TIFF, BMP or binary PGM file, or a folder (its image files by\n"
      "  extension, sorted).");
  auto o = std::make_shared<Options>();
  app.add_option("PATTERN", o->pattern, "the pattern file `flexalign train` wrote")->required();
  app.add_option("IMAGE", o->images, "image files or folders")->required();
  app.add_option("--start", o->start, "expected pose of the part (default: the pattern's)")
      ->type_name("x,y,angle,scale");
  app.add_flag("--json", o->json, "one JSON object per image (JSON lines) instead of tables");
  app.add_option("--overlay", o->overlay, "write <image>.png with the found outlines per image")
      ->type_name("DIR");
  app.add_option("--report", o->report, "write the diagnostic report of each run (DIR/<image>/)")
      ->type_name("DIR");
  app.add_option("--jobs", o->jobs, "run images on N threads, 1 to 256 (default 1)")
      ->type_name("N")
      ->check(CLI::Range(1, 256).description(""));
  return [o] { return run(*o); };
}
