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

// floor(float(total) * fraction + 0.5) in single precision, truncated
// toward zero; a limit below 1 (or NaN) is 0.
uint32_t careLimitOf(uint32_t total, float fraction)
{
    const float limit = static_cast<float>(total) * fraction + 0.5f;
    if (!(limit >= 1.0f)) return 0;
    if (limit >= 4294967295.0f) return UINT32_MAX;
    return static_cast<uint32_t>(limit);
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

}  // namespace

namespace qsrch {

qstd_rect32 grownRect(const qstd_rect32& window, int32_t imageWidth, int32_t imageHeight)
{
    const int64_t x0 = std::max<int64_t>(int64_t{window.x} - 1, 0);
    const int64_t y0 = std::max<int64_t>(int64_t{window.y} - 1, 0);
    const int64_t x1 = std::min<int64_t>(imageWidth, int64_t{window.x} + window.width + 1);
    const int64_t y1 = std::min<int64_t>(imageHeight, int64_t{window.y} + window.height + 1);
    return qstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                       static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)};
}

bool noPeakPositions(const qimg_windowConst& pattern, const qimg_windowConst& image,
                     const qstd_rect32& window, const qstd_rect32& grown)
{
    const int64_t pw = pattern.width, ph = pattern.height;
    return image.width - pw + 1 < 1 || image.height - ph + 1 < 1 || window.width - pw + 1 < 1 ||
           window.height - ph + 1 < 1 || grown.width - pw + 1 < 1 || grown.height - ph + 1 < 1;
}

Status narrowToGrown(const qimg_windowConst& view, const qstd_rect32& grown, qimg_windowConst* out)
{
    *out = view;
    const qsrch_status status =
        qimg_windowConst_window(out, grown.x, grown.y, grown.width, grown.height, nullptr);
    out->x = 0;
    out->y = 0;
    return status;
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

Status dilateEndpointsForPeaks(const qstd_vector_qstd_pair32* endpoints, const qimg_windowConst& pattern,
                               const qimg_windowConst& image, qstd_vector_qstd_pair32* dilated)
{
    const qstd_pair32* listed = nullptr;
    uint32_t listedCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(endpoints, &listed, &listedCount));
    // The grown list holds a pair per image row; a shorter caller's list is
    // read as if padded with empty runs, never past its end.
    const size_t rows = std::max<size_t>(listedCount, static_cast<size_t>(image.height));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_resize(dilated, rows));
    std::copy(listed, listed + listedCount, dilated->begin);
    return qsrch_dilateEndpoints(dilated, dilated, 1, pattern.height, pattern.width, image.height,
                                 image.width);
}

PeakPlaneLayout::PeakPlaneLayout(bool doublePath, bool masked, bool endpoints, uint32_t sets,
                                 int32_t nx_, int32_t ny_)
    : doubles(doublePath), runtimeMasked(masked), aligned(endpoints), planeSets(sets), nx(nx_),
      ny(ny_)
{
    const size_t P = sets;
    room = aligned ? 4 * (static_cast<size_t>(nx) / 4) + 4 : static_cast<size_t>(nx);
    if (!doubles) {
        // Per set IP, Si, Sii; with a runtime mask the shared N and per set
        // Sp, Spp per position, else N and per set Sp, Spp once.
        pitch32 = 3 * P + (runtimeMasked ? 1 + 2 * P : 0);
        pitchD = 0;
        singles32 = runtimeMasked ? 0 : 1 + 2 * P;
        singlesD = 0;
    } else {
        // Unsigned: per set Si, and the shared N with per set Sp; double: per
        // set IP, Sii, and Spp.
        const size_t unsignedRows = P + (runtimeMasked ? 1 + P : 0);
        const size_t doubleRows = 2 * P + (runtimeMasked ? P : 0);
        pitchD = std::max(unsignedRows, doubleRows);
        pitch32 = pitchD;
        singles32 = runtimeMasked ? 0 : 1 + P;
        singlesD = runtimeMasked ? 0 : P;
    }
}

namespace {

// The first element of a block on a 16-byte boundary when the layout asks for it.
template <class T>
T* blockStart(T* begin, bool aligned)
{
    if (!aligned) return begin;
    const uintptr_t misalignment = reinterpret_cast<uintptr_t>(begin) % 16;
    return begin + (misalignment == 0 ? 0 : (16 - misalignment) / sizeof(T));
}

}  // namespace

void placePeakPlanes(const PeakPlaneLayout& layout, uint32_t* block32, double* blockD,
                     qsrch_peakPlanes* sets)
{
    const size_t S = layout.room, P = layout.planeSets;
    uint32_t* base = blockStart(block32, layout.aligned);
    uint32_t* singles = base + layout.rows32();
    for (size_t k = 0; k < P; ++k) {
        qsrch_peakPlanes& p = sets[k];
        p = qsrch_peakPlanes{};
        p.doubles = layout.doubles;
        p.perPositionPattern = layout.runtimeMasked;
        p.stride32 = static_cast<uint32_t>(layout.pitch32 * S);
        p.strideD = static_cast<uint32_t>(layout.pitchD * S);
        if (!layout.doubles) {
            p.innerProducts = base + 3 * k * S;
            p.imageSums = base + (3 * k + 1) * S;
            p.imageSumSqs = base + (3 * k + 2) * S;
            if (layout.runtimeMasked) {
                p.counts = base + 3 * P * S;
                p.patternSums = base + (3 * P + 1 + 2 * k) * S;
                p.patternSumSqs = base + (3 * P + 2 + 2 * k) * S;
            } else {
                p.counts = singles;
                p.patternSums = singles + 1 + 2 * k;
                p.patternSumSqs = singles + 2 + 2 * k;
            }
            continue;
        }
        p.imageSums = base + k * S;
        p.innerProductsD = blockD + 2 * k * S;
        p.imageSumSqsD = blockD + (2 * k + 1) * S;
        if (layout.runtimeMasked) {
            p.counts = base + P * S;
            p.patternSums = base + (P + 1 + k) * S;
            p.patternSumSqsD = blockD + (2 * P + k) * S;
        } else {
            p.counts = singles;
            p.patternSums = singles + 1 + k;
            p.patternSumSqsD = blockD + layout.rowsD() + k;
        }
    }
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
    CallFrame<1> frame;
    const bool doubles = planes->doubles != 0;
    const bool masked = present(patternMask);
    qstd_vector_qstd_pair32 dilated;  // lives as long as the frame that releases it

    // Inner products; with endpoints only on the runs grown by one position,
    // so that the refinement finds every neighbour of a listed position.
    if (endpoints != nullptr) {
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qstd_pair32_construct(&dilated, 0)));
        frame.release<qstd_vector_qstd_pair32_destruct>(0, &dilated);
        QSRCH_RETURN_IF_ERROR(
            frame.track(qsrch::dilateEndpointsForPeaks(endpoints, *pattern, *image, &dilated)));
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch_computeInnerProductsUsingEndpoints(
            pattern, image, planes->innerProducts, planes->stride32, &dilated, 1)));
    } else if (doubles) {
        QSRCH_RETURN_IF_ERROR(frame.track(
            qsrch_DcomputeInnerProducts(pattern, image, planes->innerProductsD, planes->strideD)));
    } else {
        QSRCH_RETURN_IF_ERROR(
            frame.track(qsrch_computeInnerProducts(pattern, image, planes->innerProducts, planes->stride32)));
    }

    // Image sums under the pattern mask, or under the whole pattern window.
    const qimg_windowConst* sumWindow = masked ? patternMask : pattern;
    QSRCH_RETURN_IF_ERROR(
        frame.track(doubles  ? masked ? qsrch_DcomputeMaskSumISumISq(sumWindow, image, planes->imageSums,
                                                                     planes->imageSumSqsD, planes->stride32)
                                      : qsrch_DcomputeSumISumISq(sumWindow, image, planes->imageSums,
                                                                 planes->imageSumSqsD, planes->stride32)
                     : masked ? qsrch_computeMaskSumISumISq(sumWindow, image, planes->imageSums,
                                                            planes->imageSumSqs, planes->stride32)
                             : qsrch_computeSumISumISq(sumWindow, image, planes->imageSums,
                                                       planes->imageSumSqs, planes->stride32)));

    if (planes->perPositionPattern != 0) {
        // The runtime mask decides per position which pattern pixels count;
        // given pattern statistics cannot say that.
        QSRCH_RETURN_IF_ERROR(
            frame.track(doubles ? qsrch_DcomputeMaskPatSumPatSumSq(pattern, patternMask, runtimeMask,
                                                                   planes->counts, planes->patternSums,
                                                                   planes->patternSumSqsD, planes->stride32)
                                : qsrch_computeMaskPatSumPatSumSq(pattern, patternMask, runtimeMask,
                                                                  planes->counts, planes->patternSums,
                                                                  planes->patternSumSqs, planes->stride32)));
        return frame.finish(patternCareCount(pattern, patternMask, *given, totalCareOut));
    }

    if (given->havePatStats != 0) {
        *planes->counts = given->n;
        *planes->patternSums = given->sum;
        if (doubles)
            *planes->patternSumSqsD = given->sumSq;
        else
            *planes->patternSumSqs = qsrch::roundedUnsigned(given->sumSq);
        *totalCareOut = given->n;
        return frame.finish();
    }
    QSRCH_RETURN_IF_ERROR(frame.track(
        doubles ? qsrch_DcomputeOneSumISumISq(pattern, planes->patternSums, planes->patternSumSqsD)
                : qsrch_computeOneSumISumISq(pattern, planes->patternSums, planes->patternSumSqs)));
    QSRCH_RETURN_IF_ERROR(frame.track(patternCareCount(pattern, patternMask, *given, planes->counts)));
    *totalCareOut = *planes->counts;
    return frame.finish();
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
    qstd_rect32 searchRect;
    if (window != nullptr) {
        searchRect = *window;
    } else {
        QSRCH_RETURN_IF_ERROR(qstd_rect32_init(&searchRect, 0, 0, image->width, image->height));
    }

    // The window grown by one position on each side: the neighbours of the
    // window's border positions.
    const qstd_rect32 grown = qsrch::grownRect(searchRect, image->width, image->height);

    // No candidate position: an empty answer, and nothing acquired.
    if (qsrch::noPeakPositions(*pattern, *image, searchRect, grown))
        return qstd_vector_qsrch_detectedPosePeak_resize(peaksOut, 0);

    CallFrame<4> frame;
    qstd_vector32 block32;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector32_construct(&block32, 0)));
    frame.release<qstd_vector32_destruct>(0, &block32);
    qstd_vectord blockD;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vectord_construct(&blockD, 0)));
    frame.release<qstd_vectord_destruct>(1, &blockD);
    qimg_image space;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructUnbound(&space)));
    frame.release<qimg_image_destruct>(2, &space);

    qimg_windowConst imageView, maskView;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch::narrowToGrown(*image, grown, &imageView)));
    const bool runtimeMasked = present(runtimeMask);
    if (runtimeMasked)
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch::narrowToGrown(*runtimeMask, grown, &maskView)));

    const bool doubles = qsrch::tooLargeForIntegers(pattern->width, pattern->height);
    const qstd_vector_qstd_pair32* endpointsInUse =
        !doubles && endpoints != nullptr && endpointsFlag == 1 ? endpoints : nullptr;
    const int32_t nx = imageView.width - pattern->width + 1;
    const int32_t ny = imageView.height - pattern->height + 1;
    const qsrch::PeakPlaneLayout layout(doubles, runtimeMasked, endpointsInUse != nullptr, 1, nx, ny);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector32_resize(&block32, layout.count32())));
    if (layout.countD() != 0)
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vectord_resize(&blockD, layout.countD())));
    qsrch_peakPlanes planes;
    qsrch::placePeakPlanes(layout, block32.begin, blockD.begin, &planes);

    const qsrch_givenPatternStats given{havePatStats, patN, patSum, patSumSq, haveN, N};
    uint32_t totalCare = 0;
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_computeStatsForPeaks(pattern, patternMask, &imageView, runtimeMasked ? &maskView : nullptr,
                                   endpointsInUse, &given, &planes, &totalCare)));

    const qstd_rect32 spaceRect{0, 0, nx, ny};
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_assignNewRect(&space, QIMG_DEPTH_64F, &spaceRect)));
    qimg_window spaceView;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&spaceView, &space)));
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_computeSpaceForPeaks(pattern, &planes, nx, ny, endpointsInUse, params,
                                   static_cast<double*>(spaceView.firstPixel), spaceView.rowStride)));

    // Space pixel (i, j) is candidate position (x0 + i, y0 + j) of the
    // caller's view; the detector reports positions, and reads the peak
    // rectangle, in that frame. The view gets the origin too, whether or not
    // the image service carries it over.
    space.x = grown.x;
    space.y = grown.y;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&spaceView, &space)));
    spaceView.x = space.x;
    spaceView.y = space.y;
    qstd_vector_ detected;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qip_detectedPeak_construct(&detected, 0)));
    frame.release<qstd_vector_qip_detectedPeak_destruct>(3, &detected);

    const qstd_rect32 peakRect{searchRect.x, searchRect.y, searchRect.width - pattern->width + 1,
                               searchRect.height - pattern->height + 1};
    const uint32_t careLimit =
        runtimeMasked && params->minCareFraction != 0 ? careLimitOf(totalCare, params->minCareFraction)
                                                      : 0;
    QSRCH_RETURN_IF_ERROR(frame.track(careLimit != 0
                                          ? qip_detectPeaksDWithWindowWithNCareLimit(
                                                qimg_window_asConst(&spaceView), &peakRect, peakThreshold,
                                                planes.counts, planes.stride32, careLimit, &detected)
                                          : qip_detectPeaksDWithWindow(qimg_window_asConst(&spaceView),
                                                                       &peakRect, peakThreshold, &detected)));

    const qstd_rect32 positions{grown.x, grown.y, nx, ny};
    return frame.finish(qsrch_refinePeaks(pattern, patternMask, &imageView,
                                          runtimeMasked ? &maskView : nullptr, &positions, endpoints,
                                          endpointsFlag, params, &planes, &detected, peaksOut));
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
