// The working state shared by the peak functions and the refinement of
// their peaks: the statistics planes of one call, and the internal steps.
#pragma once

#include <cstdint>

#include <qip/qip.h>
#include <qsrch/peaks.h>

extern "C" {

// The statistics of one plane of a peak call, over the nx x ny candidate
// positions of the grown rectangle. Integer sets hold every statistic as
// an unsigned 32-bit value; double sets (patterns of more than 0x10000
// pixels) hold inner products and sums of squares as doubles, in the *D
// fields. Element (x, y) of a plane is at y * stride + x. Without a runtime
// mask the pattern statistics are single values (perPositionPattern 0),
// read at index 0 whatever the position. A three-plane set is three of
// these sharing one care-count plane.
typedef struct qsrch_peakPlanes {
    uint32_t doubles;
    uint32_t perPositionPattern;
    uint32_t stride32;  // row stride of the unsigned planes
    uint32_t strideD;   // row stride of the double planes
    uint32_t* innerProducts;
    double* innerProductsD;
    uint32_t* imageSums;
    uint32_t* imageSumSqs;
    double* imageSumSqsD;
    uint32_t* counts;
    uint32_t* patternSums;
    uint32_t* patternSumSqs;
    double* patternSumSqsD;
} qsrch_peakPlanes;

// The views the shape score compares at a refined peak: the pattern and its
// mask, the image and runtime mask views the planes were computed on
// (origin (0, 0)). Masks may be NULL or without pixels.
typedef struct qsrch_shapeViews {
    const qimg_windowConst* pattern;
    const qimg_windowConst* patternMask;
    const qimg_windowConst* image;
    const qimg_windowConst* runtimeMask;
} qsrch_shapeViews;

// What the caller of the peak kernel gives besides views: pattern
// statistics (havePatStats) and the pattern's care count (haveN).
typedef struct qsrch_givenPatternStats {
    uint32_t havePatStats;
    uint32_t n;
    uint32_t sum;
    double sumSq;
    uint32_t haveN;
    uint32_t careCount;
} qsrch_givenPatternStats;

// The peak kernel behind the eight exported peak entries.
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
                                      qstd_vector_qsrch_detectedPosePeak* peaksOut);

// Fills the planes (already laid out) from the narrowed views, and the
// pattern's total care count. endpoints is the list in use, or NULL.
qsrch_status qsrch_computeStatsForPeaks(const qimg_windowConst* pattern,
                                        const qimg_windowConst* patternMask,
                                        const qimg_windowConst* image,
                                        const qimg_windowConst* runtimeMask,
                                        const qstd_vector_qstd_pair32* endpoints,
                                        const qsrch_givenPatternStats* given,
                                        const qsrch_peakPlanes* planes, uint32_t* totalCareOut);

// Scores the planes' nx x ny positions into `space` (row stride in doubles).
qsrch_status qsrch_computeSpaceForPeaks(const qimg_windowConst* pattern,
                                        const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                                        const qstd_vector_qstd_pair32* endpoints,
                                        const qsrch_normalizedCorrelationParams* params,
                                        double* space, int32_t spaceStride);

// Turns the detected peaks into pose peaks, in the detector's order.
// positions is the planes' grid in the image's frame: (x0, y0, nx, ny).
qsrch_status qsrch_refinePeaks(const qimg_windowConst* pattern,
                               const qimg_windowConst* patternMask,
                               const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                               const qstd_rect32* positions,
                               const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                               const qsrch_normalizedCorrelationParams* params,
                               const qsrch_peakPlanes* planes, const qstd_vector_* detected,
                               qstd_vector_qsrch_detectedPosePeak* peaksOut);

// Recomputes the score of one peak record (already holding the detector's
// position and flags), fits its sub-pixel position and fills contrast,
// brightness and care count. planes points at planeCount sets: 1 (weights
// unused) or 3 (scored with the weights, care counts read from the first
// set); shape is NULL where no shape score may be tried.
qsrch_status qsrch_refineOnePeak(const qsrch_normalizedCorrelationParams* params,
                                 const double* weights, uint32_t planeCount,
                                 const qsrch_peakPlanes* planes, const qstd_rect32* positions,
                                 const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                                 const qsrch_shapeViews* shape, qsrch_detectedPosePeak* peak);

// The score at a plane position, and the care count there (careCountOut may
// be NULL).
qsrch_status qsrch_scoreAt(const qsrch_normalizedCorrelationParams* params, const double* weights,
                           uint32_t planeCount, const qsrch_peakPlanes* planes,
                           const qstd_pair32* pos, double* scoreOut, uint32_t* careCountOut);

qsrch_status qsrch_contrastBrightnessAt(const double* weights, uint32_t planeCount,
                                        const qsrch_peakPlanes* planes, const qstd_pair32* pos,
                                        double* contrastOut, double* brightnessOut);

// Marks as unusable the fit neighbours (valid[9], row by row from (-1, -1))
// of position (x, y) that lie outside the endpoint runs. Does nothing unless
// a list is given with flag 1.
qsrch_status qsrch_clearNeighboursOutsideEndpoints(const qstd_vector_qstd_pair32* endpoints,
                                                   uint32_t endpointsFlag, int32_t x, int32_t y,
                                                   uint32_t valid[9]);

// Raises *score to the shape score of the pattern's size at the top-left of
// the views. Masks may be NULL or without pixels.
qsrch_status qsrch_shapeScore(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                              const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                              uint8_t threshold, double* score);

}  // extern "C"
