// Typed vector families. A family fixes the element size and the
// element-operations table of one record and forwards every operation to the
// generic vector; a record gets its family with one line in its own source
// file, after QSRCH_DECLARE_VECTOR_FAMILY(R) in its public header:
//
//     QSRCH_DEFINE_VECTOR_FAMILY(qsrch_detectedPosePeak, nullptr)
//     QSRCH_DEFINE_VECTOR_FAMILY(qsrch_model, (&qsrch::elementTable<qsrch_model, &qsrch_model_construct,
//                                &qsrch_model_constructCopy, &qsrch_model_assign, &qsrch_model_destruct>))
//
// A vector of vectors is declared and defined with the two-name forms, its
// table from vectorOfVectorsTable (the element record is then qstd_vector_):
//
//     QSRCH_DEFINE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_level_, qstd_vector_qsrch_normcorr_level_,
//         &qsrch::vectorOfVectorsTable<&qstd_vector_qsrch_normcorr_level__constructEmpty>)
#pragma once

#include <type_traits>

#include <qsrch/vectors.h>
#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch {

namespace vectorDetail {

using UnaryEntry = qsys_status (*)(void*);
using BinaryEntry = qsys_status (*)(void*, const void*);

// The void* entry that calls Operation on an R, or NULL for nullptr.
template <class R, auto Operation>
constexpr UnaryEntry unaryEntry()
{
    if constexpr (std::is_null_pointer_v<decltype(Operation)>) {
        return nullptr;
    } else {
        static_assert(std::is_invocable_r_v<qsys_status, decltype(Operation), R*>,
                      "construct and destruct take the element record");
        return [](void* element) -> qsys_status { return Operation(static_cast<R*>(element)); };
    }
}

template <class R, auto Operation>
constexpr BinaryEntry binaryEntry()
{
    if constexpr (std::is_null_pointer_v<decltype(Operation)>) {
        return nullptr;
    } else {
        static_assert(std::is_invocable_r_v<qsys_status, decltype(Operation), R*, const R*>,
                      "constructCopy and assign take the element record and its source");
        return [](void* element, const void* source) -> qsys_status {
            return Operation(static_cast<R*>(element), static_cast<const R*>(source));
        };
    }
}

}  // namespace vectorDetail

// The element-operations table of R from its typed operations; an argument
// of nullptr leaves that operation to plain bytes.
template <class R, auto Construct, auto ConstructCopy, auto Assign, auto Destruct>
inline constexpr qstd_vector_vtable elementTable = {
    vectorDetail::unaryEntry<R, Construct>(),  vectorDetail::binaryEntry<R, ConstructCopy>(),
    vectorDetail::binaryEntry<R, Assign>(),    vectorDetail::unaryEntry<R, Destruct>(),
    QSTD_VECTOR_VTABLE_MARKER,
};

// The element table of a vector of vectors: the elements are generic vector
// records, made empty by the inner family's constructEmpty (which fixes their
// element size and table) and copied, assigned and destroyed by the generic
// vector itself.
template <auto ConstructEmpty>
inline constexpr qstd_vector_vtable vectorOfVectorsTable =
    elementTable<qstd_vector_, ConstructEmpty, &qstd_vector__constructCopy, &qstd_vector__assign,
                 &qstd_vector__destruct>;

// The heap-allocated forms, shared by every family.

// Replaces *vp (released first, if any) with a new empty vector.
inline Status newVector(qstd_vector_** vp, size_t elementSize, const qstd_vector_vtable* table)
{
    if (*vp != nullptr) {
        QSRCH_RETURN_IF_ERROR(qstd_vector__destruct(*vp));
        QSRCH_RETURN_IF_ERROR(qsys_memory_free_internal(vp));
    }
    void* record = nullptr;
    QSRCH_RETURN_IF_ERROR(qsys_memory_alloc_internal(sizeof(qstd_vector_), &record));
    const qsrch_status s =
        qstd_vector__constructWithVtable(static_cast<qstd_vector_*>(record), 0, elementSize, table);
    if (QSRCH_FAILED(s)) {
        (void)qsys_memory_free_internal(&record);  // the construction's failure is the one returned
        return s;
    }
    *vp = static_cast<qstd_vector_*>(record);
    return QSRCH_OK;
}

// Destructs and frees *vp; a vector whose destruct fails is not freed.
inline Status deleteVector(qstd_vector_** vp)
{
    if (*vp == nullptr) return QSRCH_OK;
    QSRCH_RETURN_IF_ERROR(qstd_vector__destruct(*vp));
    return qsys_memory_free_internal(vp);
}

// *vp becomes a new vector holding copies of source's elements; a NULL
// source just deletes *vp.
inline Status newVectorClone(qstd_vector_** vp, const qstd_vector_* source, size_t elementSize,
                             const qstd_vector_vtable* table)
{
    if (source == nullptr) return deleteVector(vp);
    if (source == *vp) return QSRCH_OK;  // new(vp) would destroy the source first
    QSRCH_RETURN_IF_ERROR(newVector(vp, elementSize, table));
    const qsrch_status s = qstd_vector__assign(*vp, source);
    if (QSRCH_FAILED(s)) {
        (void)qstd_vector__destruct(*vp);  // the assignment's failure is the one returned
        (void)qsys_memory_free_internal(vp);
    }
    return s;
}

}  // namespace qsrch

// Defines the 47 operations of the family qstd_vector_<N> of R elements
// (declared by QSRCH_DECLARE_VECTOR_FAMILY_OF(N, R)); table is the
// element-operations table, nullptr for plain records. Use at global scope,
// once per family.
#define QSRCH_DEFINE_VECTOR_FAMILY_OF(N, R, table)                                                           \
    extern "C" {                                                                                             \
    qsrch_status qstd_vector_##N##_construct(qstd_vector_##N* v, size_t count)                               \
    {                                                                                                        \
        return qstd_vector__constructWithVtable(v, count, sizeof(R), table);                                 \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructEmpty(qstd_vector_##N* v)                                        \
    {                                                                                                        \
        return qstd_vector__constructWithVtable(v, 0, sizeof(R), table);                                     \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructUninit(qstd_vector_##N* v, size_t count)                         \
    {                                                                                                        \
        return qstd_vector__constructWithVtableUninit(v, count, sizeof(R), table);                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructFill(qstd_vector_##N* v, size_t count, const R* element)         \
    {                                                                                                        \
        return qstd_vector__constructFillWithVtable(v, count, sizeof(R), element, table);                    \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructFromBlock(qstd_vector_##N* v, const R* block, size_t count)      \
    {                                                                                                        \
        return qstd_vector__constructFromBlockWithVtable(v, sizeof(R), block, count, table);                 \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructWithMtable(qstd_vector_##N* v, size_t count,                     \
                                                       const qstd_vector_mtable* mtable)                     \
    {                                                                                                        \
        return qstd_vector__constructWithVtableWithMtable(v, count, sizeof(R), table, mtable);               \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructEmptyWithMtable(qstd_vector_##N* v,                              \
                                                            const qstd_vector_mtable* mtable)                \
    {                                                                                                        \
        return qstd_vector__constructWithVtableWithMtable(v, 0, sizeof(R), table, mtable);                   \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_new(qstd_vector_##N** vp)                                                 \
    {                                                                                                        \
        return qsrch::newVector(vp, sizeof(R), table);                                                       \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_newClone(qstd_vector_##N** vp, const qstd_vector_##N* source)             \
    {                                                                                                        \
        return qsrch::newVectorClone(vp, source, sizeof(R), table);                                          \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_delete(qstd_vector_##N** vp) { return qsrch::deleteVector(vp); }          \
    qsrch_status qstd_vector_##N##_append(qstd_vector_##N* v, const qstd_vector_##N* other)                  \
    {                                                                                                        \
        return qstd_vector__append(v, other);                                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_assign(qstd_vector_##N* dst, const qstd_vector_##N* src)                  \
    {                                                                                                        \
        return qstd_vector__assign(dst, src);                                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_assignElements(qstd_vector_##N* v, const R* block, size_t count)          \
    {                                                                                                        \
        return qstd_vector__assignElements(v, block, count);                                                 \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_clear(qstd_vector_##N* v) { return qstd_vector__clear(v); }               \
    qsrch_status qstd_vector_##N##_clearAndFreeMemory(qstd_vector_##N* v)                                    \
    {                                                                                                        \
        return qstd_vector__clearAndFreeMemory(v);                                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_constructCopy(qstd_vector_##N* v, const qstd_vector_##N* source)          \
    {                                                                                                        \
        return qstd_vector__constructCopy(v, source);                                                        \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_destruct(qstd_vector_##N* v) { return qstd_vector__destruct(v); }         \
    qsrch_status qstd_vector_##N##_erase(qstd_vector_##N* v, size_t first, size_t end)                       \
    {                                                                                                        \
        return qstd_vector__erase(v, first, end);                                                            \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_eraseElement(qstd_vector_##N* v, size_t index)                            \
    {                                                                                                        \
        return qstd_vector__eraseElement(v, index);                                                          \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBegin(qstd_vector_##N* v, R** firstOut)                                \
    {                                                                                                        \
        return qstd_vector__getBegin(v, firstOut);                                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginConst(const qstd_vector_##N* v, const R** firstOut)               \
    {                                                                                                        \
        return qstd_vector__getBeginConst(v, firstOut);                                                      \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginEnd(qstd_vector_##N* v, R** firstOut, R** endOut)                 \
    {                                                                                                        \
        return qstd_vector__getBeginEnd(v, firstOut, endOut);                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginEndConst(const qstd_vector_##N* v, const R** firstOut,            \
                                                    const R** endOut)                                        \
    {                                                                                                        \
        return qstd_vector__getBeginEndConst(v, firstOut, endOut);                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getCapacity(const qstd_vector_##N* v, size_t* capacityOut)                \
    {                                                                                                        \
        return qstd_vector__getCapacity(v, capacityOut);                                                     \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getElement(qstd_vector_##N* v, size_t index, R** elementOut)              \
    {                                                                                                        \
        return qstd_vector__getElement(v, index, elementOut);                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getElementConst(const qstd_vector_##N* v, size_t index,                   \
                                                   const R** elementOut)                                     \
    {                                                                                                        \
        return qstd_vector__getElementConst(v, index, elementOut);                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getElementSize(const qstd_vector_##N* v, size_t* sizeOut)                 \
    {                                                                                                        \
        return qstd_vector__getElementSize(v, sizeOut);                                                      \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getNextElement(qstd_vector_##N* v, R* element, R** nextOut)               \
    {                                                                                                        \
        return qstd_vector__getNextElement(v, element, nextOut);                                             \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getNextElementConst(const qstd_vector_##N* v, const R* element,           \
                                                       const R** nextOut)                                    \
    {                                                                                                        \
        return qstd_vector__getNextElementConst(v, element, nextOut);                                        \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_insert(qstd_vector_##N* v, size_t index, const R* block, size_t count)    \
    {                                                                                                        \
        return qstd_vector__insert(v, index, block, count);                                                  \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_insertElement(qstd_vector_##N* v, size_t index, const R* element)         \
    {                                                                                                        \
        return qstd_vector__insertElement(v, index, element);                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_popBack(qstd_vector_##N* v) { return qstd_vector__popBack(v); }           \
    qsrch_status qstd_vector_##N##_pushBack(qstd_vector_##N* v, const R* element)                            \
    {                                                                                                        \
        return qstd_vector__pushBack(v, element);                                                            \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_reserve(qstd_vector_##N* v, size_t capacity)                              \
    {                                                                                                        \
        return qstd_vector__reserve(v, capacity);                                                            \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_resize(qstd_vector_##N* v, size_t count)                                  \
    {                                                                                                        \
        return qstd_vector__resize(v, count);                                                                \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_resizeFill(qstd_vector_##N* v, size_t count, const R* element)            \
    {                                                                                                        \
        return qstd_vector__resizeFill(v, count, element);                                                   \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_resizeUninit(qstd_vector_##N* v, size_t count)                            \
    {                                                                                                        \
        return qstd_vector__resizeUninit(v, count);                                                          \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_swap(qstd_vector_##N* a, qstd_vector_##N* b)                              \
    {                                                                                                        \
        return qstd_vector__swap(a, b);                                                                      \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getSize(const qstd_vector_##N* v, uint32_t* sizeOut)                      \
    {                                                                                                        \
        return qstd_vector__getSize32(v, sizeOut);                                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getSize32(const qstd_vector_##N* v, uint32_t* sizeOut)                    \
    {                                                                                                        \
        return qstd_vector__getSize32(v, sizeOut);                                                           \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getSizeIntPtr(const qstd_vector_##N* v, size_t* sizeOut)                  \
    {                                                                                                        \
        return qstd_vector__getSize(v, sizeOut);                                                             \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSize(qstd_vector_##N* v, R** firstOut, uint32_t* sizeOut)         \
    {                                                                                                        \
        return qstd_vector__getBeginSize32(v, firstOut, sizeOut);                                            \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSize32(qstd_vector_##N* v, R** firstOut, uint32_t* sizeOut)       \
    {                                                                                                        \
        return qstd_vector__getBeginSize32(v, firstOut, sizeOut);                                            \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSizeConst(const qstd_vector_##N* v, const R** firstOut,           \
                                                     uint32_t* sizeOut)                                      \
    {                                                                                                        \
        return qstd_vector__getBeginSize32Const(v, firstOut, sizeOut);                                       \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSize32Const(const qstd_vector_##N* v, const R** firstOut,         \
                                                       uint32_t* sizeOut)                                    \
    {                                                                                                        \
        return qstd_vector__getBeginSize32Const(v, firstOut, sizeOut);                                       \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSizeIntPtr(qstd_vector_##N* v, R** firstOut, size_t* sizeOut)     \
    {                                                                                                        \
        return qstd_vector__getBeginSize(v, firstOut, sizeOut);                                              \
    }                                                                                                        \
    qsrch_status qstd_vector_##N##_getBeginSizeIntPtrConst(const qstd_vector_##N* v, const R** firstOut,     \
                                                           size_t* sizeOut)                                  \
    {                                                                                                        \
        return qstd_vector__getBeginSizeConst(v, firstOut, sizeOut);                                         \
    }                                                                                                        \
    }

// A record's own family, qstd_vector_<R> (declared by QSRCH_DECLARE_VECTOR_FAMILY(R)).
#define QSRCH_DEFINE_VECTOR_FAMILY(R, table) QSRCH_DEFINE_VECTOR_FAMILY_OF(R, R, table)
