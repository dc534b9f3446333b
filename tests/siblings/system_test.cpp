// The q* heap, cleanup lists and the attention poll.
#include <cstring>
#include <thread>

#include "support/test_support.hpp"

namespace {

// Blocks are 64-byte aligned, cleared, counted and unique even when empty;
// reallocation keeps the content, also when it fails. failAfter(n) fails
// the nth allocation of its own thread, once; -1 ends it.
TEST(Memory, BlocksAreAlignedClearedCountedAndFailOnTheirOwnThread)
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
    EXPECT_TRUE(qsys_memory_realloc_internal(500, &block, 10) == QSYS_E_NO_MEMORY && block == before);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(static_cast<uint8_t*>(block)[k], uint8_t(k * 7));
    for (void** b : {&empty, &block, &block})  // freeing NULL succeeds
        ASSERT_TRUE(qsys_memory_free_internal(b) == QSYS_OK && *b == nullptr);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    for (int64_t n = -1; n < 4; ++n) {
        qsys_memory_failAfter(5), qsys_memory_failAfter(n);
        for (int k = 0; k < 6; ++k, qsys_memory_free_internal(&block))
            EXPECT_EQ(qsys_memory_alloc_internal(8, &block), k == n ? QSYS_E_NO_MEMORY : QSYS_OK) << n << " " << k;
    }
    qsys_memory_failAfter(0);
    qsys_status other = QSYS_E_NO_MEMORY;
    std::thread([&] { other = qsys_memory_alloc_internal(8, &block); }).join();
    qsys_memory_free_internal(&block);
    EXPECT_TRUE(other == QSYS_OK && qsys_memory_alloc_internal(8, &block) == QSYS_E_NO_MEMORY);
}

// A freed large block serves its own thread's next allocation that it
// exceeds by at most an eighth, cleared when asked, and counts as freed
// meanwhile; another thread's request does not get it; the Nth allocation
// still fails when the cache could serve it. Peak bytes count since the last reset.
TEST(Memory, FreedLargeBlocksServeTheirOwnThreadAgain)
{
    const int64_t blocks = qsys_memory_blocksInUse(), bytes = qsys_memory_bytesInUse();
    void *block = nullptr, *other = nullptr;
    qsys_memory_resetPeakBytesInUse();
    ASSERT_EQ(qsys_memory_alloc_internal(100000, &block), QSYS_OK);
    void* const first = block;
    std::memset(block, 0xEE, 100000);
    qsys_memory_free_internal(&block);
    EXPECT_TRUE(qsys_memory_blocksInUse() == blocks && qsys_memory_bytesInUse() == bytes);
    EXPECT_EQ(qsys_memory_peakBytesInUse(), bytes + 100032) << "sizes rounded up to 64";
    for (const auto& [size, fromCache] : {std::pair{100100, false}, {88000, false}, {90000, true}}) {
        ASSERT_EQ(qsys_memory_allocClear64_internal(size, &block), QSYS_OK);
        EXPECT_EQ(block == first, fromCache) << size;
        EXPECT_EQ(std::count(static_cast<uint8_t*>(block), static_cast<uint8_t*>(block) + size, 0), size) << size;
        std::thread([&] { qsys_memory_alloc_internal(size, &other), qsys_memory_free_internal(&other); }).join();
        EXPECT_NE(other, first) << "another thread's request";
        qsys_memory_free_internal(&block);
    }
    qsys_memory_failAfter(0);
    EXPECT_EQ(qsys_memory_alloc_internal(90000, &block), QSYS_E_NO_MEMORY);
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
        qsys_memory_free_internal(&member);
    }
}

TEST(Attention, HandlerAnswersForItsOwnThreadOnly)
{
    EXPECT_EQ(qsys_attention_check(), QSYS_OK);
    qtest::AttentionCounter counter(QSYS_E_ABORTED);
    qsys_status other = QSYS_E_ABORTED;
    std::thread([&] { other = qsys_attention_check(); }).join();
    EXPECT_TRUE(qsys_attention_check() == QSYS_E_ABORTED && other == QSYS_OK && counter.polls() == 1);
}

}  // namespace
