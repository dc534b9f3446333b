// The statistics a researcher wants as arrays: whole score spaces and
// window sums (see the docstrings in module.cpp).
#pragma once

#include <cstdint>
#include <string>

#include <pybind11/numpy.h>

namespace qpy {

namespace py = pybind11;

py::array_t<double> scoreMap(py::handle pattern, py::handle scene, py::handle mask, py::handle sceneMask,
                             const std::string& mode);
py::tuple windowSums(py::handle scene, int64_t h, int64_t w, py::handle mask);

}  // namespace qpy
