// Small helpers of the SSE2 kernels: which patterns they serve, unaligned
// loads and stores, lane totals, and a loop over accumulators unrolled at
// compile time so that they stay in registers.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include <qimg/qimg.h>

#include "frame/attention.hpp"

namespace qsrch::sse2 {

// The integer kernels' patterns (or masks) with pixels and at most 65536 of
// them; the others are left to the generic paths.
inline bool unserved(const qimg_windowConst& pattern)
{
    return pattern.width < 1 || pattern.height < 1 || tooLargeForIntegers(pattern.width, pattern.height);
}

inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline __m128i load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
inline void store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// The sum of the four 32-bit lanes, modulo 2^32.
inline uint32_t laneTotal32(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// The low 32 bits of 64-bit lane 0 and of lane 1.
inline uint32_t lane64Low(__m128i v) { return static_cast<uint32_t>(_mm_cvtsi128_si32(v)); }
inline uint32_t lane64High(__m128i v) { return lane64Low(_mm_unpackhi_epi64(v, v)); }

template <class F, int... k>
inline void unrolledOver(F& f, std::integer_sequence<int, k...>)
{
    (f(std::integral_constant<int, k>{}), ...);
}

// Calls f(std::integral_constant<int, k>) for k = 0 .. Count - 1.
template <int Count, class F>
inline void unrolled(F&& f)
{
    unrolledOver(f, std::make_integer_sequence<int, Count>{});
}

}  // namespace qsrch::sse2
