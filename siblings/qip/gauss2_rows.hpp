// The two passes of the halving reducer over one destination row, for the
// rows and columns whose four taps all exist: the generic loops and their
// SSE2 twins, which return exactly the same values.
//
// Arithmetic, all exact integers in 16-bit lanes: a column sum
// r0 + 3 r1 + 3 r2 + r3 of four source rows is at most 255 * 8 = 2040; a
// destination pixel s[2x - 1] + 3 s[2x] + 3 s[2x + 1] + s[2x + 2] of those
// sums, plus 32 for rounding, at most 255 * 64 + 32 = 16352, before the
// shift by 6 that divides by the total weight 64.
#pragma once

#include <cstdint>

namespace qip_detail {

namespace generic {
// sums[i] for columns begin <= i < w.
void columnSums(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, int32_t begin,
                int32_t w, uint16_t* sums);
// out[x] for begin <= x < end; reads sums[2 begin - 1] .. sums[2 end].
void interiorRow(const uint16_t* sums, int32_t begin, int32_t end, uint8_t* out);
}  // namespace generic

namespace sse2 {
// The same, 16 columns or destination pixels at a time from the first one,
// never reading or writing past the given ends; each returns where it
// stopped, for the generic loop to finish: the end, or the start when fewer
// than 16 are given.
int32_t columnSums(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, int32_t w,
                   uint16_t* sums);
int32_t interiorRow(const uint16_t* sums, int32_t begin, int32_t end, uint8_t* out);
// The column sums of two destination rows at once from the six source rows
// rows[0..5] they read: the first from rows[0..3], the second from
// rows[2..5], the shared middle rows widened once for both.
int32_t columnSumsTwoRows(const uint8_t* const rows[6], int32_t w, uint16_t* sums, uint16_t* nextSums);
}  // namespace sse2

}  // namespace qip_detail
