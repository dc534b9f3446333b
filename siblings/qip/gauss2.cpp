// Reduction by two: the 4-tap binomial (1 3 3 1) / 8 in each direction over
// source pixels 2x - 1 .. 2x + 2, so destination pixel (x, y) is the
// smoothed source at (2x + 0.5, 2y + 0.5) and the reduced grid maps by
// p -> 2p + 0.5. Of the binomials that smooth before subsampling by two this
// one reaches least far: a destination pixel mixes in one source pixel
// beyond its own 2 x 2 block on each side, so a pattern and a scene that
// holds it reduce to nearly the same pixels even near the pattern's border,
// where the scene's reduction also sees the pattern's surroundings.
//
// Arithmetic, all exact integers: for destination row y the source rows
// 2y - 1 .. 2y + 2 that exist are summed with their weights into a row of
// 16-bit column sums (at most 255 * 8); that row is filtered at the odd
// columns (at most 255 * 64, still 16 bits) and divided by the total weight
// of the taps used, rounding halves up. Away from the border the total is
// 64, a shift. Near it only the taps over existing pixels count and the
// division is by their weight: the kernel is renormalised, a constant image
// stays constant to the last grey level, and nothing outside the view is
// read. Columns go first so the horizontal work, the part with stride-2
// access, runs once per destination row rather than once per source row;
// the four source rows are read straight from the view.
//
// The interior rows and columns, nearly all the work, have SSE2 twins
// (gauss2_sse2.cpp) that give the same values; the inhibit query can forbid
// them by the name "qip_gauss2_smoothWindow8_8". Several reductions in a
// row (qip_gauss2_smoothLevels8_8) are made in one pass: each row of a level
// is made as soon as the rows of the level above that it reads exist, while
// those are still in cache.
#include "qip/gauss2_rows.hpp"
#include "qip/internal.hpp"

#include <qprt/qprt.h>

#include <cstdint>

namespace {

using qip_detail::check8;

constexpr uint32_t kTap[4] = {1, 3, 3, 1};

// First and one-past-last destination index whose four taps all exist in a
// source extent of n pixels: 2x - 1 >= 0 and 2x + 2 <= n - 1.
int32_t interiorBegin() { return 1; }
int32_t interiorEnd(int32_t n) { return n >= 3 ? (n - 1) / 2 : 0; }

// Weighted sum and total weight of the taps around source column 2x + 0.5
// that exist in a row of w column sums.
uint32_t borderSum(const uint16_t* sums, int32_t w, int32_t x, uint32_t* weightOut)
{
    uint32_t sum = 0, weight = 0;
    for (int32_t k = 0; k < 4; ++k) {
        int32_t i = 2 * x - 1 + k;
        if (i < 0 || i >= w) continue;
        sum += kTap[k] * sums[i];
        weight += kTap[k];
    }
    *weightOut = weight;
    return sum;
}

uint8_t roundedQuotient(uint32_t sum, uint32_t weight)
{
    // The border columns of interior rows weigh 7 * 8: a constant divisor,
    // which costs a multiplication instead of a division.
    if (weight == 56) return static_cast<uint8_t>((sum + 28) / 56);
    return static_cast<uint8_t>((sum + weight / 2) / weight);
}

const uint8_t* rowOf(const qimg_windowConst& s, int32_t r)
{
    return static_cast<const uint8_t*>(s.firstPixel) + static_cast<ptrdiff_t>(r) * s.rowStride;
}

// The column sums of destination row y, and their total weight.
uint32_t columnSums(const qimg_windowConst& s, int32_t y, bool vector, uint16_t* sums)
{
    const int32_t w = s.width;
    if (y >= interiorBegin() && y < interiorEnd(s.height)) {
        const uint8_t *r0 = rowOf(s, 2 * y - 1), *r1 = rowOf(s, 2 * y), *r2 = rowOf(s, 2 * y + 1),
                      *r3 = rowOf(s, 2 * y + 2);
        const int32_t done = vector ? qip_detail::sse2::columnSums(r0, r1, r2, r3, w, sums) : 0;
        qip_detail::generic::columnSums(r0, r1, r2, r3, done, w, sums);
        return 8;
    }
    uint32_t weight = 0;
    for (int32_t i = 0; i < w; ++i) sums[i] = 0;
    for (int32_t k = 0; k < 4; ++k) {
        int32_t r = 2 * y - 1 + k;
        if (r < 0 || r >= s.height) continue;
        const uint8_t* row = rowOf(s, r);
        const uint16_t tap = static_cast<uint16_t>(kTap[k]);
        for (int32_t i = 0; i < w; ++i) sums[i] = static_cast<uint16_t>(sums[i] + tap * row[i]);
        weight += kTap[k];
    }
    return weight;
}

void reduceRow(const uint16_t* sums, int32_t w, uint32_t rowWeight, bool vector, uint8_t* out, int32_t dw)
{
    const int32_t begin = interiorBegin() < dw ? interiorBegin() : dw;
    int32_t end = interiorEnd(w) < dw ? interiorEnd(w) : dw;
    if (end < begin) end = begin;
    if (rowWeight == 8) {
        const int32_t done = vector ? qip_detail::sse2::interiorRow(sums, begin, end, out) : begin;
        qip_detail::generic::interiorRow(sums, done, end, out);
    } else {
        const uint32_t weight = 8 * rowWeight;
        for (int32_t x = begin; x < end; ++x) {
            const uint16_t* v = sums + 2 * x;
            uint32_t sum = v[-1] + v[2] + 3u * (v[0] + v[1]);
            out[x] = roundedQuotient(sum, weight);
        }
    }
    auto borderColumn = [&](int32_t x) {
        uint32_t columnWeight = 0;
        uint32_t sum = borderSum(sums, w, x, &columnWeight);
        out[x] = roundedQuotient(sum, columnWeight * rowWeight);
    };
    for (int32_t x = 0; x < begin; ++x) borderColumn(x);
    for (int32_t x = end; x < dw; ++x) borderColumn(x);
}

uint8_t* destinationRow(const qimg_window& destination, int32_t y)
{
    return static_cast<uint8_t*>(destination.firstPixel) + static_cast<ptrdiff_t>(y) * destination.rowStride;
}

// Row y of the reduction of source into destination.
void reduceOneRow(const qimg_windowConst& source, const qimg_window& destination, int32_t y, bool vector,
                  uint16_t* sums)
{
    const uint32_t rowWeight = columnSums(source, y, vector, sums);
    reduceRow(sums, source.width, rowWeight, vector, destinationRow(destination, y), destination.width);
}

// Interior rows y and y + 1 on the SSE2 path, from the six source rows they
// read together; nextSums holds the second row's column sums.
void reduceTwoRows(const qimg_windowConst& source, const qimg_window& destination, int32_t y, uint16_t* sums,
                   uint16_t* nextSums)
{
    const uint8_t* rows[6];
    for (int32_t k = 0; k < 6; ++k) rows[k] = rowOf(source, 2 * y - 1 + k);
    const int32_t w = source.width;
    const int32_t done = qip_detail::sse2::columnSumsTwoRows(rows, w, sums, nextSums);
    qip_detail::generic::columnSums(rows[0], rows[1], rows[2], rows[3], done, w, sums);
    qip_detail::generic::columnSums(rows[2], rows[3], rows[4], rows[5], done, w, nextSums);
    reduceRow(sums, w, 8, true, destinationRow(destination, y), destination.width);
    reduceRow(nextSums, w, 8, true, destinationRow(destination, y + 1), destination.width);
}

bool vectorAllowed()
{
    static const char16_t kName[] = u"qip_gauss2_smoothWindow8_8";
    const qprt_inhibitQuery query = qprt_isOptimizationInhibitedFP;
    return query == nullptr || query(reinterpret_cast<const uint16_t*>(kName)) == 0;
}

// Two rows of column sums for sources up to this wide live on the stack.
constexpr int32_t kStackSums = 4096;

// Reductions in a row: level 0 is the source, level k destination k - 1;
// made[k] counts the rows of level k written so far. On the SSE2 path two
// interior rows are made together whenever both can be.
struct Chain {
    const qimg_windowConst* source;
    qimg_window* destinations;
    int32_t count;
    int32_t* made;
    bool vector;
    uint16_t* sums;
    uint16_t* nextSums;

    const qimg_windowConst& level(int32_t k) const
    {
        return k == 0 ? *source : *qimg_window_asConst(&destinations[k - 1]);
    }
    // Row y of level k reads rows up to 2y + 2 of level k - 1.
    bool ready(int32_t k) const
    {
        const int32_t y = made[k], above = level(k - 1).height;
        if (y >= level(k).height) return false;
        const int32_t last = 2 * y + 2 < above - 1 ? 2 * y + 2 : above - 1;
        return k == 1 || last < made[k - 1];
    }
    // Rows y and y + 1 of level k both interior (then they are made together).
    bool pairable(int32_t k) const
    {
        const int32_t y = made[k];
        return vector && y >= interiorBegin() && y + 1 < level(k).height && y + 1 < interiorEnd(level(k - 1).height);
    }
    // A pair whose second row still lacks rows of the level above waits for them.
    bool pairReady(int32_t k) const { return pairable(k) && (k == 1 || 2 * made[k] + 4 < made[k - 1]); }
    bool waiting(int32_t k) const { return pairable(k) && !pairReady(k); }
    void makeRows(int32_t k)
    {
        if (pairReady(k)) {
            reduceTwoRows(level(k - 1), destinations[k - 1], made[k], sums, nextSums);
            made[k] += 2;
            return;
        }
        reduceOneRow(level(k - 1), destinations[k - 1], made[k]++, vector, sums);
    }
    // A row of the first reduction, then every row of the levels below that
    // it makes possible, and so on.
    void run()
    {
        for (bool progress = true; progress;) {
            progress = false;
            for (int32_t k = 1; k <= count; ++k)
                for (int32_t rounds = 0; ready(k) && !waiting(k) && (k > 1 || rounds < 1); ++rounds) {
                    makeRows(k);
                    progress = true;
                }
        }
    }
};

qsys_status checkSizes(const qimg_windowConst& source, const qimg_window& destination)
{
    qsys_status s = check8(source);
    if (!QSYS_FAILED(s)) s = check8(destination);
    if (QSYS_FAILED(s)) return s;
    return destination.width == source.width / 2 && destination.height == source.height / 2 ? QSYS_OK
                                                                                              : QIMG_E_SIZE_MISMATCH;
}

}  // namespace

namespace qip_detail::generic {

void columnSums(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, int32_t begin,
                int32_t w, uint16_t* sums)
{
    for (int32_t i = begin; i < w; ++i) sums[i] = static_cast<uint16_t>(r0[i] + r3[i] + 3 * (r1[i] + r2[i]));
}

void interiorRow(const uint16_t* sums, int32_t begin, int32_t end, uint8_t* out)
{
    for (int32_t x = begin; x < end; ++x) {
        const uint16_t* v = sums + 2 * x;
        const uint16_t sum = static_cast<uint16_t>(v[-1] + v[2] + 3 * (v[0] + v[1]) + 32);
        out[x] = static_cast<uint8_t>(sum >> 6);
    }
}

}  // namespace qip_detail::generic

extern "C" qsys_status qip_gauss2_smoothLevels8_8(const qimg_windowConst* source,
                                                  const qmath_xformLinear* sourceTransform, int32_t count,
                                                  qimg_window* destinations, qmath_xformLinear* transformsOut)
{
    if (count < 1 || count > QIP_GAUSS2_MAX_LEVELS) return QSYS_E_BAD_ARGUMENT;
    for (int32_t k = 0; k < count; ++k) {
        qsys_status s = checkSizes(k == 0 ? *source : *qimg_window_asConst(&destinations[k - 1]), destinations[k]);
        if (QSYS_FAILED(s)) return s;
    }

    const int32_t w = source->width;
    qip_detail::HeapBlock heapSums;
    uint16_t stackSums[2 * kStackSums];
    uint16_t* sums = stackSums;
    if (w > kStackSums) {
        qsys_status s = qsys_memory_alloc_internal(2 * static_cast<size_t>(w) * sizeof(uint16_t), &heapSums.block);
        if (QSYS_FAILED(s)) return s;
        sums = static_cast<uint16_t*>(heapSums.block);
    }
    int32_t made[QIP_GAUSS2_MAX_LEVELS + 1] = {};
    Chain{source, destinations, count, made, vectorAllowed(), sums, sums + w}.run();

    qmath_xformLinear doubled;
    qmath_xformLinear_initScaleShift(&doubled, 2.0, 2.0, 0.5, 0.5);
    const qmath_xformLinear* above = sourceTransform;
    for (int32_t k = 0; k < count; ++k) {
        qsys_status s = qmath_xformLinear_initCompose(&transformsOut[k], above, &doubled);
        if (QSYS_FAILED(s)) return s;
        above = &transformsOut[k];
    }
    return QSYS_OK;
}

extern "C" qsys_status qip_gauss2_smoothWindow8_8(const qimg_windowConst* source,
                                                  const qmath_xformLinear* sourceTransform,
                                                  qimg_window* destination,
                                                  qmath_xformLinear* destinationTransformOut)
{
    return qip_gauss2_smoothLevels8_8(source, sourceTransform, 1, destination, destinationTransformOut);
}
