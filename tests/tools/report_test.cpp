#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/diag/vcDiag.h"
#include "support/text_files.h"
#include "tools/io/vcImageFile.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"

#if __has_include(<png.h>)
#include <png.h>
#define VCFLEX_TEST_PNG 1
#endif

// The report of a FlexAlign run as a person sees it: written with PNG images, opened in a
// headless browser.
namespace {

namespace fs = std::filesystem;
using FD = vcFlexAlignDefs;

using vcTest::count;
using vcTest::readFile;

vcFlexAlignRunParams runParams(double xy) {
  vcFlexSubModelGfndRunParams sub;
  sub.xyUncertainty(6, 6);
  sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4, 4);
  vcFlexAlignRunParams rp(sub);
  rp.runStrategy(FD::eLocallyFixturedSubModels);
  rp.xyUncertainty(xy, xy);
  rp.zoneEnable(FD::eAngle);
  rp.zoneRelStandard(FD::eAngle, -10, 10);
  return rp;
}

struct RecordedRun {
  vcFlexSample sample;
  vcFlexAlignPattern pattern;
  vcFlexSampleImage image;
  vcFlexAlignResultSet results;
  // Trains the part, renders it turned and moved, and runs with the report recorded.
  RecordedRun(vcFlexSample s, const fs::path& dir, unsigned long flags) : sample(std::move(s)) {
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, 5.0, 1.0, 10, -6);
    image = vfRenderFlexSample(sample, opt);
    fs::remove_all(dir);
    vcDiagFolderRecorder rec(dir.string(), vfPngDiagEncoder());
    pattern.run(image.image, vc2XformLinear(vfFlexSamplePose(sample, 0, 1)), {}, runParams(30),
                results, &rec, flags);
  }
};

TEST(Report, ThirtyTwoInstanceRunStaysSmallAndCollapsed) {
  const fs::path dir = fs::temp_directory_path() / "vcflex_report_grid";
  const RecordedRun run(vfMakeFlexGridSample(8, 4), dir, vcDiagDefs::eAll);
  ASSERT_EQ(run.results.results().size(), 1u);
  EXPECT_EQ(run.results.results()[0].positionIndices().size(), 32u);
  const std::string html = readFile(dir / "index.html");
  ASSERT_FALSE(html.empty());
  // Every record is a section; only the top level starts open.
  const std::size_t sections = count(html, "<details class=\"rec\"");
  EXPECT_GT(sections, 40u);
  EXPECT_EQ(count(html, "\" open><summary>"), count(html, "data-level=\"0\" open>"));
  EXPECT_LT(count(html, "data-level=\"0\""), sections);
  // The run image appears in most records but is stored once.
  EXPECT_LE(count(html, "<image id="), 4u);
  EXPECT_NE(html.find("data:image/png;base64,"), std::string::npos);
  EXPECT_LT(html.size(), 3u << 20) << "bytes";
  EXPECT_NE(html.find("<th>Instances found (best result)</th><td>32 of 32</td>"),
            std::string::npos);
  fs::remove_all(dir);
}

#ifdef VCFLEX_TEST_PNG

const char* kChromium = "/usr/bin/chromium";

// Runs headless Chromium on the page; false when it did not finish.
bool chromium(const std::string& args, const fs::path& page, const fs::path& out,
              const fs::path& err) {
  const std::string cmd = std::string("timeout 120 ") + kChromium +
                          " --headless --disable-gpu --no-sandbox --hide-scrollbars "
                          "--user-data-dir=" +
                          (page.parent_path() / "profile").string() + " " + args + " 'file://" +
                          page.string() + "' >" + out.string() + " 2>" + err.string();
  return std::system(cmd.c_str()) == 0;
}

struct Rgb {
  std::vector<unsigned char> px;
  long w = 0, h = 0;
  const unsigned char* at(long x, long y) const { return &px[std::size_t(3 * (y * w + x))]; }
  bool inside(long x, long y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  // How much greener than red and blue: found pieces are drawn green over a grey image.
  double green(long x, long y) const {
    const unsigned char* p = at(x, y);
    return std::max(0, int(p[1]) - std::max(int(p[0]), int(p[2])));
  }
};

Rgb readRgb(const fs::path& path) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  Rgb out;
  if (!png_image_begin_read_from_file(&img, path.string().c_str())) return out;
  img.format = PNG_FORMAT_RGB;
  out.px.resize(PNG_IMAGE_SIZE(img));
  out.w = img.width, out.h = img.height;
  if (!png_image_finish_read(&img, nullptr, out.px.data(), 0, nullptr)) out = Rgb();
  return out;
}

TEST(Report, OpensInABrowserWithItsLayersOverTheImage) {
  if (!fs::exists(kChromium))
    GTEST_SKIP() << "chromium is not installed (scripts/setup installs it where it can)";
  const fs::path dir = fs::temp_directory_path() / "vcflex_report_browser";
  const RecordedRun full(vfMakeFlexSample(), dir / "full", vcDiagDefs::eAll);
  ASSERT_EQ(full.results.numFound(), 1);

  // The page loads without a script error and shows the run's records.
  ASSERT_TRUE(chromium("--enable-logging=stderr --v=0 --dump-dom", dir / "full" / "index.html",
                       dir / "dom.html", dir / "log.txt"))
      << readFile(dir / "log.txt");
  const std::string dom = readFile(dir / "dom.html"), log = readFile(dir / "log.txt");
  EXPECT_NE(dom.find("data-ready=\"1\""), std::string::npos);
  EXPECT_EQ(dom.find("data-errors="), std::string::npos);
  EXPECT_EQ(log.find("Uncaught"), std::string::npos) << log;
  EXPECT_EQ(log.find("CONSOLE"), std::string::npos) << log;
  for (const char* t :
       {"FlexAlign Tool Run Inputs", "FlexAlign Params", "FlexAlign Tool Run Outputs"})
    EXPECT_NE(dom.find(std::string(". ") + t + "</summary>"), std::string::npos) << t;

  // The outputs record (after the sub-model tools' own), shown at twice the screen resolution
  // so that half a pixel shows.
  const RecordedRun outputs(vfMakeFlexSample(), dir / "outputs", vcDiagDefs::eOutputs);
  const std::string page = readFile(dir / "outputs" / "index.html");
  const auto title = page.find(". FlexAlign Tool Run Outputs</summary>");
  ASSERT_NE(title, std::string::npos);
  const auto id = page.rfind(" id=\"record_", title);
  ASSERT_NE(id, std::string::npos);
  // A copy of the page that hides the other top-level records, so that this one is in view.
  std::string alone = page;
  alone.insert(alone.find("</head>"),
               "<style>details.rec:not(#" + page.substr(id + 5, 11) + "){display:none}</style>");
  std::ofstream(dir / "outputs" / "alone.html", std::ios::binary) << alone;
  ASSERT_TRUE(chromium("--window-size=700,1000 --force-device-scale-factor=2 --screenshot=" +
                           (dir / "shot.png").string(),
                       dir / "outputs" / "alone.html", dir / "out.txt", dir / "err.txt"))
      << readFile(dir / "err.txt");
  const Rgb shot = readRgb(dir / "shot.png");
  ASSERT_GT(shot.w, 0) << "no screenshot";
  const double dsf = 2.0;
  // The picture's frame is a 2-pixel magenta outline just outside it.
  long x0 = shot.w, y0 = shot.h, x1 = -1, y1 = -1;
  for (long y = 0; y < shot.h; ++y)
    for (long x = 0; x < shot.w; ++x) {
      const unsigned char* p = shot.at(x, y);
      if (p[0] > 240 && p[1] < 20 && p[2] > 240)
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
  ASSERT_GE(x1, 0) << "no picture frame in the screenshot";
  const double ox = x0 + 2 * dsf, oy = y0 + 2 * dsf;
  const vcPelBuffer_const<unsigned char>& img = outputs.image.image;
  EXPECT_NEAR(x1 + 1 - x0, (img.width() + 4) * dsf, 1);
  EXPECT_NEAR(y1 + 1 - y0, (img.height() + 4) * dsf, 1);
  auto screen = [&](const vcVector<2>& p) {  // image coordinates, pixel centres whole
    return vcVector<2>(ox + (p.x() + 0.5) * dsf, oy + (p.y() + 0.5) * dsf);
  };

  // The image's pixels are where they belong: grey samples away from the overlays match.
  long grey = 0, same = 0;
  for (long y = 0; y < img.height(); y += 5)
    for (long x = 0; x < img.width(); x += 7) {
      const vcVector<2> s = screen({double(x), double(y)});
      const unsigned char* p = shot.at(long(s.x()), long(s.y()));
      if (p[0] != p[1] || p[1] != p[2]) continue;
      ++grey;
      same += std::abs(int(p[0]) - int(img.get(x, y))) <= 2;
    }
  EXPECT_GT(grey, 4000);
  EXPECT_GT(same, grey * 95 / 100);

  // The drawn outlines of the wireframe pieces lie on the true edges: across each edge, the
  // green line's centre is within a fraction of a pixel of the edge's true place.
  std::vector<double> offsets;
  const vcFlexSample& s = outputs.sample;
  for (std::size_t k = 0; k < s.instanceShapes.size(); ++k) {
    const vcPtrHandle_const<vc2XformBase> placement = s.arrangement.positions()[k];
    const vcFlexSubModel& sm =
        s.arrangement.subModels()[std::size_t(s.arrangement.subModelIndices()[k])];
    if (sm.modelType() != vcFlexModelDefs::eSynthetic) continue;
    const vcPtrHandle<vc2XformBase> toImage =
        vc2XformLinear(outputs.image.truth[k]).composeBase(*placement->inverseBase());
    for (const vcSampleShape& sh : s.instanceShapes[k]) {
      for (std::size_t i = 0; i < sh.vertices.size(); ++i) {
        const vcVector<2> a = toImage->mapPoint(sh.vertices[i]);
        const vcVector<2> b = toImage->mapPoint(sh.vertices[(i + 1) % sh.vertices.size()]);
        if (a.distance(b) < 16) continue;
        const vcVector<2> n = vcVector<2>(a.y() - b.y(), b.x() - a.x()) / a.distance(b);
        for (double t : {0.3, 0.5, 0.7}) {
          const vcVector<2> c = screen(a + (b - a) * t);
          double sw = 0, swd = 0;
          for (double d = -3 * dsf; d <= 3 * dsf; d += 0.5) {
            const long x = std::lround(c.x() + n.x() * d - 0.5),
                       y = std::lround(c.y() + n.y() * d - 0.5);
            if (!shot.inside(x, y)) continue;
            const double w = shot.green(x, y);
            sw += w, swd += w * d;
          }
          if (sw > 0) offsets.push_back(std::fabs(swd / sw) / dsf);
        }
      }
    }
  }
  ASSERT_GE(offsets.size(), 12u);
  std::sort(offsets.begin(), offsets.end());
  EXPECT_LT(offsets[offsets.size() / 2], 0.2) << "median offset, image pixels";
  EXPECT_LT(offsets[offsets.size() * 4 / 5], 0.35) << "80th percentile";
  fs::remove_all(dir);
}

#endif

}  // namespace
