/* The generic vector: a growable array of elements of any size, which calls
 * an element-operations table to construct, copy, assign and destroy its
 * elements. Typed families (qstd_vector_<record>_...) fix the element size
 * and table and forward here. */
#ifndef QSTD_VECTOR_H
#define QSTD_VECTOR_H

#include "../qsys/qsys_base.h"

QSIB_EXTERN_C_BEGIN

/* Element operations. A NULL entry treats elements as plain bytes for that
 * operation (construct: zero-fill; constructCopy and assign: copy bytes;
 * destruct: nothing). marker is QSTD_VECTOR_VTABLE_MARKER in every table. */
typedef struct qstd_vector_vtable {
    qsys_status (*construct)(void* element);
    qsys_status (*constructCopy)(void* element, const void* source);
    qsys_status (*assign)(void* element, const void* source);
    qsys_status (*destruct)(void* element);
    uint32_t marker;
} qstd_vector_vtable;

#define QSTD_VECTOR_VTABLE_MARKER 0xFFFFFFFFu

/* Where a vector takes its element block from; NULL means the qsys heap.
 * alloc(size, pointerOut) and free(pointerInOut) follow qsys_memory_*. */
typedef struct qstd_vector_mtable {
    qsys_status (*alloc)(size_t size, void* pointerOut);
    qsys_status (*free)(void* pointerInOut);
} qstd_vector_mtable;

typedef struct qstd_vector_ {
    void* begin;                     /* first element; NULL while capacity is 0 */
    size_t size;                     /* elements held */
    size_t capacity;                 /* elements the block has room for */
    size_t elementSize;              /* bytes per element */
    const qstd_vector_vtable* vtable; /* NULL: plain bytes throughout */
    const qstd_vector_mtable* mtable; /* NULL: the qsys heap */
} qstd_vector_;

/* Every operation returns a status. A failed operation leaves the vector as
 * it was (elements constructed before the failure are destroyed again), and
 * a failed constructor leaves an empty vector that destruct accepts. Two
 * steps cannot be undone: an element destruct that fails (the element is
 * removed all the same and the first such failure is returned), and an
 * element assign that fails inside assign / assignElements (the elements
 * before it hold their new values, the vector stays valid).
 * Elements are relocatable: growing, inserting and erasing move them as
 * bytes without calling the table, so an element must not point into itself.
 * Growth doubles the capacity (or more when one step needs more).
 * Indices are element indices; an index past the end gives
 * QSYS_E_OUT_OF_RANGE. Elements made by the Uninit forms are zero bytes and
 * are not constructed. A constructor refuses an element size of 0, a table
 * without the marker and an mtable with a NULL entry (QSYS_E_BAD_ARGUMENT);
 * a block size that overflows gives QSYS_E_NO_MEMORY. */
QSIB_API qsys_status qstd_vector__constructWithVtable(qstd_vector_* v, size_t count,
                                                      size_t elementSize,
                                                      const qstd_vector_vtable* vtable);
QSIB_API qsys_status qstd_vector__constructWithVtableUninit(qstd_vector_* v, size_t count,
                                                            size_t elementSize,
                                                            const qstd_vector_vtable* vtable);
QSIB_API qsys_status qstd_vector__constructFillWithVtable(qstd_vector_* v, size_t count,
                                                          size_t elementSize, const void* element,
                                                          const qstd_vector_vtable* vtable);
QSIB_API qsys_status qstd_vector__constructFromBlockWithVtable(qstd_vector_* v, size_t elementSize,
                                                               const void* block, size_t count,
                                                               const qstd_vector_vtable* vtable);
QSIB_API qsys_status qstd_vector__constructWithVtableWithMtable(qstd_vector_* v, size_t count,
                                                                size_t elementSize,
                                                                const qstd_vector_vtable* vtable,
                                                                const qstd_vector_mtable* mtable);
/* A copy with the source's element size and tables. */
QSIB_API qsys_status qstd_vector__constructCopy(qstd_vector_* v, const qstd_vector_* source);
/* Destroys every element (all of them, even after a failure), releases the
 * block and leaves an empty vector that may be destructed again. */
QSIB_API qsys_status qstd_vector__destruct(qstd_vector_* v);

/* dst becomes a copy of src's elements (dst keeps its own tables): its
 * existing elements are assigned, further ones copy-constructed, surplus ones
 * destroyed. Assigning a vector to itself does nothing. Vectors of different
 * element sizes give QSYS_E_BAD_ARGUMENT (also for append). */
QSIB_API qsys_status qstd_vector__assign(qstd_vector_* dst, const qstd_vector_* src);
/* The vector becomes count copies of the elements at block. */
QSIB_API qsys_status qstd_vector__assignElements(qstd_vector_* v, const void* block, size_t count);
/* Appends copies of every element of other (which may be v itself). */
QSIB_API qsys_status qstd_vector__append(qstd_vector_* v, const qstd_vector_* other);
QSIB_API qsys_status qstd_vector__clear(qstd_vector_* v);
QSIB_API qsys_status qstd_vector__clearAndFreeMemory(qstd_vector_* v);
/* Removes the elements [first, end). */
QSIB_API qsys_status qstd_vector__erase(qstd_vector_* v, size_t first, size_t end);
QSIB_API qsys_status qstd_vector__eraseElement(qstd_vector_* v, size_t index);
/* Inserts copies of count elements at block before index (index <= size). */
QSIB_API qsys_status qstd_vector__insert(qstd_vector_* v, size_t index, const void* block,
                                         size_t count);
QSIB_API qsys_status qstd_vector__insertElement(qstd_vector_* v, size_t index, const void* element);
QSIB_API qsys_status qstd_vector__popBack(qstd_vector_* v);
QSIB_API qsys_status qstd_vector__pushBack(qstd_vector_* v, const void* element);
QSIB_API qsys_status qstd_vector__reserve(qstd_vector_* v, size_t capacity);
QSIB_API qsys_status qstd_vector__resize(qstd_vector_* v, size_t count);
QSIB_API qsys_status qstd_vector__resizeFill(qstd_vector_* v, size_t count, const void* element);
QSIB_API qsys_status qstd_vector__resizeUninit(qstd_vector_* v, size_t count);
/* Exchanges the two records whole: elements, element sizes and tables. */
QSIB_API qsys_status qstd_vector__swap(qstd_vector_* a, qstd_vector_* b);

/* The void* outputs are addresses of element pointers (R** for a typed family). */
QSIB_API qsys_status qstd_vector__getBegin(qstd_vector_* v, void* firstOut);
QSIB_API qsys_status qstd_vector__getBeginConst(const qstd_vector_* v, void* firstOut);
QSIB_API qsys_status qstd_vector__getBeginEnd(qstd_vector_* v, void* firstOut, void* endOut);
QSIB_API qsys_status qstd_vector__getBeginEndConst(const qstd_vector_* v, void* firstOut,
                                                   void* endOut);
QSIB_API qsys_status qstd_vector__getCapacity(const qstd_vector_* v, size_t* capacityOut);
QSIB_API qsys_status qstd_vector__getElement(qstd_vector_* v, size_t index, void* elementOut);
QSIB_API qsys_status qstd_vector__getElementConst(const qstd_vector_* v, size_t index,
                                                  void* elementOut);
QSIB_API qsys_status qstd_vector__getElementSize(const qstd_vector_* v, size_t* sizeOut);
/* The element after `element` (which may be the last: then the end);
 * QSYS_E_OUT_OF_RANGE when `element` is not one of the vector's elements. */
QSIB_API qsys_status qstd_vector__getNextElement(qstd_vector_* v, void* element, void* nextOut);
QSIB_API qsys_status qstd_vector__getNextElementConst(const qstd_vector_* v, const void* element,
                                                      void* nextOut);
/* The 32-bit size forms give QSYS_E_OUT_OF_RANGE for a size that does not fit. */
QSIB_API qsys_status qstd_vector__getSize32(const qstd_vector_* v, uint32_t* sizeOut);
QSIB_API qsys_status qstd_vector__getSize(const qstd_vector_* v, size_t* sizeOut);
QSIB_API qsys_status qstd_vector__getBeginSize32(qstd_vector_* v, void* firstOut, uint32_t* sizeOut);
QSIB_API qsys_status qstd_vector__getBeginSize32Const(const qstd_vector_* v, void* firstOut,
                                                      uint32_t* sizeOut);
QSIB_API qsys_status qstd_vector__getBeginSize(qstd_vector_* v, void* firstOut, size_t* sizeOut);
QSIB_API qsys_status qstd_vector__getBeginSizeConst(const qstd_vector_* v, void* firstOut,
                                                    size_t* sizeOut);

QSIB_EXTERN_C_END

#endif
