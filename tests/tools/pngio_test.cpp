#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/core/vcException.h"
#include "tools/common/vcPngIo.h"

namespace {

namespace fs = std::filesystem;

std::string tempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("vcpngio_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

vcPelBuffer<unsigned char> ramp(long w, long h) {
  vcPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.set(x, y, (unsigned char)((x * 7 + y * 13) & 255));
  return img;
}

std::string messageOf(const std::string& path) {
  try {
    vfReadImage(path);
  } catch (const vcBadParams& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(PngIo, RoundTripsGreyAndAWindowExactly) {
  if (!vfHavePng()) GTEST_SKIP() << "built without libpng";
  const auto img = ramp(37, 21);
  const std::string p = tempPath("grey.png");
  vfWriteImage(p, img);
  EXPECT_TRUE(vfPelEqual(vfReadImage(p), img));
  // A window is written as just its pixels, whatever the row stride of its root image.
  vcPelBuffer<unsigned char> win = img;
  ASSERT_TRUE(win.window(vcPelRect(5, 3, 10, 8)));
  vfWritePng(p, win);
  const auto back = vfReadPng(p);
  ASSERT_EQ(back.width(), 10);
  ASSERT_EQ(back.height(), 8);
  for (long y = 0; y < 8; ++y)
    for (long x = 0; x < 10; ++x) ASSERT_EQ(back.get(x, y), img.get(x + 5, y + 3));
  fs::remove(p);
}

TEST(PngIo, ColourFilesBecomeGrey) {
  if (!vfHavePng()) GTEST_SKIP() << "built without libpng";
  // Written independently through libpng: pure grey, white and a saturated red pixel.
  const unsigned char rgb[] = {100, 100, 100, 255, 255, 255, 255, 0, 0};
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 3;
  image.height = 1;
  image.format = PNG_FORMAT_RGB;
  const std::string p = tempPath("rgb.png");
  ASSERT_TRUE(png_image_write_to_file(&image, p.c_str(), 0, rgb, 0, nullptr));
  const auto g = vfReadImage(p);
  ASSERT_EQ(g.width(), 3);
  EXPECT_NEAR(g.get(0, 0), 100, 2);
  EXPECT_EQ(g.get(1, 0), 255);
  // Red carries 0.2126 of white's luminance in linear light, about 127 once sRGB-encoded.
  EXPECT_NEAR(g.get(2, 0), 127, 4);
  fs::remove(p);
}

TEST(PngIo, BadFilesNameTheFileAndTheProblem) {
  const std::string missing = tempPath("missing.png");
  EXPECT_NE(messageOf(missing).find(missing + ": cannot open"), std::string::npos);

  const std::string text = tempPath("text.png");
  std::ofstream(text) << "hello, this is not an image";
  EXPECT_NE(messageOf(text).find("not a PNG or binary PGM"), std::string::npos);

  const std::string empty = tempPath("empty.png");
  std::ofstream(empty).close();
  EXPECT_NE(messageOf(empty).find("empty"), std::string::npos);

  if (vfHavePng()) {
    // Cuts inside the header or the pixel data fail cleanly (no crash, no partial image).
    const std::string whole = vfEncodePng(ramp(40, 30));
    const std::string cut = tempPath("cut.png");
    for (std::size_t n : {std::size_t(9), std::size_t(40), whole.size() / 2}) {
      std::ofstream(cut, std::ios::binary).write(whole.data(), std::streamsize(n));
      EXPECT_EQ(messageOf(cut).rfind(cut + ": ", 0), 0u) << n;
    }
    fs::remove(cut);
  }
  EXPECT_THROW(vfEncodePng(vcPelBuffer_const<unsigned char>()), vcBadParams);
  fs::remove(text);
  fs::remove(empty);
}

}  // namespace
