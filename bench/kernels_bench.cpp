// Statistics kernels on a 640 x 480 random 8-bit scene, per pattern size.
// Every kernel runs beside the direct loop it replaces (BruteSums,
// BruteInnerProducts) and a memcpy of the scene, so the figures read as
// ratios: positions per second for the kernels, bytes per second for the
// copy.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <benchmark/benchmark.h>
#include <qsrch/qsrch.h>

namespace {

constexpr int32_t sceneWidth = 640, sceneHeight = 480;

// The scene and a pattern cut from it, both with row slack as a camera
// buffer would have.
struct Scene {
    int32_t stride = sceneWidth + 16;
    std::vector<uint8_t> pixels;
    Scene() : pixels(size_t(stride) * sceneHeight)
    {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> d(0, 255);
        for (auto& p : pixels) p = static_cast<uint8_t>(d(rng));
    }
    qimg_windowConst window(int32_t x, int32_t y, int32_t w, int32_t h) const
    {
        qimg_windowConst v{};
        v.width = w, v.height = h, v.x = x, v.y = y;
        v.depth = QIMG_DEPTH_8U;
        v.imageWidth = sceneWidth, v.imageHeight = sceneHeight, v.rowStride = stride;
        v.imageFirstPixel = pixels.data();
        v.firstPixel = pixels.data() + size_t(y) * stride + x;
        return v;
    }
    uint8_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * stride + x]; }
};

const Scene& scene()
{
    static const Scene s;
    return s;
}

struct Case {
    int32_t w, h, nx, ny;
    qimg_windowConst pattern, image;
    explicit Case(const benchmark::State& state)
        : w(int32_t(state.range(0))), h(int32_t(state.range(1))),
          nx(sceneWidth - w + 1), ny(sceneHeight - h + 1),
          pattern(scene().window(100, 50, w, h)), image(scene().window(0, 0, sceneWidth, sceneHeight))
    {
    }
    size_t positions() const { return size_t(nx) * ny; }
};

void finish(benchmark::State& state, const Case& c)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.positions()));
}

template <class SqT, class Kernel>
void sums(benchmark::State& state, Kernel kernel)
{
    const Case c(state);
    std::vector<uint32_t> sumI(c.positions());
    std::vector<SqT> sumISq(c.positions());
    for (auto _ : state) {
        if (kernel(&c.pattern, &c.image, sumI.data(), sumISq.data(), uint32_t(c.nx)) != QSRCH_OK)
            state.SkipWithError("kernel failed");
        benchmark::DoNotOptimize(sumI.data());
        benchmark::DoNotOptimize(sumISq.data());
    }
    finish(state, c);
}

template <class T, class Kernel>
void innerProducts(benchmark::State& state, Kernel kernel)
{
    const Case c(state);
    std::vector<T> out(c.positions());
    for (auto _ : state) {
        if (kernel(&c.pattern, &c.image, out.data(), uint32_t(c.nx)) != QSRCH_OK)
            state.SkipWithError("kernel failed");
        benchmark::DoNotOptimize(out.data());
    }
    finish(state, c);
}

void SumISumISq(benchmark::State& s) { sums<uint32_t>(s, qsrch_computeSumISumISq); }
void DSumISumISq(benchmark::State& s) { sums<double>(s, qsrch_DcomputeSumISumISq); }
void InnerProducts(benchmark::State& s) { innerProducts<uint32_t>(s, qsrch_computeInnerProducts); }
void DInnerProducts(benchmark::State& s) { innerProducts<double>(s, qsrch_DcomputeInnerProducts); }

// The direct loops: every position sums its whole window again.
void BruteSums(benchmark::State& state)
{
    const Case c(state);
    const Scene& img = scene();
    std::vector<uint32_t> sumI(c.positions()), sumISq(c.positions());
    for (auto _ : state) {
        for (int32_t y = 0; y < c.ny; ++y)
            for (int32_t x = 0; x < c.nx; ++x) {
                uint32_t s = 0, ss = 0;
                for (int32_t j = 0; j < c.h; ++j)
                    for (int32_t i = 0; i < c.w; ++i) {
                        const uint32_t v = img.at(x + i, y + j);
                        s += v, ss += v * v;
                    }
                sumI[size_t(y) * c.nx + x] = s, sumISq[size_t(y) * c.nx + x] = ss;
            }
        benchmark::DoNotOptimize(sumI.data());
        benchmark::DoNotOptimize(sumISq.data());
    }
    finish(state, c);
}

void BruteInnerProducts(benchmark::State& state)
{
    const Case c(state);
    const Scene& img = scene();
    std::vector<uint32_t> out(c.positions());
    for (auto _ : state) {
        for (int32_t y = 0; y < c.ny; ++y)
            for (int32_t x = 0; x < c.nx; ++x) {
                uint32_t ip = 0;
                for (int32_t j = 0; j < c.h; ++j)
                    for (int32_t i = 0; i < c.w; ++i)
                        ip += uint32_t(img.at(100 + i, 50 + j)) * img.at(x + i, y + j);
                out[size_t(y) * c.nx + x] = ip;
            }
        benchmark::DoNotOptimize(out.data());
    }
    finish(state, c);
}

// The machine's own pace: one copy of the scene's pixels. Items are pixels,
// comparable with positions.
void MemcpyScene(benchmark::State& state)
{
    const std::vector<uint8_t>& src = scene().pixels;
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * sceneWidth * sceneHeight);
}

}  // namespace

// Grouped by pattern size, each kernel after its direct loop. The direct
// loops cost about positions x pattern pixels an iteration (about 1e9 at
// 64 x 64), so they run a fixed count near 1e9 operations in all.
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
#if defined(__GLIBC__)
    // The sliding sums take megabytes of scratch per call. By default glibc may hand it back to
    // the system on free and fault it in again on the next call (up to ten times the kernel's own
    // time at 8 x 8), depending on what ran before; keeping freed memory makes the figures the
    // kernels' own and independent of order.
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    benchmark::RegisterBenchmark("MemcpyScene", MemcpyScene)->Unit(benchmark::kMicrosecond);
    const int32_t patternSizes[][2] = {{8, 8}, {31, 17}, {32, 32}, {64, 64}};
    for (const auto& s : patternSizes) {
        const double work = double(sceneWidth - s[0] + 1) * (sceneHeight - s[1] + 1) * s[0] * s[1];
        const int64_t bruteIterations = std::max<int64_t>(1, int64_t(1e9 / work));
        const auto add = [&](const char* name, void (*f)(benchmark::State&)) {
            return benchmark::RegisterBenchmark(name, f)
                ->Args({s[0], s[1]})
                ->ArgNames({"w", "h"})
                ->Unit(benchmark::kMicrosecond);
        };
        add("BruteSums", BruteSums)->Iterations(bruteIterations);
        add("SumISumISq", SumISumISq);
        add("DSumISumISq", DSumISumISq);
        add("BruteInnerProducts", BruteInnerProducts)->Iterations(bruteIterations);
        add("InnerProducts", InnerProducts);
        add("DInnerProducts", DInnerProducts);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
