// Library exceptions as Python exceptions: one class per error family, all derived from
// vcflexalign.Error, carrying the library's message.
#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>

#include "engines/correlation/vcPatCor.h"
#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "python/py_common.h"
#include "vcFlexAlign.h"

namespace vcpy {

namespace {

// Created once when the module loads and never freed, as the module's own types are.
PyObject* gError = nullptr;
PyObject* gParams = nullptr;
PyObject* gArchive = nullptr;
PyObject* gTransform = nullptr;
PyObject* gModel = nullptr;
PyObject* gFlexAlign = nullptr;
PyObject* gSubModelTool = nullptr;
PyObject* gGeofind = nullptr;
PyObject* gCorrelation = nullptr;

PyObject* family(py::module_& m, const char* name, PyObject* base, const char* doc) {
  const std::string full = std::string("vcflexalign.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(full.c_str(), doc, base, nullptr);
  if (!cls) throw py::error_already_set();
  m.attr(name) = py::handle(cls);
  return cls;
}

// Bad arguments are also ValueErrors, so plain Python code that catches those catches them.
PyObject* paramsFamily(py::module_& m) {
  py::tuple bases = py::make_tuple(py::handle(gError), py::handle(PyExc_ValueError));
  PyObject* cls = PyErr_NewExceptionWithDoc("vcflexalign.ParamsError",
                                            "A bad argument: a value out of range, a pose or "
                                            "range that is not finite.",
                                            bases.ptr(), nullptr);
  if (!cls) throw py::error_already_set();
  m.attr("ParamsError") = py::handle(cls);
  return cls;
}

std::string className(const std::exception& e) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
  return status == 0 ? name.get() : typeid(e).name();
}

// What an error says when the library gave it no text, by the class name without its scope.
std::string defaultText(const std::string& kind) {
  static const std::map<std::string, std::string> texts = {
      {"NotTrained", "the pattern is not trained"},
      {"BadParams", "a parameter value is out of range"},
      {"BadIndex", "no such instance index"},
      {"WrongDOFMode", "the zone belongs to another DOF mode"},
      {"NotImplemented", "this variant is not implemented"},
      {"InternalError", "internal error of the library"},
      {"CanNotTrain", "the pattern cannot be trained"},
      {"CanNotRun", "the pattern cannot be run on this image"},
      {"CanNotFit", "the final fit cannot be computed"},
      {"BadImage", "the image cannot be used"},
      {"DistortionRateTooLarge", "the distortion rate is too large"},
      {"BadArrangement", "the arrangement cannot be used"},
      {"NotComputed", "the value has not been computed"},
      {"WrongModelType", "the sub-model is of another kind"},
      {"BadRange", "the run range is outside the trained range"},
      {"EndOfData", "the data ends early"},
      {"BadData", "the data is damaged"},
      {"UnknownClass", "the data names an unknown class"},
      {"UnknownVersion", "the data has an unknown version"},
      {"IoError", "the data cannot be read or written"},
      {"Errors", "the transform cannot be formed or inverted"},
  };
  const std::size_t colon = kind.rfind("::");
  const auto it = texts.find(colon == std::string::npos ? kind : kind.substr(colon + 2));
  return it != texts.end() ? it->second : "error " + kind;
}

// A message may name a file whose name is not UTF-8: its odd bytes show as escapes.
py::object messageText(const std::string& text) {
  return py::reinterpret_steal<py::object>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace"));
}

// Raises `cls` with the message, or a text of its class when the library gave none.
// The concrete class name and, for the numbered families, the number go along as attributes.
void raise(PyObject* cls, const vcException& e, long number = 0) {
  std::string text = e.what();
  const std::string kind = className(e);
  if (text.empty() || text == typeid(e).name()) text = defaultText(kind);
  py::object message = messageText(text);
  if (!message) return;  // the Python error of the failed call stands
  py::object err = py::reinterpret_steal<py::object>(PyObject_CallOneArg(cls, message.ptr()));
  if (!err) return;
  err.attr("kind") = kind;
  err.attr("error_number") = number;
  PyErr_SetObject(cls, err.ptr());
}

}  // namespace

void raiseOSError(const std::string& text) {
  py::object message = messageText(text);
  if (message) PyErr_SetObject(PyExc_OSError, message.ptr());
  throw py::error_already_set();
}

void bindErrors(py::module_& m) {
  gError = family(m, "Error", PyExc_RuntimeError, "Base of every error the library raises.");
  gParams = paramsFamily(m);
  gArchive = family(m, "ArchiveError", gError, "Damaged, truncated or foreign archive bytes.");
  gTransform = family(m, "TransformError", gError, "A transform that cannot be formed or used.");
  gModel = family(m, "ModelError", gError, "Sub-models and arrangements.");
  gFlexAlign = family(m, "FlexAlignError", gError, "The FlexAlign tool and its parameters.");
  gSubModelTool = family(m, "SubModelToolError", gError, "The sub-model tool.");
  gGeofind = family(m, "GeofindError", gError, "The geometric pattern finder.");
  gCorrelation = family(m, "CorrelationError", gError, "The correlation pattern finder.");

  // Most derived first: several families share the core exception bases.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vcFlexAlignDefs::Errors& e) {
      raise(gFlexAlign, e, e.errorNumber());
    } catch (const vcFlexModelDefs::Errors& e) {
      raise(gModel, e, e.errorNumber());
    } catch (const vc_SubModelToolDefs::Errors& e) {
      raise(gSubModelTool, e, e.errorNumber());
    } catch (const vcArchive::Errors& e) {
      raise(gArchive, e);
    } catch (const vcGFAlignDefs::Errors& e) {
      raise(gGeofind, e);
    } catch (const vc_PatCorDefs::Errors& e) {
      raise(gCorrelation, e);
    } catch (const vc2XformDefs::Errors& e) {
      raise(gTransform, e);
    } catch (const vcBadParams& e) {
      raise(gParams, e);
    } catch (const vcException& e) {
      raise(gError, e);
    }
  });
}

}  // namespace vcpy
