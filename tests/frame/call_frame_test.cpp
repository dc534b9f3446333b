// The per-call cleanup list, the optimized-path dispatch and the attention
// rule: the three protocols every entry point relies on.
#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "support/test_support.hpp"

namespace {

std::vector<std::string> releaseLog;

struct Tracked {
    std::string name;
    qsys_status destroyStatus = QSYS_OK;
};

qsys_status destroyTracked(Tracked* t)
{
    releaseLog.push_back(t->name);
    return t->destroyStatus;
}

// Failing at step `failAt` undoes the members built so far, latest first;
// locals and scratch always go.
TEST(CallFrame, ReleasesLocalsAlwaysAndMembersOnlyOnFailure)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    const std::vector<std::string> expected[] = {{"local"}, {"local"}, {"a", "local"}, {"b", "a", "local"},
                                                 {"b", "a", "local"}};
    for (int failAt = -1; failAt < 4; ++failAt) {
        releaseLog.clear();
        Tracked members[2] = {{"a"}, {"b"}}, local{"local"};
        void *scratch = nullptr, *member = nullptr;
        qsrch::CallFrame<5> frame;
        frame.release<destroyTracked>(0, &local);
        ASSERT_FALSE(frame.step(qsys_memory_alloc_internal(100, &scratch)));
        frame.releaseMemory(1, &scratch);
        for (int k = 0; k < 4; ++k) {
            const qsys_status built = k == failAt ? QSYS_E_NO_MEMORY
                                      : k == 2    ? qsys_memory_alloc_internal(100, &member)
                                                  : QSYS_OK;
            if (frame.step(built)) break;
            if (k < 2) frame.releaseOnFailure<destroyTracked>(2 + k, &members[k]);
            if (k == 2) frame.releaseMemoryOnFailure(4, &member);
        }
        EXPECT_EQ(frame.finish(), failAt < 0 ? QSYS_OK : QSYS_E_NO_MEMORY);
        EXPECT_EQ(releaseLog, expected[failAt + 1]) << "failing at " << failAt;
        EXPECT_TRUE(scratch == nullptr && (member != nullptr) == (failAt < 0)) << "failing at " << failAt;
        qsys_memory_free_internal(&member);
    }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    // A failing release turns a success into its failure, never an earlier failure.
    Tracked broken{"broken", QSYS_E_BAD_ARGUMENT};
    for (qsys_status callStatus : {QSYS_OK, QSYS_E_NO_MEMORY}) {
        qsrch::CallFrame<1> frame;
        frame.release<destroyTracked>(0, &broken);
        (void)frame.track(callStatus);
        EXPECT_EQ(frame.finish(), callStatus == QSYS_OK ? QSYS_E_BAD_ARGUMENT : callStatus);
    }
}

// Only the 0x600 family falls back; the inhibit query forbids only the named path.
TEST(Dispatch, FallsBackOnlyOnTheNoPathFamilyAndWhereInhibited)
{
    if (qtest::genericOnlyRun) GTEST_SKIP() << "this run forbids every optimized path";
    const std::pair<uint32_t, bool> answers[] = {{0x80000601u, true}, {0x8000061Fu, true}, {0x12340610u, true},
                                                 {0x80000620u, false}, {0x800005FFu, false}, {0u, false}};
    for (const auto& [answer, fallsBack] : answers) {
        int generic = 0;
        const qsys_status s = qsrch::dispatch(
            u"qsrch_test", [&] { return QSYS_STATUS(answer); }, [&] { return ++generic, QSYS_STATUS(0x12); });
        EXPECT_TRUE(generic == int(fallsBack) && s == (fallsBack ? QSYS_STATUS(0x12) : QSYS_STATUS(answer)))
            << std::hex << answer;
    }
    qtest::InhibitSwitch inhibit({u"qsrch_a"});
    int optimized = 0, generic = 0;
    for (const char16_t* name : {u"qsrch_a", u"qsrch_b"})
        (void)qsrch::dispatch(name, [&] { return ++optimized, QSYS_OK; }, [&] { return ++generic, QSYS_OK; });
    EXPECT_TRUE(optimized == 1 && generic == 1);
    EXPECT_EQ(inhibit.asked(), (std::vector<std::u16string>{u"qsrch_a", u"qsrch_b"}));
}

// Counts are signed 32-bit products: two negative extents make a positive count.
TEST(Attention, PollsAboveThirtyOnePositionsAndPassesTheAnswerOn)
{
    qtest::AttentionCounter attention(QSYS_E_ABORTED);
    EXPECT_TRUE(qsrch::pollAttention(31, 1) == QSYS_OK && attention.polls() == 0);
    EXPECT_TRUE(qsrch::pollAttention(8, 4) == QSYS_E_ABORTED && qsrch::pollAttention(-8, -4) == QSYS_E_ABORTED);
    EXPECT_TRUE(attention.polls() == 2 && qsrch::product32(0x10000, 0x10000) == 0);
    EXPECT_TRUE(qsrch::tooLargeForIntegers(257, 256) && !qsrch::tooLargeForIntegers(256, 256));
}

TEST(StatusNames, NameEveryCode)
{
#define QTEST_NAMED(code) {code, #code}
    const std::pair<qsrch_status, const char*> names[] = {
        QTEST_NAMED(QSRCH_OK), QTEST_NAMED(QSRCH_E_NO_OPTIMIZED_PATH), QTEST_NAMED(QSRCH_E_BAD_GRANULARITY),
        QTEST_NAMED(QSRCH_E_GRANULARITY_ORDER), QTEST_NAMED(QSRCH_E_BAD_ALGORITHM),
        QTEST_NAMED(QSRCH_E_BAD_ACCEPT_THRESHOLD), QTEST_NAMED(QSRCH_E_BAD_CONFUSION_THRESHOLD),
        QTEST_NAMED(QSRCH_E_ACCEPT_ABOVE_CONFUSION), QTEST_NAMED(QSRCH_E_BAD_NUM_TO_FIND),
        QTEST_NAMED(QSRCH_E_BAD_OVERLAP), QTEST_NAMED(QSRCH_E_IMAGE_UNBOUND), QTEST_NAMED(QSRCH_E_NO_CONTRAST),
        QTEST_NAMED(QSRCH_E_NOT_TRAINED), QTEST_NAMED(QSRCH_E_PATTERN_TOO_SMALL),
        QTEST_NAMED(QSRCH_E_IMAGE_TOO_SMALL), QTEST_NAMED(QSRCH_E_NONLINEAR_XFORM),
        QTEST_NAMED(QSRCH_E_BAD_CONTRAST_MIN), QTEST_NAMED(QSRCH_E_NO_GRANULARITY),
        QTEST_NAMED(QSRCH_E_CONTRAST_RANGE), QTEST_NAMED(QSRCH_E_BAD_BRIGHTNESS_MIN),
        QTEST_NAMED(QSRCH_E_BRIGHTNESS_RANGE), QTEST_NAMED(QSRCH_E_PATTERN_TOO_LARGE),
        QTEST_NAMED(QSYS_E_NO_MEMORY), QTEST_NAMED(QSYS_E_ABORTED), QTEST_NAMED(QSYS_E_BAD_ARGUMENT),
        QTEST_NAMED(QSYS_E_OUT_OF_RANGE), QTEST_NAMED(QIMG_E_BAD_DEPTH), QTEST_NAMED(QIMG_E_BAD_SIZE),
        QTEST_NAMED(QIMG_E_UNBOUND), QTEST_NAMED(QIMG_E_SIZE_MISMATCH), QTEST_NAMED(QMATH_E_SINGULAR),
        QTEST_NAMED(QMATH_E_NOT_LINEAR), QTEST_NAMED(QMATH_E_EMPTY)};
#undef QTEST_NAMED
    for (const auto& [code, name] : names) EXPECT_STREQ(qsrch_statusName(code), name);
    EXPECT_STREQ(qsrch_statusName(QSYS_STATUS(0x80000A15u)), "unknown status");
    EXPECT_EQ(qsrch_versionNumber(), static_cast<uint32_t>(QSRCH_VERSION_NUMBER));
}

}  // namespace
