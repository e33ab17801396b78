// `flexalign run PATTERN IMAGE...`: the pattern searched in each image (or each image of a
// folder), on --jobs threads, with a table or a JSON line per image in input order.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "platform/core/vcText.h"
#include "platform/diag/vcDiag.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliJobs.h"
#include "tools/cli/vcCliPaths.h"
#include "tools/cli/vcCliRanges.h"
#include "tools/cli/vcCliReport.h"
#include "tools/cli/vcCliResults.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcPatternFile.h"
#include "tools/io/vcPose.h"
#include "tools/io/vcResultRecord.h"
#include "vcFlexLimits.h"

// Named rather than anonymous: the command files compile in one batch, each with its own
// Options and helpers.
namespace run_command {

namespace fs = std::filesystem;
// Inputs and outputs of each run; enough for a person to see what was searched and found.
constexpr unsigned long kReportFlags = vcDiagDefs::eInputs | vcDiagDefs::eOutputs;
// The files of a folder that are run, by extension (any case).
const std::string kImageExtensions = " .png .jpg .jpeg .tif .tiff .bmp .pgm .ppm ";
struct Options {
  std::string pattern;
  std::vector<std::string> images;
  std::string start, overlay, report, searchArea, rectify;
  bool json = false;
  long jobs = 1;
  long threads = -1;  // per image run; -1: the machine's with one job, else one
};

vcXform<2> parseStart(const std::string& s) {
  double v[4];
  char tail = 0;
  if (std::sscanf(s.c_str(), "%lf,%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
    throw vcCliUsage("--start " + s + ": expected x,y,angle,scale (four numbers)");
  std::string problem;
  auto g = [](double x) { return vfFormat("%g", x); };
  const double turn = vcFlexLimits::kMaxAngle, most = vcFlexLimits::kMaxPoseScale;
  if (!(std::fabs(v[2]) <= turn))
    problem = "the angle " + g(v[2]) + " is not within " + g(turn) + " degrees";
  if (!(v[3] >= 1 / most && v[3] <= most))
    problem = "the scale " + g(v[3]) + " is outside " + g(1 / most) + " to " + g(most);
  const vcXform<2> pose = vfPoseFrom(v[0], v[1], v[2], v[3]);
  if (problem.empty()) problem = vfPoseProblem(pose);
  if (!problem.empty()) throw vcCliUsage("--start " + s + ": " + problem);
  return pose;
}

std::vector<std::string> imageList(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (const std::string& a : args) {
    if (fs::is_directory(a)) {
      std::vector<std::string> in;
      for (const auto& e : fs::directory_iterator(a)) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (e.is_regular_file() && kImageExtensions.find(" " + ext + " ") != std::string::npos &&
            !vfIsOwnOutput(e.path().filename().string()))
          in.push_back(e.path().string());
      }
      std::sort(in.begin(), in.end());
      if (in.empty())
        throw vcCliUsage(a + ": the folder holds no image file (" +
                         kImageExtensions.substr(1, kImageExtensions.size() - 2) +
                         "; *-overlay.png and *-rectified.png are this program's own)");
      out.insert(out.end(), in.begin(), in.end());
    } else {
      out.push_back(a);
    }
  }
  return out;
}

// Where each image's outputs go; refused before anything runs when an output would replace a
// file the run reads, or two images would write the same output.
struct Outputs {
  std::vector<std::string> overlay, report, rectified;
  std::string reportIndex;  // DIR/index.html of --report

  Outputs(const Options& o, const std::vector<std::string>& files) {
    vcCliInputs reads;
    for (const std::string& f : files) reads.add(f);
    reads.add(o.pattern);
    if (!o.searchArea.empty()) reads.add(o.searchArea);
    std::map<fs::path, std::string> writes;
    auto key = [](const std::string& p) { return fs::weakly_canonical(fs::absolute(p)); };
    auto claim = [&](const std::string& out, const std::string& image, const char* option) {
      if (const std::string* read = reads.replacedBy(out))
        throw vcCliUsage(std::string(option) + ": " + out + " would replace " + *read +
                         ", which this run reads");
      const auto other = writes.emplace(key(out), image);
      if (!other.second)
        throw vcCliUsage(std::string(option) + ": " + other.first->second + " and " + image +
                         " would both write " + out);
    };
    if (!o.report.empty()) {
      reportIndex = (fs::path(o.report) / "index.html").string();
      claim(reportIndex, "the index of the reports", "--report");
    }
    for (const std::string& f : files) {
      const std::string stem = fs::path(f).stem().string();
      if (!o.overlay.empty()) {
        overlay.push_back((fs::path(o.overlay) / (stem + "-overlay.png")).string());
        claim(overlay.back(), f, "--overlay");
      }
      if (!o.rectify.empty()) {
        rectified.push_back((fs::path(o.rectify) / (stem + "-rectified.png")).string());
        claim(rectified.back(), f, "--rectify");
      }
      if (!o.report.empty()) {
        // "...png" has the stem "..": its report would fill the folder above.
        if (stem == "." || stem == "..")
          throw vcCliUsage("--report: " + f + " has no name a report folder can take (" + stem +
                           "); rename the image");
        report.push_back((fs::path(o.report) / stem).string());
        claim(report.back(), f, "--report");
        // The report's own files go inside its folder.
        if (const std::string* name = reads.inFolder(report.back()))
          throw vcCliUsage("--report: " + report.back() + " would hold the report of " + f +
                           " beside " + *name + ", which this run reads");
      }
    }
  }
};

// The search-area mask: pixels left 0 are not searched.
vcPelBuffer<unsigned char> searchArea(const std::string& path) {
  vcPelBuffer<unsigned char> m = vfReadImage(path);
  for (long y = 0; y < m.height(); ++y)
    for (long x = 0; x < m.width(); ++x) m.set(x, y, m.get(x, y) ? 255 : 0);
  return m;
}

struct ImageOutput {
  bool error = false;
  bool found = false;
  std::string text;
  double ms = 0;            // run time
  vcCliReportEntry report;  // with --report: its line of the index
};

int run(const Options& o) {
  const vcPatternFile pattern = vfLoadPatternFile(o.pattern);
  const vcXform<2> start = o.start.empty() ? pattern.startPose : parseStart(o.start);
  const std::string ranges =
      vfTrainedRangeProblem(pattern.pattern.arrangement(), pattern.pattern.trainParams(),
                            pattern.runParams, pattern.instanceNames);
  if (!ranges.empty()) throw vcCliUsage(o.pattern + ": " + vfPrintable(ranges));
  const vcPelBuffer<unsigned char> mask =
      o.searchArea.empty() ? vcPelBuffer<unsigned char>() : searchArea(o.searchArea);
  const std::vector<std::string> files = imageList(o.images);
  const Outputs outputs(o, files);
  if (!o.overlay.empty()) vfMakeFolder(o.overlay);
  if (!o.report.empty()) vfMakeFolder(o.report);
  if (!o.rectify.empty()) vfMakeFolder(o.rectify);
  const std::size_t threads = std::min(std::size_t(o.jobs), files.size());
  // A pattern must not be shared between threads: every worker runs its own copy.
  const std::vector<vcPatternFile> copies(threads, pattern);

  auto work = [&](std::size_t i, std::size_t worker) {
    const vcPatternFile& own = copies[worker];
    ImageOutput out;
    try {
      const vcPelBuffer<unsigned char> img = vfReadImage(files[i]);
      if (mask.isBound() && (mask.width() != img.width() || mask.height() != img.height()))
        throw vcCliUsage("the search area " + o.searchArea + " is " + std::to_string(mask.width()) +
                         " x " + std::to_string(mask.height()) + ", the image " +
                         std::to_string(img.width()) + " x " + std::to_string(img.height()));
      std::unique_ptr<vcDiagObject> diag;
      if (!o.report.empty()) diag = std::make_unique<vcDiagObject>();
      vcFlexAlignRunParams settings = own.runParams;
      // Jobs already keep the cores busy: each run then takes one thread unless told.
      settings.threads(o.threads >= 0 ? o.threads : threads > 1 ? 1 : 0);
      vcCliImageRun r = vfRunCliImage(own, files[i], img, mask, start, settings, diag.get(),
                                      diag ? kReportFlags : 0);
      out.ms = r.ms;
      if (!o.rectify.empty()) vfWriteCliRectified(outputs.rectified[i], img, r);
      if (diag) {
        vcDiagFolderRecorder report(outputs.report[i], vfPngDiagEncoder());
        vfReadableParams(*diag, report, own, start);
        vfRecordCliReasons(report, r, img);
        report.flush();
        out.report = vfCliReportEntry(r, fs::path(outputs.report[i]).filename().string());
      }
      if (!o.overlay.empty()) vfWriteCliOverlay(outputs.overlay[i], own, img, r);
      out.found = vfRunFound(r);
      out.text = o.json ? vfRunRecordLine(r) : vfCliTable(r);
    } catch (const std::exception& e) {
      out.error = true;
      const std::string text = vfErrorText(e);
      out.report = vcCliReportEntry{files[i], "", vfPrintable(text), false, -1, 0};
      // Reader errors start with the file's name already.
      out.text = "flexalign: " +
                 vfPrintable(text.rfind(files[i] + ":", 0) == 0 ? text : files[i] + ": " + text) +
                 "\n";
    }
    return out;
  };

  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  long found = 0, errors = 0;
  double runMs = 0;
  std::vector<vcCliReportEntry> reports;
  auto deliver = [&](std::size_t i, ImageOutput out) {
    if (progress) std::fputs("\r\033[K", stderr);
    reports.push_back(out.report);
    if (out.error) {
      std::fputs(out.text.c_str(), stderr);
      status = 2;
      ++errors;
    } else {
      std::fputs(out.text.c_str(), stdout);
      std::fflush(stdout);
      if (!out.found && status == 0) status = 1;
      found += out.found;
      runMs += out.ms;
    }
    if (progress) {
      const double s = vfMsSince(t0) / 1000.0, rate = double(i + 1) / std::max(s, 1e-9);
      std::fprintf(stderr, "%zu/%zu images, %.1f images/s, %.1f s left", i + 1, files.size(), rate,
                   double(files.size() - i - 1) / rate);
    }
  };
  vfRunInOrder<ImageOutput>(files.size(), threads, work, deliver);
  if (progress) std::fputs("\r\033[K", stderr);
  if (!o.report.empty()) vfWriteCliReportIndex(outputs.reportIndex, reports);
  if (!o.json) {
    const long ran = long(files.size()) - errors;
    std::printf(
        "%zu image%s: %ld found, %ld not found, %ld error%s; %.1f ms per image run, %.2f s "
        "in all\n",
        files.size(), files.size() == 1 ? "" : "s", found, ran - found, errors,
        errors == 1 ? "" : "s", ran ? runMs / double(ran) : 0.0, vfMsSince(t0) / 1000.0);
  }
  return status;
}

}  // namespace run_command

vcCliRunner vfRunCommand(CLI::App& app) {
  using namespace run_command;
  vfCliHelpFormat(
      app, "flexalign run PATTERN IMAGE... [options]",
      "  IMAGE is a PNG, JPEG, TIFF, BMP or binary PGM file, or a folder (its image files by\n"
      "  extension, sorted, leaving out this program's own *-overlay.png and *-rectified.png).\n"
      "  The table ends with a summary line. Exit status 0 when a part was found in every\n"
      "  image, 1 when some image has none, 2 on bad input.");
  auto o = std::make_shared<Options>();
  app.add_option("PATTERN", o->pattern, "the pattern file `flexalign train` wrote")->required();
  app.add_option("IMAGE", o->images, "image files or folders")->required();
  app.add_option("--start", o->start,
                 "expected pose of the part: where the origin lies, its angle in degrees and its "
                 "scale factor (default: the pattern's)")
      ->type_name("x,y,angle,scale")
      ->check(vfCliNotEmpty("x,y,angle,scale"));
  app.add_flag("--json", o->json, "one JSON object per image (JSON lines) instead of tables");
  app.add_option("--overlay", o->overlay,
                 "write DIR/<image>-overlay.png with what was found (never over an input)")
      ->type_name("DIR")
      ->check(vfCliNotEmpty("a folder"));
  app.add_option("--report", o->report,
                 "write the diagnostic report of each run (DIR/<image>/) and an index of them "
                 "(DIR/index.html)")
      ->type_name("DIR")
      ->check(vfCliNotEmpty("a folder"));
  app.add_option("--rectify", o->rectify,
                 "write DIR/<image>-rectified.png: the image brought back into the part's trained "
                 "layout through the best result's pieces (with --json, each piece's largest "
                 "displacement)")
      ->type_name("DIR")
      ->check(vfCliNotEmpty("a folder"));
  app.add_option("--search-area", o->searchArea,
                 "search only where this image (the size of every run image) is not 0")
      ->type_name("MASK")
      ->check(vfCliNotEmpty("an image file"));
  const long most = vcFlexLimits::kMaxThreads;
  app.add_option("--jobs", o->jobs,
                 "run images on N threads, 1 to " + std::to_string(most) + " (default 1)")
      ->type_name("N")
      ->check(CLI::Range(1L, most).description(""));
  app.add_option("--threads", o->threads,
                 "threads of one image's run, 0 for the machine's (default: the machine's with "
                 "--jobs 1, else 1); results do not depend on it")
      ->type_name("N")
      ->check(CLI::Range(0L, most).description(""));
  return [o] { return run(*o); };
}
