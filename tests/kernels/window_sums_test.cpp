// Window sums under masks against brute-force loops with 64-bit
// accumulators, plus the size rule, attention poll, inhibit query and the
// half-height split of the double image sum of squares.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

enum class Stat { Sum, SumSq, CareCount, PatSum, PatSumSq };

struct Views {
    qimg_windowConst pattern, patternMask, image, imageMask;
};

struct Kernel {
    const char* name;
    Stat stat;
    bool doubleOut;
    const char16_t* dispatchName;  // nullptr: no optimized-path dispatch
    bool pixelLimit;               // refuses patterns of more than 0x10000 pixels
    qsrch_status (*run)(const Views&, void* out, uint32_t outStride);
};

#define U32(p) static_cast<uint32_t*>(p)
#define F64(p) static_cast<double*>(p)
const Kernel kKernels[] = {
    {"computeImageSumMask", Stat::Sum, false, u"qsrch_imageSumMask", false,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_computeImageSumMask(&v.patternMask, &v.image, U32(o), s);
     }},
    {"computeImageSumSqMask", Stat::SumSq, false, u"qsrch_imageSumSqMask", true,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_computeImageSumSqMask(&v.patternMask, &v.image, U32(o), s);
     }},
    {"DcomputeImageSumSqMask", Stat::SumSq, true, u"qsrch_DimageSumSqMask", false,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_DcomputeImageSumSqMask(&v.patternMask, &v.image, F64(o), s);
     }},
    {"computeNCarePelsMask", Stat::CareCount, false, nullptr, false,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_computeNCarePelsMask(&v.patternMask, &v.imageMask, U32(o), s);
     }},
    {"computePatSumMask", Stat::PatSum, false, nullptr, false,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_computePatSumMask(&v.pattern, &v.patternMask, &v.imageMask, U32(o), s);
     }},
    {"computePatSumSqMask", Stat::PatSumSq, false, nullptr, true,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_computePatSumSqMask(&v.pattern, &v.patternMask, &v.imageMask, U32(o), s);
     }},
    {"DcomputePatSumSqMask", Stat::PatSumSq, true, nullptr, false,
     [](const Views& v, void* o, uint32_t s) {
         return qsrch_DcomputePatSumSqMask(&v.pattern, &v.patternMask, &v.imageMask, F64(o), s);
     }},
};
#undef U32
#undef F64
const Kernel& kDImageSumSq = kKernels[2];

// Marks output elements the kernel must not touch; exact in both output types.
constexpr uint32_t kSentinel = 0xDEADBEEFu;

struct Output {
    qsrch_status status;
    std::vector<double> elements;  // integer outputs widened exactly
};

Output runKernel(const Kernel& k, const Views& v, size_t elements, uint32_t outStride)
{
    Output r;
    if (k.doubleOut) {
        r.elements.assign(elements, kSentinel);
        r.status = k.run(v, r.elements.data(), outStride);
    } else {
        std::vector<uint32_t> out(elements, kSentinel);
        r.status = k.run(v, out.data(), outStride);
        r.elements.assign(out.begin(), out.end());
    }
    return r;
}

uint8_t pel(const qimg_windowConst& w, int x, int y)
{
    return static_cast<const uint8_t*>(w.firstPixel)[static_cast<ptrdiff_t>(y) * w.rowStride + x];
}

// Dense nx * ny reference values of one statistic.
std::vector<uint64_t> reference(Stat stat, const Views& v, int nx, int ny)
{
    const qimg_windowConst& m = v.patternMask;
    std::vector<uint64_t> ref;
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            uint64_t sum = 0;
            for (int j = 0; j < m.height; ++j)
                for (int i = 0; i < m.width; ++i) {
                    if (pel(m, i, j) == 0) continue;
                    const uint64_t image = pel(v.image, x + i, y + j), pattern = pel(v.pattern, i, j);
                    const bool imageCares = pel(v.imageMask, x + i, y + j) != 0;
                    switch (stat) {
                    case Stat::Sum: sum += image; break;
                    case Stat::SumSq: sum += image * image; break;
                    case Stat::CareCount: sum += imageCares; break;
                    case Stat::PatSum: sum += imageCares ? pattern : 0; break;
                    case Stat::PatSumSq: sum += imageCares ? pattern * pattern : 0; break;
                    }
                }
            ref.push_back(sum);
        }
    return ref;
}

// Every position element equals the reference; every other element keeps
// the sentinel. Reports the first few differences.
void expectOutput(const Output& r, const std::vector<uint64_t>& ref, int nx, int ny, uint32_t outStride)
{
    ASSERT_EQ(r.status, QSRCH_OK);
    int differences = 0;
    for (size_t k = 0; k < r.elements.size(); ++k) {
        const int64_t y = static_cast<int64_t>(k / outStride), x = static_cast<int64_t>(k % outStride);
        const bool position = y < ny && x < nx;
        const double want = position ? static_cast<double>(ref[y * nx + x]) : kSentinel;
        if (r.elements[k] != want && ++differences <= 5)
            ADD_FAILURE() << "element (" << x << ", " << y << "): " << r.elements[k] << ", want " << want
                          << (position ? "" : " (outside the positions)");
    }
}

// A random case: pattern and mask w x h, image and image mask W x H as views
// inside larger images, every row with non-zero slack.
struct Case {
    std::unique_ptr<qtest::Image8> pattern, patternMask, image, imageMask;
    Views views;
    int nx, ny;
};

Case makeCase(std::mt19937& rng, int w, int h, int W, int H, double patternCare, double imageCare)
{
    auto extra = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
    Case c;
    c.pattern = std::make_unique<qtest::Image8>(w, h, w + extra(9), 0x5A);
    c.patternMask = std::make_unique<qtest::Image8>(w, h, w + extra(9));
    const int ox = extra(3), oy = extra(2), bigW = W + ox + extra(3), bigH = H + oy + extra(2);
    c.image = std::make_unique<qtest::Image8>(bigW, bigH, bigW + extra(9));
    c.imageMask = std::make_unique<qtest::Image8>(bigW, bigH, bigW + extra(9));
    c.pattern->randomize(rng);
    c.patternMask->randomMask(rng, patternCare);
    c.image->randomize(rng);
    c.imageMask->randomMask(rng, imageCare);
    c.views = {c.pattern->window(), c.patternMask->window(), c.image->window(ox, oy, W, H),
               c.imageMask->window(ox, oy, W, H)};
    c.nx = W - w + 1;
    c.ny = H - h + 1;
    return c;
}

size_t outputElements(const Case& c, uint32_t outStride) { return std::max(c.ny, 0) * size_t{outStride} + 5; }

TEST(WindowSums, MatchBruteForceOnRandomCases)
{
    const int widths[] = {1, 7, 8, 9, 15, 16, 17, 31};
    const double careShares[] = {0.0, 0.05, 0.6, 1.0};
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int w = seed % 3 == 0 ? pick(1, 40) : widths[seed % 8];
        const int h = seed % 4 == 0 ? 1 : pick(1, 20);
        // Mostly non-empty grids, sometimes a pattern wider or taller than the image.
        const int W = std::max(1, w + pick(-2, 12)), H = std::max(1, h + pick(-2, 8));
        Case c = makeCase(rng, w, h, W, H, careShares[pick(0, 3)], careShares[pick(0, 3)]);
        const uint32_t outStride = static_cast<uint32_t>(std::max(c.nx, 1) + pick(0, 5));
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << w << "x" << h << ", image "
                                        << W << "x" << H << ", outStride " << outStride);
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(k.name);
            const Output r = runKernel(k, c.views, outputElements(c, outStride), outStride);
            expectOutput(r, reference(k.stat, c.views, std::max(c.nx, 0), std::max(c.ny, 0)), c.nx, c.ny,
                         outStride);
        }
    }
}

// All-255 pattern and image under all-care masks (care value 1): every
// kernel accepts 0x10000 pixels, the integer sums of squares refuse one more
// and write nothing, before polling attention.
struct PixelLimitCase {
    int w, h;
    uint64_t sum, sumSq;
};

class WindowSumsPixelLimit : public testing::TestWithParam<PixelLimitCase> {};

TEST_P(WindowSumsPixelLimit, IntegerSumsOfSquaresRefuseMoreThan65536Pixels)
{
    const PixelLimitCase p = GetParam();
    const uint64_t pixels = uint64_t{1} * p.w * p.h;
    qtest::Image8 pattern(p.w, p.h), mask(p.w, p.h), image(p.w + 40, p.h, p.w + 43), imageMask(p.w + 40, p.h);
    pattern.fill(255);
    mask.fill(1);
    image.fill(255);
    imageMask.fill(1);
    const Views v{pattern.window(), mask.window(), image.window(), imageMask.window()};
    const uint32_t outStride = 44;  // 41 positions: more than 31, so an accepted call polls
    for (const Kernel& k : kKernels) {
        SCOPED_TRACE(k.name);
        qtest::AttentionCounter attention;
        const Output r = runKernel(k, v, outStride + 3, outStride);
        if (k.pixelLimit && pixels > 0x10000) {
            EXPECT_EQ(r.status, QSRCH_E_PATTERN_TOO_LARGE);
            EXPECT_EQ(attention.polls(), 0);
            EXPECT_EQ(std::count(r.elements.begin(), r.elements.end(), kSentinel), r.elements.size());
            continue;
        }
        EXPECT_GE(attention.polls(), 1);
        const uint64_t want = k.stat == Stat::CareCount                            ? pixels
                              : k.stat == Stat::Sum || k.stat == Stat::PatSum ? p.sum
                                                                              : p.sumSq;
        expectOutput(r, std::vector<uint64_t>(41, want), 41, 1, outStride);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, WindowSumsPixelLimit,
                         testing::Values(PixelLimitCase{256, 256, 16711680, 4261478400},
                                         PixelLimitCase{65536, 1, 16711680, 4261478400},
                                         PixelLimitCase{65537, 1, 16711935, 4261543425},
                                         PixelLimitCase{1, 65537, 16711935, 4261543425}));

TEST(WindowSums, PollAttentionOnlyOverMoreThan31Positions)
{
    struct Grid {
        int nx, ny, polls;
    };
    const Grid grids[] = {{31, 1, 0}, {1, 31, 0}, {32, 1, 1}, {8, 4, 1}, {1, 1, 0}};
    const qsys_status stop = QSYS_STATUS(0x8ABC0123u);
    std::mt19937 rng(7);
    for (const Grid& g : grids) {
        Case c = makeCase(rng, 3, 2, g.nx + 2, g.ny + 1, 0.6, 0.6);
        const std::vector<uint64_t> none;
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(testing::Message() << k.name << ", " << g.nx << "x" << g.ny << " positions");
            qtest::AttentionCounter attention;
            expectOutput(runKernel(k, c.views, outputElements(c, g.nx + 1), g.nx + 1),
                         reference(k.stat, c.views, c.nx, c.ny), c.nx, c.ny, g.nx + 1);
            EXPECT_EQ(attention.polls(), g.polls);
            // A stop request ends the call before anything is written.
            attention.answer(stop);
            const Output stopped = runKernel(k, c.views, outputElements(c, g.nx + 1), g.nx + 1);
            EXPECT_EQ(stopped.status, g.polls != 0 ? stop : QSRCH_OK);
            if (g.polls != 0) expectOutput({QSRCH_OK, stopped.elements}, none, 0, 0, g.nx + 1);
        }
    }
}

TEST(WindowSums, InhibitQueryAskedByNameOnEveryCallOfTheDispatchingKernels)
{
    std::mt19937 rng(11);
    Case c = makeCase(rng, 9, 5, 30, 12, 0.6, 0.6);
    const uint32_t outStride = static_cast<uint32_t>(c.nx + 2);
    for (bool inhibitAll : {true, false}) {
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(testing::Message() << k.name << (inhibitAll ? ", inhibited" : ", allowed"));
            qtest::InhibitSwitch inhibit(inhibitAll ? std::vector<std::u16string>{}
                                                    : std::vector<std::u16string>{u"qsrch_innerProducts"});
            for (int call = 0; call < 2; ++call)
                expectOutput(runKernel(k, c.views, outputElements(c, outStride), outStride),
                             reference(k.stat, c.views, c.nx, c.ny), c.nx, c.ny, outStride);
            using Names = std::vector<std::u16string>;
            EXPECT_EQ(inhibit.asked(), k.dispatchName ? Names(2, k.dispatchName) : Names{});
        }
    }
}

// Masks of 0x10000 pixels or more (and rows narrower than 0x10000) are
// scored as half-height windows, recursively; the sums stay exact.
struct SplitCase {
    int w, h;
    int splits;  // scratch allocations made; the call tree has 2 * splits + 1 calls
};

class DImageSumSqSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(DImageSumSqSplit, EqualsTheBruteForceSumExactly)
{
    const SplitCase p = GetParam();
    std::mt19937 rng(static_cast<unsigned>(p.w * 7919 + p.h));
    Case c = makeCase(rng, p.w, p.h, p.w + 7, p.h + 4, 0.8, 1.0);  // 8 x 5 = 40 positions
    const uint32_t outStride = 11;
    const int64_t allocations = qsys_memory_allocationCount(), blocks = qsys_memory_blocksInUse();
    qtest::AttentionCounter attention;
    qtest::InhibitSwitch inhibit;
    const Output r = runKernel(kDImageSumSq, c.views, outputElements(c, outStride), outStride);
    expectOutput(r, reference(Stat::SumSq, c.views, c.nx, c.ny), c.nx, c.ny, outStride);
    EXPECT_EQ(qsys_memory_allocationCount() - allocations, p.splits);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    EXPECT_EQ(attention.polls(), 2 * p.splits + 1);
    EXPECT_EQ(inhibit.asked().size(), static_cast<size_t>(p.splits + 1));  // one query per unsplit call
}

INSTANTIATE_TEST_SUITE_P(Masks, DImageSumSqSplit,
                         testing::Values(SplitCase{300, 300, 1}, SplitCase{256, 256, 1},
                                         SplitCase{255, 257, 0}, SplitCase{1, 65536, 1},
                                         SplitCase{200, 1000, 3}, SplitCase{65536, 1, 0}));

TEST(WindowSums, DImageSumSqSplitReleasesItsScratchWhenAnAllocationFails)
{
    std::mt19937 rng(3);
    Case c = makeCase(rng, 200, 1000, 204, 1003, 0.8, 1.0);
    std::vector<double> out(c.ny * size_t{8});
    qtest::expectAllocationFailuresClean([&] {
        return qsrch_DcomputeImageSumSqMask(&c.views.patternMask, &c.views.image, out.data(), 8);
    });
}

}  // namespace
