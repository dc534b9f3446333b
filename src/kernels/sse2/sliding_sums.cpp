// Sliding image sums, SSE2 twin.
//
// Arithmetic contract: as in the generic path, all integer work is modulo
// 2^32 and only exact terms enter it: pixels, their squares (pmaddwd of
// 16-bit pixels, or of a pixel and minus the pixel leaving a window), and
// psadbw totals of bytes. Differences may wrap; every stored value is the
// exact window total reduced modulo 2^32, the generic value, which is exact
// for the windows of up to 0x10000 pixels the integer kernel accepts.
//
// Three routes, by the size of the position grid:
// - 3 x 3 positions: five bands of rows and of columns (the first two, the
//   middle, the last two), each window the total of 3 x 3 band cells;
// - at most 4 x 4 positions: the band table of nine bands, its middle rows
//   gathered as per-column totals;
// - otherwise streaming running sums: each image row's horizontal window
//   sums go to a ring of h + 1 rows and, in the same pass, running column
//   totals add them and subtract those of the row h above, which leaves the
//   ring. Each image row is read once and the scratch grows with the
//   pattern's height, not the image's.
#include "kernels/sse2/sliding_sums.hpp"

#include <qsrch/frame.h>
#include <qstd/qstd.h>

#include <cstddef>
#include <cstring>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "kernels/scratch.hpp"
#include "kernels/sse2/lanes.hpp"

namespace qsrch::sse2 {
namespace {

constexpr int32_t kMaxBandColumns = 4096;  // per-column totals of the band table live on the stack

inline uint32_t square(uint8_t p) { return uint32_t{p} * p; }

// Adds the pixels [begin, end) of a row and their squares to sum and squares.
void addRun(const uint8_t* row, int32_t begin, int32_t end, uint32_t& sum, uint32_t& squares)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero, squareLanes = zero;
    int32_t c = begin;
    for (; c + 16 <= end; c += 16) {
        const __m128i pixels = load128(row + c);
        const __m128i low = _mm_unpacklo_epi8(pixels, zero), high = _mm_unpackhi_epi8(pixels, zero);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(pixels, zero));
        squareLanes = _mm_add_epi32(squareLanes, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
    }
    if (c + 8 <= end) {
        const __m128i pixels = load64(row + c), low = _mm_unpacklo_epi8(pixels, zero);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(pixels, zero));
        squareLanes = _mm_add_epi32(squareLanes, _mm_madd_epi16(low, low));
        c += 8;
    }
    sum += lane64Low(sums) + lane64High(sums);
    squares += laneTotal32(squareLanes);
    for (; c < end; ++c) sum += row[c], squares += square(row[c]);
}

// ---- Band cells ----------------------------------------------------------------
// Rows and columns fall into 2 Edge + 1 bands: the first Edge and the last
// Edge one by one, and a middle band of those between. With the window of
// position (x, y) reaching all but nx - 1 columns and ny - 1 rows, it covers
// exactly the column bands x .. x + 2 Edge + 1 - nx and the row bands
// y .. y + 2 Edge + 1 - ny.
template <int Edge>
struct BandCells {
    static constexpr int kBands = 2 * Edge + 1;
    uint32_t sum[kBands][kBands] = {};
    uint32_t squares[kBands][kBands] = {};

    static int bandOf(int32_t k, int32_t size) { return k < Edge ? k : k < size - Edge ? Edge : k - size + kBands; }

    // Adds one row to the cells of its row band.
    void addRow(const uint8_t* row, int32_t width, int band)
    {
        for (int k = 0; k < Edge; ++k) {
            sum[band][k] += row[k], squares[band][k] += square(row[k]);
            const uint8_t last = row[width - Edge + k];
            sum[band][Edge + 1 + k] += last, squares[band][Edge + 1 + k] += square(last);
        }
        addRun(row, Edge, width - Edge, sum[band][Edge], squares[band][Edge]);
    }

    void writeWindows(PositionGrid grid, uint32_t* sumI, uint32_t* sumISq, uint32_t outStride) const
    {
        const int columnBands = kBands + 1 - grid.nx, rowBands = kBands + 1 - grid.ny;
        for (int32_t y = 0; y < grid.ny; ++y)
            for (int32_t x = 0; x < grid.nx; ++x) {
                uint32_t windowSum = 0, windowSquares = 0;
                for (int r = y; r < y + rowBands; ++r)
                    for (int c = x; c < x + columnBands; ++c) windowSum += sum[r][c], windowSquares += squares[r][c];
                const size_t at = static_cast<size_t>(y) * outStride + x;
                sumI[at] = windowSum, sumISq[at] = windowSquares;
            }
    }
};

// The 3 x 3 kernel serves the images the library makes (rows 16 bytes
// apart) from 8 pixels wide; other 3 x 3 grids take the generic path.
qsrch::Status threeByThree(const qimg_windowConst& image, PositionGrid grid, uint32_t* sumI, uint32_t* sumISq,
                           uint32_t outStride)
{
    if (image.width < 8 || image.rowStride % 16 != 0) return QSRCH_E_NO_OPTIMIZED_PATH;
    BandCells<2> cells;
    for (int32_t y = 0; y < image.height; ++y)
        cells.addRow(rowOf(image, y), image.width, BandCells<2>::bandOf(y, image.height));
    cells.writeWindows(grid, sumI, sumISq, outStride);
    return QSYS_OK;
}

// Column totals of the rows [begin, end), 16 columns at a time.
void addColumns(const qimg_windowConst& image, int32_t begin, int32_t end, uint32_t* sums, uint32_t* squares)
{
    const __m128i zero = _mm_setzero_si128();
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* row = rowOf(image, y);
        int32_t c = 0;
        for (; c + 16 <= image.width; c += 16) {
            const __m128i pixels = load128(row + c);
            const __m128i halves[2] = {_mm_unpacklo_epi8(pixels, zero), _mm_unpackhi_epi8(pixels, zero)};
            for (int k = 0; k < 4; ++k) {
                // (pixel, 0) in each 32-bit lane: pmaddwd gives its square.
                const __m128i lanes = k % 2 == 0 ? _mm_unpacklo_epi16(halves[k / 2], zero)
                                                 : _mm_unpackhi_epi16(halves[k / 2], zero);
                uint32_t* s = sums + c + 4 * k;
                uint32_t* q = squares + c + 4 * k;
                store128(s, _mm_add_epi32(load128(s), lanes));
                store128(q, _mm_add_epi32(load128(q), _mm_madd_epi16(lanes, lanes)));
            }
        }
        for (; c < image.width; ++c) sums[c] += row[c], squares[c] += square(row[c]);
    }
}

}  // namespace

qsrch::Status computeSumISumISqLessThan4(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                         uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    if (image->width > kMaxBandColumns) return QSRCH_E_NO_OPTIMIZED_PATH;
    const int32_t W = image->width, H = image->height;
    alignas(32) uint32_t columnSums[kMaxBandColumns];
    alignas(32) uint32_t columnSquares[kMaxBandColumns];
    QSRCH_RETURN_IF_ERROR(qsys_memory_fill(0, W * sizeof(uint32_t), columnSums));
    QSRCH_RETURN_IF_ERROR(qsys_memory_fill(0, W * sizeof(uint32_t), columnSquares));

    using Cells = BandCells<4>;
    Cells cells;
    for (int32_t y : {0, 1, 2, 3, H - 4, H - 3, H - 2, H - 1}) cells.addRow(rowOf(*image, y), W, Cells::bandOf(y, H));
    // The middle rows as per-column totals, then folded into the column bands.
    addColumns(*image, 4, H - 4, columnSums, columnSquares);
    for (int32_t c = 0; c < W; ++c) {
        const int band = Cells::bandOf(c, W);
        cells.sum[4][band] += columnSums[c], cells.squares[4][band] += columnSquares[c];
    }
    cells.writeWindows(positionGrid(*pattern, *image), sumI, sumISq, outStride);
    return QSYS_OK;
}

namespace {

// ---- Streaming running sums -------------------------------------------------------

// The columns of one image row's slot in the rings, the slot it replaces
// there (row r - h) and the running totals; `windows` and `windowSquares`,
// when set, receive the totals as the sums of a position row.
struct RowStep {
    uint32_t* sums;
    uint32_t* squares;
    const uint32_t* leavingSums;
    const uint32_t* leavingSquares;
    uint32_t* totals;
    uint32_t* squareTotals;
    uint32_t* windows;
    uint32_t* windowSquares;

    // Column x's horizontal sums enter, those of the row leaving go.
    void slide(int32_t x, uint32_t sum, uint32_t sumSquares) const
    {
        sums[x] = sum, squares[x] = sumSquares;
        totals[x] += sum - leavingSums[x], squareTotals[x] += sumSquares - leavingSquares[x];
        if (windows != nullptr) windows[x] = totals[x], windowSquares[x] = squareTotals[x];
    }
    void slide(int32_t x, __m128i sum, __m128i sumSquares) const
    {
        store128(sums + x, sum), store128(squares + x, sumSquares);
        const __m128i total = _mm_add_epi32(load128(totals + x), _mm_sub_epi32(sum, load128(leavingSums + x)));
        const __m128i squareTotal =
            _mm_add_epi32(load128(squareTotals + x), _mm_sub_epi32(sumSquares, load128(leavingSquares + x)));
        store128(totals + x, total), store128(squareTotals + x, squareTotal);
        if (windows != nullptr) store128(windows + x, total), store128(windowSquares + x, squareTotal);
    }
};

// One image row: its horizontal window sums for the nx columns (the first
// window's w pixels, then each next window as its left neighbour plus the
// pixel entering at x + w - 1 minus the one leaving at x - 1, four windows
// at a time as a running sum of those differences) slide the totals down.
void streamRow(const uint8_t* row, int32_t w, int32_t nx, const RowStep& step)
{
    uint32_t sum = 0, sumSquares = 0;
    addRun(row, 0, w, sum, sumSquares);
    step.slide(0, sum, sumSquares);
    const __m128i zero = _mm_setzero_si128();
    auto fourPixels = [&](const uint8_t* p) {
        int32_t bytes;
        std::memcpy(&bytes, p, sizeof bytes);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);  // 16-bit lanes 0..3
    };
    auto runningTotal = [](__m128i steps, __m128i before) {
        steps = _mm_add_epi32(steps, _mm_slli_si128(steps, 4));
        steps = _mm_add_epi32(steps, _mm_slli_si128(steps, 8));
        return _mm_add_epi32(steps, _mm_shuffle_epi32(before, _MM_SHUFFLE(3, 3, 3, 3)));
    };
    __m128i sums = _mm_set1_epi32(static_cast<int>(sum)), squares = _mm_set1_epi32(static_cast<int>(sumSquares));
    int32_t x = 1;
    for (; x + 4 <= nx; x += 4) {
        const __m128i entering = fourPixels(row + x + w - 1), leaving = fourPixels(row + x - 1);
        const __m128i difference =
            _mm_sub_epi32(_mm_unpacklo_epi16(entering, zero), _mm_unpacklo_epi16(leaving, zero));
        // (in, out) . (in, -out) = in^2 - out^2
        const __m128i squareDifference = _mm_madd_epi16(_mm_unpacklo_epi16(entering, leaving),
                                                        _mm_unpacklo_epi16(entering, _mm_sub_epi16(zero, leaving)));
        sums = runningTotal(difference, sums);
        squares = runningTotal(squareDifference, squares);
        step.slide(x, sums, squares);
    }
    sum = step.sums[x - 1], sumSquares = step.squares[x - 1];
    for (; x < nx; ++x) {
        sum += uint32_t{row[x + w - 1]} - row[x - 1];
        sumSquares += square(row[x + w - 1]) - square(row[x - 1]);
        step.slide(x, sum, sumSquares);
    }
}

// The scratch: rings of h + 1 rows of horizontal sums and of sums of
// squares, then the two rows of running totals; rows nxPad apart (nx
// rounded up to 32), starting at the first 32-byte-aligned element.
struct RunningRows {
    size_t nxPad, slots;
    uint32_t* sums;
    uint32_t* squares;
    uint32_t* totals;
    uint32_t* squareTotals;
    uint32_t* sumsOf(size_t slot) const { return sums + slot * nxPad; }
    uint32_t* squaresOf(size_t slot) const { return squares + slot * nxPad; }
};

qsrch::Status streamingSums(const qimg_windowConst& pattern, const qimg_windowConst& image, PositionGrid grid,
                            uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    const int32_t w = pattern.width, h = pattern.height;
    const size_t nxPad = (static_cast<size_t>(grid.nx) + 31) / 32 * 32, slots = static_cast<size_t>(h) + 1;
    CallFrame<1> frame;
    qstd_vector32 vector;
    uint32_t* block = nullptr;
    QSRCH_RETURN_IF_ERROR(allocateScratch(frame, 0, &vector, (slots * 2 + 2) * nxPad + 32, &block));
    uint32_t* first = block + (32 - reinterpret_cast<uintptr_t>(block) % 32) % 32 / sizeof(uint32_t);
    const RunningRows rows{nxPad, slots, first, first + slots * nxPad, first + 2 * slots * nxPad,
                           first + (2 * slots + 1) * nxPad};
    // Row h's slot stands for the rows above the image, which leave zeros.
    const size_t rowBytes = nxPad * sizeof(uint32_t);
    QSRCH_RETURN_IF_ERROR(frame.track(qsys_memory_fill(0, 2 * rowBytes, rows.totals)));
    QSRCH_RETURN_IF_ERROR(frame.track(qsys_memory_fill(0, rowBytes, rows.sumsOf(h))));
    QSRCH_RETURN_IF_ERROR(frame.track(qsys_memory_fill(0, rowBytes, rows.squaresOf(h))));

    for (int32_t r = 0; r < image.height; ++r) {
        const size_t slot = static_cast<size_t>(r) % slots;
        const size_t leaving = r < h ? static_cast<size_t>(h) : (slot + 1) % slots;  // row r - h
        const bool windowsDone = r >= h - 1;
        const size_t at = windowsDone ? static_cast<size_t>(r - h + 1) * outStride : 0;
        streamRow(rowOf(image, r), w, grid.nx,
                  {rows.sumsOf(slot), rows.squaresOf(slot), rows.sumsOf(leaving), rows.squaresOf(leaving),
                   rows.totals, rows.squareTotals, windowsDone ? sumI + at : nullptr,
                   windowsDone ? sumISq + at : nullptr});
    }
    return frame.finish();
}

}  // namespace

qsrch::Status computeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                uint32_t* sumI, uint32_t* sumISq, uint32_t outStride)
{
    if (unserved(*pattern)) return QSRCH_E_NO_OPTIMIZED_PATH;
    const PositionGrid grid = positionGrid(*pattern, *image);
    if (grid.empty()) return QSYS_OK;
    // Five row bands need four rows at least: a one-row pattern's 3 x 3 grid is streamed.
    if (grid.nx == 3 && grid.ny == 3 && image->height >= 4)
        return threeByThree(*image, grid, sumI, sumISq, outStride);
    if (grid.nx <= 4 && grid.ny <= 4 && image->width >= 9 && image->height >= 9)
        return qsrch_computeSumISumISqLessThan4(pattern, image, sumI, sumISq, outStride);
    return streamingSums(*pattern, *image, grid, sumI, sumISq, outStride);
}

}  // namespace qsrch::sse2
