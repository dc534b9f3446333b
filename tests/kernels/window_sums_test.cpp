// Window sums under masks against the brute force, and the half-height
// split of the double image sum of squares.
#include "support/test_support.hpp"

namespace {

using namespace qtest;

const std::vector<Kernel> kKernels = {
    {"computeImageSumMask", u"qsrch_imageSumMask", kPatternMask, {kSumI},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computeImageSumMask(&c.pm, &c.i, o.u[0].data(), c.outStride);
     }},
    {"computeImageSumSqMask", u"qsrch_imageSumSqMask", kPatternMask | kIntegerLimit, {kSumII},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computeImageSumSqMask(&c.pm, &c.i, o.u[0].data(), c.outStride);
     }},
    {"DcomputeImageSumSqMask", u"qsrch_DimageSumSqMask", kPatternMask | kDoubleLast, {kSumII},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_DcomputeImageSumSqMask(&c.pm, &c.i, o.d.data(), c.outStride);
     }},
    {"computeNCarePelsMask", nullptr, kPatternMask | kImageMask, {kCount},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computeNCarePelsMask(&c.pm, &c.im, o.u[0].data(), c.outStride);
     }},
    {"computePatSumMask", nullptr, kPatternMask | kImageMask, {kSumP},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computePatSumMask(&c.p, &c.pm, &c.im, o.u[0].data(), c.outStride);
     }},
    {"computePatSumSqMask", nullptr, kPatternMask | kImageMask | kIntegerLimit, {kSumPP},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computePatSumSqMask(&c.p, &c.pm, &c.im, o.u[0].data(), c.outStride);
     }},
    {"DcomputePatSumSqMask", nullptr, kPatternMask | kImageMask | kDoubleLast, {kSumPP},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_DcomputePatSumSqMask(&c.p, &c.pm, &c.im, o.d.data(), c.outStride);
     }},
};

QTEST_KERNEL_PROPERTIES(WindowSums, kKernels)

// Masks of 0x10000 pixels or more, with narrower rows, split into halves
// recursively: one scratch block and two more polls per split.
TEST_P(WindowSums, DImageSumSqSplitsLargeMasksInHalves)
{
    struct Split { int w, h, splits; };
    for (const Split s : {Split{300, 300, 1}, {256, 256, 1}, {255, 257, 0}, {1, 65536, 1}, {200, 1000, 3},
                          {65536, 1, 0}}) {
        std::mt19937 rng(3);
        const KernelCase c(rng, s.w, s.h, s.w + 7, s.h + 4, 0.8, 1.0, 3);
        SCOPED_TRACE(c.describe());
        const int64_t allocations = qsys_memory_allocationCount();
        AttentionCounter attention;
        Outputs o(c);
        ASSERT_EQ(kKernels[2].run(c, o), QSRCH_OK);
        EXPECT_EQ(qsys_memory_allocationCount() - allocations, s.splits);
        EXPECT_EQ(attention.polls(), 2 * s.splits + 1);
    }
}

}  // namespace
