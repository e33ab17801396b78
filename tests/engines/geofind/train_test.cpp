// Training without the blurred scales (what a sub-model does to read its symmetry) reads the
// same information and level-0 points as a full training, and the pattern still runs.
#include <gtest/gtest.h>

#include "engines/geofind/vcGFAlign.h"
#include "tools/testing/vcSampleImages.h"

// A named namespace: the sanitizer trees build tests in unity batches.
namespace vcGeofindTrainTest {

TEST(GeofindTrain, WithoutBlurredScalesTheInformationIsTheSame) {
  vcSampleRender r;
  r.width = r.height = 160;
  const vcXform<2> pose(vcMatrix<2>(), vcVector<2>(80, 80));
  for (const vcSamplePattern& shape : {vfSampleAsymmetricPattern(), vfSampleSquarePattern()}) {
    const vcPelBuffer<unsigned char> image = vfRenderSample(shape, pose, r);
    vcGFAlignPattern full, sharp;
    sharp.trainBlurredScales(false);
    full.train(image, 1, nullptr, 0);
    sharp.train(image, 1, nullptr, 0);
    vc_GFPatternInfo a, b;
    full.getInfo(a);
    sharp.getInfo(b);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.value1, b.value1);
    EXPECT_EQ(a.value2, b.value2);
    EXPECT_EQ(full.finePoints(), sharp.finePoints());

    vcGFAlignResultSet want, got;
    full.run(image, vcGFAlignRunParams(), want, nullptr, 0);
    sharp.run(image, vcGFAlignRunParams(), got, nullptr, 0);
    ASSERT_EQ(want.numFound(), 1);
    ASSERT_EQ(got.numFound(), 1);
    EXPECT_LT(got[0].pose().trans().distance(want[0].pose().trans()), 0.05);
  }
}

}  // namespace vcGeofindTrainTest
