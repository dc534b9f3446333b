// Sliding image sums: the exported kernels. Each applies its size rule,
// polls attention over its positions and, where it has one, runs the
// optimized-path dispatch whose fallback is the generic path.
//
// Arithmetic contract: ΣI is unsigned 32-bit everywhere (exact for 8-bit
// pixels; 16-bit totals wrap modulo 2^32). The integer ΣI² is exact because
// the integer kernels refuse windows of more than 0x10000 pixels; the double
// ΣI² is exact because it is only ever fed integers below 2^53.
#include <qsrch/kernels.h>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "kernels/generic/sliding_sums.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "kernels/sse2/sliding_sums.hpp"

using qsrch::dispatch;
using qsrch::pollAttention;
using qsrch::positionGrid;
using qsrch::PositionGrid;
using qsrch::tooLargeForIntegers;

extern "C" {

QSRCH_API qsrch_status qsrch_computeSumISumISq(const qimg_windowConst* pattern,
                                               const qimg_windowConst* image, uint32_t* sumI,
                                               uint32_t* sumISq, uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(
        u"qsrch_computeSumISumISq",
        [&] { return qsrch::sse2::computeSumISumISq(pattern, image, sumI, sumISq, outStride); },
        [&] { return qsrch::generic::computeSumISumISq(pattern, image, sumI, sumISq, outStride); });
}

// Reached only from the integer kernel's generic path, which has made sure
// of the small grid and the 9 x 9 image; hence no size rule and no poll.
qsrch_status qsrch_computeSumISumISqLessThan4(const qimg_windowConst* pattern,
                                              const qimg_windowConst* image, uint32_t* sumI,
                                              uint32_t* sumISq, uint32_t outStride)
{
    return dispatch(
        u"qsrch_computeSumISumISqLessThan4",
        [&] { return qsrch::sse2::computeSumISumISqLessThan4(pattern, image, sumI, sumISq, outStride); },
        [&] { return qsrch::generic::computeSumISumISqLessThan4(pattern, image, sumI, sumISq, outStride); });
}

QSRCH_API qsrch_status qsrch_DcomputeSumISumISq(const qimg_windowConst* pattern,
                                                const qimg_windowConst* image, uint32_t* sumI,
                                                double* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::DcomputeSumISumISq(pattern, image, sumI, sumISq, outStride);
}

QSRCH_API qsrch_status qsrch_DcomputeSumISumISq16(const qimg_windowConst* pattern,
                                                  const qimg_windowConst* image, uint32_t* sumI,
                                                  double* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::DcomputeSumISumISq16(pattern, image, sumI, sumISq, outStride);
}

// One window is a single statistic, not a scan: no poll.
QSRCH_API qsrch_status qsrch_computeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI,
                                                  uint32_t* sumISq)
{
    if (tooLargeForIntegers(window->width, window->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    return qsrch::generic::computeOneSumISumISq(window, sumI, sumISq);
}

QSRCH_API qsrch_status qsrch_DcomputeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI,
                                                   double* sumISq)
{
    return qsrch::generic::DcomputeOneSumISumISq(window, sumI, sumISq);
}

}  // extern "C"
