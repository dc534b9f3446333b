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
#include "qip/internal.hpp"

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
    return static_cast<uint8_t>((sum + weight / 2) / weight);
}

// The column sums of destination row y, and their total weight.
uint32_t columnSums(const qimg_windowConst& s, int32_t y, uint16_t* sums)
{
    const int32_t w = s.width;
    auto rowOf = [&](int32_t r) {
        return static_cast<const uint8_t*>(s.firstPixel) + static_cast<ptrdiff_t>(r) * s.rowStride;
    };
    if (y >= interiorBegin() && y < interiorEnd(s.height)) {
        const uint8_t* r0 = rowOf(2 * y - 1);
        const uint8_t* r1 = rowOf(2 * y);
        const uint8_t* r2 = rowOf(2 * y + 1);
        const uint8_t* r3 = rowOf(2 * y + 2);
        for (int32_t i = 0; i < w; ++i) sums[i] = static_cast<uint16_t>(r0[i] + r3[i] + 3 * (r1[i] + r2[i]));
        return 8;
    }
    uint32_t weight = 0;
    for (int32_t i = 0; i < w; ++i) sums[i] = 0;
    for (int32_t k = 0; k < 4; ++k) {
        int32_t r = 2 * y - 1 + k;
        if (r < 0 || r >= s.height) continue;
        const uint8_t* row = rowOf(r);
        const uint16_t tap = static_cast<uint16_t>(kTap[k]);
        for (int32_t i = 0; i < w; ++i) sums[i] = static_cast<uint16_t>(sums[i] + tap * row[i]);
        weight += kTap[k];
    }
    return weight;
}

void reduceRow(const uint16_t* sums, int32_t w, uint32_t rowWeight, uint8_t* out, int32_t dw)
{
    const int32_t begin = interiorBegin() < dw ? interiorBegin() : dw;
    int32_t end = interiorEnd(w) < dw ? interiorEnd(w) : dw;
    if (end < begin) end = begin;
    if (rowWeight == 8) {
        // 16-bit lanes suffice: the sum is at most 255 * 64 + 32.
        for (int32_t x = begin; x < end; ++x) {
            const uint16_t* v = sums + 2 * x;
            uint16_t sum = static_cast<uint16_t>(v[-1] + v[2] + 3 * (v[0] + v[1]) + 32);
            out[x] = static_cast<uint8_t>(sum >> 6);
        }
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

}  // namespace

extern "C" qsys_status qip_gauss2_smoothWindow8_8(const qimg_windowConst* source,
                                                  const qmath_xformLinear* sourceTransform,
                                                  qimg_window* destination,
                                                  qmath_xformLinear* destinationTransformOut)
{
    qsys_status s = check8(*source);
    if (!QSYS_FAILED(s)) s = check8(*destination);
    if (QSYS_FAILED(s)) return s;
    const int32_t w = source->width, h = source->height;
    const int32_t dw = destination->width, dh = destination->height;
    if (dw != w / 2 || dh != h / 2) return QIMG_E_SIZE_MISMATCH;

    if (dw > 0 && dh > 0) {
        qip_detail::HeapBlock scratch;
        s = qsys_memory_alloc_internal(static_cast<size_t>(w) * sizeof(uint16_t), &scratch.block);
        if (QSYS_FAILED(s)) return s;
        auto* sums = static_cast<uint16_t*>(scratch.block);
        for (int32_t y = 0; y < dh; ++y) {
            uint32_t rowWeight = columnSums(*source, y, sums);
            uint8_t* out = static_cast<uint8_t*>(destination->firstPixel) +
                           static_cast<ptrdiff_t>(y) * destination->rowStride;
            reduceRow(sums, w, rowWeight, out, dw);
        }
    }

    qmath_xformLinear doubled;
    qmath_xformLinear_initScaleShift(&doubled, 2.0, 2.0, 0.5, 0.5);
    return qmath_xformLinear_initCompose(destinationTransformOut, sourceTransform, &doubled);
}
