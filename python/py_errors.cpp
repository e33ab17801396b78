// Library exceptions as Python exceptions: one class per error family, all derived from
// vcflexalign.Error, carrying the library's message.
#include <cxxabi.h>

#include <cstdlib>
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

std::string className(const std::exception& e) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
  return status == 0 ? name.get() : typeid(e).name();
}

// Raises `cls` with the message; errors without a text (NotImplemented) are named by class.
// The concrete class name and, for the numbered families, the number go along as attributes.
void raise(PyObject* cls, const vcException& e, long number = 0) {
  std::string text = e.what();
  const std::string kind = className(e);
  if (text.empty() || text == typeid(e).name()) text = kind;
  py::object err = py::reinterpret_steal<py::object>(PyObject_CallFunction(cls, "s", text.c_str()));
  if (!err) return;  // the Python error of the failed call stands
  err.attr("kind") = kind;
  err.attr("error_number") = number;
  PyErr_SetObject(cls, err.ptr());
}

}  // namespace

void bindErrors(py::module_& m) {
  gError = family(m, "Error", PyExc_RuntimeError, "Base of every error the library raises.");
  gParams = family(m, "ParamsError", gError, "A bad argument to the core library.");
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
