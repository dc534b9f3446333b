// The heap of the q* libraries: 64-byte aligned blocks, fault injection
// for tests (the Nth allocation of a thread fails), and a count of live
// blocks so tests can see leaks.
#include <qsys/qsys.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAlignment = 64;

std::atomic<int64_t> blocksInUse{0};
thread_local int64_t allocationsMade = 0;
thread_local int64_t failAt = -1;  // allocation number that fails, -1 for none

bool injectFailure()
{
    if (failAt >= 0 && allocationsMade == failAt) {
        failAt = -1;
        return true;
    }
    return false;
}

qsys_status allocate(size_t size, void* pointerOut, bool clear)
{
    void** out = static_cast<void**>(pointerOut);
    if (injectFailure()) return QSYS_E_NO_MEMORY;
    size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    if (rounded < size) return QSYS_E_NO_MEMORY;  // size near SIZE_MAX
    if (rounded == 0) rounded = kAlignment;
    void* block = std::aligned_alloc(kAlignment, rounded);
    if (block == nullptr) return QSYS_E_NO_MEMORY;
    if (clear) std::memset(block, 0, rounded);
    ++allocationsMade;
    blocksInUse.fetch_add(1, std::memory_order_relaxed);
    *out = block;
    return QSYS_OK;
}

}  // namespace

extern "C" {

qsys_status qsys_memory_alloc_internal(size_t size, void* pointerOut) { return allocate(size, pointerOut, false); }

qsys_status qsys_memory_allocClear64_internal(size_t size, void* pointerOut) { return allocate(size, pointerOut, true); }

qsys_status qsys_memory_realloc_internal(size_t size, void* pointerInOut, size_t oldSize)
{
    void** block = static_cast<void**>(pointerInOut);
    void* fresh = nullptr;
    qsys_status s = allocate(size, &fresh, false);
    if (QSYS_FAILED(s)) return s;
    if (*block != nullptr) {
        std::memcpy(fresh, *block, oldSize < size ? oldSize : size);
        qsys_memory_free_internal(block);
    }
    *block = fresh;
    return QSYS_OK;
}

qsys_status qsys_memory_free_internal(void* pointerInOut)
{
    void** block = static_cast<void**>(pointerInOut);
    if (*block != nullptr) {
        std::free(*block);
        *block = nullptr;
        blocksInUse.fetch_sub(1, std::memory_order_relaxed);
    }
    return QSYS_OK;
}

qsys_status qsys_memory_fill(uint8_t value, size_t byteCount, void* destination)
{
    if (byteCount != 0) std::memset(destination, value, byteCount);
    return QSYS_OK;
}

qsys_status qsys_memory_fillRect(uint8_t value, size_t bytesPerRow, size_t rows, ptrdiff_t rowStride,
                                 void* destination)
{
    auto* row = static_cast<uint8_t*>(destination);
    for (size_t r = 0; r < rows; ++r, row += rowStride)
        if (bytesPerRow != 0) std::memset(row, value, bytesPerRow);
    return QSYS_OK;
}

qsys_status qsys_memory_copy(size_t byteCount, const void* source, void* destination)
{
    if (byteCount != 0) std::memmove(destination, source, byteCount);
    return QSYS_OK;
}

qsys_status qsys_memory_copyRect(size_t width, size_t height, ptrdiff_t sourceStride, ptrdiff_t destinationStride,
                                 const void* source, void* destination)
{
    const auto* from = static_cast<const uint8_t*>(source);
    auto* to = static_cast<uint8_t*>(destination);
    for (size_t r = 0; r < height; ++r, from += sourceStride, to += destinationStride)
        if (width != 0) std::memmove(to, from, width);
    return QSYS_OK;
}

void qsys_memory_failAfter(int64_t n) { failAt = n < 0 ? -1 : allocationsMade + n; }

int64_t qsys_memory_allocationCount(void) { return allocationsMade; }

int64_t qsys_memory_blocksInUse(void) { return blocksInUse.load(std::memory_order_relaxed); }

}  // extern "C"
