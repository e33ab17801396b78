// Image files through the command's own reader and writer, so Python sees exactly the pixels
// `flexalign run` sees (the same colour-to-grey weights and 16-bit scaling, the same size caps).
#include <string>

#include "platform/core/vcException.h"
#include "python/py_common.h"
#include "tools/io/vcImageFile.h"

namespace vcpy {

namespace {

py::array_t<unsigned char> readImage(const std::string& path) {
  checkedPath(path);
  vcPelBuffer<unsigned char> img;
  try {
    py::gil_scoped_release nogil;
    img = vfReadImage(path);
  } catch (const vcBadParams& e) {
    // An OSError, as Python's own file functions raise, with the reader's line naming the
    // file and the problem.
    raiseOSError(e.what());
  }
  return adoptArray(std::move(img));
}

void writeImage(const std::string& path, const py::object& image) {
  checkedPath(path);
  const vcPelBuffer<unsigned char> img = imageCopy(image, "image");
  try {
    py::gil_scoped_release nogil;
    vfWriteImage(path, img);
  } catch (const vcBadParams& e) {
    raiseOSError(e.what());
  }
}

}  // namespace

void bindFiles(py::module_& m) {
  m.def("read_image", &readImage, py::arg("path"),
        "The image file as a (height, width) uint8 array: PNG, JPEG, TIFF, BMP (grey or colour) or "
        "binary PGM, converted to grey as flexalign run does. OSError names the file and the "
        "problem.");
  m.def(
      "grey",
      [](const py::object& image, const py::object& channels) {
        return toArray(imageView(image, "image", channels));
      },
      py::arg("image"), py::arg("channels") = py::none(),
      "A (height, width) uint8 array of the image: a colour array (height, width, 3 or 4) in "
      "the channel order `channels` ('RGB', 'BGR' as OpenCV gives them, 'RGBA', 'BGRA') made "
      "grey as flexalign run makes a colour file grey; a grey array copied.");
  m.def("write_image", &writeImage, py::arg("path"), py::arg("image"),
        "Writes a uint8 2-D array: PNG when the path ends in .png, else binary PGM.");
}

}  // namespace vcpy
