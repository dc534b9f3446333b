// Correlation peaks: the statistics of every candidate position of a window
// grown by one position on each side, the score space over them, the
// detector's local maxima inside the window, and their refinement into
// pose peaks.
//
// Arithmetic: patterns of up to 0x10000 pixels take the integer path, where
// every statistic is an exact unsigned 32-bit sum; larger patterns take the
// double path, where sums of squares and inner products are exact doubles.
// Endpoint lists restrict the inner products and the space only on the
// integer path.
//
// Plane layout: see qsrch::PeakPlaneLayout; the three-plane kernel shares it.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "scoring/internal.hpp"
#include "scoring/peaks_internal.hpp"

namespace {

using qsrch::CallFrame;
using qsrch::present;

// The pattern's care count when the caller gives none: the mask's, or
// every pixel.
qsrch::Status patternCareCount(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                               const qsrch_givenPatternStats& given, uint32_t* countOut)
{
    if (given.haveN != 0) {
        *countOut = given.careCount;
        return QSRCH_OK;
    }
    if (present(patternMask)) return qsrch::maskCareCount(patternMask, countOut);
    *countOut = static_cast<uint32_t>(pattern->width) * static_cast<uint32_t>(pattern->height);
    return QSRCH_OK;
}

qsrch::Status peaksEntry(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                         const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                         const qstd_rect32* window, const qstd_vector_qstd_pair32* endpoints,
                         uint32_t endpointsFlag, const qsrch_normalizedCorrelationParams* params,
                         const qsrch_givenPatternStats& given, double peakThreshold,
                         qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return qsrch_computePeaksCommon(pattern, patternMask, image, runtimeMask, window, endpoints,
                                    endpointsFlag, params, given.havePatStats, given.n, given.sum,
                                    given.sumSq, given.haveN, given.careCount, peakThreshold,
                                    peaksOut);
}

constexpr qsrch_givenPatternStats kNothingGiven{0, 0, 0, 0.0, 0, 0};

qsrch_givenPatternStats patternStats(uint32_t n, uint32_t sum, double sumSq, bool careCountToo)
{
    return {1, n, sum, sumSq, careCountToo ? 1u : 0u, careCountToo ? n : 0u};
}

// The grey plane set: one plane, the pattern's own statistics or the
// caller's, a space of the grown rectangle's positions, and the shape score
// in the refinement.
class GreyPlanes final : public qsrch::PeakPlaneSet {
public:
    GreyPlanes(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
               const qsrch_givenPatternStats* given, const qstd_vector_qstd_pair32* endpoints,
               uint32_t endpointsFlag, const qsrch_normalizedCorrelationParams* params)
        : PeakPlaneSet(1, false), pattern_(pattern), patternMask_(patternMask), given_(given),
          endpoints_(endpoints), endpointsFlag_(endpointsFlag), params_(params)
    {
    }

    qsrch::Status fillStatistics(const qsrch::NarrowedViews& views, const qstd_vector_qstd_pair32* endpoints,
                                 const qsrch_peakPlanes* planes, uint32_t* careTotalOut) const override
    {
        return qsrch_computeStatsForPeaks(pattern_, patternMask_, &views.image[0], views.runtimeMaskInUse(),
                                          endpoints, given_, planes, careTotalOut);
    }

    qsrch::Status scoreSpace(const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                             const qstd_vector_qstd_pair32* endpoints, double* scores,
                             int32_t scoresStride) const override
    {
        return qsrch_computeSpaceForPeaks(pattern_, planes, nx, ny, endpoints, params_, scores, scoresStride);
    }

    // floor(float(total) * fraction + 0.5) in single precision, truncated
    // toward zero; a limit below 1 (or NaN) is 0.
    uint32_t careLimit(uint32_t careTotal, float fraction) const override
    {
        const float limit = static_cast<float>(careTotal) * fraction + 0.5f;
        if (!(limit >= 1.0f)) return 0;
        if (limit >= 4294967295.0f) return UINT32_MAX;
        return static_cast<uint32_t>(limit);
    }

    // The endpoint list and flag are the caller's, also on the double path
    // where the statistics ignored them.
    qsrch::Status refine(const qsrch::NarrowedViews& views, const qstd_rect32& positions,
                         const qsrch_peakPlanes* planes, const qstd_vector_* detected,
                         qstd_vector_qsrch_detectedPosePeak* peaksOut) const override
    {
        return qsrch_refinePeaks(pattern_, patternMask_, &views.image[0], views.runtimeMaskInUse(), &positions,
                                 endpoints_, endpointsFlag_, params_, planes, detected, peaksOut);
    }

private:
    const qimg_windowConst* pattern_;
    const qimg_windowConst* patternMask_;
    const qsrch_givenPatternStats* given_;
    const qstd_vector_qstd_pair32* endpoints_;
    uint32_t endpointsFlag_;
    const qsrch_normalizedCorrelationParams* params_;
};

// The call of a grey peak kernel; no window means the whole image.
qsrch::PeakCall greyCall(const qimg_windowConst* pattern, const qimg_windowConst* image,
                         const qimg_windowConst* runtimeMask, const qstd_rect32* window,
                         const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                         const qsrch_normalizedCorrelationParams* params, double peakThreshold)
{
    return qsrch::PeakCall{pattern,
                           {image, nullptr, nullptr},
                           present(runtimeMask) ? runtimeMask : nullptr,
                           window != nullptr ? *window : qstd_rect32{0, 0, image->width, image->height},
                           endpoints,
                           endpointsFlag,
                           qsrch::tooLargeForIntegers(pattern->width, pattern->height),
                           params,
                           peakThreshold};
}

}  // namespace

namespace qsrch {

Status computeGreyPeaksDeferred(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                                const qstd_rect32* window, const qsrch_normalizedCorrelationParams* params,
                                const qsrch_givenPatternStats& given, double peakThreshold,
                                DeferredPeaks* deferred, qstd_vector_qsrch_detectedPosePeak* recordsOut)
{
    deferred->params = *params;
    deferred->pattern = pattern;
    deferred->patternMask = patternMask;
    const GreyPlanes set(pattern, patternMask, &given, nullptr, 0, &deferred->params);
    QSRCH_RETURN_IF_ERROR(detectIntoWork(
        set, greyCall(pattern, image, runtimeMask, window, nullptr, 0, &deferred->params, peakThreshold),
        &deferred->work));
    const qstd_vector_& detected = deferred->work.detected;
    const size_t count = detected.elementSize != 0 ? detected.size : 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_resize(recordsOut, count));
    auto* records = static_cast<qsrch_detectedPosePeak*>(recordsOut->begin);
    const auto* found = static_cast<const qip_detectedPeak*>(detected.begin);
    for (size_t k = 0; k < count; ++k) QSRCH_RETURN_IF_ERROR(recordOfDetected(found[k], &records[k]));
    // The search holds the planes while it follows the candidates; the rest goes now.
    deferred->work.releaseSpaceAndPeaks();
    deferred->active = true;
    return QSRCH_OK;
}

uint32_t roundedUnsigned(double x)
{
    const double r = x + 0.5;
    if (!(r >= 0)) return 0;
    if (r >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(r);
}

// The integer kernel where it can hold the mask's sum of squares, the double
// one where it would refuse the mask's size.
Status maskCareCount(const qimg_windowConst* mask, uint32_t* countOut)
{
    uint32_t sum = 0;
    qsrch_status status;
    if (tooLargeForIntegers(mask->width, mask->height)) {
        double sumSq = 0;
        status = qsrch_DcomputeOneSumISumISq(mask, &sum, &sumSq);
    } else {
        uint32_t sumSq = 0;
        status = qsrch_computeOneSumISumISq(mask, &sum, &sumSq);
    }
    *countOut = sum / 255;
    return status;
}

}  // namespace qsrch

extern "C" {

qsrch_status qsrch_computeStatsForPeaks(const qimg_windowConst* pattern,
                                        const qimg_windowConst* patternMask,
                                        const qimg_windowConst* image,
                                        const qimg_windowConst* runtimeMask,
                                        const qstd_vector_qstd_pair32* endpoints,
                                        const qsrch_givenPatternStats* given,
                                        const qsrch_peakPlanes* planes, uint32_t* totalCareOut)
{
    // The grey pattern sums run over every position even with endpoints.
    const qsrch::PlaneStatisticsInputs inputs{&pattern, patternMask, image, runtimeMask, endpoints, false};
    QSRCH_RETURN_IF_ERROR(qsrch::computePlaneStatistics(inputs, 1, planes));

    // The runtime mask decides per position which pattern pixels count;
    // given pattern statistics cannot say that.
    if (planes->perPositionPattern != 0)
        return patternCareCount(pattern, patternMask, *given, totalCareOut);

    const bool doubles = planes->doubles != 0;
    if (given->havePatStats != 0) {
        *planes->counts = given->n;
        *planes->patternSums = given->sum;
        if (doubles)
            *planes->patternSumSqsD = given->sumSq;
        else
            *planes->patternSumSqs = qsrch::roundedUnsigned(given->sumSq);
        *totalCareOut = given->n;
        return QSRCH_OK;
    }
    QSRCH_RETURN_IF_ERROR(doubles
                              ? qsrch_DcomputeOneSumISumISq(pattern, planes->patternSums, planes->patternSumSqsD)
                              : qsrch_computeOneSumISumISq(pattern, planes->patternSums, planes->patternSumSqs));
    QSRCH_RETURN_IF_ERROR(patternCareCount(pattern, patternMask, *given, planes->counts));
    *totalCareOut = *planes->counts;
    return QSRCH_OK;
}

qsrch_status qsrch_computeSpaceForPeaks(const qimg_windowConst* pattern,
                                        const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                                        const qstd_vector_qstd_pair32* endpoints,
                                        const qsrch_normalizedCorrelationParams* params,
                                        double* space, int32_t spaceStride)
{
    const uint32_t pw = static_cast<uint32_t>(pattern->width);
    const uint32_t ph = static_cast<uint32_t>(pattern->height);
    const uint32_t width = static_cast<uint32_t>(nx);
    const qsrch_peakPlanes& p = *planes;
    const bool masked = p.perPositionPattern != 0;
    const uint32_t spaceStrideU = static_cast<uint32_t>(spaceStride);
    const int32_t stride32 = static_cast<int32_t>(p.stride32);

    if (endpoints != nullptr) {
        if (masked)
            return qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
                pw, ph, p.counts, p.patternSums, p.patternSumSqs, p.stride32, width, ny, p.imageSums,
                p.imageSumSqs, p.stride32, p.innerProducts, p.stride32, params, space, spaceStrideU,
                endpoints, 1);
        return qsrch_computeNormalizedCorrelationUsingEndpoints(
            pw, ph, endpoints, 1, *p.counts, *p.patternSums, *p.patternSumSqs, width, ny,
            p.imageSums, p.imageSumSqs, p.stride32, p.innerProducts, stride32, params, space,
            spaceStride);
    }
    if (p.doubles != 0) {
        if (masked)
            return qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
                pw, ph, p.counts, p.patternSums, p.patternSumSqsD, p.stride32, width, ny,
                p.imageSums, p.imageSumSqsD, p.stride32, p.innerProductsD, p.strideD, params, space,
                spaceStrideU);
        return qsrch_DcomputeNormalizedCorrelation(
            pw, ph, *p.counts, *p.patternSums, *p.patternSumSqsD, width, ny, p.imageSums,
            p.imageSumSqsD, p.stride32, p.innerProductsD, static_cast<int32_t>(p.strideD), params,
            space, spaceStride);
    }
    if (masked)
        return qsrch_computeNormalizedCorrelationRuntimeMasked(
            pw, ph, p.counts, p.patternSums, p.patternSumSqs, p.stride32, width, ny, p.imageSums,
            p.imageSumSqs, p.stride32, p.innerProducts, p.stride32, params, space, spaceStrideU);
    return qsrch_computeNormalizedCorrelation(pw, ph, *p.counts, *p.patternSums, *p.patternSumSqs,
                                              width, ny, p.imageSums, p.imageSumSqs, p.stride32,
                                              p.innerProducts, stride32, params, space, spaceStride);
}

qsrch_status qsrch_computePeaksCommon(const qimg_windowConst* pattern,
                                      const qimg_windowConst* patternMask,
                                      const qimg_windowConst* image,
                                      const qimg_windowConst* runtimeMask,
                                      const qstd_rect32* window,
                                      const qstd_vector_qstd_pair32* endpoints,
                                      uint32_t endpointsFlag,
                                      const qsrch_normalizedCorrelationParams* params,
                                      uint32_t havePatStats, uint32_t patN, uint32_t patSum,
                                      double patSumSq, uint32_t haveN, uint32_t N,
                                      double peakThreshold,
                                      qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    const qsrch_givenPatternStats given{havePatStats, patN, patSum, patSumSq, haveN, N};
    const GreyPlanes set(pattern, patternMask, &given, endpoints, endpointsFlag, params);
    return qsrch::runPeakPipeline(
        set, greyCall(pattern, image, runtimeMask, window, endpoints, endpointsFlag, params, peakThreshold),
        peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaks(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, nullptr, nullptr, nullptr, 0, params,
                      kNothingGiven, peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksWithWindow(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, nullptr, window, nullptr, 0, params,
                      kNothingGiven, peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, uint32_t n, uint32_t patternSum, double patternSumSq,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, nullptr, nullptr, nullptr, 0, params,
                      patternStats(n, patternSum, patternSumSq, true), peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t n, uint32_t patternSum, double patternSumSq,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, nullptr, nullptr, endpoints, endpointsFlag,
                      params, patternStats(n, patternSum, patternSumSq, true), peakThreshold,
                      peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMasked(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, runtimeMask, nullptr, nullptr, 0, params,
                      kNothingGiven, peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
    const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, runtimeMask, nullptr, endpoints, endpointsFlag,
                      params, kNothingGiven, peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t n,
    uint32_t patternSum, double patternSumSq, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    return peaksEntry(pattern, patternMask, image, runtimeMask, nullptr, nullptr, 0, params,
                      patternStats(n, patternSum, patternSumSq, true), peakThreshold, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t n,
    uint32_t patternSum, double patternSumSq, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    // No care count here: with a runtime mask in use, the care limit's total
    // comes from the pattern mask (or the pattern's size).
    return peaksEntry(pattern, patternMask, image, runtimeMask, window, nullptr, 0, params,
                      patternStats(n, patternSum, patternSumSq, false), peakThreshold, peaksOut);
}

}  // extern "C"
