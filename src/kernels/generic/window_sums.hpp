// Window sums under masks, computed position by position: the path every
// exported window-sum kernel falls back to, and the reference its optimized
// twins must equal. Same arguments and results as the exported kernels,
// without their size rule, attention poll or dispatch.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>

#include "frame/status.hpp"

namespace qsrch::generic {

qsrch::Status computeImageSumMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                  uint32_t* out, uint32_t outStride);
qsrch::Status computeImageSumSqMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                    uint32_t* out, uint32_t outStride);
qsrch::Status DcomputeImageSumSqMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                     double* out, uint32_t outStride);
qsrch::Status computeNCarePelsMask(const qimg_windowConst* patternMask, const qimg_windowConst* imageMask,
                                   uint32_t* out, uint32_t outStride);
qsrch::Status computePatSumMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* imageMask, uint32_t* out, uint32_t outStride);
qsrch::Status computePatSumSqMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                  const qimg_windowConst* imageMask, uint32_t* out, uint32_t outStride);
qsrch::Status DcomputePatSumSqMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                   const qimg_windowConst* imageMask, double* out, uint32_t outStride);

}  // namespace qsrch::generic
