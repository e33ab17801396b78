// NumPy arrays as images and poses.
#include <cmath>
#include <memory>
#include <string>

#include "platform/core/vcAngle.h"
#include "python/py_common.h"
#include "tools/io/vcImageCodecs.h"

namespace vcpy {

namespace {

py::array checkedArray(const py::handle& obj, const char* what) {
  if (!py::isinstance<py::array>(obj))
    throw py::type_error(std::string(what) + " must be a numpy array of uint8, not " +
                         std::string(py::str(py::type::of(obj).attr("__name__"))));
  py::array a = py::reinterpret_borrow<py::array>(obj);
  if (!a.dtype().is(py::dtype::of<unsigned char>()))
    throw py::type_error(std::string(what) + " must have dtype uint8, not " +
                         std::string(py::str(a.dtype())));
  if (a.ndim() == 0 || a.shape(0) == 0 || (a.ndim() > 1 && a.shape(1) == 0))
    throw py::value_error(std::string(what) + " is empty");
  return a;
}

py::array checkedImage(const py::handle& obj, const char* what) {
  py::array a = checkedArray(obj, what);
  if (a.ndim() == 3 && (a.shape(2) == 3 || a.shape(2) == 4))
    throw py::value_error(std::string(what) + " is a colour array (height, width, " +
                          std::to_string(a.shape(2)) +
                          "): give its channel order, channels='RGB' or 'BGR' (OpenCV's), or make "
                          "it grey with vf.grey(image, channels=...)");
  if (a.ndim() != 2)
    throw py::value_error(std::string(what) + " must be 2-D (height, width), not " +
                          std::to_string(a.ndim()) + "-D");
  // Rows may lie anywhere apart (a crop of a larger array), but each row must be contiguous.
  if (a.strides(1) != 1 || a.strides(0) < a.shape(1))
    throw py::value_error(std::string(what) +
                          " must have contiguous rows; use numpy.ascontiguousarray");
  return a;
}

}  // namespace

vcPelBuffer_const<unsigned char> imageView(const py::handle& obj, const char* what) {
  py::array a = checkedImage(obj, what);
  const auto* pixels = static_cast<const unsigned char*>(a.data());
  const long w = static_cast<long>(a.shape(1)), h = static_cast<long>(a.shape(0));
  const long stride = static_cast<long>(a.strides(0));
  // The last copy of the buffer may go away on a thread without the GIL.
  auto* ref = a.release().ptr();
  std::shared_ptr<const void> keep(ref, [](const void* p) {
    py::gil_scoped_acquire gil;
    Py_DECREF(static_cast<PyObject*>(const_cast<void*>(p)));
  });
  return vcPelBuffer_const<unsigned char>(pixels, w, h, stride, std::move(keep));
}

vcPelBuffer<unsigned char> imageCopy(const py::handle& obj, const char* what) {
  return vfPelCopy(imageView(obj, what));
}

vcPelBuffer<unsigned char> imageCopy(const py::handle& obj, const char* what,
                                     const py::object& channels) {
  return vfPelCopy(imageView(obj, what, channels));
}

vcPelBuffer_const<unsigned char> imageView(const py::handle& obj, const char* what,
                                           const py::object& channels) {
  if (channels.is_none()) return imageView(obj, what);
  const std::string order = py::str(channels);
  const long n = order.size();
  const bool rgbFirst = order == "RGB" || order == "RGBA",
             bgrFirst = order == "BGR" || order == "BGRA";
  if (!rgbFirst && !bgrFirst)
    throw py::value_error("channels must be 'RGB', 'BGR', 'RGBA' or 'BGRA', not '" + order + "'");
  py::array a = checkedArray(obj, what);
  if (a.ndim() != 3 || a.shape(2) != n) {
    std::string shape;
    for (py::ssize_t i = 0; i < a.ndim(); ++i)
      shape += (i ? ", " : "") + std::to_string(a.shape(i));
    throw py::value_error(std::string(what) + " must be (height, width, " + std::to_string(n) +
                          ") for channels='" + order + "', not (" + shape + ")");
  }
  const long w = static_cast<long>(a.shape(1)), h = static_cast<long>(a.shape(0));
  const auto* base = static_cast<const unsigned char*>(a.data());
  const py::ssize_t sy = a.strides(0), sx = a.strides(1), sc = a.strides(2);
  const int r = rgbFirst ? 0 : 2, b = rgbFirst ? 2 : 0;
  vcPelBuffer<unsigned char> grey(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const unsigned char* p = base + y * sy + x * sx;
      grey.set(x, y, vfGreyOf(p[r * sc], p[sc], p[b * sc], 255));
    }
  return grey;
}

py::array_t<unsigned char> toArray(const vcPelBuffer_const<unsigned char>& img) {
  py::array_t<unsigned char> out({img.height(), img.width()});
  for (long y = 0; y < img.height(); ++y)
    std::copy(img.row(y), img.row(y) + img.width(), out.mutable_data(y, 0));
  return out;
}

py::array_t<unsigned char> adoptArray(vcPelBuffer<unsigned char>&& img) {
  if (!img.isBound()) return toArray(img);
  auto* held = new vcPelBuffer<unsigned char>(std::move(img));
  py::capsule owner(held, [](void* p) { delete static_cast<vcPelBuffer<unsigned char>*>(p); });
  return py::array_t<unsigned char>({held->height(), held->width()},
                                    {static_cast<long>(held->rowStride()), 1L}, held->row(0),
                                    owner);
}

vcXform<2> toXform(const py::handle& obj, const char* what) {
  py::array_t<double, py::array::c_style | py::array::forcecast> a;
  try {
    a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(obj);
  } catch (const py::error_already_set&) {
  }
  if (!a) throw py::type_error(std::string(what) + " must be a 2 x 3 array of numbers");
  const bool ok = a.ndim() == 2 && a.shape(1) == 3 &&
                  (a.shape(0) == 2 ||
                   (a.shape(0) == 3 && a.at(2, 0) == 0 && a.at(2, 1) == 0 && a.at(2, 2) == 1));
  if (!ok) throw py::value_error(std::string(what) + " must be a 2 x 3 affine matrix");
  const vcXform<2> x(vcMatrix<2>(a.at(0, 0), a.at(0, 1), a.at(1, 0), a.at(1, 1)),
                     vcVector<2>(a.at(0, 2), a.at(1, 2)));
  if (!vfIsSaneXform(x))
    badArgument(std::string(what) + " must be finite, move by at most " +
                number(vcFlexLimits::kMaxCoordinate) + " pixels and scale by " +
                number(1 / vcFlexLimits::kMaxPoseScale) + " to " +
                number(vcFlexLimits::kMaxPoseScale) + ", not [[" + number(a.at(0, 0)) + ", " +
                number(a.at(0, 1)) + ", " + number(a.at(0, 2)) + "], [" + number(a.at(1, 0)) +
                ", " + number(a.at(1, 1)) + ", " + number(a.at(1, 2)) + "]]");
  return x;
}

py::array_t<double> fromXform(const vcXform<2>& x) {
  py::array_t<double> out({2, 3});
  const vcMatrix<2>& m = x.matrix();
  double* d = out.mutable_data();
  d[0] = m(0, 0), d[1] = m(0, 1), d[2] = x.trans().x();
  d[3] = m(1, 0), d[4] = m(1, 1), d[5] = x.trans().y();
  return out;
}

double angleDeg(const vcXform<2>& x) { return x.matrix().rotation().toDouble() * 180.0 / vcPi; }

}  // namespace vcpy
