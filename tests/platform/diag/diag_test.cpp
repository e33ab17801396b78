#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/core/vcException.h"
#include "platform/diag/vcDiag.h"
#include "support/text_files.h"

namespace {

namespace fs = std::filesystem;

using vcTest::readFile;
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
  // Records of one recorder share the copy of an equal image (a run records its input many
  // times); a changed image gets a copy of its own.
  d.newDiagRecord().image(img, true);
  d.newDiagRecord().image(img, true);
  EXPECT_EQ(d.diagRecord(4).image().row(0), d.diagRecord(5).image().row(0));
  EXPECT_NE(d.diagRecord(4).image().row(0), d.diagRecord(0).image().row(0));
  img.set(1, 0, 7);
  d.newDiagRecord().image(img, true);
  EXPECT_NE(d.diagRecord(6).image().row(0), d.diagRecord(5).image().row(0));
  EXPECT_EQ(d.diagRecord(5).image().get(1, 0), 10 * 3 + 1);
  EXPECT_EQ(d.diagRecord(6).image().get(1, 0), 7);
  vcDiagRecord r;
  r.image(img);
  r.image(vcPelBuffer_const<unsigned char>());
  EXPECT_FALSE(r.hasImage());
}

using vcTest::count;

TEST(Diag, FolderRecorderWritesOnePageNestedByLevel) {
  const fs::path dir = freshDir("index");
  auto img = ramp(5, 3);
  // Client coordinates are twice the pixel coordinates.
  img.clientFromImageXform(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), {0, 0}));
  {
    vcDiagFolderRecorder rec(dir.string());
    rec.summary("Tool", "Test <tool>");
    vcDiagRecord& a = rec.newDiagRecord();
    a.recordAnnotation("Run <Inputs>");
    a.image(img);
    vcGraphicList g;
    g.append(new vcGraphicWithFill<vcRect, vcGenRect>(vcRect(2, 2, 4, 2), vcColor::cyanColor));
    a.graphics(g, vcDisplay::eClientCoords, "ROI");
    a.text("Status", "Run & done");
    rec.level(1);
    vcDiagRecord& b = rec.newDiagRecord();
    b.recordAnnotation("Details");
    b.image(ramp(5, 3));  // equal pixels: the page holds the image once
    rec.level(0);
    vcDiagRecord& c = rec.newDiagRecord();
    c.recordAnnotation("Outputs");
    vcGraphicList lone;
    lone.append(new vcGraphicCross({50, 60}, 4, vcRadian(0), vcColor::orangeColor));
    c.graphics(lone, vcDisplay::eImageCoords, "Fixtures");
  }  // written here

  const std::string html = readFile(dir / "index.html");
  ASSERT_FALSE(html.empty());
  const auto p0 = html.find("<summary>0. Run &lt;Inputs&gt;</summary>");
  const auto p1 = html.find("<summary>1. Details</summary>");
  const auto p2 = html.find("<summary>2. Outputs</summary>");
  ASSERT_NE(p0, std::string::npos);
  ASSERT_NE(p1, std::string::npos);
  ASSERT_NE(p2, std::string::npos);
  ASSERT_LT(p0, p1);
  ASSERT_LT(p1, p2);
  EXPECT_LT(html.find("<td>Test &lt;tool&gt;</td>"), p0);
  // "Details" opens inside "Run <Inputs>" and starts closed; both close before "Outputs".
  EXPECT_EQ(count(html.substr(p0, p1 - p0), "</details>"), 0u);
  EXPECT_EQ(count(html.substr(p1, p2 - p1), "</details>"), 2u);
  EXPECT_NE(html.find("id=\"record_0000\" data-level=\"0\" open>"), std::string::npos);
  EXPECT_NE(html.find("id=\"record_0001\" data-level=\"1\">"), std::string::npos);
  EXPECT_NE(html.find("<pre>Run &amp; done</pre>"), std::string::npos);
  EXPECT_EQ(html.find("<h3 class=\"text\">Status"), html.find("<h3 class=\"text\">"));
  // Without an encoder the image is an embedded BMP ("BM" is "Qk" in base64), once.
  EXPECT_EQ(count(html, "<image id="), 1u);
  EXPECT_EQ(count(html, "data:image/bmp;base64,Qk"), 1u);
  EXPECT_EQ(count(html, "href=\"#img0\""), 2u);
  // The client rectangle (2,2)-(6,4) lands on pixels (1,1)-(3,2), over the record's image,
  // which the page shows 8 times enlarged (graphics are drawn in screen pixels); a pixel's
  // centre is half a pixel into its square.
  const std::string first = html.substr(p0, p1 - p0);
  EXPECT_NE(first.find("M12 12 L28 12 L28 20 L12 20 Z"), std::string::npos);
  EXPECT_LT(first.find("<use"), first.find("data-name=\"ROI\""));
  EXPECT_NE(first.find("data-layer=\"record_0000_g0\""), std::string::npos);
  // Image-frame graphics are not mapped by a client transform; without an image the view
  // frames them with a 10-pixel margin: extent (38,48)-(62,72), enlarged 8 times.
  const std::string last = html.substr(p2);
  EXPECT_NE(last.find("M80 96 L112 96"), std::string::npos);
  EXPECT_NE(last.find("width=\"192.000\" height=\"192.000\""), std::string::npos);
  EXPECT_EQ(last.find("<use"), std::string::npos);

  // Beside the page, the exact pixels of each distinct image.
  const auto back = vfReadPgm((dir / "image_000.pgm").string());
  ASSERT_EQ(back.width(), 5);
  ASSERT_EQ(back.height(), 3);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 5; ++x) EXPECT_EQ(back.get(x, y), img.get(x, y));
  EXPECT_FALSE(fs::exists(dir / "image_001.pgm"));
  fs::remove_all(dir);
}

TEST(Diag, FolderWriterUsesTheGivenImageEncoder) {
  const fs::path dir = freshDir("encoder");
  vcDiagObject d;
  d.newDiagRecord().image(ramp(4, 4));
  d.newDiagRecord().image(ramp(4, 5));
  long calls = 0;
  vcDiagImageEncoder enc{"image/x-test", [&](const vcPelBuffer_const<unsigned char>& im) {
                           ++calls;
                           return std::string("abc") + char('0' + im.height());
                         }};
  vfWriteDiagFolder(d, dir.string(), enc);
  const std::string html = readFile(dir / "index.html");
  EXPECT_EQ(calls, 2);
  EXPECT_NE(html.find("data:image/x-test;base64,YWJjNA=="), std::string::npos);  // "abc4"
  EXPECT_NE(html.find("data:image/x-test;base64,YWJjNQ=="), std::string::npos);  // "abc5"
  EXPECT_EQ(html.find("image/bmp"), std::string::npos);
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
