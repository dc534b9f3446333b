// Window sums under masks: the exported kernels. Each applies its size rule,
// polls attention over its positions, then (for the three image-side sums)
// runs the optimized-path dispatch, whose fallback is the generic path.
//
// Arithmetic contract: integer outputs are exact unsigned 32-bit sums, which
// is why the integer sums of squares refuse patterns of more than 0x10000
// pixels. D outputs are exact sums held in doubles; the double image sum of
// squares scores large masks as two half-height windows whose exact sums add
// up to the whole, so no half ever holds more than it can hold exactly.
#include <qsrch/kernels.h>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "kernels/generic/window_sums.hpp"
#include "kernels/grid.hpp"

namespace qsrch {
namespace {

// The top half of the mask is scored into the caller's output, the bottom
// half into a zero-filled scratch of the output's layout, and the scratch is
// added in. Each half goes through the exported kernel, so it polls and
// splits again while still large.
qsrch::Status splitImageSumSq(const qimg_windowConst& patternMask, const qimg_windowConst& image,
                              PositionGrid grid, double* out, uint32_t outStride)
{
    CallFrame<1> frame;
    double* scratch = nullptr;
    // An empty grid still splits (and recurses), over an empty scratch.
    const SplitScratch layout = splitScratch(grid, outStride);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsys_memory_allocClear64_internal(layout.count * sizeof(double), &scratch)));
    frame.releaseMemory(0, &scratch);

    const HalfHeightSplit split = halfHeightSplit(patternMask.height);
    const qimg_windowConst maskTop = split.patternTop(patternMask);
    const qimg_windowConst imageTop = split.imageTop(image);
    const qimg_windowConst maskBottom = split.patternBottom(patternMask);
    const qimg_windowConst imageBottom = split.imageBottom(image);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_DcomputeImageSumSqMask(&maskTop, &imageTop, out, outStride)));
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsrch_DcomputeImageSumSqMask(&maskBottom, &imageBottom, scratch, layout.stride)));
    addBottomHalf(grid, out, outStride, scratch, layout.stride);
    return frame.finish();
}

}  // namespace
}  // namespace qsrch

using qsrch::dispatch;
using qsrch::noOptimizedPath;
using qsrch::pollAttention;
using qsrch::positionGrid;
using qsrch::PositionGrid;
using qsrch::tooLargeForIntegers;

extern "C" {

QSRCH_API qsrch_status qsrch_computeImageSumMask(const qimg_windowConst* patternMask,
                                                 const qimg_windowConst* image, uint32_t* out,
                                                 uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(u"qsrch_imageSumMask", noOptimizedPath, [&] {
        return qsrch::generic::computeImageSumMask(patternMask, image, out, outStride);
    });
}

QSRCH_API qsrch_status qsrch_computeImageSumSqMask(const qimg_windowConst* patternMask,
                                                   const qimg_windowConst* image, uint32_t* out,
                                                   uint32_t outStride)
{
    if (tooLargeForIntegers(patternMask->width, patternMask->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(u"qsrch_imageSumSqMask", noOptimizedPath, [&] {
        return qsrch::generic::computeImageSumSqMask(patternMask, image, out, outStride);
    });
}

QSRCH_API qsrch_status qsrch_DcomputeImageSumSqMask(const qimg_windowConst* patternMask,
                                                    const qimg_windowConst* image, double* out,
                                                    uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    if (qsrch::needsHalfHeightSplit(*patternMask))
        return qsrch::splitImageSumSq(*patternMask, *image, grid, out, outStride);
    return dispatch(u"qsrch_DimageSumSqMask", noOptimizedPath, [&] {
        return qsrch::generic::DcomputeImageSumSqMask(patternMask, image, out, outStride);
    });
}

QSRCH_API qsrch_status qsrch_computeNCarePelsMask(const qimg_windowConst* patternMask,
                                                  const qimg_windowConst* imageMask,
                                                  uint32_t* out, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*patternMask, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::computeNCarePelsMask(patternMask, imageMask, out, outStride);
}

// The pattern kernels take the size for their size rule and their poll from
// the pattern (their first argument); the generic loops walk the pattern mask.
QSRCH_API qsrch_status qsrch_computePatSumMask(const qimg_windowConst* pattern,
                                               const qimg_windowConst* patternMask,
                                               const qimg_windowConst* imageMask, uint32_t* out,
                                               uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::computePatSumMask(pattern, patternMask, imageMask, out, outStride);
}

QSRCH_API qsrch_status qsrch_computePatSumSqMask(const qimg_windowConst* pattern,
                                                 const qimg_windowConst* patternMask,
                                                 const qimg_windowConst* imageMask, uint32_t* out,
                                                 uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::computePatSumSqMask(pattern, patternMask, imageMask, out, outStride);
}

QSRCH_API qsrch_status qsrch_DcomputePatSumSqMask(const qimg_windowConst* pattern,
                                                  const qimg_windowConst* patternMask,
                                                  const qimg_windowConst* imageMask, double* out,
                                                  uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return qsrch::generic::DcomputePatSumSqMask(pattern, patternMask, imageMask, out, outStride);
}

}  // extern "C"
