// What a FlexAlign run gives Python: plain values, copied out of the library's result set, that
// pickle on their own (so they travel between processes without the pattern).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "python/py_common.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

// One instance of the arrangement in one result. A piece that was not found reports where the
// fitted part pose puts it.
struct InstanceResult {
  long index = 0;
  std::string name;
  bool found = false;
  double score = 0;
  vcXform<2> pose;  // sub-model coordinates to image pixels
  // A found piece against its nominal place in the arrangement, under the fitted part pose:
  // arrangement units and degrees.
  double offset = 0, turn = 0;
};

struct PartResult {
  bool found = false;
  double score = 0;
  vcXform<2> pose;  // the arrangement origin's frame to image pixels (linear part at its origin)
  vcVector<2> location;
  std::vector<std::string> info;
  std::vector<InstanceResult> instances;
  // Where each piece went, for rectify; none in results pickled before they could rectify.
  std::optional<vcFlexAlignDeformation> deformation;
};

struct RunResults {
  double time = 0;
  std::vector<PartResult> results;
};

// The result as Python sees it; `a` is the arrangement the pattern was trained with.
PartResult partResult(const vcFlexAlignResult& r, const vcFlexArrangement& a);

// Result.rectify and what it returns (py_rectify.cpp).
void bindRectify(py::module_& m, py::class_<PartResult>& result);

}  // namespace vcpy
