// A strip of four-fold symmetric marks, each degraded its own way: every mark must take one
// place in the answer whatever its symmetry, so the poses found do not depend on numToFind.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcSampleImages.h"

// Named: the folder's tests compile in one unity batch.
namespace symmetric_marks {

vcSamplePattern cross(double grey, double background) {
  const double a = 10, l = 40;  // arm half-width and length
  vcSamplePattern p;
  p.background = background;
  p.shapes.push_back(vfSamplePolygon({{-a, -l},
                                      {a, -l},
                                      {a, -a},
                                      {l, -a},
                                      {l, a},
                                      {a, a},
                                      {a, l},
                                      {-a, l},
                                      {-a, a},
                                      {-l, a},
                                      {-l, -a},
                                      {-a, -a}},
                                     grey));
  return p;
}

vcXform<2> poseAt(double x, double y, double deg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(deg * vcPi / 180)), {x, y});
}

struct Strip {
  vcPelBuffer<unsigned char> image{640, 160};
  std::vector<vcVector<2>> centres;
};

// Clean; a textured patch over one arm and the centre; blurred; reversed and 8 % larger.
Strip fourMarks() {
  Strip s;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 6);
  const double angles[] = {0, 17, -33, 52};
  for (int k = 0; k < 4; ++k) {
    const bool reversed = k == 3;
    const vcXform<2> pose = poseAt(80.3, 79.6, angles[k], reversed ? 1.08 : 1.0);
    vcSampleRender r;
    r.width = r.height = 160;
    r.blurSigma = k == 2 ? 3.0 : 1.0;
    const vcPelBuffer<unsigned char> panel =
        vfRenderSample(reversed ? cross(40, 210) : cross(210, 40), pose, r);
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 160; ++x) {
        double v = panel.get(x, y);
        if (k == 1 && x >= 64 && x < 124 && y >= 62 && y < 98)  // 3-pixel blocks of texture
          v = 40 + 170 * (((x / 3) * 7 + (y / 3) * 13) % 5) / 4.0;
        s.image.set(160 * k + x, y,
                    static_cast<unsigned char>(std::clamp(v + noise(rng), 0.0, 255.0)));
      }
    s.centres.push_back(vcVector<2>(160 * k + 80.3, 79.6));
  }
  return s;
}

TEST(GeofindSymmetricMarks, FourOfFourWhateverNumToFind) {
  vcGFAlignPattern pat;
  pat.ignorePolarity(true);
  vcSampleRender r;
  r.width = r.height = 160;
  pat.train(vfRenderSample(cross(210, 40), poseAt(80, 80, 0, 1), r), 2, nullptr, 0);
  const Strip strip = fourMarks();
  std::vector<vcVector<2>> first;
  for (long n : {4L, 8L, 20L}) {
    vcGFAlignRunParams rp;
    vcGeorapidDOFList list;
    auto* a = new vcGeorapidAngle(nullptr, 1);
    a->range(-180, 180);
    a->overlap(360.0f);
    auto* sc = new vcGeorapidScale(a, 1);
    sc->range(0.8, 1.2);
    sc->overlap(1.4f);
    list.assign(sc);
    rp.customizeDOFs(&list);
    rp.numToFind(n);
    vcGFAlignResultSet rs;
    pat.run(strip.image, rp, rs, nullptr, 0);
    std::vector<vcVector<2>> found;
    for (const vcVector<2>& c : strip.centres) {
      int near = 0;
      vcVector<2> at;
      for (const vcGFAlignResult& f : rs.results()) {
        const vcVector<2> p = f.pose().mapPoint({80, 80});
        if (f.accepted() && p.distance(c) < 20) ++near, at = p;
      }
      EXPECT_EQ(near, 1) << "numToFind " << n << ", mark at x " << c.x();
      EXPECT_LT(at.distance(c), 0.3) << "numToFind " << n << ", mark at x " << c.x();
      found.push_back(at);
    }
    if (first.empty()) first = found;
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_LT(found[k].distance(first[k]), 0.01) << "numToFind " << n << ", mark " << k;
  }
}

}  // namespace symmetric_marks
