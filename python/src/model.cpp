// The search goes through the normalized-correlation interface, with its
// parameters made from the top-level records by the library's converter
// (as the command-line tool does): it alone reports contrast and
// brightness and takes a search region, limits and plane weights.
#include "model.hpp"

#include <cmath>
#include <limits>
#include <new>
#include <thread>

#include "args.hpp"
#include "errors.hpp"
#include "interrupt.hpp"
#include "scene_queue.hpp"

namespace qpy {
namespace {

struct Roi {
    int32_t x, y, width, height;
};

bool isPair(py::handle value, size_t count)
{
    return (PyTuple_Check(value.ptr()) || PyList_Check(value.ptr())) && py::len(value) == count;
}

Roi roiArg(py::handle roi, int32_t height, int32_t width)
{
    if (roi.is_none()) return Roi{0, 0, width, height};
    if (!isPair(roi, 4)) throw py::type_error("roi: expected (x, y, width, height)");
    int64_t r[4];
    for (size_t i = 0; i < 4; ++i) r[i] = integerArg(roi[py::int_(i)], "roi");
    if (r[0] < 0 || r[1] < 0 || r[2] < 1 || r[3] < 1 || r[0] + r[2] > width || r[1] + r[3] > height)
        throw py::value_error("roi: (" + std::to_string(r[0]) + ", " + std::to_string(r[1]) + ", " +
                              std::to_string(r[2]) + ", " + std::to_string(r[3]) +
                              ") is not inside the pattern of width " + std::to_string(width) + " and height " +
                              std::to_string(height));
    return Roi{int32_t(r[0]), int32_t(r[1]), int32_t(r[2]), int32_t(r[3])};
}

qsrch_normcorr_trainParams trainParams(py::handle granularity, bool surround)
{
    qsrch_normcorr_trainParams t;
    check(qsrch_normcorr_trainParams_init(&t), "Model");
    const char* expected = "granularity: expected \"auto\", \"trial\" or (coarse, fine)";
    if (PyUnicode_Check(granularity.ptr())) {
        const std::string text = granularity.cast<std::string>();
        if (text != "auto" && text != "trial") throw py::value_error(std::string(expected) + ", got '" + text + "'");
        t.autoSelectGranularity = 1;
        t.autoSelectByTrial = text == "trial";
    } else {
        if (!isPair(granularity, 2)) throw py::type_error(expected);
        const int64_t fine = integerArg(granularity[py::int_(1)], "granularity: fine");
        if (fine < std::numeric_limits<int32_t>::min() || fine > std::numeric_limits<int32_t>::max())
            throw py::value_error("granularity: fine is out of range");
        t.autoSelectGranularity = 0;
        t.autoSelectByTrial = 0;
        t.coarseGranularity = static_cast<float>(realArg(granularity[py::int_(0)], "granularity: coarse"));
        t.fineGranularity = static_cast<int32_t>(fine);
    }
    t.useSurround = surround ? 1 : 0;
    check(qsrch_normcorr_trainParams_validate(&t), "Model");
    return t;
}

// The rectangle of a view, moved to origin (0, 0): the model then works in
// the pattern's own pixels, so a result is where the rectangle's top-left
// pixel lies in the scene. The view keeps its image, for the surrounding band.
qimg_windowConst narrowed(qimg_windowConst view, const Roi& r)
{
    check(qimg_windowConst_window(&view, r.x, r.y, r.width, r.height, nullptr), "Model");
    view.x = view.y = 0;
    return view;
}

std::vector<double> limitsArg(py::handle value, const char* name)
{
    return realsArg(value, 2, std::string(name) + ": expected (minimum, maximum)");
}

class ResultVector {
public:
    ResultVector() : status_(qstd_vector_qsrch_normcorr_result_constructEmpty(&results_)) {}
    ~ResultVector()
    {
        if (!QSRCH_FAILED(status_)) (void)qstd_vector_qsrch_normcorr_result_destruct(&results_);
    }
    ResultVector(const ResultVector&) = delete;
    ResultVector& operator=(const ResultVector&) = delete;
    qsrch_status status() const { return status_; }
    qstd_vector_qsrch_normcorr_result* get() { return &results_; }

private:
    qstd_vector_qsrch_normcorr_result results_;
    qsrch_status status_;
};

}  // namespace

qsrch_normcorr_runParams runParams(const FindArgs& a, const char* doing)
{
    if (a.num > std::numeric_limits<int32_t>::max() || a.num < std::numeric_limits<int32_t>::min())
        throw py::value_error("num: out of range");
    qsrch_runParams top;
    check(qsrch_runParams_init(&top), doing);
    top.numToFind = static_cast<int32_t>(a.num);
    top.acceptThreshold = static_cast<float>(a.accept);
    top.confusionThreshold = static_cast<float>(a.confusion);
    top.overlapFraction = static_cast<float>(a.overlap);
    qsrch_normcorr_runParams run;
    check(qsrch_normcorr_runParams_initFromRunParams(&run, &top), doing);
    if (!a.region.is_none()) {
        const std::vector<double> r = realsArg(a.region, 4, "region: expected (x, y, width, height)");
        if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2]) || !std::isfinite(r[3]) ||
            !(r[2] > 0) || !(r[3] > 0))
            throw py::value_error("region: x, y, width and height must be finite, width and height above 0");
        run.searchRegion = qstd_rectD{r[0], r[1], r[2], r[3]};
    }
    const std::vector<double> contrast = limitsArg(a.contrast, "contrast");
    const std::vector<double> brightness = limitsArg(a.brightness, "brightness");
    run.contrastMin = contrast[0];
    run.contrastMax = contrast[1];
    run.brightnessMin = brightness[0];
    run.brightnessMax = brightness[1];
    run.absoluteCorrelation = a.absolute ? 1 : 0;
    run.shapeScoreOptimization = a.shapeScore ? 1 : 0;
    const std::vector<double> weights = realsArg(a.planeWeights, 3, "plane_weights: expected (r, g, b)");
    for (int c = 0; c < 3; ++c) {
        if (!std::isfinite(weights[c]) || weights[c] < 0)
            throw py::value_error("plane_weights: must be finite numbers of at least 0");
        run.planeWeights[c] = weights[c];
    }
    check(qsrch_normcorr_runParams_validate(&run), doing);
    return run;
}

Model::Model(py::handle pattern, py::handle mask, py::handle roi, py::handle granularity, bool surround)
{
    const Pixels pixels = pixelsArg(pattern, "pattern");
    const bool masked = !mask.is_none();
    Plane care;
    if (masked) care = maskArg(mask, "mask", pixels.height(), pixels.width(), "the pattern's");
    const Roi r = roiArg(roi, pixels.height(), pixels.width());
    if (surround && (r.x < 2 || r.y < 2 || r.x + r.width + 2 > pixels.width() || r.y + r.height + 2 > pixels.height()))
        throw py::value_error("surround: needs a roi with 2 pixels of the pattern around it on every side");
    const qsrch_normcorr_trainParams params = trainParams(granularity, surround);

    qsrch_normcorr_model* model = nullptr;
    check(qsrch_normcorr_model_new(&model), "Model");
    model_.reset(model);
    qmath_xformLinear identity;
    check(qmath_xformLinear_initIdentity(&identity), "Model");
    qimg_windowConst views[3] = {};
    for (int c = 0; c < pixels.planes; ++c) views[c] = narrowed(pixels.plane[c].view(), r);
    const qimg_windowConst careView = masked ? narrowed(care.view(), r) : qimg_windowConst{};
    const qsrch_status s = callReleased([&] {
        if (pixels.planes == 3)
            return masked ? qsrch_normcorr_model_trainMaskWindow3(model, &views[0], &views[1], &views[2], &careView,
                                                                  &identity, &params)
                          : qsrch_normcorr_model_trainWindow3(model, &views[0], &views[1], &views[2], &identity,
                                                              &params);
        return masked ? qsrch_normcorr_model_trainMaskWindow(model, &views[0], &careView, &identity, &params)
                      : qsrch_normcorr_model_trainWindow(model, &views[0], &identity, &params);
    });
    check(s, "Model");
    planes_ = pixels.planes;
    height_ = r.height;
    width_ = r.width;
}

std::pair<double, int32_t> Model::granularity() const
{
    qsrch_normcorr_trainParams t;
    check(qsrch_normcorr_model_getTrainParams(model_.get(), &t), "Model.granularity");
    return {t.coarseGranularity, t.fineGranularity};
}

Pixels Model::sceneArg(py::handle scene, const std::string& name) const
{
    Pixels pixels = pixelsArg(scene, name);
    if (pixels.planes != planes_)
        throw py::value_error(name + (planes_ == 3 ? ": a colour model searches H x W x 3 scenes"
                                                   : ": a grey model searches H x W scenes"));
    return pixels;
}

Plane Model::sceneMaskArg(py::handle mask, int32_t height, int32_t width) const
{
    if (planes_ == 3) throw py::value_error("mask: colour search takes no scene mask");
    return maskArg(mask, "mask", height, width, "the scene's");
}

qsrch_status Model::search(const Pixels& scene, const Plane* mask, const qsrch_normcorr_runParams& params,
                           std::vector<Result>& found) const noexcept
{
    try {
        ResultVector results;
        qmath_xformLinear identity;
        qsrch_status s = results.status();
        if (!QSRCH_FAILED(s)) s = qmath_xformLinear_initIdentity(&identity);
        if (QSRCH_FAILED(s)) return s;
        const qimg_windowConst v0 = scene.plane[0].view();
        if (planes_ == 3) {
            const qimg_windowConst v1 = scene.plane[1].view(), v2 = scene.plane[2].view();
            s = qsrch_normcorr_runWindow3(model_.get(), &v0, &v1, &v2, &identity, &params, results.get());
        } else if (mask != nullptr) {
            const qimg_windowConst m = mask->view();
            s = qsrch_normcorr_runMaskWindow(model_.get(), &v0, &m, &identity, &params, results.get());
        } else {
            s = qsrch_normcorr_runWindow(model_.get(), &v0, &identity, &params, results.get());
        }
        const qsrch_normcorr_result* first = nullptr;
        uint32_t count = 0;
        if (!QSRCH_FAILED(s)) s = qstd_vector_qsrch_normcorr_result_getBeginSizeConst(results.get(), &first, &count);
        if (QSRCH_FAILED(s)) return s;
        found.clear();
        found.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            const qsrch_normcorr_result& r = first[i];
            found.push_back(Result{r.pose.trans.x, r.pose.trans.y, r.score, r.accepted != 0, r.contrast,
                                   r.brightness});
        }
        return QSRCH_OK;
    } catch (const std::bad_alloc&) {
        return QSYS_E_NO_MEMORY;
    }
}

std::vector<Result> Model::find(py::handle scene, py::handle mask, const qsrch_normcorr_runParams& params) const
{
    const Pixels pixels = sceneArg(scene, "scene");
    const bool masked = !mask.is_none();
    Plane care;
    if (masked) care = sceneMaskArg(mask, pixels.height(), pixels.width());
    std::vector<Result> found;
    check(callReleased([&] { return search(pixels, masked ? &care : nullptr, params, found); }), "find");
    return found;
}

std::vector<std::vector<Result>> Model::findMany(py::handle scenes, py::handle threads, py::handle mask,
                                                 const qsrch_normcorr_runParams& params) const
{
    if (!PyList_Check(scenes.ptr()) && !PyTuple_Check(scenes.ptr()))
        throw py::type_error("scenes: expected a list of arrays");
    const size_t n = py::len(scenes);
    std::vector<Pixels> inputs;
    inputs.reserve(n);
    for (size_t i = 0; i < n; ++i) inputs.push_back(sceneArg(scenes[py::int_(i)], "scenes[" + std::to_string(i) + "]"));
    const bool masked = !mask.is_none() && n > 0;
    Plane care;
    if (masked) care = sceneMaskArg(mask, inputs[0].height(), inputs[0].width());
    for (size_t i = 0; masked && i < n; ++i)
        if (inputs[i].height() != care.height() || inputs[i].width() != care.width())
            throw py::value_error("scenes[" + std::to_string(i) + "]: differs in size from the mask");
    const int64_t wanted = threads.is_none() ? int64_t(std::thread::hardware_concurrency())
                                             : integerArg(threads, "threads");
    if (!threads.is_none() && wanted < 1) throw py::value_error("threads: must be at least 1");

    std::vector<std::vector<Result>> found(n);
    SceneQueue queue(n, [&](size_t i) { return search(inputs[i], masked ? &care : nullptr, params, found[i]); });
    queue.runReleased(static_cast<size_t>(std::max<int64_t>(wanted, 1)));
    for (size_t i = 0; i < n; ++i)
        check(queue.status(i), ("find_many: scenes[" + std::to_string(i) + "]").c_str());
    return found;
}

}  // namespace qpy
