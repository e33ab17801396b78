#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/display/vcGraphic.h"
#include "platform/display/vcSMDGD.h"

namespace {

const vcDimTol kNoTol(-1, -1, -1, vcDimTol::eNone);

vc2Wireframe box(double x, double y, double w, double h) {
  vc2Wireframe f;
  f.insertVertex({x, y}, -1, vcRadian(0), kNoTol);
  f.insertVertex({x + w, y}, -1, vcRadian(0), kNoTol);
  f.insertVertex({x + w, y + h}, -1, vcRadian(0), kNoTol);
  f.insertVertex({x, y + h}, -1, vcRadian(0), kNoTol);
  f.close(vcRadian(0), kNoTol);
  return f;
}

// Every "x y" coordinate pair after M or L in a path's d attribute.
std::vector<vcVector<2>> pathPoints(const std::string& svg) {
  std::vector<vcVector<2>> out;
  const std::regex re("[ML](-?[0-9.]+) (-?[0-9.]+)");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), re); it != std::sregex_iterator();
       ++it)
    out.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  return out;
}

TEST(Graphics, ListKeepsOrderSharesAndClones) {
  vcGraphicList list;
  auto* cross = new vcGraphicCross({5, 5}, 4, vcRadian(vcPi / 4), vcColor::orangeColor);
  list.append(new vcGraphicSimple<vcGenPoly>(box(0, 0, 10, 4), vcColor::cyanColor));
  list.append(cross, true);
  list.append(new vcGraphicWithFill<vcRect, vcGenRect>(vcRect(20, 30, 2, 2), vcColor::green, true),
              false);
  list.append(vcPtrHandle<vcGraphic>());  // ignored
  ASSERT_EQ(list.size(), 3);
  EXPECT_NE(dynamic_cast<const vcGraphicSimple<vcGenPoly>*>(&list.graphic(0)), nullptr);
  EXPECT_EQ(&list.graphic(1), cross);
  EXPECT_EQ(list.graphic(1).color(), vcColor::orange);
  EXPECT_FALSE(list.visible(2));
  EXPECT_THROW(list.graphic(3), vcBadParams);
  EXPECT_THROW(list.visible(-1), vcBadParams);

  // The invisible rectangle is neither drawn nor part of the extent.
  const vcRect e = list.encloseRect();
  EXPECT_DOUBLE_EQ(e.x(), 0);
  EXPECT_DOUBLE_EQ(e.width(), 10);
  EXPECT_NEAR(e.y() + e.height(), 5 + std::sqrt(2.0), 1e-12);  // the turned cross reaches down
  const std::string s = list.svg(vcXform<2>());
  EXPECT_EQ(s.find("20 30"), std::string::npos);
  EXPECT_LT(s.find("#00ffff"), s.find("#ffa500"));  // drawn in list order

  // Copies share the graphics, clones do not; appending a list to itself doubles it.
  vcGraphicList copy = list;
  EXPECT_EQ(&copy.graphic(1), cross);
  vcGraphicList deep = list.clone();
  EXPECT_NE(&deep.graphic(1), cross);
  EXPECT_EQ(deep.svg(vcXform<2>()), s);
  copy.append(copy);
  EXPECT_EQ(copy.size(), 6);
  EXPECT_EQ(&copy.graphic(4), cross);
  EXPECT_TRUE(vcGraphicList().encloseRect() == vcRect());
}

TEST(Graphics, SvgFollowsTheViewTransform) {
  // A view that doubles and shifts: every drawn point is the mapped shape point.
  const vcXform<2> view(vcMatrix<2>(2, 0, 0, 2), {100, 50});
  const vcGraphicWithFill<vcGenRect, vcGenRect> r(vcGenRect(vcRect(1, 2, 3, 4)), vcColor::red,
                                                  true);
  const std::string rs = r.svg(view);
  EXPECT_NE(rs.find("fill=\"#ff0000\""), std::string::npos);
  const auto rp = pathPoints(rs);
  ASSERT_EQ(rp.size(), 4u);
  EXPECT_EQ(rp[0], vcVector<2>(102, 54));
  EXPECT_EQ(rp[2], vcVector<2>(108, 62));

  const vcGraphicWithFill<vcCircle, vcEllipse2> c(vcCircle({0, 0}, 5), vcColor::blue, false);
  const std::string cs = c.svg(view);
  EXPECT_NE(cs.find("fill=\"none\""), std::string::npos);
  for (const auto& p : pathPoints(cs)) EXPECT_NEAR((p - vcVector<2>(100, 50)).len(), 10, 2e-3);

  const vcGraphicSimple<vcCoordAxes> ax(vcCoordAxes({0, 0}, {10, 0}, {0, 10}), vcColor::green);
  const auto ap = pathPoints(ax.svg(view));
  ASSERT_EQ(ap.size(), 4u);
  EXPECT_EQ(ap[1], vcVector<2>(120, 50));
  EXPECT_EQ(ap[3], vcVector<2>(100, 70));

  // A cross at 45 degrees has diagonal strokes of the given length.
  const vcGraphicCross x({0, 0}, 2 * std::sqrt(2.0), vcRadian(vcPi / 4), vcColor::white);
  const auto xp = pathPoints(x.svg(vcXform<2>()));
  ASSERT_EQ(xp.size(), 4u);
  EXPECT_NEAR(xp[1].x(), 1, 2e-3);
  EXPECT_NEAR(xp[1].y(), 1, 2e-3);

  // Texts: anchor mapped then offset in view pixels; markup escaped; pass draws no box.
  const vcGraphicText t("a<b & \"c\"", {1, 1}, vcColor::green, vcColor::pass,
                        vcUIFormat::defaultFont(), {8, 8});
  const std::string ts = t.svg(view);
  EXPECT_NE(ts.find("x=\"110\" y=\"60\""), std::string::npos);
  EXPECT_NE(ts.find(">a&lt;b &amp; &quot;c&quot;</text>"), std::string::npos);
  EXPECT_EQ(ts.find("<rect"), std::string::npos);
  const vcGraphicText tb("n", {0, 0}, vcColor::green, vcColor::black);
  EXPECT_NE(tb.svg(view).find("<rect"), std::string::npos);
  EXPECT_EQ(vcColor::pass.svg(), "none");
  EXPECT_FALSE(vcColor::pass == vcColor::black);
}

TEST(ShapeModels, PlacementsAndBoundingBoxes) {
  vc2Wireframe arc;
  arc.insertVertex({40, 0}, -1, vcRadian(0), kNoTol);
  arc.insertVertex({50, 0}, -1, vcRadian(-vcPi), kNoTol);  // bulges to y = 5
  const std::vector<vc2Wireframe> shapes = {box(0, 0, 10, 4), box(-6, 20, 2, 2), arc};
  const std::vector<double> weights = {1.0, -0.5, 0.25};
  const vcSMDGDModel model = vcSMDGDModelPrivate::weightedWireframesToModel(shapes, weights);
  const auto xforms = vcSMDGDModelPrivate::wireframeXforms(shapes, weights);
  ASSERT_EQ(model.numPolys(), 3);
  ASSERT_EQ(xforms.size(), 3u);
  EXPECT_DOUBLE_EQ(model.poly(1).weight(), -0.5);
  for (std::size_t i = 0; i < 3; ++i) {
    // Local polys are centred; the placement puts each back where it was.
    EXPECT_NEAR(model.polys()[i].poly().encloseRect().center().len(), 0, 1e-12);
    const vcGenPoly back = model.polys()[i].poly().map(xforms[i]);
    for (long v = 0; v < back.numVertices(); ++v)
      EXPECT_NEAR(back.vertex(v).distance(shapes[i].vertex(v)), 0, 1e-12);
  }
  const vcRect all = vcSMDGDModelPrivate::boundingBox(model, xforms, vcXform<2>());
  EXPECT_NEAR(all.x(), -6, 1e-12);
  EXPECT_NEAR(all.y(), 0, 1e-12);
  EXPECT_NEAR(all.x() + all.width(), 50, 1e-12);
  EXPECT_NEAR(all.y() + all.height(), 22, 1e-12);
  // Under a quarter turn (x, y) -> (-y, x) the box turns with the shapes, arc bulge included.
  const vcXform<2> quarter(vcMatrix<2>(0, -1, 1, 0), {0, 0});
  const vcRect turned = vcSMDGDModelPrivate::boundingBox(model, xforms, quarter);
  EXPECT_NEAR(turned.x(), -22, 1e-9);
  EXPECT_NEAR(turned.y(), -6, 1e-9);
  EXPECT_NEAR(turned.width(), 22, 1e-9);
  EXPECT_NEAR(turned.height(), 56, 1e-9);

  EXPECT_THROW(vcSMDGDModelPrivate::weightedWireframesToModel(shapes, {1.0}), vcBadParams);
  EXPECT_THROW(vcSMDGDModelPrivate::wireframeXforms(shapes, {}), vcBadParams);
  EXPECT_THROW(vcSMDGDModelPrivate::boundingBox(model, {vcXform<2>()}, vcXform<2>()), vcBadParams);
  EXPECT_THROW(model.poly(3), vcBadParams);
  EXPECT_TRUE(vcSMDGDModelPrivate::boundingBox(vcSMDGDModel(), {}, vcXform<2>()) == vcRect());
}

TEST(ShapeModels, DirectionArrowsPointAlongSegments) {
  const vc2Wireframe b = box(0, 0, 10, 4);
  const vcSMDGDPoly p = vcSMDGDPolyPrivate::poly(b.poly());
  const vcXform<2> place = vcSMDGDPolyPrivate::wireframeXform(b);
  vcGraphicList list;
  const vcXform<2> view(vcMatrix<2>(2, 0, 0, 2), {0, 0});
  p.drawDirectionArrows(view * place, list, 3.0, vcColor::cyan);
  ASSERT_EQ(list.size(), 4);  // one per segment
  // The first segment runs +x along y = 0; in the view its middle is (10, 0).
  const auto* a = dynamic_cast<const vcGraphicSimple<vcGenPoly>*>(&list.graphic(0));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->color(), vcColor::cyan);
  const vcGenPoly& head = a->shape();
  ASSERT_EQ(head.numVertices(), 3);
  const vcVector<2> tip = head.vertex(1);
  EXPECT_NEAR(tip.x(), 11.5, 1e-12);
  EXPECT_NEAR(tip.y(), 0, 1e-12);
  EXPECT_LT(head.vertex(0).x(), tip.x());  // barbs trail behind the tip
  EXPECT_NEAR(tip.x() - head.vertex(0).x(), 3.0, 1e-12);
  // The third segment runs -x along y = 4 (view y = 8): its arrow points to -x.
  const auto& h2 = dynamic_cast<const vcGraphicSimple<vcGenPoly>&>(list.graphic(2)).shape();
  EXPECT_NEAR(h2.vertex(1).y(), 8, 1e-12);
  EXPECT_GT(h2.vertex(0).x(), h2.vertex(1).x());

  vcGraphicList none;
  p.drawDirectionArrows(view, none, 0.0);
  EXPECT_TRUE(none.empty());
}

}  // namespace
