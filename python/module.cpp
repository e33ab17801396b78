// The Python module: images and poses are NumPy arrays; long runs release the GIL.
#include "python/py_common.h"
#include "vcFlexAlign.h"

// The compiled part of the vcflexalign package, which re-exports it.
PYBIND11_MODULE(_vcflexalign, m) {
  namespace py = pybind11;
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
  vcpy::bindInspect(m);
  vcpy::bindLimits(m);
  // Every class that pickles its state pickles through __reduce__: without it protocols 0
  // and 1 (and __reduce__ itself) rebuild the object through copyreg's base-class path,
  // which a pybind11 object cannot take, and the interpreter aborted. copyreg.__newobj__ is
  // what protocol 2 and later use anyway.
  const py::object newobj = py::module_::import("copyreg").attr("__newobj__");
  for (const auto item : m.attr("__dict__").cast<py::dict>()) {
    const py::handle cls = item.second;
    // The bindings' own pickling (exceptions inherit theirs).
    if (!PyType_Check(cls.ptr()) || !cls.attr("__dict__").contains("__setstate__")) continue;
    py::setattr(cls, "__reduce__",
                py::cpp_function(
                    [newobj](const py::object& self) {
                      return py::make_tuple(newobj, py::make_tuple(py::type::of(self)),
                                            self.attr("__getstate__")());
                    },
                    py::name("__reduce__"), py::is_method(cls)));
  }
}
