// Inner products, SSE2 twin.
//
// Arithmetic contract: pmaddwd multiplies two 16-bit pattern pixels with
// the two image pixels under them exactly and adds the two products (at most
// 2 x 65025). Each 32-bit lane of an accumulator is one position and sums
// these pair totals modulo 2^32, in an order other than the generic loops';
// integer sums modulo 2^32 do not depend on the order, so every stored value
// is the generic one, the exact inner product for the patterns of up to
// 65536 pixels that the integer kernels accept (65025 x 65536 < 2^32).
// Larger patterns are refused. The double form runs the integer variant into
// 32-bit scratch and converts each value once.
//
// Layout: the pattern becomes one 32-bit word per pixel pair of a row,
// (p(2q, j), p(2q + 1, j)), an odd row's last pair padded with 0. An image
// row becomes one word per column c, (I(c), I(c + 1)), the last column's
// second half 0 and the words past it 0. Then the four adjacent positions
// x .. x + 3 meet pattern pair q in the four words from column x + 2q: one
// load, one pmaddwd with the pair in every lane, one add. Lanes past the
// last position read only words of the row, and only the pixels of the
// window are ever read.
//
// Image rows are converted once into a ring of h rows, a row entering as
// the row h above it leaves. When the ring for the whole width would exceed
// kRingBudget words, the position columns are taken in strips and each
// strip converts only its columns; run-length lists convert the columns
// their ranges need.
#include "kernels/sse2/inner_products.hpp"

#include <qsrch/frame.h>

#include <algorithm>
#include <cstddef>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/scratch.hpp"
#include "kernels/sse2/lanes.hpp"

namespace qsrch::sse2 {
namespace {

constexpr int kLanes = 4;         // positions per vector
constexpr int kBlockVectors = 8;  // vectors per block of positions
constexpr int32_t kBlock = kLanes * kBlockVectors;
constexpr size_t kRingBudget = size_t{1} << 16;  // words (256 KiB, half a core's L2)
constexpr size_t kStackWords = 4096;             // scratch kept on the stack

inline int32_t roundUp4(int32_t n) { return (n + 3) & ~3; }

struct Shape {
    int32_t h, W, nx, ny;
    int32_t pairs;      // pattern pixel pairs per row
    int32_t strip;      // position columns per strip
    int32_t slotWords;  // words of one converted image row of a strip
};

Shape shapeOf(const qimg_windowConst& pattern, const qimg_windowConst& image, PositionGrid grid)
{
    Shape s{pattern.height, image.width, grid.nx, grid.ny, (pattern.width + 1) / 2, grid.nx, 0};
    const size_t wholeRing = static_cast<size_t>(s.h) * static_cast<size_t>(roundUp4(s.nx) + 2 * s.pairs);
    if (wholeRing > kRingBudget) {
        const int64_t fitting = static_cast<int64_t>(kRingBudget / static_cast<size_t>(s.h)) - 2 * s.pairs;
        s.strip = static_cast<int32_t>(std::max<int64_t>(kBlock, fitting / kBlock * kBlock));
    }
    s.slotWords = roundUp4(s.strip) + 2 * s.pairs;
    return s;
}

// Converted image rows, one slot per image row modulo h. A slot remembers
// the row it holds and the columns [begin, end) converted; its word k
// stands for column begin + k.
struct PairRing {
    uint32_t* words;
    int32_t* row;
    int32_t* begin;
    int32_t* end;
};

void makePatternPairs(const qimg_windowConst& pattern, int32_t pairs, uint32_t* words)
{
    for (int32_t j = 0; j < pattern.height; ++j) {
        const uint8_t* row = rowOf(pattern, j);
        for (int32_t q = 0; q < pairs; ++q) {
            const uint32_t second = 2 * q + 1 < pattern.width ? row[2 * q + 1] : 0;
            *words++ = row[2 * q] | second << 16;
        }
    }
}

// Words of image row y for the columns [begin, end).
void convertColumns(const qimg_windowConst& image, int32_t y, int32_t begin, int32_t end, uint32_t* words)
{
    const uint8_t* row = rowOf(image, y);
    const int32_t W = image.width;
    const __m128i zero = _mm_setzero_si128();
    int32_t c = begin;
    // Eight words from the nine pixels c .. c + 8.
    for (; c + 8 <= end && c + 8 < W; c += 8) {
        const __m128i here = _mm_unpacklo_epi8(load64(row + c), zero);
        const __m128i next = _mm_unpacklo_epi8(load64(row + c + 1), zero);
        store128(words + (c - begin), _mm_unpacklo_epi16(here, next));
        store128(words + (c - begin) + 4, _mm_unpackhi_epi16(here, next));
    }
    for (; c < end; ++c) {
        const uint32_t here = c < W ? row[c] : 0, next = c + 1 < W ? row[c + 1] : 0;
        words[c - begin] = here | next << 16;
    }
}

// Makes the ring hold image rows r .. r + h - 1 over the columns [begin, end).
void holdRows(const PairRing& ring, const Shape& s, const qimg_windowConst& image, int32_t r, int32_t begin,
              int32_t end)
{
    int32_t slot = r % s.h;
    for (int32_t y = r; y < r + s.h; ++y) {
        if (ring.row[slot] != y || ring.begin[slot] > begin || ring.end[slot] < end) {
            convertColumns(image, y, begin, end, ring.words + static_cast<size_t>(slot) * s.slotWords);
            ring.row[slot] = y, ring.begin[slot] = begin, ring.end[slot] = end;
        }
        if (++slot == s.h) slot = 0;
    }
}

// Writes the inner products of the 4 x Vectors positions from x in position
// row r to out, one position per lane. Pairs is the pattern's pairs per row
// when known at compile time (narrow patterns), else 0.
template <int Vectors, int Pairs>
void positionBlock(const PairRing& ring, const Shape& s, const uint32_t* patternPairs, int32_t r, int32_t x,
                   uint32_t* out)
{
    const int32_t pairs = Pairs != 0 ? Pairs : s.pairs;
    __m128i acc[Vectors];
    for (__m128i& a : acc) a = _mm_setzero_si128();
    int32_t slot = r % s.h;
    for (int32_t j = 0; j < s.h; ++j) {
        const uint32_t* words = ring.words + static_cast<size_t>(slot) * s.slotWords + (x - ring.begin[slot]);
        const uint32_t* pattern = patternPairs + static_cast<size_t>(j) * pairs;
        for (int32_t q = 0; q < pairs; ++q) {
            const __m128i pair = _mm_set1_epi32(static_cast<int>(pattern[q]));
            const uint32_t* at = words + 2 * q;
            unrolled<Vectors>([&](auto v) {
                acc[v] = _mm_add_epi32(acc[v], _mm_madd_epi16(load128(at + kLanes * v), pair));
            });
        }
        if (++slot == s.h) slot = 0;
    }
    unrolled<Vectors>([&](auto v) { store128(out + kLanes * v, acc[v]); });
}

template <int Pairs>
void fullBlock(const PairRing& ring, const Shape& s, const uint32_t* patternPairs, int32_t r, int32_t x,
               uint32_t* out)
{
    positionBlock<kBlockVectors, Pairs>(ring, s, patternPairs, r, x, out);
}

// The last `count` (< kBlock) positions of a range: the lanes past them are
// computed and dropped.
template <int Vectors>
void lastBlock(const PairRing& ring, const Shape& s, const uint32_t* patternPairs, int32_t r, int32_t x,
               int32_t count, uint32_t* out)
{
    alignas(16) uint32_t lanes[kLanes * Vectors];
    positionBlock<Vectors, 0>(ring, s, patternPairs, r, x, lanes);
    std::copy(lanes, lanes + count, out);
}

using BlockFunction = void (*)(const PairRing&, const Shape&, const uint32_t*, int32_t, int32_t, uint32_t*);
using LastBlockFunction = void (*)(const PairRing&, const Shape&, const uint32_t*, int32_t, int32_t, int32_t,
                                   uint32_t*);

// Positions [begin, end) of position row r, whose image rows the ring holds.
void positionRange(const PairRing& ring, const Shape& s, const uint32_t* patternPairs, int32_t r, int32_t begin,
                   int32_t end, uint32_t* outRow)
{
    // Patterns of at most 8 columns get their rows unrolled whole; their row
    // stride plays no part, since the pattern is read once into pair words.
    static constexpr BlockFunction full[] = {fullBlock<0>, fullBlock<1>, fullBlock<2>, fullBlock<3>, fullBlock<4>};
    static constexpr LastBlockFunction last[] = {lastBlock<1>, lastBlock<2>, lastBlock<3>, lastBlock<4>,
                                                 lastBlock<5>, lastBlock<6>, lastBlock<7>, lastBlock<8>};
    const BlockFunction block = full[s.pairs <= 4 ? s.pairs : 0];
    int32_t x = begin;
    for (; end - x >= kBlock; x += kBlock) block(ring, s, patternPairs, r, x, outRow + x);
    if (x < end) last[(end - x - 1) / kLanes](ring, s, patternPairs, r, x, end - x, outRow + x);
}

// Scores, for each position row r, the columns [range.first, range.second)
// of rangeOf(r); the ranges lie within [0, nx) and the pattern has pixels.
template <class RangeOf>
qsrch::Status scoreRanges(const qimg_windowConst& pattern, const qimg_windowConst& image, uint32_t* out,
                          uint32_t outStride, RangeOf rangeOf)
{
    const PositionGrid grid = positionGrid(pattern, image);
    if (grid.empty()) return QSYS_OK;
    const Shape s = shapeOf(pattern, image, grid);
    const size_t patternWords = static_cast<size_t>(s.h) * s.pairs, slots = static_cast<size_t>(s.h);
    CallFrame<1> frame;
    LocalScratch<kStackWords> scratch;
    QSRCH_RETURN_IF_ERROR(scratch.reserve(frame, 0, patternWords + 3 * slots + slots * s.slotWords));
    uint32_t* patternPairs = scratch.data();
    int32_t* bookkeeping = reinterpret_cast<int32_t*>(patternPairs + patternWords);
    const PairRing ring{patternPairs + patternWords + 3 * slots, bookkeeping, bookkeeping + slots,
                        bookkeeping + 2 * slots};
    std::fill(ring.row, ring.row + slots, -1);
    makePatternPairs(pattern, s.pairs, patternPairs);

    for (int32_t stripBegin = 0; stripBegin < grid.nx; stripBegin += s.strip) {
        const int32_t stripEnd = std::min(grid.nx, stripBegin + s.strip);
        for (int32_t r = 0; r < grid.ny; ++r) {
            const qstd_pair32 range = rangeOf(r);
            const int32_t begin = std::max(range.first, stripBegin), end = std::min(range.second, stripEnd);
            if (begin >= end) continue;
            holdRows(ring, s, image, r, begin, begin + roundUp4(end - begin) + 2 * s.pairs - 2);
            positionRange(ring, s, patternPairs, r, begin, end, out + static_cast<size_t>(r) * outStride);
        }
    }
    return frame.finish();
}

}  // namespace

qsrch::Status innerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* out,
                            uint32_t outStride)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const qstd_pair32 all{0, positionGrid(*pattern, *image).nx};
    return scoreRanges(*pattern, *image, out, outStride, [&](int32_t) { return all; });
}

qsrch::Status innerProductsUsingEndpoints(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                          uint32_t* out, uint32_t outStride,
                                          const qstd_vector_qstd_pair32* endpoints, uint32_t step)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const qstd_pair32* ranges = nullptr;
    uint32_t rangeCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(endpoints, &ranges, &rangeCount));
    const PositionGrid grid = positionGrid(*pattern, *image);
    auto rangeOf = [&](int32_t r) { return ranges[static_cast<size_t>(r) * step]; };
    for (int32_t r = 0; r < grid.ny; ++r) {
        const qstd_pair32 range = rangeOf(r);
        if (range.first < range.second && (range.first < 0 || range.second > grid.nx))
            return QSRCH_E_NO_OPTIMIZED_PATH;
    }
    return scoreRanges(*pattern, *image, out, outStride, rangeOf);
}

qsrch::Status DinnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, double* out,
                             uint32_t outStride)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const PositionGrid grid = positionGrid(*pattern, *image);
    // Dense scratch, row stride nx.
    return throughIntegerScratch<16>(grid, static_cast<uint32_t>(grid.nx), out, outStride,
                                     [&](uint32_t* dense, uint32_t denseStride) {
                                         return innerProducts(pattern, image, dense, denseStride);
                                     });
}

}  // namespace qsrch::sse2
