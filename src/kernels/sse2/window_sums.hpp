// Sums under masks, SSE2 twins of the masked sliding sums: the image's ΣI
// and ΣI² under the pattern mask, and the care count, ΣP and ΣP² over the
// pixels both the pattern mask and the image's care mask care for. The same
// arguments and values as the exported kernels; each answers
// QSRCH_E_NO_OPTIMIZED_PATH for masks (patterns) without pixels or with
// more than 65536, which the generic paths serve.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>
#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch::sse2 {

qsrch::Status maskSumISumISq(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                             uint32_t* sumI, uint32_t* sumISq, uint32_t outStride);
qsrch::Status DmaskSumISumISq(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                              uint32_t* sumI, double* sumISq, uint32_t outStride);

// Without a pattern mask (null, or a record without pixels) every pattern
// pixel is cared for.
qsrch::Status maskPatSumPatSumSq(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                 const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP,
                                 uint32_t* sumPSq, uint32_t outStride);
qsrch::Status DmaskPatSumPatSumSq(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                  const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP,
                                  double* sumPSq, uint32_t outStride);

}  // namespace qsrch::sse2
