// SSE2 twins of the halving reducer's interior passes (see gauss2_rows.hpp
// for the arithmetic they share with the generic loops).
#include <emmintrin.h>

#include "qip/gauss2_rows.hpp"

namespace qip_detail::sse2 {

namespace {

inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// r0 + 3 (r1 + r2) + r3 of eight 16-bit lanes.
inline __m128i binomial(__m128i r0, __m128i r1, __m128i r2, __m128i r3)
{
    const __m128i middle = _mm_add_epi16(r1, r2);
    return _mm_add_epi16(_mm_add_epi16(r0, r3), _mm_add_epi16(middle, _mm_add_epi16(middle, middle)));
}

// Four destination pixels from the sums from s[-1] on: pmaddwd pairs
// (s[2x - 1], s[2x]) with weights (1, 3) and (s[2x + 1], s[2x + 2]) with
// (3, 1), giving the four 32-bit totals.
inline __m128i fourTotals(const uint16_t* s)
{
    const __m128i oneThree = _mm_set1_epi32(0x00030001), threeOne = _mm_set1_epi32(0x00010003);
    return _mm_add_epi32(_mm_madd_epi16(load(s - 1), oneThree), _mm_madd_epi16(load(s + 1), threeOne));
}

inline __m128i eightPixels(const uint16_t* s)
{
    const __m128i half = _mm_set1_epi32(32);
    const __m128i low = _mm_srli_epi32(_mm_add_epi32(fourTotals(s), half), 6);
    const __m128i high = _mm_srli_epi32(_mm_add_epi32(fourTotals(s + 8), half), 6);
    return _mm_packs_epi32(low, high);
}

// Sums of columns i .. i + 15.
inline void sixteenSums(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, int32_t i,
                        uint16_t* sums)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = load(r0 + i), b = load(r1 + i), c = load(r2 + i), d = load(r3 + i);
    const __m128i low = binomial(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero),
                                 _mm_unpacklo_epi8(d, zero));
    const __m128i high = binomial(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                  _mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8), high);
}

// rows holds the six row pointers, copied out of the caller's array so that
// the stores cannot be taken to change them.
struct SixRows {
    const uint8_t* r[6];
};

inline void sixteenSumsTwoRows(const SixRows& rows, int32_t i, uint16_t* sums, uint16_t* nextSums)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i low[6], high[6];
    for (int k = 0; k < 6; ++k) {
        const __m128i v = load(rows.r[k] + i);
        low[k] = _mm_unpacklo_epi8(v, zero);
        high[k] = _mm_unpackhi_epi8(v, zero);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), binomial(low[0], low[1], low[2], low[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8), binomial(high[0], high[1], high[2], high[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nextSums + i), binomial(low[2], low[3], low[4], low[5]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nextSums + i + 8), binomial(high[2], high[3], high[4], high[5]));
}

// Pixels x .. x + 15, which read sums 2x - 1 .. 2x + 32, the last that pixel x + 15 needs.
inline void sixteenPixels(const uint16_t* sums, int32_t x, uint8_t* out)
{
    const uint16_t* s = sums + 2 * x;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(eightPixels(s), eightPixels(s + 16)));
}

}  // namespace

// A last group that would be partial is taken ending at the end, overlapping
// the one before: it writes the same values again, and the row needs no
// scalar tail.
int32_t columnSums(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, int32_t w,
                   uint16_t* sums)
{
    if (w < 16) return 0;
    for (int32_t i = 0; i + 16 <= w; i += 16) sixteenSums(r0, r1, r2, r3, i, sums);
    if (w % 16 != 0) sixteenSums(r0, r1, r2, r3, w - 16, sums);
    return w;
}

int32_t columnSumsTwoRows(const uint8_t* const rows[6], int32_t w, uint16_t* sums, uint16_t* nextSums)
{
    if (w < 16) return 0;
    const SixRows six{{rows[0], rows[1], rows[2], rows[3], rows[4], rows[5]}};
    for (int32_t i = 0; i + 16 <= w; i += 16) sixteenSumsTwoRows(six, i, sums, nextSums);
    if (w % 16 != 0) sixteenSumsTwoRows(six, w - 16, sums, nextSums);
    return w;
}

int32_t interiorRow(const uint16_t* sums, int32_t begin, int32_t end, uint8_t* out)
{
    if (end - begin < 16) return begin;
    int32_t x = begin;
    for (; x + 16 <= end; x += 16) sixteenPixels(sums, x, out);
    if (x < end) sixteenPixels(sums, end - 16, out);
    return end;
}

}  // namespace qip_detail::sse2
