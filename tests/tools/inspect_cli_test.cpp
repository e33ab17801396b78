// `flexalign inspect train` and `inspect run` on the flexed sample part: counts, the JSON record
// of a scratched part, exit statuses and refused input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/text_files.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcPatternFile.h"
#include "tools/testing/vcFlexSample.h"

namespace inspect_cli_test {

namespace fs = std::filesystem;
using nlohmann::json;

struct Ran {
  int status = -1;
  std::string out, err;
};

class InspectCli : public ::testing::Test {
 protected:
  static fs::path dir;
  static vcFlexSample sample;

  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("vccli_inspect_" + std::to_string(::getpid()));
    fs::create_directories(dir / "good");
    fs::create_directories(dir / "check");
    sample = vfMakeFlexSample();
    vcFlexAlignPattern pattern;
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    vcPatternFile file = vfPatternFileOf(pattern);
    file.runParams = vfFlexSampleRunParams(vcFlexAlignDefs::eLocallyFixturedSubModels, 0.5);
    file.startPose = vfFlexSamplePose(sample, 0, 1);
    vfSavePatternFile((dir / "part.fxp").string(), file);
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
      const vcFlexSampleImage img = render(seed);
      vfWritePng(
          (dir / (seed <= 10 ? "good" : "check") / ("p" + std::to_string(seed) + ".png")).string(),
          img.image);
    }
    // A scratch 3 px wide across the body, as drawn in the body's own frame.
    vcFlexSampleImage bad = render(13);
    const vcXform<2> toImage =
        bad.truth[0] *
        sample.arrangement.positions()[0]->inverseBase()->linearXform({0, 0}).xform();
    for (int t = 0; t <= 60; ++t) {
      const vcVector<2> q = toImage.mapPoint(vcVector<2>(60 + 0.75 * t, 120 + 1.0 * t));
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx)
          bad.image.set(std::lround(q.x()) + dx, std::lround(q.y()) + dy, 90);
    }
    scratchAt = toImage.mapPoint(vcVector<2>(82.5, 150));
    vfWritePng((dir / "check/scratched.png").string(), bad.image);
    vfWritePng((dir / "small.png").string(), vcPelBuffer<unsigned char>(320, 240));
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static vcFlexSampleImage render(std::uint32_t seed) {
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, -6.0 + seed, 1.0, double(seed % 5) - 2, 3);
    opt.seed = seed;
    return vfRenderFlexSample(sample, opt);
  }

  static Ran run(const std::string& args) {
    const std::string cmd =
        "cd '" + dir.string() + "' && '" VCFLEX_FLEXALIGN_EXE "' " + args + " >out.txt 2>err.txt";
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, vcTest::readFile(dir / "out.txt"),
            vcTest::readFile(dir / "err.txt")};
  }
  static vcVector<2> scratchAt;
};
fs::path InspectCli::dir;
vcFlexSample InspectCli::sample;
vcVector<2> InspectCli::scratchAt;

TEST_F(InspectCli, TrainsThenPassesGoodPartsAndReportsTheScratch) {
  const Ran t = run("inspect train part.fxp good -o part.fxg");
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.out.find("10 of 10 images used"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("342 x 251 pixels"), std::string::npos) << t.out;

  const Ran r = run("inspect run part.fxg check --json --overlay ov");
  EXPECT_EQ(r.status, 1) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::map<std::string, json> byName;
  while (std::getline(lines, line)) {
    const json j = json::parse(line);
    byName[fs::path(j["image"].get<std::string>()).filename().string()] = j;
  }
  ASSERT_EQ(byName.size(), 3u);
  for (const char* good : {"p11.png", "p12.png"}) {
    EXPECT_EQ(byName[good]["verdict"], "pass") << byName[good];
    EXPECT_TRUE(byName[good]["defects"].empty());
  }
  const json& bad = byName["scratched.png"];
  EXPECT_EQ(bad["verdict"], "fail");
  EXPECT_TRUE(bad["found"].get<bool>());
  ASSERT_EQ(bad["defects"].size(), 1u) << bad;
  const json& d = bad["defects"][0];
  EXPECT_EQ(d["piece"], "body");
  EXPECT_LT(std::hypot(d["x"].get<double>() - scratchAt.x(), d["y"].get<double>() - scratchAt.y()),
            3.0)
      << d;
  EXPECT_GT(d["area"].get<long>(), 100);
  EXPECT_EQ(d["bbox"].size(), 4u);
  EXPECT_TRUE(fs::exists(dir / "ov/scratched-overlay.png"));

  EXPECT_EQ(run("inspect run part.fxg check/p11.png").status, 0);
  const Ran table = run("inspect run part.fxg check/scratched.png");
  EXPECT_NE(table.out.find("fail, 1 defect"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("on body"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("1 image: 0 pass, 1 fail, 0 not found, 0 errors"), std::string::npos)
      << table.out;
}

TEST_F(InspectCli, RefusesBadInput) {
  Ran r = run("inspect train part.fxp good/p1.png good/p2.png good/p3.png -o few.fxg");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("at least 5 good images"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "few.fxg"));
  r = run("inspect train part.fxp good -o good/p1.png");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("would replace"), std::string::npos) << r.err;
  ASSERT_EQ(run("inspect train part.fxp good -o part2.fxg").status, 0);
  r = run("inspect run part2.fxg small.png");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("trained on 640 x 480 images"), std::string::npos) << r.err;
  r = run("inspect run part.fxp check/p11.png");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("not a flexalign golden model file"), std::string::npos) << r.err;
}

}  // namespace inspect_cli_test
