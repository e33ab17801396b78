// The command warns at training of what a piece's edges cannot fix, in train, preview and info.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/core/vcAngle.h"
#include "support/flexalign_cli.h"

// Named: the folder's tests compile in unity batches.
namespace cli_warnings {

using nlohmann::json;

class CliTrainWarnings : public vcTest::Cli {};

// Wireframe pieces whose answer is known: a coin (round) and a bar 140 x 10 turned by 30
// degrees (slides along 30 degrees, 2-fold), added to the example, which warns of nothing.
TEST_F(CliTrainWarnings, TrainPreviewAndInfoSayWhatEdgesCannotFix) {
  const vcTest::Ran plain = run("train " + ex("part.json") + " -o " + ex("plain.fxp"));
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  const std::string desc = variant("pieces.json", [](json& d) {
    json coin = json::array(), bar = json::array();
    for (int i = 0; i < 48; ++i)
      coin.push_back({40 * std::cos(vcPi * i / 24), 40 * std::sin(vcPi * i / 24)});
    const double c = std::cos(vcPi / 6), s = std::sin(vcPi / 6);
    for (auto [x, y] : {std::pair{-70, -5}, {70, -5}, {70, 5}, {-70, 5}})
      bar.push_back({x * c - y * s, x * s + y * c});
    for (auto [name, points] : {std::pair{"coin", coin}, {"bar", bar}})
      d["subModels"].push_back({{"engine", "geofind"},
                                {"kind", "wireframe"},
                                {"name", name},
                                {"shapes", {{{"closed", true}, {"points", points}}}}});
    d["instances"].push_back({{"pose", {{"x", 560}, {"y", 400}}}, {"subModel", "coin"}});
    d["instances"].push_back({{"pose", {{"x", 420}, {"y", 420}}}, {"subModel", "bar"}});
  });
  const std::string round =
      "piece \"coin\": it is round: its edges fix no angle (a part takes it from its other pieces; "
      "searched alone, search it at one angle)";
  const std::string slides = "piece \"bar\": its edges barely fix its position along 30 degrees";
  const std::string twofold =
      "piece \"bar\": it is 2-fold symmetric: its angle is defined only modulo 180 degrees";
  for (const std::string command : {"train " + desc + " -o " + ex("pieces.fxp"),
                                    "preview " + desc + " -o " + ex("pieces.png")}) {
    const vcTest::Ran r = run(command);
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
    for (const std::string& w : {round, slides, twofold})
      EXPECT_NE(r.err.find("flexalign: warning: " + desc + ": " + w), std::string::npos)
          << command << ": " << r.err;
    EXPECT_EQ(r.err.find("\"key\""), std::string::npos) << r.err;
  }
  const vcTest::Ran info = run("info " + ex("pieces.fxp"));
  ASSERT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("warning: it is round"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("warning: its edges barely fix its position along 30 degrees"),
            std::string::npos);
  EXPECT_EQ(run("info " + ex("plain.fxp")).out.find("warning"), std::string::npos);
}

}  // namespace cli_warnings
