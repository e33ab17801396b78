// What a FlexAlign run found, as the tools show it: one record per result and one per instance
// in it. The command's tables and JSON lines and the Python module's result objects are all
// made from these records, so they agree on every number and name.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"

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
};

struct vcPartView {
  bool found = false;   // false when a required piece is missing
  double score = 0;     // 0 to 1
  vcXform<2> pose;      // the fitted part pose: the arrangement origin's frame to image pixels
  double x = 0, y = 0;  // where it puts the arrangement origin
  double angle = 0;     // degrees
  double xScale = 0, yScale = 0, scale = 0;  // the frame's axes, and their mean
  std::vector<std::string> info;             // why a result is not found
  std::vector<vcInstanceView> instances;     // in arrangement order
};

// `names` holds one name per instance (missing ones are called "instance K").
std::vector<vcPartView> vfResultView(const vcFlexAlignResultSet& results,
                                     const vcFlexArrangement& arrangement,
                                     const std::vector<std::string>& names);
