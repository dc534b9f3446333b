// Grey-level histograms of 8-bit views and their statistics.
#include <qip/qip.h>

#include <cmath>

extern "C" {

qsys_status qip_pelHistogramWindow8(const qimg_windowConst* view, uint32_t histogram[256])
{
    if (view->firstPixel == nullptr) return QIMG_E_UNBOUND;
    if (view->depth != QIMG_DEPTH_8U) return QIMG_E_BAD_DEPTH;
    for (int32_t y = 0; y < view->height; ++y) {
        const uint8_t* row =
            static_cast<const uint8_t*>(view->firstPixel) + static_cast<ptrdiff_t>(y) * view->rowStride;
        for (int32_t x = 0; x < view->width; ++x) ++histogram[row[x]];
    }
    return QSYS_OK;
}

// Population statistics (the deviation divides by the count). Two passes,
// so the deviation does not lose digits to a large mean.
qsys_status qip_pelHistogramStat_std(const uint32_t* histogram, uint32_t binCount, double* meanOut,
                                     double* stdDevOut, uint64_t* countOut)
{
    uint64_t count = 0;
    long double weighted = 0;
    for (uint32_t bin = 0; bin < binCount; ++bin) {
        count += histogram[bin];
        weighted += static_cast<long double>(bin) * histogram[bin];
    }
    double mean = count == 0 ? 0.0 : static_cast<double>(weighted / count);
    *meanOut = mean;
    if (stdDevOut != nullptr) {
        long double squares = 0;
        for (uint32_t bin = 0; bin < binCount; ++bin) {
            long double d = static_cast<long double>(bin) - mean;
            squares += d * d * histogram[bin];
        }
        *stdDevOut = count == 0 ? 0.0 : static_cast<double>(std::sqrt(squares / count));
    }
    if (countOut != nullptr) *countOut = count;
    return QSYS_OK;
}

}  // extern "C"
