// vf.limits: the library's bounds on what a caller may ask for, read from the one table the
// library, the command and the teach page check against, so a script can stay inside them.
#include "python/py_common.h"
#include "vcFlexLimits.h"

namespace vcpy {

void bindLimits(py::module_& m) {
  using L = vcFlexLimits;
  py::dict d;
  d["max_coordinate"] = L::kMaxCoordinate;
  d["max_pose_scale"] = L::kMaxPoseScale;
  d["max_uncertainty"] = L::kMaxUncertainty;
  d["max_angle"] = L::kMaxAngle;
  d["max_threads"] = L::kMaxThreads;
  d["max_instances"] = L::kMaxInstances;
  d["max_sub_models"] = L::kMaxSubModels;
  d["max_num_to_find"] = L::kMaxNumToFind;
  d["max_piece_extent"] = L::kMaxPieceExtent;
  d["min_region_side"] = L::kMinRegionSide;
  d["max_rectify_pixels"] = L::kMaxRectifyPixels;
  d["max_rectify_start"] = L::kMaxRectifyStart;
  d["max_rectify_grid_step"] = L::kMaxRectifyGridStep;
  d["max_rectify_distance"] = L::kMaxRectifyDistance;
  d["max_defect_area"] = L::kMaxDefectArea;
  d["max_tolerance_factor"] = L::kMaxToleranceFactor;
  // A named tuple: read as vf.limits.max_uncertainty, and not assignable, since a script
  // changing one would only fool itself.
  const py::object type =
      py::module_::import("collections").attr("namedtuple")("Limits", d.attr("keys")());
  m.attr("limits") = type(**d);
}

}  // namespace vcpy
