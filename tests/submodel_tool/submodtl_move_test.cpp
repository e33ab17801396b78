#include <gtest/gtest.h>

#include <vector>

#include "tools/testing/vcSampleImages.h"
#include "vcSubModelTool.h"

// Moving a tool hands its engine over; a list of tools can grow without retraining each one.
TEST(SubModelToolMove, MovedToolKeepsItsEngine) {
  vcSampleRender opt;
  opt.width = opt.height = 96;
  const vcFlexSubModel sm(
      vfRenderSample(vfSampleAsymmetricPattern(),
                     vcXform<2>(vcMatrix<2>(0.6, 0, 0, 0.6), vcVector<2>(48, 48)), opt),
      "A");
  vcFlexSubModelGfndTrainParams params;
  vc_SubModelTool tool;
  tool.train(sm, params);
  const vcGFAlignPattern* engine = tool.geofindPattern();
  ASSERT_NE(engine, nullptr);
  vc_SubModelTool moved(std::move(tool));
  EXPECT_EQ(moved.geofindPattern(), engine);
  EXPECT_TRUE(moved.isTrained());
  EXPECT_TRUE(moved.subModel() == sm);
  vc_SubModelTool assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.geofindPattern(), engine);
  EXPECT_TRUE(assigned.trainParams()->equal(params));
  // The copy trains an engine of its own.
  const vc_SubModelTool copy(assigned);
  EXPECT_NE(copy.geofindPattern(), engine);
  EXPECT_TRUE(copy == assigned);
}
