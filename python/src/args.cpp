#include "args.hpp"

namespace qpy {
namespace {

std::string typeName(py::handle value) { return py::str(py::type::of(value).attr("__name__")).cast<std::string>(); }

}  // namespace

double realArg(py::handle value, const std::string& name)
{
    const double real = PyFloat_AsDouble(value.ptr());
    if (real == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::type_error(name + ": expected a number, got " + typeName(value));
    }
    return real;
}

int64_t integerArg(py::handle value, const std::string& name)
{
    if (PyFloat_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        throw py::type_error(name + ": expected an integer, got " + typeName(value));
    int overflow = 0;
    const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    const long long integer = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) throw py::value_error(name + ": out of range");
    return integer;
}

std::vector<double> realsArg(py::handle value, size_t count, const std::string& name)
{
    const bool sequence = PyTuple_Check(value.ptr()) || PyList_Check(value.ptr());
    if (!sequence || py::len(value) != count)
        throw py::type_error(name + ": expected a tuple of " + std::to_string(count) + " numbers");
    std::vector<double> reals;
    for (size_t i = 0; i < count; ++i) reals.push_back(realArg(value[py::int_(i)], name));
    return reals;
}

}  // namespace qpy
