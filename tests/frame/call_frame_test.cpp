// The per-call cleanup list, the optimized-path dispatch and the attention
// rule: the three protocols every entry point relies on.
#include <string>
#include <vector>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "support/test_support.hpp"

namespace {

std::vector<std::string>* releaseLog = nullptr;

struct Tracked {
    std::string name;
    qsys_status destroyStatus = QSYS_OK;
};

qsys_status destroyTracked(Tracked* t)
{
    releaseLog->push_back(t->name);
    return t->destroyStatus;
}

// A constructor that builds three members and fails at `failAt` (or not).
qsys_status buildThree(Tracked (&members)[3], int failAt, Tracked* local)
{
    qsrch::CallFrame<4> frame;
    frame.release<destroyTracked>(0, local);
    for (int k = 0; k < 3; ++k) {
        if (frame.step(k == failAt ? QSYS_E_NO_MEMORY : QSYS_OK)) return frame.finish();
        frame.releaseOnFailure<destroyTracked>(1 + k, &members[k]);
    }
    return frame.finish();
}

class CallFrameTest : public ::testing::Test {
protected:
    void SetUp() override { releaseLog = &log; }
    void TearDown() override { releaseLog = nullptr; }
    std::vector<std::string> log;
};

TEST_F(CallFrameTest, SuccessKeepsMembersAndReleasesLocals)
{
    Tracked members[3] = {{"a"}, {"b"}, {"c"}};
    Tracked local{"local"};
    EXPECT_EQ(buildThree(members, -1, &local), QSYS_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"local"}));
}

TEST_F(CallFrameTest, FailureHalfWayUndoesBuiltMembersLatestFirst)
{
    Tracked members[3] = {{"a"}, {"b"}, {"c"}};
    Tracked local{"local"};
    EXPECT_EQ(buildThree(members, 2, &local), QSYS_E_NO_MEMORY);
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "local"}));
}

TEST_F(CallFrameTest, ReturnsTheStatusReadAfterCleanup)
{
    // A failing release turns a success into that failure; it does not
    // replace an earlier failure.
    Tracked broken{"broken", QSYS_E_BAD_ARGUMENT};
    {
        qsrch::CallFrame<1> frame;
        frame.release<destroyTracked>(0, &broken);
        EXPECT_EQ(frame.finish(), QSYS_E_BAD_ARGUMENT);
    }
    {
        qsrch::CallFrame<1> frame;
        frame.release<destroyTracked>(0, &broken);
        frame.step(QSYS_E_NO_MEMORY);
        EXPECT_EQ(frame.finish(), QSYS_E_NO_MEMORY);
    }
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(CallFrameTest, MemoryBlocksAreFreedAtEveryExit)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    for (qsys_status outcome : {QSYS_OK, QSYS_E_ABORTED}) {
        qsrch::CallFrame<2> frame;
        void* scratch = nullptr;
        void* member = nullptr;
        ASSERT_FALSE(frame.step(qsys_memory_alloc_internal(100, &scratch)));
        frame.releaseMemory(0, &scratch);
        ASSERT_FALSE(frame.step(qsys_memory_alloc_internal(100, &member)));
        frame.releaseMemoryOnFailure(1, &member);
        frame.step(outcome);
        EXPECT_EQ(frame.finish(), outcome);
        EXPECT_EQ(scratch, nullptr);
        EXPECT_EQ(member == nullptr, outcome != QSYS_OK);
        qsys_memory_free_internal(&member);
    }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// ---- Dispatch ----------------------------------------------------------------

struct DispatchCase {
    uint32_t optimizedStatus;
    bool genericRuns;
};

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, FallsBackOnlyOnTheNoPathFamily)
{
    const DispatchCase c = GetParam();
    int generic = 0;
    qsys_status s = qsrch::dispatch(
        u"qsrch_test", [&] { return QSYS_STATUS(c.optimizedStatus); },
        [&] {
            ++generic;
            return QSYS_STATUS(0x12);
        });
    EXPECT_EQ(generic, c.genericRuns ? 1 : 0);
    EXPECT_EQ(s, c.genericRuns ? QSYS_STATUS(0x12) : QSYS_STATUS(c.optimizedStatus));
}

INSTANTIATE_TEST_SUITE_P(Codes, DispatchTest,
                         ::testing::Values(DispatchCase{0x80000601u, true}, DispatchCase{0x80000600u, true},
                                           DispatchCase{0x8000061Fu, true}, DispatchCase{0x00000605u, true},
                                           DispatchCase{0x12340610u, true}, DispatchCase{0x80000620u, false},
                                           DispatchCase{0x800005FFu, false}, DispatchCase{0x80000A14u, false},
                                           DispatchCase{0u, false}));

TEST(Dispatch, InhibitQueryForbidsOnlyTheNamedPath)
{
    qtest::InhibitSwitch inhibit({u"qsrch_a"});
    int optimized = 0, generic = 0;
    auto run = [&](const char16_t* name) {
        return qsrch::dispatch(
            name, [&] { return ++optimized, QSYS_OK; }, [&] { return ++generic, QSYS_OK; });
    };
    run(u"qsrch_a");
    run(u"qsrch_b");
    EXPECT_EQ(optimized, 1);
    EXPECT_EQ(generic, 1);
    EXPECT_EQ(inhibit.asked(), (std::vector<std::u16string>{u"qsrch_a", u"qsrch_b"}));
}

// ---- Attention ---------------------------------------------------------------

TEST(Attention, PollsAboveThirtyOnePositionsAndPassesTheAnswerOn)
{
    qtest::AttentionCounter attention(QSYS_E_ABORTED);
    EXPECT_EQ(qsrch::pollAttention(31, 1), QSYS_OK);
    EXPECT_EQ(attention.polls(), 0);
    EXPECT_EQ(qsrch::pollAttention(8, 4), QSYS_E_ABORTED);
    EXPECT_EQ(attention.polls(), 1);
    // Counts are 32-bit signed products: two negative extents make a
    // positive count and poll; a wrapping product is taken as it wraps.
    EXPECT_EQ(qsrch::pollAttention(-8, -4), QSYS_E_ABORTED);
    EXPECT_EQ(qsrch::product32(0x10000, 0x10000), 0);
    EXPECT_TRUE(qsrch::tooLargeForIntegers(257, 256));
    EXPECT_FALSE(qsrch::tooLargeForIntegers(256, 256));
}

TEST(StatusNames, NameEveryCodeOnce)
{
    EXPECT_STREQ(qsrch_statusName(QSRCH_OK), "QSRCH_OK");
    EXPECT_STREQ(qsrch_statusName(QSRCH_E_PATTERN_TOO_LARGE), "QSRCH_E_PATTERN_TOO_LARGE");
    EXPECT_STREQ(qsrch_statusName(QSYS_E_NO_MEMORY), "QSYS_E_NO_MEMORY");
    EXPECT_STREQ(qsrch_statusName(QSYS_STATUS(0x80000A15u)), "unknown status");
    for (uint32_t code = 0x80000A01u; code <= 0x80000A14u; ++code)
        EXPECT_STRNE(qsrch_statusName(QSYS_STATUS(code)), "unknown status") << std::hex << code;
    EXPECT_EQ(qsrch_versionNumber(), static_cast<uint32_t>(QSRCH_VERSION_NUMBER));
}

}  // namespace
