// A pattern's archive holds its trained model: a loaded pattern runs exactly as the stored one,
// without training, whatever it was trained from; damaged data is refused and changes nothing.
#include <gtest/gtest.h>

#include <functional>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "platform/display/vc2Wireframe.h"
#include "support/archive_check.h"
#include "tools/testing/vcSampleImages.h"
#include "vcDofData.h"

// A named namespace: the sanitizer trees build tests in unity batches.
namespace vcGeofindArchiveTest {

const vcXform<2> kTrainPose(vcMatrix<2>(), vcVector<2>(80, 80));

vcPelBuffer<unsigned char> render(const vcXform<2>& pose, int width = 160, int height = 160) {
  vcSampleRender r;
  r.width = width, r.height = height;
  r.noiseSigma = 3;
  return vfRenderSample(vfSampleAsymmetricPattern(), pose, r);
}

// Every result of a run over +-20 degrees and scale 0.9 .. 1.1, as numbers.
std::vector<double> results(const vcGFAlignPattern& p, const vcPelBuffer<unsigned char>& image) {
  vcGFAlignRunParams rp;
  rp.numToFind(3);
  vcGeorapidDOFList list = vfAngleScaleDofList(-20, 20, 0.9, 1.1);
  rp.customizeDOFs(&list);
  vcGFAlignResultSet rs;
  p.run(image, rp, rs, nullptr, 0);
  std::vector<double> out;
  for (const vcGFAlignResult& r : rs.results()) {
    const vcXform<2>& x = r.pose();
    out.insert(out.end(), {x.matrix()(0, 0), x.matrix()(0, 1), x.matrix()(1, 0), x.matrix()(1, 1),
                           x.trans().x(), x.trans().y(), r.score(), r.contrast(), r.fitError(),
                           r.coverage(), r.clutter()});
  }
  return out;
}

vcGFAlignPattern loaded(const vcGFAlignPattern& p) {
  vcGFAlignPattern copy = p, back;
  vcArchive out;
  out || copy;
  vcArchive in(out.bytes());
  in || back;
  EXPECT_EQ(in.remaining(), 0u);
  return back;
}

TEST(GeofindArchive, ALoadedPatternRunsAsTheStoredOne) {
  const vcPelBuffer<unsigned char> image =
      render(vcXform<2>(vcMatrix<2>(1.04, 1, vcRadian(0), vcRadian(0.2)), {320, 240}), 640, 480);
  for (long algorithm : {1L, 2L}) {
    vcGFAlignPattern p;
    p.ignorePolarity(algorithm == 2);
    p.elasticity(0.5);
    p.origin({3, -2});
    p.train(render(kTrainPose), algorithm, nullptr, 0);
    const vcGFAlignPattern back = loaded(p);
    ASSERT_TRUE(back.isTrained());
    EXPECT_EQ(back.trainedAlgorithm(), algorithm);
    EXPECT_EQ(back.ignorePolarity(), p.ignorePolarity());
    EXPECT_EQ(back.elasticity(), p.elasticity());
    EXPECT_EQ(back.origin(), p.origin());
    EXPECT_EQ(back.finePoints().size(), p.finePoints().size());
    const std::vector<double> want = results(p, image);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(results(back, image), want);
  }
  // Weighted shapes (weights other than 1 are stored), and an untrained pattern.
  vc2Wireframe square, bar;
  for (vcVector<2> v : {vcVector<2>(-30, -30), {30, -30}, {30, 30}, {-30, 30}})
    square.insertVertex(v, 0, vcRadian(0), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
  square.close(vcRadian(0), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
  for (vcVector<2> v : {vcVector<2>(-20, 0), {20, 10}})
    bar.insertVertex(v, 0, vcRadian(0), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
  vcGFAlignPattern shapes;
  shapes.train({square, bar}, {1.0, -0.4}, vcXform<2>(), 1, nullptr, 0);
  EXPECT_EQ(results(loaded(shapes), image), results(shapes, image));
  EXPECT_FALSE(loaded(vcGFAlignPattern()).isTrained());
}

TEST(GeofindArchive, DamagedDataIsRefusedAndChangesNothing) {
  vcGFAlignPattern p;
  p.train(render(kTrainPose), 2, nullptr, 0);
  const vcTest::Bytes good = vcTest::storeBytes(p);
  vcGFAlignPattern target;
  vcTest::expectDamageRefused(
      good, 300, 11,
      [&](const vcTest::Bytes& b) {
        target = vcGFAlignPattern();
        target.origin({7, 7});
        return vcTest::loadBytes(b, target);
      },
      [&] { return !target.isTrained() && target.origin() == vcVector<2>(7, 7); });
}

}  // namespace vcGeofindArchiveTest
