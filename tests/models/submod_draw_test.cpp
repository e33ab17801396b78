#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/diag/vcDiag.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

namespace {

// A right triangle in client coordinates, legs 40 and 20.
vcFlexSubModel triangle(const std::string& name) {
  std::vector<vc2Wireframe> shapes(1);
  shapes[0].insertVertex({10, 10}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({50, 10}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({50, 30}, -1, vcRadian(0), vcDimTol());
  shapes[0].close(vcRadian(0), vcDimTol());
  return vcFlexSubModel(shapes, vc2XformLinear(), name);
}

void expectNear(const vcVector<2>& a, const vcVector<2>& b) {
  EXPECT_NEAR(a.x(), b.x(), 1e-9);
  EXPECT_NEAR(a.y(), b.y(), 1e-9);
}

template <class G>
const G* as(const vcGraphicList& l, long i) {
  return dynamic_cast<const G*>(&l.graphic(i));
}

using Poly = vcGraphicSimple<vcGenPoly>;
using Axes = vcGraphicSimple<vcCoordAxes>;

// Display from sub-model coordinates: turned by 90 degrees, scaled by 2, moved.
const vc2XformLinear kDisplay(vcMatrix<2>(0, -2, 2, 0), vcVector<2>(100, 50));
// Sub-model frame in client coordinates: moved to the triangle's corner.
const vc2XformLinear kOrigin(vcMatrix<2>(), vcVector<2>(10, 10));

TEST(ModelDraw, EachSubModelFlagDrawsItsGraphicWhereTheFramesPutIt) {
  vcFlexSubModel s = triangle("tri");
  s.origin(kOrigin);
  // Client point c is shown at display(c - (10, 10)).
  auto shown = [](const vcVector<2>& c) { return kDisplay.mapPoint(c - vcVector<2>(10, 10)); };

  vcGraphicList axes;
  s.draw(axes, kDisplay, 1, vcColor::red);
  ASSERT_EQ(axes.size(), 4);
  expectNear(as<Axes>(axes, 0)->shape().origin(), kDisplay.mapPoint({0, 0}));
  expectNear(as<Axes>(axes, 0)->shape().xEnd(), kDisplay.mapPoint({10, 0}));
  EXPECT_EQ(as<vcGraphicText>(axes, 1)->text(), "Sub-Model Origin");
  expectNear(as<Axes>(axes, 2)->shape().origin(), shown({0, 0}));
  EXPECT_EQ(as<vcGraphicText>(axes, 3)->text(), "Sub-Model Client");
  EXPECT_EQ(axes.graphic(0).color(), vcColor::red);

  vcGraphicList label;
  s.draw(label, kDisplay, 2, vcColor::green);
  ASSERT_EQ(label.size(), 1);
  EXPECT_EQ(as<vcGraphicText>(label, 0)->text(), "tri");
  expectNear(as<vcGraphicText>(label, 0)->point(), kDisplay.mapPoint({0, 12}));

  vcGraphicList box;
  s.draw(box, kDisplay, 4, vcColor::cyan);
  ASSERT_EQ(box.size(), 1);
  const vcGenPoly& outline = as<Poly>(box, 0)->shape();
  ASSERT_TRUE(outline.closed());
  ASSERT_EQ(outline.numVertices(), 4);
  const vcVector<2> corners[] = {{10, 10}, {50, 10}, {50, 30}, {10, 30}};  // ul ur lr ll
  for (int k = 0; k < 4; ++k) expectNear(outline.vertex(k), shown(corners[k]));

  vcGraphicList shapes;
  s.draw(shapes, kDisplay, 8, vcColor::green);
  ASSERT_GE(shapes.size(), 1 + 3);  // the shape, then one arrow per segment
  expectNear(as<Poly>(shapes, 0)->shape().vertex(1), shown({50, 10}));

  vcGraphicList all;
  s.draw(all, kDisplay, 15, vcColor::green);
  EXPECT_EQ(all.size(), axes.size() + label.size() + box.size() + shapes.size());

  // No shapes for an image sub-model; a blank has no extent to outline.
  vcGraphicList none;
  vcFlexSubModel(vcPelBuffer<unsigned char>(20, 20), "img").draw(none, kDisplay, 8, vcColor::red);
  vcFlexSubModel(std::string("blank")).draw(none, kDisplay, 4 | 8, vcColor::red);
  EXPECT_TRUE(none.empty());
}

TEST(ModelDraw, ArrangementDrawsItsExtentAndPlacedShapesThroughItsOrigin) {
  const vcFlexSubModel s = triangle("tri");
  const vc2XformLinear moved(vcMatrix<2>(), vcVector<2>(100, 0));
  vcFlexArrangement a({s}, {0, 0}, {vc2XformLinear().clone(), moved.clone()});
  a.origin(vc2XformLinear(vcMatrix<2>(), vcVector<2>(5, 5)));
  // Arrangement point p is shown at display(p - (5, 5)).
  auto shown = [](const vcVector<2>& p) { return kDisplay.mapPoint(p - vcVector<2>(5, 5)); };

  vcGraphicList box;
  a.draw(box, kDisplay, 4, vcColor::cyan);
  ASSERT_EQ(box.size(), 1);
  expectNear(as<Poly>(box, 0)->shape().vertex(0), shown({10, 10}));
  expectNear(as<Poly>(box, 0)->shape().vertex(2), shown({150, 30}));

  vcGraphicList placed;
  a.draw(placed, kDisplay, 8, vcColor::green);
  std::vector<const Poly*> polys;
  for (long i = 0; i < placed.size(); ++i)
    if (const Poly* p = as<Poly>(placed, i); p && p->shape().closed()) polys.push_back(p);
  ASSERT_EQ(polys.size(), 2u);
  expectNear(polys[0]->shape().vertex(0), shown({10, 10}));
  expectNear(polys[1]->shape().vertex(0), shown({110, 10}));

  vcGraphicList axes;
  a.draw(axes, kDisplay, 1 | 2, vcColor::green);  // flag 2 adds nothing for an arrangement
  ASSERT_EQ(axes.size(), 4);
  EXPECT_EQ(as<vcGraphicText>(axes, 1)->text(), "Arrangement Origin");
  EXPECT_EQ(as<vcGraphicText>(axes, 3)->text(), "Arrangement Client");
  expectNear(as<Axes>(axes, 2)->shape().origin(), shown({0, 0}));
}

TEST(ModelDraw, SubModelResultDrawsTheSubModelAtItsFoundPose) {
  const vcFlexSubModel s = triangle("tri");
  vcFlexSubModelGfndResult r;
  r.pose(vc2XformLinear(vcMatrix<2>(), vcVector<2>(7, 3)).clone());
  vcGraphicList outline, label;
  r.draw(outline, s, vc2XformLinear(), 1, vcColor::green, "found");
  r.draw(label, s, vc2XformLinear(), 2, vcColor::green, "found");
  ASSERT_FALSE(outline.empty());
  expectNear(as<Poly>(outline, 0)->shape().vertex(0), {17, 13});
  ASSERT_FALSE(label.empty());
  EXPECT_EQ(as<vcGraphicText>(label, 0)->text(), "found");
}

TEST(ModelDraw, DiagnosticDisplaysWriteNamedRecordsOneLevelDown) {
  vcPelBuffer<unsigned char> img(16, 12), mask(16, 12);
  const vcFlexSubModel image(img, mask, "img");
  vcFlexArrangement a({image, triangle("tri")});

  vcDiagObject diag;
  diag.level(3);
  vcFlexArrangementHelper::diagDisplay(a, &diag, 0x10000, vc2XformLinear());
  EXPECT_EQ(diag.level(), 3);
  std::vector<std::string> titles;
  std::vector<long> levels;
  for (long i = 0; i < diag.numRecords(); ++i) {
    titles.push_back(diag.diagRecord(i).annotation());
    levels.push_back(diag.diagRecord(i).level());
  }
  EXPECT_EQ(titles,
            (std::vector<std::string>{"Arrangement", "Sub-Model", "Image", "Mask", "Sub-Model"}));
  EXPECT_EQ(levels, (std::vector<long>{3, 4, 5, 5, 4}));

  const vcDiagRecord& sub = diag.diagRecord(1);
  std::vector<std::string> names;
  for (const auto& it : sub.items()) names.push_back(it.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Origin", "Label", "Bounding Box", "Wireframes"}));
  EXPECT_EQ(diag.diagRecord(2).image().width(), 16);
  EXPECT_TRUE(diag.diagRecord(3).hasImage());
  EXPECT_FALSE(diag.diagRecord(4).item(3).graphics.empty());  // the triangle's wireframes

  vcFlexSubModelHelper::diagDisplay(image, nullptr, 0x70000, vc2XformLinear());  // no recorder
}

}  // namespace
