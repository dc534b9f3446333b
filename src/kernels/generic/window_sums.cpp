// Window sums under masks, generic path.
//
// Arithmetic contract: integer forms accumulate each position's sum in
// unsigned 32 bits; with at most 0x10000 cared-for pixels of at most 255
// (squares at most 65025) nothing wraps, and the exported kernels refuse
// larger patterns where it could. D forms square each pixel as an integer,
// convert the square to double and add it to a double accumulator; every
// partial sum is an integer far below 2^53, so the double result is exact.
// A pixel of a mask is cared for when it is non-zero, whatever its value.
#include "kernels/generic/window_sums.hpp"

#include "kernels/grid.hpp"
#include "frame/status.hpp"

namespace qsrch::generic {
namespace {

// Sums term(image pixel) over the cared-for pixels of the pattern mask, at
// every position of the mask over the image.
template <class Accumulator, class Out, class Term>
void imageWindowSums(const qimg_windowConst& patternMask, const qimg_windowConst& image, Out* out,
                     uint32_t outStride, Term term)
{
    const PositionGrid grid = positionGrid(patternMask, image);
    if (grid.empty()) return;
    for (int32_t y = 0; y < grid.ny; ++y) {
        Out* outRow = out + static_cast<size_t>(y) * outStride;
        for (int32_t x = 0; x < grid.nx; ++x) {
            Accumulator sum = 0;
            for (int32_t j = 0; j < patternMask.height; ++j) {
                const uint8_t* care = rowOf(patternMask, j);
                const uint8_t* pixels = rowOf(image, y + j) + x;
                for (int32_t i = 0; i < patternMask.width; ++i)
                    if (care[i] != 0) sum += term(pixels[i]);
            }
            outRow[x] = sum;
        }
    }
}

// Sums term(pattern pixel) over the pixels cared for by both the pattern
// mask and, under the position, the image's care mask. The pattern mask
// gives the window's size; the pattern is read at its own row stride.
template <class Accumulator, class Out, class Term>
void patternWindowSums(const qimg_windowConst& pattern, const qimg_windowConst& patternMask,
                       const qimg_windowConst& imageMask, Out* out, uint32_t outStride, Term term)
{
    const PositionGrid grid = positionGrid(patternMask, imageMask);
    if (grid.empty()) return;
    for (int32_t y = 0; y < grid.ny; ++y) {
        Out* outRow = out + static_cast<size_t>(y) * outStride;
        for (int32_t x = 0; x < grid.nx; ++x) {
            Accumulator sum = 0;
            for (int32_t j = 0; j < patternMask.height; ++j) {
                const uint8_t* care = rowOf(patternMask, j);
                const uint8_t* pixels = rowOf(pattern, j);
                const uint8_t* imageCare = rowOf(imageMask, y + j) + x;
                for (int32_t i = 0; i < patternMask.width; ++i)
                    if (care[i] != 0 && imageCare[i] != 0) sum += term(pixels[i]);
            }
            outRow[x] = sum;
        }
    }
}

inline uint32_t value(uint8_t p) { return p; }
inline uint32_t square(uint8_t p) { return static_cast<uint32_t>(p) * p; }
inline double squareAsDouble(uint8_t p) { return static_cast<double>(square(p)); }
inline uint32_t one(uint8_t) { return 1; }

}  // namespace

qsrch::Status computeImageSumMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                  uint32_t* out, uint32_t outStride)
{
    imageWindowSums<uint32_t>(*patternMask, *image, out, outStride, value);
    return QSYS_OK;
}

qsrch::Status computeImageSumSqMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                    uint32_t* out, uint32_t outStride)
{
    imageWindowSums<uint32_t>(*patternMask, *image, out, outStride, square);
    return QSYS_OK;
}

qsrch::Status DcomputeImageSumSqMask(const qimg_windowConst* patternMask, const qimg_windowConst* image,
                                     double* out, uint32_t outStride)
{
    imageWindowSums<double>(*patternMask, *image, out, outStride, squareAsDouble);
    return QSYS_OK;
}

qsrch::Status computeNCarePelsMask(const qimg_windowConst* patternMask, const qimg_windowConst* imageMask,
                                   uint32_t* out, uint32_t outStride)
{
    // The pattern mask stands in for the pattern: only the count matters.
    patternWindowSums<uint32_t>(*patternMask, *patternMask, *imageMask, out, outStride, one);
    return QSYS_OK;
}

qsrch::Status computePatSumMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* imageMask, uint32_t* out, uint32_t outStride)
{
    patternWindowSums<uint32_t>(*pattern, *patternMask, *imageMask, out, outStride, value);
    return QSYS_OK;
}

qsrch::Status computePatSumSqMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                  const qimg_windowConst* imageMask, uint32_t* out, uint32_t outStride)
{
    patternWindowSums<uint32_t>(*pattern, *patternMask, *imageMask, out, outStride, square);
    return QSYS_OK;
}

qsrch::Status DcomputePatSumSqMask(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                   const qimg_windowConst* imageMask, double* out, uint32_t outStride)
{
    patternWindowSums<double>(*pattern, *patternMask, *imageMask, out, outStride, squareAsDouble);
    return QSYS_OK;
}

}  // namespace qsrch::generic
