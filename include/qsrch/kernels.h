/* qsrch: statistics kernels. For a pattern-sized window (w x h) over an
 * image-sized window (W x H) there are nx = W - w + 1 by ny = H - h + 1
 * candidate positions; position (x, y) lays pattern pixel (i, j) over image
 * pixel (x + i, y + j). Every per-position output is a caller's array whose
 * element for (x, y) is at y * outStride + x (outStride counted in elements,
 * at least nx); only the nx x ny position elements are written. Masks care
 * for a pixel when it is non-zero. Integer kernels refuse patterns of more
 * than 65536 pixels where their sums of squares could overflow
 * (QSRCH_E_PATTERN_TOO_LARGE); the D forms, with double outputs, have no
 * such limit and are exact (qsrch_DcomputeSumISumISq holds each pattern
 * row's sum of squares in 32 bits, which bounds its pattern rows to 66051
 * pixels). Kernels covering more than 31 positions poll
 * qsys_attention_check() first and return its negative answer unchanged
 * before writing anything. */
#ifndef QSRCH_KERNELS_H
#define QSRCH_KERNELS_H

#include "../qimg/qimg.h"
#include "frame.h"

QSIB_EXTERN_C_BEGIN

/* ---- Window sums under masks --------------------------------------------- */
/* Sum of image pixels under the pattern mask's cared-for pixels. */
QSRCH_API qsrch_status qsrch_computeImageSumMask(const qimg_windowConst* patternMask,
                                                 const qimg_windowConst* image, uint32_t* out,
                                                 uint32_t outStride);
/* Sum of squared image pixels under the pattern mask. */
QSRCH_API qsrch_status qsrch_computeImageSumSqMask(const qimg_windowConst* patternMask,
                                                   const qimg_windowConst* image, uint32_t* out,
                                                   uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputeImageSumSqMask(const qimg_windowConst* patternMask,
                                                    const qimg_windowConst* image, double* out,
                                                    uint32_t outStride);
/* Number of pixels cared for by both the pattern mask and the image's care
 * mask. */
QSRCH_API qsrch_status qsrch_computeNCarePelsMask(const qimg_windowConst* patternMask,
                                                  const qimg_windowConst* imageMask,
                                                  uint32_t* out, uint32_t outStride);
/* Sum (of squares) of pattern pixels cared for by both masks. */
QSRCH_API qsrch_status qsrch_computePatSumMask(const qimg_windowConst* pattern,
                                               const qimg_windowConst* patternMask,
                                               const qimg_windowConst* imageMask, uint32_t* out,
                                               uint32_t outStride);
QSRCH_API qsrch_status qsrch_computePatSumSqMask(const qimg_windowConst* pattern,
                                                 const qimg_windowConst* patternMask,
                                                 const qimg_windowConst* imageMask, uint32_t* out,
                                                 uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputePatSumSqMask(const qimg_windowConst* pattern,
                                                  const qimg_windowConst* patternMask,
                                                  const qimg_windowConst* imageMask, double* out,
                                                  uint32_t outStride);

/* ---- Inner products ---------------------------------------------------------
 * Sum of pattern pixel times image pixel at each position (no masks). */
QSRCH_API qsrch_status qsrch_computeInnerProducts(const qimg_windowConst* pattern,
                                                  const qimg_windowConst* image, uint32_t* out,
                                                  uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputeInnerProducts(const qimg_windowConst* pattern,
                                                   const qimg_windowConst* image, double* out,
                                                   uint32_t outStride);
/* Only the positions of the run-length list: position row r computes the
 * columns start <= x < end of pair r * step (step 1: a pair per row; step 0:
 * pair 0 for every row). Other elements are not written. */
QSRCH_API qsrch_status qsrch_computeInnerProductsUsingEndpoints(
    const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* out,
    uint32_t outStride, const qstd_vector_qstd_pair32* endpoints, uint32_t step);

/* ---- Sliding image sums -------------------------------------------------------
 * The unmasked kernels take only the pattern's size from their first
 * argument. Two or three outputs of one call share the one outStride. */
QSRCH_API qsrch_status qsrch_computeSumISumISq(const qimg_windowConst* pattern,
                                               const qimg_windowConst* image, uint32_t* sumI,
                                               uint32_t* sumISq, uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputeSumISumISq(const qimg_windowConst* pattern,
                                                const qimg_windowConst* image, uint32_t* sumI,
                                                double* sumISq, uint32_t outStride);
/* The image has 16-bit pixels (QIMG_DEPTH_16U); sumI wraps modulo 2^32. */
QSRCH_API qsrch_status qsrch_DcomputeSumISumISq16(const qimg_windowConst* pattern,
                                                  const qimg_windowConst* image, uint32_t* sumI,
                                                  double* sumISq, uint32_t outStride);
/* Sum and sum of squares of every pixel of one window. */
QSRCH_API qsrch_status qsrch_computeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI,
                                                  uint32_t* sumISq);
QSRCH_API qsrch_status qsrch_DcomputeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI,
                                                   double* sumISq);
/* Image sums under the pattern mask. */
QSRCH_API qsrch_status qsrch_computeMaskSumISumISq(const qimg_windowConst* patternMask,
                                                   const qimg_windowConst* image, uint32_t* sumI,
                                                   uint32_t* sumISq, uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputeMaskSumISumISq(const qimg_windowConst* patternMask,
                                                    const qimg_windowConst* image, uint32_t* sumI,
                                                    double* sumISq, uint32_t outStride);
/* Care count and pattern sums over the pixels cared for by the pattern mask
 * (all pattern pixels when patternMask is NULL or has no pixels) and by the
 * image's care mask. */
QSRCH_API qsrch_status qsrch_computeMaskPatSumPatSumSq(const qimg_windowConst* pattern,
                                                       const qimg_windowConst* patternMask,
                                                       const qimg_windowConst* imageMask,
                                                       uint32_t* careCount, uint32_t* sumP,
                                                       uint32_t* sumPSq, uint32_t outStride);
QSRCH_API qsrch_status qsrch_DcomputeMaskPatSumPatSumSq(const qimg_windowConst* pattern,
                                                        const qimg_windowConst* patternMask,
                                                        const qimg_windowConst* imageMask,
                                                        uint32_t* careCount, uint32_t* sumP,
                                                        double* sumPSq, uint32_t outStride);

QSIB_EXTERN_C_END

#endif
