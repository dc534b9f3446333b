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
// computed by its entry from the planes and the pattern mask.
struct PatternStats3 {
    uint32_t n;
    uint32_t sums[3];
    double sumSqs[3];
};

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
// when none is in use), every plane writing the same care counts; without a
// runtime mask the call's single pattern statistics follow.
qsrch::Status computeStats3(const qsrch_peaks3Inputs& in, const qimg_windowConst* images,
                            const qimg_windowConst* runtimeMask, const qstd_vector_qstd_pair32* endpoints,
                            const PatternStats3& stats, const qsrch_peakPlanes* planes)
{
    const qsrch::PlaneStatisticsInputs inputs{in.pattern, in.patternMask, images, runtimeMask, endpoints, true};
    QSRCH_RETURN_IF_ERROR(qsrch::computePlaneStatistics(inputs, 3, planes));
    if (runtimeMask != nullptr) return QSRCH_OK;
    *planes[0].counts = stats.n;
    for (int k = 0; k < 3; ++k) {
        *planes[k].patternSums = stats.sums[k];
        if (planes[k].doubles != 0)
            *planes[k].patternSumSqsD = stats.sumSqs[k];
        else
            *planes[k].patternSumSqs = qsrch::roundedUnsigned(stats.sumSqs[k]);
    }
    return QSRCH_OK;
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

// The colour plane set: three planes with the call's pattern statistics,
// a space with a pixel for every candidate position of the image, scores
// weighted over the planes and no shape score.
class ColourPlanes final : public qsrch::PeakPlaneSet {
public:
    ColourPlanes(const qsrch_peaks3Inputs& in, const PatternStats3& stats, const Params* params,
                 const double* weights)
        : PeakPlaneSet(3, true), in_(in), stats_(stats), params_(params), weights_(weights)
    {
    }

    qsrch::Status fillStatistics(const qsrch::NarrowedViews& views, const qstd_vector_qstd_pair32* endpoints,
                                 const qsrch_peakPlanes* planes, uint32_t* careTotalOut) const override
    {
        *careTotalOut = stats_.n;
        return computeStats3(in_, views.image, views.runtimeMaskInUse(), endpoints, stats_, planes);
    }

    qsrch::Status scoreSpace(const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                             const qstd_vector_qstd_pair32* endpoints, double* scores,
                             int32_t scoresStride) const override
    {
        return computeSpace3(*in_.pattern[0], planes, nx, ny, endpoints, params_, weights_, scores, scoresStride);
    }

    // The nearest integer to float(n) * fraction, the product taken in
    // single precision; 0 (or less) leaves the plain detector.
    uint32_t careLimit(uint32_t careTotal, float fraction) const override
    {
        const float share = static_cast<float>(careTotal) * fraction;
        const int32_t limit = qmath_double_round(static_cast<double>(share));
        return limit > 0 ? static_cast<uint32_t>(limit) : 0;
    }

    qsrch::Status refine(const qsrch::NarrowedViews&, const qstd_rect32& positions,
                         const qsrch_peakPlanes* planes, const qstd_vector_* detected,
                         qstd_vector_qsrch_detectedPosePeak* peaksOut) const override
    {
        return qsrch_refinePeaks3(&positions, in_.endpoints, in_.endpointsFlag, params_, weights_, planes,
                                  detected, peaksOut);
    }

private:
    const qsrch_peaks3Inputs& in_;
    const PatternStats3& stats_;
    const Params* params_;
    const double* weights_;
};

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

// The pattern statistics of an entry that is given none, taken before
// anything else: each plane's sums (by the double kernel on the double
// route) and the care count of the pattern mask, or every pixel.
qsrch::Status givePatternsOwnStats(qsrch_peaks3Inputs* in)
{
    for (int k = 0; k < 3; ++k) {
        if (in->doubles != 0) {
            QSRCH_RETURN_IF_ERROR(
                qsrch_DcomputeOneSumISumISq(in->pattern[k], &in->patternSums[k], &in->patternSumSqs[k]));
        } else {
            uint32_t sumSq = 0;
            QSRCH_RETURN_IF_ERROR(qsrch_computeOneSumISumISq(in->pattern[k], &in->patternSums[k], &sumSq));
            in->patternSumSqs[k] = sumSq;
        }
    }
    if (present(in->patternMask)) return qsrch::maskCareCount(in->patternMask, &in->n);
    const qimg_windowConst& pattern0 = *in->pattern[0];
    in->n = static_cast<uint32_t>(pattern0.width) * static_cast<uint32_t>(pattern0.height);
    return QSRCH_OK;
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
    const PatternStats3 stats{in.n,
                              {in.patternSums[0], in.patternSums[1], in.patternSums[2]},
                              {in.patternSumSqs[0], in.patternSumSqs[1], in.patternSumSqs[2]}};
    const ColourPlanes set(in, stats, params, weights);
    const qsrch::PeakCall call{in.pattern[0],
                               {in.image[0], in.image[1], in.image[2]},
                               in.runtimeMask,
                               in.window,
                               in.endpoints,
                               in.endpointsFlag,
                               in.doubles != 0,
                               params,
                               peakThreshold};
    return qsrch::runPeakPipeline(set, call, peaksOut);
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
    QSRCH_RETURN_IF_ERROR(givePatternsOwnStats(&in));
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
    QSRCH_RETURN_IF_ERROR(givePatternsOwnStats(&in));
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
