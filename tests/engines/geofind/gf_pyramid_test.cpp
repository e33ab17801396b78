// The pyramid and noise stage: which levels a window gets, where a 2 x 2 reduction puts an
// edge, the gradient of a known edge and of a ramp, and the noise thresholds of each level.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/geofind_scene.h"

namespace gf_pyramid_test {

using namespace vc_gfrun;

vcPelBuffer<unsigned char> filled(int w, int h, auto value) {
  vcPelBuffer<unsigned char> img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.set(x, y, static_cast<unsigned char>(value(x, y)));
  return img;
}

// A half-plane brighter on the side of (cos deg, sin deg), its edge through `at`.
vcPelBuffer<unsigned char> halfPlane(int w, int h, const vcVector<2>& at, double deg) {
  const double a = deg * vcPi / 180, n = 4.0 * (w + h);
  const vcVector<2> u(std::cos(a), std::sin(a)), v(-u.y(), u.x());
  vcSamplePattern p;
  p.background = 50;
  p.shapes.push_back(
      vfSamplePolygon({at - n * v, at + n * u - n * v, at + n * u + n * v, at + n * v}, 210));
  p.halfSize = n;
  vcSampleRender r;
  r.width = w, r.height = h;
  return vfRenderSample(p, vcXform<2>(), r);
}

// A level holds the level pixels whose 2^l x 2^l blocks lie wholly in the window, and the
// pyramid stops above the last level that keeps 3 x 3 of them.
TEST(GeofindPyramid, LevelsHoldTheWholeBlocksOfTheWindow) {
  const auto img = filled(100, 60, [](int, int) { return 0; });
  vcPelBuffer_const<unsigned char> win = img;
  ASSERT_TRUE(win.window(vcPelRect(5, 3, 90, 50)));
  vc_GFImageData cache(img, nullptr);
  const std::vector<LevelImage> pyr = openLevels(cache, win, 6);
  auto whole = [](int a0, int a1, int f, int& first, int& count) {
    first = -1, count = 0;
    for (int p = 0; p * f < a1; ++p)
      if (p * f >= a0 && (p + 1) * f <= a1) first = first < 0 ? p : first, ++count;
  };
  int l = 0;
  for (;; ++l) {
    int fx, nx, fy, ny;
    whole(5, 95, 1 << l, fx, nx);
    whole(3, 53, 1 << l, fy, ny);
    if (nx < 3 || ny < 3) break;
    ASSERT_LT(std::size_t(l), pyr.size());
    EXPECT_EQ(pyr[l].data->w, 100 >> l);
    EXPECT_EQ(pyr[l].data->h, 60 >> l);
    EXPECT_EQ(pyr[l].win.x0, fx);
    EXPECT_EQ(pyr[l].win.y0, fy);
    EXPECT_EQ(pyr[l].width(), nx);
    EXPECT_EQ(pyr[l].height(), ny);
  }
  EXPECT_EQ(pyr.size(), std::size_t(l));
}

// Level l's pixel centres sit at 2^l x + c_l in level-0 pixels, c_l = (2^l - 1) / 2, so an edge
// at level-0 position e lies at (e - c_l) / 2^l on level l. The centroid of the gradient across
// a softened edge finds it to about a hundredth of a pixel (a shifted reduction moves it by a
// quarter of one or more). The gradient points to the bright side whatever the edge's
// direction, to within Sobel's own error of a degree or so on a soft edge.
TEST(GeofindPyramid, ReductionKeepsEdgePositionAndDirection) {
  const double e = 61.3;
  vcPelBuffer<unsigned char> img = halfPlane(128, 64, {e, 0}, 0);
  vc_GFImageData cache(img, nullptr);
  const std::vector<LevelImage> pyr = openLevels(cache, img, 2);
  ASSERT_EQ(pyr.size(), 3u);
  for (int l = 0; l <= 2; ++l) {
    Grad g;
    gradientOf(pyr[l], pyr[l].win, g);
    const double f = 1 << l, expect = (e - 0.5 * (f - 1)) / f;
    const int y = g.h / 2, c = int(std::lround(expect));
    double sum = 0, moment = 0;
    for (int x = c - 4; x <= c + 4; ++x) {
      const float gx = g.gx[std::size_t(y) * g.stride + x];
      EXPECT_GE(gx, 0.0f) << "level " << l << " x " << x;
      sum += gx, moment += gx * x;
    }
    EXPECT_NEAR(moment / sum, expect, 0.05) << "level " << l;
  }
  for (double deg : {0.0, 30.0, 90.0, 135.0, 200.0, 290.0}) {
    img = halfPlane(96, 96, {47.6, 48.2}, deg);
    vc_GFImageData c2(img, nullptr);
    const std::vector<LevelImage> p2 = openLevels(c2, img, 1);
    for (const LevelImage& L : p2) {
      Grad g;
      gradientOf(L, {8, 8, L.win.x1 - 8, L.win.y1 - 8}, g);
      // The strongest pixels lie on the edge, where its direction is defined.
      double sx = 0, sy = 0;
      for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
          const double gx = g.gx[std::size_t(y) * g.stride + x];
          const double gy = g.gy[std::size_t(y) * g.stride + x];
          if (std::hypot(gx, gy) > 20) sx += gx, sy += gy;
        }
      const double got = std::atan2(sy, sx) * 180 / vcPi;
      EXPECT_LT(circDiff(got, deg, 360), 1.5) << deg << " level " << L.level;
    }
  }
}

// The Sobel / 8 gradient of a ramp is its slope, and a Gaussian blur leaves a ramp as it is; a
// 2 x 2 mean doubles the slope per level pixel.
TEST(GeofindPyramid, RampGradientIsItsSlopePlainAndSmoothed) {
  const auto img = filled(96, 48, [](int x, int y) { return 2 * x + y + 10; });
  vc_GFImageData cache(img, nullptr);
  const std::vector<LevelImage> pyr = openLevels(cache, img, 1);
  for (const LevelImage& L : pyr) {
    const double f = 1 << L.level;
    const PixRect inner{7, 7, L.win.x1 - 7, L.win.y1 - 7};  // beyond the blur's reach
    Grad plain, smooth;
    gradientOf(L, inner, plain);
    smoothSobel(L, 1.5, inner, smooth);
    for (const Grad* g : {&plain, &smooth})
      for (int y = 0; y < g->h; ++y)
        for (int x = 0; x < g->w; ++x) {
          ASSERT_NEAR(g->gx[std::size_t(y) * g->stride + x], 2 * f, 1e-3) << x << "," << y;
          ASSERT_NEAR(g->gy[std::size_t(y) * g->stride + x], 1 * f, 1e-3) << x << "," << y;
        }
  }
}

// On white noise the image's noise estimate finds its deviation, and each level's contrast
// threshold stands noiseFactor deviations of that level's gradient noise high: a 2 x 2 mean
// halves the noise, and Sobel / 8 passes 0.433 of it.
TEST(GeofindPyramid, ContrastThresholdsFollowEachLevelsGradientNoise) {
  std::mt19937 rng(5);
  std::normal_distribution<double> N(128, 12);
  const auto img = filled(256, 256, [&](int, int) { return std::lround(N(rng)); });
  vcGfScene::Scene s(vcGfScene::lPlate(), 2, 1, 1, 0, 0);
  const std::vector<LevelImage> pyr = s.open(img, 0);
  EXPECT_NEAR(imageNoise(img, s.tune), 12, 0.6);
  ASSERT_EQ(s.P.contrastAt.size(), 3u);
  for (const LevelImage& L : pyr) {
    Grad g;
    gradientOf(L, {1, 1, L.win.x1 - 1, L.win.y1 - 1}, g);
    double ss = 0;
    for (int y = 0; y < g.h; ++y)
      for (int x = 0; x < g.w; ++x) {
        const double gx = g.gx[std::size_t(y) * g.stride + x];
        const double gy = g.gy[std::size_t(y) * g.stride + x];
        ss += gx * gx + gy * gy;
      }
    const double measured = std::sqrt(ss / (2.0 * g.w * g.h));
    EXPECT_NEAR(s.P.contrastOn(L.level) / s.tune.noiseFactor / measured, 1.0, 0.1)
        << "level " << L.level;
  }
}

}  // namespace gf_pyramid_test
