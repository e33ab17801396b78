#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/diag/vcDiag.h"
#include "platform/display/vcGraphic.h"
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

// Distance from a point to the nearest edge of the scene's pattern under `pose`.
double edgeDistance(const vcVector<2>& p, const vcXform<2>& pose) {
  double best = 1e300;
  for (const vcPolygon& poly : tool_scenes::patternParts()) {
    const auto& v = poly.vertices();
    for (std::size_t i = 0; i < v.size(); ++i) {
      const vcVector<2> a = pose.mapPoint(v[i]), b = pose.mapPoint(v[(i + 1) % v.size()]);
      const vcVector<2> ab = b - a;
      const double t = std::clamp((p - a).dot(ab) / ab.dot(ab), 0.0, 1.0);
      best = std::min(best, p.distance(a + ab * t));
    }
  }
  return best;
}

TEST(SubModelToolDiag, MatchInfoIsDrawnOnTheEdgesItMatched) {
  vc_SubModelTool tool;
  vcFlexSubModelGfndTrainParams train;
  train.algorithms(vcFlexSubModelGfndDefs::eGeorapid | vcFlexSubModelGfndDefs::eGeofind);
  tool.train(vcFlexSubModel(tool_scenes::render(100, 80, vcXform<2>()), "p"), train);
  const vcXform<2> truth = tool_scenes::rigid(3.0, 61.3, 47.6);
  vcFlexSubModelGfndRunParams run;
  run.algorithm(vcFlexSubModelGfndDefs::eGeofind);
  run.xyUncertainty(12, 12);
  run.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  run.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -5, 5);
  run.saveMatchInfo(true);
  vcDiagObject diag;
  vc_SubModelResultSet rs;
  tool.run(tool_scenes::render(240, 200, truth), vc2XformLinear(tool_scenes::rigid(1.5, 58, 50)),
           run, {}, rs, &diag, vcDiagDefs::eIntermediate);
  ASSERT_GE(rs.numFound(), 1);
  const vcDiagRecord* r = find(diag, "Debugging Information");
  ASSERT_NE(r, nullptr);
  const vcDiagRecord::Item* g = nullptr;
  for (const auto& it : r->items())
    if (it.kind == vcDiagRecord::eGraphicsItem && it.name == "Results Match Info") g = &it;
  ASSERT_NE(g, nullptr);
  long crosses = 0, onEdge = 0;
  for (long i = 0; i < g->graphics.size(); ++i)
    if (const auto* c = dynamic_cast<const vcGraphicCross*>(&g->graphics.graphic(i))) {
      ++crosses;
      onEdge += edgeDistance(c->center(), truth) < 1.0;
    }
  EXPECT_GT(crosses, 50);
  EXPECT_GT(onEdge, crosses * 95 / 100);
}

}  // namespace
