// The q* heap, cleanup lists, the attention poll and plain vectors.
#include "support/test_support.hpp"

#include <cstring>
#include <thread>

namespace {

TEST(Memory, BlocksAreAlignedCountedAndCleared)
{
    int64_t blocks = qsys_memory_blocksInUse();
    void* held[5] = {};
    const size_t sizes[5] = {0, 1, 63, 64, 1000};
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(qsys_memory_allocClear64_internal(sizes[k], &held[k]), QSYS_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(held[k]) % 64, 0u);
        for (size_t b = 0; b < sizes[k]; ++b) ASSERT_EQ(static_cast<uint8_t*>(held[k])[b], 0);
    }
    EXPECT_NE(held[0], held[1]);  // even a zero-sized block is unique
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 5);
    for (void*& block : held) {
        ASSERT_EQ(qsys_memory_free_internal(&block), QSYS_OK);
        EXPECT_EQ(block, nullptr);
    }
    EXPECT_EQ(qsys_memory_free_internal(&held[0]), QSYS_OK);  // freeing NULL succeeds
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(Memory, ReallocKeepsContentAndKeepsOldBlockOnFailure)
{
    void* block = nullptr;
    ASSERT_EQ(qsys_memory_alloc_internal(100, &block), QSYS_OK);
    for (int k = 0; k < 100; ++k) static_cast<uint8_t*>(block)[k] = static_cast<uint8_t>(k * 7);
    ASSERT_EQ(qsys_memory_realloc_internal(300, &block, 100), QSYS_OK);
    for (int k = 0; k < 100; ++k) ASSERT_EQ(static_cast<uint8_t*>(block)[k], static_cast<uint8_t>(k * 7));
    ASSERT_EQ(qsys_memory_realloc_internal(10, &block, 300), QSYS_OK);
    for (int k = 0; k < 10; ++k) ASSERT_EQ(static_cast<uint8_t*>(block)[k], static_cast<uint8_t>(k * 7));

    void* before = block;
    qsys_memory_failAfter(0);
    EXPECT_EQ(qsys_memory_realloc_internal(500, &block, 10), QSYS_E_NO_MEMORY);
    EXPECT_EQ(block, before);
    EXPECT_EQ(static_cast<uint8_t*>(block)[9], static_cast<uint8_t>(63));
    qsys_memory_free_internal(&block);
}

TEST(Memory, FailAfterFailsExactlyTheNthAllocationOnce)
{
    for (int64_t n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        qsys_memory_failAfter(n);
        void* blocks[6] = {};
        qsys_status results[6];
        for (int k = 0; k < 6; ++k) results[k] = qsys_memory_alloc_internal(8, &blocks[k]);
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(results[k], k == n ? QSYS_E_NO_MEMORY : QSYS_OK) << k;
            qsys_memory_free_internal(&blocks[k]);
        }
    }
    qsys_memory_failAfter(5);
    qsys_memory_failAfter(-1);  // switched off again
    void* block = nullptr;
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(qsys_memory_alloc_internal(8, &block), QSYS_OK);
        qsys_memory_free_internal(&block);
    }
}

TEST(Memory, FailureSettingBelongsToItsThread)
{
    qsys_memory_failAfter(0);
    qsys_status other = QSYS_E_NO_MEMORY;
    std::thread([&] {
        void* block = nullptr;
        other = qsys_memory_alloc_internal(8, &block);
        qsys_memory_free_internal(&block);
    }).join();
    EXPECT_EQ(other, QSYS_OK);
    void* block = nullptr;
    EXPECT_EQ(qsys_memory_alloc_internal(8, &block), QSYS_E_NO_MEMORY);
}

// ---- Cleanup lists ------------------------------------------------------------

struct Released {
    std::vector<int> order;
};

struct Resource {
    Released* log;
    int id;
    qsys_status answer;
};

qsys_status releaseResource(void* object)
{
    auto* r = static_cast<Resource*>(object);
    r->log->order.push_back(r->id);
    return r->answer;
}

TEST(Cleanup, ReleasesLatestFirstAndMembersOnlyOnFailure)
{
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing);
        Released log;
        Resource r[3] = {{&log, 0, QSYS_OK}, {&log, 1, QSYS_OK}, {&log, 4, QSYS_OK}};
        // A member block (freed only on failure) and a scratch block (always).
        int64_t blocks = qsys_memory_blocksInUse();
        void *member = nullptr, *scratch = nullptr;
        ASSERT_EQ(qsys_memory_alloc_internal(16, &member), QSYS_OK);
        ASSERT_EQ(qsys_memory_alloc_internal(16, &scratch), QSYS_OK);
        qsys_cleanupEntry entries[5] = {{0, QSYS_CLEANUP_OBJECT, &r[0], releaseResource},
                                        {1, QSYS_CLEANUP_MEMBER, &r[1], releaseResource},
                                        {2, QSYS_CLEANUP_MEMBER_MEMORY, &member, qsys_memory_free_internal},
                                        {3, QSYS_CLEANUP_MEMORY, &scratch, qsys_memory_free_internal},
                                        {4, QSYS_CLEANUP_OBJECT, &r[2], releaseResource}};
        uint32_t count = 5;
        const qsys_status callStatus = failing ? QSYS_E_ABORTED : QSYS_OK;
        qsys_status status = callStatus;
        EXPECT_EQ(qsys_cleanupExecute_(entries, &count, &status), callStatus);
        EXPECT_EQ(status, callStatus);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(scratch, nullptr);
        EXPECT_EQ(log.order, failing ? std::vector<int>({4, 1, 0}) : std::vector<int>({4, 0}));
        EXPECT_EQ(member == nullptr, failing);
        EXPECT_EQ(qsys_memory_blocksInUse(), blocks + (failing ? 0 : 1));
        // Running the list again releases nothing twice.
        EXPECT_EQ(qsys_cleanupExecute_(entries, &count, &status), callStatus);
        EXPECT_EQ(log.order.size(), failing ? 3u : 2u);
        qsys_memory_free_internal(&member);
    }
}

TEST(Cleanup, FirstFailingDestroyReplacesSuccessOnly)
{
    Released log;
    const qsys_status firstFailure = QSYS_STATUS(0x80000A07u), laterFailure = QSYS_STATUS(0x80000A08u);
    Resource r[3] = {{&log, 0, laterFailure}, {&log, 1, firstFailure}, {&log, 2, QSYS_OK}};
    qsys_cleanupEntry entries[3];
    for (uint32_t k = 0; k < 3; ++k) entries[k] = {k, QSYS_CLEANUP_OBJECT, &r[k], releaseResource};

    uint32_t count = 3;
    qsys_status status = QSYS_OK;
    EXPECT_EQ(qsys_cleanupExecute_(entries, &count, &status), firstFailure);
    EXPECT_EQ(status, firstFailure);
    EXPECT_EQ(log.order, std::vector<int>({2, 1, 0}));  // a failing destroy stops nothing

    count = 3;
    status = QSYS_E_ABORTED;
    EXPECT_EQ(qsys_cleanupExecute_(entries, &count, &status), QSYS_E_ABORTED);
}

// ---- Attention ---------------------------------------------------------------

TEST(Attention, HandlerAnswersForItsOwnThreadOnly)
{
    EXPECT_EQ(qsys_attention_check(), QSYS_OK);
    qtest::AttentionCounter counter(QSYS_E_ABORTED);
    EXPECT_EQ(qsys_attention_check(), QSYS_E_ABORTED);
    qsys_status other = QSYS_E_ABORTED;
    std::thread([&] { other = qsys_attention_check(); }).join();
    EXPECT_EQ(other, QSYS_OK);
    EXPECT_EQ(counter.polls(), 1);
    counter.answer(QSYS_OK);
    EXPECT_EQ(qsys_attention_check(), QSYS_OK);
}

// ---- Plain vectors -------------------------------------------------------------

TEST(PlainVector, ResizeKeepsContentAndZeroFillsGrowth)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qstd_vector32 v;
    ASSERT_EQ(qstd_vector32_construct(&v, 3), QSYS_OK);
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(v.begin[k], 0u);
    std::vector<uint32_t> model = {100, 101, 102};
    for (uint32_t k = 0; k < 3; ++k) v.begin[k] = model[k];
    for (size_t size : {size_t{40}, size_t{2}, size_t{1000}, size_t{0}, size_t{5}}) {
        SCOPED_TRACE(size);
        ASSERT_EQ(qstd_vector32_resize(&v, size), QSYS_OK);
        model.resize(size, 0);  // what was cut off comes back as 0
        ASSERT_EQ(v.size, size);
        for (size_t k = 0; k < size; ++k) ASSERT_EQ(v.begin[k], model[k]) << k;
        if (size > 1) v.begin[1] = model[1] = 7 + static_cast<uint32_t>(size);
    }
    qstd_vector32_destruct(&v);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(PlainVector, PushBackOfItsOwnElementSurvivesGrowth)
{
    qstd_vector_qstd_pair32 v;
    qstd_pair32 seed{7, -7};
    ASSERT_EQ(qstd_vector_qstd_pair32_constructFill(&v, 1, &seed), QSYS_OK);
    for (int k = 0; k < 100; ++k)
        ASSERT_EQ(qstd_vector_qstd_pair32_pushBack(&v, &v.begin[v.size - 1]), QSYS_OK);
    const qstd_pair32 *first, *end;
    qstd_vector_qstd_pair32_getBeginEndConst(&v, &first, &end);
    ASSERT_EQ(end - first, 101);
    for (const qstd_pair32* p = first; p != end; ++p) ASSERT_TRUE(p->first == 7 && p->second == -7);
    qstd_vector_qstd_pair32_destruct(&v);
}

TEST(PlainVector, FailedGrowthKeepsTheVector)
{
    qstd_vectord v;
    double fill = 2.5;
    ASSERT_EQ(qstd_vectord_constructFill(&v, 4, &fill), QSYS_OK);
    qsys_memory_failAfter(0);
    EXPECT_EQ(qstd_vectord_resize(&v, 4000), QSYS_E_NO_MEMORY);
    ASSERT_EQ(v.size, 4u);
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(v.begin[k], 2.5);
    qstd_vectord_destruct(&v);
    EXPECT_EQ(v.begin, nullptr);
}

}  // namespace
