// Careless or hostile model input: outlines of absurd extent (the reproducers in fuzz/repro),
// poses that are not numbers. Each is refused at once with a message naming what is wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>

#include "platform/display/vc2Wireframe.h"
#include "support/resources.h"
#include "vcFlexModels.h"

namespace {

using MD = vcFlexModelDefs;

// The first shape's points of a part description (the command's JSON), read as plain numbers.
std::vector<vcVector<2>> outlinePoints(const std::string& file) {
  std::ifstream in(std::string(VCFLEX_REPRO_DIR) + "/" + file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  const std::size_t from = s.find("\"points\""), to = s.find("\"closed\"");
  EXPECT_NE(from, std::string::npos) << file;
  const std::string list = s.substr(from + 8, to - from - 8);
  const std::regex number(R"(-?[0-9]+(\.[0-9]*)?([eE][-+]?[0-9]+)?)");
  std::vector<double> v;
  for (auto it = std::sregex_iterator(list.begin(), list.end(), number);
       it != std::sregex_iterator(); ++it)
    v.push_back(std::stod(it->str()));
  std::vector<vcVector<2>> pts;
  for (std::size_t i = 0; i + 1 < v.size(); i += 2) pts.emplace_back(v[i], v[i + 1]);
  return pts;
}

vc2Wireframe closed(const std::vector<vcVector<2>>& pts) {
  vc2Wireframe w;
  for (const vcVector<2>& p : pts) w.insertVertex(p, -1, vcRadian(0), vcDimTol());
  w.close(vcRadian(0), vcDimTol());
  return w;
}

std::string refusal(const std::function<void()>& f) {
  try {
    f();
  } catch (const MD::BadParams& e) {
    return e.message();
  }
  return "accepted";
}

TEST(HostileModels, OutlinesOfAbsurdExtentAreRefusedAtOnce) {
  for (const char* file :
       {"cli-wireframe-coords-1e7-hang.json", "cli-wireframe-coords-1e308-unbounded-memory.json"}) {
    const std::vector<vcVector<2>> pts = outlinePoints(file);
    ASSERT_EQ(pts.size(), 3u) << file;
    std::string message;
    const vcTest::Cost c = vcTest::costOf([&] {
      message = refusal([&] { vcFlexSubModel({closed(pts)}, vc2XformLinear(), "outline"); });
    });
    EXPECT_NE(message.find("Sub-model 'outline': its shapes span"), std::string::npos) << message;
    EXPECT_NE(message.find("at most 4096 x 4096"), std::string::npos) << message;
    EXPECT_LT(c.seconds, 2.0) << file;
    EXPECT_LT(c.peakGrowthMb, 100.0) << file;
  }
  // The largest extent allowed trains in proportion to the outline: a thin 4000 px triangle.
  const vcTest::Cost c = vcTest::costOf([] {
    vcFlexSubModel big({closed({{0, 0}, {4000, 4000}, {0, 1}})}, vc2XformLinear(), "thin");
    EXPECT_EQ(big.modelType(), MD::eSynthetic);
  });
  EXPECT_LT(c.seconds, 10.0);
  EXPECT_LT(c.peakGrowthMb, 300.0);
}

TEST(HostileModels, PosesThatAreNotNumbersAreRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const vc2XformLinear bad(vcXform<2>(vcMatrix<2>(), vcVector<2>(nan, 0)));
  vcFlexSubModel s("s");
  EXPECT_EQ(refusal([&] { s.origin(bad); }), "Sub-model 's': the origin is not finite");
  EXPECT_TRUE(s.origin()->linearXform({0, 0}) == vc2XformLinear());
  vcFlexArrangement a({s});
  EXPECT_EQ(refusal([&] { a.origin(bad); }), "The arrangement origin is not finite");
  EXPECT_EQ(refusal([&] {
              vcFlexArrangement({s, s}, {0, 1},
                                {new vc2XformLinear, vcPtrHandle_const<vc2XformBase>(bad.clone())});
            }),
            "Placement 1 is not finite");
  EXPECT_EQ(refusal([&] { a.addSubModel(0, {vcPtrHandle_const<vc2XformBase>(bad.clone())}); }),
            "Placement 0 is not finite");
  EXPECT_EQ(a.positions().size(), 1u);
  EXPECT_EQ(refusal([&] {
              vcFlexSubModel({closed({{0, 0}, {9, 0}, {0, 9}})}, bad, "o");
            }),
            "Sub-model 'o': the shapes' client-from-image transform is not finite");
  vcPelBuffer<unsigned char> img(20, 20);
  img.clientFromImageXform(vcXform<2>(vcMatrix<2>(nan, 0, 0, 1), vcVector<2>(0, 0)));
  EXPECT_EQ(refusal([&] { vcFlexSubModel(img, "i"); }),
            "Sub-model 'i': the image's client transform is not finite");
}

}  // namespace
