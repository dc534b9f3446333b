// Window sums under masks against the brute force on both paths.
#include "support/test_support.hpp"

namespace {

using namespace qtest;
using Case = const KernelCase&;
using Out = Outputs&;

const std::vector<Kernel> kKernels = {
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

QTEST_KERNEL_PROPERTIES(WindowSums, kKernels)

}  // namespace
