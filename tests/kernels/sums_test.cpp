// Sliding sums, plain over 8-bit and 16-bit images and under masks, against the brute force on both paths.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;
using Case = const KernelCase&;  // with Out, keeps most kernels' calls on one line
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

// Grids of up to 4 x 4 positions (served apart; rows 16 bytes apart or not) and just beyond, at the image's own
// stride; bright images bring the 32-bit squares near wrapping.
TEST_P(SlidingSums, FewPositionGrids)
{
    for (const auto& [W, H, stride, nx, ny] : std::vector<std::array<int, 5>>{
             {8, 12, 16, 3, 3}, {8, 12, 9, 3, 3}, {9, 9, 32, 3, 3}, {20, 4, 32, 3, 3}, {300, 5, 304, 3, 3},
             {12, 300, 16, 3, 3}, {258, 256, 272, 3, 3}, {40, 40, 48, 4, 4}, {8, 40, 16, 4, 4}, {40, 8, 48, 4, 4},
             {9, 9, 16, 1, 1}, {12, 9, 16, 5, 4}, {260, 255, 272, 4, 4}, {4096, 10, 4096, 4, 4},
             {5000, 12, 5008, 4, 4}}) {
        std::mt19937 rng(W * 1000 + H);
        KernelCase c(rng, W - nx + 1, H - ny + 1, W, H, 1, 1, 0);
        c.image = Image8(W, H, stride);
        c.image.randomize(rng, W >= 258 && W <= 260 ? 200 : 0);
        c.i = c.image.window();
        SCOPED_TRACE(testing::Message() << "stride " << stride << ", " << c.describe());
        for (const Kernel& k : kKernels) k.expectExact(c);
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
        uint32_t sums[3] = {kSentinel, kSentinel, kSentinel};
        double dSumISq = -1;
        const bool refused = w * h > 0x10000;  // refused by the integer form only, its outputs untouched
        EXPECT_EQ(qsrch_computeOneSumISumISq(&window, &sums[0], &sums[1]), refused ? QSRCH_E_PATTERN_TOO_LARGE : 0);
        EXPECT_EQ(qsrch_DcomputeOneSumISumISq(&window, &sums[2], &dSumISq), QSRCH_OK);
        EXPECT_TRUE(sums[0] == (refused ? kSentinel : want[kSumI]) && sums[1] == (refused ? kSentinel : want[kSumII]));
        EXPECT_TRUE(sums[2] == want[kSumI] && dSumISq == double(want[kSumII]) && attention.polls() == 0);
    }
}


const std::vector<Kernel> kWindowKernels = {
    {"computeImageSumMask", u"qsrch_imageSumMask", kPatternMask, {kSumI},
     [](Case c, Out o) { return qsrch_computeImageSumMask(&c.pm, &c.i, o.u[0].data(), c.outStride); }},
    {"computeImageSumSqMask", u"qsrch_imageSumSqMask", kPatternMask | kIntegerLimit, {kSumII},
     [](Case c, Out o) { return qsrch_computeImageSumSqMask(&c.pm, &c.i, o.u[0].data(), c.outStride); }},
    {"DcomputeImageSumSqMask", u"qsrch_DimageSumSqMask", kPatternMask | kDoubleLast, {kSumII},
     [](Case c, Out o) { return qsrch_DcomputeImageSumSqMask(&c.pm, &c.i, o.d.data(), c.outStride); }},
    {"computeNCarePelsMask", nullptr, kPatternMask | kImageMask, {kCount},
     [](Case c, Out o) { return qsrch_computeNCarePelsMask(&c.pm, &c.im, o.u[0].data(), c.outStride); }},
    {"computePatSumMask", nullptr, kPatternMask | kImageMask, {kSumP},
     [](Case c, Out o) { return qsrch_computePatSumMask(&c.p, &c.pm, &c.im, o.u[0].data(), c.outStride); }},
    {"computePatSumSqMask", nullptr, kPatternMask | kImageMask | kIntegerLimit, {kSumPP},
     [](Case c, Out o) { return qsrch_computePatSumSqMask(&c.p, &c.pm, &c.im, o.u[0].data(), c.outStride); }},
    {"DcomputePatSumSqMask", nullptr, kPatternMask | kImageMask | kDoubleLast, {kSumPP},
     [](Case c, Out o) { return qsrch_DcomputePatSumSqMask(&c.p, &c.pm, &c.im, o.d.data(), c.outStride); }},
};
QTEST_KERNEL_PROPERTIES(WindowSums, kWindowKernels)

// Adds the pattern-side sums with the pattern mask, none, or one without pixels; one empty range for all rows
// does not narrow the endpoint form's positions.
std::vector<Kernel> withPatternSums(std::vector<Kernel> kernels)
{
    for (int mask : {0, 1, 2}) {
        const std::string how = mask == 0 ? "" : mask == 1 ? " without mask" : " with a mask without pixels";
        const unsigned flags = kImageMask | (mask == 0 ? unsigned{kPatternMask} : 0u), integer = flags | kIntegerLimit;
        auto m = [mask](const KernelCase& c) { return mask == 0 ? &c.pm : mask == 1 ? nullptr : &c.absentMask; };
        kernels.push_back({"computeMaskPatSumPatSumSq" + how, u"qsrch_computeMaskPatSumPatSumSq", integer,
                           {kCount, kSumP, kSumPP}, [=](Case c, Out o) {
                               return qsrch_computeMaskPatSumPatSumSq(&c.p, m(c), &c.im, o.u[0].data(), o.u[1].data(),
                                                                      o.u[2].data(), c.outStride);
                           }});
        kernels.push_back({"DcomputeMaskPatSumPatSumSq" + how, u"qsrch_DcomputeMaskPatSumPatSumSq", flags | kDoubleLast,
                           {kCount, kSumP, kSumPP}, [=](Case c, Out o) {
                               return qsrch_DcomputeMaskPatSumPatSumSq(&c.p, m(c), &c.im, o.u[0].data(), o.u[1].data(),
                                                                       o.d.data(), c.outStride);
                           }});
        kernels.push_back({"computeMaskPatSumPatSumSqUsingEndpoints" + how,
                           u"qsrch_computeMaskPatSumPatSumSqUsingEndpoints", integer | kAlwaysPolls,
                           {kCount, kSumP, kSumPP}, [=](Case c, Out o) {
                               qstd_pair32 empty{0, 0};
                               const qstd_vector_qstd_pair32 all{&empty, 1, 1};
                               return qsrch_computeMaskPatSumPatSumSqUsingEndpoints(
                                   &c.p, m(c), &c.im, o.u[0].data(), o.u[1].data(), o.u[2].data(), c.outStride,
                                   &all, 0);
                           }});
    }
    return kernels;
}

const std::vector<Kernel> kMaskedKernels = withPatternSums({
    {"computeMaskSumISumISq", u"qsrch_computeMaskSumISumISq", kPatternMask | kIntegerLimit, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_computeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.u[1].data(), c.outStride); }},
    {"DcomputeMaskSumISumISq", u"qsrch_DcomputeMaskSumISumISq", kPatternMask | kDoubleLast, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_DcomputeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.d.data(), c.outStride); }},
});
QTEST_KERNEL_PROPERTIES(MaskedSums, kMaskedKernels)

}  // namespace
