/* qsrch: three-plane (colour) scores. A colour pattern and image are three
 * planes of 8-bit pixels, scored as one vector whose planes carry weights
 * w0, w1, w2 (read through a pointer to three doubles; any value, negative
 * or zero included, enters the sums as given). With the per-plane sums of
 * one placement and the care count N shared by the planes,
 *   cov = N * sum(w_k*IP_k)  - sum(w_k*Sp_k*Si_k)
 *   vp  = N * sum(w_k*Spp_k) - sum(w_k*Sp_k^2)
 *   vi  = N * sum(w_k*Sii_k) - sum(w_k*Si_k^2)
 * enter the score modes of the single-plane score (scoring.h) unchanged.
 * All arithmetic is in doubles. Weights (1, 0, 0) give the grey score of
 * plane 0; weights (0, 0, 0) score 0. */
#ifndef QSRCH_THREE_PLANE_H
#define QSRCH_THREE_PLANE_H

#include "peaks.h"
#include "scoring.h"

QSIB_EXTERN_C_BEGIN

/* Contrast: the weighted image deviation over the weighted pattern
 * deviation. Brightness: sum(w_k*Sp_k*Si_k) / sum(w_k*Sp_k^2), the weighted
 * least-squares factor from pattern sums to image sums. A care count of 0
 * (or NaN) gives 1 and 1; a pattern without weighted variance gives
 * contrast 1; weighted pattern sums of 0 give brightness 1. Always
 * succeeds. */
QSRCH_API qsrch_status qsrch_DcomputeContrastAndBrightnessFromStats3(
    double n, double Sp0, double Sp1, double Sp2, double Spp0, double Spp1, double Spp2, double Si0,
    double Si1, double Si2, double Sii0, double Sii1, double Sii2, const double* weights,
    double* contrastOut, double* brightnessOut);

/* ---- Three-plane score spaces -------------------------------------------------
 * As the single-plane spaces, with one array per plane: the three image-sum
 * and image-sum-of-squares arrays share imageStatsStride, the three
 * inner-product arrays innerProductsStride, the per-position pattern arrays
 * patternStatsStride. patternWidth and patternHeight are not used. A height
 * or width below 1 writes nothing. Always succeed.
 *
 * One care count n and pattern sums for every position. Both forms take the
 * pattern sums of squares as doubles. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelation3(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t Sp0, uint32_t Sp1,
    uint32_t Sp2, double Spp0, double Spp1, double Spp2, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const double* Sii0,
    const double* Sii1, const double* Sii2, uint32_t imageStatsStride, const double* IP0,
    const double* IP1, const double* IP2, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    int32_t scoresStride);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelation3(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t Sp0, uint32_t Sp1,
    uint32_t Sp2, double Spp0, double Spp1, double Spp2, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const uint32_t* Sii0,
    const uint32_t* Sii1, const uint32_t* Sii2, uint32_t imageStatsStride, const uint32_t* IP0,
    const uint32_t* IP1, const uint32_t* IP2, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    int32_t scoresStride);

/* A care mask on the image: the care count and the pattern sums of each
 * plane come as planes. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationRuntimeMasked3(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts, const uint32_t* Sp0,
    const uint32_t* Sp1, const uint32_t* Sp2, const double* Spp0, const double* Spp1,
    const double* Spp2, uint32_t patternStatsStride, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const double* Sii0,
    const double* Sii1, const double* Sii2, uint32_t imageStatsStride, const double* IP0,
    const double* IP1, const double* IP2, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    uint32_t scoresStride);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked3(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts, const uint32_t* Sp0,
    const uint32_t* Sp1, const uint32_t* Sp2, const uint32_t* Spp0, const uint32_t* Spp1,
    const uint32_t* Spp2, uint32_t patternStatsStride, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const uint32_t* Sii0,
    const uint32_t* Sii1, const uint32_t* Sii2, uint32_t imageStatsStride, const uint32_t* IP0,
    const uint32_t* IP1, const uint32_t* IP2, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    uint32_t scoresStride);

/* ---- Three-plane score straight from pixels ----------------------------------
 * The score of a three-plane pattern against a three-plane image of the
 * same size. The mask (may be NULL or without pixels) serves all planes as
 * in qsrch_DcomputeNormalizedCorrelationSpace. The D form hands patterns of
 * up to 65536 pixels to the integer form and uses the double kernels for
 * larger ones; the integer form refuses larger patterns with
 * QSRCH_E_PATTERN_TOO_LARGE. scoresStride has no effect. Returns the first
 * failing kernel's status. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationSpace3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* mask, const qimg_windowConst* image0,
    const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scoreOut,
    uint32_t scoresStride);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationSpace3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* mask, const qimg_windowConst* image0,
    const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scoreOut,
    uint32_t scoresStride);

/* ---- Three-plane correlation peaks --------------------------------------------
 * The colour forms of the peak functions (peaks.h): every form takes the
 * three pattern planes, one pattern mask serving all of them, the three
 * image planes, and ends with (peakThreshold, params, weights, peaksOut).
 * Sizes are read from pattern0 and image0; the other planes must match
 * them. Each peak's score, neighbour scores, contrast and brightness are the
 * weighted three-plane ones; the shape score is never applied, whatever
 * params->shapeScoreOptimization says.
 *
 * A runtime mask is in use whenever its pointer is non-NULL (a record
 * without pixels cares for nothing). It makes the care count and the
 * planes' pattern sums per position; params->minCareFraction then drops
 * peaks whose care count is below round(float(n) * minCareFraction), with n
 * the care count given. Without one, the given n, Sp_k and Spp_k are the
 * pattern statistics of every position. Forms ending in 3 without D take
 * every statistic as an unsigned 32-bit value and refuse patterns of more
 * than 65536 pixels (QSRCH_E_PATTERN_TOO_LARGE); the D forms hand smaller
 * patterns to them, with each Spp_k rounded to floor(Spp_k + 0.5), and
 * compute larger ones in doubles. Without a window, the whole of image0 is
 * searched. With endpointsFlag 1 the endpoint list (one column run per image
 * row) restricts scoring on the integer route; the D endpoint form drops it
 * for patterns of more than 65536 pixels.
 *
 * An image or window smaller than the pattern gives no peaks and status 0.
 * Otherwise the first failing service or kernel status is returned; peaksOut
 * then holds the peaks refined so far. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaks3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaks3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    double Spp0, double Spp1, double Spp2, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    double Spp0, double Spp1, double Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, double Spp0, double Spp1,
    double Spp2, double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    const double* weights, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    uint32_t Spp0, uint32_t Spp1, uint32_t Spp2, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
    uint32_t Spp0, uint32_t Spp1, uint32_t Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* patternMask,
    const qimg_windowConst* image0, const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qimg_windowConst* runtimeMask, uint32_t n, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, uint32_t Spp0,
    uint32_t Spp1, uint32_t Spp2, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, const double* weights,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);

QSIB_EXTERN_C_END

#endif
