// score_map and window_sums: the library's statistics kernels and score
// spaces at every position of a pattern on a scene, as float64 arrays.
//
// A score over care pixels needs all six sums over the same pixels, while
// the inner-product kernel has no mask: so the pattern's don't-care pixels
// are zeroed for it, and with a scene mask the scene's don't-care pixels
// too, after which every sum runs over the pixels both masks care for.
#include "kernels.hpp"

#include <string>
#include <vector>

#include <pybind11/numpy.h>

#include <qsrch/qsrch.h>

#include "arrays.hpp"
#include "errors.hpp"
#include "interrupt.hpp"

namespace qpy {
namespace {

// Pattern sums are unsigned 32-bit: exact up to this many pixels of 255.
constexpr int64_t kMaxWindowPixels = 0xFFFFFFFFu / 255u;
// The double sliding sums hold a row's sum of squares in 32 bits.
constexpr int32_t kMaxWindowWidth = 66051;

struct Grid {
    int32_t nx, ny;
    size_t count() const { return size_t(nx) * size_t(ny); }
};

// The positions of an h x w window (`what`) on the scene.
Grid positions(int64_t h, int64_t w, const Plane& scene, const std::string& what)
{
    const std::string size = std::to_string(h) + " x " + std::to_string(w);
    if (h > scene.height() || w > scene.width())
        throw py::value_error("scene: " + std::to_string(scene.height()) + " x " + std::to_string(scene.width()) +
                              " is smaller than the " + what + " of " + size);
    if (w * h > kMaxWindowPixels || w > kMaxWindowWidth)
        throw py::value_error(what + ": " + size + " is too large for exact sums");
    return Grid{scene.width() - int32_t(w) + 1, scene.height() - int32_t(h) + 1};
}

qsrch_normalizedCorrelationParams modeArg(const std::string& mode)
{
    qsrch_normalizedCorrelationParams params;
    check(qsrch_normalizedCorrelationParams_init(&params), "score_map");
    if (mode == "abs")
        params.absoluteCorrelation = 1;
    else if (mode == "neg")
        params.negativeCorrelation = 1;
    else if (mode == "cov")
        params.covarianceScore = 1;
    else if (mode != "r2")
        throw py::value_error("mode: expected \"r2\", \"abs\", \"neg\" or \"cov\", got '" + mode + "'");
    return params;
}

// One care count and pattern triple for every position.
qsrch_status space(const Plane& pattern, const Plane* mask, const Plane& scene, Grid grid,
                   const qsrch_normalizedCorrelationParams& params, double* scores)
{
    const qimg_windowConst p = pattern.view(), s = scene.view(), m = mask ? mask->view() : qimg_windowConst{};
    std::vector<uint32_t> sums(grid.count());
    std::vector<double> sumSqs(grid.count()), inner(grid.count());
    uint32_t patternSum = 0, care = uint32_t(pattern.width()) * uint32_t(pattern.height());
    double patternSumSq = 0, maskSumSq = 0;
    qsrch_status status = qsrch_DcomputeOneSumISumISq(&p, &patternSum, &patternSumSq);
    if (!QSRCH_FAILED(status) && mask) {
        status = qsrch_DcomputeOneSumISumISq(&m, &care, &maskSumSq);
        care /= 255;  // the mask is two-valued
    }
    if (!QSRCH_FAILED(status))
        status = mask ? qsrch_DcomputeMaskSumISumISq(&m, &s, sums.data(), sumSqs.data(), uint32_t(grid.nx))
                      : qsrch_DcomputeSumISumISq(&p, &s, sums.data(), sumSqs.data(), uint32_t(grid.nx));
    if (!QSRCH_FAILED(status)) status = qsrch_DcomputeInnerProducts(&p, &s, inner.data(), uint32_t(grid.nx));
    if (QSRCH_FAILED(status)) return status;
    return qsrch_DcomputeNormalizedCorrelation(uint32_t(pattern.width()), uint32_t(pattern.height()), care,
                                               patternSum, patternSumSq, uint32_t(grid.nx), grid.ny, sums.data(),
                                               sumSqs.data(), uint32_t(grid.nx), inner.data(), grid.nx, &params,
                                               scores, grid.nx);
}

// A care count and pattern triple per position, left by both masks.
qsrch_status runtimeMaskedSpace(const Plane& pattern, const Plane* mask, const Plane& scene, const Plane& sceneMask,
                                Grid grid, const qsrch_normalizedCorrelationParams& params, double* scores)
{
    const qimg_windowConst p = pattern.view(), s = scene.view(), sm = sceneMask.view();
    const qimg_windowConst m = mask ? mask->view() : qimg_windowConst{};
    const size_t n = grid.count();
    std::vector<uint32_t> sums(n), counts(n), patternSums(n);
    std::vector<double> sumSqs(n), inner(n), patternSumSqs(n);
    const uint32_t stride = uint32_t(grid.nx);
    const qsrch_status status =
        qsrch_DcomputeSumsRuntimeMasked(&p, &m, &s, &sm, stride, inner.data(), sums.data(), sumSqs.data(),
                                        counts.data(), patternSums.data(), patternSumSqs.data());
    if (QSRCH_FAILED(status)) return status;
    return qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
        uint32_t(pattern.width()), uint32_t(pattern.height()), counts.data(), patternSums.data(),
        patternSumSqs.data(), stride, stride, grid.ny, sums.data(), sumSqs.data(), stride, inner.data(), stride,
        &params, scores, stride);
}

}  // namespace

py::array_t<double> scoreMap(py::handle pattern, py::handle scene, py::handle mask, py::handle sceneMask,
                             const std::string& mode)
{
    const qsrch_normalizedCorrelationParams params = modeArg(mode);
    Plane p = greyArg(pattern, "pattern");
    Plane s = greyArg(scene, "scene");
    const bool masked = !mask.is_none(), sceneMasked = !sceneMask.is_none();
    Plane m, sm;
    if (masked) m = maskArg(mask, "mask", p.height(), p.width(), "the pattern's");
    if (sceneMasked) sm = maskArg(sceneMask, "scene_mask", s.height(), s.width(), "the scene's");
    const Grid grid = positions(p.height(), p.width(), s, "pattern");
    if (masked) p = p.zeroedOutside(m);
    if (sceneMasked) s = s.zeroedOutside(sm);

    py::array_t<double> scores({grid.ny, grid.nx});
    double* out = scores.mutable_data();
    const Plane* maskOrNull = masked ? &m : nullptr;
    check(callReleased([&] {
              return sceneMasked ? runtimeMaskedSpace(p, maskOrNull, s, sm, grid, params, out)
                                 : space(p, maskOrNull, s, grid, params, out);
          }),
          "score_map");
    return scores;
}

py::tuple windowSums(py::handle scene, int64_t h, int64_t w, py::handle mask)
{
    const Plane s = greyArg(scene, "scene");
    if (h < 1 || w < 1) throw py::value_error("h, w: the window must be at least 1 x 1");
    const Grid grid = positions(h, w, s, "window");
    const bool masked = !mask.is_none();
    Plane m;
    if (masked) m = maskArg(mask, "mask", int32_t(h), int32_t(w), "the window's");

    py::array_t<double> sums({grid.ny, grid.nx}), sumSqs({grid.ny, grid.nx});
    double* sumsOut = sums.mutable_data();
    double* sumSqsOut = sumSqs.mutable_data();
    check(callReleased([&] {
              std::vector<uint32_t> sums32(grid.count());
              const qimg_windowConst image = s.view();
              qimg_windowConst window = masked ? m.view() : image;  // the unmasked kernel reads its size only
              window.width = int32_t(w);
              window.height = int32_t(h);
              const qsrch_status status =
                  masked ? qsrch_DcomputeMaskSumISumISq(&window, &image, sums32.data(), sumSqsOut, uint32_t(grid.nx))
                         : qsrch_DcomputeSumISumISq(&window, &image, sums32.data(), sumSqsOut, uint32_t(grid.nx));
              for (size_t i = 0; !QSRCH_FAILED(status) && i < sums32.size(); ++i) sumsOut[i] = sums32[i];
              return status;
          }),
          "window_sums");
    return py::make_tuple(sums, sumSqs);
}

}  // namespace qpy
