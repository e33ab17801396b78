// What the command prints and draws for people: what `info` says a run searches, the summary
// line of a table, why a part was missed, overlays and the report's index, driven as a user
// drives the command.
#include <png.h>

#include <cmath>
#include <regex>

#include "support/flexalign_cli.h"
#include "tools/io/vcImageFile.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vcTest::Cli;
using vcTest::Ran;
using vcTest::readFile;

struct Overlay {
  long width = 0, height = 0;
  std::vector<unsigned char> px;  // r, g, b per pixel
  long count(unsigned char r, unsigned char g, unsigned char b, long rows = -1) const {
    long n = 0;
    for (long i = 0; i < width * (rows < 0 ? height : rows); ++i)
      n += px[3 * i] == r && px[3 * i + 1] == g && px[3 * i + 2] == b;
    return n;
  }
};

Overlay readOverlay(const fs::path& path) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  Overlay out;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return out;
  img.format = PNG_FORMAT_RGB;
  out.px.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.px.data(), 0, nullptr)) return out;
  out.width = img.width, out.height = img.height;
  return out;
}

TEST_F(Cli, InfoSaysHowFarARunSearchesEachPiece) {
  // Pieces with no uncertainty of their own are still searched the engine's coarse grid (4
  // pixels, twice) about their predicted place; the first piece also the part's 320 x 240.
  const std::string still = variant("still.json", [](json& d) {
    d["run"]["subModels"]["xyUncertainty"] = {0, 0};
  });
  ASSERT_EQ(run("train " + still + " -o " + ex("still.fxp")).status, 0);
  const Ran info = run("info " + ex("still.fxp"));
  EXPECT_EQ(info.out.find("within 0 x 0"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("searched +-8 x 8 px, angle -4 to 4 deg about its predicted place; as "
                          "the first piece +-320 x 240 px, angle -19 to 19 deg about the start "
                          "pose"),
            std::string::npos)
      << info.out;
  // The independent strategy searches every piece about the start pose.
  const std::string apart =
      variant("apart.json", [](json& d) { d["run"]["strategy"] = "independent"; });
  ASSERT_EQ(run("train " + apart + " -o " + ex("apart.fxp")).status, 0);
  EXPECT_NE(run("info " + ex("apart.fxp"))
                .out.find("searched +-326 x 246 px, angle -19 to 19 deg about the start pose\n"),
            std::string::npos);
}

TEST_F(Cli, TablesEndWithASummaryAndMissesSayWhy) {
  vfWritePng(ex("blank.png"), vcPelBuffer<unsigned char>(640, 480));
  write("broken.png", "\x89PNG\r\n\x1a\n not really");
  const Ran r = run("run " + ex("part.fxp") + " " + ex("images") + " " + ex("blank.png") + " " +
                    ex("broken.png"));
  EXPECT_EQ(r.status, 2);
  const std::regex last(
      "7 images: 4 found, 2 not found, 1 error; [0-9.]+ ms per image run, [0-9.]+ s in all\n$");
  EXPECT_TRUE(std::regex_search(r.out, last)) << r.out;
  // Where nothing came back, the table says so rather than quoting a score of 0.
  EXPECT_EQ(r.out.find("best candidate 0.000"), std::string::npos);
  EXPECT_NE(r.out.find("why: no piece was found: 7 searched, no candidate came back"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("not found: searched, no candidate came back\n"), std::string::npos);
  // A part dropped under its accept threshold: the shares its score is the sum of, and the
  // pieces that pulled it down.
  const std::string strict =
      variant("strict.json", [](json& d) { d["run"]["acceptThreshold"] = 0.97; });
  ASSERT_EQ(run("train " + strict + " -o " + ex("strict.fxp")).status, 0);
  const std::string four = ex("images/image-4.png");
  const Ran table = run("run " + ex("strict.fxp") + " " + four);
  EXPECT_NE(table.out.find("is under the accept threshold 0.970; the pieces' shares (score times "
                           "weight, of the weight): body 0."),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("pulled down most by key 2 (not found, -0.0"), std::string::npos);
  const json dropped = lines(run("run " + ex("strict.fxp") + " " + four + " --json").out)[0];
  ASSERT_EQ(dropped["rejected"].size(), 1u);
  const json& part = dropped["rejected"][0];
  double shares = 0, weights = 0;
  for (const json& in : part["instances"]) {
    shares += double(in["share"]), weights += double(in["weight"]);
    EXPECT_NEAR(double(in["share"]), double(in["weight"]) * double(in["score"]), 1e-12);
  }
  EXPECT_NEAR(weights, 1.0, 1e-9);
  EXPECT_NEAR(shares, double(part["score"]), 1e-5) << "the part score is the sum of the shares";
}

TEST_F(Cli, OverlaysNameThePiecesAndShowTheClosestDropOfAMiss) {
  const std::string strict =
      variant("strict2.json", [](json& d) { d["run"]["acceptThreshold"] = 0.97; });
  ASSERT_EQ(run("train " + strict + " -o " + ex("strict2.fxp")).status, 0);
  const std::string four = ex("images/image-4.png");
  ASSERT_EQ(run("run " + ex("part.fxp") + " " + four + " --overlay " + ex("solid")).status, 1);
  ASSERT_EQ(run("run " + ex("strict2.fxp") + " " + four + " --overlay " + ex("dashed")).status, 1);
  const Overlay solid = readOverlay(ex("solid/image-4-overlay.png"));
  const Overlay dashed = readOverlay(ex("dashed/image-4-overlay.png"));
  ASSERT_EQ(solid.width, 640);
  ASSERT_EQ(dashed.width, 640);
  // The same place drawn both times: the part found without its key, and the combination
  // dropped under 0.97, dashed (4 on, 3 off).
  const double yellow = double(dashed.count(255, 210, 0)) / double(solid.count(255, 210, 0));
  EXPECT_GT(yellow, 0.45);
  EXPECT_LT(yellow, 0.75);
  // A caption on a dark band says nothing was found; names and scores are written in each
  // piece's colour (the missing key in red).
  EXPECT_GT(dashed.count(255, 255, 255, 12), 30);
  EXPECT_EQ(solid.count(255, 255, 255, 12), 0);
  EXPECT_GT(solid.count(255, 40, 40), 0);
  // At 1920 x 1440 lines and text are thicker than at 640 x 480: the green of the found pieces'
  // outlines and names grows by more than the picture's own factor of 3.
  const vcPelBuffer<unsigned char> small = vfReadImage(ex("images/image-1.png"));
  vcPelBuffer<unsigned char> big(1920, 1440);
  for (long y = 0; y < 1440; ++y)
    for (long x = 0; x < 1920; ++x) {
      // Bilinear, three times the size.
      const double sx = std::min((x + 0.5) / 3 - 0.5, 638.999),
                   sy = std::min((y + 0.5) / 3 - 0.5, 478.999);
      const long x0 = std::max(0L, long(sx)), y0 = std::max(0L, long(sy));
      const double fx = std::max(0.0, sx - x0), fy = std::max(0.0, sy - y0);
      const double top = small.get(x0, y0) * (1 - fx) + small.get(x0 + 1, y0) * fx;
      const double bottom = small.get(x0, y0 + 1) * (1 - fx) + small.get(x0 + 1, y0 + 1) * fx;
      big.set(x, y, static_cast<unsigned char>(std::lround(top * (1 - fy) + bottom * fy)));
    }
  vfWritePgm(ex("big.pgm"), big);
  ASSERT_EQ(
      run("run " + ex("part.fxp") + " " + ex("images/image-1.png") + " --overlay " + ex("sizes"))
          .status,
      0);
  const Ran r = run("run " + ex("part.fxp") + " " + ex("big.pgm") +
                    " --start 960,720,0,3 --overlay " + ex("sizes"));
  ASSERT_EQ(r.status, 0) << r.out;
  const Overlay one = readOverlay(ex("sizes/image-1-overlay.png")),
            six = readOverlay(ex("sizes/big-overlay.png"));
  ASSERT_EQ(six.width, 1920);
  EXPECT_GT(double(six.count(0, 235, 60)) / double(one.count(0, 235, 60)), 6.0);
}

TEST_F(Cli, ReportsOfAFolderHaveAnIndexAndReadableSettings) {
  const fs::path out = dir / "reports";
  const Ran r = run("run " + ex("part.fxp") + " " + ex("images") + " --report " + out.string());
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string index = readFile(out / "index.html");
  EXPECT_NE(index.find("5 images: 4 found, 1 not found, 0 errors"), std::string::npos) << index;
  const std::regex row(
      "<tr class=\"(found|missed)\"><td><a href=\"([^\"]+)\">([^<]+)</a></td>"
      "<td>(found|not found)</td><td>([0-9.]+)</td><td>([0-9.]+)</td></tr>");
  long rows = 0;
  for (std::sregex_iterator it(index.begin(), index.end(), row), end; it != end; ++it, ++rows) {
    EXPECT_TRUE(fs::exists(out / (*it)[2].str())) << (*it)[2];
    EXPECT_EQ((*it)[4] == "found", (*it)[3].str().find("image-4") == std::string::npos);
  }
  EXPECT_EQ(rows, 5);
  // The settings as the description writes them: names and values, no enumerators.
  const std::string page = readFile(out / "image-1" / "index.html");
  EXPECT_EQ(page.find("Defs::"), std::string::npos);
  EXPECT_NE(page.find("&quot;strategy&quot;: &quot;locallyFixtured&quot;"), std::string::npos);
  EXPECT_NE(page.find("&quot;scale&quot;: [0.55, 1.1]"), std::string::npos);
  EXPECT_NE(page.find("&quot;angle&quot;: [-4, 4]"), std::string::npos);
}

}  // namespace
