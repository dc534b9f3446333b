// Arguments other than arrays: numbers and tuples of numbers, read with
// Python's own conversions (so numpy scalars serve too) and refused with a
// one-line TypeError or ValueError that names the argument.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

namespace qpy {

namespace py = pybind11;

double realArg(py::handle value, const std::string& name);
int64_t integerArg(py::handle value, const std::string& name);
// A tuple or list of exactly `count` real numbers.
std::vector<double> realsArg(py::handle value, size_t count, const std::string& name);

}  // namespace qpy
