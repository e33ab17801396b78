// Shared pieces of the Python bindings: NumPy images and poses, and the binding entry points
// of each family.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/operators.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"

namespace vcpy {

namespace py = pybind11;

// A view of a uint8 2-D array whose rows are each contiguous (any row stride); the buffer keeps
// the array alive. Anything else raises TypeError (not an array of uint8) or ValueError (shape,
// layout, empty). `what` names the argument in the message.
vcPelBuffer_const<unsigned char> imageView(const py::handle& obj, const char* what);
// As imageView, but the pixels are copied: for models that keep their image.
vcPelBuffer<unsigned char> imageCopy(const py::handle& obj, const char* what);
// A new (height, width) uint8 array holding the window's pixels.
py::array_t<unsigned char> toArray(const vcPelBuffer_const<unsigned char>& img);

// Poses are 2 x 3 float arrays [[a, b, tx], [c, d, ty]]: p' = [[a, b], [c, d]] p + t. A 3 x 3
// array with last row (0, 0, 1) is taken too.
vcXform<2> toXform(const py::handle& obj, const char* what);
py::array_t<double> fromXform(const vcXform<2>& x);
// The rotation of the pose's matrix (its x axis), degrees.
double angleDeg(const vcXform<2>& x);

void bindErrors(py::module_& m);
void bindEngines(py::module_& m);
void bindModels(py::module_& m);
void bindParams(py::module_& m);
void bindPattern(py::module_& m);
void bindSamples(py::module_& m);

}  // namespace vcpy
