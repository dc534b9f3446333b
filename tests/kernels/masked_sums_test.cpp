// Masked sliding sums against brute-force loops with 64-bit accumulators:
// the image sums under the pattern mask, and the care count with the
// pattern sums over both masks, with and without a pattern mask; the
// half-height split of the double forms, the size rule, the attention poll,
// the inhibit names and allocation failures.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEFu;

struct Views {
    qimg_windowConst pattern, patternMask, image, imageMask;
};

// Outputs in the order the kernel takes them; integer outputs widened exactly.
struct Output {
    qsrch_status status;
    std::vector<std::vector<double>> planes;
};

enum class Side { Image, Pattern };

// Up to three integer outputs and a double one; each kernel takes those it has.
struct Outs {
    uint32_t *a, *b, *c;
    double* d;
};

struct Kernel {
    const char* name;
    Side side;
    bool doubleSq;
    bool pixelLimit;
    const char16_t* dispatchName;
    // patternMask may be null (only the pattern-side kernels accept that).
    qsrch_status (*run)(const Views&, const qimg_windowConst* patternMask, const Outs&, uint32_t outStride);
};


const Kernel kKernels[] = {
    {"computeMaskSumISumISq", Side::Image, false, true, u"qsrch_computeMaskSumISumISq",
     [](const Views& v, const qimg_windowConst* m, const Outs& o, uint32_t s) {
         return qsrch_computeMaskSumISumISq(m, &v.image, o.a, o.b, s);
     }},
    {"DcomputeMaskSumISumISq", Side::Image, true, false, u"qsrch_DcomputeMaskSumISumISq",
     [](const Views& v, const qimg_windowConst* m, const Outs& o, uint32_t s) {
         return qsrch_DcomputeMaskSumISumISq(m, &v.image, o.a, o.d, s);
     }},
    {"computeMaskPatSumPatSumSq", Side::Pattern, false, true, u"qsrch_computeMaskPatSumPatSumSq",
     [](const Views& v, const qimg_windowConst* m, const Outs& o, uint32_t s) {
         return qsrch_computeMaskPatSumPatSumSq(&v.pattern, m, &v.imageMask, o.a, o.b, o.c, s);
     }},
    {"DcomputeMaskPatSumPatSumSq", Side::Pattern, true, false, u"qsrch_DcomputeMaskPatSumPatSumSq",
     [](const Views& v, const qimg_windowConst* m, const Outs& o, uint32_t s) {
         return qsrch_DcomputeMaskPatSumPatSumSq(&v.pattern, m, &v.imageMask, o.a, o.b, o.d, s);
     }},
    // The endpoint list does not narrow the positions: one empty range for all.
    {"computeMaskPatSumPatSumSqUsingEndpoints", Side::Pattern, false, true,
     u"qsrch_computeMaskPatSumPatSumSqUsingEndpoints",
     [](const Views& v, const qimg_windowConst* m, const Outs& o, uint32_t s) {
         // A read-only list over a local pair: no allocation of its own.
         qstd_pair32 empty{0, 0};
         const qstd_vector_qstd_pair32 endpoints{&empty, 1, 1};
         return qsrch_computeMaskPatSumPatSumSqUsingEndpoints(&v.pattern, m, &v.imageMask, o.a, o.b, o.c, s,
                                                              &endpoints, 0);
     }},
};
const Kernel& kDImage = kKernels[1];
const Kernel& kPattern = kKernels[2];
const Kernel& kDPattern = kKernels[3];

Output runKernel(const Kernel& k, const Views& v, const qimg_windowConst* patternMask, uint32_t outStride)
{
    const int32_t ny = v.image.height - v.pattern.height + 1;
    const size_t elements = (std::max(ny, 0) + size_t{1}) * outStride;
    std::vector<uint32_t> a(elements, kSentinel), b(elements, kSentinel), c(elements, kSentinel);
    std::vector<double> d(elements, kSentinel);
    Output r;
    r.status = k.run(v, patternMask, Outs{a.data(), b.data(), c.data(), d.data()}, outStride);
    auto widen = [](const std::vector<uint32_t>& u) { return std::vector<double>(u.begin(), u.end()); };
    r.planes = {widen(a)};
    if (k.side == Side::Pattern) r.planes.push_back(widen(b));
    r.planes.push_back(k.doubleSq ? d : k.side == Side::Pattern ? widen(c) : widen(b));
    return r;
}

uint8_t pel(const qimg_windowConst& w, int x, int y)
{
    return static_cast<const uint8_t*>(w.firstPixel)[static_cast<ptrdiff_t>(y) * w.rowStride + x];
}

// Dense nx * ny reference planes of the kernel's statistics; no pattern mask
// cares for every pattern pixel.
std::vector<std::vector<uint64_t>> reference(Side side, const Views& v, const qimg_windowConst* patternMask)
{
    const int nx = v.image.width - v.pattern.width + 1, ny = v.image.height - v.pattern.height + 1;
    std::vector<std::vector<uint64_t>> ref(side == Side::Image ? 2 : 3);
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            uint64_t sums[3] = {0, 0, 0};
            for (int j = 0; j < v.pattern.height; ++j)
                for (int i = 0; i < v.pattern.width; ++i) {
                    if (patternMask != nullptr && pel(*patternMask, i, j) == 0) continue;
                    const uint64_t image = pel(v.image, x + i, y + j), pattern = pel(v.pattern, i, j);
                    if (side == Side::Image) {
                        sums[0] += image;
                        sums[1] += image * image;
                    } else if (pel(v.imageMask, x + i, y + j) != 0) {
                        sums[0] += 1;
                        sums[1] += pattern;
                        sums[2] += pattern * pattern;
                    }
                }
            for (size_t p = 0; p < ref.size(); ++p) ref[p].push_back(sums[p]);
        }
    return ref;
}

// Position elements equal the reference, all others keep the sentinel.
void expectOutput(const Output& r, const std::vector<std::vector<uint64_t>>& ref, int nx, int ny,
                  uint32_t outStride)
{
    ASSERT_EQ(r.status, QSRCH_OK);
    ASSERT_EQ(r.planes.size(), ref.size());
    for (size_t p = 0; p < ref.size(); ++p) {
        int differences = 0;
        for (size_t k = 0; k < r.planes[p].size(); ++k) {
            const int64_t y = static_cast<int64_t>(k / outStride), x = static_cast<int64_t>(k % outStride);
            const bool position = x < nx && y < ny;
            const double want = position ? static_cast<double>(ref[p][y * nx + x]) : kSentinel;
            if (r.planes[p][k] != want && ++differences <= 5)
                ADD_FAILURE() << "output " << p << ", element (" << x << ", " << y << "): " << r.planes[p][k]
                              << ", want " << want << (position ? "" : " (outside)");
        }
    }
}

void expectUntouched(const Output& r)
{
    for (const auto& plane : r.planes)
        EXPECT_EQ(std::count(plane.begin(), plane.end(), double{kSentinel}),
                  static_cast<ptrdiff_t>(plane.size()));
}

struct Case {
    std::unique_ptr<qtest::Image8> pattern, patternMask, image, imageMask;
    Views views;
    int nx, ny;
};

Case makeCase(std::mt19937& rng, int w, int h, int W, int H, double patternCare, double imageCare)
{
    auto extra = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
    Case c;
    c.pattern = std::make_unique<qtest::Image8>(w, h, w + extra(7), 0x5A);
    c.patternMask = std::make_unique<qtest::Image8>(w, h, w + extra(7));
    const int ox = extra(2), oy = extra(2), bigW = W + ox + extra(2), bigH = H + oy + extra(2);
    c.image = std::make_unique<qtest::Image8>(bigW, bigH, bigW + extra(7));
    c.imageMask = std::make_unique<qtest::Image8>(bigW, bigH, bigW + extra(7));
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

// A mask record without pixels stands for no mask, like a null pointer.
qimg_windowConst absentMask(const Views& v)
{
    qimg_windowConst m = v.patternMask;
    m.firstPixel = nullptr;
    return m;
}

TEST(MaskedSums, MatchBruteForceOnRandomCases)
{
    const int widths[] = {1, 7, 8, 9, 15, 16, 17, 31};
    const double careShares[] = {0.0, 0.1, 0.6, 1.0};
    for (unsigned seed = 1; seed <= 150; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int w = seed % 3 == 0 ? pick(1, 24) : widths[seed % 8];
        const int h = seed % 4 == 0 ? 1 : pick(1, 12);
        const int W = std::max(1, w + pick(-2, 10)), H = std::max(1, h + pick(-2, 6));
        Case c = makeCase(rng, w, h, W, H, careShares[pick(0, 3)], careShares[pick(0, 3)]);
        const uint32_t outStride = static_cast<uint32_t>(std::max(c.nx, 1) + pick(0, 3));
        const qimg_windowConst absent = absentMask(c.views);
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << w << "x" << h << ", image " << W
                                        << "x" << H << ", outStride " << outStride);
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(k.name);
            expectOutput(runKernel(k, c.views, &c.views.patternMask, outStride),
                         reference(k.side, c.views, &c.views.patternMask), c.nx, c.ny, outStride);
            if (k.side == Side::Image) continue;
            const auto allCare = reference(k.side, c.views, nullptr);
            expectOutput(runKernel(k, c.views, nullptr, outStride), allCare, c.nx, c.ny, outStride);
            expectOutput(runKernel(k, c.views, &absent, outStride), allCare, c.nx, c.ny, outStride);
        }
    }
}

// No pattern mask gives what a mask caring for every pixel gives, whatever
// its care value; an image care mask of zeros gives zeros everywhere.
TEST(MaskedSums, PatternStatisticsFollowTheMasks)
{
    std::mt19937 rng(21);
    Case c = makeCase(rng, 13, 7, 40, 12, 0.5, 0.7);
    const uint32_t outStride = static_cast<uint32_t>(c.nx + 2);
    for (const Kernel* k : {&kPattern, &kDPattern, &kKernels[4]}) {
        SCOPED_TRACE(k->name);
        for (uint8_t care : {255, 7}) {
            qtest::Image8 allCare(13, 7, 16);
            allCare.fill(care);
            const qimg_windowConst allCareView = allCare.window();
            const Output none = runKernel(*k, c.views, nullptr, outStride);
            EXPECT_EQ(none.status, QSRCH_OK);
            EXPECT_EQ(none.planes, runKernel(*k, c.views, &allCareView, outStride).planes);
        }
        c.imageMask->fill(0);
        std::vector<std::vector<uint64_t>> zeros(3, std::vector<uint64_t>(c.nx * c.ny, 0));
        expectOutput(runKernel(*k, c.views, nullptr, outStride), zeros, c.nx, c.ny, outStride);
        expectOutput(runKernel(*k, c.views, &c.views.patternMask, outStride), zeros, c.nx, c.ny, outStride);
        c.imageMask->randomMask(rng, 0.7);
    }
}

// Patterns of 0x10000 pixels or more: the integer forms accept exactly
// 0x10000 and refuse more, writing nothing; the double forms split into
// half-height windows (recursively) and stay exact, with or without a mask.
struct LargeCase {
    int w, h;
};

class MaskedSumsLarge : public testing::TestWithParam<LargeCase> {};

TEST_P(MaskedSumsLarge, DoubleFormsAreExactAndIntegerFormsKeepTheSizeRule)
{
    const LargeCase p = GetParam();
    std::mt19937 rng(static_cast<unsigned>(p.w * 7919 + p.h));
    Case c = makeCase(rng, p.w, p.h, p.w + 3, p.h + 2, 0.8, 0.9);  // 4 x 3 positions
    const uint32_t outStride = 6;
    const qimg_windowConst absent = absentMask(c.views);
    for (const Kernel& k : kKernels) {
        SCOPED_TRACE(k.name);
        const qimg_windowConst* masks[] = {&c.views.patternMask, nullptr, &absent};
        for (const qimg_windowConst* mask : masks) {
            if (mask != &c.views.patternMask && k.side == Side::Image) continue;
            const Output r = runKernel(k, c.views, mask, outStride);
            if (k.pixelLimit && p.w * p.h > 0x10000) {
                EXPECT_EQ(r.status, QSRCH_E_PATTERN_TOO_LARGE);
                expectUntouched(r);
                continue;
            }
            const qimg_windowConst* caring = mask == &c.views.patternMask ? mask : nullptr;
            expectOutput(r, reference(k.side, c.views, caring), c.nx, c.ny, outStride);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskedSumsLarge,
                         testing::Values(LargeCase{300, 300}, LargeCase{256, 256}, LargeCase{255, 257},
                                         LargeCase{256, 257}, LargeCase{120, 1100}),
                         [](const testing::TestParamInfo<LargeCase>& info) {
                             return std::to_string(info.param.w) + "x" + std::to_string(info.param.h);
                         });

TEST(MaskedSums, PollAttentionAndAskTheInhibitQueryByName)
{
    struct Grid {
        int nx, ny;
    };
    const qsys_status stop = QSYS_STATUS(0x8ABC0123u);
    std::mt19937 rng(3);
    for (const Grid g : {Grid{31, 1}, Grid{1, 31}, Grid{32, 1}, Grid{8, 4}, Grid{1, 1}}) {
        Case c = makeCase(rng, 3, 2, g.nx + 2, g.ny + 1, 0.6, 0.6);
        const uint32_t outStride = static_cast<uint32_t>(g.nx + 1);
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(testing::Message() << k.name << ", " << g.nx << "x" << g.ny << " positions");
            // The endpoint form is called for few positions and polls whatever their count.
            const bool polls = g.nx * g.ny > 31 || &k == &kKernels[4];
            qtest::AttentionCounter attention;
            qtest::InhibitSwitch inhibit;
            expectOutput(runKernel(k, c.views, &c.views.patternMask, outStride),
                         reference(k.side, c.views, &c.views.patternMask), c.nx, c.ny, outStride);
            EXPECT_EQ(attention.polls() > 0, polls);
            ASSERT_FALSE(inhibit.asked().empty());
            EXPECT_EQ(inhibit.asked().front(), k.dispatchName);
            attention.answer(stop);
            const Output stopped = runKernel(k, c.views, &c.views.patternMask, outStride);
            EXPECT_EQ(stopped.status, polls ? stop : QSRCH_OK);
            if (polls) expectUntouched(stopped);
        }
    }
}

TEST(MaskedSums, ScratchAndTheAllCareMaskAreReleasedWhenAnAllocationFails)
{
    std::mt19937 rng(5);
    Case large = makeCase(rng, 300, 300, 303, 302, 0.8, 0.9);
    Case small = makeCase(rng, 12, 9, 40, 20, 0.8, 0.9);
    const qimg_windowConst absent = absentMask(large.views);
    struct Call {
        const Kernel* kernel;
        const Case* c;
        const qimg_windowConst* patternMask;
    };
    // The splits of the double forms (with and without a pattern mask) and
    // the all-care mask that each pattern-side form builds when none is given.
    const Call calls[] = {{&kDImage, &large, &large.views.patternMask},
                          {&kDPattern, &large, &large.views.patternMask},
                          {&kDPattern, &large, &absent},
                          {&kPattern, &small, nullptr},
                          {&kDPattern, &small, nullptr},
                          {&kKernels[4], &small, nullptr}};
    for (const Call& call : calls) {
        const bool masked = call.patternMask == &call.c->views.patternMask;
        SCOPED_TRACE(testing::Message() << call.kernel->name << (masked ? ", masked" : ", no mask")
                                        << ", pattern " << call.c->views.pattern.width);
        const uint32_t outStride = static_cast<uint32_t>(call.c->nx + 1);
        const size_t elements = call.c->ny * size_t{outStride};
        std::vector<uint32_t> a(elements), b(elements), c(elements);
        std::vector<double> d(elements);
        const Outs outs{a.data(), b.data(), c.data(), d.data()};
        qtest::expectAllocationFailuresClean(
            [&] { return call.kernel->run(call.c->views, call.patternMask, outs, outStride); });
    }
}

}  // namespace
