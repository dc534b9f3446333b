/* qsrch: score, contrast and brightness of a placement, and score spaces.
 *
 * Every result reduces to six sums over the care pixels of one placement of
 * the pattern on the image: the care count N, the pattern sum Sp and sum of
 * squares Spp, the image sum Si and sum of squares Sii, and the inner
 * product IP. With cov = N*IP - Sp*Si, vp = N*Spp - Sp^2, vi = N*Sii - Si^2
 * the default score is cov^2 / (vi*vp) for cov > 0 and 0 otherwise: r^2 of
 * a positive correlation. The mode flags of qsrch_normalizedCorrelationParams
 * change it: absoluteCorrelation scores either sign, negativeCorrelation
 * only an inverted match (absoluteCorrelation wins when both are set), and
 * covarianceScore gives cov / (N*sqrt(vp)), signed, ignoring the other two.
 * A zero denominator scores 0. Scores are not clamped to [0, 1]. */
#ifndef QSRCH_SCORING_H
#define QSRCH_SCORING_H

#include "kernels.h"
#include "params.h"

QSIB_EXTERN_C_BEGIN

/* ---- Contrast and brightness of one placement --------------------------------
 * Contrast is the image's standard deviation over the pattern's; brightness
 * the image sum over the pattern sum (a factor, not an offset). A care
 * count of 0 (or NaN) gives 1 and 1; a pattern without variance gives
 * contrast 1; a pattern sum of 0 gives brightness 1. Always succeed. */
QSRCH_API qsrch_status qsrch_DcomputeContrastAndBrightnessFromStats(
    double n, double patternSum, double patternSumSq, double imageSum, double imageSumSq,
    double* contrastOut, double* brightnessOut);
QSRCH_API qsrch_status qsrch_DcomputeContrastFromStats(double n, double patternSum,
                                                       double patternSumSq, double imageSum,
                                                       double imageSumSq, double* contrastOut);

/* ---- Score spaces -----------------------------------------------------------
 * The score at every position x < width, y < height from statistics planes
 * made by the kernels; plane element (x, y) at y * stride + x. The planes
 * must cover width x height positions at their strides; nothing is checked.
 * patternWidth and patternHeight only name the kernel for the inhibit query.
 * A height or width below 1 writes nothing. Always succeed.
 *
 * One pattern triple (care count n, patternSum, patternSumSq) for every
 * position. The D form takes sums of squares and inner products as doubles. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelation(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t patternSum,
    double patternSumSq, uint32_t width, int32_t height, const uint32_t* imageSums,
    const double* imageSumSqs, uint32_t imageStatsStride, const double* innerProducts,
    int32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params, double* scores,
    int32_t scoresStride);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelation(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t patternSum,
    uint32_t patternSumSq, uint32_t width, int32_t height, const uint32_t* imageSums,
    const uint32_t* imageSumSqs, uint32_t imageStatsStride, const uint32_t* innerProducts,
    int32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params, double* scores,
    int32_t scoresStride);

/* A care mask on the image: the care count and pattern sums differ per
 * position and come as planes (at patternStatsStride). */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const double* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const double* imageSumSqs,
    uint32_t imageStatsStride, const double* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride);
QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const uint32_t* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride);

/* ---- Scores straight from pixels --------------------------------------------
 * The score of a pattern against an image of the same size. The mask (may
 * be NULL or without pixels) selects the image pixels and gives the care
 * count, its sum over 255 rounded down; without it every pixel counts. The
 * pattern's sums and the inner product run over every pattern pixel, so a
 * caller that wants care pixels alone zeroes the pattern's don't-care
 * pixels. scoresStride has no effect. Returns the first failing kernel's
 * status. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationSpace(
    const qimg_windowConst* pattern, const qimg_windowConst* mask, const qimg_windowConst* image,
    const qsrch_normalizedCorrelationParams* params, double* scoreOut, uint32_t scoresStride);

/* Every plane a runtime-masked space needs, all at one stride: inner
 * products, image sums under the pattern mask (or the whole pattern
 * window), and the care counts and pattern sums left by both masks.
 * Returns the first failing kernel's status; later planes are then not
 * written. */
QSRCH_API qsrch_status qsrch_DcomputeSumsRuntimeMasked(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t stride,
    double* innerProducts, uint32_t* imageSums, double* imageSumSqs, uint32_t* counts,
    uint32_t* patternSums, double* patternSumSqs);

QSIB_EXTERN_C_END

#endif
