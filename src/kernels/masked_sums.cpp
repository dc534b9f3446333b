// Masked sliding sums: the image's ΣI and ΣI² under the pattern's care mask,
// and the care count with the pattern's ΣP and ΣP² over the pixels cared
// for by both the pattern mask and the image's care mask. Each is composed
// of the window sums under masks, so it costs w x h per position.
//
// Arithmetic contract: as for the window sums they are built from. The
// integer forms refuse patterns of more than 0x10000 pixels; the double
// forms score large patterns as two half-height windows over shortened
// images, whose exact sums (all integers below 2^53) add up to the whole.
#include <qip/qip.h>
#include <qsrch/kernels.h>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "kernels/scratch.hpp"
#include "kernels/sse2/window_sums.hpp"

namespace qsrch {
namespace {

inline qsrch::Status patternSumSq(const qimg_windowConst* pattern, const qimg_windowConst* mask,
                                  const qimg_windowConst* imageMask, uint32_t* sumPSq, uint32_t outStride)
{
    return qsrch_computePatSumSqMask(pattern, mask, imageMask, sumPSq, outStride);
}

inline qsrch::Status patternSumSq(const qimg_windowConst* pattern, const qimg_windowConst* mask,
                                  const qimg_windowConst* imageMask, double* sumPSq, uint32_t outStride)
{
    return qsrch_DcomputePatSumSqMask(pattern, mask, imageMask, sumPSq, outStride);
}

// ---- Image sums under the pattern mask ------------------------------------------

qsrch::Status maskSumISumISqGeneric(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                    uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    if (tooLargeForIntegers(patternMask->width, patternMask->height))
        return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    QSRCH_RETURN_IF_ERROR(qsrch_computeImageSumMask(patternMask, image, sumI, outStride));
    return qsrch_computeImageSumSqMask(patternMask, image, sumISq, outStride);
}

qsrch::Status DmaskSumISumISqGeneric(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                     uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    QSRCH_RETURN_IF_ERROR(qsrch_computeImageSumMask(patternMask, image, sumI, outStride));
    return qsrch_DcomputeImageSumSqMask(patternMask, image, sumISq, outStride);
}

// Top half into the caller's arrays, bottom half into scratch of the same
// layout, each through the exported kernel so that it polls and splits again
// while still large; then the bottom half is added in.
qsrch::Status splitMaskSumISumISq(const qimg_windowConst& patternMask, const qimg_windowConst& image,
                                  PositionGrid grid, uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    CallFrame<2> frame;
    const SplitScratch layout = splitScratch(grid, outStride);
    const size_t count = layout.count;
    qstd_vector32 bottomSumVector;
    qstd_vectord bottomSumSqVector;
    uint32_t* bottomSum = nullptr;
    double* bottomSumSq = nullptr;
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 0, &bottomSumVector, count, &bottomSum));
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 1, &bottomSumSqVector, count, &bottomSumSq));

    const HalfHeightSplit split = halfHeightSplit(patternMask.height);
    const qimg_windowConst maskTop = split.patternTop(patternMask);
    const qimg_windowConst imageTop = split.imageTop(image);
    const qimg_windowConst maskBottom = split.patternBottom(patternMask);
    const qimg_windowConst imageBottom = split.imageBottom(image);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsrch_DcomputeMaskSumISumISq(&maskTop, &imageTop, sumI, sumISq, outStride)));
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_DcomputeMaskSumISumISq(&maskBottom, &imageBottom, bottomSum, bottomSumSq, layout.stride)));
    addBottomHalf(grid, sumI, outStride, bottomSum, layout.stride);
    addBottomHalf(grid, sumISq, outStride, bottomSumSq, layout.stride);
    return frame.finish();
}

// ---- Pattern sums over both masks -------------------------------------------------

// Runs `body` with the pattern mask to use: the caller's, or, when none is
// given, an all-care mask of the pattern's size made for this call.
template <class Body>
qsrch::Status withPatternMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask, Body body)
{
    if (present(patternMask)) return body(patternMask);
    CallFrame<1> frame;
    qimg_image allCare;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_image_construct(&allCare, QIMG_DEPTH_8U, pattern->width, pattern->height)));
    frame.release<qimg_image_destruct>(0, &allCare);
    allCare.x = pattern->x;
    allCare.y = pattern->y;
    QSRCH_RETURN_IF_ERROR(frame.track(qip_pelSet8(&allCare, 255)));
    qimg_windowConst allCareView;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&allCareView, qimg_image_asConst(&allCare))));
    return frame.finish(body(&allCareView));
}

// Care count, ΣP and ΣP², stopping at the first failure.
template <class SumSq>
qsrch::Status patternStatistics(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP,
                                SumSq* sumPSq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    // Nothing to write; the all-care mask need not be built.
    if (grid.empty()) return QSRCH_OK;
    return withPatternMask(pattern, patternMask, [&](const qimg_windowConst* mask) -> qsys_status {
        QSRCH_RETURN_IF_ERROR(qsrch_computeNCarePelsMask(mask, imageMask, careCount, outStride));
        QSRCH_RETURN_IF_ERROR(qsrch_computePatSumMask(pattern, mask, imageMask, sumP, outStride));
        return patternSumSq(pattern, mask, imageMask, sumPSq, outStride);
    });
}

qsrch::Status maskPatSumPatSumSqGeneric(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                        const qimg_windowConst* imageMask, uint32_t* careCount,
                                        uint32_t* sumP, uint32_t* sumPSq, uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    return patternStatistics(pattern, patternMask, imageMask, careCount, sumP, sumPSq, outStride);
}

// As splitMaskSumISumISq, for three outputs. The pattern mask is halved with
// the pattern; an absent one stays absent in both halves.
qsrch::Status splitMaskPatSumPatSumSq(const qimg_windowConst& pattern, const qimg_windowConst* patternMask,
                                      const qimg_windowConst& imageMask, PositionGrid grid,
                                      uint32_t* careCount, uint32_t* sumP, double* sumPSq, uint32_t outStride)
{
    CallFrame<3> frame;
    const SplitScratch layout = splitScratch(grid, outStride);
    const size_t count = layout.count;
    qstd_vector32 bottomCareCountVector, bottomSumVector;
    qstd_vectord bottomSumSqVector;
    uint32_t* bottomCareCount = nullptr;
    uint32_t* bottomSum = nullptr;
    double* bottomSumSq = nullptr;
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 0, &bottomCareCountVector, count, &bottomCareCount));
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 1, &bottomSumVector, count, &bottomSum));
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 2, &bottomSumSqVector, count, &bottomSumSq));

    const HalfHeightSplit split = halfHeightSplit(pattern.height);
    const qimg_windowConst patternTop = split.patternTop(pattern);
    const qimg_windowConst patternBottom = split.patternBottom(pattern);
    const qimg_windowConst imageMaskTop = split.imageTop(imageMask);
    const qimg_windowConst imageMaskBottom = split.imageBottom(imageMask);
    const bool masked = present(patternMask);
    qimg_windowConst maskTop{}, maskBottom{};
    if (masked) {
        maskTop = split.patternTop(*patternMask);
        maskBottom = split.patternBottom(*patternMask);
    }
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_DcomputeMaskPatSumPatSumSq(
        &patternTop, masked ? &maskTop : nullptr, &imageMaskTop, careCount, sumP, sumPSq, outStride)));
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_DcomputeMaskPatSumPatSumSq(&patternBottom, masked ? &maskBottom : nullptr, &imageMaskBottom,
                                         bottomCareCount, bottomSum, bottomSumSq, layout.stride)));
    addBottomHalf(grid, careCount, outStride, bottomCareCount, layout.stride);
    addBottomHalf(grid, sumP, outStride, bottomSum, layout.stride);
    addBottomHalf(grid, sumPSq, outStride, bottomSumSq, layout.stride);
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

QSRCH_API qsrch_status qsrch_computeMaskSumISumISq(const qimg_windowConst* patternMask,
                                                   const qimg_windowConst* image, uint32_t* sumI,
                                                   uint32_t* sumISq, uint32_t outStride)
{
    if (tooLargeForIntegers(patternMask->width, patternMask->height))
        return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(
        u"qsrch_computeMaskSumISumISq",
        [&] { return qsrch::sse2::maskSumISumISq(patternMask, image, sumI, sumISq, outStride); },
        [&] { return qsrch::maskSumISumISqGeneric(patternMask, image, sumI, sumISq, outStride); });
}

QSRCH_API qsrch_status qsrch_DcomputeMaskSumISumISq(const qimg_windowConst* patternMask,
                                                    const qimg_windowConst* image, uint32_t* sumI,
                                                    double* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*patternMask, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    // An empty grid has nothing to split: it goes the plain way and writes nothing.
    if (qsrch::needsHalfHeightSplit(*patternMask) && !grid.empty())
        return qsrch::splitMaskSumISumISq(*patternMask, *image, grid, sumI, sumISq, outStride);
    return dispatch(
        u"qsrch_DcomputeMaskSumISumISq",
        [&] { return qsrch::sse2::DmaskSumISumISq(patternMask, image, sumI, sumISq, outStride); },
        [&] { return qsrch::DmaskSumISumISqGeneric(patternMask, image, sumI, sumISq, outStride); });
}

QSRCH_API qsrch_status qsrch_computeMaskPatSumPatSumSq(const qimg_windowConst* pattern,
                                                       const qimg_windowConst* patternMask,
                                                       const qimg_windowConst* imageMask,
                                                       uint32_t* careCount, uint32_t* sumP,
                                                       uint32_t* sumPSq, uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(
        u"qsrch_computeMaskPatSumPatSumSq",
        [&] {
            return qsrch::sse2::maskPatSumPatSumSq(pattern, patternMask, imageMask, careCount, sumP,
                                                   sumPSq, outStride);
        },
        [&] {
            return qsrch::maskPatSumPatSumSqGeneric(pattern, patternMask, imageMask, careCount, sumP,
                                                    sumPSq, outStride);
        });
}

QSRCH_API qsrch_status qsrch_DcomputeMaskPatSumPatSumSq(const qimg_windowConst* pattern,
                                                        const qimg_windowConst* patternMask,
                                                        const qimg_windowConst* imageMask,
                                                        uint32_t* careCount, uint32_t* sumP,
                                                        double* sumPSq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    if (qsrch::needsHalfHeightSplit(*pattern) && !grid.empty())
        return qsrch::splitMaskPatSumPatSumSq(*pattern, patternMask, *imageMask, grid, careCount,
                                              sumP, sumPSq, outStride);
    return dispatch(
        u"qsrch_DcomputeMaskPatSumPatSumSq",
        [&] {
            return qsrch::sse2::DmaskPatSumPatSumSq(pattern, patternMask, imageMask, careCount, sumP,
                                                    sumPSq, outStride);
        },
        [&] {
            return qsrch::patternStatistics(pattern, patternMask, imageMask, careCount, sumP, sumPSq,
                                            outStride);
        });
}

// The endpoint list does not narrow the work: every position is computed.
// Its callers score few positions, so the poll is made whatever the count.
qsrch_status qsrch_computeMaskPatSumPatSumSqUsingEndpoints(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP, uint32_t* sumPSq,
    uint32_t outStride, const qstd_vector_qstd_pair32* endpoints, uint32_t step)
{
    (void)endpoints;
    (void)step;
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    QSRCH_RETURN_IF_ERROR(qsys_attention_check());
    return dispatch(u"qsrch_computeMaskPatSumPatSumSqUsingEndpoints", noOptimizedPath, [&] {
        return qsrch::maskPatSumPatSumSqGeneric(pattern, patternMask, imageMask, careCount, sumP,
                                                sumPSq, outStride);
    });
}

}  // extern "C"
