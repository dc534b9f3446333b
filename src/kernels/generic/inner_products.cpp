// Inner products of the pattern with the image under each position.
//
// Arithmetic contract: each product of two 8-bit pixels is formed exactly
// (at most 65025). The integer forms sum a whole position in unsigned 32-bit
// arithmetic, exact for patterns of up to 65536 pixels (65025 * 65536 <
// 2^32). The double form sums each pattern row in unsigned 32 bits, in
// chunks of at most 65536 pixels so no chunk can wrap, and adds the chunk
// sums to a double accumulator: every partial sum is an integer below 2^53,
// so the double result is the exact inner product, equal to adding every
// product to the double one by one.
#include "kernels/generic/inner_products.hpp"

#include <cstddef>

#include "kernels/grid.hpp"
#include "frame/status.hpp"

namespace qsrch::generic {

namespace {

// Kept as a plain loop over one pattern row: the compiler vectorises the
// widening multiply-accumulate.
inline uint32_t rowDot(const uint8_t* patternRow, const uint8_t* imageRow, int32_t width)
{
    uint32_t sum = 0;
    for (int32_t i = 0; i < width; ++i) sum += static_cast<uint32_t>(patternRow[i]) * imageRow[i];
    return sum;
}

inline uint32_t innerProductAt(const qimg_windowConst& pattern, const qimg_windowConst& image, int32_t x,
                               int32_t y)
{
    uint32_t sum = 0;
    for (int32_t j = 0; j < pattern.height; ++j)
        sum += rowDot(rowOf(pattern, j), rowOf(image, y + j) + x, pattern.width);
    return sum;
}

// The most products one 32-bit chunk sum may hold without wrapping.
constexpr int32_t kExactChunk = 0x10000;

inline double exactInnerProductAt(const qimg_windowConst& pattern, const qimg_windowConst& image, int32_t x,
                                  int32_t y)
{
    double sum = 0.0;
    for (int32_t j = 0; j < pattern.height; ++j) {
        const uint8_t* patternRow = rowOf(pattern, j);
        const uint8_t* imageRow = rowOf(image, y + j) + x;
        for (int32_t i = 0; i < pattern.width; i += kExactChunk) {
            int32_t chunk = pattern.width - i < kExactChunk ? pattern.width - i : kExactChunk;
            sum += static_cast<double>(rowDot(patternRow + i, imageRow + i, chunk));
        }
    }
    return sum;
}

// Writes productAt(x, y) for every position of the grid, row by row.
template <class T, class ProductAt>
void fillGrid(const PositionGrid& grid, T* out, uint32_t outStride, ProductAt productAt)
{
    for (int32_t y = 0; y < grid.ny; ++y) {
        T* outRow = out + static_cast<size_t>(y) * outStride;
        for (int32_t x = 0; x < grid.nx; ++x) outRow[x] = productAt(x, y);
    }
}

}  // namespace

qsrch::Status innerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, uint32_t* out,
                            uint32_t outStride)
{
    fillGrid(positionGrid(*pattern, *image), out, outStride,
             [&](int32_t x, int32_t y) { return innerProductAt(*pattern, *image, x, y); });
    return QSYS_OK;
}

qsrch::Status DinnerProducts(const qimg_windowConst* pattern, const qimg_windowConst* image, double* out,
                             uint32_t outStride)
{
    fillGrid(positionGrid(*pattern, *image), out, outStride,
             [&](int32_t x, int32_t y) { return exactInnerProductAt(*pattern, *image, x, y); });
    return QSYS_OK;
}

qsrch::Status innerProductsUsingEndpoints(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                          uint32_t* out, uint32_t outStride,
                                          const qstd_vector_qstd_pair32* endpoints, uint32_t step)
{
    const qstd_pair32* ranges = nullptr;
    uint32_t rangeCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(endpoints, &ranges, &rangeCount));
    PositionGrid grid = positionGrid(*pattern, *image);
    if (grid.empty()) return QSYS_OK;
    // The list's length and its ranges against nx are the caller's duty.
    for (int32_t r = 0; r < grid.ny; ++r) {
        const qstd_pair32 range = ranges[static_cast<size_t>(r) * step];
        uint32_t* outRow = out + static_cast<size_t>(r) * outStride;
        for (int32_t x = range.first; x < range.second; ++x)
            outRow[x] = innerProductAt(*pattern, *image, x, r);
    }
    return QSYS_OK;
}

}  // namespace qsrch::generic
