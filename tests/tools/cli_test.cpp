// Drives the built flexalign command as a user would, through a shell.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/flexalign_cli.h"
#include "support/text_files.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcPatternFile.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexLimits.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vcTest::Cli;
using vcTest::Ran;
using vcTest::readFile;

// Every pose of every piece, so two runs can be compared field by field.
std::vector<double> poses(const json& image) {
  std::vector<double> v;
  for (const json& r : image["results"]) {
    for (const char* k : {"x", "y", "angle", "x_scale", "y_scale", "score"}) v.push_back(r[k]);
    v.push_back(r["found"] ? 1 : 0);
    for (const json& in : r["instances"])
      v.insert(v.end(), {in["x"], in["y"], in["angle"], in["score"], in["found"] ? 1. : 0.});
  }
  return v;
}

TEST_F(Cli, TheReadmeExampleGivesTheDemosAnswers) {
  // The README's two example lines, run as they are in a fresh folder.
  const std::string readme = readFile(fs::path(VCFLEX_SOURCE_DIR) / "README.md");
  std::vector<std::string> example;
  std::istringstream in(readme);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("    flexalign demo --write-example", 0) == 0 ||
        l.rfind("    flexalign run part.fxp", 0) == 0)
      example.push_back(l.substr(4));
  ASSERT_EQ(example.size(), 2u);
  const fs::path fresh = dir / "readme";
  fs::create_directories(fresh);
  EXPECT_EQ(shell(example[0], fresh).status, 0);
  const Ran r = shell(example[1] + " --json", fresh);
  EXPECT_EQ(r.status, 1) << "image 4 has no found part\n" << r.err;
  const Ran demo = run("demo --json --out " + (dir / "demo-json").string());
  ASSERT_EQ(demo.status, 0) << demo.err;
  const std::vector<json> got = lines(r.out), want = lines(demo.out);
  ASSERT_EQ(got.size(), 5u) << "only the run images are run";
  ASSERT_EQ(want.size(), 5u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i]["image"], "ex/images/image-" + std::to_string(i + 1) + ".png");
    EXPECT_EQ(got[i]["found"], want[i]["found"]) << i;
    const auto a = poses(got[i]), b = poses(want[i]);
    ASSERT_EQ(a.size(), b.size()) << i;
    for (std::size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << i << " " << k;
  }
  EXPECT_EQ(got[4]["results"].size(), 2u) << "two copies";
  // The documented fields; a missing piece reports where the part pose places it.
  const json& four = got[3]["results"][0];
  for (const char* k : {"found", "score", "x", "y", "angle", "x_scale", "y_scale", "info"})
    EXPECT_TRUE(four.contains(k)) << k;
  const json& hidden = four["instances"][4];
  EXPECT_EQ(hidden["name"], "key 2");
  EXPECT_FALSE(hidden["found"]);
  EXPECT_NEAR(double(hidden["x"]), 265, 5);
  for (const char* k : {"name", "found", "x", "y", "angle", "scale", "score", "offset", "turn",
                        "sigma_major", "angle_symmetry"})
    EXPECT_TRUE(four["instances"][0].contains(k)) << k;
  EXPECT_EQ(four["instances"][0]["angle_symmetry"], 1) << "the body has an angle of its own";
}

TEST_F(Cli, DemoFindsEveryPartAndReportsTheHiddenRequiredPiece) {
  const Ran r = run("demo --out " + (dir / "demo").string());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("All results as expected."), std::string::npos);
  const auto at = r.out.find("Image 4");
  ASSERT_NE(at, std::string::npos);
  const std::string four = r.out.substr(at, r.out.find("Image 5") - at);
  EXPECT_NE(four.find("NOT FOUND"), std::string::npos);
  EXPECT_NE(four.find("One or more required sub-models are missing"), std::string::npos);
  // The hidden key's row gives where the fitted part pose puts it (its true place is near
  // (265, 319.5)).
  const auto key = four.find("    key 2 ");
  ASSERT_NE(key, std::string::npos) << four;
  double kx = 0, ky = 0;
  ASSERT_EQ(std::sscanf(four.c_str() + key, " key 2 %lf %lf", &kx, &ky), 2) << four;
  EXPECT_NEAR(kx, 265.0, 0.5);
  EXPECT_NEAR(ky, 319.5, 0.5);
  for (int i = 1; i <= 5; ++i)
    EXPECT_TRUE(fs::exists(dir / "demo" / ("image-" + std::to_string(i) + "-overlay.png")));
  const std::string page = readFile(dir / "demo" / "report" / "index.html");
  EXPECT_NE(page.find("id=\"openAll\""), std::string::npos);
  // Each found result shows its pieces' position ellipses, enlarged by a stated power of ten
  // (the sample's pieces are fixed to a few hundredths of a pixel).
  const auto legend = page.find("1-sigma position ellipse (yellow)");
  ASSERT_NE(legend, std::string::npos);
  double enlarged = 0;
  const auto drawn = page.find("drawn ", legend);
  ASSERT_NE(drawn, std::string::npos);
  ASSERT_EQ(std::sscanf(page.c_str() + drawn, "drawn %lf times its size", &enlarged), 1);
  EXPECT_GE(enlarged, 100.0);
  EXPECT_EQ(std::fmod(std::log10(enlarged), 1.0), 0.0);
  // The relative scale range 1.2 - 1 is shown as 0.2, not 0.19999999999999996.
  EXPECT_EQ(page.find("9999999999"), std::string::npos);
}

TEST_F(Cli, MissedPiecesAndPartsSayWhyInTheTableJsonAndReport) {
  // A piece inside the body's region: it matches perfectly, and the run drops it as the body's
  // place found a second time.
  const std::string inner = variant("inner.json", [](json& d) {
    d["subModels"].push_back(
        {{"name", "inner"}, {"kind", "image"}, {"region", {40, 40, 100, 100}}});
    d["instances"].push_back({{"subModel", "inner"}});
  });
  const Ran t = run("train " + inner + " -o " + ex("inner.fxp"));
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.err.find("pieces \"body\" and \"inner\" overlap by 100 %"), std::string::npos);
  const std::string one = ex("images/image-1.png");
  const Ran table = run("run " + ex("inner.fxp") + " " + one);
  const auto line = table.out.find("    inner ");
  ASSERT_NE(line, std::string::npos) << table.out;
  const std::string innerLine = table.out.substr(line, table.out.find('\n', line) - line);
  EXPECT_NE(innerLine.find("not found: its best candidate (0.99"), std::string::npos) << innerLine;
  EXPECT_NE(innerLine.find(") overlaps body by 100 %"), std::string::npos) << innerLine;
  const json in = lines(run("run " + ex("inner.fxp") + " " + one + " --json").out)[0];
  const json& status = in["results"][0]["instances"][8]["status"];
  EXPECT_EQ(status["reason"], "overlapped");
  EXPECT_EQ(status["other"], "body");
  EXPECT_GT(double(status["amount"]), 0.6);
  // The hidden required key: why the piece and why the part.
  const std::string four = ex("images/image-4.png");
  const json hidden = lines(run("run " + ex("part.fxp") + " " + four + " --json").out)[0];
  const json& part = hidden["results"][0];
  EXPECT_EQ(part["status"]["reason"], "requiredMissing");
  EXPECT_EQ(part["status"]["other"], "key 2");
  EXPECT_NE(part["instances"][4]["status"]["reason"], "found");
  EXPECT_FALSE(part["instances"][4]["status"]["text"].get<std::string>().empty());
  EXPECT_NE(
      run("run " + ex("part.fxp") + " " + four).out.find("why: the required key 2 is missing"),
      std::string::npos);
  // A part under the accept threshold: no result, but the closest the run dropped, and why.
  const std::string strict =
      variant("strict.json", [](json& d) { d["run"]["acceptThreshold"] = 1.0; });
  ASSERT_EQ(run("train " + strict + " -o " + ex("strict.fxp")).status, 0);
  const Ran under = run("run " + ex("strict.fxp") + " " + one + " --json");
  EXPECT_EQ(under.status, 1);
  const json dropped = lines(under.out)[0];
  EXPECT_TRUE(dropped["results"].empty());
  ASSERT_FALSE(dropped["rejected"].empty());
  EXPECT_EQ(dropped["rejected"][0]["status"]["reason"], "belowThreshold");
  EXPECT_EQ(dropped["rejected"][0]["status"]["threshold"], 1.0);
  EXPECT_GT(double(dropped["rejected"][0]["score"]), 0.9);
  // The report names the pieces in its records' titles and says what was missed.
  const Ran rep = run("run " + ex("part.fxp") + " " + four + " --report " + (dir / "why").string());
  const std::string page = readFile(dir / "why" / "image-4" / "index.html");
  EXPECT_NE(page.find(". Sub-Model Tool Run: body</summary>"), std::string::npos);
  EXPECT_NE(page.find("Result 1 NOT FOUND: the required key 2 is missing; missed key 2"),
            std::string::npos);
}

TEST_F(Cli, JobsAndThreadsGiveTheSameResultsAsOneThread) {
  const std::string all = "run " + ex("part.fxp") + " " + ex("images") + " --json";
  const Ran one = run(all + " --jobs 1 --threads 1");
  ASSERT_EQ(one.status, 1) << one.err;
  const auto a = lines(one.out);
  ASSERT_EQ(a.size(), 5u);
  // One score per piece and part: a found one's status reads what its result reads, after the
  // polish has searched the pieces again.
  for (const json& image : a)
    for (const json& r : image["results"]) {
      if (r["found"]) EXPECT_NEAR(double(r["score"]), double(r["status"]["score"]), 1e-9);
      for (const json& i : r["instances"])
        if (i["found"]) EXPECT_NEAR(double(i["score"]), double(i["status"]["score"]), 1e-9);
    }
  for (const std::string more : {" --jobs 3", " --threads 3", " --jobs 2 --threads 2"}) {
    const Ran two = run(all + more);
    ASSERT_EQ(two.status, 1) << more << two.err;
    EXPECT_EQ(two.err, "");  // standard error is not a terminal here: no progress line
    const auto b = lines(two.out);
    ASSERT_EQ(b.size(), 5u) << more;
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i]["image"], b[i]["image"]);
      EXPECT_EQ(poses(a[i]), poses(b[i])) << more;
    }
  }
  EXPECT_EQ(run(all + " --threads 300").status, 2);
}

TEST_F(Cli, DescriptionsTakeFactorsDefaultsAndRegionSizedMasks) {
  // Instances of image pieces without poses lie where their regions are; the mask is the
  // connector region's own size; a correlation piece is trained for the part's angle range.
  const std::string plain = variant("defaults.json", [](json& d) {
    for (json& s : d["subModels"]) {
      s.erase("centre");
      if (s["name"] == "body") s["engine"] = "correlation";
    }
    for (json& i : d["instances"])
      if (i["subModel"] == "body" || i["subModel"] == "connector") i.erase("pose");
    d["run"].erase("strategy");
    d["run"]["subModels"].erase("angle");
  });
  const vcPelBuffer<unsigned char> mask = vfReadImage(ex("connector-mask.png"));
  EXPECT_EQ(mask.width(), 96);  // the example writes it region-sized
  const Ran t = run("train " + plain + " -o " + ex("defaults.fxp"));
  ASSERT_EQ(t.status, 0) << t.err;
  const Ran info = run("info " + ex("defaults.fxp"));
  EXPECT_NE(info.out.find("body         image, region [28, 28, 216, 184]; at (136.00, 120.00)"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("correlation"), std::string::npos);
  EXPECT_NE(info.out.find("angle -5 to 5 deg"), std::string::npos) << "default piece range";
  EXPECT_NE(info.out.find("strategy locallyFixtured"), std::string::npos);
  EXPECT_NE(info.out.find("scale 0.55 to 1.1"), std::string::npos);
  // Image 1 is turned 9 degrees and scaled 1.05: found by the correlation body too.
  const Ran r = run("run " + ex("defaults.fxp") + " " + ex("images/image-1.png") + " --json");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(lines(r.out).size(), 1u);
  EXPECT_TRUE(lines(r.out)[0]["results"][0]["instances"][0]["found"]) << r.out;
  // A relative range as older files had it, or one without 1, is refused with its path.
  for (const json& scale : {json{-0.1, 0.1}, json{1.1, 1.3}}) {
    const std::string f = variant("scale.json", [&](json& d) { d["run"]["scale"] = scale; });
    const Ran bad = run("train " + f + " -o x.fxp");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("at /run/scale: expected [low, high] scale factors"), std::string::npos)
        << bad.err;
  }
}

TEST_F(Cli, BadInputGivesOneLineNamingTheFileOrOptionAndStatusTwo) {
  const std::string pattern = readFile(ex("part.fxp")), png = readFile(ex("images/image-1.png"));
  write("cut.fxp", pattern.substr(0, pattern.size() / 2));
  write("cut.png", png.substr(0, png.size() / 3));
  write("syntax.json", R"({"trainImage": "train.png", "subModels": [)");
  write("huge.json", R"({"trainImage": "train.png", "run": {"numToFind": 1e400}})");
  write("deep.json", std::string(100000, '[') + std::string(100000, ']'));
  write("field.json", R"({"trainImage": "train.png", "subModels": [
      {"name": "a", "kind": "image", "region": [0, 0, 40]}], "instances": []})");
  write("kind.json", R"({"trainImage": "train.png", "subModels": [
      {"name": "a", "kind": "circle"}], "instances": [{"subModel": "a"}]})");
  write("noimage.json", R"({"trainImage": "none.png", "subModels": []})");
  const std::string small = variant("small.json", [](json& d) {
    d["subModels"][0]["region"] = {28, 28, 6, 6};
  });
  const std::string far = variant("far.json", [](json& d) { d["run"]["start"]["x"] = 1e7; });
  const std::string unc = variant("unc.json", [](json& d) {
    d["run"]["xyUncertainty"] = {1e308, 1};
  });
  const std::string ctrl =
      variant("ctrl.json", [](json& d) { d["subModels"][0]["name"] = "a\x1b[2J"; });
  const std::string many = variant("many.json", [](json& d) {
    while (d["instances"].size() <= std::size_t(vcFlexLimits::kMaxInstances))
      d["instances"].push_back(d["instances"][3]);
  });
  const std::string outline = variant("outline.json", [](json& d) {
    d["subModels"][1]["shapes"][0]["points"][0] = {1e7, 1e7};  // trained for 30 s before
  });
  // A region of the whole training image trains, warning that it covers the other pieces (its
  // runs once stopped with an error carrying no text, printed as "flexalign: ").
  const std::string whole = variant("whole.json", [](json& d) {
    d["subModels"][0]["region"] = {0, 0, 400, 300};
  });
  const Ran wholeRun = run("train " + whole + " -o " + ex("whole.fxp"));
  ASSERT_EQ(wholeRun.status, 0);
  EXPECT_NE(wholeRun.err.find("pieces \"body\" and \"tab\" overlap by 100 %"), std::string::npos);
  fs::create_directories(dir / "taken" / "part.json");
  fs::create_directories(dir / "empty");
  const std::string image = ex("images/image-1.png");
  const struct {
    std::string args, message;
  } cases[] = {
      {"run " + ex("missing.fxp") + " " + image, ex("missing.fxp") + ": cannot open"},
      {"run " + ex("part.fxp") + " " + ex("none.png"), ex("none.png") + ": cannot open"},
      {"run " + ex("part.fxp") + " " + ex("cut.png"), ex("cut.png") + ": damaged or truncated PNG"},
      {"run " + ex("part.json") + " " + image, ex("part.json") + ": not a flexalign pattern file"},
      {"run " + ex("part.fxp") + " " + (dir / "empty").string(), "the folder holds no image"},
      {"info " + ex("cut.fxp"), ex("cut.fxp") + ": the pattern file is"},
      {"info /dev/zero", "/dev/zero: not a regular file"},
      {"info " + dir.string(), dir.string() + ": is a folder, not a file"},
      {"train " + ex("syntax.json") + " -o x.fxp", ex("syntax.json") + ": not valid JSON"},
      {"train " + ex("huge.json") + " -o x.fxp",
       ex("huge.json") + ": not valid JSON: number overflow"},
      {"train " + ex("deep.json") + " -o x.fxp", ex("deep.json") + ": not a part description"},
      {"train " + ex("field.json") + " -o x.fxp",
       ex("field.json") + ": at /subModels/0/region: expected 4 elements"},
      {"train " + ex("kind.json") + " -o x.fxp", ex("kind.json") + ": at /subModels/0/kind:"},
      {"train " + ex("noimage.json") + " -o x.fxp", "none.png: cannot open"},
      {"train " + small + " -o x.fxp", "at /subModels/0/region: the region must be at least 8 x 8"},
      {"train " + far + " -o x.fxp", "at /run/start/x: expected a number from"},
      {"train " + unc + " -o x.fxp", "at /run/xyUncertainty/0: expected a number from 0"},
      {"train " + ctrl + " -o x.fxp", "at /subModels/0/name: a name may not hold control"},
      {"train " + many + " -o x.fxp", "at /instances: expected at most " +
                                          std::to_string(vcFlexLimits::kMaxInstances) +
                                          " instances"},
      {"train " + outline + " -o x.fxp", "at /subModels/1/shapes/0/points/0/0: expected a number"},
      {"demo --write-example " + (dir / "taken").string(),
       (dir / "taken" / "part.json").string() + ": cannot create the file"},
      {"run " + ex("part.fxp") + " " + image + " --frobnicate", "not expected: --frobnicate"},
      {"run " + ex("part.fxp") + " " + image + " --jobs 0", "--jobs: Value 0"},
      {"run " + ex("part.fxp") + " " + image + " --start 1,2", "--start 1,2: expected x,y,angle"},
      {"run " + ex("part.fxp") + " " + image + " --start 1,2,3,1e308",
       "--start 1,2,3,1e308: the scale 1e+308 is outside 0.001 to 1000"},
      {"run " + ex("part.fxp") + " " + image + " --start nan,2,3,1",
       "--start nan,2,3,1: the position"},
      {"run " + ex("part.fxp") + " " + image + " --search-area " + ex("train.png"),
       image + ": the search area " + ex("train.png") + " is 400 x 300, the image 640 x 480"},
      {"train " + ex("part.json"), "--output is required"},
  };
  for (const auto& c : cases) {
    const Ran r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // An image without the part ran fine: status 1, and the other image still reports.
  vfWritePng(ex("blank.png"), vcPelBuffer<unsigned char>(640, 480));
  const Ran none = run("run " + ex("part.fxp") + " " + ex("blank.png") + " " + image);
  EXPECT_EQ(none.status, 1) << none.err;
  EXPECT_NE(none.out.find(image + " (640 x 480): 1 result(s)"), std::string::npos);
  // A file name that is not UTF-8 still makes a JSON line, and prints escaped.
  fs::copy_file(image, dir / "\xff\xfe.png");
  const std::string name = "\"$(printf '\\377\\376.png')\"";
  const Ran odd = shell("flexalign run ex/part.fxp " + name + " --json");
  EXPECT_EQ(odd.status, 0) << odd.err;
  EXPECT_EQ(json::parse(odd.out)["image"], "\xef\xbf\xbd\xef\xbf\xbd.png");
  EXPECT_NE(shell("flexalign run ex/part.fxp " + name).out.find("\\xFF\\xFE.png"),
            std::string::npos);
  for (const char* cmd : {"demo", "train", "run", "info", "preview"}) {
    const Ran r = run(std::string(cmd) + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: flexalign ") + cmd, 0), 0u) << r.out;
  }
  EXPECT_NE(run("train --help").out.find("searched 5 degrees either way"), std::string::npos);
}

TEST_F(Cli, NamesFromAPatternFileArePrintedEscaped) {
  // A pattern saved by a program (the Python module may name pieces anything).
  vcFlexSample s = vfMakeFlexSample();
  std::vector<vcFlexSubModel> models = s.arrangement.subModels();
  vcFlexSubModel renamed(models[0].image(), "body\x1b]0;owned\x07\nline");
  models[0] = renamed;
  vcFlexArrangement a(models, s.arrangement.subModelIndices(), s.arrangement.positions());
  a.origin(*s.arrangement.origin());
  vcFlexAlignPattern p;
  p.train(a, vfFlexSampleTrainParams(s));
  vfSavePatternFile(ex("names.fxp"), vfPatternFileOf(p));
  for (const std::string& args :
       {"info " + ex("names.fxp"), "run " + ex("names.fxp") + " " + ex("train.png")}) {
    const Ran r = run(args);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << args;
    EXPECT_NE(r.out.find("body\\x1B]0;owned\\x07\\nline"), std::string::npos) << args << r.out;
  }
}

TEST_F(Cli, OutputsNeverReplaceAFileTheRunReads) {
  const fs::path in = dir / "inputs";
  fs::create_directories(in);
  fs::copy_file(ex("images/image-1.png"), in / "a.png");
  fs::copy_file(ex("images/image-2.png"), in / "b.png");
  const std::string before = readFile(in / "a.png");
  // Overlays into the input folder: beside the inputs, never over them.
  const Ran r = run("run " + ex("part.fxp") + " " + in.string() + " --overlay " + in.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(in / "a.png"), before);
  const vcPelBuffer<unsigned char> overlay = vfReadImage((in / "a-overlay.png").string());
  EXPECT_EQ(overlay.width(), 640);
  // A second run of the folder leaves out the overlays it wrote: they are not images to run.
  const Ran again =
      run("run " + ex("part.fxp") + " " + in.string() + " --json --overlay " + in.string());
  EXPECT_EQ(again.status, 0) << again.err;
  ASSERT_EQ(lines(again.out).size(), 2u) << again.out;
  EXPECT_EQ(lines(again.out)[1]["image"], (in / "b.png").string());
  // Named as a file, an overlay is an input, and a run that would write over it is refused
  // before it starts.
  const std::string overlayBytes = readFile(in / "a-overlay.png");
  const Ran named = run("run " + ex("part.fxp") + " " + (in / "a.png").string() + " " +
                        (in / "a-overlay.png").string() + " --overlay " + in.string());
  EXPECT_EQ(named.status, 2);
  EXPECT_NE(named.err.find("would replace " + (in / "a-overlay.png").string()), std::string::npos)
      << named.err;
  EXPECT_EQ(readFile(in / "a-overlay.png"), overlayBytes);
  // Two images of one name would write one overlay.
  fs::create_directories(in / "sub");
  fs::copy_file(in / "b.png", in / "sub" / "a.png");
  const Ran twice = run("run " + ex("part.fxp") + " " + (in / "a.png").string() + " " +
                        (in / "sub" / "a.png").string() + " --overlay " + (dir / "ov").string());
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("would both write"), std::string::npos) << twice.err;
}

// The rectified image is the training image again within the noise (sigma 5; about 3 grey
// levels), the JSON gives its region and each piece's displacement, and it never replaces an
// input.
TEST_F(Cli, RectifyWritesTheImageInTheTrainedLayout) {
  const fs::path out = dir / "rectified";
  const Ran r = run("run " + ex("part.fxp") + " " + ex("images/image-1.png") + " " +
                    ex("images/image-2.png") + " --json --rectify " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  const vcPelBuffer<unsigned char> train = vfReadImage(ex("train.png"));
  for (const json& image : lines(r.out)) {
    const std::string file = image["rectified"]["file"];
    EXPECT_EQ(fs::path(file).filename().string(),
              fs::path(std::string(image["image"])).stem().string() + "-rectified.png");
    const json& g = image["rectified"]["region"];
    EXPECT_EQ(g, json({28, 28, 342, 251}));
    const vcPelBuffer<unsigned char> rect = vfReadImage(file);
    ASSERT_EQ(rect.width(), 342);
    ASSERT_EQ(rect.height(), 251);
    double sum = 0;
    for (long y = 0; y < 251; ++y)
      for (long x = 0; x < 342; ++x) sum += std::abs(rect.get(x, y) - train.get(x + 28, y + 28));
    EXPECT_LT(sum / (342 * 251), 4.0) << file;
    const json& pieces = image["results"][0]["instances"];
    for (const json& in : pieces) {
      EXPECT_GE(double(in["displacement"]), in["name"] == "label" ? 0.0 : 0.1) << in["name"];
      EXPECT_LT(double(in["displacement"]), 10.0) << in["name"];
    }
    EXPECT_EQ(double(pieces[7]["displacement"]), 0.0);  // the blank label has no extent
  }
  EXPECT_FALSE(
      lines(run("run " + ex("part.fxp") + " " + ex("images/image-1.png") + " --json").out)[0]
          .contains("rectified"));
  const Ran again = run("run " + ex("part.fxp") + " " + ex("images/image-1.png") + " " +
                        (out / "image-1-rectified.png").string() + " --rectify " + out.string());
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(
      again.err.find("--rectify: " + (out / "image-1-rectified.png").string() + " would replace"),
      std::string::npos)
      << again.err;
}

TEST_F(Cli, SearchAreaAndPreview) {
  // A search area that leaves out the part: nothing to find there.
  vcPelBuffer<unsigned char> none(640, 480);
  for (long y = 0; y < 480; ++y)
    for (long x = 0; x < 640; ++x) none.set(x, y, x < 60 ? 255 : 0);
  vfWritePng(ex("left-edge.png"), none);
  const Ran masked = run("run " + ex("part.fxp") + " " + ex("images/image-1.png") +
                         " --search-area " + ex("left-edge.png"));
  EXPECT_EQ(masked.status, 1) << masked.err;
  // The preview: the training image's size, the pieces drawn (green) and their names.
  const Ran p = run("preview " + ex("part.json") + " -o " + ex("preview.png"));
  ASSERT_EQ(p.status, 0) << p.err;
  const std::string bytes = readFile(ex("preview.png"));
  const vcPelBuffer<unsigned char> grey = vfReadImage(ex("preview.png"));
  EXPECT_EQ(grey.width(), 400);
  EXPECT_EQ(grey.height(), 300);
  // Green (0, 235, 60) on the body's region border reads as its sRGB luminance, 203.
  EXPECT_EQ(grey.get(100, 28), 203);
  EXPECT_EQ(run("preview " + ex("part.json") + " -o " + ex("train.png")).status, 2);
  // Two pieces on one place: red in the preview, and a warning when trained.
  const std::string clash = variant("clash.json", [](json& d) {
    d["subModels"][0]["region"] = {28, 28, 300, 250};
  });
  const Ran t = run("train " + clash + " -o " + ex("clash.fxp"));
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.err.find("warning: " + clash + ": pieces \"body\" and \"tab\" overlap by"),
            std::string::npos)
      << t.err;
}

TEST_F(Cli, OverlayAndReportOfALargeImageStayBounded) {
  // The example's first image inside an 8000 x 8000 one.
  const vcPelBuffer<unsigned char> small = vfReadImage(ex("images/image-1.png"));
  vcPelBuffer<unsigned char> big(8000, 8000);
  for (long y = 0; y < 8000; ++y)
    for (long x = 0; x < 8000; ++x)
      big.set(x, y,
              x >= 3000 && x < 3640 && y >= 4000 && y < 4480 ? small.get(x - 3000, y - 4000) : 40);
  vfWritePgm((dir / "big.pgm").string(), big);
  const auto t0 = std::chrono::steady_clock::now();
  const Ran r = run("run " + ex("part.fxp") + " " + (dir / "big.pgm").string() +
                    " --start 3320,4240,0,1 --overlay " + (dir / "big-out").string() +
                    " --report " + (dir / "big-out").string());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(seconds, 20.0);
  EXPECT_LT(children.ru_maxrss, 600L << 10) << "kB";  // was 1.2 GB for the report alone
  const vcPelBuffer<unsigned char> overlay =
      vfReadImage((dir / "big-out" / "big-overlay.png").string());
  EXPECT_LE(std::max(overlay.width(), overlay.height()), 2048);
  EXPECT_NE(readFile(dir / "big-out" / "big" / "index.html").find("larger than 2048 pixels"),
            std::string::npos);
}

}  // namespace
