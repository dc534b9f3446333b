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

QSIB_EXTERN_C_END

#endif
