// Statistics kernels on a 640 x 480 random 8-bit scene, per pattern size,
// each on its optimized path and on its generic path (the inhibit query
// forbidding the optimized one), beside the direct loop it replaces and a
// memcpy of the scene. Items are positions; inner products also count
// multiply-adds per second. A table at the end reads each optimized kernel
// as ratios within the run: its generic path's time over its own, and its
// time in memcpys of the scene.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <benchmark/benchmark.h>
#include <qsrch/qsrch.h>

namespace {

constexpr int32_t sceneWidth = 640, sceneHeight = 480;

// An 8-bit plane with row slack, as a camera buffer would have: random
// pixels, or a care mask caring for about `care` of them (values 1..255).
struct Plane {
    int32_t width, height, stride;
    std::vector<uint8_t> pixels;
    Plane(int32_t w, int32_t h, uint32_t seed, double care = -1)
        : width(w), height(h), stride(w + 16), pixels(size_t(stride) * h)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> d(0, 255);
        std::uniform_real_distribution<double> u(0, 1);
        for (auto& p : pixels) p = static_cast<uint8_t>(care < 0 || u(rng) < care ? std::max(d(rng), 1) : 0);
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
    uint8_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * stride + x]; }
};

const Plane& scene()
{
    static const Plane s(sceneWidth, sceneHeight, 1);
    return s;
}

const Plane& sceneMask()
{
    static const Plane m(sceneWidth, sceneHeight, 2, 0.9);
    return m;
}

// A pattern cut from the scene, its care mask, and the outputs.
struct Case {
    int32_t w, h, nx, ny;
    Plane patternMask;
    qimg_windowConst pattern, mask, image, imageMask;
    std::vector<uint32_t> out[3];
    std::vector<double> outD;
    explicit Case(const benchmark::State& state)
        : w(int32_t(state.range(0))), h(int32_t(state.range(1))), nx(sceneWidth - w + 1), ny(sceneHeight - h + 1),
          patternMask(w, h, 3, 0.6), pattern(scene().window(100, 50, w, h)), mask(patternMask.window(0, 0, w, h)),
          image(scene().window(0, 0, sceneWidth, sceneHeight)),
          imageMask(sceneMask().window(0, 0, sceneWidth, sceneHeight)), outD(positions())
    {
        for (auto& plane : out) plane.resize(positions());
    }
    size_t positions() const { return size_t(nx) * ny; }
};

int32_t forbidEverything(const uint16_t*) { return 1; }

// Runs kernel(c) on the path `generic` names, every position an item.
template <class Kernel>
void timeKernel(benchmark::State& state, bool generic, Kernel kernel)
{
    Case c(state);
    qprt_isOptimizationInhibitedFP = generic ? &forbidEverything : nullptr;
    for (auto _ : state) {
        if (kernel(c) != QSRCH_OK) state.SkipWithError("kernel failed");
        benchmark::DoNotOptimize(c.out[0].data());
        benchmark::DoNotOptimize(c.outD.data());
        benchmark::ClobberMemory();
    }
    qprt_isOptimizationInhibitedFP = nullptr;
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.positions()));
}

void countMultiplyAdds(benchmark::State& state)
{
    const double perIteration = double(sceneWidth - state.range(0) + 1) * double(sceneHeight - state.range(1) + 1) *
                                double(state.range(0) * state.range(1));
    state.counters["multiply_adds"] = benchmark::Counter(perIteration * double(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}

template <bool Generic>
void SumISumISq(benchmark::State& s)
{
    timeKernel(s, Generic, [](Case& c) {
        return qsrch_computeSumISumISq(&c.pattern, &c.image, c.out[0].data(), c.out[1].data(), uint32_t(c.nx));
    });
}

template <bool Generic>
void MaskSumISumISq(benchmark::State& s)
{
    timeKernel(s, Generic, [](Case& c) {
        return qsrch_computeMaskSumISumISq(&c.mask, &c.image, c.out[0].data(), c.out[1].data(), uint32_t(c.nx));
    });
}

template <bool Generic>
void MaskPatSumPatSumSq(benchmark::State& s)
{
    timeKernel(s, Generic, [](Case& c) {
        return qsrch_computeMaskPatSumPatSumSq(&c.pattern, &c.mask, &c.imageMask, c.out[0].data(), c.out[1].data(),
                                               c.out[2].data(), uint32_t(c.nx));
    });
}

template <bool Generic>
void InnerProducts(benchmark::State& s)
{
    timeKernel(s, Generic, [](Case& c) {
        return qsrch_computeInnerProducts(&c.pattern, &c.image, c.out[0].data(), uint32_t(c.nx));
    });
    countMultiplyAdds(s);
}

template <bool Generic>
void DInnerProducts(benchmark::State& s)
{
    timeKernel(s, Generic, [](Case& c) {
        return qsrch_DcomputeInnerProducts(&c.pattern, &c.image, c.outD.data(), uint32_t(c.nx));
    });
    countMultiplyAdds(s);
}

// The direct loop: every position multiplies its whole window again.
void BruteInnerProducts(benchmark::State& state)
{
    const Case c(state);
    const Plane& img = scene();
    std::vector<uint32_t> out(c.positions());
    for (auto _ : state) {
        for (int32_t y = 0; y < c.ny; ++y)
            for (int32_t x = 0; x < c.nx; ++x) {
                uint32_t ip = 0;
                for (int32_t j = 0; j < c.h; ++j)
                    for (int32_t i = 0; i < c.w; ++i) ip += uint32_t(img.at(100 + i, 50 + j)) * img.at(x + i, y + j);
                out[size_t(y) * c.nx + x] = ip;
            }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.positions()));
    countMultiplyAdds(state);
}

// The machine's own pace: one copy of the scene's pixels.
void MemcpyScene(benchmark::State& state)
{
    const std::vector<uint8_t>& src = scene().pixels;
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

// The console report, then each optimized kernel's ratios: the generic
// path's CPU time over the optimized one's, and the optimized time in
// memcpys of the scene. Repetitions keep each benchmark's best time, or its
// median when only aggregates are reported.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
            const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto [entry, fresh] = best_.emplace(run.run_name.str(), seconds);
            if (!fresh) entry->second = std::min(entry->second, seconds);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto memcpy = best_.find("MemcpyScene");
        std::printf("\n%-40s %16s %16s\n", "optimized kernel", "generic / opt.", "opt. / memcpy");
        for (const auto& [name, seconds] : best_) {
            const size_t mark = name.find("<optimized>");
            if (mark == std::string::npos) continue;
            std::string generic = name;
            generic.replace(mark, std::strlen("<optimized>"), "<generic>");
            const auto other = best_.find(generic);
            std::printf("%-40s %16.2f %16.1f\n", name.c_str(), other == best_.end() ? 0.0 : other->second / seconds,
                        memcpy == best_.end() ? 0.0 : seconds / memcpy->second);
        }
    }

private:
    std::map<std::string, double> best_;
};

}  // namespace

// Grouped by pattern size, each kernel's optimized path beside its generic
// one; the direct loops run once (about 1e9 multiply-adds at 64 x 64).
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
        const auto add = [&](const std::string& name, void (*f)(benchmark::State&)) {
            return benchmark::RegisterBenchmark(name.c_str(), f)
                ->Args({s[0], s[1]})
                ->ArgNames({"w", "h"})
                ->Unit(benchmark::kMicrosecond);
        };
        const auto both = [&](const std::string& name, void (*optimized)(benchmark::State&),
                              void (*generic)(benchmark::State&)) {
            add(name + "<optimized>", optimized);
            add(name + "<generic>", generic);
        };
        both("SumISumISq", SumISumISq<false>, SumISumISq<true>);
        both("MaskSumISumISq", MaskSumISumISq<false>, MaskSumISumISq<true>);
        both("MaskPatSumPatSumSq", MaskPatSumPatSumSq<false>, MaskPatSumPatSumSq<true>);
        add("BruteInnerProducts", BruteInnerProducts)->Iterations(1);
        both("InnerProducts", InnerProducts<false>, InnerProducts<true>);
        both("DInnerProducts", DInnerProducts<false>, DInnerProducts<true>);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
