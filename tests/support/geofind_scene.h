// Scenes for the tests of single Geofind stages: a pattern of filled polygons whose edge points
// are taken from its geometry (not trained from an image), a run problem whose client
// coordinates are the image's pixels, with a scale and an angle DOF, and the pyramid of a
// rendered image. Every expected pose is the one the scene was drawn at.
#pragma once

#include <memory>
#include <vector>

#include "engines/geofind/gfRunTypes.h"
#include "tools/testing/vcSampleImages.h"

namespace vcGfScene {

// Points `spacing` apart along every side of the pattern's polygons, none within `corner`
// pixels of a vertex (where the gradient turns from one side's direction to the other's).
// Normals point from dark to bright: into a polygon brighter than the background.
vc_GFPointSet edgePoints(const vcSamplePattern& pat, double spacing, double corner = 2.0);

// The polygons of `pat` mapped by each transform, in one pattern (instances of one scene).
vcSamplePattern placed(const vcSamplePattern& pat, const std::vector<vcXform<2>>& where);

// An asymmetric L-shaped plate with a bevelled corner, about 60 pixels across.
vcSamplePattern lPlate();

struct Scene {
  // Points of `pat` on levels 0 .. top (2^l apart on level l); the DOFs' ranges.
  Scene(const vcSamplePattern& pat, int top, double scaleLo, double scaleHi, double angleLo,
        double angleHi);
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // The pattern drawn at scale s, turned by deg, its origin at t: pattern -> image pixels, and
  // the same as the run's pose (v = {scale, angle}).
  vcXform<2> xform(double s, double deg, const vcVector<2>& t) const;
  vc_gfrun::Pose pose(double s, double deg, const vcVector<2>& t) const;
  // Where the centroid of level l's points lands under p (image pixels).
  vcVector<2> centre(const vc_gfrun::Pose& p, int level = 0) const;

  // Levels 0 .. top of `img`, with the contrast thresholds of its noise and the caller's
  // threshold `contrast`.
  std::vector<vc_gfrun::LevelImage> open(const vcPelBuffer_const<unsigned char>& img,
                                         double contrast = 10);

  vc_GFTuning tune;
  vcGeorapidScale scale;
  vcGeorapidAngle angle;
  vc_GFModel model;
  vc_gfrun::Problem P{tune};
  std::vector<vc_gfrun::PatPoints> lv;
  std::unique_ptr<vc_GFImageData> cache;
};

}  // namespace vcGfScene
