#include "platform/display/vcSMDGD.h"

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcException.h"

namespace {

vcVector<2> localOrigin(const vcGenPoly& g) {
  return g.numVertices() == 0 ? vcVector<2>(0, 0) : g.encloseRect().center();
}

void checkCounts(std::size_t shapes, std::size_t weights) {
  if (shapes != weights)
    throw vcBadParams("The number of weights differs from the number of shapes");
}

// The arrow head: a tip at `mid` with two barbs folded back along the direction.
void appendArrow(vcGraphicList& list, const vcVector<2>& mid, const vcVector<2>& dir, double size,
                 const vcColor& color) {
  const vcVector<2> n(-dir.y(), dir.x());
  const vcVector<2> tip = mid + dir * (0.5 * size);
  vcGenPoly head;
  head.addVertex(tip - dir * size + n * (0.4 * size));
  head.addVertex(tip);
  head.addVertex(tip - dir * size - n * (0.4 * size));
  list.append(new vcGraphicSimple<vcGenPoly>(head, color));
}

template <class MapPoint, class MapDir>
void drawArrows(const vcGenPoly& g, vcGraphicList& list, double size, const vcColor& color,
                MapPoint&& mapPoint, MapDir&& mapDir) {
  if (!(size > 0)) return;
  for (long i = 0; i < g.numSegments(); ++i) {
    if (g.segmentLength(i) == 0) continue;
    const vcVector<2> mid = g.pointAt(i, 0.5);
    const vcVector<2> dir = mapDir(mid, g.tangentAt(i, 0.5));
    if (dir.len() == 0) continue;
    appendArrow(list, mapPoint(mid), dir.unit(), size, color);
  }
}

}  // namespace

void vcSMDGDPoly::drawDirectionArrows(const vcXform<2>& xform, vcGraphicList& list, double size,
                                      const vcColor& color) const {
  drawArrows(
      poly_, list, size, color, [&](const vcVector<2>& p) { return xform.mapPoint(p); },
      [&](const vcVector<2>&, const vcVector<2>& d) { return xform.matrix() * d; });
}

void vcSMDGDPoly::drawDirectionArrows(const vc2XformBase& xform, vcGraphicList& list, double size,
                                      const vcColor& color) const {
  drawArrows(
      poly_, list, size, color, [&](const vcVector<2>& p) { return xform.mapPoint(p); },
      [&](const vcVector<2>& p, const vcVector<2>& d) {
        return xform.linearXform(p).xform().matrix() * d;
      });
}

const vcSMDGDPoly& vcSMDGDModel::poly(long i) const {
  if (i < 0 || i >= numPolys()) throw vcBadParams("Shape index out of range");
  return polys_[static_cast<std::size_t>(i)];
}

vcSMDGDPoly vcSMDGDPolyPrivate::poly(const vcGenPoly& shape, double weight) {
  const vcVector<2> o = localOrigin(shape);
  return vcSMDGDPoly(shape.map(vcXform<2>(vcMatrix<2>(), o * -1.0)), weight);
}

vcXform<2> vcSMDGDPolyPrivate::wireframeXform(const vc2Wireframe& wireframe) {
  return vcXform<2>(vcMatrix<2>(), localOrigin(wireframe.poly()));
}

vcSMDGDModel vcSMDGDModelPrivate::weightedWireframesToModel(
    const std::vector<vc2Wireframe>& wireframes, const std::vector<double>& weights) {
  checkCounts(wireframes.size(), weights.size());
  std::vector<vcSMDGDPoly> polys;
  polys.reserve(wireframes.size());
  for (std::size_t i = 0; i < wireframes.size(); ++i)
    polys.push_back(vcSMDGDPolyPrivate::poly(wireframes[i].poly(), weights[i]));
  return vcSMDGDModel(std::move(polys));
}

std::vector<vcXform<2>> vcSMDGDModelPrivate::wireframeXforms(
    const std::vector<vc2Wireframe>& wireframes, const std::vector<double>& weights) {
  checkCounts(wireframes.size(), weights.size());
  std::vector<vcXform<2>> out;
  out.reserve(wireframes.size());
  for (const auto& w : wireframes) out.push_back(vcSMDGDPolyPrivate::wireframeXform(w));
  return out;
}

vcRect vcSMDGDModelPrivate::boundingBox(const vcSMDGDModel& model,
                                        const std::vector<vcXform<2>>& xforms,
                                        const vcXform<2>& xform) {
  if (xforms.size() != model.polys().size())
    throw vcBadParams("The number of placements differs from the number of shapes");
  bool any = false;
  vcRect box;
  for (std::size_t i = 0; i < xforms.size(); ++i) {
    const vcGenPoly& g = model.polys()[i].poly();
    if (g.numVertices() == 0) continue;
    const vcRect r = g.map(xform * xforms[i]).encloseRect();
    box = any ? box.enclose(r) : r;
    any = true;
  }
  return box;
}
