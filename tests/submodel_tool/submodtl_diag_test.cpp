#include <gtest/gtest.h>

#include <string>

#include "platform/diag/vcDiag.h"
#include "tool_scenes.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

namespace {

const vcDiagRecord* find(const vcDiagObject& d, const std::string& annotation) {
  for (long i = 0; i < d.numRecords(); ++i)
    if (d.diagRecord(i).annotation() == annotation) return &d.diagRecord(i);
  return nullptr;
}

std::string textOf(const vcDiagRecord* r, const std::string& name) {
  const vcDiagRecord::Item* it = r ? r->findText(name) : nullptr;
  return it ? it->text : std::string("<missing>");
}

TEST(SubModelToolDiag, TrainRecordsStatusAndFailures) {
  vcDiagObject diag;
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(std::string("b")), vcFlexSubModelGfndTrainParams(), &diag, 0x70000);
  const vcDiagRecord* in = find(diag, "Sub-Model Tool Train Inputs");
  EXPECT_EQ(textOf(in, "Model Type"), "Model Type: Blank");
  EXPECT_EQ(textOf(in, "Algorithm"), "Train Algorithm: Geofind \n");
  EXPECT_EQ(textOf(find(diag, "Sub-Model Tool Train Outputs"), "Status"), "Trained SUCCESSFULLY.");

  // Only the kinds the flags ask for are written.
  vcDiagObject outputsOnly;
  tool.train(vcFlexSubModel(std::string("c")), vcFlexSubModelGfndTrainParams(), &outputsOnly,
             0x20000);
  EXPECT_EQ(find(outputsOnly, "Sub-Model Tool Train Inputs"), nullptr);
  EXPECT_NE(find(outputsOnly, "Sub-Model Tool Train Outputs"), nullptr);

  std::vector<vc2Wireframe> shapes(1);
  shapes[0].insertVertex({0, 0}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({30, 0}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({30, 30}, -1, vcRadian(0), vcDimTol());
  shapes[0].close(vcRadian(0), vcDimTol());
  vcDiagObject failed;
  EXPECT_THROW(tool.train(vcFlexSubModel(shapes, vc2XformLinear(), "s"),
                          vcFlexSubModelCorTrainParams(), &failed, 0x70000),
               vcFlexAlignDefs::CanNotTrain);
  const vcDiagRecord* out = find(failed, "Sub-Model Tool Train Outputs");
  EXPECT_EQ(textOf(out, "Status"), "Training FAILED.");
  EXPECT_EQ(textOf(out, "Exception Data").rfind("vc_SubModelTool::train threw  ", 0), 0u);
}

TEST(SubModelToolDiag, RunRecordsNestUnderTheInputRecord) {
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(std::string("b")), vcFlexSubModelGfndTrainParams());
  vcDiagObject diag;
  vc_SubModelResultSet rs;
  tool.run(vcPelBuffer<unsigned char>(40, 40), vc2XformLinear(), vcFlexSubModelGfndRunParams(), {},
           rs, &diag, 0x70000);
  const vcDiagRecord* in = find(diag, "Sub-Model Tool Run");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(textOf(in, "Algorithm"), "Algorithm: Geofind");
  const vcDiagRecord* out = find(diag, "Sub-Model Tool Run Outputs");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(textOf(out, "Status"), "Run SUCCESSFULLY.");
  EXPECT_EQ(textOf(out, "Result Data 0").rfind("\nGeofind Result 0: \n", 0), 0u);
  EXPECT_EQ(diag.level(), 0);

  vcDiagObject failed;
  vc_SubModelResultSet none;
  EXPECT_THROW(vc_SubModelTool().run(vcPelBuffer<unsigned char>(40, 40), vc2XformLinear(),
                                     vcFlexSubModelGfndRunParams(), {}, none, &failed, 0x70000),
               vcFlexAlignDefs::NotTrained);
  const vcDiagRecord* fout = find(failed, "Sub-Model Tool Run Outputs");
  EXPECT_EQ(textOf(fout, "Status"), "Run FAILED.");
  EXPECT_EQ(textOf(fout, "Exception Data").rfind("vc_SubModelTool::run threw  ", 0), 0u);
  EXPECT_EQ(failed.level(), 0);
}

}  // namespace

