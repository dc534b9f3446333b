// Geometry shared by the statistics kernels: the grid of candidate
// positions, row access, and the half-height split that keeps the double
// kernels exact and their integer sub-sums within 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include <qimg/qimg.h>

#include "frame/attention.hpp"

namespace qsrch {

struct PositionGrid {
    int32_t nx;  // position columns, W - w + 1
    int32_t ny;  // position rows, H - h + 1
    bool empty() const { return nx < 1 || ny < 1; }
};

inline PositionGrid positionGrid(const qimg_windowConst& pattern, const qimg_windowConst& image)
{
    return {image.width - pattern.width + 1, image.height - pattern.height + 1};
}

template <class Pixel = uint8_t>
inline const Pixel* rowOf(const qimg_windowConst& w, int32_t y)
{
    return static_cast<const Pixel*>(w.firstPixel) + static_cast<ptrdiff_t>(y) * w.rowStride;
}

inline bool present(const qimg_windowConst* w) { return w != nullptr && w->firstPixel != nullptr; }

// The first `rows` rows of an 8-bit view.
inline qimg_windowConst topRows(const qimg_windowConst& w, int32_t rows)
{
    qimg_windowConst top = w;
    top.height = rows;
    return top;
}

// An 8-bit view without its first `rows` rows.
inline qimg_windowConst dropTopRows(const qimg_windowConst& w, int32_t rows)
{
    qimg_windowConst rest = w;
    rest.height = w.height - rows;
    rest.firstPixel = rowOf(w, rows);
    return rest;
}

// Large patterns are scored as a top half (h1 = h / 2 rows) and a bottom
// half (h2 = h - h1 rows) over shortened images, so that both halves have
// the same positions as the whole and the halves' sums add up exactly.
// A pattern row of 0x10000 pixels or more is never split.
inline bool needsHalfHeightSplit(const qimg_windowConst& pattern)
{
    return pattern.width < 0x10000 && product32(pattern.width, pattern.height) >= 0x10000;
}

struct HalfHeightSplit {
    int32_t h1, h2;
    qimg_windowConst patternTop(const qimg_windowConst& p) const { return topRows(p, h1); }
    qimg_windowConst patternBottom(const qimg_windowConst& p) const { return dropTopRows(p, h1); }
    qimg_windowConst imageTop(const qimg_windowConst& i) const { return topRows(i, i.height - h2); }
    qimg_windowConst imageBottom(const qimg_windowConst& i) const { return dropTopRows(i, h1); }
};

inline HalfHeightSplit halfHeightSplit(int32_t patternHeight)
{
    int32_t h1 = patternHeight / 2;
    return {h1, patternHeight - h1};
}

// The bottom half goes to a zero-filled scratch laid out like the output,
// but never narrower than the grid: a caller scoring a single position may
// pass an output stride of 0.
struct SplitScratch {
    uint32_t stride;
    size_t count;
};

inline SplitScratch splitScratch(PositionGrid grid, uint32_t outStride)
{
    const uint32_t nx = grid.nx > 0 ? static_cast<uint32_t>(grid.nx) : 0;
    const uint32_t stride = outStride > nx ? outStride : nx;
    return {stride, grid.ny > 0 ? static_cast<size_t>(grid.ny) * stride : 0};
}

// Adds the bottom half's results into the top half's, position by position.
template <class T>
void addBottomHalf(PositionGrid grid, T* out, uint32_t outStride, const T* bottom, uint32_t bottomStride)
{
    for (int32_t y = 0; y < grid.ny; ++y) {
        T* outRow = out + static_cast<size_t>(y) * outStride;
        const T* bottomRow = bottom + static_cast<size_t>(y) * bottomStride;
        for (int32_t x = 0; x < grid.nx; ++x) outRow[x] += bottomRow[x];
    }
}

// Copies the grid's positions between two layouts, converting each value
// (32-bit sums widened to doubles).
template <class From, class To>
void copyPositions(PositionGrid grid, const From* from, uint32_t fromStride, To* to, uint32_t toStride)
{
    for (int32_t y = 0; y < grid.ny; ++y) {
        const From* fromRow = from + static_cast<size_t>(y) * fromStride;
        To* toRow = to + static_cast<size_t>(y) * toStride;
        for (int32_t x = 0; x < grid.nx; ++x) toRow[x] = static_cast<To>(fromRow[x]);
    }
}

}  // namespace qsrch
