// Masked sliding sums against the brute force on both paths, with a pattern
// mask, none or one without pixels; the scratch of the double forms' variants.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;

std::vector<Kernel> allKernels()
{
    std::vector<Kernel> kernels = {
        {"computeMaskSumISumISq", u"qsrch_computeMaskSumISumISq", kPatternMask | kIntegerLimit, {kSumI, kSumII},
         [](const KernelCase& c, Outputs& o) {
             return qsrch_computeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.u[1].data(), c.outStride);
         }},
        {"DcomputeMaskSumISumISq", u"qsrch_DcomputeMaskSumISumISq", kPatternMask | kDoubleLast, {kSumI, kSumII},
         [](const KernelCase& c, Outputs& o) {
             return qsrch_DcomputeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.d.data(), c.outStride);
         }},
    };
    for (int mask = 0; mask < 3; ++mask) {
        const std::string how[] = {"", " without mask", " with a mask without pixels"};
        const unsigned flags = kImageMask | (mask == 0 ? unsigned{kPatternMask} : 0u);
        auto maskOf = [mask](const KernelCase& c) {
            return mask == 0 ? &c.pm : mask == 1 ? nullptr : &c.absentMask;
        };
        kernels.push_back({"computeMaskPatSumPatSumSq" + how[mask], u"qsrch_computeMaskPatSumPatSumSq",
                           flags | kIntegerLimit, {kCount, kSumP, kSumPP}, [=](const KernelCase& c, Outputs& o) {
                               return qsrch_computeMaskPatSumPatSumSq(&c.p, maskOf(c), &c.im, o.u[0].data(),
                                                                      o.u[1].data(), o.u[2].data(), c.outStride);
                           }});
        kernels.push_back({"DcomputeMaskPatSumPatSumSq" + how[mask], u"qsrch_DcomputeMaskPatSumPatSumSq",
                           flags | kDoubleLast, {kCount, kSumP, kSumPP}, [=](const KernelCase& c, Outputs& o) {
                               return qsrch_DcomputeMaskPatSumPatSumSq(&c.p, maskOf(c), &c.im, o.u[0].data(),
                                                                       o.u[1].data(), o.d.data(), c.outStride);
                           }});
        // One empty range for all rows: the list does not narrow the positions.
        kernels.push_back({"computeMaskPatSumPatSumSqUsingEndpoints" + how[mask],
                           u"qsrch_computeMaskPatSumPatSumSqUsingEndpoints", flags | kIntegerLimit | kAlwaysPolls,
                           {kCount, kSumP, kSumPP}, [=](const KernelCase& c, Outputs& o) {
                               qstd_pair32 empty{0, 0};
                               const qstd_vector_qstd_pair32 endpoints{&empty, 1, 1};
                               return qsrch_computeMaskPatSumPatSumSqUsingEndpoints(
                                   &c.p, maskOf(c), &c.im, o.u[0].data(), o.u[1].data(), o.u[2].data(),
                                   c.outStride, &endpoints, 0);
                           }});
    }
    return kernels;
}

const std::vector<Kernel> kKernels = allKernels();

QTEST_KERNEL_PROPERTIES(MaskedSums, kKernels)

// The double forms' variants convert a 32-bit plane from scratch: up to 16
// positions on the stack, more in a vector (generic paths allocate nothing).
TEST(DoubleForms, VariantScratchOnTheStackUpToSixteenPositions)
{
    if (genericOnlyRun) GTEST_SKIP() << "this run forbids every optimized path";
    std::vector<Kernel> doubleForms = {{"DcomputeInnerProducts", nullptr, kDoubleLast, {kIp},
                                        [](const KernelCase& c, Outputs& o) {
                                            return qsrch_DcomputeInnerProducts(&c.p, &c.i, o.d.data(), c.outStride);
                                        }}};
    for (const Kernel& k : kKernels)
        if (k.name[0] == 'D') doubleForms.push_back(k);
    for (const auto& [nx, ny, allocations] :
         {std::array<int, 3>{2, 2, 0}, {16, 1, 0}, {17, 1, 1}, {10, 10, 1}}) {
        std::mt19937 rng(nx);
        const KernelCase c(rng, 6, 4, 6 + nx - 1, 4 + ny - 1, 0.6, 0.6, 3);
        for (const Kernel& k : doubleForms) {
            SCOPED_TRACE(k.name + ", " + c.describe());
            const int64_t before = qsys_memory_allocationCount();
            k.expectExact(c);
            EXPECT_EQ(qsys_memory_allocationCount() - before, allocations);
        }
    }
}

}  // namespace
