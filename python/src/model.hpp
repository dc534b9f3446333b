// qsrch.Model: a pattern trained once, searched for in any number of scenes
// from any number of threads. The model is never retrained, so searches
// that share it need no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include <qsrch/qsrch.h>

#include "arrays.hpp"

namespace qpy {

namespace py = pybind11;

// One instance found: where the pattern's top-left pixel lies in the scene.
struct Result {
    double x = 0, y = 0;
    double score = 0;
    bool accepted = false;
    double contrast = 0, brightness = 0;
};

// The run parameters of find(), checked by the library's validator.
struct FindArgs {
    int64_t num;
    double accept, confusion, overlap;
    py::object region, contrast, brightness;
    bool absolute, shapeScore;
    py::object planeWeights;
};
qsrch_normcorr_runParams runParams(const FindArgs& args, const char* doing);

class Model {
public:
    Model(py::handle pattern, py::handle mask, py::handle roi, py::handle granularity, bool surround);
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    int32_t height() const { return height_; }
    int32_t width() const { return width_; }
    int planes() const { return planes_; }
    // The granularities training chose or was given: (coarse, fine).
    std::pair<double, int32_t> granularity() const;

    std::vector<Result> find(py::handle scene, py::handle mask, const qsrch_normcorr_runParams& params) const;
    std::vector<std::vector<Result>> findMany(py::handle scenes, py::handle threads, py::handle mask,
                                              const qsrch_normcorr_runParams& params) const;

private:
    struct Delete {
        void operator()(qsrch_normcorr_model* model) const { (void)qsrch_normcorr_model_delete(&model); }
    };

    // A scene with the model's number of planes.
    Pixels sceneArg(py::handle scene, const std::string& name) const;
    // A scene mask of the given size; colour search takes none.
    Plane sceneMaskArg(py::handle mask, int32_t height, int32_t width) const;
    // One search; runs without the GIL.
    qsrch_status search(const Pixels& scene, const Plane* mask, const qsrch_normcorr_runParams& params,
                        std::vector<Result>& found) const noexcept;

    std::unique_ptr<qsrch_normcorr_model, Delete> model_;
    int planes_ = 0;
    int32_t height_ = 0, width_ = 0;
};

}  // namespace qpy
