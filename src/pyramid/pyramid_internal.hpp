// The pyramid's internal steps: building a source base level, reducing one
// level from the previous one (shared with training, which builds pattern
// pyramids with the same step), and the table that makes derived masks
// two-valued.
#pragma once

#include <cstddef>
#include <cstdint>

#include <qip/qip.h>
#include <qsrch/pyramid.h>

#include "frame/status.hpp"

extern "C" {

// Mask values below 128 become 0 (don't care), the others 255 (care).
extern const uint8_t qsrch_normcorr_maskThresholdTable[256];

// The base level of a source pyramid: a constructed level whose views look
// at the caller's pixels (moved to origin (0, 0); origin keeps the source
// view's place). mask may be NULL: the level then has no mask. Nothing is
// copied.
[[nodiscard]] qsrch_status qsrch_normcorr_level__constructFromWindow(qsrch_normcorr_level_* level,
                                                                     const qimg_windowConst* view,
                                                                     const qimg_windowConst* mask);
[[nodiscard]] qsrch_status qsrch_normcorr_level__constructFromWindow3(qsrch_normcorr_level_* level,
                                                                      const qimg_windowConst* view0,
                                                                      const qimg_windowConst* view1,
                                                                      const qimg_windowConst* view2,
                                                                      const qimg_windowConst* mask);

// Fills the constructed level with previous reduced by factor: every plane
// that previous has, and its mask (reduced, then made two-valued), each into
// an image of its own, plus baseFromLevel, levelFromBase and factor. With
// clearSlack non-zero the bytes between width and row stride are cleared
// (pattern pyramids read them as zero); source pyramids leave them as they
// come.
[[nodiscard]] qsrch_status qsrch_normcorr_level__initReduced(qsrch_normcorr_level_* level,
                                                             const qsrch_normcorr_level_* previous,
                                                             uint32_t clearSlack, float factor);

// Fills levels 1 .. count - 1 (constructed and empty) from level 0, each
// reduced by exactly 2: the same pixels, transforms and factors as count - 1
// calls of qsrch_normcorr_level__initReduced, but each plane is reduced in
// one pass through all levels (qip_gauss2_smoothLevels8_8) while the rows
// just made are still in cache. Masks are reduced level by level, each made
// two-valued before the next is reduced from it. At most
// QIP_GAUSS2_MAX_LEVELS reductions.
qsrch_status qsrch_normcorr_levels__initHalved(qsrch_normcorr_level_* levels, int32_t count, uint32_t clearSlack);

// Smooths and subsamples one 8-bit plane into destination, which must be the
// reduced size (qsrch_normcorr_constructReducedImage). A factor of exactly 2
// takes the Gaussian two-times reducer, any other the low-pass filter.
// destinationBaseFromLevelOut = sourceBaseFromLevel after the reduced grid's
// map into the source grid. On success level->factor = factor.
[[nodiscard]] qsrch_status qsrch_normcorr_reducePlane(const qimg_windowConst* source,
                                                      const qmath_xformLinear* sourceBaseFromLevel,
                                                      float factor, qimg_window* destination,
                                                      qmath_xformLinear* destinationBaseFromLevelOut,
                                                      qsrch_normcorr_level_* level);

// An 8-bit image for a width x height plane reduced by factor: each side
// floor((float)side * (1.0f / factor)), row stride (width + 47) & ~31 so
// every row has at least 16 bytes of slack.
[[nodiscard]] qsrch_status qsrch_normcorr_constructReducedImage(qimg_image* image, int32_t width,
                                                                int32_t height, float factor);

}  // extern "C"

namespace qsrch {

// The view moved to origin (0, 0), every other field unchanged: level-0
// pixel coordinates of source pyramids, and the plain pixel coordinates the
// top-level model trains and searches in.
inline qimg_windowConst atPixelOrigin(const qimg_windowConst& view)
{
    qimg_windowConst moved = view;
    moved.x = 0;
    moved.y = 0;
    return moved;
}

// Rows of pattern images and reduced levels: 32-byte multiples with at
// least 16 bytes of slack after the last pixel.
inline int32_t levelRowStride(int32_t width) { return (width + 47) & ~31; }

// Zeroes the bytes between each row's last pixel and the next row.
inline Status clearRowSlack(const qimg_window& view)
{
    if (view.firstPixel == nullptr || view.rowStride <= view.width) return QSRCH_OK;
    return qsys_memory_fillRect(0, static_cast<size_t>(view.rowStride - view.width),
                                static_cast<size_t>(view.height), view.rowStride,
                                static_cast<uint8_t*>(view.firstPixel) + view.width);
}

// Where an 8-bit view's pixel (0, 0) lies in its whole image, read from its
// pixel pointers: callers may have moved the view's origin (the top-level
// model puts it at (0, 0)). False when the pointers do not tell.
inline bool placeInImage(const qimg_windowConst& view, int64_t* column, int64_t* row)
{
    if (view.firstPixel == nullptr || view.imageFirstPixel == nullptr || view.rowStride <= 0) return false;
    const ptrdiff_t offset =
        static_cast<const uint8_t*>(view.firstPixel) - static_cast<const uint8_t*>(view.imageFirstPixel);
    if (offset < 0) return false;
    *column = offset % view.rowStride;
    *row = offset / view.rowStride;
    return true;
}

}  // namespace qsrch
