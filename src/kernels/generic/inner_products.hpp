// Generic inner products: the plain position-by-position loops that every
// optimized twin must match value for value.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>
#include <qstd/qstd.h>
#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch::generic {

// Every position of the grid; unsigned 32-bit sums that wrap like the
// hardware for patterns of more than 65536 pixels (the wrapper refuses them).
qsrch::Status innerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* out,
                            uint32_t outStride);

// Every position of the grid, exact in double for any pattern size.
qsrch::Status DinnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, double* out,
                             uint32_t outStride);

// Only the columns start <= x < end of pair r * step, for each position row r.
qsrch::Status innerProductsUsingEndpoints(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                          uint32_t* out, uint32_t outStride,
                                          const qstd_vector_qstd_pair32* endpoints, uint32_t step);

}  // namespace qsrch::generic
