// Inner products, SSE2 twins of kernels/generic/inner_products: the same
// arguments and the same values. Each answers QSRCH_E_NO_OPTIMIZED_PATH for
// the inputs it leaves to the generic path: patterns without pixels and
// patterns of more than 65536 pixels.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>
#include <qstd/qstd.h>
#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch::sse2 {

qsrch::Status innerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* out,
                            uint32_t outStride);

// Also refuses lists whose ranges leave the position columns: outside the
// caller's contract, they get whatever the generic path does with them.
qsrch::Status innerProductsUsingEndpoints(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                          uint32_t* out, uint32_t outStride,
                                          const qstd_vector_qstd_pair32* endpoints, uint32_t step);

// The integer variant into 32-bit scratch, converted once per position.
// The exported kernel splits larger patterns before it gets here.
qsrch::Status DinnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, double* out,
                             uint32_t outStride);

}  // namespace qsrch::sse2
