// The generic vector: elements of any size in one block, built, copied,
// assigned and destroyed through the vector's element-operations table.
//
// Elements are relocatable: growing, inserting and erasing move them as
// bytes and call no element operation, so a record kept in a vector must not
// point into itself (the library's records point only to heap blocks).
//
// Every step that can fail (an allocation, an element construct or copy)
// runs before anything is moved or released, so its failure leaves the
// vector as it was. New elements are always built at the end of the
// (possibly new) block and rotated into place afterwards: a source that lies
// inside the vector stays valid while it is copied, which makes
// pushBack(v, element of v) and append(v, v) work.
#include <qstd/vector.h>
#include <qsys/qsys.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using Byte = unsigned char;

bool failed(qsys_status s) { return QSYS_FAILED(s); }

Byte* first(const qstd_vector_* v) { return static_cast<Byte*>(v->begin); }

// The element operations of one vector; a missing entry means plain bytes.
class Elements {
public:
    explicit Elements(const qstd_vector_* v) : size_(v->elementSize), table_(v->vtable) {}

    // Builds n default elements; on a failure destroys those already built.
    qsys_status construct(Byte* to, size_t n) const
    {
        if (entry(&qstd_vector_vtable::construct) == nullptr) {
            std::memset(to, 0, n * size_);
            return QSYS_OK;
        }
        return build(to, n, [&](Byte* e, size_t) { return table_->construct(e); });
    }
    // Builds copies of the n elements at from.
    qsys_status copy(Byte* to, const Byte* from, size_t n) const
    {
        if (entry(&qstd_vector_vtable::constructCopy) == nullptr) {
            std::memcpy(to, from, n * size_);
            return QSYS_OK;
        }
        return build(to, n, [&](Byte* e, size_t k) { return table_->constructCopy(e, from + k * size_); });
    }
    // Builds n copies of one element.
    qsys_status fill(Byte* to, const Byte* element, size_t n) const
    {
        auto copyEntry = entry(&qstd_vector_vtable::constructCopy);
        return build(to, n, [&](Byte* e, size_t) {
            if (copyEntry != nullptr) return copyEntry(e, element);
            std::memcpy(e, element, size_);
            return QSYS_OK;
        });
    }
    // Assigns the n elements at from to those at to, in order; from may lie
    // after to in the same block. Stops at the first failure.
    qsys_status assign(Byte* to, const Byte* from, size_t n) const
    {
        if (n == 0) return QSYS_OK;
        auto assignEntry = entry(&qstd_vector_vtable::assign);
        if (assignEntry == nullptr) {
            std::memmove(to, from, n * size_);
            return QSYS_OK;
        }
        for (size_t k = 0; k < n; ++k) {
            qsys_status s = assignEntry(to + k * size_, from + k * size_);
            if (failed(s)) return s;
        }
        return QSYS_OK;
    }
    // Destroys all n elements even when one fails; reports the first failure.
    qsys_status destroy(Byte* at, size_t n) const
    {
        auto destructEntry = entry(&qstd_vector_vtable::destruct);
        qsys_status firstFailure = QSYS_OK;
        if (destructEntry == nullptr) return firstFailure;
        for (size_t k = 0; k < n; ++k) {
            qsys_status s = destructEntry(at + k * size_);
            if (failed(s) && !failed(firstFailure)) firstFailure = s;
        }
        return firstFailure;
    }

private:
    template <class F>
    F entry(F qstd_vector_vtable::*member) const
    {
        return table_ == nullptr ? nullptr : table_->*member;
    }
    template <class Make>
    qsys_status build(Byte* to, size_t n, Make make) const
    {
        for (size_t k = 0; k < n; ++k) {
            qsys_status s = make(to + k * size_, k);
            if (failed(s)) {
                (void)destroy(to, k);  // the failure of the build is what the caller hears
                return s;
            }
        }
        return QSYS_OK;
    }

    size_t size_;
    const qstd_vector_vtable* table_;
};

qsys_status allocateBlock(const qstd_vector_* v, size_t capacity, Byte** blockOut)
{
    if (capacity > SIZE_MAX / v->elementSize) return QSYS_E_NO_MEMORY;
    void* block = nullptr;
    size_t bytes = capacity * v->elementSize;
    qsys_status s = v->mtable != nullptr ? v->mtable->alloc(bytes, &block)
                                         : qsys_memory_alloc_internal(bytes, &block);
    if (failed(s)) return s;
    *blockOut = static_cast<Byte*>(block);
    return QSYS_OK;
}

qsys_status freeBlock(const qstd_vector_* v, void* block)
{
    if (block == nullptr) return QSYS_OK;
    return v->mtable != nullptr ? v->mtable->free(&block) : qsys_memory_free_internal(&block);
}

// Moves the elements into a new block of `capacity` elements (>= size).
void relocate(qstd_vector_* v, Byte* block, size_t capacity)
{
    if (v->size != 0) std::memcpy(block, v->begin, v->size * v->elementSize);
    // The elements live in the new block now; a refusal to release the old
    // one cannot be undone, so the step still counts as done.
    (void)freeBlock(v, v->begin);
    v->begin = block;
    v->capacity = capacity;
}

// Room for `needed` elements: double the capacity, or more when that is short.
size_t grownCapacity(const qstd_vector_* v, size_t needed)
{
    size_t limit = SIZE_MAX / v->elementSize;
    size_t doubled = v->capacity > limit / 2 ? limit : v->capacity * 2;
    return std::max(needed, doubled);
}

// Inserts n elements before index, built by build(slot) at the end of the
// block first and rotated into place once they all exist.
template <class Build>
qsys_status insertBuilt(qstd_vector_* v, size_t index, size_t n, Build build)
{
    if (index > v->size) return QSYS_E_OUT_OF_RANGE;
    if (n == 0) return QSYS_OK;
    if (n > SIZE_MAX - v->size) return QSYS_E_NO_MEMORY;
    const size_t needed = v->size + n;
    const size_t bytes = v->elementSize;
    Byte* block = first(v);
    size_t capacity = v->capacity;
    if (needed > capacity) {
        capacity = grownCapacity(v, needed);
        qsys_status s = allocateBlock(v, capacity, &block);
        if (failed(s)) return s;
    }
    qsys_status s = build(block + v->size * bytes);
    if (failed(s)) {
        if (block != v->begin) (void)freeBlock(v, block);
        return s;
    }
    if (block != v->begin) relocate(v, block, capacity);
    if (index < v->size)
        std::rotate(block + index * bytes, block + v->size * bytes, block + needed * bytes);
    v->size = needed;
    return QSYS_OK;
}

// Removes the elements from count on; they are gone even if a destruct fails.
qsys_status shrink(qstd_vector_* v, size_t count)
{
    qsys_status s = Elements(v).destroy(first(v) + count * v->elementSize, v->size - count);
    v->size = count;
    return s;
}

template <class Build>
qsys_status resizeBuilt(qstd_vector_* v, size_t count, Build build)
{
    if (count <= v->size) return shrink(v, count);
    size_t n = count - v->size;
    return insertBuilt(v, v->size, n, [&](Byte* slot) { return build(slot, n); });
}

// The vector becomes copies of count elements at source. Elements beyond
// the current size are built first (failure: the vector as it was); then the
// kept ones are assigned, which cannot be undone once one has been assigned.
qsys_status assignFrom(qstd_vector_* v, const Byte* source, size_t count)
{
    Elements elements(v);
    const size_t kept = std::min(count, v->size);
    const size_t bytes = v->elementSize;
    qsys_status s = resizeBuilt(v, std::max(count, v->size), [&](Byte* slot, size_t n) {
        return elements.copy(slot, source + kept * bytes, n);
    });
    if (failed(s)) return s;
    s = elements.assign(first(v), source, kept);
    if (failed(s)) return s;
    return shrink(v, count);
}

// An empty vector of the given shape; a refused shape still leaves it empty.
qsys_status startEmpty(qstd_vector_* v, size_t elementSize, const qstd_vector_vtable* vtable,
                       const qstd_vector_mtable* mtable)
{
    *v = qstd_vector_{nullptr, 0, 0, elementSize, vtable, mtable};
    if (elementSize == 0) return QSYS_E_BAD_ARGUMENT;
    if (vtable != nullptr && vtable->marker != QSTD_VECTOR_VTABLE_MARKER) return QSYS_E_BAD_ARGUMENT;
    if (mtable != nullptr && (mtable->alloc == nullptr || mtable->free == nullptr))
        return QSYS_E_BAD_ARGUMENT;
    return QSYS_OK;
}

const Byte* bytesOf(const void* p) { return static_cast<const Byte*>(p); }

void storePointer(void* out, const void* p) { *static_cast<const void**>(out) = p; }

const Byte* endOf(const qstd_vector_* v)
{
    return v->size == 0 ? first(v) : first(v) + v->size * v->elementSize;
}

}  // namespace

extern "C" {

// ---- Construction and destruction ---------------------------------------------

qsys_status qstd_vector__constructWithVtableWithMtable(qstd_vector_* v, size_t count, size_t elementSize,
                                                       const qstd_vector_vtable* vtable,
                                                       const qstd_vector_mtable* mtable)
{
    qsys_status s = startEmpty(v, elementSize, vtable, mtable);
    if (failed(s)) return s;
    return resizeBuilt(v, count, [&](Byte* slot, size_t n) { return Elements(v).construct(slot, n); });
}

qsys_status qstd_vector__constructWithVtable(qstd_vector_* v, size_t count, size_t elementSize,
                                             const qstd_vector_vtable* vtable)
{
    return qstd_vector__constructWithVtableWithMtable(v, count, elementSize, vtable, nullptr);
}

qsys_status qstd_vector__constructWithVtableUninit(qstd_vector_* v, size_t count, size_t elementSize,
                                                   const qstd_vector_vtable* vtable)
{
    qsys_status s = startEmpty(v, elementSize, vtable, nullptr);
    if (failed(s)) return s;
    return qstd_vector__resizeUninit(v, count);
}

qsys_status qstd_vector__constructFillWithVtable(qstd_vector_* v, size_t count, size_t elementSize,
                                                 const void* element, const qstd_vector_vtable* vtable)
{
    qsys_status s = startEmpty(v, elementSize, vtable, nullptr);
    if (failed(s)) return s;
    return qstd_vector__resizeFill(v, count, element);
}

qsys_status qstd_vector__constructFromBlockWithVtable(qstd_vector_* v, size_t elementSize, const void* block,
                                                      size_t count, const qstd_vector_vtable* vtable)
{
    qsys_status s = startEmpty(v, elementSize, vtable, nullptr);
    if (failed(s)) return s;
    return qstd_vector__insert(v, 0, block, count);
}

qsys_status qstd_vector__constructCopy(qstd_vector_* v, const qstd_vector_* source)
{
    const qstd_vector_ from = *source;  // read before v is reset
    qsys_status s = startEmpty(v, from.elementSize, from.vtable, from.mtable);
    if (failed(s)) return s;
    return qstd_vector__insert(v, 0, from.begin, from.size);
}

// Destroys every element (all of them, even after a failure), releases the
// block and leaves an empty vector of the same shape; the first failure is
// returned.
qsys_status qstd_vector__destruct(qstd_vector_* v) { return qstd_vector__clearAndFreeMemory(v); }

// ---- Whole-vector operations ----------------------------------------------------

qsys_status qstd_vector__assign(qstd_vector_* dst, const qstd_vector_* src)
{
    if (dst == src) return QSYS_OK;
    if (dst->elementSize != src->elementSize) return QSYS_E_BAD_ARGUMENT;
    return assignFrom(dst, bytesOf(src->begin), src->size);
}

qsys_status qstd_vector__assignElements(qstd_vector_* v, const void* block, size_t count)
{
    return assignFrom(v, bytesOf(block), count);
}

qsys_status qstd_vector__append(qstd_vector_* v, const qstd_vector_* other)
{
    if (v->elementSize != other->elementSize) return QSYS_E_BAD_ARGUMENT;
    return qstd_vector__insert(v, v->size, other->begin, other->size);
}

qsys_status qstd_vector__clear(qstd_vector_* v) { return shrink(v, 0); }

qsys_status qstd_vector__clearAndFreeMemory(qstd_vector_* v)
{
    qsys_status s = shrink(v, 0);
    qsys_status released = freeBlock(v, v->begin);
    v->begin = nullptr;
    v->capacity = 0;
    return failed(s) ? s : released;
}

qsys_status qstd_vector__swap(qstd_vector_* a, qstd_vector_* b)
{
    std::swap(*a, *b);  // each vector keeps the tables that go with its block
    return QSYS_OK;
}

qsys_status qstd_vector__reserve(qstd_vector_* v, size_t capacity)
{
    if (capacity <= v->capacity) return QSYS_OK;
    Byte* block = nullptr;
    qsys_status s = allocateBlock(v, capacity, &block);
    if (failed(s)) return s;
    relocate(v, block, capacity);
    return QSYS_OK;
}

// ---- Inserting and removing -------------------------------------------------------

qsys_status qstd_vector__insert(qstd_vector_* v, size_t index, const void* block, size_t count)
{
    return insertBuilt(v, index, count,
                       [&](Byte* slot) { return Elements(v).copy(slot, bytesOf(block), count); });
}

qsys_status qstd_vector__insertElement(qstd_vector_* v, size_t index, const void* element)
{
    return qstd_vector__insert(v, index, element, 1);
}

qsys_status qstd_vector__pushBack(qstd_vector_* v, const void* element)
{
    return qstd_vector__insert(v, v->size, element, 1);
}

// Removed elements are gone even when a destruct fails; its failure is returned.
qsys_status qstd_vector__erase(qstd_vector_* v, size_t firstIndex, size_t endIndex)
{
    if (firstIndex > endIndex || endIndex > v->size) return QSYS_E_OUT_OF_RANGE;
    if (firstIndex == endIndex) return QSYS_OK;
    const size_t bytes = v->elementSize;
    Byte* gap = first(v) + firstIndex * bytes;
    qsys_status s = Elements(v).destroy(gap, endIndex - firstIndex);
    size_t tail = v->size - endIndex;
    if (tail != 0) std::memmove(gap, first(v) + endIndex * bytes, tail * bytes);
    v->size -= endIndex - firstIndex;
    return s;
}

qsys_status qstd_vector__eraseElement(qstd_vector_* v, size_t index)
{
    if (index >= v->size) return QSYS_E_OUT_OF_RANGE;
    return qstd_vector__erase(v, index, index + 1);
}

qsys_status qstd_vector__popBack(qstd_vector_* v)
{
    if (v->size == 0) return QSYS_E_OUT_OF_RANGE;
    return shrink(v, v->size - 1);
}

qsys_status qstd_vector__resize(qstd_vector_* v, size_t count)
{
    return resizeBuilt(v, count, [&](Byte* slot, size_t n) { return Elements(v).construct(slot, n); });
}

qsys_status qstd_vector__resizeFill(qstd_vector_* v, size_t count, const void* element)
{
    return resizeBuilt(v, count,
                       [&](Byte* slot, size_t n) { return Elements(v).fill(slot, bytesOf(element), n); });
}

// New elements are zero bytes and are not constructed; removed ones are destroyed.
qsys_status qstd_vector__resizeUninit(qstd_vector_* v, size_t count)
{
    return resizeBuilt(v, count, [&](Byte* slot, size_t n) {
        std::memset(slot, 0, n * v->elementSize);
        return QSYS_OK;
    });
}

// ---- Access --------------------------------------------------------------------------

qsys_status qstd_vector__getBegin(qstd_vector_* v, void* firstOut)
{
    storePointer(firstOut, v->begin);
    return QSYS_OK;
}

qsys_status qstd_vector__getBeginConst(const qstd_vector_* v, void* firstOut)
{
    storePointer(firstOut, v->begin);
    return QSYS_OK;
}

qsys_status qstd_vector__getBeginEnd(qstd_vector_* v, void* firstOut, void* endOut)
{
    return qstd_vector__getBeginEndConst(v, firstOut, endOut);
}

qsys_status qstd_vector__getBeginEndConst(const qstd_vector_* v, void* firstOut, void* endOut)
{
    storePointer(firstOut, v->begin);
    storePointer(endOut, endOf(v));
    return QSYS_OK;
}

qsys_status qstd_vector__getCapacity(const qstd_vector_* v, size_t* capacityOut)
{
    *capacityOut = v->capacity;
    return QSYS_OK;
}

qsys_status qstd_vector__getElement(qstd_vector_* v, size_t index, void* elementOut)
{
    return qstd_vector__getElementConst(v, index, elementOut);
}

qsys_status qstd_vector__getElementConst(const qstd_vector_* v, size_t index, void* elementOut)
{
    if (index >= v->size) return QSYS_E_OUT_OF_RANGE;
    storePointer(elementOut, first(v) + index * v->elementSize);
    return QSYS_OK;
}

qsys_status qstd_vector__getElementSize(const qstd_vector_* v, size_t* sizeOut)
{
    *sizeOut = v->elementSize;
    return QSYS_OK;
}

qsys_status qstd_vector__getNextElement(qstd_vector_* v, void* element, void* nextOut)
{
    return qstd_vector__getNextElementConst(v, element, nextOut);
}

// element must be one of the vector's elements (QSYS_E_OUT_OF_RANGE otherwise).
qsys_status qstd_vector__getNextElementConst(const qstd_vector_* v, const void* element, void* nextOut)
{
    uintptr_t at = reinterpret_cast<uintptr_t>(element);
    uintptr_t begin = reinterpret_cast<uintptr_t>(v->begin);
    uintptr_t end = reinterpret_cast<uintptr_t>(endOf(v));
    if (at < begin || at >= end || (at - begin) % v->elementSize != 0) return QSYS_E_OUT_OF_RANGE;
    storePointer(nextOut, bytesOf(element) + v->elementSize);
    return QSYS_OK;
}

// The 32-bit size forms refuse a count that does not fit (QSYS_E_OUT_OF_RANGE).
qsys_status qstd_vector__getSize32(const qstd_vector_* v, uint32_t* sizeOut)
{
    if (v->size > UINT32_MAX) return QSYS_E_OUT_OF_RANGE;
    *sizeOut = static_cast<uint32_t>(v->size);
    return QSYS_OK;
}

qsys_status qstd_vector__getSize(const qstd_vector_* v, size_t* sizeOut)
{
    *sizeOut = v->size;
    return QSYS_OK;
}

qsys_status qstd_vector__getBeginSize32(qstd_vector_* v, void* firstOut, uint32_t* sizeOut)
{
    return qstd_vector__getBeginSize32Const(v, firstOut, sizeOut);
}

qsys_status qstd_vector__getBeginSize32Const(const qstd_vector_* v, void* firstOut, uint32_t* sizeOut)
{
    qsys_status s = qstd_vector__getSize32(v, sizeOut);
    if (failed(s)) return s;
    storePointer(firstOut, v->begin);
    return QSYS_OK;
}

qsys_status qstd_vector__getBeginSize(qstd_vector_* v, void* firstOut, size_t* sizeOut)
{
    return qstd_vector__getBeginSizeConst(v, firstOut, sizeOut);
}

qsys_status qstd_vector__getBeginSizeConst(const qstd_vector_* v, void* firstOut, size_t* sizeOut)
{
    storePointer(firstOut, v->begin);
    *sizeOut = v->size;
    return QSYS_OK;
}

}  // extern "C"
