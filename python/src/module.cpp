// The extension module qsrch._qsrch, which the package qsrch re-exports.
#include <cstdio>
#include <limits>
#include <string>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <qsrch/qsrch.h>

#include "docstrings.hpp"
#include "interrupt.hpp"
#include "kernels.hpp"
#include "model.hpp"

namespace qpy {
namespace {

std::string resultRepr(const Result& r)
{
    char text[192];
    std::snprintf(text, sizeof text,
                  "Result(x=%.2f, y=%.2f, score=%.4f, accepted=%s, contrast=%.3f, brightness=%.3f)", r.x, r.y,
                  r.score, r.accepted ? "True" : "False", r.contrast, r.brightness);
    return text;
}

py::tuple resultFields(const Result& r)
{
    return py::make_tuple(r.x, r.y, r.score, r.accepted, r.contrast, r.brightness);
}

void bindResult(py::module_& m)
{
    py::class_<Result>(m, "Result", doc::result)
        .def(py::init([](double x, double y, double score, bool accepted, double contrast, double brightness) {
                 return Result{x, y, score, accepted, contrast, brightness};
             }),
             py::arg("x"), py::arg("y"), py::arg("score"), py::arg("accepted"), py::arg("contrast"),
             py::arg("brightness"))
        .def_readonly("x", &Result::x)
        .def_readonly("y", &Result::y)
        .def_readonly("score", &Result::score)
        .def_readonly("accepted", &Result::accepted)
        .def_readonly("contrast", &Result::contrast)
        .def_readonly("brightness", &Result::brightness)
        .def("__repr__", &resultRepr)
        .def(
            "__eq__", [](const Result& a, const Result& b) { return resultFields(a).equal(resultFields(b)); },
            py::is_operator())
        .def(py::pickle(&resultFields, [](const py::tuple& t) {
            return Result{t[0].cast<double>(), t[1].cast<double>(), t[2].cast<double>(),
                          t[3].cast<bool>(),   t[4].cast<double>(), t[5].cast<double>()};
        }));
}

// The options find and find_many share, after the scene (and threads).
template <class... Extra>
auto findOptions(Extra... extra)
{
    const double inf = std::numeric_limits<double>::infinity();
    return std::make_tuple(extra..., py::arg("num") = 1, py::arg("accept") = 0.3, py::arg("confusion") = 0.5,
                           py::arg("overlap") = 1.0, py::arg("region") = py::none(), py::arg("mask") = py::none(),
                           py::arg("contrast") = py::make_tuple(0.0, inf),
                           py::arg("brightness") = py::make_tuple(0.0, inf), py::arg("absolute") = false,
                           py::arg("shape_score") = false, py::arg("plane_weights") = py::make_tuple(1.0, 1.0, 1.0));
}

void bindModel(py::module_& m)
{
    py::class_<Model> model(m, "Model", doc::model);
    model
        .def(py::init<py::handle, py::handle, py::handle, py::handle, bool>(), py::arg("pattern"),
             py::arg("mask") = py::none(), py::arg("roi") = py::none(), py::arg("granularity") = "auto",
             py::arg("surround") = false)
        .def_property_readonly("shape", [](const Model& self) { return py::make_tuple(self.height(), self.width()); },
                               doc::shape)
        .def_property_readonly("planes", &Model::planes, doc::planes)
        .def_property_readonly("granularity", &Model::granularity, doc::granularity)
        .def("__repr__", [](const Model& self) {
            const auto g = self.granularity();
            return "Model(shape=(" + std::to_string(self.height()) + ", " + std::to_string(self.width()) +
                   "), planes=" + std::to_string(self.planes()) + ", granularity=(" +
                   py::repr(py::float_(g.first)).cast<std::string>() + ", " + std::to_string(g.second) + "))";
        });

    const auto find = [](const Model& self, py::handle scene, int64_t num, double accept, double confusion,
                         double overlap, py::object region, py::handle mask, py::object contrast,
                         py::object brightness, bool absolute, bool shapeScore, py::object weights) {
        const FindArgs args{num,      accept,     confusion, overlap,    region,
                            contrast, brightness, absolute,  shapeScore, weights};
        return self.find(scene, mask, runParams(args, "find"));
    };
    std::apply([&](auto... args) { model.def("find", find, args..., doc::find); }, findOptions(py::arg("scene")));

    const auto findMany = [](const Model& self, py::handle scenes, py::handle threads, int64_t num, double accept,
                             double confusion, double overlap, py::object region, py::handle mask,
                             py::object contrast, py::object brightness, bool absolute, bool shapeScore,
                             py::object weights) {
        const FindArgs args{num,      accept,     confusion, overlap,    region,
                            contrast, brightness, absolute,  shapeScore, weights};
        return self.findMany(scenes, threads, mask, runParams(args, "find_many"));
    };
    std::apply([&](auto... args) { model.def("find_many", findMany, args..., doc::findMany); },
               findOptions(py::arg("scenes"), py::arg("threads") = py::none()));
}

}  // namespace
}  // namespace qpy

PYBIND11_MODULE(_qsrch, m)
{
    using namespace qpy;
    // Signatures are the first line of each docstring, written for people.
    py::options options;
    options.disable_function_signatures();

    m.doc() = doc::module;
    m.attr("__version__") = std::to_string(QSRCH_VERSION_MAJOR) + "." + std::to_string(QSRCH_VERSION_MINOR) + "." +
                            std::to_string(QSRCH_VERSION_PATCH);
    noteMainThread();
    bindResult(m);
    bindModel(m);
    m.def("score_map", &scoreMap, py::arg("pattern"), py::arg("scene"), py::arg("mask") = py::none(),
          py::arg("scene_mask") = py::none(), py::arg("mode") = "r2", doc::scoreMap);
    m.def("window_sums", &windowSums, py::arg("scene"), py::arg("h"), py::arg("w"), py::arg("mask") = py::none(),
          doc::windowSums);
    // For tests of leaks and of failed allocations (on the calling thread).
    m.def("_blocks_in_use", [] { return qsys_memory_blocksInUse(); });
    m.def("_allocation_count", [] { return qsys_memory_allocationCount(); });
    m.def("_fail_allocation_after", [](int64_t n) { qsys_memory_failAfter(n); });
}
