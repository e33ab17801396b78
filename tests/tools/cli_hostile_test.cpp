// The command against careless or hostile file names and descriptions: no output may replace
// an input under any name (itself, a hard link, a planted symbolic link, a report folder one
// level up), descriptions are bounded as they are read, and empty option values are refused.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/text_files.h"
#include "vcFlexLimits.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vcTest::readFile;

struct Ran {
  int status = -1;
  std::string err;
};

class CliHostile : public ::testing::Test {
 protected:
  static fs::path dir;

  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("vccli_hostile_" + std::to_string(::getpid()));
    fs::create_directories(dir / "in");
    ASSERT_EQ(run("demo --write-example ex").status, 0);
    ASSERT_EQ(run("train ex/part.json -o part.fxp").status, 0);
    fs::copy_file(dir / "ex/images/image-1.png", dir / "in/a.png");
    fs::copy_file(dir / "ex/images/image-2.png", dir / "in/b.png");
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static Ran run(const std::string& args) {
    const fs::path err = dir / "stderr.txt";
    const std::string cmd = "cd '" + dir.string() + "' && '" VCFLEX_FLEXALIGN_EXE "' " + args +
                            " >/dev/null 2>" + err.string();
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(err)};
  }
  static void expectRefused(const std::string& args, const std::string& words) {
    const Ran r = run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(words), std::string::npos) << args << "\n" << r.err;
  }
  static std::string variant(const std::string& name, const std::function<void(json&)>& edit) {
    json d = json::parse(readFile(dir / "ex/part.json"));
    edit(d);
    std::ofstream(dir / "ex" / name) << d.dump();
    return "ex/" + name;
  }
};
fs::path CliHostile::dir;

TEST_F(CliHostile, NoOutputReplacesAnInputUnderAnyName) {
  // train -o its own inputs exited 0 having replaced them with the pattern.
  for (const char* input : {"part.json", "train.png", "connector-mask.png"}) {
    const std::string before = readFile(dir / "ex" / input);
    expectRefused(std::string("train ex/part.json -o ex/") + input,
                  std::string("would replace ex/") + input + ", which the training reads");
    EXPECT_EQ(readFile(dir / "ex" / input), before) << input;
  }
  // An overlay that is a hard link of an input: the same file under another name.
  const std::string b = readFile(dir / "in/b.png");
  fs::create_directories(dir / "out");
  fs::create_hard_link(dir / "in/b.png", dir / "out/a-overlay.png");
  expectRefused("run part.fxp in --overlay out", "out/a-overlay.png would replace in/b.png");
  // A report folder that holds one: the report's own files would replace it.
  fs::create_directories(dir / "out/rep/a");
  fs::create_hard_link(dir / "in/b.png", dir / "out/rep/a/image_000.pgm");
  expectRefused("run part.fxp in --report out/rep",
                "out/rep/a would hold the report of in/a.png beside in/b.png");
  // An image named "...png" has the stem "..": its report went one folder up.
  fs::create_directories(dir / "dots");
  fs::copy_file(dir / "in/a.png", dir / "dots/...png");
  expectRefused("run part.fxp dots --report out/reports", "has no name a report folder can take");
  EXPECT_FALSE(fs::exists(dir / "out/index.html"));
  EXPECT_EQ(readFile(dir / "in/b.png"), b);
  // A symbolic link planted at an output's name is replaced, never written through.
  std::ofstream(dir / "victim.txt") << "precious\n";
  fs::remove(dir / "out/a-overlay.png");
  fs::create_symlink(dir / "victim.txt", dir / "out/a-overlay.png");
  EXPECT_EQ(run("run part.fxp in/a.png --overlay out").status, 0);
  EXPECT_EQ(readFile(dir / "victim.txt"), "precious\n");
  EXPECT_FALSE(fs::is_symlink(dir / "out/a-overlay.png"));
  EXPECT_EQ(readFile(dir / "out/a-overlay.png").substr(1, 3), "PNG");
}

TEST_F(CliHostile, DescriptionsAreBoundedAsTheyAreRead) {
  // 4000 unused whole-image sub-models took 130 s and 2.8 GB.
  const std::string many = variant("many.json", [](json& d) {
    for (long i = 0; i <= vcFlexLimits::kMaxSubModels; ++i)
      d["subModels"].push_back(
          {{"name", "p" + std::to_string(i)}, {"kind", "image"}, {"region", {0, 0, 400, 300}}});
  });
  // Placed, 998 of them trained for 13 minutes: the regions hold at most 16 training images.
  const std::string wide = variant("wide.json", [](json& d) {
    for (int i = 0; i < 17; ++i) {
      d["subModels"].push_back(
          {{"name", "w" + std::to_string(i)}, {"kind", "image"}, {"region", {0, 0, 400, 300}}});
      d["instances"].push_back({{"subModel", "w" + std::to_string(i)}});
    }
  });
  const std::string unused = variant("unused.json", [](json& d) {
    d["subModels"].push_back({{"name", "spare"}, {"kind", "image"}, {"region", {0, 0, 40, 30}}});
  });
  const std::string keys = variant("keys.json", [](json& d) {
    for (int i = 0; i < 80000; ++i) d["run"]["k" + std::to_string(i)] = 0;
  });
  // The mask's name was cut at the NUL byte: it trained from connector-mask.png.
  const std::string nul = variant("nul.json", [](json& d) {
    for (json& m : d["subModels"])
      if (m.contains("mask")) m["mask"] = m["mask"].get<std::string>() + std::string(1, '\0') + "x";
  });
  expectRefused("train " + nul + " -o x.fxp", "a file name may not hold a NUL byte");
  const auto t0 = std::chrono::steady_clock::now();
  expectRefused("train " + many + " -o x.fxp", "at /subModels: expected at most " +
                                                   std::to_string(vcFlexLimits::kMaxSubModels) +
                                                   " sub-models");
  expectRefused("train " + wide + " -o x.fxp", "more than 16 times the training image's 120000");
  expectRefused("train " + unused + " -o x.fxp",
                "at /subModels/6: no instance places the sub-model \"spare\"");
  expectRefused("train " + keys + " -o x.fxp", "not a part description (an object of more than 64");
  // The teach server parses the same text (ordered, key by key) within the same bound: a
  // session opening it gives the same refusal at once.
  expectRefused("teach ex/train.png " + keys, "an object of more than 64 keys");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_FALSE(fs::exists(dir / "x.fxp"));
}

TEST_F(CliHostile, EmptyOptionValuesAndFarPositionsAreRefusedByName) {
  for (const char* option : {"--overlay", "--rectify", "--report", "--search-area", "--start"})
    expectRefused(std::string("run part.fxp in/a.png ") + option + " ''",
                  std::string(option) + ": expected");
  expectRefused("run part.fxp in/a.png --start 1000001,0,0,1",
                "--start 1000001,0,0,1: the position 1000001 is more than 1000000 from 0");
}

}  // namespace
