// Masked sliding sums against the brute force on both paths.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;
using Case = const KernelCase&;
using Out = Outputs&;

// Adds the pattern-side sums with the pattern mask, none, or one without pixels.
std::vector<Kernel> withPatternSums(std::vector<Kernel> kernels)
{
    for (int mask : {0, 1, 2}) {
        const std::string how = mask == 0 ? "" : mask == 1 ? " without mask" : " with a mask without pixels";
        const unsigned flags = kImageMask | (mask == 0 ? unsigned{kPatternMask} : 0u);
        auto m = [mask](Case c) { return mask == 0 ? &c.pm : mask == 1 ? nullptr : &c.absentMask; };
        kernels.push_back({"computeMaskPatSumPatSumSq" + how, u"qsrch_computeMaskPatSumPatSumSq", flags | kIntegerLimit,
                           {kCount, kSumP, kSumPP}, [=](Case c, Out o) {
                               return qsrch_computeMaskPatSumPatSumSq(&c.p, m(c), &c.im, o.u[0].data(), o.u[1].data(),
                                                                      o.u[2].data(), c.outStride);
                           }});
        kernels.push_back({"DcomputeMaskPatSumPatSumSq" + how, u"qsrch_DcomputeMaskPatSumPatSumSq", flags | kDoubleLast,
                           {kCount, kSumP, kSumPP}, [=](Case c, Out o) {
                               return qsrch_DcomputeMaskPatSumPatSumSq(&c.p, m(c), &c.im, o.u[0].data(), o.u[1].data(),
                                                                       o.d.data(), c.outStride);
                           }});
        // One empty range for all rows: the list does not narrow the positions.
        kernels.push_back({"computeMaskPatSumPatSumSqUsingEndpoints" + how,
                           u"qsrch_computeMaskPatSumPatSumSqUsingEndpoints", flags | kIntegerLimit | kAlwaysPolls,
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

const std::vector<Kernel> kKernels = withPatternSums({
    {"computeMaskSumISumISq", u"qsrch_computeMaskSumISumISq", kPatternMask | kIntegerLimit, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_computeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.u[1].data(), c.outStride); }},
    {"DcomputeMaskSumISumISq", u"qsrch_DcomputeMaskSumISumISq", kPatternMask | kDoubleLast, {kSumI, kSumII},
     [](Case c, Out o) { return qsrch_DcomputeMaskSumISumISq(&c.pm, &c.i, o.u[0].data(), o.d.data(), c.outStride); }},
});

QTEST_KERNEL_PROPERTIES(MaskedSums, kKernels)

}  // namespace
