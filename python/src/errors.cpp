#include "errors.hpp"

#include <cstdint>

#include <pybind11/pybind11.h>

namespace qpy {

namespace py = pybind11;

void raiseStatus(qsrch_status status, const std::string& doing)
{
    const py::object fromStatus = py::module_::import("qsrch._errors").attr("_from_status");
    const py::object error = fromStatus(static_cast<uint32_t>(status), qsrch_statusName(status), doing);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

}  // namespace qpy
