// The Python module: images and poses are NumPy arrays; long runs release the GIL.
#include "python/py_common.h"
#include "vcFlexAlign.h"

PYBIND11_MODULE(vcflexalign, m) {
  m.doc() = "Flexible pattern alignment: parts made of rigid pieces that may move slightly";
  m.attr("__version__") = vfFlexAlignVersion();
  vcpy::bindErrors(m);
  vcpy::bindEngines(m);
  vcpy::bindModels(m);
  vcpy::bindParams(m);
  vcpy::bindPattern(m);
  vcpy::bindSamples(m);
}
