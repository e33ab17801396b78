// The archives' pixel code and what pixel buffers do with it: every image comes back exactly,
// smooth and flat images get small, a damaged code is refused, equal buffers are stored once
// (and loaded once where read-only), and buffers of the first archive version still load.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/core/vcArchive.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelCodec.h"
#include "platform/core/vcShapes.h"

// A named namespace: the sanitizer trees build tests in unity batches.
namespace vcPelCodecTest {

using Bytes = std::vector<std::uint8_t>;

vcPelBufferU8 image(long w, long h, int kind, unsigned seed = 1) {
  vcPelBufferU8 img(w, h);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> any(0, 255);
  std::normal_distribution<double> noise(0.0, 3.0);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      double v = 0;
      if (kind == 0) v = any(rng);                                                   // noise
      if (kind == 1) v = 128 + 100 * std::sin(0.05 * x) * std::cos(0.07 * y);        // smooth
      if (kind == 2) v = 77;                                                         // flat
      if (kind == 3) v = (x - 20) * (x - 20) + (y - 15) * (y - 15) < 150 ? 255 : 0;  // mask
      if (kind == 4) v = 128 + 100 * std::sin(0.05 * x) + noise(rng);  // smooth and noisy
      img.set(x, y, static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))));
    }
  return img;
}

Bytes decoded(const Bytes& code, const vcPelBufferU8& like) {
  vcPelBufferU8 out(like.width(), like.height());
  vfDecodePels(code.data(), code.size(), out);
  Bytes px;
  for (long y = 0; y < out.height(); ++y) px.insert(px.end(), out.row(y), out.row(y) + out.width());
  return px;
}

Bytes pixels(const vcPelBuffer_const<unsigned char>& img) {
  Bytes px;
  for (long y = 0; y < img.height(); ++y) px.insert(px.end(), img.row(y), img.row(y) + img.width());
  return px;
}

TEST(PelCodec, EveryImageComesBackExactlyWithinItsBitBudget) {
  for (int kind = 0; kind < 5; ++kind)
    for (auto [w, h] : {std::pair{1L, 1L}, {1, 7}, {9, 1}, {2, 2}, {61, 43}}) {
      const vcPelBufferU8 img = image(w, h, kind);
      const Bytes code = vfEncodePels(img);
      EXPECT_EQ(decoded(code, img), pixels(img)) << kind << " " << w << "x" << h;
      // At least one bit and at most 33 per pixel: what the loaders' size checks rely on.
      EXPECT_LE(std::uint64_t(w * h), vfMaxCodedPels(code.size()));
      EXPECT_LE(code.size(), std::size_t((33 * w * h + 7) / 8));
    }
  // A window of a larger image (offset and row stride of its own).
  vcPelBufferU8 big = image(80, 60, 4);
  ASSERT_TRUE(big.window(vcPelRect(13, 7, 41, 29)));
  EXPECT_EQ(decoded(vfEncodePels(big), big), pixels(big));
}

TEST(PelCodec, SmoothAndFlatImagesCodeSmall) {
  const auto bitsPerPixel = [](int kind) {
    const vcPelBufferU8 img = image(200, 150, kind);
    return 8.0 * double(vfEncodePels(img).size()) / (200.0 * 150.0);
  };
  EXPECT_LT(bitsPerPixel(2), 1.05);  // flat: one bit a pixel
  EXPECT_LT(bitsPerPixel(3), 1.3);   // a mask
  EXPECT_LT(bitsPerPixel(1), 3.0);   // smooth
  EXPECT_LT(bitsPerPixel(4), 5.0);   // smooth under noise of 3 grey levels (its entropy is 3.6)
  EXPECT_GT(bitsPerPixel(0), 8.0);   // noise does not code: archives store it as rows
}

TEST(PelCodec, DamagedCodeIsRefused) {
  const vcPelBufferU8 img = image(37, 23, 4);
  const Bytes code = vfEncodePels(img);
  for (std::size_t n = 0; n < code.size(); ++n)
    EXPECT_THROW(decoded(Bytes(code.begin(), code.begin() + long(n)), img), vcArchive::BadData)
        << n;
  Bytes longer = code;
  longer.push_back(0x80);
  EXPECT_THROW(decoded(longer, img), vcArchive::BadData);
  // Random bytes either fail or decode to some image; they never read outside the code.
  std::mt19937 rng(5);
  for (int t = 0; t < 200; ++t) {
    Bytes junk(std::size_t(rng() % 300));
    for (auto& b : junk) b = std::uint8_t(rng());
    try {
      decoded(junk, img);
    } catch (const vcArchive::BadData&) {
    }
  }
}

TEST(PelCodec, ArchivesStoreEqualImagesOnceAndLoadTheFirstVersion) {
  vcPelBufferU8 a = image(64, 48, 1), same = vfPelCopy(a), other = image(64, 48, 4);
  same.clientFromImageXform(vcXform<2>(vcMatrix<2>(), vcVector<2>(3, 4)));
  vcArchive once, twice;
  once || a;
  twice || a || same || other;
  vcArchive in(twice.bytes());
  vcPelBufferU8 backA, backSame, backOther;
  in || backA || backSame || backOther;
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_TRUE(vfPelEqual(backA, a) && vfPelEqual(backSame, a) && vfPelEqual(backOther, other));
  EXPECT_EQ(backSame.clientFromImageXform(), same.clientFromImageXform());
  EXPECT_FALSE(backSame.sharesPixelsWith(backA));  // a writable buffer owns its pixels
  // Read-only ones share: however many references an archive holds, they cost no pixels.
  vcArchive inConst(twice.bytes());
  vcPelBufferU8_const constA, constSame, constOther;
  inConst || constA || constSame || constOther;
  EXPECT_TRUE(constSame.sharesPixelsWith(constA));
  EXPECT_TRUE(vfPelEqual(constSame, a));
  EXPECT_EQ(constSame.clientFromImageXform(), same.clientFromImageXform());
  // The repeat costs its header (window and client transform) and a reference, not its
  // pixels' code.
  vcArchive alone;
  alone || other;
  EXPECT_LT(twice.bytes().size(), once.bytes().size() + alone.bytes().size() + 100);
  EXPECT_GT(once.bytes().size(), 400u);

  // Version 0: the window's rows as they are.
  vcPelBufferU8 v0img = image(5, 3, 0);
  vcArchive v0;
  unsigned char version = 0;
  bool bound = true;
  vcPelRect win = v0img.window();
  vcXform<2> client;
  v0 || version || bound || win || client;
  for (long y = 0; y < 3; ++y) v0.putBytes(v0img.row(y), 5);
  vcArchive in0(v0.bytes());
  vcPelBufferU8 back0;
  in0 || back0;
  EXPECT_TRUE(vfPelEqual(back0, v0img));
  EXPECT_EQ(in0.remaining(), 0u);
}

}  // namespace vcPelCodecTest
