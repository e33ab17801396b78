// Every layer that checks a user's value takes the table's bound and refuses just past it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tools/cli/vcCliDescription.h"
#include "vcFlexAlignTool.h"
#include "vcFlexLimits.h"

namespace {

using L = vcFlexLimits;
using nlohmann::json;

double past(double bound) { return std::nextafter(bound, 2 * bound); }

// The refusal's text, or "" when the call is taken.
template <class F>
std::string refusal(F f) {
  try {
    f();
  } catch (const vcException& e) {
    return e.what();
  }
  return "";
}

// A one-piece description whose run asks for `uncertainty` and `instances` copies of the piece.
std::string readDescription(double uncertainty, long instances) {
  json doc = {{"trainImage", "t.png"},
              {"subModels", {{{"name", "a"}, {"kind", "image"}, {"region", {0, 0, 16, 16}}}}},
              {"instances", json::array()},
              {"run", {{"xyUncertainty", {uncertainty, uncertainty}}}}};
  for (long i = 0; i < instances; ++i) doc["instances"].push_back({{"subModel", "a"}});
  return refusal([&] {
    vfParseDescription(doc, "d.json", [](const std::string&) {
      vcPelBuffer<unsigned char> img(32, 32);
      return img;
    });
  });
}

TEST(Limits, LibraryAndDescriptionTakeTheBoundAndRefuseBeyond) {
  vcFlexAlignRunParams rp;
  EXPECT_EQ(refusal([&] { rp.xyUncertainty(L::kMaxUncertainty, L::kMaxUncertainty); }), "");
  EXPECT_NE(refusal([&] { rp.xyUncertainty(0, past(L::kMaxUncertainty)); }), "");
  EXPECT_EQ(refusal([&] { rp.threads(L::kMaxThreads); }), "");
  EXPECT_NE(refusal([&] { rp.threads(L::kMaxThreads + 1); }), "");

  // The description reader once stopped a tenth of the way to what a run takes.
  EXPECT_EQ(readDescription(L::kMaxUncertainty, 1), "");
  EXPECT_NE(readDescription(past(L::kMaxUncertainty), 1).find("/run/xyUncertainty/0"),
            std::string::npos);
  // Instances: the reader refuses by its own count, naming the bound, before the library does.
  EXPECT_EQ(readDescription(0, L::kMaxInstances), "");
  EXPECT_NE(readDescription(0, L::kMaxInstances + 1)
                .find("expected at most " + std::to_string(L::kMaxInstances) + " instances"),
            std::string::npos);
}

}  // namespace
