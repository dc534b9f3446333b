// Sliding image sums against brute-force window totals with 64-bit
// accumulators: random geometries over 8-bit and 16-bit images, the band
// table against the running sums, the size rule, the attention poll and
// allocation failures of the scratch-using routes.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

// A 16-bit image owned by the test, its row slack filled with garbage; the
// row stride of its views is counted in pixels.
class Image16 {
public:
    Image16(int32_t width, int32_t height, int32_t rowStride = -1, uint16_t slack = 0xBEEF)
        : width_(width), height_(height), stride_(rowStride < 0 ? width : rowStride),
          pixels_(static_cast<size_t>(stride_) * std::max(height, 0) + 1, slack)
    {
    }
    uint16_t& at(int32_t x, int32_t y) { return pixels_[static_cast<size_t>(y) * stride_ + x]; }
    void fill(uint16_t v)
    {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) at(x, y) = v;
    }
    template <class Rng>
    void randomize(Rng& rng)
    {
        std::uniform_int_distribution<int> d(0, 65535);
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) at(x, y) = static_cast<uint16_t>(d(rng));
    }
    qimg_windowConst window() const
    {
        qimg_windowConst v{};
        v.width = width_;
        v.height = height_;
        v.depth = QIMG_DEPTH_16U;
        v.imageWidth = width_;
        v.imageHeight = height_;
        v.rowStride = stride_;
        v.firstPixel = pixels_.data();
        v.imageFirstPixel = pixels_.data();
        return v;
    }

private:
    int32_t width_, height_, stride_;
    std::vector<uint16_t> pixels_;
};

// The unmasked kernels read only the pattern's size: a view without pixels
// shows that they never touch them.
qimg_windowConst patternOfSize(int32_t w, int32_t h)
{
    qimg_windowConst v{};
    v.width = w;
    v.height = h;
    v.rowStride = w;
    return v;
}

constexpr uint32_t kSentinel = 0xDEADBEEFu;

struct Totals {
    uint64_t sum, sumSq;
};

template <class Pixel>
Totals windowTotals(const qimg_windowConst& image, int32_t x0, int32_t y0, int32_t w, int32_t h)
{
    Totals t{0, 0};
    for (int32_t y = y0; y < y0 + h; ++y)
        for (int32_t x = x0; x < x0 + w; ++x) {
            const Pixel* row = static_cast<const Pixel*>(image.firstPixel) + ptrdiff_t{y} * image.rowStride;
            const uint64_t p = row[x];
            t.sum += p;
            t.sumSq += p * p;
        }
    return t;
}

template <class Pixel>
std::vector<Totals> reference(const qimg_windowConst& pattern, const qimg_windowConst& image)
{
    std::vector<Totals> ref;
    for (int32_t y = 0; y + pattern.height <= image.height; ++y)
        for (int32_t x = 0; x + pattern.width <= image.width; ++x)
            ref.push_back(windowTotals<Pixel>(image, x, y, pattern.width, pattern.height));
    return ref;
}

struct Kernel {
    const char* name;
    bool sixteenBit;
    bool doubleSq;
    qsrch_status (*run)(const qimg_windowConst*, const qimg_windowConst*, uint32_t*, void*, uint32_t);
};

const Kernel kKernels[] = {
    {"computeSumISumISq", false, false,
     [](const qimg_windowConst* p, const qimg_windowConst* i, uint32_t* s, void* q, uint32_t o) {
         return qsrch_computeSumISumISq(p, i, s, static_cast<uint32_t*>(q), o);
     }},
    {"DcomputeSumISumISq", false, true,
     [](const qimg_windowConst* p, const qimg_windowConst* i, uint32_t* s, void* q, uint32_t o) {
         return qsrch_DcomputeSumISumISq(p, i, s, static_cast<double*>(q), o);
     }},
    {"DcomputeSumISumISq16", true, true,
     [](const qimg_windowConst* p, const qimg_windowConst* i, uint32_t* s, void* q, uint32_t o) {
         return qsrch_DcomputeSumISumISq16(p, i, s, static_cast<double*>(q), o);
     }},
};
const Kernel& kInteger = kKernels[0];
const Kernel& kDouble = kKernels[1];
const Kernel& kDouble16 = kKernels[2];

struct Output {
    qsrch_status status;
    std::vector<uint32_t> sumI;
    std::vector<double> sumISq;  // integer outputs widened exactly
};

// Outputs of ny rows of outStride elements and one more row, all sentinels.
Output runKernel(const Kernel& k, const qimg_windowConst& pattern, const qimg_windowConst& image,
                 uint32_t outStride)
{
    const size_t elements = (std::max(image.height - pattern.height + 1, 0) + size_t{1}) * outStride;
    Output r;
    r.sumI.assign(elements, kSentinel);
    if (k.doubleSq) {
        r.sumISq.assign(elements, kSentinel);
        r.status = k.run(&pattern, &image, r.sumI.data(), r.sumISq.data(), outStride);
    } else {
        std::vector<uint32_t> sumISq(elements, kSentinel);
        r.status = k.run(&pattern, &image, r.sumI.data(), sumISq.data(), outStride);
        r.sumISq.assign(sumISq.begin(), sumISq.end());
    }
    return r;
}

// Position elements hold the totals (ΣI modulo 2^32), all others the
// sentinel. Reports the first few differences.
void expectOutput(const Output& r, const std::vector<Totals>& ref, int32_t nx, int32_t ny,
                  uint32_t outStride)
{
    ASSERT_EQ(r.status, QSRCH_OK);
    int differences = 0;
    for (size_t k = 0; k < r.sumI.size(); ++k) {
        const int64_t y = static_cast<int64_t>(k / outStride), x = static_cast<int64_t>(k % outStride);
        const bool position = x < nx && y < ny;
        const uint32_t wantSum = position ? static_cast<uint32_t>(ref[y * nx + x].sum) : kSentinel;
        const double wantSq = position ? static_cast<double>(ref[y * nx + x].sumSq) : kSentinel;
        if ((r.sumI[k] != wantSum || r.sumISq[k] != wantSq) && ++differences <= 5)
            ADD_FAILURE() << "element (" << x << ", " << y << "): " << r.sumI[k] << ", " << r.sumISq[k]
                          << "; want " << wantSum << ", " << wantSq << (position ? "" : " (outside)");
    }
}

void expectUntouched(const Output& r)
{
    EXPECT_EQ(std::count(r.sumI.begin(), r.sumI.end(), kSentinel), static_cast<ptrdiff_t>(r.sumI.size()));
    EXPECT_EQ(std::count(r.sumISq.begin(), r.sumISq.end(), double{kSentinel}),
              static_cast<ptrdiff_t>(r.sumISq.size()));
}

// Same geometry and slack in an 8-bit and a 16-bit image; the kernels see a
// view offset into each.
struct Scene {
    std::unique_ptr<qtest::Image8> image8;
    std::unique_ptr<Image16> image16;
    qimg_windowConst view8, view16;
};

Scene makeScene(std::mt19937& rng, int32_t W, int32_t H, int32_t slack, bool saturated = false)
{
    Scene s;
    s.image8 = std::make_unique<qtest::Image8>(W + 2, H + 1, W + 2 + slack);
    s.image16 = std::make_unique<Image16>(W + 2, H + 1, W + 2 + slack);
    if (saturated) {
        s.image8->fill(255);
        s.image16->fill(65535);
    } else {
        s.image8->randomize(rng);
        s.image16->randomize(rng);
    }
    s.view8 = s.image8->window(1, 1, W, H);
    s.view16 = s.image16->window();
    s.view16.width = W;
    s.view16.height = H;
    s.view16.firstPixel = &s.image16->at(2, 0);
    return s;
}

void checkAllKernels(const Scene& s, const qimg_windowConst& pattern, uint32_t outStride)
{
    const int32_t nx = s.view8.width - pattern.width + 1, ny = s.view8.height - pattern.height + 1;
    const std::vector<Totals> ref8 = reference<uint8_t>(pattern, s.view8);
    const std::vector<Totals> ref16 = reference<uint16_t>(pattern, s.view16);
    for (const Kernel& k : kKernels) {
        SCOPED_TRACE(k.name);
        const Output r = runKernel(k, pattern, k.sixteenBit ? s.view16 : s.view8, outStride);
        if (!k.doubleSq && int64_t{pattern.width} * pattern.height > 0x10000) {
            EXPECT_EQ(r.status, QSRCH_E_PATTERN_TOO_LARGE);
            expectUntouched(r);
            continue;
        }
        expectOutput(r, k.sixteenBit ? ref16 : ref8, nx, ny, outStride);
    }
}

TEST(SlidingSums, MatchBruteForceOnRandomCases)
{
    const int widths[] = {1, 7, 8, 9, 15, 16, 17, 31};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int32_t W = seed % 3 == 0 ? pick(1, 48) : widths[seed % 8];
        const int32_t H = seed % 5 == 0 ? 1 : pick(1, 24);
        // Patterns of every size; every fourth nearly as large as the image
        // (grids of up to 4 x 4, the band table when the image is 9 x 9 or
        // more), and now and then larger than the image (nothing written).
        int32_t w = pick(1, W), h = pick(1, H);
        if (seed % 4 == 1) {
            w = std::max(1, W - pick(0, 3));
            h = std::max(1, H - pick(0, 3));
        }
        if (seed % 23 == 0) w = W + pick(1, 2);
        if (seed % 29 == 0) h = H + pick(1, 2);
        const int32_t nx = W - w + 1;
        const uint32_t outStride = static_cast<uint32_t>(std::max(nx, 1) + pick(0, 3));
        const Scene s = makeScene(rng, W, H, pick(0, 5), seed % 17 == 0);
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << w << "x" << h << ", image " << W
                                        << "x" << H << ", outStride " << outStride);
        checkAllKernels(s, patternOfSize(w, h), outStride);
    }
}

// The band table serves grids of at most 4 x 4 positions in images of at
// least 9 x 9 pixels; the running sums everything else. Both give the
// direct totals.
struct RouteCase {
    int32_t W, H, w, h;
    bool bandTable;
};

class SlidingSumsRoute : public testing::TestWithParam<RouteCase> {};

TEST_P(SlidingSumsRoute, BothRoutesGiveTheDirectTotals)
{
    const RouteCase p = GetParam();
    std::mt19937 rng(static_cast<unsigned>(p.W * 131 + p.w));
    const Scene s = makeScene(rng, p.W, p.H, 3);
    const qimg_windowConst pattern = patternOfSize(p.w, p.h);
    const uint32_t outStride = static_cast<uint32_t>(p.W - p.w + 3);
    qtest::InhibitSwitch inhibit;
    checkAllKernels(s, pattern, outStride);
    const std::vector<std::u16string>& asked = inhibit.asked();
    const bool bandTableAsked =
        std::find(asked.begin(), asked.end(), u"qsrch_computeSumISumISqLessThan4") != asked.end();
    EXPECT_EQ(bandTableAsked, p.bandTable);
}

INSTANTIATE_TEST_SUITE_P(Grids, SlidingSumsRoute,
                         testing::Values(RouteCase{40, 40, 37, 37, true}, RouteCase{40, 40, 36, 36, false},
                                         RouteCase{8, 40, 5, 37, false}, RouteCase{40, 8, 37, 5, false},
                                         RouteCase{9, 9, 9, 9, true}, RouteCase{9, 12, 6, 9, true},
                                         RouteCase{12, 9, 8, 6, false}, RouteCase{260, 255, 257, 252, true}),
                         [](const testing::TestParamInfo<RouteCase>& info) {
                             const RouteCase& c = info.param;
                             return std::to_string(c.w) + "x" + std::to_string(c.h) + "_in_" +
                                    std::to_string(c.W) + "x" + std::to_string(c.H);
                         });

// Patterns above 0x10000 pixels: refused by the integer kernel, exact in the
// double kernels through both routes, 16-bit ΣI wrapping modulo 2^32.
TEST(SlidingSums, LargePatternsAreExactInTheDoubleKernels)
{
    struct Large {
        int32_t W, H, w, h;
    };
    const Large cases[] = {{305, 303, 300, 300}, {303, 303, 300, 300}, {258, 257, 256, 256},
                           {300, 260, 256, 257}, {66010, 1, 66000, 1}};
    for (const Large& c : cases) {
        SCOPED_TRACE(testing::Message() << "pattern " << c.w << "x" << c.h << ", image " << c.W << "x"
                                        << c.H);
        std::mt19937 rng(static_cast<unsigned>(c.W + c.w));
        checkAllKernels(makeScene(rng, c.W, c.H, 5), patternOfSize(c.w, c.h), c.W - c.w + 2);
    }
}

TEST(SlidingSums, SaturatedImagesGiveTheLargestTotals)
{
    std::mt19937 rng(1);
    // 0x10000 pixels of 255: accepted by the integer kernel on both routes.
    for (int32_t W : {258, 300}) {
        SCOPED_TRACE(W);
        const Scene s = makeScene(rng, W, 257, 2, true);
        const int32_t nx = W - 255, ny = 2;
        for (const Kernel* k : {&kInteger, &kDouble}) {
            const Output r = runKernel(*k, patternOfSize(256, 256), s.view8, nx);
            expectOutput(r, std::vector<Totals>(nx * ny, Totals{16711680, 4261478400}), nx, ny, nx);
        }
        // A 16-bit pixel of 65535 adds 4294836225 to ΣI², never a negative amount.
        const Output r16 = runKernel(kDouble16, patternOfSize(3, 2), s.view16, W - 2);
        expectOutput(r16, std::vector<Totals>((W - 2) * 256, Totals{6 * 65535, 6 * uint64_t{4294836225}}),
                     W - 2, 256, W - 2);
    }
    const Scene s = makeScene(rng, 9, 9, 0, true);
    expectOutput(runKernel(kDouble16, patternOfSize(6, 6), s.view16, 4),
                 std::vector<Totals>(16, Totals{36 * 65535, 36 * uint64_t{4294836225}}), 4, 4, 4);
}

TEST(SlidingSums, OneWindowTotals)
{
    const int32_t sizes[][2] = {{1, 1}, {7, 3}, {31, 9}, {256, 256}, {256, 257}, {5, 0}, {0, 5}, {300, 300}};
    for (const auto& size : sizes) {
        const int32_t w = size[0], h = size[1];
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::mt19937 rng(static_cast<unsigned>(w * 1000 + h));
        qtest::Image8 image(w + 3, h + 2, w + 7);
        image.randomize(rng);
        if (w == 256) image.fill(255);
        const qimg_windowConst window = image.window(2, 1, w, h);
        const Totals want = windowTotals<uint8_t>(window, 0, 0, w, h);
        qtest::AttentionCounter attention(QSYS_E_ABORTED);  // never consulted
        uint32_t sumI = kSentinel, sumISq = kSentinel;
        const qsrch_status status = qsrch_computeOneSumISumISq(&window, &sumI, &sumISq);
        if (int64_t{w} * h > 0x10000) {
            EXPECT_EQ(status, QSRCH_E_PATTERN_TOO_LARGE);
            EXPECT_EQ(sumI, kSentinel);
            EXPECT_EQ(sumISq, kSentinel);
        } else {
            EXPECT_EQ(status, QSRCH_OK);
            EXPECT_EQ(sumI, want.sum);
            EXPECT_EQ(sumISq, want.sumSq);
        }
        uint32_t dSumI = kSentinel;
        double dSumISq = -1;
        EXPECT_EQ(qsrch_DcomputeOneSumISumISq(&window, &dSumI, &dSumISq), QSRCH_OK);
        EXPECT_EQ(dSumI, static_cast<uint32_t>(want.sum));
        EXPECT_EQ(dSumISq, static_cast<double>(want.sumSq));
        EXPECT_EQ(attention.polls(), 0);
    }
}

TEST(SlidingSums, PollAttentionOnlyOverMoreThan31Positions)
{
    struct Grid {
        int32_t nx, ny;
        bool polls;
    };
    // 4 x 4 positions on a 9 x 9 image: the band table, no poll.
    const Grid grids[] = {{31, 1, false}, {1, 31, false}, {4, 4, false}, {32, 1, true}, {8, 4, true}};
    const qsys_status stop = QSYS_STATUS(0x8ABC0123u);
    std::mt19937 rng(5);
    for (const Grid& g : grids) {
        const int32_t w = std::max(1, 10 - g.nx), h = std::max(1, 10 - g.ny);
        const Scene s = makeScene(rng, w + g.nx - 1, h + g.ny - 1, 2);
        const qimg_windowConst pattern = patternOfSize(w, h);
        for (const Kernel& k : kKernels) {
            SCOPED_TRACE(testing::Message() << k.name << ", " << g.nx << "x" << g.ny << " positions");
            const qimg_windowConst& image = k.sixteenBit ? s.view16 : s.view8;
            qtest::AttentionCounter attention;
            const std::vector<Totals> ref =
                k.sixteenBit ? reference<uint16_t>(pattern, image) : reference<uint8_t>(pattern, image);
            expectOutput(runKernel(k, pattern, image, g.nx + 1), ref, g.nx, g.ny, g.nx + 1);
            EXPECT_EQ(attention.polls() > 0, g.polls);
            attention.answer(stop);
            const Output stopped = runKernel(k, pattern, image, g.nx + 1);
            EXPECT_EQ(stopped.status, g.polls ? stop : QSRCH_OK);
            if (g.polls) expectUntouched(stopped);
        }
    }
}

TEST(SlidingSums, ScratchIsReleasedWhenAnAllocationFails)
{
    std::mt19937 rng(9);
    const Scene s = makeScene(rng, 305, 303, 3);
    struct Call {
        const Kernel* kernel;
        int32_t w, h;
    };
    // Running sums (integer, double, 16-bit), the double kernel's integer
    // route with its own scratch, and its large-pattern running sums.
    const Call calls[] = {
        {&kInteger, 20, 10}, {&kDouble, 20, 10}, {&kDouble16, 20, 10}, {&kDouble, 300, 300}};
    for (const Call& c : calls) {
        SCOPED_TRACE(testing::Message() << c.kernel->name << ", pattern " << c.w << "x" << c.h);
        const qimg_windowConst pattern = patternOfSize(c.w, c.h);
        const qimg_windowConst& image = c.kernel->sixteenBit ? s.view16 : s.view8;
        const uint32_t outStride = 305 - c.w + 1;
        std::vector<uint32_t> sumI(304 * size_t{outStride}), sumISq(sumI.size());
        std::vector<double> sumISqD(sumI.size());
        void* sumISqOut = c.kernel->doubleSq ? static_cast<void*>(sumISqD.data()) : sumISq.data();
        qtest::expectAllocationFailuresClean(
            [&] { return c.kernel->run(&pattern, &image, sumI.data(), sumISqOut, outStride); });
    }
}

}  // namespace
