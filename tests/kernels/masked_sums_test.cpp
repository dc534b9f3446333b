// Masked sliding sums against the brute force: the image sums under the
// pattern mask, and the care count with the pattern sums over both masks,
// given a pattern mask, none (null) or a mask record without pixels.
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
        // The endpoint list does not narrow the positions: one empty range for all.
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

}  // namespace
