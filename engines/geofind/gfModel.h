// Internal model and stage functions of the Geofind engine.
#pragma once

#include <memory>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcXform.h"

// Edge points of one stage, structure of arrays. Positions are level-0 training pixels;
// (nx, ny) is the unit gradient direction (dark to bright); w > 0 the importance.
struct vc_GFPointSet {
  std::vector<float> x, y, nx, ny, w;
  double totalWeight = 0.0;
  std::size_t size() const { return x.size(); }
  void push(float px, float py, float dx, float dy, float wt) {
    x.push_back(px);
    y.push_back(py);
    nx.push_back(dx);
    ny.push_back(dy);
    w.push_back(wt);
    totalWeight += wt;
  }
};

// The pattern's edges as they would look through a Gaussian blur: a run image that is softer
// than the training image (depth of field, motion), or that the run smooths against noise, has
// its edges where the training image blurred as much has them, and loses the fine detail that
// the sharp model relies on. Each scale holds the level-0 points of the training image blurred
// by `sigma` pixels.
struct vc_GFScale {
  double sigma = 0.0;
  vc_GFPointSet points;
  // Median gradient magnitude of the points (grey levels per pixel, Sobel / 8).
  double medianMag = 0.0;
  // Median squared width of the gradient profile across the edge, in pixels^2 (the variance
  // of a Gaussian fitted to the three samples through the edge). 0 for synthetic shapes, whose
  // edges have no width of their own.
  double width2 = 0.0;
};

struct vc_GFModel {
  // levels[l]: points matched on pyramid level l (0 .. coarseLevel).
  std::vector<vc_GFPointSet> levels;
  // Median gradient magnitude of each level's points on that level (grey levels per pixel).
  std::vector<double> levelMedianMag;
  // Dense level-0 points of the fine stage (empty unless trained with algorithm 2).
  vc_GFPointSet fine;
  // The level-0 points that measure a match (the fine ones with algorithm 2, else spaced as
  // levels[0]) at increasing blurs, the sharpest (the training image itself) first.
  std::vector<vc_GFScale> scales;
  int coarseLevel = 0;
  float fineGrain = 1.0f;
  float coarseGrain = 1.0f;
  long algorithm = 1;
  bool ignorePolarity = false;
  double elasticity = 0.0;
  // Training region in training pixels and the training client transform.
  vcPelRect region;
  vcXform<2> clientFromImage;
  // What the edges fix, analysed once the rest of the model is trained.
  vc_GFConstraints constraints;
};

// Training settings handed to the stage functions.
struct vc_GFTrainSettings {
  bool ignorePolarity = false;
  double elasticity = 0.0;
  bool autoSelect = true;
  bool blurredScales = true;
  float fineGrain = 1.0f;
  float coarseGrain = 4.0f;
  long algorithm = 1;
};

// A weighted polyline in training pixels for synthetic training.
struct vc_GFSegmentChain {
  std::vector<vcVector<2>> vertices;
  bool closed = false;
  double weight = 1.0;
};

std::shared_ptr<vc_GFModel> vf_GFTrainImage(const vcPelBuffer_const<unsigned char>& image,
                                            const vcPelBuffer_const<unsigned char>* mask,
                                            const vc_GFTrainSettings& s);
std::shared_ptr<vc_GFModel> vf_GFTrainChains(const std::vector<vc_GFSegmentChain>& chains,
                                             const vcXform<2>& clientFromImage,
                                             const vc_GFTrainSettings& s);
void vf_GFSymmetry(const vc_GFModel& m, vc_GFPatternInfo& info);
// n of the smallest turn 360 / n (n up to 12) mapping the level-0 points onto themselves; 1
// when none does, 0 when every turn does (a circle).
long vf_GFSymmetryFold(const vc_GFModel& m);
// The constraint analysis of a trained model.
vc_GFConstraints vf_GFConstraints(const vc_GFModel& m);

// Pattern frame handed to a run: G maps training pixels to origin-relative pattern coordinates.
void vf_GFRun(const vc_GFModel& m, const vcXform<2>& patternFromTrainPixel,
              const vcPelBuffer_const<unsigned char>& image,
              const vcPelBuffer_const<unsigned char>* mask, const vcGFAlignRunParams& params,
              vcGFAlignResultSet& results);
