// What a FlexAlign run found, as the tools show it: one view per result and one per instance in
// it. The command's tables, its JSON lines (vcResultRecord.h), the teach page and the Python
// module's result objects are all made from these views, so they agree on every number, name
// and reason.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"

// Whether a part or piece was found and, if not, why, with the numbers of the reason.
struct vcStatusView {
  // "found", "notSearched", "noCandidate", "belowThreshold", "outsideImage", "windowTooSmall",
  // "overlapped", "atZoneEdge", "inconsistent", "requiredMissing", "clamped", "outsideRange",
  // "tooFewPieces", "beyondUncertainty"; empty when the result carries no status (an old archive).
  std::string reason;
  std::string text;   // one line for people, pieces named
  double score = -1;  // the best candidate's score; -1 when there was none
  double threshold = 0, amount = 0;
  std::string other;  // the other piece the reason names (overlapped, requiredMissing)
  vcPelRect window;   // the search window (outsideImage, windowTooSmall), image pixels
};

struct vcInstanceView {
  long index = 0;    // the instance position in the arrangement
  std::string name;  // as given (vfDefaultInstanceNames: "key 1", "key 2", ...)
  bool found = false;
  double score = 0;  // 0 to 1; 0 when not found
  // Sub-model coordinates to image pixels: where the piece was found or, for a missing one,
  // where the fitted part pose places it.
  vcXform<2> pose;
  double x = 0, y = 0;          // where the pose puts the sub-model's (0, 0)
  double angle = 0;             // degrees
  double scale = 0;             // factor
  double offset = 0, turn = 0;  // found pieces: off the nominal layout under the fitted part
                                // pose, arrangement units and degrees
  // The part's score is the sum of its pieces' shares: `weight` is the piece's part of the
  // arrangement's features (the weights sum to 1), `share` its weight times its score (0 when
  // not found).
  double weight = 0, share = 0;
  // Found pieces: the 1-sigma ellipse of the position from the engine's fit (semi-axes in
  // image pixels, the major axis' angle in degrees) and the angle's 1-sigma in degrees (0 when
  // the angle was not searched); all 0 for a result that carries no uncertainty.
  double sigmaMajor = 0, sigmaMinor = 0, sigmaDirection = 0, angleSigma = 0;
  // Found pieces: how far `angle` is the piece's own, from its trained symmetry. 1 it is; 0 the
  // piece is round and has none (the angle is where the other pieces put it, angleSigma 0); n
  // its angle is defined only modulo 360/n (the turn of the n nearest the other pieces').
  long angleSymmetry = 1;
  vcStatusView status;
};

struct vcPartView {
  bool found = false;   // false when a required piece is missing
  double score = 0;     // 0 to 1
  vcXform<2> pose;      // the fitted part pose: the arrangement origin's frame to image pixels
  double x = 0, y = 0;  // where it puts the arrangement origin
  double angle = 0;     // degrees
  double xScale = 0, yScale = 0, scale = 0;  // the frame's axes, and their mean
  std::vector<std::string> info;             // why a result is not found
  // Found, or why not. A part under its accept threshold says what its score is made of:
  // each piece's share and the pieces that pulled it down, or that no piece was found and why.
  vcStatusView status;
  std::vector<vcInstanceView> instances;  // in arrangement order
};

// One image's run: its results best first and, when none was found, the closest combinations
// the run dropped.
struct vcRunView {
  std::string image;  // the file, as given
  long width = 0, height = 0;
  double ms = 0;  // run time
  std::vector<vcPartView> parts;
  std::vector<vcPartView> rejected;
  // Once rectified: per part and instance, the longest deformation field vector over the piece
  // (image pixels), and the rectified image's file and region (arrangement units).
  std::vector<std::vector<double>> displacements;
  std::string rectified;
  vcPelRect rectifiedRegion;
};

// `names` holds one name per instance (missing ones are called "instance K").
std::vector<vcPartView> vfResultView(const vcFlexAlignResultSet& results,
                                     const vcFlexArrangement& arrangement,
                                     const std::vector<std::string>& names);
// The best combinations the run dropped (none of them found), each with why: how close a run
// that found nothing came.
std::vector<vcPartView> vfRejectedView(const vcFlexAlignResultSet& results,
                                       const vcFlexArrangement& arrangement,
                                       const std::vector<std::string>& names);
// True when some result of the run has its found flag set.
bool vfRunFound(const vcRunView& r);
