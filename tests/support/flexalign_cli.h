// The built flexalign command driven as a user drives it, through a shell, for the command's
// tests (test_tools, which defines VCFLEX_FLEXALIGN_EXE): a fixture whose suite works in a
// fresh folder holding the demo's example (ex/) and its trained pattern (ex/part.fxp).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/text_files.h"

namespace vcTest {

namespace fs = std::filesystem;
using nlohmann::json;

struct Ran {
  int status = -1;
  std::string out, err;
};

class Cli : public ::testing::Test {
 protected:
  static inline fs::path dir;

  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("vccli_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ASSERT_EQ(run("demo --write-example " + (dir / "ex").string()).status, 0);
    ASSERT_EQ(run("train " + ex("part.json") + " -o " + ex("part.fxp")).status, 0);
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  // The command line as a shell reads it; `flexalign` is the built program.
  static Ran shell(const std::string& line, const fs::path& cwd = dir) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string cmd = "cd '" + cwd.string() +
                            "' && flexalign() { '" VCFLEX_FLEXALIGN_EXE "' \"$@\"; }; " + line +
                            " >" + out.string() + " 2>" + err.string();
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(out), readFile(err)};
  }
  static Ran run(const std::string& args) { return shell("flexalign " + args); }
  static std::vector<json> lines(const std::string& text) {
    std::vector<json> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(json::parse(l));
    return v;
  }
  static std::string ex(const std::string& name) { return (dir / "ex" / name).string(); }
  static std::string write(const std::string& name, const std::string& text) {
    std::ofstream(ex(name), std::ios::binary) << text;
    return ex(name);
  }
  // The example description with `edit` applied, written as `name`.
  static std::string variant(const std::string& name, const std::function<void(json&)>& edit) {
    json d = json::parse(readFile(ex("part.json")));
    edit(d);
    return write(name, d.dump());
  }
};

}  // namespace vcTest
