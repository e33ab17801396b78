// Scenes shared by the benchmarks and the instruction-count cases (perfcases.cpp): each is
// built once, deterministically, so that every program measures the same input.
#pragma once

#include <cmath>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcFlexSample.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlignTool.h"

// The flexible sample part (8 instances of 6 sub-models) trained with Geofind, and a 640 x 480
// run image (blur 1, noise 5, six clutter shapes) with the part turned 9.5 degrees, scaled 1.05
// and moved (34, -21) px from the nominal start pose; each piece further displaced up to 4 px
// and turned up to 3 degrees.
struct vcFlexBenchScene {
  vcFlexSample sample = vfMakeFlexSample();
  vcFlexAlignPattern pattern;
  vcFlexSampleImage run;
  vcXform<2> start;
  vcFlexBenchScene() {
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, 9.5, 1.05, 34, -21);
    opt.seed = 3;
    run = vfRenderFlexSample(sample, opt);
    start = vfFlexSamplePose(sample, 0.0, 1.0);
  }
};

inline vcXform<2> vfBenchPose(double x, double y, double deg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(deg * vcRadPerDeg)), {x, y});
}

// A Geofind run's DOFs: angle a0 .. a1 degrees and uniform scale s0 .. s1.
inline vcGFAlignRunParams vfBenchGeofindParams(double a0, double a1, double s0, double s1) {
  vcGFAlignRunParams rp;
  vcGeorapidDOFList list = vfAngleScaleDofList(a0, a1, s0, s1);
  rp.customizeDOFs(&list);
  return rp;
}

// One rigid pattern, trained from a clean render, and a run image with the pattern at `truth`.
struct vcGeofindBenchScene {
  vcPelBuffer<unsigned char> train, image;
  vcGFAlignPattern pattern;
  vcXform<2> trainPose, truth;
};

// The asymmetric 128 x 128 sample pattern trained from a 160 x 160 render; the run image is
// 640 x 480 with the pattern at (331.4, 228.7), 37.3 degrees, scale 1.04, blur 1, noise 5 and
// six clutter shapes.
inline vcGeofindBenchScene vfGeofindSampleScene() {
  vcGeofindBenchScene s;
  s.trainPose = vcXform<2>(vcMatrix<2>(), vcVector<2>(80, 80));
  s.truth = vfBenchPose(331.4, 228.7, 37.3, 1.04);
  vcSampleRender r;
  r.width = r.height = 160;
  s.train = vfRenderSample(vfSampleAsymmetricPattern(), s.trainPose, r);
  s.pattern.train(s.train, 2, nullptr, 0);
  vcSampleRender o;
  o.noiseSigma = 5;
  o.clutterShapes = 6;
  s.image = vfRenderSample(vfSampleAsymmetricPattern(), s.truth, o);
  return s;
}

// A long back-lit part, 380 x 86 px (a connecting rod: a big and a small eye joined by a
// tapered web, a hole in each eye and a slot in the web), dark on a bright ground.
inline vcSamplePattern vfLongPartPattern() {
  constexpr double kPart = 35, kGround = 215;
  vcSamplePattern p;
  p.background = kGround;
  p.halfSize = 190;
  p.shapes.push_back(vfSamplePolygon({{-150, -28}, {160, -17}, {160, 17}, {-150, 28}}, kPart));
  p.shapes.push_back(vfSampleCircle({-147, 0}, 43, kPart));
  p.shapes.push_back(vfSampleCircle({162, 0}, 28, kPart));
  p.shapes.push_back(vfSampleCircle({-147, 0}, 22, kGround));
  p.shapes.push_back(vfSampleCircle({162, 0}, 12, kGround));
  p.shapes.push_back(vfSamplePolygon({{-70, -7}, {80, -5}, {80, 5}, {-70, 7}}, kGround));
  return p;
}

// The long part trained from a clean 460 x 200 render, run in an 800 x 800 image at (412.6,
// 391.3), 33 degrees, scale 1.03, with five other shapes around it, blur 1 and noise 4.
inline vcGeofindBenchScene vfLongPartScene() {
  vcGeofindBenchScene s;
  s.trainPose = vcXform<2>(vcMatrix<2>(), vcVector<2>(230, 100));
  s.truth = vfBenchPose(412.6, 391.3, 33.0, 1.03);
  vcSampleRender r;
  r.width = 460, r.height = 200;
  s.train = vfRenderSample(vfLongPartPattern(), s.trainPose, r);
  s.pattern.train(s.train, 2, nullptr, 0);
  vcSampleRender o;
  o.width = o.height = 800;
  o.noiseSigma = 4;
  o.clutterShapes = 5;
  s.image = vfRenderSample(vfLongPartPattern(), s.truth, o);
  return s;
}

// True when the best result puts the training image's pattern centre within 1 px of the truth.
inline bool vfBenchFound(const vcGeofindBenchScene& s, const vcGFAlignResultSet& rs) {
  if (rs.numFound() < 1) return false;
  const vcVector<2> c = s.trainPose.mapPoint({0, 0});
  const vcXform<2> e = s.truth * s.trainPose.inverse();
  return rs[0].pose().mapPoint(c).distance(e.mapPoint(c)) < 1.0;
}
