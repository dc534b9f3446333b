/* qsys: memory, per-call cleanup lists and the attention poll. */
#ifndef QSYS_QSYS_H
#define QSYS_QSYS_H

#include "qsys_base.h"

QSIB_EXTERN_C_BEGIN

/* ---- Memory ---------------------------------------------------------------
 * The only heap the q* libraries use. Blocks are aligned to 64 bytes. Free
 * takes the address of the variable holding the block and sets it to NULL;
 * freeing NULL succeeds. A size of 0 gives a valid, unique block. */
QSIB_API qsys_status qsys_memory_alloc_internal(size_t size, void* pointerOut);
QSIB_API qsys_status qsys_memory_allocClear64_internal(size_t size, void* pointerOut);
/* Resizes the block held at pointerInOut, keeping min(old, new) bytes. On
 * failure the old block is kept. oldSize is the block's current size. */
QSIB_API qsys_status qsys_memory_realloc_internal(size_t size, void* pointerInOut, size_t oldSize);
QSIB_API qsys_status qsys_memory_free_internal(void* pointerInOut);

QSIB_API qsys_status qsys_memory_fill(uint8_t value, size_t byteCount, void* destination);
QSIB_API qsys_status qsys_memory_fillRect(uint8_t value, size_t bytesPerRow, size_t rows,
                                          ptrdiff_t rowStride, void* destination);
QSIB_API qsys_status qsys_memory_copy(size_t byteCount, const void* source, void* destination);
QSIB_API qsys_status qsys_memory_copyRect(size_t width, size_t height, ptrdiff_t sourceStride,
                                          ptrdiff_t destinationStride, const void* source,
                                          void* destination);

/* Freed blocks of QSYS_MEMORY_CACHE_MIN_BLOCK bytes or more are kept by
 * the freeing thread, at most QSYS_MEMORY_CACHE_MAX_BLOCKS of them and
 * QSYS_MEMORY_CACHE_MAX_BYTES in all (the oldest go first), and serve later
 * allocations of that thread that they exceed by at most an eighth: a thread
 * that repeats calls of the same sizes reuses their blocks rather than
 * having the C library return them to the system and fault them in again.
 * The cache is released when the thread ends or by releaseCache; cachedBytes
 * is what the calling thread's cache holds. Cached blocks count as freed in
 * the accounting below. */
#define QSYS_MEMORY_CACHE_MIN_BLOCK (16u << 10)
#define QSYS_MEMORY_CACHE_MAX_BLOCKS 16
#define QSYS_MEMORY_CACHE_MAX_BYTES (4u << 20)
QSIB_API size_t qsys_memory_cachedBytes(void);
QSIB_API_NO_STATUS void qsys_memory_releaseCache(void);

/* Fault injection and accounting, for tests of failure paths. After
 * qsys_memory_failAfter(n), the allocation that follows n successful ones
 * fails with QSYS_E_NO_MEMORY, once; a negative n switches it off. Both the
 * setting and the counters belong to the calling thread. */
QSIB_API_NO_STATUS void qsys_memory_failAfter(int64_t n);
/* Number of successful allocations made by this thread so far. */
QSIB_API int64_t qsys_memory_allocationCount(void);
/* Blocks allocated and not yet freed, over all threads. */
QSIB_API int64_t qsys_memory_blocksInUse(void);
/* Bytes in those blocks (each rounded up to 64), and the most there were
 * since the last resetPeakBytesInUse (which sets the peak to the bytes in
 * use now), over all threads: what a call holds at most, for benchmarks. */
QSIB_API int64_t qsys_memory_bytesInUse(void);
QSIB_API int64_t qsys_memory_peakBytesInUse(void);
QSIB_API_NO_STATUS void qsys_memory_resetPeakBytesInUse(void);

/* ---- Cleanup lists --------------------------------------------------------
 * One entry per acquired resource, kept in the acquiring function's frame. */
typedef qsys_status (*qsys_destroyFunc)(void* object);

typedef struct qsys_cleanupEntry {
    uint32_t ordinal;        /* acquisition site, 0 for the first in source order */
    uint32_t mode;           /* QSYS_CLEANUP_* */
    void* object;            /* the object, or the variable holding a memory block */
    qsys_destroyFunc destroy;
} qsys_cleanupEntry;

#define QSYS_CLEANUP_OBJECT          0x32u /* released at every exit */
#define QSYS_CLEANUP_MEMORY          0x31u /* block released at every exit */
#define QSYS_CLEANUP_MEMBER          0x22u /* released only when the call fails */
#define QSYS_CLEANUP_MEMBER_MEMORY   0x21u /* block released only when the call fails */

/* Releases the listed entries, latest first: every entry of modes 0x32 and
 * 0x31, and those of modes 0x22 and 0x21 only when *statusInOut is a failure.
 * The first destroy that fails replaces a success status. The count is reset
 * to 0, so running the list twice releases nothing twice. */
QSIB_API qsys_status qsys_cleanupExecute_(qsys_cleanupEntry* entries, uint32_t* countInOut,
                                          qsys_status* statusInOut);

/* ---- Attention --------------------------------------------------------------
 * Long computations poll qsys_attention_check() before they start. It calls
 * the handler installed on the calling thread, if any, and returns its
 * answer; a negative answer asks the computation to stop and return it. */
typedef qsys_status (*qsys_attentionHandler)(void* context);

/* Installs a handler for the calling thread (NULL removes it). */
QSIB_API_NO_STATUS void qsys_attention_setHandler(qsys_attentionHandler handler, void* context);
QSIB_API qsys_status qsys_attention_check(void);

QSIB_EXTERN_C_END

#endif
