// What every entry point stands on: the per-call cleanup list, optimized-path dispatch, status names and
// the typed vector families, all made by one macro (tested through the pose peak family of plain records).
#include <cstring>

#include "frame/call_frame.hpp"
#include "frame/dispatch.hpp"
#include "frame/vector_family.hpp"
#include "support/test_support.hpp"

namespace {

std::string releaseLog;
using Tracked = std::pair<std::string, qsys_status>;  // a name for the log, what destroying it returns

qsys_status destroyTracked(Tracked* t) { return releaseLog += t->first + " ", t->second; }

// Locals go at every exit, members after a failure, latest first; a failing release fails only a success.
TEST(CallFrame, ReleasesLocalsAlwaysAndMembersOnlyOnFailure)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    for (int failing : {0, 1, 2}) {  // none; a step, then finish(); a step, then the destructor
        releaseLog.clear();
        Tracked local{"local", QSYS_OK}, member{"member", QSYS_OK}, broken{"broken", QSYS_E_BAD_ARGUMENT};
        void *scratch = nullptr, *memberBlock = nullptr;
        qsys_status status = QSYS_STATUS(0x12u);
        {
            qsrch::CallFrame<5> frame;
            frame.release<destroyTracked>(0, &local), frame.release<destroyTracked>(1, &broken);
            ASSERT_FALSE(frame.step(qsys_memory_alloc_internal(100, &scratch)));
            frame.releaseMemory(2, &scratch), frame.releaseOnFailure<destroyTracked>(3, &member);
            ASSERT_FALSE(frame.step(qsys_memory_alloc_internal(100, &memberBlock)));
            frame.releaseMemoryOnFailure(4, &memberBlock);
            EXPECT_EQ(frame.step(failing ? QSYS_E_NO_MEMORY : QSYS_OK), failing != 0);
            if (failing < 2) status = frame.finish();
        }
        EXPECT_EQ(std::tuple(status, releaseLog, scratch, memberBlock == nullptr),
                  std::tuple(failing == 2 ? QSYS_STATUS(0x12u) : failing ? QSYS_E_NO_MEMORY : QSYS_E_BAD_ARGUMENT,
                             failing ? "member broken local " : "broken local ", nullptr, failing != 0));
        qsys_memory_free_internal(&memberBlock);
    }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// Only the 0x600 family falls back; the inhibit query forbids only the named path.
TEST(Dispatch, FallsBackOnlyOnTheNoPathFamilyAndWhereInhibited)
{
    if (qtest::genericOnlyRun) GTEST_SKIP() << "this run forbids every optimized path";
    for (const auto& [answer, fallsBack] : {std::pair{0x80000601u, true}, {0x8000061Fu, true}, {0x12340610u, true},
                                            {0x80000620u, false}, {0x800005FFu, false}, {0u, false}})
        EXPECT_EQ(qsrch::dispatch(u"qsrch_test", [&] { return QSYS_STATUS(answer); }, [] { return QSYS_STATUS(0x12); }),
                  fallsBack ? QSYS_STATUS(0x12) : QSYS_STATUS(answer)) << std::hex << answer;
    qtest::InhibitSwitch inhibit({u"qsrch_a"});
    std::string ran;
    for (const char16_t* name : {u"qsrch_a", u"qsrch_b"})
        (void)qsrch::dispatch(name, [&] { return ran += "opt ", QSYS_OK; }, [&] { return ran += "gen ", QSYS_OK; });
    EXPECT_TRUE(ran == "gen opt " && (inhibit.asked() == std::vector<std::u16string>{u"qsrch_a", u"qsrch_b"})) << ran;
}

TEST(StatusNames, NameEveryCode)
{
#define N(code) {code, #code}
    const std::pair<qsrch_status, const char*> names[] = {
        N(QSRCH_OK), N(QSRCH_E_NO_OPTIMIZED_PATH), N(QSRCH_E_BAD_GRANULARITY), N(QSRCH_E_GRANULARITY_ORDER),
        N(QSRCH_E_BAD_ALGORITHM), N(QSRCH_E_BAD_ACCEPT_THRESHOLD), N(QSRCH_E_BAD_CONFUSION_THRESHOLD),
        N(QSRCH_E_ACCEPT_ABOVE_CONFUSION), N(QSRCH_E_BAD_NUM_TO_FIND), N(QSRCH_E_BAD_OVERLAP), N(QSRCH_E_IMAGE_UNBOUND),
        N(QSRCH_E_NO_CONTRAST), N(QSRCH_E_NOT_TRAINED), N(QSRCH_E_PATTERN_TOO_SMALL), N(QSRCH_E_IMAGE_TOO_SMALL),
        N(QSRCH_E_NONLINEAR_XFORM), N(QSRCH_E_BAD_CONTRAST_MIN), N(QSRCH_E_NO_GRANULARITY), N(QSRCH_E_CONTRAST_RANGE),
        N(QSRCH_E_BAD_BRIGHTNESS_MIN), N(QSRCH_E_BRIGHTNESS_RANGE), N(QSRCH_E_PATTERN_TOO_LARGE), N(QSYS_E_NO_MEMORY),
        N(QSYS_E_ABORTED), N(QSYS_E_BAD_ARGUMENT), N(QSYS_E_OUT_OF_RANGE), N(QIMG_E_BAD_DEPTH), N(QIMG_E_BAD_SIZE),
        N(QIMG_E_UNBOUND), N(QIMG_E_SIZE_MISMATCH), N(QMATH_E_SINGULAR), N(QMATH_E_NOT_LINEAR), N(QMATH_E_EMPTY)};
#undef N
    for (const auto& [code, name] : names) EXPECT_STREQ(qsrch_statusName(code), name);
    EXPECT_STREQ(qsrch_statusName(QSYS_STATUS(0x80000A15u)), "unknown status");
    EXPECT_EQ(qsrch_versionNumber(), static_cast<uint32_t>(QSRCH_VERSION_NUMBER));
}

#define PP(operation) qstd_vector_qsrch_detectedPosePeak_##operation

bool sameBytes(const qstd_vector_qsrch_detectedPosePeak* v, const std::vector<qsrch_detectedPosePeak>& want)
{
    return v->size == want.size() && std::memcmp(v->begin, want.data(), want.size() * sizeof(want[0])) == 0;
}

// Copies are bytewise, padding included; new replaces a held vector, newClone from NULL deletes.
TEST(PosePeakVector, CopiesAreBytewiseAndNewCloneDeleteOwnTheirRecords)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    std::vector<qsrch_detectedPosePeak> peaks(3);
    std::mt19937 rng(7);
    for (size_t k = 0; k < sizeof(qsrch_detectedPosePeak) * 3; ++k)
        reinterpret_cast<uint8_t*>(peaks.data())[k] = uint8_t(rng());
    std::vector<qsrch_detectedPosePeak> twice = peaks;
    twice.insert(twice.end(), peaks.begin(), peaks.end());
    qstd_vector_qsrch_detectedPosePeak source, *vp = nullptr;
    ASSERT_EQ(PP(constructFromBlock)(&source, peaks.data(), 3), QSRCH_OK);
    ASSERT_TRUE(PP(new)(&vp) == QSRCH_OK && PP(insert)(vp, 0, peaks.data(), 3) == QSRCH_OK && PP(new)(&vp) == QSRCH_OK);
    ASSERT_TRUE(vp != nullptr && vp->size == 0u && qsys_memory_blocksInUse() == blocks + 2);
    ASSERT_TRUE(PP(newClone)(&vp, &source) == QSRCH_OK && PP(newClone)(&vp, vp) == QSRCH_OK &&  // onto itself
                PP(append)(vp, vp) == QSRCH_OK);
    EXPECT_TRUE(source.vtable == nullptr && sameBytes(&source, peaks) && sameBytes(vp, twice));
    EXPECT_TRUE(PP(newClone)(&vp, nullptr) == QSRCH_OK && vp == nullptr && PP(delete)(&vp) == QSRCH_OK);
    qtest::expectAllocationFailuresClean([&]() -> qsys_status {  // a failing newClone holds nothing
        const qsys_status s = PP(newClone)(&vp, &source);
        EXPECT_TRUE(s != QSRCH_OK ? vp == nullptr : sameBytes(vp, peaks));
        return s != QSRCH_OK ? s : PP(delete)(&vp);
    });
    EXPECT_TRUE(PP(destruct)(&source) == QSRCH_OK && qsys_memory_blocksInUse() == blocks);
}

}  // namespace
