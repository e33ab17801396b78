// Deterministic synthetic test images: a pattern of filled shapes drawn at a known pose, with
// blur, Gaussian noise, clutter and partial occlusion. Shared by tests, tools and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"

struct vcSampleShape {
  enum Kind { ePolygon, eCircle } kind = ePolygon;
  std::vector<vcVector<2>> vertices;  // polygon, pattern coordinates
  vcVector<2> centre;                 // circle
  double radius = 0;
  double grey = 255;  // fill value
};

vcSampleShape vfSamplePolygon(std::vector<vcVector<2>> vertices, double grey);
vcSampleShape vfSampleCircle(const vcVector<2>& centre, double radius, double grey);

struct vcSamplePattern {
  std::vector<vcSampleShape> shapes;  // painted in order over the background
  double background = 40;
  double halfSize = 64;  // pattern extent: [-halfSize, halfSize]^2
};

// A 128 x 128 line-art/textured pattern without rotational or mirror symmetry.
vcSamplePattern vfSampleAsymmetricPattern();
// Symmetric ones for the symmetry checks.
vcSamplePattern vfSampleSquarePattern();     // 90-degree symmetric
vcSamplePattern vfSampleRectanglePattern();  // 180-degree symmetric
vcSamplePattern vfSampleCirclePattern();     // every rotation

struct vcSampleRender {
  int width = 640, height = 480;
  double blurSigma = 1.0;
  double noiseSigma = 0.0;
  int clutterShapes = 0;
  double occludeFraction = 0.0;  // part of the pattern's box covered by a flat block
  std::uint32_t seed = 1;
};

// Draws `pat` with pose (pattern coordinates -> image pixels).
vcPelBuffer<unsigned char> vfRenderSample(const vcSamplePattern& pat, const vcXform<2>& pose,
                                          const vcSampleRender& opt);
