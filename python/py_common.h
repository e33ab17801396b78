// Shared pieces of the Python bindings: NumPy images and poses, and the binding entry points
// of each family.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/operators.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/core/vcArchive.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcXform.h"
#include "vcFlexLimits.h"

namespace vcpy {

namespace py = pybind11;

// A view of a uint8 2-D array whose rows are each contiguous (any row stride); the buffer keeps
// the array alive. Anything else raises TypeError (not an array of uint8) or ValueError (shape,
// layout, empty). `what` names the argument in the message.
vcPelBuffer_const<unsigned char> imageView(const py::handle& obj, const char* what);
// As imageView, but the pixels are copied: for models that keep their image.
vcPelBuffer<unsigned char> imageCopy(const py::handle& obj, const char* what);
// The same, taking a colour array too: (height, width, 3 or 4) uint8 whose channels come in the
// order `channels` names ("RGB", "BGR", "RGBA", "BGRA"), made grey as the command's image reader
// makes colour grey (alpha ignored). A colour array without `channels` (None), or `channels`
// that do not fit the array, raise ValueError.
vcPelBuffer_const<unsigned char> imageView(const py::handle& obj, const char* what,
                                           const py::object& channels);
vcPelBuffer<unsigned char> imageCopy(const py::handle& obj, const char* what,
                                     const py::object& channels);
// A new (height, width) uint8 array holding the window's pixels.
py::array_t<unsigned char> toArray(const vcPelBuffer_const<unsigned char>& img);
// The same for an image nothing else holds (one just read or made): the array takes its
// pixels over instead of copying them, so a large image is not held twice.
py::array_t<unsigned char> adoptArray(vcPelBuffer<unsigned char>&& img);

// Poses are 2 x 3 float arrays [[a, b, tx], [c, d, ty]]: p' = [[a, b], [c, d]] p + t. A 3 x 3
// array with last row (0, 0, 1) is taken too. A pose that is not finite, moves by more than
// kMaxCoordinate or scales outside [1 / kMaxPoseScale, kMaxPoseScale] (vcFlexLimits) raises
// vf.ParamsError.
vcXform<2> toXform(const py::handle& obj, const char* what);
py::array_t<double> fromXform(const vcXform<2>& x);
// The rotation of the pose's matrix (its x axis), degrees.
double angleDeg(const vcXform<2>& x);

// Checks of numbers from Python. Each failure raises vf.ParamsError (also a ValueError) with one
// line naming `what`, the rule and the value; a passing value is returned as it is.
using Range = std::pair<double, double>;
inline constexpr double kMaxAngle = vcFlexLimits::kMaxAngle;
[[noreturn]] void badArgument(const std::string& text);
std::string number(double v);  // the shortest text that reads back as v
double checkedIn(double v, double low, double high, const char* what);
double finiteAtLeastZero(double v, const char* what);
long atLeastOne(long n, const char* what);
long instanceIndex(long i);                           // an instance position: 0 or more
Range angleRange(Range r, const char* what);          // finite, low <= high, within kMaxAngle
Range scaleRange(Range r, const char* what);          // factors holding 1, within kMaxPoseScale
Range uncertainty(Range r, const char* what);         // 0 to kMaxUncertainty pixels
vcVector<2> checkedPoint(Range p, const char* what);  // within kMaxCoordinate of 0

// Objects pickled as their own archive bytes, so a pickle holds what a file would.
template <class T>
py::bytes archiveBytes(const T& obj) {
  T copy = obj;
  vcArchive ar;
  ar || copy;
  return py::bytes(reinterpret_cast<const char*>(ar.bytes().data()), ar.bytes().size());
}
template <class T>
T fromArchiveBytes(const py::bytes& b) {
  const std::string_view s = b;
  vcArchive ar(std::vector<std::uint8_t>(s.begin(), s.end()));
  T obj;
  ar || obj;
  return obj;
}

// The path, or ValueError as Python's own open() raises when it holds a NUL byte (the system
// would read the name cut there).
const std::string& checkedPath(const std::string& path);

// Raises OSError with one line naming the file and the problem.
[[noreturn]] void raiseOSError(const std::string& text);

void bindErrors(py::module_& m);
void bindEngines(py::module_& m);
void bindFiles(py::module_& m);
void bindModels(py::module_& m);
void bindParams(py::module_& m);
void bindResults(py::module_& m);
void bindPattern(py::module_& m);
void bindSamples(py::module_& m);
void bindInspect(py::module_& m);  // py_inspect.cpp
void bindLimits(py::module_& m);   // py_limits.cpp

}  // namespace vcpy
