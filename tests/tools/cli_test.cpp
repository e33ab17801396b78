// Drives the built flexalign command as a user would, through a shell.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/text_files.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Ran {
  int status = -1;
  std::string out, err;
};

using vcTest::readFile;

class Cli : public ::testing::Test {
 protected:
  static fs::path dir;

  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("vccli_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ASSERT_EQ(run("demo --write-example " + (dir / "ex").string()).status, 0);
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static Ran run(const std::string& args) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string cmd =
        std::string(VCFLEX_FLEXALIGN_EXE) + " " + args + " >" + out.string() + " 2>" + err.string();
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(out), readFile(err)};
  }
  static std::vector<json> lines(const std::string& text) {
    std::vector<json> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(json::parse(l));
    return v;
  }
  static std::string ex(const std::string& name) { return (dir / "ex" / name).string(); }
};
fs::path Cli::dir;

// Every pose of every piece, so two runs can be compared field by field.
std::vector<double> poses(const json& image) {
  std::vector<double> v;
  for (const json& r : image["results"]) {
    for (const char* k : {"x", "y", "angle", "x_scale", "y_scale", "score"}) v.push_back(r[k]);
    for (const json& in : r["instances"])
      if (in["found"]) v.insert(v.end(), {in["x"], in["y"], in["angle"], in["score"]});
  }
  return v;
}

TEST_F(Cli, DemoFindsEveryPartAndReportsTheHiddenRequiredPiece) {
  const Ran r = run("demo --out " + (dir / "demo").string());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("All results as expected."), std::string::npos);
  // The image with the hidden key: the part is reported, but as not found, and why.
  const auto at = r.out.find("Image 4");
  ASSERT_NE(at, std::string::npos);
  const std::string four = r.out.substr(at, r.out.find("Image 5") - at);
  EXPECT_NE(four.find("NOT FOUND"), std::string::npos);
  EXPECT_NE(four.find("One or more required sub-models are missing"), std::string::npos);
  EXPECT_NE(four.find("not found (placed by the part pose)"), std::string::npos);
  EXPECT_NE(four.find("key 2   "), std::string::npos);
  EXPECT_EQ(r.out.find("Image 5"), r.out.rfind("Image 5"));
  for (int i = 1; i <= 5; ++i)
    EXPECT_TRUE(fs::exists(dir / "demo" / ("image-" + std::to_string(i) + "-overlay.png")));
  EXPECT_TRUE(fs::exists(dir / "demo" / "report" / "index.html"));
}

TEST_F(Cli, TrainThenRunThroughFilesReproducesTheDemoWithTheDocumentedFields) {
  ASSERT_EQ(run("train " + ex("part.json") + " -o " + ex("part.fxp")).status, 0);
  const Ran demo = run("demo --json --out " + (dir / "demo-json").string());
  ASSERT_EQ(demo.status, 0) << demo.err;
  const std::vector<json> want = lines(demo.out);
  ASSERT_EQ(want.size(), 5u);
  // Images 1 to 3 run with the description's own settings (4 and 5 change them in the demo).
  const Ran r = run("run " + ex("part.fxp") + " " + ex("image-1.png") + " " + ex("image-2.png") +
                    " " + ex("image-3.png") + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<json> got = lines(r.out);
  ASSERT_EQ(got.size(), 3u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i]["image"], ex("image-" + std::to_string(i + 1) + ".png"));
    const auto a = poses(got[i]), b = poses(want[i]);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << i << " " << k;
    for (const char* k : {"width", "height", "time_ms", "found", "results"})
      EXPECT_TRUE(got[i].contains(k)) << k;
    const json& res = got[i]["results"][0];
    for (const char* k : {"found", "score", "x", "y", "angle", "x_scale", "y_scale", "info"})
      EXPECT_TRUE(res.contains(k)) << k;
    ASSERT_EQ(res["instances"].size(), 8u);
    for (const char* k : {"name", "found", "x", "y", "angle", "scale", "score", "offset", "turn"})
      EXPECT_TRUE(res["instances"][0].contains(k)) << k;
  }
}

TEST_F(Cli, JobsGiveTheSameResultsAsOneThread) {
  ASSERT_EQ(run("train " + ex("part.json") + " -o " + ex("jobs.fxp")).status, 0);
  const std::string images = ex("image-1.png") + " " + ex("image-2.png") + " " + ex("image-3.png") +
                             " " + ex("image-4.png");
  const Ran one = run("run " + ex("jobs.fxp") + " " + images + " --json --jobs 1");
  const Ran two = run("run " + ex("jobs.fxp") + " " + images + " --json --jobs 2");
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(two.status, 0) << two.err;
  // Standard error is not a terminal here: no progress line.
  EXPECT_EQ(two.err, "");
  const auto a = lines(one.out), b = lines(two.out);
  ASSERT_EQ(a.size(), 4u);
  ASSERT_EQ(b.size(), 4u);
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i]["image"], b[i]["image"]);
    EXPECT_EQ(poses(a[i]), poses(b[i]));
  }
}

TEST_F(Cli, BadInputGivesOneLineNamingTheFileAndStatusTwo) {
  ASSERT_EQ(run("train " + ex("part.json") + " -o " + ex("bad.fxp")).status, 0);
  const std::string pattern = readFile(ex("bad.fxp")), png = readFile(ex("image-1.png"));
  std::ofstream(ex("cut.fxp"), std::ios::binary) << pattern.substr(0, pattern.size() / 2);
  std::ofstream(ex("cut.png"), std::ios::binary) << png.substr(0, png.size() / 3);
  std::ofstream(ex("syntax.json")) << R"({"trainImage": "train.png", "subModels": [)";
  std::ofstream(ex("field.json")) << R"({"trainImage": "train.png", "subModels": [
      {"name": "a", "kind": "image", "region": [0, 0, 40]}], "instances": []})";
  std::ofstream(ex("kind.json")) << R"({"trainImage": "train.png", "subModels": [
      {"name": "a", "kind": "circle"}], "instances": [{"subModel": "a"}]})";
  std::ofstream(ex("noimage.json")) << R"({"trainImage": "none.png", "subModels": []})";
  const struct {
    std::string args, message;
  } cases[] = {
      {"run " + ex("missing.fxp") + " " + ex("image-1.png"), ex("missing.fxp") + ": cannot open"},
      {"run " + ex("bad.fxp") + " " + ex("none.png"), ex("none.png") + ": cannot open"},
      {"run " + ex("bad.fxp") + " " + ex("cut.png"), ex("cut.png") + ": damaged or truncated PNG"},
      {"run " + ex("part.json") + " " + ex("image-1.png"),
       ex("part.json") + ": not a flexalign pattern file"},
      {"info " + ex("cut.fxp"), ex("cut.fxp") + ": the pattern file is"},
      {"train " + ex("syntax.json") + " -o x.fxp", ex("syntax.json") + ": not valid JSON"},
      {"train " + ex("field.json") + " -o x.fxp",
       ex("field.json") + ": at /subModels/0/region: expected 4 elements"},
      {"train " + ex("kind.json") + " -o x.fxp", ex("kind.json") + ": at /subModels/0/kind:"},
      {"train " + ex("noimage.json") + " -o x.fxp", "none.png: cannot open"},
      {"run " + ex("bad.fxp") + " " + ex("image-1.png") + " --frobnicate",
       "not expected: --frobnicate"},
      {"run " + ex("bad.fxp") + " " + ex("image-1.png") + " --jobs 0", "--jobs: Value 0"},
      {"run " + ex("bad.fxp") + " " + ex("image-1.png") + " --start 1,2", "--start 1,2"},
      {"train " + ex("part.json"), "--output is required"},
  };
  for (const auto& c : cases) {
    const Ran r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // An image without the part ran fine: status 1, and the other image still reports.
  const Ran none =
      run("run " + ex("bad.fxp") + " " + ex("connector-mask.png") + " " + ex("image-1.png"));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("no part found"), std::string::npos);
  EXPECT_NE(none.out.find("image-1.png (640 x 480): 1 result(s)"), std::string::npos);
  for (const char* cmd : {"demo", "train", "run", "info"}) {
    const Ran r = run(std::string(cmd) + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: flexalign ") + cmd, 0), 0u) << r.out;
  }
}

}  // namespace
