/* qsrch: correlation peaks. The peak functions score a pattern at every
 * candidate position of an image (or of a window of it), find the local
 * maxima of the score space, and refine each into a pose peak: score,
 * sub-pixel position, contrast, brightness. */
#ifndef QSRCH_PEAKS_H
#define QSRCH_PEAKS_H

#include "../qimg/qimg.h"
#include "params.h"
#include "vectors.h"

QSIB_EXTERN_C_BEGIN

/* One found peak, and the candidate the search carries from level to level. */
typedef struct qsrch_detectedPosePeak {
    qmath_xformLinear pose;      /* identity matrix; translation = sub-pixel position */
    double score;                /* correlation score (possibly raised by the shape score) */
    uint32_t flags;              /* the peak detector's flags */
    double contrast;             /* image deviation over pattern deviation */
    double brightness;           /* image sum over pattern sum */
    qstd_pair32 integerPosition; /* first = x, second = y */
    int32_t searchGranularity;   /* search bookkeeping; 0 from the peak functions */
    int32_t searchLevel;         /* search bookkeeping; 0 from the peak functions */
    uint32_t searchSplit;        /* search bookkeeping; 0 from the peak functions */
    uint32_t careCount;          /* care count at the peak */
} qsrch_detectedPosePeak;

QSRCH_DECLARE_VECTOR_FAMILY(qsrch_detectedPosePeak)

/* ---- Peaks of a correlation space --------------------------------------------
 * Every form scores the pattern at each candidate position of the image (or
 * of the window, a rectangle of the image in its pixel frame), finds the
 * local maxima whose score passes peakThreshold and writes one pose peak per
 * maximum to peaksOut (resized to their number, in the detector's order,
 * highest first by the height interpolated between grid positions):
 * recomputed score, sub-pixel position, integer position, contrast,
 * brightness and care count. Positions are candidate positions of the image
 * view (pattern pixel (0, 0) over image pixel (x, y)). A window reports only
 * its own positions; the positions around it, where the image has them,
 * still serve as neighbours for detection and the sub-pixel fit.
 *
 * patternMask and runtimeMask count as absent when NULL or without pixels;
 * the runtime mask (the image's care mask, the image's size) makes care
 * counts and pattern sums differ per position, and params->minCareFraction
 * then drops peaks left with too few care pixels. The pattern's sums and the
 * inner products run over every pattern pixel, so callers zero the pattern's
 * don't-care pixels. Forms taking (n, patternSum, patternSumSq) use them
 * instead of computing the pattern's statistics (without a runtime mask).
 * Endpoint lists hold one (start, end) column run per image row and, with
 * endpointsFlag 1, restrict scoring to those runs for patterns of up to
 * 65536 pixels. params->shapeScoreOptimization may raise scores by the
 * shape score below.
 *
 * An image or window smaller than the pattern gives no peaks and status 0.
 * Otherwise the first failing service or kernel status is returned; peaksOut
 * then holds the peaks refined so far. */
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaks(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksWithWindow(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, uint32_t n, uint32_t patternSum, double patternSumSq,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, uint32_t n, uint32_t patternSum, double patternSumSq,
    double peakThreshold, const qsrch_normalizedCorrelationParams* params,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMasked(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
    const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t n,
    uint32_t patternSum, double patternSumSq, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);
QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t n,
    uint32_t patternSum, double patternSumSq, const qstd_rect32* window, double peakThreshold,
    const qsrch_normalizedCorrelationParams* params, qstd_vector_qsrch_detectedPosePeak* peaksOut);

/* ---- Shape score ---------------------------------------------------------------
 * Raises *scoreInOut to the best squared correlation between the pattern cut
 * at shapeThreshold (foreground: pattern value >= shapeThreshold) and the
 * image cut at any grey level 1..255, over the pixels both masks care for
 * (a NULL mask cares everywhere). The comparison covers the pattern's size
 * at the top-left of each image, which must be at least that large. The
 * score is never lowered. Returns the first failing service status. */
QSRCH_API qsrch_status qsrch_computeShapeScoreOptimizationForImage(
    const qimg_imageConst* pattern, const qimg_imageConst* patternMask,
    const qimg_imageConst* image, const qimg_imageConst* runtimeMask, uint8_t shapeThreshold,
    double* scoreInOut);

QSIB_EXTERN_C_END

#endif
