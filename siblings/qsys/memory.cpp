// The heap of the q* libraries: 64-byte aligned blocks, fault injection
// for tests (the Nth allocation of a thread fails), counts of live blocks
// and bytes so tests can see leaks and benchmarks peaks, and a small cache
// of freed blocks per thread.
//
// Every block starts with a 64-byte header that records its size, so the
// caller's bytes keep the 64-byte alignment and a freed block can be offered
// again. The cache keeps large blocks only: the C library serves small ones
// quickly from its own per-thread lists, but returns large ones to the
// system when they are freed, and the next call of the same size then pays
// for faulting fresh pages in again. A call that repeats the sizes of the
// one before (a search of the next image of the same size) so reuses its
// blocks, still in cache.
#include <qsys/qsys.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAlignment = 64;
constexpr size_t kHeaderBytes = 64;

struct Header {
    size_t capacity;  // bytes after the header
};
static_assert(sizeof(Header) <= kHeaderBytes, "the header fits before the caller's bytes");

std::atomic<int64_t> blocksInUse{0};
std::atomic<int64_t> bytesInUse{0};
std::atomic<int64_t> peakBytesInUse{0};
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

Header* headerOf(void* block) { return reinterpret_cast<Header*>(static_cast<uint8_t*>(block) - kHeaderBytes); }
void* bytesOf(Header* header) { return reinterpret_cast<uint8_t*>(header) + kHeaderBytes; }

void count(int64_t blocks, int64_t bytes)
{
    blocksInUse.fetch_add(blocks, std::memory_order_relaxed);
    const int64_t now = bytesInUse.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    int64_t peak = peakBytesInUse.load(std::memory_order_relaxed);
    while (now > peak && !peakBytesInUse.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

// Freed blocks of this thread, oldest first. A request takes the smallest
// that holds it, but none more than an eighth larger than the request: a
// large block serving a small request would hold memory that a call of the
// usual sizes does not need, and leave the next large request to fault in.
// Trivially destructible, so that it stays usable for frees that come late
// in the thread's exit; `closed` then turns those away.
struct BlockCache {
    Header* blocks[QSYS_MEMORY_CACHE_MAX_BLOCKS];
    int count;
    size_t bytes;
    bool closed;

    void remove(int i)
    {
        bytes -= blocks[i]->capacity;
        std::memmove(&blocks[i], &blocks[i + 1], sizeof blocks[0] * static_cast<size_t>(count - i - 1));
        --count;
    }
    Header* take(size_t capacity)
    {
        int best = -1;
        for (int i = 0; i < count; ++i) {
            const size_t c = blocks[i]->capacity;
            if (c >= capacity && c - capacity <= capacity / 8 && (best < 0 || c < blocks[best]->capacity)) best = i;
        }
        if (best < 0) return nullptr;
        Header* block = blocks[best];
        remove(best);
        return block;
    }
    // False when the block is not kept; the caller frees it.
    bool keep(Header* block)
    {
        const size_t c = block->capacity;
        if (closed || c < QSYS_MEMORY_CACHE_MIN_BLOCK || c > QSYS_MEMORY_CACHE_MAX_BYTES) return false;
        while (count == QSYS_MEMORY_CACHE_MAX_BLOCKS || bytes + c > QSYS_MEMORY_CACHE_MAX_BYTES) {
            Header* oldest = blocks[0];
            remove(0);
            std::free(oldest);
        }
        blocks[count++] = block;
        bytes += c;
        return true;
    }
    void release()
    {
        for (int i = 0; i < count; ++i) std::free(blocks[i]);
        count = 0;
        bytes = 0;
    }
};

thread_local BlockCache cache{};

// Releases the thread's cache when the thread ends.
struct CacheRelease {
    ~CacheRelease()
    {
        cache.release();
        cache.closed = true;
    }
};
thread_local CacheRelease cacheRelease;

qsys_status allocate(size_t size, void* pointerOut, bool clear)
{
    void** out = static_cast<void**>(pointerOut);
    if (injectFailure()) return QSYS_E_NO_MEMORY;
    size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    if (rounded < size || rounded > SIZE_MAX - kHeaderBytes) return QSYS_E_NO_MEMORY;  // size near SIZE_MAX
    if (rounded == 0) rounded = kAlignment;
    Header* header = cache.take(rounded);
    if (header == nullptr) {
        header = static_cast<Header*>(std::aligned_alloc(kAlignment, kHeaderBytes + rounded));
        if (header == nullptr) return QSYS_E_NO_MEMORY;
        header->capacity = rounded;
    }
    void* block = bytesOf(header);
    if (clear) std::memset(block, 0, size);
    ++allocationsMade;
    count(1, static_cast<int64_t>(header->capacity));
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
        Header* header = headerOf(*block);
        count(-1, -static_cast<int64_t>(header->capacity));
        (void)&cacheRelease;  // from the first free on, the thread's exit releases the cache
        if (!cache.keep(header)) std::free(header);
        *block = nullptr;
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

size_t qsys_memory_cachedBytes(void) { return cache.bytes; }

void qsys_memory_releaseCache(void) { cache.release(); }

void qsys_memory_failAfter(int64_t n) { failAt = n < 0 ? -1 : allocationsMade + n; }

int64_t qsys_memory_allocationCount(void) { return allocationsMade; }

int64_t qsys_memory_blocksInUse(void) { return blocksInUse.load(std::memory_order_relaxed); }

int64_t qsys_memory_bytesInUse(void) { return bytesInUse.load(std::memory_order_relaxed); }

int64_t qsys_memory_peakBytesInUse(void) { return peakBytesInUse.load(std::memory_order_relaxed); }

void qsys_memory_resetPeakBytesInUse(void)
{
    peakBytesInUse.store(bytesInUse.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

}  // extern "C"
