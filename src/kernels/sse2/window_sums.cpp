// Sums under masks, SSE2 twin.
//
// Arithmetic contract: a window is read in groups of 16 bytes per row.
// Care is a byte mask, 0xFF where the mask pixel is non-zero whatever its
// value and 0 past the mask's width, so a group counts no pixel outside the
// w columns. psadbw adds cared-for bytes exactly into 64-bit lanes (care
// counts and sums); pmaddwd squares cared-for pixels widened to 16 bits and
// adds two squares at a time (at most 2 x 65025) into 32-bit lanes summed
// modulo 2^32. Every stored value is an exact sum reduced modulo 2^32 like
// the generic one, exact for the masks of up to 65536 pixels served
// (65025 x 65536 < 2^32). The D wrappers run the integer variant with the
// double output going to 32-bit scratch and convert each value once.
//
// Masks of at most 8 columns (narrow) put two adjacent positions in one
// vector, 8 bytes each. The mask is copied into per-row groups once, so
// nothing past its width (or its row stride) is read. Positions whose last
// group would read past the image's width are summed pixel by pixel: at most
// 15 per row, 7 for narrow masks.
#include "kernels/sse2/window_sums.hpp"

#include <qsrch/frame.h>

#include <cstddef>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/scratch.hpp"
#include "kernels/sse2/lanes.hpp"

namespace qsrch::sse2 {
namespace {

constexpr int32_t kGroup = 16;      // bytes per group
constexpr int32_t kNarrow = 8;      // widest mask whose row fits half a group
constexpr size_t kStackWords = 1024;

// The pattern side of a window, in groups of 16 bytes per row: care bytes
// and the pattern's cared-for pixels. A narrow mask's row fills the first 8
// bytes and again the last 8, one copy for each of two adjacent positions.
struct PatternGroups {
    int32_t width, height, groups;
    bool narrow;
    uint8_t* care;
    uint8_t* pixels;  // only for pattern statistics
};

PatternGroups patternGroups(const qimg_windowConst& shape, uint8_t* tables, bool withPixels)
{
    const bool narrow = shape.width <= kNarrow;
    const int32_t groups = narrow ? 1 : (shape.width + kGroup - 1) / kGroup;
    const size_t bytes = static_cast<size_t>(shape.height) * groups * kGroup;
    return {shape.width, shape.height, groups, narrow, tables, withPixels ? tables + bytes : nullptr};
}

// 32-bit words of scratch for the tables.
size_t tableWords(const qimg_windowConst& shape, int tables)
{
    const PatternGroups t = patternGroups(shape, nullptr, false);
    return static_cast<size_t>(t.height) * t.groups * kGroup / 4 * tables;
}

// mask null: every pixel cared for.
void fillGroups(const PatternGroups& t, const qimg_windowConst* pattern, const qimg_windowConst* mask)
{
    size_t at = 0;
    for (int32_t j = 0; j < t.height; ++j)
        for (int32_t g = 0; g < t.groups; ++g)
            for (int32_t k = 0; k < kGroup; ++k, ++at) {
                const int32_t i = t.narrow ? k % kNarrow : g * kGroup + k;
                const bool cared = i < t.width && (mask == nullptr || rowOf(*mask, j)[i] != 0);
                t.care[at] = cared ? 0xFF : 0;
                if (t.pixels != nullptr) t.pixels[at] = cared ? rowOf(*pattern, j)[i] : 0;
            }
}

// A window's lanes: care counts and sums in 64-bit lanes, squares in 32-bit
// lanes. A narrow window holds its first position in the low 64-bit lane and
// in squaresLow, its second in the high lane and in squaresHigh.
struct Lanes {
    __m128i counts = _mm_setzero_si128(), sums = _mm_setzero_si128();
    __m128i squaresLow = _mm_setzero_si128(), squaresHigh = _mm_setzero_si128();
};

inline void addPixels(Lanes& l, __m128i pixels)
{
    const __m128i zero = _mm_setzero_si128();
    l.sums = _mm_add_epi64(l.sums, _mm_sad_epu8(pixels, zero));
    const __m128i low = _mm_unpacklo_epi8(pixels, zero), high = _mm_unpackhi_epi8(pixels, zero);
    l.squaresLow = _mm_add_epi32(l.squaresLow, _mm_madd_epi16(low, low));
    l.squaresHigh = _mm_add_epi32(l.squaresHigh, _mm_madd_epi16(high, high));
}

// Image sums: the image pixels the pattern mask cares for.
struct ImageTerms {
    static void add(Lanes& l, __m128i image, const PatternGroups& t, size_t at)
    {
        addPixels(l, _mm_and_si128(image, load128(t.care + at)));
    }
};

// Pattern statistics: the cared-for pattern pixels where the image's care
// mask cares too.
struct PatternTerms {
    static void add(Lanes& l, __m128i imageMask, const PatternGroups& t, size_t at)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i both = _mm_andnot_si128(_mm_cmpeq_epi8(imageMask, zero), load128(t.care + at));
        l.counts = _mm_add_epi64(l.counts, _mm_sad_epu8(_mm_and_si128(both, _mm_set1_epi8(1)), zero));
        addPixels(l, _mm_and_si128(load128(t.pixels + at), both));
    }
};

// The window at (x, y), and for a narrow mask also the one at (x + 1, y).
template <class Terms, bool Narrow>
Lanes windowLanes(const PatternGroups& t, const qimg_windowConst& image, int32_t x, int32_t y)
{
    Lanes l;
    size_t at = 0;
    for (int32_t j = 0; j < t.height; ++j) {
        const uint8_t* row = rowOf(image, y + j) + x;
        for (int32_t g = 0; g < t.groups; ++g, at += kGroup) {
            const __m128i bytes =
                Narrow ? _mm_unpacklo_epi64(load64(row), load64(row + 1)) : load128(row + g * kGroup);
            Terms::add(l, bytes, t, at);
        }
    }
    return l;
}

struct Totals {
    uint32_t count, sum, squares;
};

inline Totals lowPosition(const Lanes& l)
{
    return {lane64Low(l.counts), lane64Low(l.sums), laneTotal32(l.squaresLow)};
}
inline Totals highPosition(const Lanes& l)
{
    return {lane64High(l.counts), lane64High(l.sums), laneTotal32(l.squaresHigh)};
}
inline Totals wholePosition(const Lanes& l)
{
    return {lane64Low(l.counts) + lane64High(l.counts), lane64Low(l.sums) + lane64High(l.sums),
            laneTotal32(_mm_add_epi32(l.squaresLow, l.squaresHigh))};
}

// Every position of the grid: in vectors while the window's groups stay
// inside the image row, by totalsAt(x, y) pixel by pixel after that.
template <class Terms, class TotalsAt, class Store>
void allPositions(const PatternGroups& t, const qimg_windowConst& image, PositionGrid grid, TotalsAt totalsAt,
                  Store store)
{
    for (int32_t y = 0; y < grid.ny; ++y) {
        int32_t x = 0;
        if (t.narrow) {
            for (; x + 1 < grid.nx && x + 1 + kNarrow <= image.width; x += 2) {
                const Lanes l = windowLanes<Terms, true>(t, image, x, y);
                store(x, y, lowPosition(l));
                store(x + 1, y, highPosition(l));
            }
        } else {
            for (; x < grid.nx && x + t.groups * kGroup <= image.width; ++x)
                store(x, y, wholePosition(windowLanes<Terms, false>(t, image, x, y)));
        }
        for (; x < grid.nx; ++x) store(x, y, totalsAt(x, y));
    }
}

Totals imageTotalsAt(const qimg_windowConst& mask, const qimg_windowConst& image, int32_t x, int32_t y)
{
    Totals totals{0, 0, 0};
    for (int32_t j = 0; j < mask.height; ++j) {
        const uint8_t* care = rowOf(mask, j);
        const uint8_t* pixels = rowOf(image, y + j) + x;
        for (int32_t i = 0; i < mask.width; ++i)
            if (care[i] != 0) totals.sum += pixels[i], totals.squares += uint32_t{pixels[i]} * pixels[i];
    }
    return totals;
}

// mask null: every pattern pixel cared for.
Totals patternTotalsAt(const qimg_windowConst& pattern, const qimg_windowConst* mask,
                       const qimg_windowConst& imageMask, int32_t x, int32_t y)
{
    Totals totals{0, 0, 0};
    for (int32_t j = 0; j < pattern.height; ++j) {
        const uint8_t* pixels = rowOf(pattern, j);
        const uint8_t* imageCare = rowOf(imageMask, y + j) + x;
        for (int32_t i = 0; i < pattern.width; ++i)
            if ((mask == nullptr || rowOf(*mask, j)[i] != 0) && imageCare[i] != 0)
                ++totals.count, totals.sum += pixels[i], totals.squares += uint32_t{pixels[i]} * pixels[i];
    }
    return totals;
}

}  // namespace

qsrch::Status maskSumISumISq(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                             uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    if (unserved(*patternMask)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const PositionGrid grid = positionGrid(*patternMask, *image);
    if (grid.empty()) return QSYS_OK;
    CallFrame<1> frame;
    LocalScratch<kStackWords> scratch;
    QSRCH_RETURN_IF_ERROR(scratch.reserve(frame, 0, tableWords(*patternMask, 1)));
    const PatternGroups t = patternGroups(*patternMask, reinterpret_cast<uint8_t*>(scratch.data()), false);
    fillGroups(t, nullptr, patternMask);
    allPositions<ImageTerms>(
        t, *image, grid, [&](int32_t x, int32_t y) { return imageTotalsAt(*patternMask, *image, x, y); },
        [&](int32_t x, int32_t y, Totals v) {
            const size_t at = static_cast<size_t>(y) * outStride + x;
            sumI[at] = v.sum, sumISq[at] = v.squares;
        });
    return frame.finish();
}

qsrch::Status DmaskSumISumISq(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                              uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    if (unserved(*patternMask)) return QSRCH_E_NO_OPTIMIZED_PATH;
    return throughIntegerScratch<16>(positionGrid(*patternMask, *image), outStride, sumISq, outStride,
                                     [&](uint32_t* scratch, uint32_t stride) {
                                         return maskSumISumISq(patternMask, image, sumI, scratch, stride);
                                     });
}

// The pattern's own size gives the grid and the windows, as in the generic
// path; the caller keeps the mask to the same size.
qsrch::Status maskPatSumPatSumSq(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                 const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP,
                                 uint32_t* sumPSq, uint32_t outStride)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const PositionGrid grid = positionGrid(*pattern, *imageMask);
    if (grid.empty()) return QSYS_OK;
    const qimg_windowConst* mask = present(patternMask) ? patternMask : nullptr;  // else all-care
    CallFrame<1> frame;
    LocalScratch<kStackWords> scratch;
    QSRCH_RETURN_IF_ERROR(scratch.reserve(frame, 0, tableWords(*pattern, 2)));
    const PatternGroups t = patternGroups(*pattern, reinterpret_cast<uint8_t*>(scratch.data()), true);
    fillGroups(t, pattern, mask);
    allPositions<PatternTerms>(
        t, *imageMask, grid,
        [&](int32_t x, int32_t y) { return patternTotalsAt(*pattern, mask, *imageMask, x, y); },
        [&](int32_t x, int32_t y, Totals v) {
            const size_t at = static_cast<size_t>(y) * outStride + x;
            careCount[at] = v.count, sumP[at] = v.sum, sumPSq[at] = v.squares;
        });
    return frame.finish();
}

qsrch::Status DmaskPatSumPatSumSq(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                  const qimg_windowConst* imageMask, uint32_t* careCount, uint32_t* sumP,
                                  double* sumPSq, uint32_t outStride)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    return throughIntegerScratch<16>(positionGrid(*pattern, *imageMask), outStride, sumPSq, outStride,
                                     [&](uint32_t* scratch, uint32_t stride) {
                                         return maskPatSumPatSumSq(pattern, patternMask, imageMask, careCount,
                                                                   sumP, scratch, stride);
                                     });
}

}  // namespace qsrch::sse2
