// The flexalign command: a demo on built-in sample data, and train / run / info on a user's
// own part description, pattern files and images.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <typeinfo>

#include "platform/core/vcException.h"
#include "platform/diag/vcDiag.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/cli/vcCliExample.h"
#include "tools/cli/vcCliPattern.h"
#include "tools/cli/vcCliResults.h"
#include "tools/common/vcFlexSample.h"
#include "tools/common/vcPngIo.h"
#include "vcFlexAlign.h"

namespace {

namespace fs = std::filesystem;
constexpr double kPi = 3.14159265358979323846;
// Inputs and outputs of each run; enough for a person to see what was searched and found.
constexpr unsigned long kReportFlags = 0x30000;

// Bad input: reported on one line, exit status 2.
struct Usage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const char* kMainHelp =
    "usage: flexalign [demo] [options]            run the demo on built-in sample data\n"
    "       flexalign train DESCRIPTION -o PATTERN train a pattern from a part description\n"
    "       flexalign run PATTERN IMAGE... [options] find the part in images\n"
    "       flexalign info PATTERN                 show what a pattern holds\n"
    "Each command takes --help. Exit status: 0 all found, 1 a part was not found, 2 bad input.\n";

const char* kDemoHelp =
    "usage: flexalign demo [--out DIR] [--json] [--write-example DIR]\n"
    "  Builds the sample part (image, masked, wireframe and blank sub-models), renders five\n"
    "  images (pieces displaced, turned and scaled; noise and clutter; one piece hidden; two\n"
    "  copies), trains, runs and prints a table per image.\n"
    "  --out DIR            where the overlays and the report go (default: a new folder\n"
    "                       flexalign-demo-<time> under the current directory)\n"
    "  --json               one JSON object per image instead of the tables\n"
    "  --write-example DIR  write the part description (part.json), its images and the\n"
    "                       demo's run images into DIR, and stop\n";

const char* kTrainHelp =
    "usage: flexalign train DESCRIPTION -o PATTERN\n"
    "  Reads the JSON part description (see the README, or `flexalign demo --write-example`),\n"
    "  trains the pattern and writes it with the description's run settings to PATTERN.\n";

const char* kRunHelp =
    "usage: flexalign run PATTERN IMAGE... [options]\n"
    "  IMAGE is a PNG or binary PGM file, or a folder (its .png and .pgm files, sorted).\n"
    "  --start x,y,angle,scale  expected pose of the part (default: the pattern's)\n"
    "  --json                   one JSON object per image (JSON lines) instead of tables\n"
    "  --overlay DIR            write <image>.png with the found outlines per image\n"
    "  --report DIR             write the diagnostic report of each run (DIR/<image>/)\n"
    "  --jobs N                 run images on N threads (default 1)\n";

const char* kInfoHelp =
    "usage: flexalign info PATTERN\n"
    "  Lists the pattern's sub-models, instances, engines and run settings.\n";

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

std::string stem(const std::string& path) { return fs::path(path).stem().string(); }

void makeFolder(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) throw Usage(dir + ": cannot create the folder");
}

// Options after the command's positional arguments, in any order.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;

  Args(int argc, char** argv, int from, std::initializer_list<const char*> flags,
       std::initializer_list<const char*> valued) {
    for (int i = from; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--help" || a == "-h") {
        help = true;
      } else if (a.size() > 1 && a[0] == '-') {
        bool known = false;
        for (const char* f : flags)
          if (a == f) options.emplace_back(a, ""), known = true;
        for (const char* v : valued)
          if (a == v) {
            if (i + 1 >= argc) throw Usage("option " + a + " needs a value");
            options.emplace_back(a, argv[++i]);
            known = true;
          }
        if (!known) throw Usage("unknown option " + a);
      } else {
        positional.push_back(a);
      }
    }
  }
  bool has(const char* o) const {
    for (const auto& p : options)
      if (p.first == o) return true;
    return false;
  }
  std::string value(const char* o, const std::string& fallback = "") const {
    std::string v = fallback;
    for (const auto& p : options)
      if (p.first == o) v = p.second;
    return v;
  }
};

vcXform<2> parseStart(const std::string& s) {
  double v[4];
  char tail = 0;
  if (std::sscanf(s.c_str(), "%lf,%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4 ||
      !(v[3] > 0) || !std::isfinite(v[0] + v[1] + v[2] + v[3]))
    throw Usage("--start " + s + ": expected x,y,angle,scale (four numbers, scale > 0)");
  const double a = v[2] * kPi / 180.0;
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
        if (e.is_regular_file() && (ext == ".png" || ext == ".pgm"))
          in.push_back(e.path().string());
      }
      std::sort(in.begin(), in.end());
      if (in.empty()) throw Usage(a + ": the folder holds no .png or .pgm image");
      out.insert(out.end(), in.begin(), in.end());
    } else {
      out.push_back(a);
    }
  }
  return out;
}

// ------------------------------------------------------------------------- demo

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

// Run settings per demo image: the hidden key is required; two small copies need the whole
// image and a smaller scale.
vcFlexAlignRunParams demoRunParams(const vcCliPattern& p, const DemoImage& d) {
  vcFlexAlignRunParams rp = p.runParams;
  if (d.hidden >= 0) {
    vcPtrHandle<vcFlexSubModelRunParams> q = rp.subModelInstanceParams(d.hidden).clone();
    q->required(true);
    rp.custom(d.hidden, *q);
  }
  if (d.options.secondCopy) {
    rp.xyUncertainty(320, 240);
    rp.zoneRelStandard(vcFlexAlignDefs::eUniformScale, -0.45, -0.3);
    rp.numToFind(2);
  }
  return rp;
}

// Pieces farther than 0.5 px from where they were drawn, or missing when they should not be.
int demoMisses(const vcFlexSample& s, const DemoImage& d, const vcFlexSampleImage& img,
               const vcCliImageRun& r) {
  int misses = 0;
  const std::size_t want = d.options.secondCopy ? 2 : 1;
  if (r.parts.size() != want) return 1 + int(want);
  for (const vcCliPart& part : r.parts) {
    const vcVector<2> at(part.x, part.y);
    const bool second = d.options.secondCopy && at.distance(d.options.secondPose.trans()) <
                                                    at.distance(d.options.partPose.trans());
    const std::vector<vcXform<2>>& truth = second ? img.secondTruth : img.truth;
    if (part.found != (d.hidden < 0)) ++misses;
    for (std::size_t k = 0; k < part.instances.size(); ++k) {
      const vcCliInstance& in = part.instances[k];
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

void writeImage(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  vfWriteImage(path, img);
}

int demo(int argc, char** argv, int from) {
  const Args args(argc, argv, from, {"--json"}, {"--out", "--write-example"});
  if (args.help) return std::fputs(kDemoHelp, stdout), 0;
  if (!args.positional.empty()) throw Usage("demo takes no argument " + args.positional[0]);
  const vcFlexSample sample = vfMakeFlexSample();
  const vcCliExample example = vfSampleExample(sample);
  const std::vector<DemoImage> images = demoImages(sample);
  const std::string ext = vfHavePng() ? ".png" : ".pgm";

  if (args.has("--write-example")) {
    const std::string dir = args.value("--write-example");
    makeFolder(dir);
    nlohmann::json d = example.description;
    if (!vfHavePng()) d["trainImage"] = "train.pgm";
    std::ofstream(fs::path(dir) / "part.json") << d.dump(2) << "\n";
    for (const auto& [name, img] : example.images)
      writeImage((fs::path(dir) / (stem(name) + ext)).string(), img);
    for (std::size_t i = 0; i < images.size(); ++i)
      writeImage((fs::path(dir) / ("image-" + std::to_string(i + 1) + ext)).string(),
                 vfRenderFlexSample(sample, images[i].options).image);
    std::printf("wrote the example part description %s with its images\n",
                (fs::path(dir) / "part.json").string().c_str());
    std::printf("try: flexalign train %s -o part.fxp && flexalign run part.fxp %s\n",
                (fs::path(dir) / "part.json").string().c_str(),
                (fs::path(dir) / ("image-1" + ext)).string().c_str());
    return 0;
  }

  const bool json = args.has("--json");
  const std::string out = args.value("--out", freshFolder());
  makeFolder(out);
  if (!json)
    std::printf(
        "flexalign %s demo: the sample part has %zu pieces of %zu sub-models; images are "
        "640 x 480 with noise and clutter\n",
        vfFlexAlignVersion(), sample.instanceNames.size(), sample.arrangement.subModels().size());
  const auto t0 = std::chrono::steady_clock::now();
  const vcCliTrainJob job =
      vfParseDescription(example.description, "demo part",
                         [&](const std::string& name) { return example.images.at(name); });
  const vcCliPattern pattern = vfTrainCliPattern(job);
  if (!json)
    std::printf("trained %zu sub-model tools in %.1f ms\n\n", pattern.pattern.tools().size(),
                msSince(t0));

  int misses = 0;
  {
    vcDiagFolderRecorder report((fs::path(out) / "report").string(), vfPngDiagEncoder());
    for (std::size_t i = 0; i < images.size(); ++i) {
      const DemoImage& d = images[i];
      const vcFlexSampleImage img = vfRenderFlexSample(sample, d.options);
      const std::string name = "image-" + std::to_string(i + 1);
      const vcCliImageRun r = vfRunCliImage(pattern, name, img.image, pattern.startPose,
                                            demoRunParams(pattern, d), &report, kReportFlags);
      const int m = demoMisses(sample, d, img, r);
      misses += m;
      if (json) {
        std::printf("%s\n", vfCliJson(r).dump().c_str());
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
    report.flush();
  }
  if (!json)
    std::printf("%s\nOverlays: %s/image-N-overlay.png; report: %s/report/index.html\n",
                misses ? "Some results were not as expected." : "All results as expected.",
                out.c_str(), out.c_str());
  return misses ? 1 : 0;
}

// ------------------------------------------------------------------------- train, info

int train(int argc, char** argv, int from) {
  const Args args(argc, argv, from, {}, {"-o", "--output"});
  if (args.help) return std::fputs(kTrainHelp, stdout), 0;
  if (args.positional.size() != 1) throw Usage("train needs one DESCRIPTION (see --help)");
  const std::string out = args.value("-o", args.value("--output"));
  if (out.empty()) throw Usage("train needs -o PATTERN");
  const auto t0 = std::chrono::steady_clock::now();
  const vcCliTrainJob job = vfReadDescription(args.positional[0]);
  vcCliPattern p;
  try {
    p = vfTrainCliPattern(job);
  } catch (const vcException& e) {
    throw Usage(args.positional[0] + ": training failed: " + e.what());
  }
  vfSaveCliPattern(out, p);
  std::printf("trained %zu instances of %zu sub-models (%zu tools) in %.1f ms; wrote %s\n",
              job.instanceNames.size(), job.arrangement.subModels().size(),
              p.pattern.tools().size(), msSince(t0), out.c_str());
  return 0;
}

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

int info(int argc, char** argv, int from) {
  const Args args(argc, argv, from, {}, {});
  if (args.help) return std::fputs(kInfoHelp, stdout), 0;
  if (args.positional.size() != 1) throw Usage("info needs one PATTERN (see --help)");
  const vcCliPattern p = vfLoadCliPattern(args.positional[0]);
  const vcFlexArrangement& a = p.pattern.arrangement();
  std::printf("%s: %zu sub-models, %zu instances, %zu trained tools\n", args.positional[0].c_str(),
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
        x.matrix().rotation().toDouble() * 180 / kPi, x.matrix().scale(),
        a.subModels()[std::size_t(a.subModelIndices()[k])].modelType() == vcFlexModelDefs::eBlank
            ? "none (place holder)"
        : geofind ? "geofind"
                  : "correlation",
        p.runParams.subModelInstanceParams(long(k)).required() ? ", required" : "");
  }
  const vcXform<2>& s = p.startPose;
  std::printf("run defaults: start (%.2f, %.2f), angle %.3f deg, scale %.4f\n%s", s.trans().x(),
              s.trans().y(), s.matrix().rotation().toDouble() * 180 / kPi, s.matrix().scale(),
              p.runParams.toDebugString().c_str());
  return 0;
}

// ------------------------------------------------------------------------- run

// Runs images on worker threads (each with its own pattern copy) and hands the outputs back
// in input order.
struct RunOutput {
  bool done = false;
  bool error = false;
  bool found = false;
  std::string text;
};

int run(int argc, char** argv, int from) {
  const Args args(argc, argv, from, {"--json"}, {"--start", "--overlay", "--report", "--jobs"});
  if (args.help) return std::fputs(kRunHelp, stdout), 0;
  if (args.positional.size() < 2)
    throw Usage("run needs a PATTERN and at least one IMAGE (see --help)");
  long jobs = 1;
  if (args.has("--jobs")) {
    const std::string v = args.value("--jobs");
    char* end = nullptr;
    jobs = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || jobs < 1 || jobs > 256)
      throw Usage("--jobs " + v + ": expected 1 to 256");
  }
  const bool json = args.has("--json");
  const std::string overlay = args.value("--overlay"), report = args.value("--report");
  if (!overlay.empty()) makeFolder(overlay);
  if (!report.empty()) makeFolder(report);
  const vcCliPattern pattern = vfLoadCliPattern(args.positional[0]);
  const vcXform<2> start =
      args.has("--start") ? parseStart(args.value("--start")) : pattern.startPose;
  const std::vector<std::string> files =
      imageList(std::vector<std::string>(args.positional.begin() + 1, args.positional.end()));

  std::vector<RunOutput> outputs(files.size());
  std::mutex mu;
  std::condition_variable cv;
  std::atomic<std::size_t> next{0};
  auto worker = [&](const vcCliPattern& own) {
    for (std::size_t i; (i = next++) < files.size();) {
      RunOutput o;
      try {
        const vcPelBuffer<unsigned char> img = vfReadImage(files[i]);
        std::unique_ptr<vcDiagFolderRecorder> diag;
        if (!report.empty())
          diag =
              std::make_unique<vcDiagFolderRecorder>((fs::path(report) / stem(files[i])).string(),
                                                        vfPngDiagEncoder());
        const vcCliImageRun r = vfRunCliImage(own, files[i], img, start, own.runParams, diag.get(),
                                              diag ? kReportFlags : 0);
        if (diag) diag->flush();
        if (!overlay.empty())
          vfWriteCliOverlay((fs::path(overlay) / (stem(files[i]) + ".png")).string(), own, img, r);
        o.found = vfCliPartFound(r);
        o.text = json ? vfCliJson(r).dump() + "\n" : vfCliTable(r);
      } catch (const std::exception& e) {
        o.error = true;
        o.text = std::string("flexalign: ") + e.what() + "\n";
      }
      o.done = true;
      std::lock_guard<std::mutex> lock(mu);
      outputs[i] = std::move(o);
      cv.notify_all();
    }
  };
  // A pattern must not be shared between threads: every worker runs its own copy.
  std::vector<vcCliPattern> copies(std::size_t(std::min<long>(jobs, long(files.size()))) - 1,
                                   pattern);
  std::vector<std::thread> threads;
  for (vcCliPattern& c : copies) threads.emplace_back(worker, std::cref(c));
  std::thread first(worker, std::cref(pattern));

  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return outputs[i].done; });
    RunOutput o = std::move(outputs[i]);
    lock.unlock();
    if (progress) std::fputs("\r\033[K", stderr);
    if (o.error) {
      std::fputs(o.text.c_str(), stderr);
      status = 2;
    } else {
      std::fputs(o.text.c_str(), stdout);
      std::fflush(stdout);
      if (!o.found && status == 0) status = 1;
    }
    if (progress) {
      const double s = msSince(t0) / 1000.0, rate = double(i + 1) / std::max(s, 1e-9);
      std::fprintf(stderr, "%zu/%zu images, %.1f images/s, %.1f s left", i + 1, files.size(), rate,
                   double(files.size() - i - 1) / rate);
    }
  }
  if (progress) std::fputs("\r\033[K", stderr);
  first.join();
  for (std::thread& t : threads) t.join();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "demo";
  try {
    if (cmd == "demo") return demo(argc, argv, 2);
    if (cmd == "train") return train(argc, argv, 2);
    if (cmd == "run") return run(argc, argv, 2);
    if (cmd == "info") return info(argc, argv, 2);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return std::fputs(kMainHelp, stdout), 0;
    // Plain `flexalign --out DIR` and friends are the demo's options.
    if (!cmd.empty() && cmd[0] == '-') return demo(argc, argv, 1);
    throw Usage("unknown command " + cmd + " (try flexalign --help)");
  } catch (const Usage& e) {
    std::fprintf(stderr, "flexalign: %s\n", e.what());
  } catch (const vcBadParams& e) {
    std::fprintf(stderr, "flexalign: %s\n", e.what());
  } catch (const std::exception& e) {
    // Library errors without a text still say what kind they are.
    std::fprintf(stderr, "flexalign: %s\n", *e.what() ? e.what() : typeid(e).name());
  }
  return 2;
}
