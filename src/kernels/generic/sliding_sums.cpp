// Sliding image sums, generic path.
//
// Arithmetic contract: ΣI is an unsigned 32-bit sum in every form; all
// integer work is exact modulo 2^32, so intermediate differences may wrap
// while every stored integer is the exact window total reduced modulo 2^32
// (which is the exact total wherever the integer kernels' size rule holds).
// Squares of 8-bit pixels are summed in unsigned 32 bits: row sums of squares
// are exact for rows of up to 66051 pixels, window totals in the integer
// kernel for up to 0x10000 pixels. Squares of 16-bit pixels are exact
// non-negative products summed in unsigned 64 bits. Double outputs are fed
// only integers below 2^53, so every double partial sum is exact and the
// order of additions cannot change the result.
//
// The running sums cost one pass over the image and one over its row sums,
// whatever the pattern's size, with (h + 1) x nx row sums of scratch; the
// band table serves grids of at most 4 x 4 positions with one pass over the
// image and no scratch.
#include "kernels/generic/sliding_sums.hpp"

#include <qstd/qstd.h>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "kernels/scratch.hpp"

namespace qsrch::generic {
namespace {

template <class Sq, class Pixel>
inline Sq square(Pixel p)
{
    return static_cast<Sq>(p) * static_cast<Sq>(p);
}

inline size_t at(int32_t y, uint32_t outStride, int32_t x)
{
    return static_cast<size_t>(y) * outStride + static_cast<size_t>(x);
}

inline bool bandTableApplies(PositionGrid grid, const qimg_windowConst& image)
{
    return grid.nx <= 4 && grid.ny <= 4 && image.width >= 9 && image.height >= 9;
}

// A pattern without pixels sums to zero at every position.
inline bool windowWithoutPixels(const qimg_windowConst& pattern)
{
    return pattern.width < 1 || pattern.height < 1;
}

template <class OutSq>
void writeZeros(PositionGrid grid, uint32_t* sumI, OutSq* sumISq, uint32_t outStride)
{
    for (int32_t y = 0; y < grid.ny; ++y)
        for (int32_t x = 0; x < grid.nx; ++x) {
            sumI[at(y, outStride, x)] = 0;
            sumISq[at(y, outStride, x)] = 0;
        }
}

// ---- Band table ---------------------------------------------------------------
// Rows and columns fall into nine bands: the first four and the last four one
// by one, and a middle band of everything between (at least one, since the
// image is at least 9 pixels across).
inline int bandOf(int32_t k, int32_t size)
{
    if (k < 4) return k;
    return k < size - 4 ? 4 : k - (size - 4) + 5;
}

template <class CellSq>
struct BandTable {
    uint32_t sum[9][9];
    CellSq sumSq[9][9];
};

// One pass over the image. Each row adds into the nine cells of its row
// band; the middle columns of a row are totalled first, then added to the
// middle cell, which gives the same exact totals as gathering whole columns.
template <class Pixel, class CellSq>
void gatherBands(const qimg_windowConst& image, BandTable<CellSq>& table)
{
    table = {};
    const int32_t width = image.width;
    for (int32_t y = 0; y < image.height; ++y) {
        const Pixel* row = rowOf<Pixel>(image, y);
        uint32_t* sum = table.sum[bandOf(y, image.height)];
        CellSq* sumSq = table.sumSq[bandOf(y, image.height)];
        for (int k = 0; k < 4; ++k) {
            sum[k] += row[k];
            sumSq[k] += square<CellSq>(row[k]);
            sum[5 + k] += row[width - 4 + k];
            sumSq[5 + k] += square<CellSq>(row[width - 4 + k]);
        }
        uint32_t middle = 0;
        CellSq middleSq = 0;
        for (int32_t x = 4; x < width - 4; ++x) {
            middle += row[x];
            middleSq += square<CellSq>(row[x]);
        }
        sum[4] += middle;
        sumSq[4] += middleSq;
    }
}

// With w >= W - 3 and h >= H - 3 the window of position (x, y) covers
// exactly the column bands x .. x + 9 - nx and the row bands y .. y + 9 - ny.
template <class Pixel, class CellSq, class OutSq>
void bandTableSums(const qimg_windowConst& pattern, const qimg_windowConst& image, uint32_t* sumI,
                   OutSq* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(pattern, image);
    BandTable<CellSq> table;
    gatherBands<Pixel>(image, table);
    const int columnBands = 10 - grid.nx;
    const int rowBands = 10 - grid.ny;
    for (int32_t y = 0; y < grid.ny; ++y)
        for (int32_t x = 0; x < grid.nx; ++x) {
            uint32_t sum = 0;
            CellSq sumSq = 0;
            for (int r = y; r < y + rowBands; ++r)
                for (int c = x; c < x + columnBands; ++c) {
                    sum += table.sum[r][c];
                    sumSq += table.sumSq[r][c];
                }
            sumI[at(y, outStride, x)] = sum;
            sumISq[at(y, outStride, x)] = static_cast<OutSq>(sumSq);
        }
}

// ---- Running sums ---------------------------------------------------------------
// Row sums of one image row: for every column x the total of the w pixels
// from x on. Each window differs from its left neighbour by the pixel
// entering on the right and the pixel leaving on the left; those differences
// do not depend on one another, so they are taken in one sweep the compiler
// vectorises, and only their running total is sequential.
template <class Pixel, class RowSq>
void rowSumsOf(const Pixel* __restrict row, int32_t w, int32_t nx, uint32_t* __restrict sums,
               RowSq* __restrict sqSums)
{
    uint32_t first = 0;
    RowSq firstSq = 0;
    for (int32_t i = 0; i < w; ++i) {
        first += row[i];
        firstSq += square<RowSq>(row[i]);
    }
    sums[0] = first;
    sqSums[0] = firstSq;
    for (int32_t x = 1; x < nx; ++x) {
        sums[x] = static_cast<uint32_t>(row[x + w - 1]) - static_cast<uint32_t>(row[x - 1]);
        sqSums[x] = square<RowSq>(row[x + w - 1]) - square<RowSq>(row[x - 1]);
    }
    for (int32_t x = 1; x < nx; ++x) {
        sums[x] += sums[x - 1];
        sqSums[x] += sqSums[x - 1];
    }
}

// Window totals one position row at a time across all nx columns: the first
// row totals the row sums of image rows 0 to h - 1; each later row takes its
// upper neighbour's totals, removes the row sums of the image row leaving at
// the top and adds those of the row entering at the bottom. Per column this
// is the same sequence of additions and subtractions as a running total
// down the column. Row sums live in a ring of h + 1 image rows, so the row
// entering never overwrites the row leaving, and the scratch grows with the
// pattern's height, not the image's.
template <class Pixel, class RowSq, class OutSq>
void slideDown(const qimg_windowConst& image, int32_t w, int32_t h, PositionGrid grid, uint32_t* rowSums,
               RowSq* rowSqSums, uint32_t* sumI, OutSq* sumISq, uint32_t outStride)
{
    const size_t nx = static_cast<size_t>(grid.nx), slots = static_cast<size_t>(h) + 1;
    auto slot = [&](int32_t imageRow) { return (static_cast<size_t>(imageRow) % slots) * nx; };
    {
        uint32_t* __restrict sums = sumI;
        OutSq* __restrict sqSums = sumISq;
        for (int32_t r = 0; r < h; ++r) {
            uint32_t* entering = rowSums + slot(r);
            RowSq* enteringSq = rowSqSums + slot(r);
            rowSumsOf(rowOf<Pixel>(image, r), w, grid.nx, entering, enteringSq);
            if (r == 0) {
                for (size_t x = 0; x < nx; ++x) {
                    sums[x] = entering[x];
                    sqSums[x] = static_cast<OutSq>(enteringSq[x]);
                }
                continue;
            }
            for (size_t x = 0; x < nx; ++x) {
                sums[x] += entering[x];
                sqSums[x] += static_cast<OutSq>(enteringSq[x]);
            }
        }
    }
    for (int32_t y = 1; y < grid.ny; ++y) {
        uint32_t* enteringRow = rowSums + slot(y + h - 1);
        RowSq* enteringSqRow = rowSqSums + slot(y + h - 1);
        rowSumsOf(rowOf<Pixel>(image, y + h - 1), w, grid.nx, enteringRow, enteringSqRow);
        const uint32_t* __restrict above = sumI + at(y - 1, outStride, 0);
        const OutSq* __restrict aboveSq = sumISq + at(y - 1, outStride, 0);
        uint32_t* __restrict sums = sumI + at(y, outStride, 0);
        OutSq* __restrict sqSums = sumISq + at(y, outStride, 0);
        const uint32_t* __restrict leaving = rowSums + slot(y - 1);
        const RowSq* __restrict leavingSq = rowSqSums + slot(y - 1);
        const uint32_t* __restrict entering = enteringRow;
        const RowSq* __restrict enteringSq = enteringSqRow;
        for (size_t x = 0; x < nx; ++x) {
            sums[x] = above[x] - leaving[x] + entering[x];
            sqSums[x] = aboveSq[x] - static_cast<OutSq>(leavingSq[x]) + static_cast<OutSq>(enteringSq[x]);
        }
    }
}

// Two rings of (h + 1) x nx row sums (of pixels, unsigned 32-bit; of
// squares, RowSqVector's elements), released through the cleanup list on
// every exit.
template <class Pixel, class RowSq, class RowSqVector, class OutSq>
qsrch::Status runningSums(const qimg_windowConst& pattern, const qimg_windowConst& image, uint32_t* sumI,
                          OutSq* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(pattern, image);
    const size_t count = (static_cast<size_t>(pattern.height) + 1) * static_cast<size_t>(grid.nx);
    CallFrame<2> frame;
    qstd_vector32 rowSumVector;
    RowSqVector rowSqVector;
    uint32_t* rowSums = nullptr;
    RowSq* rowSqSums = nullptr;
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 0, &rowSumVector, count, &rowSums));
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 1, &rowSqVector, count, &rowSqSums));
    slideDown<Pixel>(image, pattern.width, pattern.height, grid, rowSums, rowSqSums, sumI, sumISq, outStride);
    return frame.finish();
}

// Patterns of at most 0x10000 pixels: the integer kernel writes ΣI straight
// to the caller and ΣI² to a scratch of the output's layout, which is then
// widened into the caller's doubles.
qsrch::Status sumISumISqThroughIntegers(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                        PositionGrid grid, uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    CallFrame<1> frame;
    qstd_vector32 scratchVector;
    uint32_t* scratch = nullptr;
    // Room for every position even when outStride is below nx (0 for a
    // single position row).
    QSRCH_RETURN_IF_ERROR(
        allocateScratch(frame, 0, &scratchVector, splitScratch(grid, outStride).count, &scratch));
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_computeSumISumISq(pattern, image, sumI, scratch, outStride)));
    copyPositions(grid, scratch, outStride, sumISq, outStride);
    return frame.finish();
}

template <class Sq>
void windowTotals(const qimg_windowConst& window, uint32_t& sum, Sq& sumSq)
{
    sum = 0;
    sumSq = 0;
    for (int32_t y = 0; y < window.height; ++y) {
        const uint8_t* row = rowOf(window, y);
        for (int32_t x = 0; x < window.width; ++x) {
            sum += row[x];
            sumSq += square<Sq>(row[x]);
        }
    }
}

}  // namespace

qsrch::Status computeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    if (tooLargeForIntegers(pattern->width, pattern->height)) return QSRCH_E_PATTERN_TOO_LARGE;
    const PositionGrid grid = positionGrid(*pattern, *image);
    QSRCH_RETURN_IF_ERROR(pollAttention(grid.nx, grid.ny));
    if (grid.empty()) return QSRCH_OK;
    if (windowWithoutPixels(*pattern)) {
        writeZeros(grid, sumI, sumISq, outStride);
        return QSRCH_OK;
    }
    if (bandTableApplies(grid, *image))
        return qsrch_computeSumISumISqLessThan4(pattern, image, sumI, sumISq, outStride);
    return runningSums<uint8_t, uint32_t, qstd_vector32>(*pattern, *image, sumI, sumISq, outStride);
}

qsrch::Status computeSumISumISqLessThan4(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                         uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    bandTableSums<uint8_t, uint32_t>(*pattern, *image, sumI, sumISq, outStride);
    return QSRCH_OK;
}

// The double sums of squares over 8- or 16-bit pixels. 8-bit patterns
// small enough for exact unsigned sums take the integer kernel; larger ones
// keep cells and row sums of squares in wider types, window totals of
// squares in double.
template <class Pixel, class RowSq, class RowVector>
qsrch::Status doubleSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* sumI,
                               double* sumISq, uint32_t outStride)
{
    const PositionGrid grid = positionGrid(*pattern, *image);
    if (grid.empty()) return QSRCH_OK;
    if (windowWithoutPixels(*pattern)) {
        writeZeros(grid, sumI, sumISq, outStride);
        return QSRCH_OK;
    }
    if (sizeof(Pixel) == 1 && !tooLargeForIntegers(pattern->width, pattern->height))
        return sumISumISqThroughIntegers(pattern, image, grid, sumI, sumISq, outStride);
    if (bandTableApplies(grid, *image)) {
        bandTableSums<Pixel, uint64_t>(*pattern, *image, sumI, sumISq, outStride);
        return QSRCH_OK;
    }
    return runningSums<Pixel, RowSq, RowVector>(*pattern, *image, sumI, sumISq, outStride);
}

qsrch::Status DcomputeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                 uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    return doubleSumISumISq<uint8_t, uint32_t, qstd_vector32>(pattern, image, sumI, sumISq, outStride);
}

qsrch::Status DcomputeSumISumISq16(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                   uint32_t* sumI, double* sumISq, uint32_t outStride)
{
    return doubleSumISumISq<uint16_t, uint64_t, qstd_vector64s>(pattern, image, sumI, sumISq, outStride);
}

qsrch::Status computeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI, uint32_t* sumISq)
{
    windowTotals(*window, *sumI, *sumISq);
    return QSRCH_OK;
}

qsrch::Status DcomputeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI, double* sumISq)
{
    uint64_t sumSq = 0;
    windowTotals(*window, *sumI, sumSq);
    *sumISq = static_cast<double>(sumSq);
    return QSRCH_OK;
}

}  // namespace qsrch::generic
