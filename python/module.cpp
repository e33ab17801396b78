// The Python module: images and poses are NumPy arrays; long runs release the GIL.
#include "python/py_common.h"
#include "vcFlexAlign.h"

// The compiled part of the vcflexalign package, which re-exports it.
PYBIND11_MODULE(_vcflexalign, m) {
  m.doc() = "Flexible pattern alignment: parts made of rigid pieces that may move slightly";
  m.attr("__version__") = vfFlexAlignVersion();
  vcpy::bindErrors(m);
  vcpy::bindEngines(m);
  vcpy::bindFiles(m);
  vcpy::bindModels(m);
  vcpy::bindParams(m);
  vcpy::bindResults(m);
  vcpy::bindPattern(m);
  vcpy::bindSamples(m);
}
