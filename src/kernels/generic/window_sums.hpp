// Window sums under masks, computed position by position: the path every
// exported window-sum kernel falls back to, and the reference its optimized
// twins must equal. Same arguments and results as the exported kernels,
// without their size rule, attention poll or dispatch.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>

namespace qsrch::generic {

qsys_status computeImageSumMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                uint32_t* out, uint32_t outStride);
qsys_status computeImageSumSqMask(const qimg_windowConst* patternMask,
                                  const qimg_windowConst* image, uint32_t* out, uint32_t outStride);
qsys_status DcomputeImageSumSqMask(const qimg_windowConst* patternMask,
                                   const qimg_windowConst* image, double* out, uint32_t outStride);
qsys_status computeNCarePelsMask(const qimg_windowConst* patternMask,
                                 const qimg_windowConst* imageMask, uint32_t* out,
                                 uint32_t outStride);
qsys_status computePatSumMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                              const qimg_windowConst* imageMask, uint32_t* out, uint32_t outStride);
qsys_status computePatSumSqMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* imageMask, uint32_t* out,
                                uint32_t outStride);
qsys_status DcomputePatSumSqMask(const qimg_windowConst* pattern,
                                 const qimg_windowConst* patternMask,
                                 const qimg_windowConst* imageMask, double* out, uint32_t outStride);

}  // namespace qsrch::generic
