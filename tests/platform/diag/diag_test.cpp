#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/core/vcException.h"
#include "platform/diag/vcDiag.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh, empty folder under the build's temp area for one test.
fs::path freshDir(const std::string& name) {
  const fs::path d = fs::temp_directory_path() / ("vcdiag_test_" + name);
  fs::remove_all(d);
  return d;
}

vcPelBuffer<unsigned char> ramp(long w, long h) {
  vcPelBuffer<unsigned char> b(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) b.set(x, y, static_cast<unsigned char>(10 * x + y));
  return b;
}

TEST(Diag, FlagsDecideWhatIsRecorded) {
  vcDiagObject d;
  unsigned long flags = vcDiagDefs::eOutputs | 0x3;
  EXPECT_EQ(vcDiagObject::getRecordingDestination(&d, flags), &d);
  EXPECT_EQ(flags, vcDiagDefs::eOutputs | 0x3ul);
  EXPECT_TRUE(vcDiagObject::shouldRecord(flags, vcDiagDefs::eOutputs));
  EXPECT_FALSE(vcDiagObject::shouldRecord(flags, vcDiagDefs::eInputs));
  EXPECT_FALSE(vcDiagObject::shouldRecord(flags, vcDiagDefs::eIntermediate));
  unsigned long none = 0x3;  // no record kind asked for
  EXPECT_EQ(vcDiagObject::getRecordingDestination(&d, none), nullptr);
  EXPECT_EQ(none, 0ul);
  unsigned long all = vcDiagDefs::eAll;
  EXPECT_EQ(vcDiagObject::getRecordingDestination(nullptr, all), nullptr);
  EXPECT_EQ(all, 0ul);
}

TEST(Diag, RecordsKeepOrderLevelsAndTheirOwnPixels) {
  vcDiagObject d;
  EXPECT_EQ(d.lastRecord(), nullptr);
  auto img = ramp(6, 4);
  ASSERT_TRUE(img.window(vcPelRect(2, 1, 3, 2)));
  img.clientFromImageXform(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), {1, 1}));
  {
    vcDiagRecord& r = d.newDiagRecord();
    r.recordAnnotation("Inputs");
    r.image(img, true);
    r.text("A", "first");
    vcGraphicList g;
    g.append(new vcGraphicCross({0, 0}, 3, vcRadian(0), vcColor::green));
    r.graphics(g, vcDisplay::eClientCoords, "G");
    r.text("B", "second");
  }
  d.level(d.level() + 1);
  d.newDiagRecord().recordAnnotation("Inner");
  d.newDiagRecord().image(img, false);
  d.level(d.level() - 5);  // below zero is taken as zero
  EXPECT_EQ(d.level(), 0);
  d.newDiagRecord().recordAnnotation("Outputs");

  ASSERT_EQ(d.numRecords(), 4);
  EXPECT_EQ(d.diagRecord(0).level(), 0);
  EXPECT_EQ(d.diagRecord(1).level(), 1);
  EXPECT_EQ(d.diagRecord(2).level(), 1);
  EXPECT_EQ(d.diagRecord(3).level(), 0);
  EXPECT_EQ(d.lastRecord()->annotation(), "Outputs");
  const vcDiagRecord& r0 = d.diagRecord(0);
  ASSERT_EQ(r0.numItems(), 3);
  EXPECT_EQ(r0.item(0).name, "A");
  EXPECT_EQ(r0.item(1).kind, vcDiagRecord::eGraphicsItem);
  EXPECT_EQ(r0.item(1).graphics.size(), 1);
  EXPECT_EQ(r0.item(2).text, "second");
  ASSERT_NE(r0.findText("B"), nullptr);
  EXPECT_EQ(r0.findText("G"), nullptr);  // a graphics item is not a text
  EXPECT_THROW(r0.item(3), vcBadParams);
  EXPECT_THROW(d.diagRecord(4), vcBadParams);

  // The copied image keeps window position, pixels and client transform, and does not follow
  // later changes of the caller's buffer; the shared one does.
  img.set(0, 0, 250);
  const auto& kept = r0.image();
  EXPECT_EQ(kept.window(), vcPelRect(2, 1, 3, 2));
  EXPECT_EQ(kept.get(0, 0), 10 * 2 + 1);
  EXPECT_EQ(kept.get(2, 1), 10 * 4 + 2);
  EXPECT_EQ(kept.clientFromImageXform(), img.clientFromImageXform());
  EXPECT_EQ(d.diagRecord(2).image().get(0, 0), 250);
  vcDiagRecord r;
  r.image(img);
  r.image(vcPelBuffer_const<unsigned char>());
  EXPECT_FALSE(r.hasImage());
}

TEST(Diag, FolderRecorderWritesAnIndexInOrder) {
  const fs::path dir = freshDir("index");
  auto img = ramp(5, 3);
  // Client coordinates are twice the pixel coordinates.
  img.clientFromImageXform(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), {0, 0}));
  {
    vcDiagFolderRecorder rec(dir.string());
    vcDiagRecord& a = rec.newDiagRecord();
    a.recordAnnotation("Run <Inputs>");
    a.image(img);
    vcGraphicList g;
    g.append(new vcGraphicWithFill<vcRect, vcGenRect>(vcRect(2, 2, 4, 2), vcColor::cyanColor));
    a.graphics(g, vcDisplay::eClientCoords, "ROI");
    a.text("Status", "Run & done");
    rec.level(1);
    rec.newDiagRecord().recordAnnotation("Details");
    rec.level(0);
    vcDiagRecord& c = rec.newDiagRecord();
    c.recordAnnotation("Outputs");
    vcGraphicList lone;
    lone.append(new vcGraphicCross({50, 60}, 4, vcRadian(0), vcColor::orangeColor));
    c.graphics(lone, vcDisplay::eImageCoords, "Fixtures");
  }  // written here

  const std::string html = readFile(dir / "index.html");
  ASSERT_FALSE(html.empty());
  const auto p0 = html.find("<h2>0. Run &lt;Inputs&gt;</h2>");
  const auto p1 = html.find("<h2>1. Details</h2>");
  const auto p2 = html.find("<h2>2. Outputs</h2>");
  ASSERT_NE(p0, std::string::npos);
  ASSERT_NE(p1, std::string::npos);
  ASSERT_NE(p2, std::string::npos);
  EXPECT_LT(p0, p1);
  EXPECT_LT(p1, p2);
  EXPECT_NE(html.find("data-level=\"1\" style=\"margin-left:24px\""), std::string::npos);
  EXPECT_NE(html.find("<pre>Run &amp; done</pre>"), std::string::npos);
  EXPECT_EQ(html.find("<h3 class=\"text\">Status"), html.find("<h3 class=\"text\">"));
  // The client rectangle (2,2)-(6,4) lands on pixels (1,1)-(3,2), over the record's image,
  // which the page shows 8 times enlarged (graphics are drawn in screen pixels).
  const std::string first = html.substr(p0, p1 - p0);
  EXPECT_NE(first.find("href=\"record_0000.bmp\""), std::string::npos);
  EXPECT_NE(first.find("M8 8 L24 8 L24 16 L8 16 Z"), std::string::npos);
  EXPECT_LT(first.find("<image"), first.find("data-name=\"ROI\""));
  // Image-frame graphics are not mapped by a client transform; without an image the view
  // frames them with a 10-pixel margin: extent (38,48)-(62,72), enlarged 8 times.
  const std::string last = html.substr(p2);
  EXPECT_NE(last.find("M80 96 L112 96"), std::string::npos);
  EXPECT_NE(last.find("width=\"192.000\" height=\"192.000\""), std::string::npos);
  EXPECT_EQ(last.find("<image"), std::string::npos);

  // The PGM holds the exact pixels; the BMP is 8-bit grey, bottom-up, rows padded to 4.
  const auto back = vfReadPgm((dir / "record_0000.pgm").string());
  ASSERT_EQ(back.width(), 5);
  ASSERT_EQ(back.height(), 3);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 5; ++x) EXPECT_EQ(back.get(x, y), img.get(x, y));
  const std::string bmp = readFile(dir / "record_0000.bmp");
  ASSERT_EQ(bmp.size(), 1078u + 8u * 3u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(static_cast<unsigned char>(bmp[1078 + 1]), img.get(1, 2));  // bottom row first
  EXPECT_EQ(static_cast<unsigned char>(bmp[1078 + 16 + 4]), img.get(4, 0));
  EXPECT_FALSE(fs::exists(dir / "record_0001.pgm"));
  fs::remove_all(dir);
}

TEST(Diag, UnwritableFolderIsReported) {
  const fs::path dir = freshDir("blocked");
  fs::create_directories(dir);
  { std::ofstream(dir / "file") << "x"; }
  vcDiagObject d;
  d.newDiagRecord().recordAnnotation("x");
  EXPECT_THROW(vfWriteDiagFolder(d, (dir / "file" / "sub").string()), vcBadParams);
  // The destructor of a recorder swallows the same failure.
  EXPECT_NO_THROW({ vcDiagFolderRecorder r((dir / "file" / "sub").string()); });
  fs::remove_all(dir);
}

}  // namespace
