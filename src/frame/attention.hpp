// The attention poll of long computations, and the 32-bit signed products
// that size rules and position counts are defined on (wrapping like the
// hardware multiply, never undefined).
#pragma once

#include <cstdint>

#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch {

inline int32_t product32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Work over more than 31 candidate positions asks the client first.
inline Status pollAttention(int32_t positions) { return positions > 31 ? qsys_attention_check() : QSYS_OK; }

inline Status pollAttention(int32_t nx, int32_t ny) { return pollAttention(product32(nx, ny)); }

// Integer kernels hold sums of squares in 32 bits: 65025 * 65536 fits,
// one pixel more may not.
constexpr int32_t kMaxIntegerPatternPixels = 0x10000;

inline bool tooLargeForIntegers(int32_t w, int32_t h) { return product32(w, h) > kMaxIntegerPatternPixels; }

}  // namespace qsrch
