// Sliding image sums over 8-bit and 16-bit images against the brute force on both paths.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;
using Case = const KernelCase&;
using Out = Outputs&;

// The unmasked kernels read only the pattern's size: they get a view without pixels.
const std::vector<Kernel> kKernels = {
    {"computeSumISumISq", u"qsrch_computeSumISumISq", kIntegerLimit, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_computeSumISumISq(&c.size, &c.i, o.u[0].data(), o.u[1].data(), c.outStride); }},
    {"DcomputeSumISumISq", nullptr, kDoubleLast | kRowSq32, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_DcomputeSumISumISq(&c.size, &c.i, o.u[0].data(), o.d.data(), c.outStride); }},
    {"DcomputeSumISumISq16", nullptr, kSixteenBit | kDoubleLast, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_DcomputeSumISumISq16(&c.size, &c.i16, o.u[0].data(), o.d.data(), c.outStride); }},
};

QTEST_KERNEL_PROPERTIES(SlidingSums, kKernels)

// Grids of 3 x 3 (rows 16 bytes apart or not) and up to 4 x 4 positions in
// images from 9 x 9, served apart, and just beyond; bright images bring the
// 32-bit squares near wrapping. An output stride of 0 serves one position.
TEST_P(SlidingSums, FewPositionGrids)
{
    for (const auto& [W, H, stride, nx, ny] : std::vector<std::array<int, 5>>{
             {7, 12, 16, 3, 3}, {8, 12, 16, 3, 3}, {8, 12, 9, 3, 3}, {9, 9, 32, 3, 3}, {20, 3, 32, 3, 3},
             {20, 4, 32, 3, 3}, {300, 5, 304, 3, 3}, {12, 300, 16, 3, 3}, {258, 256, 272, 3, 3}, {40, 40, 48, 4, 4},
             {8, 40, 16, 4, 4}, {40, 8, 48, 4, 4}, {9, 9, 16, 1, 1}, {9, 12, 16, 4, 4}, {12, 9, 16, 5, 4},
             {10, 5, 16, 1, 1}, {260, 255, 272, 4, 4}, {4096, 10, 4096, 4, 4}, {5000, 12, 5008, 4, 4}}) {
        std::mt19937 rng(W * 1000 + H);
        Image8 image(W, H, stride);
        image.randomize(rng, W >= 258 && W <= 260 ? 200 : 0);
        const qimg_windowConst view = image.window(), size = image.window(0, 0, W - nx + 1, H - ny + 1);
        SCOPED_TRACE(testing::Message() << W << "x" << H << ", stride " << stride << ", grid " << nx << "x" << ny);
        const uint32_t outStride = nx * ny == 1 ? 0 : 5;
        std::vector<uint32_t> sumI(25, kSentinel), sumISq(sumI), dSumI(sumI);
        std::vector<double> dSumISq(25, kSentinel);
        ASSERT_EQ(qsrch_computeSumISumISq(&size, &view, sumI.data(), sumISq.data(), outStride), QSRCH_OK);
        ASSERT_EQ(qsrch_DcomputeSumISumISq(&size, &view, dSumI.data(), dSumISq.data(), outStride), QSRCH_OK);
        auto want = [&](Stat s) {
            return [&, s](int64_t x, int64_t y) { return uint32_t(bruteStats<uint8_t>(size, 0, view, 0, x, y)[s]); };
        };
        expectOutput(sumI, 5, nx, ny, want(kSumI)), expectOutput(dSumI, 5, nx, ny, want(kSumI));
        expectOutput(sumISq, 5, nx, ny, want(kSumII)), expectOutput(dSumISq, 5, nx, ny, want(kSumII));
    }
}

// One window is a single statistic, never a scan: no poll.
TEST_P(SlidingSums, OneWindowTotals)
{
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {1, 1}, {7, 3}, {31, 9}, {256, 256}, {256, 257}, {5, 0}, {0, 5}, {300, 300}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::mt19937 rng(w * 1000 + h);
        Image8 image(w + 3, h + 2, w + 7);
        image.randomize(rng, w == 256 ? 255 : 0);  // 65536 pixels of 255: the largest integer totals
        const qimg_windowConst window = image.window(2, 1, w, h);
        const WindowStats want = bruteStats<uint8_t>(window, nullptr, window, nullptr, 0, 0);
        AttentionCounter attention(QSYS_E_ABORTED);
        uint32_t sumI = kSentinel, sumISq = kSentinel, dSumI = kSentinel;
        double dSumISq = -1;
        const bool tooLarge = w * h > 0x10000;
        EXPECT_EQ(qsrch_computeOneSumISumISq(&window, &sumI, &sumISq),
                  tooLarge ? QSRCH_E_PATTERN_TOO_LARGE : QSRCH_OK);
        EXPECT_TRUE(sumI == (tooLarge ? kSentinel : want[kSumI]) && sumISq == (tooLarge ? kSentinel : want[kSumII]));
        EXPECT_EQ(qsrch_DcomputeOneSumISumISq(&window, &dSumI, &dSumISq), QSRCH_OK);
        EXPECT_TRUE(dSumI == want[kSumI] && dSumISq == double(want[kSumII]) && attention.polls() == 0);
    }
}

}  // namespace
