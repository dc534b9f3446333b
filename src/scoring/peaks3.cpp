// Three-plane (colour) correlation peaks: per-plane statistics of every
// candidate position of a window grown by one position on each side, the
// weighted three-plane score space over them, the detector's local maxima
// inside the window, and their refinement into pose peaks scored with the
// plane weights.
//
// Arithmetic: per plane as the one-plane peaks. Patterns of up to 0x10000
// pixels take the integer path, where every statistic is an exact unsigned
// 32-bit sum; larger ones the double path, where sums of squares and inner
// products are exact doubles. Every three-plane score, contrast and
// brightness is then formed in doubles from those exact sums. The score
// space is image-sized, so that its pixel coordinates are the image's
// candidate positions, but only the grown window's part is computed or read.
#include <cstddef>
#include <cstdint>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using qsrch::CallFrame;
using qsrch::present;
using Params = qsrch_normalizedCorrelationParams;

// The pattern statistics a call works with: given by the caller, or
// computed from the planes and the pattern mask.
struct PatternStats3 {
    uint32_t n;
    uint32_t sums[3];
    double sumSqs[3];
};

qsrch::Status computePatternStats3(const qsrch_peaks3Inputs& in, PatternStats3* out)
{
    for (int k = 0; k < 3; ++k) {
        if (in.doubles != 0) {
            QSRCH_RETURN_IF_ERROR(qsrch_DcomputeOneSumISumISq(in.pattern[k], &out->sums[k], &out->sumSqs[k]));
        } else {
            uint32_t sumSq = 0;
            QSRCH_RETURN_IF_ERROR(qsrch_computeOneSumISumISq(in.pattern[k], &out->sums[k], &sumSq));
            out->sumSqs[k] = sumSq;
        }
    }
    if (present(in.patternMask)) return qsrch::maskCareCount(in.patternMask, &out->n);
    const qimg_windowConst& pattern0 = *in.pattern[0];
    out->n = static_cast<uint32_t>(pattern0.width) * static_cast<uint32_t>(pattern0.height);
    return QSRCH_OK;
}

// One field of each of the three plane sets.
template <class T>
struct Three {
    T* k[3];
};

template <class T>
Three<T> eachSet(const qsrch_peakPlanes* sets, T* qsrch_peakPlanes::*field)
{
    return {{sets[0].*field, sets[1].*field, sets[2].*field}};
}

// Fills the planes from the narrowed image planes and runtime mask (null
// when none is in use). Per plane: inner products (on the runs grown by one
// position when endpoints are in use, so that the refinement finds every
// neighbour of a listed position), image sums under the pattern mask or
// the plane's own window, and with a runtime mask the care count and the
// plane's pattern sums per position, every plane writing the same counts.
qsrch::Status computeStats3(const qsrch_peaks3Inputs& in, const qimg_windowConst* images,
                            const qimg_windowConst* runtimeMask, const qstd_vector_qstd_pair32* endpoints,
                            const PatternStats3& stats, const qsrch_peakPlanes* planes)
{
    CallFrame<1> frame;
    qstd_vector_qstd_pair32 dilated;  // lives as long as the frame that releases it
    if (endpoints != nullptr) {
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qstd_pair32_construct(&dilated, 0)));
        frame.release<qstd_vector_qstd_pair32_destruct>(0, &dilated);
        QSRCH_RETURN_IF_ERROR(
            frame.track(qsrch::dilateEndpointsForPeaks(endpoints, *in.pattern[0], images[0], &dilated)));
    }
    const bool masked = present(in.patternMask);
    for (int k = 0; k < 3; ++k) {
        const qimg_windowConst* pattern = in.pattern[k];
        const qimg_windowConst* image = &images[k];
        const qsrch_peakPlanes& p = planes[k];
        const bool doubles = p.doubles != 0;

        if (endpoints != nullptr) {
            frame.status = (qsrch_computeInnerProductsUsingEndpoints(pattern, image, p.innerProducts,
                                                                     p.stride32, &dilated, 1));
        } else {
            frame.status =
                (doubles ? qsrch_DcomputeInnerProducts(pattern, image, p.innerProductsD, p.strideD)
                         : qsrch_computeInnerProducts(pattern, image, p.innerProducts, p.stride32));
        }
        QSRCH_RETURN_IF_ERROR(frame.status);

        const qimg_windowConst* sumWindow = masked ? in.patternMask : pattern;
        if (doubles) {
            frame.status =
                (masked
                     ? qsrch_DcomputeMaskSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqsD, p.stride32)
                     : qsrch_DcomputeSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqsD, p.stride32));
        } else {
            frame.status =
                (masked
                     ? qsrch_computeMaskSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqs, p.stride32)
                     : qsrch_computeSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqs, p.stride32));
        }
        QSRCH_RETURN_IF_ERROR(frame.status);

        if (runtimeMask == nullptr) continue;
        if (endpoints != nullptr) {
            frame.status = (qsrch_computeMaskPatSumPatSumSqUsingEndpoints(
                pattern, in.patternMask, runtimeMask, p.counts, p.patternSums, p.patternSumSqs, p.stride32,
                &dilated, 1));
        } else if (doubles) {
            frame.status = (qsrch_DcomputeMaskPatSumPatSumSq(pattern, in.patternMask, runtimeMask, p.counts,
                                                             p.patternSums, p.patternSumSqsD, p.stride32));
        } else {
            frame.status = (qsrch_computeMaskPatSumPatSumSq(pattern, in.patternMask, runtimeMask, p.counts,
                                                            p.patternSums, p.patternSumSqs, p.stride32));
        }
        QSRCH_RETURN_IF_ERROR(frame.status);
    }

    if (runtimeMask == nullptr) {
        *planes[0].counts = stats.n;
        for (int k = 0; k < 3; ++k) {
            *planes[k].patternSums = stats.sums[k];
            if (planes[k].doubles != 0)
                *planes[k].patternSumSqsD = stats.sumSqs[k];
            else
                *planes[k].patternSumSqs = qsrch::roundedUnsigned(stats.sumSqs[k]);
        }
    }
    return frame.finish();
}

// Scores the planes' nx x ny positions into `scores` (row stride in
// doubles) with the three-plane space form that fits the planes.
qsrch::Status computeSpace3(const qimg_windowConst& pattern0, const qsrch_peakPlanes* planes, int32_t nx,
                            int32_t ny, const qstd_vector_qstd_pair32* endpoints, const Params* params,
                            const double* weights, double* scores, int32_t scoresStride)
{
    const uint32_t pw = static_cast<uint32_t>(pattern0.width);
    const uint32_t ph = static_cast<uint32_t>(pattern0.height);
    const uint32_t width = static_cast<uint32_t>(nx);
    const uint32_t stride = planes[0].stride32;  // the double planes step alike
    const int32_t strideSigned = static_cast<int32_t>(stride);
    const uint32_t scoresStrideU = static_cast<uint32_t>(scoresStride);
    const uint32_t* counts = planes[0].counts;
    const auto Sp = eachSet(planes, &qsrch_peakPlanes::patternSums);
    const auto Si = eachSet(planes, &qsrch_peakPlanes::imageSums);

    if (planes[0].doubles != 0) {
        const auto Spp = eachSet(planes, &qsrch_peakPlanes::patternSumSqsD);
        const auto Sii = eachSet(planes, &qsrch_peakPlanes::imageSumSqsD);
        const auto IP = eachSet(planes, &qsrch_peakPlanes::innerProductsD);
        if (planes[0].perPositionPattern != 0)
            return qsrch_DcomputeNormalizedCorrelationRuntimeMasked3(
                pw, ph, counts, Sp.k[0], Sp.k[1], Sp.k[2], Spp.k[0], Spp.k[1], Spp.k[2], stride,
                width, ny, Si.k[0], Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0],
                IP.k[1], IP.k[2], stride, params, weights, scores, scoresStrideU);
        return qsrch_DcomputeNormalizedCorrelation3(
            pw, ph, *counts, *Sp.k[0], *Sp.k[1], *Sp.k[2], *Spp.k[0], *Spp.k[1], *Spp.k[2], width,
            ny, Si.k[0], Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0], IP.k[1],
            IP.k[2], strideSigned, params, weights, scores, scoresStride);
    }

    const auto Spp = eachSet(planes, &qsrch_peakPlanes::patternSumSqs);
    const auto Sii = eachSet(planes, &qsrch_peakPlanes::imageSumSqs);
    const auto IP = eachSet(planes, &qsrch_peakPlanes::innerProducts);
    if (planes[0].perPositionPattern != 0) {
        if (endpoints != nullptr)
            return qsrch_computeNormalizedCorrelationRuntimeMasked3UsingEndpoints(
                pw, ph, counts, Sp.k[0], Sp.k[1], Sp.k[2], Spp.k[0], Spp.k[1], Spp.k[2], stride,
                width, ny, Si.k[0], Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0],
                IP.k[1], IP.k[2], stride, params, weights, scores, scoresStrideU, endpoints, 1);
        return qsrch_computeNormalizedCorrelationRuntimeMasked3(
            pw, ph, counts, Sp.k[0], Sp.k[1], Sp.k[2], Spp.k[0], Spp.k[1], Spp.k[2], stride, width,
            ny, Si.k[0], Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0], IP.k[1],
            IP.k[2], stride, params, weights, scores, scoresStrideU);
    }
    const double Spp0 = *Spp.k[0], Spp1 = *Spp.k[1], Spp2 = *Spp.k[2];
    if (endpoints != nullptr) {
        // Offered to the inhibit query under the space's own name; no
        // optimized form exists, so the endpoint loop always runs.
        return qsrch::dispatch(u"qsrch_computeNormalizedCorrelation3", qsrch::noOptimizedPath, [&] {
            return qsrch_computeNormalizedCorrelation3UsingEndpoints(
                pw, ph, endpoints, 1, *counts, *Sp.k[0], *Sp.k[1], *Sp.k[2], Spp0, Spp1, Spp2,
                width, ny, Si.k[0], Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0],
                IP.k[1], IP.k[2], strideSigned, params, weights, scores, scoresStride);
        });
    }
    return qsrch_computeNormalizedCorrelation3(
        pw, ph, *counts, *Sp.k[0], *Sp.k[1], *Sp.k[2], Spp0, Spp1, Spp2, width, ny, Si.k[0],
        Si.k[1], Si.k[2], Sii.k[0], Sii.k[1], Sii.k[2], stride, IP.k[0], IP.k[1], IP.k[2],
        strideSigned, params, weights, scores, scoresStride);
}

// The care limit: the nearest integer to float(n) * fraction, the product
// taken in single precision; 0 (or less) leaves the plain detector.
uint32_t careLimit3(uint32_t n, float fraction)
{
    const float share = static_cast<float>(n) * fraction;
    const int32_t limit = qmath_double_round(static_cast<double>(share));
    return limit > 0 ? static_cast<uint32_t>(limit) : 0;
}

// ---- Entries --------------------------------------------------------------------

struct Views3 {
    const qimg_windowConst* pattern[3];
    const qimg_windowConst* patternMask;
    const qimg_windowConst* image[3];
};

qsrch_peaks3Inputs inputsOf(const Views3& v)
{
    qsrch_peaks3Inputs in{};
    for (int k = 0; k < 3; ++k) {
        in.pattern[k] = v.pattern[k];
        in.image[k] = v.image[k];
    }
    in.patternMask = v.patternMask;
    return in;
}

void givePatternStats(qsrch_peaks3Inputs* in, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
                      double Spp0, double Spp1, double Spp2)
{
    in->patternStatsGiven = 1;
    in->n = n;
    in->patternSums[0] = Sp0, in->patternSums[1] = Sp1, in->patternSums[2] = Sp2;
    in->patternSumSqs[0] = Spp0, in->patternSumSqs[1] = Spp1, in->patternSumSqs[2] = Spp2;
}

qsrch::Status wholeImage(const qimg_windowConst* image0, qstd_rect32* window)
{
    return qstd_rect32_init(window, 0, 0, image0->width, image0->height);
}

bool integerRoute(const qimg_windowConst* pattern0)
{
    return !qsrch::tooLargeForIntegers(pattern0->width, pattern0->height);
}

}  // namespace

extern "C" {

qsrch_status qsrch_refinePeaks3(const qstd_rect32* positions,
                                const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                                const qsrch_normalizedCorrelationParams* params,
                                const double* weights, const qsrch_peakPlanes* planes,
                                const qstd_vector_* detected,
                                qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    // No views: the shape score compares grey pixels and has no colour form.
    return qsrch_refineDetectedPeaks(params, weights, 3, planes, positions, endpoints, endpointsFlag,
                                     nullptr, detected, peaksOut);
}

qsrch_status qsrch_computePeaksCommon3(const qsrch_peaks3Inputs* inputs, double peakThreshold,
                                       const qsrch_normalizedCorrelationParams* params,
                                       const double* weights,
                                       qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    const qsrch_peaks3Inputs& in = *inputs;
    const qimg_windowConst& pattern0 = *in.pattern[0];
    const qimg_windowConst& image0 = *in.image[0];
    const qstd_rect32& searchRect = in.window;
    const qstd_rect32 grown = qsrch::grownRect(searchRect, image0.width, image0.height);
    if (qsrch::noPeakPositions(pattern0, image0, searchRect, grown))
        return qstd_vector_qsrch_detectedPosePeak_resize(peaksOut, 0);

    PatternStats3 stats{in.n,
                        {in.patternSums[0], in.patternSums[1], in.patternSums[2]},
                        {in.patternSumSqs[0], in.patternSumSqs[1], in.patternSumSqs[2]}};
    if (in.patternStatsGiven == 0) {
        QSRCH_RETURN_IF_ERROR(computePatternStats3(in, &stats));
    }

    const bool doubles = in.doubles != 0;
    CallFrame<4> frame;
    qstd_vector32 block32;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector32_construct(&block32, 0)));
    frame.release<qstd_vector32_destruct>(0, &block32);
    qstd_vectord blockD{};
    if (doubles) {
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vectord_construct(&blockD, 0)));
        frame.release<qstd_vectord_destruct>(1, &blockD);
    }

    qimg_windowConst images[3], maskView;
    for (int k = 0; k < 3; ++k)
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch::narrowToGrown(*in.image[k], grown, &images[k])));
    const bool runtimeMasked = in.runtimeMask != nullptr;
    if (runtimeMasked) {
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch::narrowToGrown(*in.runtimeMask, grown, &maskView)));
        // A mask record without pixels is still in use: it cares for nothing,
        // which an empty view tells the kernels without their reading it.
        if (maskView.firstPixel == nullptr) maskView.width = maskView.height = 0;
    }

    const qstd_vector_qstd_pair32* endpointsInUse =
        !doubles && in.endpoints != nullptr && in.endpointsFlag == 1 ? in.endpoints : nullptr;
    const int32_t nx = images[0].width - pattern0.width + 1;
    const int32_t ny = images[0].height - pattern0.height + 1;
    const qsrch::PeakPlaneLayout layout(doubles, runtimeMasked, endpointsInUse != nullptr, 3, nx, ny);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector32_resize(&block32, layout.count32())));
    if (layout.countD() != 0)
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vectord_resize(&blockD, layout.countD())));
    qsrch_peakPlanes planes[3];
    qsrch::placePeakPlanes(layout, block32.begin, blockD.begin, planes);
    QSRCH_RETURN_IF_ERROR(frame.track(
        computeStats3(in, images, runtimeMasked ? &maskView : nullptr, endpointsInUse, stats, planes)));

    // The space has a pixel for every candidate position of the image; the
    // grown rectangle's part is written from (x0, y0).
    qimg_image space;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_construct(
        &space, QIMG_DEPTH_64F, image0.width - pattern0.width + 1, image0.height - pattern0.height + 1)));
    frame.release<qimg_image_destruct>(2, &space);
    qimg_window spaceView;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&spaceView, &space)));
    double* scores = static_cast<double*>(spaceView.firstPixel) +
                     static_cast<ptrdiff_t>(grown.y) * spaceView.rowStride + grown.x;
    QSRCH_RETURN_IF_ERROR(frame.track(computeSpace3(pattern0, planes, nx, ny, endpointsInUse, params, weights,
                                                    scores, spaceView.rowStride)));

    // The detector sees the computed part alone. Its view keeps the space's
    // frame (origin (x0, y0)), so the peak rectangle and the positions it
    // reports are the image's candidate positions, the care counts line up
    // with the view's pixels, and no plateau reaches pixels never scored.
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_window(&spaceView, grown.x, grown.y, nx, ny, nullptr)));
    qstd_vector_ detected;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qip_detectedPeak_construct(&detected, 0)));
    frame.release<qstd_vector_qip_detectedPeak_destruct>(3, &detected);

    const qstd_rect32 peakRect{searchRect.x, searchRect.y, searchRect.width - pattern0.width + 1,
                               searchRect.height - pattern0.height + 1};
    const uint32_t limit =
        runtimeMasked && params->minCareFraction != 0 ? careLimit3(stats.n, params->minCareFraction) : 0;
    if (limit != 0) {
        frame.status = (qip_detectPeaksDWithWindowWithNCareLimit(qimg_window_asConst(&spaceView), &peakRect,
                                                                 peakThreshold, planes[0].counts,
                                                                 planes[0].stride32, limit, &detected));
    } else {
        frame.status = (qip_detectPeaksDWithWindow(qimg_window_asConst(&spaceView), &peakRect, peakThreshold,
                                                   &detected));
    }
    QSRCH_RETURN_IF_ERROR(frame.status);

    const qstd_rect32 positions{grown.x, grown.y, nx, ny};
    return frame.finish(qsrch_refinePeaks3(&positions, in.endpoints, in.endpointsFlag, params, weights,
                                           planes, &detected, peaksOut));
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaks3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    qsrch_peaks3Inputs in =
        inputsOf({{pattern0, pattern1, pattern2}, patternMask, {image0, image1, image2}});
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &in.window));
    return qsrch_computePeaksCommon3(&in, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaks3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    if (integerRoute(pattern0))
        return qsrch_computeNormalizedCorrelationPeaks3(pattern0, pattern1, pattern2, patternMask,
                                                        image0, image1, image2, peakThreshold,
                                                        params, weights, peaksOut);
    qsrch_peaks3Inputs in =
        inputsOf({{pattern0, pattern1, pattern2}, patternMask, {image0, image1, image2}});
    in.doubles = 1;
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &in.window));
    return qsrch_computePeaksCommon3(&in, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    uint32_t Spp0, uint32_t Spp1, uint32_t Spp2, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    qsrch_peaks3Inputs in =
        inputsOf({{pattern0, pattern1, pattern2}, patternMask, {image0, image1, image2}});
    in.runtimeMask = runtimeMask;
    in.window = *window;
    givePatternStats(&in, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2);
    return qsrch_computePeaksCommon3(&in, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    uint32_t Spp0, uint32_t Spp1, uint32_t Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    qstd_rect32 window;
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &window));
    return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
        pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n, Sp0, Sp1,
        Sp2, Spp0, Spp1, Spp2, &window, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, uint32_t Spp0,
    uint32_t Spp1, uint32_t Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    qsrch_peaks3Inputs in =
        inputsOf({{pattern0, pattern1, pattern2}, patternMask, {image0, image1, image2}});
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &in.window));
    in.runtimeMask = runtimeMask;
    in.endpoints = endpoints;
    in.endpointsFlag = endpointsFlag;
    givePatternStats(&in, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2);
    return qsrch_computePeaksCommon3(&in, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    double Spp0, double Spp1, double Spp2, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    using qsrch::roundedUnsigned;
    if (integerRoute(pattern0))
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
            pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n, Sp0,
            Sp1, Sp2, roundedUnsigned(Spp0), roundedUnsigned(Spp1), roundedUnsigned(Spp2), window,
            peakThreshold, params, weights, peaksOut);
    qsrch_peaks3Inputs in =
        inputsOf({{pattern0, pattern1, pattern2}, patternMask, {image0, image1, image2}});
    in.runtimeMask = runtimeMask;
    in.window = *window;
    in.doubles = 1;
    givePatternStats(&in, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2);
    return qsrch_computePeaksCommon3(&in, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    double Spp0, double Spp1, double Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    using qsrch::roundedUnsigned;
    qstd_rect32 window;
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &window));
    if (integerRoute(pattern0))
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
            pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n, Sp0,
            Sp1, Sp2, roundedUnsigned(Spp0), roundedUnsigned(Spp1), roundedUnsigned(Spp2),
            peakThreshold, params, weights, peaksOut);
    return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
        pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n, Sp0, Sp1,
        Sp2, Spp0, Spp1, Spp2, &window, peakThreshold, params, weights, peaksOut);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, double Spp0, double Spp1,
    double Spp2, double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    const double* weights, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    using qsrch::roundedUnsigned;
    qstd_rect32 window;
    QSRCH_RETURN_IF_ERROR(wholeImage(image0, &window));
    if (integerRoute(pattern0))
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
            pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n,
            endpoints, endpointsFlag, Sp0, Sp1, Sp2, roundedUnsigned(Spp0), roundedUnsigned(Spp1),
            roundedUnsigned(Spp2), peakThreshold, params, weights, peaksOut);
    // Large patterns are scored everywhere; the run list has no double form.
    return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
        pattern0, pattern1, pattern2, patternMask, image0, image1, image2, runtimeMask, n, Sp0, Sp1,
        Sp2, Spp0, Spp1, Spp2, &window, peakThreshold, params, weights, peaksOut);
}

}  // extern "C"
