/* qsrch: typed vectors of the library's records. Every family
 * qstd_vector_<R> has the same 47 operations; they fix the element size and
 * the element-operations table of R and forward to the generic vector. */
#ifndef QSRCH_VECTORS_H
#define QSRCH_VECTORS_H

#include "../qstd/qstd.h"
#include "frame.h"

/* Declares the family qstd_vector_<N> of vectors whose elements are R
 * records. A record's own family has N = R; a family of vectors of vectors
 * names itself vector_<R> and has the inner family's vector as element:
 *     QSRCH_DECLARE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_level_,
 *                                    qstd_vector_qsrch_normcorr_level_) */
#define QSRCH_DECLARE_VECTOR_FAMILY_OF(N, R)                                                  \
    typedef qstd_vector_ qstd_vector_##N;                                                     \
    QSRCH_API qsrch_status qstd_vector_##N##_construct(qstd_vector_##N* v, size_t count);     \
    QSRCH_API qsrch_status qstd_vector_##N##_constructEmpty(qstd_vector_##N* v);              \
    QSRCH_API qsrch_status qstd_vector_##N##_constructUninit(qstd_vector_##N* v, size_t count); \
    QSRCH_API qsrch_status qstd_vector_##N##_constructFill(qstd_vector_##N* v, size_t count,   \
                                                           const R* element);                 \
    QSRCH_API qsrch_status qstd_vector_##N##_constructFromBlock(qstd_vector_##N* v,            \
                                                                const R* block, size_t count); \
    QSRCH_API qsrch_status qstd_vector_##N##_constructWithMtable(                             \
        qstd_vector_##N* v, size_t count, const qstd_vector_mtable* mtable);                  \
    QSRCH_API qsrch_status qstd_vector_##N##_constructEmptyWithMtable(                        \
        qstd_vector_##N* v, const qstd_vector_mtable* mtable);                                \
    QSRCH_API qsrch_status qstd_vector_##N##_new(qstd_vector_##N** vp);                       \
    QSRCH_API qsrch_status qstd_vector_##N##_newClone(qstd_vector_##N** vp,                   \
                                                      const qstd_vector_##N* source);         \
    QSRCH_API qsrch_status qstd_vector_##N##_delete(qstd_vector_##N** vp);                    \
    QSRCH_API qsrch_status qstd_vector_##N##_append(qstd_vector_##N* v,                       \
                                                    const qstd_vector_##N* other);            \
    QSRCH_API qsrch_status qstd_vector_##N##_assign(qstd_vector_##N* dst,                     \
                                                    const qstd_vector_##N* src);              \
    QSRCH_API qsrch_status qstd_vector_##N##_assignElements(qstd_vector_##N* v,               \
                                                            const R* block, size_t count);    \
    QSRCH_API qsrch_status qstd_vector_##N##_clear(qstd_vector_##N* v);                       \
    QSRCH_API qsrch_status qstd_vector_##N##_clearAndFreeMemory(qstd_vector_##N* v);          \
    QSRCH_API qsrch_status qstd_vector_##N##_constructCopy(qstd_vector_##N* v,                \
                                                           const qstd_vector_##N* source);    \
    QSRCH_API qsrch_status qstd_vector_##N##_destruct(qstd_vector_##N* v);                    \
    QSRCH_API qsrch_status qstd_vector_##N##_erase(qstd_vector_##N* v, size_t first,          \
                                                   size_t end);                               \
    QSRCH_API qsrch_status qstd_vector_##N##_eraseElement(qstd_vector_##N* v, size_t index);  \
    QSRCH_API qsrch_status qstd_vector_##N##_getBegin(qstd_vector_##N* v, R** firstOut);      \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginConst(const qstd_vector_##N* v,          \
                                                           const R** firstOut);               \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginEnd(qstd_vector_##N* v, R** firstOut,    \
                                                         R** endOut);                         \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginEndConst(                                \
        const qstd_vector_##N* v, const R** firstOut, const R** endOut);                      \
    QSRCH_API qsrch_status qstd_vector_##N##_getCapacity(const qstd_vector_##N* v,            \
                                                         size_t* capacityOut);                \
    QSRCH_API qsrch_status qstd_vector_##N##_getElement(qstd_vector_##N* v, size_t index,     \
                                                        R** elementOut);                      \
    QSRCH_API qsrch_status qstd_vector_##N##_getElementConst(                                 \
        const qstd_vector_##N* v, size_t index, const R** elementOut);                        \
    QSRCH_API qsrch_status qstd_vector_##N##_getElementSize(const qstd_vector_##N* v,         \
                                                            size_t* sizeOut);                 \
    QSRCH_API qsrch_status qstd_vector_##N##_getNextElement(qstd_vector_##N* v, R* element,   \
                                                            R** nextOut);                     \
    QSRCH_API qsrch_status qstd_vector_##N##_getNextElementConst(                             \
        const qstd_vector_##N* v, const R* element, const R** nextOut);                       \
    QSRCH_API qsrch_status qstd_vector_##N##_insert(qstd_vector_##N* v, size_t index,         \
                                                    const R* block, size_t count);            \
    QSRCH_API qsrch_status qstd_vector_##N##_insertElement(qstd_vector_##N* v, size_t index,  \
                                                           const R* element);                 \
    QSRCH_API qsrch_status qstd_vector_##N##_popBack(qstd_vector_##N* v);                     \
    QSRCH_API qsrch_status qstd_vector_##N##_pushBack(qstd_vector_##N* v, const R* element);  \
    QSRCH_API qsrch_status qstd_vector_##N##_reserve(qstd_vector_##N* v, size_t capacity);    \
    QSRCH_API qsrch_status qstd_vector_##N##_resize(qstd_vector_##N* v, size_t count);        \
    QSRCH_API qsrch_status qstd_vector_##N##_resizeFill(qstd_vector_##N* v, size_t count,     \
                                                        const R* element);                    \
    QSRCH_API qsrch_status qstd_vector_##N##_resizeUninit(qstd_vector_##N* v, size_t count);  \
    QSRCH_API qsrch_status qstd_vector_##N##_swap(qstd_vector_##N* a, qstd_vector_##N* b);    \
    QSRCH_API qsrch_status qstd_vector_##N##_getSize(const qstd_vector_##N* v,                \
                                                     uint32_t* sizeOut);                      \
    QSRCH_API qsrch_status qstd_vector_##N##_getSize32(const qstd_vector_##N* v,              \
                                                       uint32_t* sizeOut);                    \
    QSRCH_API qsrch_status qstd_vector_##N##_getSizeIntPtr(const qstd_vector_##N* v,          \
                                                           size_t* sizeOut);                  \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSize(qstd_vector_##N* v, R** firstOut,   \
                                                          uint32_t* sizeOut);                 \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSize32(qstd_vector_##N* v, R** firstOut, \
                                                            uint32_t* sizeOut);               \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSizeConst(                               \
        const qstd_vector_##N* v, const R** firstOut, uint32_t* sizeOut);                     \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSize32Const(                             \
        const qstd_vector_##N* v, const R** firstOut, uint32_t* sizeOut);                     \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSizeIntPtr(                              \
        qstd_vector_##N* v, R** firstOut, size_t* sizeOut);                                   \
    QSRCH_API qsrch_status qstd_vector_##N##_getBeginSizeIntPtrConst(                         \
        const qstd_vector_##N* v, const R** firstOut, size_t* sizeOut);

/* Declares the family of vectors of R under the prefix qstd_vector_<R>. */
#define QSRCH_DECLARE_VECTOR_FAMILY(R) QSRCH_DECLARE_VECTOR_FAMILY_OF(R, R)

#endif
