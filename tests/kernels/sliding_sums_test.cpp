// Sliding image sums against the brute force over 8-bit and 16-bit images on
// both paths: the band table, the 3 x 3 grids and the running sums, and the
// one-window totals.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;

// The unmasked kernels read only the pattern's size: they get a view without pixels.
const std::vector<Kernel> kKernels = {
    {"computeSumISumISq", u"qsrch_computeSumISumISq", kIntegerLimit, {kSumI, kSumII},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computeSumISumISq(&c.size, &c.i, o.u[0].data(), o.u[1].data(), c.outStride);
     }},
    {"DcomputeSumISumISq", nullptr, kDoubleLast | kRowSq32, {kSumI, kSumII},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_DcomputeSumISumISq(&c.size, &c.i, o.u[0].data(), o.d.data(), c.outStride);
     }},
    {"DcomputeSumISumISq16", nullptr, kSixteenBit | kDoubleLast, {kSumI, kSumII},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_DcomputeSumISumISq16(&c.size, &c.i16, o.u[0].data(), o.d.data(), c.outStride);
     }},
};

QTEST_KERNEL_PROPERTIES(SlidingSums, kKernels)

// The band table serves grids of at most 4 x 4 positions in images of at
// least 9 x 9 pixels, the running sums everything else.
TEST_P(SlidingSums, RouteChoice)
{
    struct Route { int W, H, w, h; bool bandTable; };
    for (const Route r : {Route{40, 40, 37, 37, true}, {40, 40, 36, 36, false}, {8, 40, 5, 37, false},
                          {40, 8, 37, 5, false}, {9, 9, 9, 9, true}, {9, 12, 6, 9, true}, {12, 9, 8, 6, false},
                          {260, 255, 257, 252, true}, {4096, 10, 4093, 7, true}, {5000, 12, 4997, 9, true}}) {
        std::mt19937 rng(r.W * 131 + r.w);
        const KernelCase c(rng, r.w, r.h, r.W, r.H, 1, 1, 2);
        SCOPED_TRACE(c.describe());
        InhibitSwitch inhibit(InhibitSwitch::recordOnly);
        for (const Kernel& k : kKernels)
            if (!(k.flags & kIntegerLimit && r.w * r.h > 0x10000)) k.expectExact(c);
        const auto& asked = inhibit.asked();
        EXPECT_EQ(std::count(asked.begin(), asked.end(), u"qsrch_computeSumISumISqLessThan4") > 0, r.bandTable);
    }
}

// 3 x 3 grids: images narrow or wide, short or tall, rows 16 bytes apart or not.
TEST_P(SlidingSums, ThreeByThreeGrids)
{
    for (const auto& [W, H, stride] : std::vector<std::array<int, 3>>{
             {7, 12, 16}, {8, 12, 16}, {8, 12, 9}, {9, 9, 32}, {20, 3, 32}, {20, 4, 32}, {300, 5, 304},
             {12, 300, 16}, {258, 256, 272}}) {
        std::mt19937 rng(W * 1000 + H);
        Image8 image(W, H, stride);
        image.randomize(rng);
        const qimg_windowConst view = image.window(), size = image.window(0, 0, W - 2, H - 2);
        SCOPED_TRACE(testing::Message() << W << "x" << H << ", stride " << stride);
        std::vector<uint32_t> sumI(3 * 5, kSentinel), sumISq(3 * 5, kSentinel);
        ASSERT_EQ(qsrch_computeSumISumISq(&size, &view, sumI.data(), sumISq.data(), 5), QSRCH_OK);
        for (Stat stat : {kSumI, kSumII})
            expectOutput(stat == kSumI ? sumI : sumISq, 5, 3, 3, [&](int64_t x, int64_t y) {
                return uint32_t(bruteStats<uint8_t>(size, nullptr, view, nullptr, int(x), int(y))[stat]);
            });
    }
}

// One window is a single statistic, never a scan: no poll. An output stride
// of 0 serves a caller scoring a single position.
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
        if (w != 7) continue;
        sumI = dSumI = kSentinel;
        const qimg_windowConst whole = image.window();
        const WindowStats all = bruteStats<uint8_t>(whole, nullptr, whole, nullptr, 0, 0);
        EXPECT_EQ(qsrch_computeSumISumISq(&whole, &whole, &sumI, &sumISq, 0), QSRCH_OK);
        EXPECT_EQ(qsrch_DcomputeSumISumISq(&whole, &whole, &dSumI, &dSumISq, 0), QSRCH_OK);
        EXPECT_TRUE(sumI == all[kSumI] && sumISq == all[kSumII] && dSumI == all[kSumI] && dSumISq == all[kSumII]);
    }
}

}  // namespace
