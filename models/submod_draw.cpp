// Drawing of sub-models and arrangements into graphic lists, and their diagnostic records.
//
// Frames: a sub-model is drawn from its own coordinates (the frame of its origin); shapes and
// the client rectangle live in client coordinates, so they go through originInverse first.
// An arrangement is drawn from the frame of its origin; its placements and extent live in
// arrangement coordinates, so they go through the inverse of the origin first.

#include <algorithm>
#include <cmath>

#include "platform/diag/vcDiag.h"
#include "platform/display/vcSMDGD.h"
#include "vcFlexModels.h"

namespace {

const vcVector<2> kTextOffset(8, 8);

vcXform<2> linearAt(const vc2XformBase& x, const vcVector<2>& p) {
  return x.linearXform(p).xform();
}

void appendAxes(vcGraphicList& list, const vcXform<2>& x, double length, const vcColor& c,
                const std::string& label) {
  const vcCoordAxes axes = vcCoordAxes({0, 0}, {length, 0}, {0, length}).map(x);
  list.append(vcPtrHandle<vcGraphic>(new vcGraphicSimple<vcCoordAxes>(axes, c)));
  list.append(vcPtrHandle<vcGraphic>(new vcGraphicText(label, axes.origin(), c, vcColor::pass,
                                                       vcUIFormat::defaultFont(), kTextOffset)));
}

// The closed outline through a rectangle's corners (ul, ur, lr, ll), each mapped by `x`.
void appendOutline(vcGraphicList& list, const vcRect& r, const vc2XformBase& x, const vcColor& c) {
  vc2Wireframe w;
  const vcDimTol none;  // no tolerances
  for (const vcVector<2>& p : {r.ul(), r.ur(), r.lr(), r.ll()})
    w.insertVertex(x.mapPoint(p), -1, vcRadian(0.0), none);
  w.close(vcRadian(0.0), none);
  list.append(vcPtrHandle<vcGraphic>(new vcGraphicSimple<vcGenPoly>(w.poly(), c)));
}

// Placement i: arrangement from the placed sub-model's coordinates.
const vc2XformBase& placedFrom(const vcFlexArrangement& a, long i) {
  return *a.positions()[static_cast<std::size_t>(i)];
}

void drawShapes(const vcFlexSubModel& s, vcGraphicList& list, const vc2XformBase& xform,
                const vcColor& c) {
  const std::vector<vc2Wireframe>& shapes = s.shapes();  // WrongModelType for other kinds
  const vcPtrHandle<vc2XformBase> toDisplay = xform.composeBase(*s.originInverse());
  double shortest = 1e7;
  for (const vc2Wireframe& w : shapes) {
    list.append(
        vcPtrHandle<vcGraphic>(new vcGraphicSimple<vcGenPoly>(w.poly().map(*toDisplay), c)));
    for (long k = 0; k < w.numSegments(); ++k)
      shortest = std::min(shortest, w.segmentLengthTol(k).nominal());
  }
  const double size = linearAt(xform, {0, 0}).matrix().scale() * shortest / 8.0;
  for (const vc2Wireframe& w : shapes) {
    const vc2XformLinear place(vcSMDGDPolyPrivate::wireframeXform(w));
    vcSMDGDPolyPrivate::poly(w.poly()).drawDirectionArrows(*toDisplay->composeBase(place), list,
                                                           size, c);
  }
}

}  // namespace

void vcFlexSubModel::draw(vcGraphicList& list, const vc2XformBase& xform, unsigned long flags,
                          const vcColor& color) const {
  if (flags & 1) {
    appendAxes(list, linearAt(xform, {0, 0}), 10, color, "Sub-Model Origin");
    const vcXform<2> client = linearAt(xform, {0, 0}) * linearAt(*originInverse_, {0, 0});
    appendAxes(list, client, 10, color, "Sub-Model Client");
  }
  if (flags & 2)
    list.append(vcPtrHandle<vcGraphic>(new vcGraphicText(name_, xform.mapPoint({0, 12}), color,
                                                         vcColor::pass, vcUIFormat::defaultFont(),
                                                         kTextOffset)));
  if ((flags & 4) && encloseRect_ != vcRect())
    appendOutline(list, encloseRect_, *xform.composeBase(*originInverse_), color);
  if ((flags & 8) && modelType_ == vcFlexModelDefs::eSynthetic)
    drawShapes(*this, list, xform, color);
}

void vcFlexArrangement::draw(vcGraphicList& list, const vc2XformBase& xform, unsigned long flags,
                             const vcColor& color) const {
  const vcPtrHandle<vc2XformBase> originInverse = origin_->inverseBase();
  const vcPtrHandle<vc2XformBase> fromArrangement = xform.composeBase(*originInverse);
  if (flags & 1) {
    appendAxes(list, linearAt(xform, {0, 0}), 15, color, "Arrangement Origin");
    appendAxes(list, linearAt(*fromArrangement, {0, 0}), 15, color, "Arrangement Client");
  }
  if ((flags & 4) && !positions_.empty())
    appendOutline(list, encloseRect(), *fromArrangement, color);
  if (flags & 8) {
    for (long i = 0; i < static_cast<long>(positions_.size()); ++i) {
      const vcFlexSubModel& s = subModels_[static_cast<std::size_t>(subModelIndices_[i])];
      if (s.modelType() == vcFlexModelDefs::eSynthetic)
        s.draw(list, *fromArrangement->composeBase(placedFrom(*this, i)), 8, color);
    }
  }
}

void vcFlexSubModelHelper::diagDisplay(const vcFlexSubModel& s, vcDiagObject* diag,
                                       unsigned long flags, const vc2XformBase& xform) {
  if (!diag) return;
  (void)flags;  // the caller's flags chose to record; every drawing goes in
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("Sub-Model");
  const struct {
    unsigned long flag;
    vcColor color;
    const char* name;
  } layers[] = {{1, vcColor::green, "Origin"},
                {2, vcColor::green, "Label"},
                {4, vcColor::cyan, "Bounding Box"},
                {8, vcColor::green, "Wireframes"}};
  for (const auto& l : layers) {
    vcGraphicList g;
    s.draw(g, xform, l.flag, l.color);
    r.graphics(g, vcDisplay::eClientCoords, l.name);
  }
  if (s.modelType() != vcFlexModelDefs::eImage) return;
  diag->level(diag->level() + 1);
  vcDiagRecord& image = diag->newDiagRecord();
  image.recordAnnotation("Image");
  image.image(s.image());
  vcDiagRecord& mask = diag->newDiagRecord();
  mask.recordAnnotation("Mask");
  if (s.mask().isBound()) mask.image(s.mask());
  diag->level(diag->level() - 1);
}

void vcFlexArrangementHelper::diagDisplay(const vcFlexArrangement& a, vcDiagObject* diag,
                                          unsigned long flags, const vc2XformBase& xform) {
  if (!diag) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("Arrangement");
  const struct {
    unsigned long flag;
    vcColor color;
    const char* name;
  } layers[] = {{1, vcColor::green, "Origin"},
                {4, vcColor::cyan, "Bounding Box"},
                {8, vcColor::green, "Wireframes"}};
  for (const auto& l : layers) {
    vcGraphicList g;
    a.draw(g, xform, l.flag, l.color);
    r.graphics(g, vcDisplay::eClientCoords, l.name);
  }
  diag->level(diag->level() + 1);
  const vcPtrHandle<vc2XformBase> fromArrangement = xform.composeBase(*a.origin()->inverseBase());
  for (long i = 0; i < static_cast<long>(a.positions().size()); ++i) {
    const vcFlexSubModel& s = a.subModels()[static_cast<std::size_t>(a.subModelIndices()[i])];
    vcFlexSubModelHelper::diagDisplay(s, diag, flags,
                                      *fromArrangement->composeBase(placedFrom(a, i)));
  }
  diag->level(diag->level() - 1);
}
