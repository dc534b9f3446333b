// The q* heap, cleanup lists, the attention poll and plain vectors.
#include <cstring>
#include <thread>

#include "support/test_support.hpp"

namespace {

// Blocks are 64-byte aligned, cleared, counted and unique even when empty;
// reallocation keeps the content, also when it fails.
TEST(Memory, BlocksAreAlignedClearedCountedAndReallocated)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    void *empty = nullptr, *block = nullptr;
    ASSERT_EQ(qsys_memory_allocClear64_internal(0, &empty), QSYS_OK);
    ASSERT_EQ(qsys_memory_allocClear64_internal(1000, &block), QSYS_OK);
    auto* bytes = static_cast<uint8_t*>(block);
    EXPECT_TRUE(reinterpret_cast<uintptr_t>(bytes) % 64 == 0 && std::count(bytes, bytes + 1000, 0) == 1000);
    EXPECT_TRUE(empty != block && empty != nullptr && qsys_memory_blocksInUse() == blocks + 2);
    for (int k = 0; k < 1000; ++k) bytes[k] = uint8_t(k * 7);
    ASSERT_EQ(qsys_memory_realloc_internal(3000, &block, 1000), QSYS_OK);
    ASSERT_EQ(qsys_memory_realloc_internal(10, &block, 3000), QSYS_OK);
    void* before = block;
    qsys_memory_failAfter(0);
    EXPECT_EQ(qsys_memory_realloc_internal(500, &block, 10), QSYS_E_NO_MEMORY);
    EXPECT_EQ(block, before);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(static_cast<uint8_t*>(block)[k], uint8_t(k * 7));
    for (void** b : {&empty, &block, &block})  // freeing NULL succeeds
        ASSERT_TRUE(qsys_memory_free_internal(b) == QSYS_OK && *b == nullptr);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// failAfter(n) fails the nth allocation of its own thread, once; -1 ends it.
TEST(Memory, FailAfterFailsExactlyTheNthAllocationOnceOnItsThread)
{
    void* block = nullptr;
    for (int64_t n = -1; n < 4; ++n) {
        qsys_memory_failAfter(5);
        qsys_memory_failAfter(n);
        for (int k = 0; k < 6; ++k, qsys_memory_free_internal(&block))
            EXPECT_EQ(qsys_memory_alloc_internal(8, &block), k == n ? QSYS_E_NO_MEMORY : QSYS_OK) << n << " " << k;
    }
    qsys_memory_failAfter(0);
    qsys_status other = QSYS_E_NO_MEMORY;
    std::thread([&] { other = qsys_memory_alloc_internal(8, &block); }).join();
    qsys_memory_free_internal(&block);
    EXPECT_EQ(other, QSYS_OK);
    EXPECT_EQ(qsys_memory_alloc_internal(8, &block), QSYS_E_NO_MEMORY);
}

// A freed large block serves its thread's next allocations that it exceeds
// by at most an eighth, cleared when asked, and counts as freed meanwhile; small blocks,
// blocks beyond the bound and other threads' requests go to the C library;
// the cache stays within its bounds, and the Nth allocation still fails
// when the cache could serve it.
TEST(Memory, FreedLargeBlocksServeTheirOwnThreadAgainWithinBounds)
{
    qsys_memory_releaseCache();
    const int64_t blocks = qsys_memory_blocksInUse(), bytes = qsys_memory_bytesInUse();
    void *block = nullptr, *other = nullptr;
    ASSERT_EQ(qsys_memory_alloc_internal(100000, &block), QSYS_OK);
    void* const first = block;
    std::memset(block, 0xEE, 100000);
    qsys_memory_free_internal(&block);
    EXPECT_TRUE(qsys_memory_cachedBytes() >= 100000 && qsys_memory_blocksInUse() == blocks &&
                qsys_memory_bytesInUse() == bytes);

    const struct { size_t size; bool fromCache; } requests[] = {
        {100100, false}, {1000, false}, {88000, false}, {90000, true}, {100000, true}};
    for (const auto& r : requests) {
        SCOPED_TRACE(r.size);
        ASSERT_EQ(qsys_memory_allocClear64_internal(r.size, &block), QSYS_OK);
        EXPECT_EQ(block == first, r.fromCache);
        auto* b = static_cast<uint8_t*>(block);
        EXPECT_EQ(size_t(std::count(b, b + r.size, 0)), r.size);
        if (r.fromCache)
            std::thread([&] {
                EXPECT_EQ(qsys_memory_alloc_internal(r.size, &other), QSYS_OK);
                EXPECT_NE(other, first) << "another thread's request";
                qsys_memory_free_internal(&other);  // kept by that thread until it ends
            }).join();
        qsys_memory_free_internal(&block);
    }

    qsys_memory_failAfter(0);
    EXPECT_EQ(qsys_memory_alloc_internal(90000, &block), QSYS_E_NO_MEMORY);
    ASSERT_EQ(qsys_memory_alloc_internal(90000, &block), QSYS_OK);
    EXPECT_EQ(block, first);
    qsys_memory_free_internal(&block);

    std::vector<void*> many(2 * QSYS_MEMORY_CACHE_MAX_BLOCKS, nullptr);
    for (void*& b : many) ASSERT_EQ(qsys_memory_alloc_internal(300000, &b), QSYS_OK);
    ASSERT_EQ(qsys_memory_alloc_internal(QSYS_MEMORY_CACHE_MAX_BYTES + 64, &block), QSYS_OK);
    for (void*& b : many) qsys_memory_free_internal(&b);
    qsys_memory_free_internal(&block);
    EXPECT_LE(qsys_memory_cachedBytes(), size_t{QSYS_MEMORY_CACHE_MAX_BYTES});
    EXPECT_GE(qsys_memory_cachedBytes(), size_t{QSYS_MEMORY_CACHE_MAX_BYTES} - 300000);
    qsys_memory_releaseCache();
    EXPECT_EQ(qsys_memory_cachedBytes(), 0u);
    EXPECT_TRUE(qsys_memory_blocksInUse() == blocks && qsys_memory_bytesInUse() == bytes);
}

// The peak of bytes in use since the last reset, over blocks of any size.
TEST(Memory, PeakBytesInUseSinceTheLastReset)
{
    void *a = nullptr, *b = nullptr;
    const int64_t base = qsys_memory_bytesInUse();
    qsys_memory_resetPeakBytesInUse();
    ASSERT_EQ(qsys_memory_alloc_internal(200001, &a), QSYS_OK);
    qsys_memory_free_internal(&a);
    ASSERT_EQ(qsys_memory_alloc_internal(1000, &a), QSYS_OK);
    ASSERT_EQ(qsys_memory_alloc_internal(3000, &b), QSYS_OK);
    EXPECT_EQ(qsys_memory_bytesInUse(), base + 1024 + 3008);
    EXPECT_EQ(qsys_memory_peakBytesInUse(), base + 200064) << "sizes rounded up to 64";
    qsys_memory_resetPeakBytesInUse();
    EXPECT_EQ(qsys_memory_peakBytesInUse(), base + 1024 + 3008);
    qsys_memory_free_internal(&a);
    qsys_memory_free_internal(&b);
}

struct Resource {
    std::vector<int>* log;
    int id;
    qsys_status answer;
};

qsys_status releaseResource(void* object)
{
    auto* r = static_cast<Resource*>(object);
    r->log->push_back(r->id);
    return r->answer;
}

// Latest first; members (objects and memory) only when the call failed,
// everything else always; a second run releases nothing twice. The first
// failing destroy replaces a success, not an earlier failure, and stops nothing.
TEST(Cleanup, ReleasesLatestFirstMembersOnlyOnFailureAndKeepsTheFirstFailure)
{
    const qsys_status first = QSYS_STATUS(0x80000A07u), later = QSYS_STATUS(0x80000A08u);
    for (qsys_status callStatus : {QSYS_OK, QSYS_E_ABORTED}) {
        const bool failing = callStatus != QSYS_OK;
        std::vector<int> log;
        Resource r[3] = {{&log, 0, later}, {&log, 1, QSYS_OK}, {&log, 4, first}};
        const int64_t blocks = qsys_memory_blocksInUse();
        void *member = nullptr, *scratch = nullptr;
        ASSERT_EQ(qsys_memory_alloc_internal(16, &member), QSYS_OK);
        ASSERT_EQ(qsys_memory_alloc_internal(16, &scratch), QSYS_OK);
        qsys_cleanupEntry entries[5] = {{0, QSYS_CLEANUP_OBJECT, &r[0], releaseResource},
                                        {1, QSYS_CLEANUP_MEMBER, &r[1], releaseResource},
                                        {2, QSYS_CLEANUP_MEMBER_MEMORY, &member, qsys_memory_free_internal},
                                        {3, QSYS_CLEANUP_MEMORY, &scratch, qsys_memory_free_internal},
                                        {4, QSYS_CLEANUP_OBJECT, &r[2], releaseResource}};
        uint32_t count = 5;
        qsys_status status = callStatus;
        for (int run = 0; run < 2; ++run)
            EXPECT_EQ(qsys_cleanupExecute_(entries, &count, &status), failing ? callStatus : first);
        EXPECT_TRUE(count == 0 && scratch == nullptr && (member == nullptr) == failing);
        EXPECT_EQ(log, failing ? std::vector<int>({4, 1, 0}) : std::vector<int>({4, 0}));
        EXPECT_EQ(qsys_memory_blocksInUse(), blocks + (failing ? 0 : 1));
        qsys_memory_free_internal(&member);
    }
}

TEST(Attention, HandlerAnswersForItsOwnThreadOnly)
{
    EXPECT_EQ(qsys_attention_check(), QSYS_OK);
    qtest::AttentionCounter counter(QSYS_E_ABORTED);
    EXPECT_EQ(qsys_attention_check(), QSYS_E_ABORTED);
    qsys_status other = QSYS_E_ABORTED;
    std::thread([&] { other = qsys_attention_check(); }).join();
    EXPECT_TRUE(other == QSYS_OK && counter.polls() == 1);
}

}  // namespace
