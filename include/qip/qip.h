/* qip: 8-bit pixel operations on images and views. */
#ifndef QIP_QIP_H
#define QIP_QIP_H

#include "../qimg/qimg.h"

QSIB_EXTERN_C_BEGIN

/* Gives the destination its own copy of the source's pixels, size, origin
 * and transform (never shared with the source). */
QSIB_API qsys_status qip_pelCopy8(const qimg_imageConst* source, qimg_image* destination);
/* Copies the pixels where the two views overlap when each is placed at its
 * origin in a common pixel frame; other destination pixels are untouched.
 * The views may share pixels of one image. */
QSIB_API qsys_status qip_pelCopyWindow8(const qimg_windowConst* source, qimg_window* destination);
QSIB_API qsys_status qip_pelSet8(qimg_image* destination, uint8_t value);
QSIB_API qsys_status qip_pelSetWindow8(qimg_window* destination, uint8_t value);
/* destination = table[source] pixel by pixel; same sizes required
 * (QIMG_E_SIZE_MISMATCH), source and destination may be the same.
 * Every operation here needs bound 8-bit pixels: QIMG_E_UNBOUND for an
 * unbound image or a view without pixels, QIMG_E_BAD_DEPTH for another depth. */
QSIB_API qsys_status qip_pelMap8(const qimg_imageConst* source, const uint8_t table[256],
                                 qimg_image* destination);
QSIB_API qsys_status qip_pelMapWindow8(const qimg_windowConst* source, const uint8_t table[256],
                                       qimg_window* destination);
/* destination = min(a, b) pixel by pixel; same sizes required. */
QSIB_API qsys_status qip_pelMin8(const qimg_imageConst* a, const qimg_imageConst* b,
                                 qimg_image* destination);
QSIB_API qsys_status qip_pelMinWindow8(const qimg_windowConst* a, const qimg_windowConst* b,
                                       qimg_window* destination);
/* Adds the view's pixels into 256 bins that the caller has cleared. */
QSIB_API qsys_status qip_pelHistogramWindow8(const qimg_windowConst* view, uint32_t histogram[256]);
/* Mean (and, when the pointers are not NULL, standard deviation and pixel
 * count) of a histogram of binCount bins. An empty histogram has mean 0. */
QSIB_API qsys_status qip_pelHistogramStat_std(const uint32_t* histogram, uint32_t binCount,
                                              double* meanOut, double* stdDevOut,
                                              uint64_t* countOut);

/* ---- Reduction ---------------------------------------------------------------
 * Smoothing followed by subsampling, for image pyramids. Both reducers
 * report the exact linear map from the reduced pixel grid to the grid of
 * the frame the source's transform maps into. */

/* Smooths the 8-bit source view with the 4-tap binomial kernel (1 3 3 1)/8
 * in each direction over source pixels 2x - 1 .. 2x + 2: destination pixel
 * (x, y) is the smoothed source at (2x + 0.5, 2y + 0.5), the centre of its
 * 2 x 2 block, rounded to the nearest grey level.
 * The destination view must be floor(w / 2) by floor(h / 2)
 * (QIMG_E_SIZE_MISMATCH otherwise) and must not overlap the source. Near
 * the border the kernel is renormalised over the source pixels that exist;
 * nothing outside the view is read, and nothing outside the destination
 * view is written. Both views need 8-bit pixels (QIMG_E_UNBOUND,
 * QIMG_E_BAD_DEPTH).
 * destinationTransformOut = sourceTransform after (p -> 2p + 0.5); it may
 * be sourceTransform itself. */
QSIB_API qsys_status qip_gauss2_smoothWindow8_8(const qimg_windowConst* source,
                                                const qmath_xformLinear* sourceTransform,
                                                qimg_window* destination,
                                                qmath_xformLinear* destinationTransformOut);

/* count reductions in a row, in one pass over the source: destinations[0]
 * receives the source reduced by two, destinations[k] destinations[k - 1]
 * reduced by two, pixel for pixel what count calls of
 * qip_gauss2_smoothWindow8_8 would write; transformsOut[k] likewise. Each
 * row is made as soon as the rows it reads exist, so a level is read back
 * while it is still in cache. count from 1 to QIP_GAUSS2_MAX_LEVELS
 * (QSYS_E_BAD_ARGUMENT otherwise); the views must not overlap; every size
 * is checked before anything is written. */
#define QIP_GAUSS2_MAX_LEVELS 31
QSIB_API qsys_status qip_gauss2_smoothLevels8_8(const qimg_windowConst* source,
                                                const qmath_xformLinear* sourceTransform, int32_t count,
                                                qimg_window* destinations, qmath_xformLinear* transformsOut);

/* Low-pass reduction by a general factor. init sets both factors to 2.0,
 * both rounded factors to 2 and reserved to 0. */
typedef struct qip_plpfParams {
    double factorX, factorY;          /* reduction factors, finite and at least 1 */
    int32_t roundedFactorX, roundedFactorY; /* the factors rounded; kept for callers, not read */
    uint32_t reserved;                /* 0 */
} qip_plpfParams;

QSIB_API qsys_status qip_plpfParams_init(qip_plpfParams* params);
/* destination (unbound or not) receives new 8-bit pixels of
 * floor(w / factorX) by floor(h / factorY) (each quotient formed in single
 * precision as (float)w * (1.0f / (float)factor)), the source's origin, and
 * the client-from-image transform sourceClientFromImage after the reduced
 * grid's map into the source grid, p -> f p + (f - 1) / 2 on each axis:
 * destination pixel x stands for the f source pixels from f x on and
 * samples them at their centre. The kernel is a tent of half-width f
 * convolved with the unit tent, so a linear ramp reduces exactly to the
 * ramp at that centre; near the border it is renormalised over the source
 * pixels that exist. QSYS_E_BAD_ARGUMENT for a factor below 1 or not
 * finite, or reserved not 0; QMATH_E_NOT_LINEAR when the source's
 * transform is not linear; QIMG_E_UNBOUND, QIMG_E_BAD_DEPTH for the
 * source. A failed call leaves the destination as it was; source and
 * destination may be the same image. */
QSIB_API qsys_status qip_plpf_smooth8_8(const qimg_imageConst* source, qimg_image* destination,
                                        const qip_plpfParams* params);

/* ---- Peak detection ----------------------------------------------------------
 * Local maxima of a score space of doubles (a QIMG_DEPTH_64F view). */
typedef struct qip_detectedPeak {
    qmath_vect position;         /* in the view's frame: integer position plus its origin */
    qstd_pair32 integerPosition; /* first = x, second = y, likewise */
    double value;                /* the space's value there */
    uint32_t flags;              /* QIP_PEAK_* bits */
} qip_detectedPeak;

/* A flag bit is set when the peak lies on that edge of the rectangle
 * searched: its neighbour on that side is not a position the caller asked
 * about (it lies in the view's margin around the rectangle, or outside the
 * view), so the caller will not look for a peak there. */
#define QIP_PEAK_AT_LEFT   0x02u
#define QIP_PEAK_AT_RIGHT  0x04u
#define QIP_PEAK_AT_TOP    0x08u
#define QIP_PEAK_AT_BOTTOM 0x10u

QSIB_API qsys_status qstd_vector_qip_detectedPeak_construct(qstd_vector_* v, size_t count);
QSIB_API qsys_status qstd_vector_qip_detectedPeak_destruct(qstd_vector_* v);
QSIB_API qsys_status qstd_vector_qip_detectedPeak_getBeginSizeConst(const qstd_vector_* v,
                                                                   const qip_detectedPeak** firstOut,
                                                                   uint32_t* sizeOut);

/* Finds the local maxima of `space` inside `rect` whose value is at least
 * `threshold`. `rect` is in the view's frame, where the view's pixel (0, 0)
 * stands at its origin (x, y); it is clipped to the view. Only positions
 * inside the rectangle are reported, but every neighbour inside the view
 * counts, so a margin around the rectangle decides whether its border
 * positions are peaks.
 * Neighbours are the 4 along the axes: a position on a diagonal ridge is a
 * peak even beside a higher diagonal neighbour. A plateau is a 4-connected
 * set of positions of one value; it is a peak when each of its neighbours in
 * the view is lower, and it is reported once, at its first position in
 * row-major order inside the rectangle (that passes the care limit). A
 * single position is a plateau of its own. NaN values never peak, and a NaN
 * neighbour does not count.
 * Peaks come highest first, by the value raised by the parabola through the
 * two neighbours of each axis that has both in the view (equal heights by
 * value, then in row-major order), with their position as integers and as
 * doubles in the view's frame. peaksOut (elements qip_detectedPeak) is
 * replaced. QIMG_E_UNBOUND for a view without pixels, QIMG_E_BAD_DEPTH for
 * another depth than QIMG_DEPTH_64F. */
QSIB_API qsys_status qip_detectPeaksDWithWindow(const qimg_windowConst* space,
                                                const qstd_rect32* rect, double threshold,
                                                qstd_vector_* peaksOut);
/* The same, leaving out positions whose care count is below careLimit. The
 * counts are a plane of unsigned values laid out like the space, (0, 0) at
 * the view's pixel (0, 0), with its row stride in elements. A position left
 * out still counts as a neighbour of others. */
QSIB_API qsys_status qip_detectPeaksDWithWindowWithNCareLimit(
    const qimg_windowConst* space, const qstd_rect32* rect, double threshold,
    const uint32_t* careCounts, uint32_t careCountsStride, uint32_t careLimit,
    qstd_vector_* peaksOut);

QSIB_EXTERN_C_END

#endif
