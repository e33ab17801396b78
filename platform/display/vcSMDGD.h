// Synthetic shape models: weighted shapes in their own local frames, each placed by a
// transform. A shape's local frame has its origin at the centre of the shape's bounding box,
// so a model's placements carry where the shapes lie and the polys carry only their form.
#pragma once

#include <vector>

#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"
#include "platform/display/vc2Wireframe.h"
#include "platform/display/vcGenPoly.h"
#include "platform/display/vcGraphic.h"

class vc2XformBase;

class vcSMDGDPoly {
 public:
  vcSMDGDPoly() = default;
  // `local` is the shape in its local frame; the weight's sign is the edge polarity.
  explicit vcSMDGDPoly(const vcGenPoly& local, double weight = 1.0)
      : poly_(local), weight_(weight) {}
  const vcGenPoly& poly() const { return poly_; }
  double weight() const { return weight_; }
  // Appends one arrow per segment of nonzero length, at the segment's middle and pointing the
  // way the segment runs, after mapping the shape by `xform`. `size` is the arrow length in
  // the mapped frame; a size that is not positive draws nothing.
  void drawDirectionArrows(const vcXform<2>& xform, vcGraphicList& list, double size,
                           const vcColor& color = vcColor::green) const;
  void drawDirectionArrows(const vc2XformBase& xform, vcGraphicList& list, double size,
                           const vcColor& color = vcColor::green) const;
  bool operator==(const vcSMDGDPoly&) const = default;

 private:
  vcGenPoly poly_;
  double weight_ = 1.0;
};

class vcSMDGDModel {
 public:
  vcSMDGDModel() = default;
  explicit vcSMDGDModel(std::vector<vcSMDGDPoly> polys) : polys_(std::move(polys)) {}
  long numPolys() const { return static_cast<long>(polys_.size()); }
  // Throws vcBadParams for an index out of range.
  const vcSMDGDPoly& poly(long i) const;
  const std::vector<vcSMDGDPoly>& polys() const { return polys_; }
  bool operator==(const vcSMDGDModel&) const = default;

 private:
  std::vector<vcSMDGDPoly> polys_;
};

struct vcSMDGDPolyPrivate {
  // The shape moved into its local frame (its bounding-box centre becomes the origin).
  static vcSMDGDPoly poly(const vcGenPoly& shape, double weight = 1.0);
  // The placement that takes a wireframe's local frame back to where the wireframe lies: a
  // translation to its bounding-box centre. poly(w) mapped by wireframeXform(w) is w again.
  static vcXform<2> wireframeXform(const vc2Wireframe& wireframe);
};

struct vcSMDGDModelPrivate {
  // One poly per wireframe, carrying its weight. Throws vcBadParams when the counts differ.
  static vcSMDGDModel weightedWireframesToModel(const std::vector<vc2Wireframe>& wireframes,
                                                const std::vector<double>& weights);
  // The placement of each wireframe (wireframeXform), in order. Throws vcBadParams when the
  // counts differ.
  static std::vector<vcXform<2>> wireframeXforms(const std::vector<vc2Wireframe>& wireframes,
                                                 const std::vector<double>& weights);
  // The tight box of every poly placed by its transform and then mapped by `xform`; the
  // default vcRect for a model without vertices. Throws vcBadParams when the number of
  // placements differs from the number of polys.
  static vcRect boundingBox(const vcSMDGDModel& model, const std::vector<vcXform<2>>& xforms,
                            const vcXform<2>& xform);
};
