// Poses as the tools take and show them: a similarity from x, y (where it puts the origin), an
// angle in degrees and a scale factor, and those numbers read back from any affine pose; and
// the bounds a pose given from outside must keep.
#pragma once

#include <string>

#include "platform/core/vcXform.h"

vcXform<2> vfPoseFrom(double x, double y, double angleDeg, double scale);
// The rotation in degrees (-180 to 180) and the mean scale of the pose's matrix.
double vfPoseAngle(const vcXform<2>& pose);
double vfPoseScale(const vcXform<2>& pose);

// Empty when the pose keeps the bounds the library accepts (translations finite and within
// 1e6, scales within 0.001 to 1000, a matrix that can be inverted), else what is wrong.
std::string vfPoseProblem(const vcXform<2>& pose);
