// The coarse-to-fine search against exhaustive scoring of every position at
// full resolution. Two cases: a 64 x 64 pattern in a 640 x 480 scene and a
// 128 x 128 pattern in a 2592 x 1944 scene, each pattern cut from its
// textured scene, so there is one exact instance. Per case the table gives
//   search   qsrch_normcorr_run, model trained with the default parameters
//            (granularities chosen by training), numToFind 1;
//   brute    the full score space from this library's own statistics kernels
//            and scoring, then its maximum;
//   opencv   cv::matchTemplate (TM_CCOEFF_NORMED) and cv::minMaxLoc on one
//            thread, when built with OpenCV;
// the best time of a few repetitions, the ratio to the search, and the place
// each found, which must agree. Then the time to choose the coarse
// granularity by trial for patterns of 32, 100 and 200 pixels.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <qsrch/qsrch.h>

#if defined(QSRCH_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

// Random values on a grid six pixels apart, interpolated bilinearly, plus
// pixel noise: detail at every pyramid level the search builds.
struct Scene {
    int32_t width, height, stride;
    std::vector<uint8_t> pixels;
    Scene(int32_t w, int32_t h, uint32_t seed)
        : width(w), height(h), stride(w + 16), pixels(size_t(stride) * h)
    {
        constexpr int32_t step = 6;
        const int32_t gw = w / step + 2, gh = h / step + 2;
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> value(20, 235);
        std::vector<double> grid(size_t(gw) * gh);
        for (double& g : grid) g = value(rng);
        std::uniform_int_distribution<int> noise(-4, 4);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int32_t gx = x / step, gy = y / step;
                const double fx = double(x % step) / step, fy = double(y % step) / step;
                auto g = [&](int32_t i, int32_t j) { return grid[size_t(gy + j) * gw + gx + i]; };
                const double v = (1 - fy) * ((1 - fx) * g(0, 0) + fx * g(1, 0)) +
                                 fy * ((1 - fx) * g(0, 1) + fx * g(1, 1));
                pixels[size_t(y) * stride + x] = uint8_t(std::clamp(std::lround(v) + noise(rng), 0L, 255L));
            }
    }
    qimg_windowConst window(int32_t x, int32_t y, int32_t w, int32_t h) const
    {
        qimg_windowConst v{};
        v.width = w, v.height = h, v.x = x, v.y = y;
        v.depth = QIMG_DEPTH_8U;
        v.imageWidth = width, v.imageHeight = height, v.rowStride = stride;
        v.imageFirstPixel = pixels.data();
        v.firstPixel = pixels.data() + size_t(y) * stride + x;
        return v;
    }
};

void check(qsys_status s, const char* what)
{
    if (QSYS_FAILED(s)) {
        std::fprintf(stderr, "%s failed: 0x%08X\n", what, unsigned(s));
        std::exit(1);
    }
}

// The best of `reps` timings of f, in milliseconds.
template <class F>
double bestMs(int reps, F f)
{
    double best = 1e300;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

struct Place {
    double x = -1, y = -1, score = 0;
};

Place search(const qimg_windowConst& pattern, const qimg_windowConst& image, int reps, double& ms)
{
    qsrch_normcorr_model model;
    check(qsrch_normcorr_model_construct(&model), "model construct");
    qsrch_normcorr_trainParams tp;
    qsrch_normcorr_trainParams_init(&tp);
    const qmath_xformLinear identity{{0, 0}, {1, 0, 0, 1}};
    check(qsrch_normcorr_model_trainWindow(&model, &pattern, &identity, &tp), "train");
    qsrch_normcorr_runParams rp;
    qsrch_normcorr_runParams_init(&rp);
    rp.numToFind = 1;
    qstd_vector_qsrch_normcorr_result results;
    check(qstd_vector_qsrch_normcorr_result_constructEmpty(&results), "results");
    ms = bestMs(reps, [&] {
        check(qsrch_normcorr_runWindow(&model, &image, &identity, &rp, &results), "run");
    });
    Place p;
    if (results.size > 0) {
        const auto& best = static_cast<const qsrch_normcorr_result*>(results.begin)[0];
        p = {best.pose.trans.x, best.pose.trans.y, best.score};
    }
    qstd_vector_qsrch_normcorr_result_destruct(&results);
    qsrch_normcorr_model_destruct(&model);
    return p;
}

Place brute(const qimg_windowConst& pattern, const qimg_windowConst& image, int reps, double& ms)
{
    const uint32_t w = uint32_t(pattern.width), h = uint32_t(pattern.height);
    const uint32_t nx = uint32_t(image.width) - w + 1, ny = uint32_t(image.height) - h + 1;
    std::vector<uint32_t> sumI(size_t(nx) * ny), sumISq(sumI.size()), inner(sumI.size());
    std::vector<double> scores(sumI.size());
    qsrch_normalizedCorrelationParams ncp;
    qsrch_normalizedCorrelationParams_init(&ncp);
    Place p;
    ms = bestMs(reps, [&] {
        uint32_t patSum = 0, patSumSq = 0;
        check(qsrch_computeOneSumISumISq(&pattern, &patSum, &patSumSq), "pattern sums");
        check(qsrch_computeSumISumISq(&pattern, &image, sumI.data(), sumISq.data(), nx), "image sums");
        check(qsrch_computeInnerProducts(&pattern, &image, inner.data(), nx), "inner products");
        check(qsrch_computeNormalizedCorrelation(w, h, w * h, patSum, patSumSq, nx, int32_t(ny), sumI.data(),
                                                 sumISq.data(), nx, inner.data(), int32_t(nx), &ncp,
                                                 scores.data(), int32_t(nx)),
              "scores");
        const size_t at = size_t(std::max_element(scores.begin(), scores.end()) - scores.begin());
        p = {double(at % nx), double(at / nx), scores[at]};
    });
    return p;
}

#if defined(QSRCH_BENCH_OPENCV)
Place opencv(const Scene& scene, const qimg_windowConst& pattern, int reps, double& ms)
{
    cv::setNumThreads(1);
    const cv::Mat image(scene.height, scene.width, CV_8UC1, const_cast<uint8_t*>(scene.pixels.data()),
                        size_t(scene.stride));
    const cv::Mat templ(pattern.height, pattern.width, CV_8UC1, const_cast<void*>(pattern.firstPixel),
                        size_t(pattern.rowStride));
    cv::Mat result;
    Place p;
    ms = bestMs(reps, [&] {
        cv::matchTemplate(image, templ, result, cv::TM_CCOEFF_NORMED);
        double maxVal = 0;
        cv::Point maxLoc;
        cv::minMaxLoc(result, nullptr, &maxVal, nullptr, &maxLoc);
        p = {double(maxLoc.x), double(maxLoc.y), maxVal};
    });
    return p;
}
#endif

// The search reports a sub-pixel place, the others whole positions.
bool samePlace(const Place& a, const Place& b)
{
    return std::fabs(a.x - b.x) < 0.5 && std::fabs(a.y - b.y) < 0.5;
}

bool runCase(int32_t sceneW, int32_t sceneH, int32_t patSize, int32_t px, int32_t py, int bruteReps)
{
    const Scene scene(sceneW, sceneH, uint32_t(sceneW));
    const qimg_windowConst image = scene.window(0, 0, sceneW, sceneH);
    // The pattern in a buffer of its own, so that its pixel (0, 0) is its origin.
    std::vector<uint8_t> patternPixels(size_t(patSize) * patSize);
    for (int32_t y = 0; y < patSize; ++y)
        for (int32_t x = 0; x < patSize; ++x)
            patternPixels[size_t(y) * patSize + x] = scene.pixels[size_t(py + y) * scene.stride + px + x];
    qimg_windowConst pattern{};
    pattern.width = pattern.height = pattern.imageWidth = pattern.imageHeight = pattern.rowStride = patSize;
    pattern.depth = QIMG_DEPTH_8U;
    pattern.firstPixel = pattern.imageFirstPixel = patternPixels.data();
    std::printf("%dx%d pattern in %dx%d scene, planted at (%d, %d)\n", patSize, patSize, sceneW, sceneH,
                px, py);
    double searchMs = 0, bruteMs = 0;
    const Place s = search(pattern, image, 10, searchMs);
    const Place b = brute(pattern, image, bruteReps, bruteMs);
    bool agree = samePlace(s, b);
    auto row = [&](const char* name, const Place& p, double ms) {
        std::printf("  %-7s %11.3f ms  x%9.1f  at (%.3f, %.3f) score %.4f\n", name, ms, ms / searchMs,
                    p.x, p.y, p.score);
    };
    row("search", s, searchMs);
    row("brute", b, bruteMs);
#if defined(QSRCH_BENCH_OPENCV)
    double cvMs = 0;
    const Place c = opencv(scene, pattern, 3, cvMs);
    agree = agree && samePlace(s, c);
    row("opencv", c, cvMs);
#else
    std::printf("  opencv  not built\n");
#endif
    std::printf("  %s\n", agree ? "all found the same place" : "PLACES DIFFER");
    return agree;
}

// Choosing the coarse granularity by trial for a pattern cut from the middle
// of a scene three times its size, beside one search of that scene with the
// model trained from the pattern size.
bool selectionCase(int32_t patSize)
{
    const Scene scene(3 * patSize, 3 * patSize, uint32_t(patSize));
    const qimg_windowConst image = scene.window(0, 0, 3 * patSize, 3 * patSize);
    const qimg_windowConst pattern = scene.window(patSize, patSize, patSize, patSize);
    float coarse = 0;
    int32_t fine = 0;
    const double selectMs = bestMs(3, [&] {
        check(qsrch_normcorr_computeGranularitiesWindow(&pattern, 0.25f, 0, 128, &coarse, &fine), "selection");
    });
    double searchMs = 0;
    search(pattern, image, 10, searchMs);
    std::printf("  %3dx%-3d  %9.3f ms  x%7.1f  coarse %g\n", patSize, patSize, selectMs, selectMs / searchMs,
                coarse);
    return coarse >= 1.0f;
}

}  // namespace

int main()
{
    bool ok = runCase(640, 480, 64, 301, 187, 3);
    ok = runCase(2592, 1944, 128, 1411, 923, 1) && ok;
    std::printf("granularity selection by trial (ratio to one search of the scene)\n");
    for (int32_t size : {32, 100, 200}) ok = selectionCase(size) && ok;
    return ok ? 0 : 1;
}
