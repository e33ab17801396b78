#include "support/geofind_scene.h"

#include <cmath>

namespace vcGfScene {

namespace {

bool insidePolygon(const std::vector<vcVector<2>>& v, const vcVector<2>& p) {
  bool in = false;
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++)
    if ((v[i].y() > p.y()) != (v[j].y() > p.y()) &&
        p.x() < v[j].x() + (v[i].x() - v[j].x()) * (p.y() - v[j].y()) / (v[i].y() - v[j].y()))
      in = !in;
  return in;
}

}  // namespace

vc_GFPointSet edgePoints(const vcSamplePattern& pat, double spacing, double corner) {
  vc_GFPointSet s;
  for (const vcSampleShape& sh : pat.shapes) {
    const std::vector<vcVector<2>>& v = sh.vertices;
    for (std::size_t i = 0; i < v.size(); ++i) {
      const vcVector<2> a = v[i], b = v[(i + 1) % v.size()];
      const double len = a.distance(b);
      const vcVector<2> d = (b - a).unit();
      vcVector<2> n(-d.y(), d.x());
      if (!insidePolygon(v, 0.5 * (a + b) + 0.01 * n)) n = -n;
      if (sh.grey < pat.background) n = -n;
      // Evenly spaced, centred on the side.
      const int count = int(std::floor((len - 2 * corner) / spacing)) + 1;
      const double first = 0.5 * (len - (count - 1) * spacing);
      for (int k = 0; k < count; ++k) {
        const vcVector<2> p = a + (first + k * spacing) * d;
        s.push(float(p.x()), float(p.y()), float(n.x()), float(n.y()), 1.0f);
      }
    }
  }
  return s;
}

vcSamplePattern placed(const vcSamplePattern& pat, const std::vector<vcXform<2>>& where) {
  vcSamplePattern out;
  out.background = pat.background;
  out.halfSize = 1e4;  // the shapes lie anywhere in the image
  for (const vcXform<2>& x : where)
    for (vcSampleShape s : pat.shapes) {
      for (vcVector<2>& q : s.vertices) q = x.mapPoint(q);
      out.shapes.push_back(s);
    }
  return out;
}

vcSamplePattern lPlate() {
  vcSamplePattern p;
  p.shapes.push_back(vfSamplePolygon(
      {{-30, -30}, {22, -30}, {30, -22}, {30, -5}, {5, -5}, {5, 30}, {-30, 30}}, 200));
  p.background = 40;
  p.halfSize = 34;
  return p;
}

Scene::Scene(const vcSamplePattern& pat, int top, double scaleLo, double scaleHi, double angleLo,
             double angleHi) {
  scale.range(scaleLo, scaleHi);
  angle.range(angleLo, angleHi);
  for (vxGeorapidDOF* d :
       {static_cast<vxGeorapidDOF*>(&scale), static_cast<vxGeorapidDOF*>(&angle)}) {
    vc_gfrun::DofSpec s;
    s.dof = d;
    s.low = d->low();
    s.high = d->high();
    s.fixed = s.low == s.high;
    if (d == &angle && s.high - s.low >= 360.0) s.fullCircle = true, s.high = s.low + 360.0;
    P.dofs.push_back(s);
  }
  for (int l = 0; l <= top; ++l) {
    model.levels.push_back(edgePoints(pat, double(1 << l)));
    lv.push_back(vc_gfrun::toPattern(model.levels.back(), vcXform<2>()));
  }
  model.coarseLevel = top;
  model.scales.resize(1);
  model.scales[0].points = model.levels[0];
  P.m = &model;
}

vcXform<2> Scene::xform(double s, double deg, const vcVector<2>& t) const {
  return vcXform<2>(scale.matrix(s) * angle.matrix(deg), t);
}

vc_gfrun::Pose Scene::pose(double s, double deg, const vcVector<2>& t) const {
  vc_gfrun::Pose p;
  p.tx = t.x(), p.ty = t.y();
  p.v[0] = s, p.v[1] = deg;
  return p;
}

vcVector<2> Scene::centre(const vc_gfrun::Pose& p, int level) const {
  return vc_gfrun::poseB(P, p) * lv[std::size_t(level)].centroid + vcVector<2>(p.tx, p.ty);
}

std::vector<vc_gfrun::LevelImage> Scene::open(const vcPelBuffer_const<unsigned char>& img,
                                              double contrast) {
  cache = std::make_unique<vc_GFImageData>(img, nullptr);
  std::vector<vc_gfrun::LevelImage> pyr = vc_gfrun::openLevels(*cache, img, model.coarseLevel);
  P.contrastAt.clear();
  P.userContrast = P.contrast = contrast;
  vc_gfrun::setContrastThresholds(P, cache->noise(tune), pyr.size());
  return pyr;
}

}  // namespace vcGfScene
