/* qstd: rectangles, pairs and vectors of plain numbers. */
#ifndef QSTD_QSTD_H
#define QSTD_QSTD_H

#include "../qsys/qsys_base.h"
#include "vector.h"

QSIB_EXTERN_C_BEGIN

/* ---- Rectangles and pairs ------------------------------------------------ */
typedef struct qstd_rect32 { int32_t x, y, width, height; } qstd_rect32;
typedef struct qstd_rectD { double x, y, width, height; } qstd_rectD;
typedef struct qstd_pair32 { int32_t first, second; } qstd_pair32;

QSIB_API qsys_status qstd_rect32_init(qstd_rect32* rect, int32_t x, int32_t y, int32_t width,
                                      int32_t height);
/* Clips a to the area it shares with b; an empty result has width and
 * height 0 at a clipped corner. */
QSIB_API qsys_status qstd_rect32_intersect(qstd_rect32* a, const qstd_rect32* b);
QSIB_API qsys_status qstd_rect32_compareEqual(const qstd_rect32* a, const qstd_rect32* b,
                                              uint32_t* equalOut);
/* out = (a.x + b.x, a.y + b.y, a.width + b.width - 1, a.height + b.height - 1):
 * the pixels covered by a pattern of b's extent placed at any position of a. */
QSIB_API qsys_status qstd_rect32_dilate(const qstd_rect32* a, const qstd_rect32* b,
                                        qstd_rect32* out);
/* The smallest integer rectangle that encloses the rectangle of doubles. */
QSIB_API qsys_status qstd_rect32_initMinEnclosingRect(qstd_rect32* out, const qstd_rectD* rect);

QSIB_API qsys_status qstd_rectD_init(qstd_rectD* rect, double x, double y, double width,
                                     double height);
QSIB_API qsys_status qstd_rectD_intersect(qstd_rectD* a, const qstd_rectD* b);
/* Fields compare equal unless one is less or greater than the other (NaN
 * compares equal to anything). */
QSIB_API qsys_status qstd_rectD_compareEqual(const qstd_rectD* a, const qstd_rectD* b,
                                             uint32_t* equalOut);

QSIB_API qsys_status qstd_pair32_init(qstd_pair32* pair, int32_t first, int32_t second);

/* ---- Vectors of plain numbers ---------------------------------------------
 * Contiguous, growable arrays of one element type. construct(v, count) makes
 * count zero elements; resize keeps existing elements and zero-fills new
 * ones. A vector owns its block and is released with destruct. */
#define QSTD_DECLARE_PLAIN_VECTOR_(V, T)                                                      \
    typedef struct V { T* begin; size_t size; size_t capacity; } V;                         \
    QSIB_API qsys_status V##_construct(V* v, size_t count);                                  \
    QSIB_API qsys_status V##_constructFill(V* v, size_t count, const T* fillValue);          \
    QSIB_API qsys_status V##_resize(V* v, size_t count);                                     \
    QSIB_API qsys_status V##_pushBack(V* v, const T* value);                                 \
    QSIB_API qsys_status V##_destruct(V* v);                                                 \
    QSIB_API qsys_status V##_getBegin(V* v, T** firstOut);                                   \
    QSIB_API qsys_status V##_getBeginConst(const V* v, const T** firstOut);                  \
    QSIB_API qsys_status V##_getBeginSize(V* v, T** firstOut, uint32_t* sizeOut);            \
    QSIB_API qsys_status V##_getBeginSizeConst(const V* v, const T** firstOut,               \
                                               uint32_t* sizeOut);                           \
    QSIB_API qsys_status V##_getBeginEndConst(const V* v, const T** firstOut,                \
                                              const T** endOut);

QSTD_DECLARE_PLAIN_VECTOR_(qstd_vector32, uint32_t)
QSTD_DECLARE_PLAIN_VECTOR_(qstd_vectord, double)
QSTD_DECLARE_PLAIN_VECTOR_(qstd_vector16, uint16_t)
QSTD_DECLARE_PLAIN_VECTOR_(qstd_vector64s, int64_t)
QSTD_DECLARE_PLAIN_VECTOR_(qstd_vector_qstd_pair32, qstd_pair32)

QSIB_EXTERN_C_END

#endif
