#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"

namespace {

void expectMatrixNear(const vcMatrix<2>& a, const vcMatrix<2>& b, double tol) {
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(a(r, c), b(r, c), tol) << r << "," << c;
}

TEST(Matrix, DecompositionsRebuildRandomMatrices) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> u(-3, 3);
  int mirrors = 0;
  for (int i = 0; i < 500; ++i) {
    const vcMatrix<2> m(u(rng), u(rng), u(rng), u(rng));
    if (std::fabs(m.det()) < 1e-3) continue;
    mirrors += m.det() < 0;
    SCOPED_TRACE(i);
    expectMatrixNear(vcMatrix<2>(m.xRot(), m.yRot(), m.xScale(), m.yScale()), m, 1e-12);
    expectMatrixNear(vcMatrix<2>(m.scale(), m.aspect(), m.shear(), m.rotation()), m, 1e-12);
    EXPECT_GT(m.xScale(), 0);
    EXPECT_EQ(m.yScale() < 0, m.det() < 0);
    expectMatrixNear(m * m.inverse(), vcMatrix<2>(), 1e-9);
  }
  EXPECT_GT(mirrors, 100);  // both orientations were exercised
  // The documented readings of simple matrices.
  const vcMatrix<2> s(2.0, 1.0, vcRadian(0), vcRadian(0));
  expectMatrixNear(s, vcMatrix<2>(2, 0, 0, 2), 0);
  const vcMatrix<2> r(1.0, 1.5, vcRadian(0.2), vcRadian(0.7));
  EXPECT_NEAR(r.scale(), 1.0, 1e-12);
  EXPECT_NEAR(r.aspect(), 1.5, 1e-12);
  EXPECT_NEAR(r.shear().toDouble(), 0.2, 1e-12);
  EXPECT_NEAR(r.rotation().toDouble(), 0.7, 1e-12);
  EXPECT_THROW(vcMatrix<2>(1, 2, 2, 4).inverse(), vcMathError::Singular);
  // Tiny but well conditioned still inverts.
  EXPECT_NO_THROW(vcMatrix<2>(1e-9, 0, 0, 1e-9).inverse());
  const vcXform<2> x(r, vcVector<2>(3, 4));
  const vcVector<2> p(-7, 2);
  const vcVector<2> back = x.invMapPoint(x.mapPoint(p));
  EXPECT_NEAR(back.x(), p.x(), 1e-12);
  EXPECT_NEAR(back.y(), p.y(), 1e-12);
}

// Foreign pixels with padded rows: windows, copies and archives see the same pixels as the
// owner's array, and the owner's token is released with the last copy.
TEST(PelBuffer, ViewsForeignPixelsWithRowStride) {
  std::vector<unsigned char> rows(7 * 5);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<unsigned char>(i);
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  {
    vcPelBufferU8 view(rows.data(), 4, 5, 7, std::move(token));
    EXPECT_EQ(view.width(), 4);
    EXPECT_EQ(view.rowStride(), 7);
    EXPECT_EQ(view.get(3, 2), 2 * 7 + 3);
    view.set(1, 4, 200);
    EXPECT_EQ(rows[4 * 7 + 1], 200);
    vcPelBufferU8_const win = view;
    ASSERT_TRUE(win.window(vcPelRect(1, 1, 2, 3)));
    EXPECT_EQ(win.get(1, 2), 3 * 7 + 2);
    const vcPelBufferU8 copy = vfPelCopy(win);
    EXPECT_EQ(copy.rowStride(), 2);
    EXPECT_TRUE(vfPelEqual(copy, win));
    EXPECT_FALSE(watch.expired());
  }
  EXPECT_TRUE(watch.expired());
  const vcPelBufferU8_const unowned(rows.data(), 7, 5, 7, nullptr);
  EXPECT_TRUE(unowned.isBound());
  EXPECT_EQ(unowned.get(6, 4), rows[34]);
  EXPECT_THROW(vcPelBufferU8(rows.data(), 8, 5, 7, nullptr), vcBadParams);
  EXPECT_THROW(vcPelBufferU8(nullptr, 2, 2, 2, nullptr), vcBadParams);
  EXPECT_THROW(vcPelBufferU8(rows.data(), -1, 2, 2, nullptr), vcBadParams);
}

TEST(PelBuffer, WindowsShareAndCopiesDoNot) {
  vcPelBufferU8 img(10, 8);
  img.set(3, 2, 77);
  vcPelBufferU8 view = img;
  EXPECT_TRUE(view.sharesPixelsWith(img));
  ASSERT_TRUE(view.window(vcPelRect(2, 1, 4, 4)));
  EXPECT_EQ(view.offset(), (vcPair<long>(2, 1)));
  EXPECT_EQ(view.get(1, 1), 77);
  view.set(0, 0, 5);
  EXPECT_EQ(img.get(2, 1), 5);  // writes through the view
  vcPelBufferU8 copy = vfPelCopy(view);
  EXPECT_FALSE(copy.sharesPixelsWith(img));
  EXPECT_EQ(copy.width(), 4);
  EXPECT_TRUE(vfPelEqual(copy, view));
  copy.set(1, 1, 0);
  EXPECT_EQ(img.get(3, 2), 77);
  // Windows outside the image are refused unless clipped.
  EXPECT_FALSE(view.window(vcPelRect(8, 6, 5, 5)));
  EXPECT_EQ(view.window(), vcPelRect(2, 1, 4, 4));
  EXPECT_TRUE(view.window(vcPelRect(8, 6, 5, 5), true));
  EXPECT_EQ(view.window(), vcPelRect(8, 6, 2, 2));
  EXPECT_FALSE(view.window(vcPelRect(20, 20, 1, 1), true));
  view.setEntire();
  EXPECT_EQ(view.window(), img.entire());
  view.setUnbound();
  EXPECT_FALSE(view.isBound());
  EXPECT_TRUE(img.isBound());
  EXPECT_THROW(vcPelBufferU8(-1, 3), vcBadParams);
  unsigned char invert[256];
  for (int i = 0; i < 256; ++i) invert[i] = static_cast<unsigned char>(255 - i);
  vfPelMap(img, img, invert);
  EXPECT_EQ(img.get(3, 2), 255 - 77);
  EXPECT_THROW(vfPelMap(img, copy, invert), vcBadParams);
}

class Pgm : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string readError(const std::string& path) {
    try {
      vfReadPgm(path);
    } catch (const vcBadParams& e) {
      return e.message(false);
    }
    return "no error";
  }
};

TEST_F(Pgm, RoundTripAndComments) {
  vcPelBufferU8 img(5, 3);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 5; ++x) img.set(x, y, static_cast<unsigned char>(x * 50 + y));
  const std::string path = ::testing::TempDir() + "/rt.pgm";
  vfWritePgm(path, img);
  EXPECT_TRUE(vfPelEqual(vfReadPgm(path), img));
  const vcPelBufferU8 c =
      vfReadPgm(write("c.pgm", std::string("P5 # note\n2 1\n# more\n255\n") + "\x01\x02"));
  EXPECT_EQ(c.width(), 2);
  EXPECT_EQ(c.get(1, 0), 2);
}

TEST_F(Pgm, MalformedFilesGiveClearErrors) {
  EXPECT_NE(readError(::testing::TempDir() + "/none.pgm").find("cannot open"), std::string::npos);
  EXPECT_NE(readError(write("p2.pgm", "P2\n2 2\n255\n1 2 3 4")).find("P5"), std::string::npos);
  EXPECT_NE(readError(write("t.pgm", "P5\n2")).find("truncated header"), std::string::npos);
  EXPECT_NE(readError(write("w.pgm", "P5\nx 2\n255\n")).find("width"), std::string::npos);
  EXPECT_NE(readError(write("m.pgm", "P5\n2 2\n65535\n")).find("8-bit"), std::string::npos);
  EXPECT_NE(readError(write("z.pgm", "P5\n0 2\n255\n")).find("size"), std::string::npos);
  EXPECT_NE(readError(write("big.pgm", "P5\n999999 999999\n255\n")).find("size"),
            std::string::npos);
  EXPECT_NE(readError(write("d.pgm", "P5\n4 4\n255\nabc")).find("truncated pixel"),
            std::string::npos);
  // 19 bytes declaring 65536 x 65536: refused from the file size, not after a 4 GiB buffer
  // (the fuzz target's memory limit is what catches the allocation itself).
  EXPECT_NE(readError(std::string(VCFLEX_REPRO_DIR) + "/pgm-65536x65536-header.pgm")
                .find("truncated pixel"),
            std::string::npos);
}

}  // namespace
