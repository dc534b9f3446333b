// Inner products of the pattern with the image: the exported kernels. Each
// applies its size rule, polls attention, and reaches the generic loops
// through the optimized-path dispatch. The integer forms refuse patterns of
// more than 65536 pixels, beyond which a 32-bit sum could wrap; the double
// form instead scores large patterns as two half-height halves, so that the
// halves stay within the integer variants' limit, and adds them exactly.
#include <qsrch/kernels.h>

#include <cstddef>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "kernels/generic/inner_products.hpp"
#include "kernels/grid.hpp"
#include "kernels/sse2/inner_products.hpp"

using namespace qsrch;

namespace {

// Top half into the caller's output, bottom half into a zero-filled
// scratch of the same layout, then the scratch added in.
qsrch::Status splitInnerProducts(const qimg_windowConst& pattern, const qimg_windowConst& image,
                                 PositionGrid grid, double* out, uint32_t outStride)
{
    CallFrame<1> frame;
    HalfHeightSplit split = halfHeightSplit(pattern.height);
    double* bottom = nullptr;
    // An empty grid splits too, over an empty scratch, and writes nothing.
    const SplitScratch scratch = splitScratch(grid, outStride);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsys_memory_allocClear64_internal(scratch.count * sizeof(double), &bottom)));
    frame.releaseMemory(0, &bottom);

    qimg_windowConst patternTop = split.patternTop(pattern), imageTop = split.imageTop(image);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_DcomputeInnerProducts(&patternTop, &imageTop, out, outStride)));
    qimg_windowConst patternBottom = split.patternBottom(pattern), imageBottom = split.imageBottom(image);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsrch_DcomputeInnerProducts(&patternBottom, &imageBottom, bottom, scratch.stride)));
    addBottomHalf(grid, out, outStride, bottom, scratch.stride);
    return frame.finish();
}

}  // namespace

extern "C" {

qsrch_status qsrch_computeInnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                        uint32_t* out, uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    return dispatch(
        u"qsrch_innerProducts", [&] { return sse2::innerProducts(pattern, image, out, outStride); },
        [&] { return generic::innerProducts(pattern, image, out, outStride); });
}

qsrch_status qsrch_DcomputeInnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                         double* out, uint32_t outStride)
{
    PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    if (needsHalfHeightSplit(*pattern)) return splitInnerProducts(*pattern, *image, grid, out, outStride);
    return dispatch(
        u"qsrch_DinnerProducts", [&] { return sse2::DinnerProducts(pattern, image, out, outStride); },
        [&] { return generic::DinnerProducts(pattern, image, out, outStride); });
}

qsrch_status qsrch_computeInnerProductsUsingEndpoints(const qimg_windowConst* pattern,
                                                      const qimg_windowConst* image, uint32_t* out,
                                                      uint32_t outStride,
                                                      const qstd_vector_qstd_pair32* endpoints, uint32_t step)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    // One poll per call whatever the number of listed positions, which the
    // kernel does not count.
    QSRCH_RETURN_IF_ERROR(qsys_attention_check());
    return dispatch(
        u"qsrch_innerProductsUsingEndpoints",
        [&] { return sse2::innerProductsUsingEndpoints(pattern, image, out, outStride, endpoints, step); },
        [&] { return generic::innerProductsUsingEndpoints(pattern, image, out, outStride, endpoints, step); });
}

}  // extern "C"
