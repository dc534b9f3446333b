// The q* heap and the attention poll; cleanup lists are checked through the call frame.
#include <cstring>
#include <thread>

#include "support/test_support.hpp"

namespace {

// failAfter(n) fails the nth allocation of its own thread, once; -1 ends it.
TEST(Qsys, BlocksAreAlignedClearedCountedReusedAndFailLikeAttentionOnTheirOwnThread)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    void *empty = nullptr, *block = nullptr, *again = nullptr;
    ASSERT_TRUE(qsys_memory_allocClear64_internal(0, &empty) == QSYS_OK &&
                qsys_memory_allocClear64_internal(1000, &block) == QSYS_OK);
    auto* bytes = static_cast<uint8_t*>(block);
    EXPECT_TRUE(reinterpret_cast<uintptr_t>(bytes) % 64 == 0 && std::count(bytes, bytes + 1000, 0) == 1000);
    EXPECT_TRUE(empty != block && empty != nullptr && qsys_memory_blocksInUse() == blocks + 2);
    for (int k = 0; k < 1000; ++k) bytes[k] = uint8_t(k * 7);
    ASSERT_TRUE(qsys_memory_realloc_internal(3000, &block, 1000) == QSYS_OK &&
                qsys_memory_realloc_internal(10, &block, 3000) == QSYS_OK);
    void* before = block;
    EXPECT_TRUE((qsys_memory_failAfter(0), qsys_memory_realloc_internal(500, &block, 10)) == QSYS_E_NO_MEMORY &&
                block == before);
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
    // A freed large block serves a request up to an eighth smaller.
    qsys_memory_releaseCache();
    const int64_t inUse = qsys_memory_bytesInUse();
    ASSERT_EQ(qsys_memory_alloc_internal(100001, &block), QSYS_OK);
    std::memset(block, 7, 100000);
    const void* first = block;
    qsys_memory_free_internal(&block);
    EXPECT_EQ(qsys_memory_bytesInUse(), inUse);
    ASSERT_EQ(qsys_memory_allocClear64_internal(100000 - 63, &again), QSYS_OK);
    const auto* cleared = static_cast<const uint8_t*>(again);
    EXPECT_TRUE(again == first && std::count(cleared, cleared + 100000 - 63, 0) == 100000 - 63);
    qsys_memory_free_internal(&again);
    EXPECT_TRUE(qsys_memory_alloc_internal(85000, &block) == QSYS_OK && block != first);
    qsys_memory_free_internal(&block);
    std::vector<void*> many(QSYS_MEMORY_CACHE_MAX_BLOCKS + 4);
    for (void*& b : many) ASSERT_EQ(qsys_memory_alloc_internal(1000000, &b), QSYS_OK);
    for (void*& b : many) qsys_memory_free_internal(&b);
    EXPECT_TRUE(qsys_memory_cachedBytes() > 0 && qsys_memory_cachedBytes() <= QSYS_MEMORY_CACHE_MAX_BYTES);
    EXPECT_EQ((qsys_memory_releaseCache(), qsys_memory_cachedBytes()), 0u);
    EXPECT_EQ(qsys_attention_check(), QSYS_OK);
    qtest::AttentionCounter counter(QSYS_E_ABORTED);
    other = QSYS_E_ABORTED;
    std::thread([&] { other = qsys_attention_check(); }).join();
    EXPECT_TRUE(qsys_attention_check() == QSYS_E_ABORTED && other == QSYS_OK && counter.polls() == 1);
}

}  // namespace
