// Source pyramid generation to 4 levels (factors 2, 2, 2, as a pattern
// trained with coarse granularity 8 asks for) on a VGA and a 5-megapixel
// image, beside one memcpy of the same image: the floor any pyramid pays.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <qsrch/qsrch.h>

namespace {

struct Image {
    int32_t width, height;
    std::vector<uint8_t> pixels;
    Image(int32_t w, int32_t h) : width(w), height(h), pixels(size_t(w) * h)
    {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> d(0, 255);
        for (auto& p : pixels) p = static_cast<uint8_t>(d(rng));
    }
    qimg_windowConst view() const
    {
        qimg_windowConst v{};
        v.width = width, v.height = height, v.depth = QIMG_DEPTH_8U;
        v.imageWidth = width, v.imageHeight = height, v.rowStride = width;
        v.firstPixel = v.imageFirstPixel = pixels.data();
        return v;
    }
};

// Pattern levels are read only for their factors.
struct PatternLevels {
    qstd_vector_qsrch_normcorr_level_ levels;
    explicit PatternLevels(int32_t count) { qstd_vector_qsrch_normcorr_level__construct(&levels, size_t(count)); }
    ~PatternLevels() { qstd_vector_qsrch_normcorr_level__destruct(&levels); }
};

void Memcpy(benchmark::State& state)
{
    const Image image(int32_t(state.range(0)), int32_t(state.range(1)));
    std::vector<uint8_t> copy(image.pixels.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), image.pixels.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(copy.size()));
}

void SourcePyramid(benchmark::State& state)
{
    const Image image(int32_t(state.range(0)), int32_t(state.range(1)));
    const qimg_windowConst view = image.view();
    PatternLevels pattern(4);
    qstd_vector_qsrch_normcorr_level_ source;
    qstd_vector_qsrch_normcorr_level__constructEmpty(&source);
    for (auto _ : state) {
        if (qsrch_normcorr_generateSrcLevels(&view, &pattern.levels, 4, &source) != QSRCH_OK)
            state.SkipWithError("pyramid failed");
    }
    qstd_vector_qsrch_normcorr_level__destruct(&source);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.pixels.size()));
}

BENCHMARK(Memcpy)->Args({640, 480})->Args({2592, 1944})->Unit(benchmark::kMicrosecond);
BENCHMARK(SourcePyramid)->Args({640, 480})->Args({2592, 1944})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
