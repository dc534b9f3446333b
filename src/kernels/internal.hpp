// Kernels that the library uses internally and does not export.
#pragma once

#include <qsrch/kernels.h>

extern "C" {

// Grows a run-length position list by one position in every direction (a
// cross-shaped dilation, taken per row as a hull). source and destination
// hold a pair per image row; step 0 copies the single pair unchanged.
[[nodiscard]] qsrch_status qsrch_dilateEndpoints(const qstd_vector_qstd_pair32* source,
                                                 qstd_vector_qstd_pair32* destination, uint32_t step,
                                                 int32_t patternHeight, int32_t patternWidth,
                                                 int32_t imageHeight, int32_t imageWidth);

// The pattern statistics of qsrch_computeMaskPatSumPatSumSq for a caller
// that holds an endpoint list; every position is computed.
[[nodiscard]] qsrch_status qsrch_computeMaskPatSumPatSumSqUsingEndpoints(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask, const qimg_windowConst* imageMask,
    uint32_t* careCount, uint32_t* sumP, uint32_t* sumPSq, uint32_t outStride,
    const qstd_vector_qstd_pair32* endpoints, uint32_t step);

// Image sums over grids of at most 4 x 4 positions in images of at least
// 9 x 9 pixels, from a table of 9 x 9 band totals.
[[nodiscard]] qsrch_status qsrch_computeSumISumISqLessThan4(const qimg_windowConst* pattern,
                                                            const qimg_windowConst* image, uint32_t* sumI,
                                                            uint32_t* sumISq, uint32_t outStride);

}  // extern "C"
