// Typed vector families: the pose peak family (plain records, copied as
// bytes) and a family whose element table is made from typed operations.
#include "support/test_support.hpp"

#include <cstring>
#include <random>

#include "frame/vector_family.hpp"

typedef struct vectorProbe {
    int32_t value;
    int32_t copies;  // constructCopy generations behind this element
} vectorProbe;

extern "C" {
QSRCH_DECLARE_VECTOR_FAMILY(vectorProbe)
}

namespace {

struct ProbeCalls {
    int construct = 0, copy = 0, assign = 0, destruct = 0;
    int failCopyIn = -1;  // this many copies succeed, then one fails
} probe;

constexpr qsrch_status kCopyFailure = QSYS_STATUS(0x8000BEEFu);

qsrch_status probeConstruct(vectorProbe* p) { return ++probe.construct, *p = vectorProbe{-1, 0}, QSRCH_OK; }
qsrch_status probeCopy(vectorProbe* p, const vectorProbe* source)
{
    ++probe.copy;
    if (probe.failCopyIn == 0) return kCopyFailure;
    if (probe.failCopyIn > 0) --probe.failCopyIn;
    *p = vectorProbe{source->value, source->copies + 1};
    return QSRCH_OK;
}
qsrch_status probeAssign(vectorProbe* p, const vectorProbe* source)
{
    return ++probe.assign, p->value = source->value, QSRCH_OK;
}
qsrch_status probeDestruct(vectorProbe*) { return ++probe.destruct, QSRCH_OK; }

constexpr const qstd_vector_vtable* kProbeTable =
    &qsrch::elementTable<vectorProbe, &probeConstruct, &probeCopy, &probeAssign, &probeDestruct>;

// A nullptr operation stays a NULL entry, so the vector treats it as bytes.
constexpr qstd_vector_vtable kConstructOnly =
    qsrch::elementTable<vectorProbe, &probeConstruct, nullptr, nullptr, nullptr>;
static_assert(kConstructOnly.constructCopy == nullptr && kConstructOnly.assign == nullptr &&
              kConstructOnly.destruct == nullptr && kConstructOnly.marker == QSTD_VECTOR_VTABLE_MARKER);

}  // namespace

QSRCH_DEFINE_VECTOR_FAMILY(vectorProbe, kProbeTable)

namespace {

using Peaks = std::vector<qsrch_detectedPosePeak>;

bool sameBytes(const qstd_vector_qsrch_detectedPosePeak* v, const Peaks& expected)
{
    const qsrch_detectedPosePeak* first = nullptr;
    size_t size = 0;
    qstd_vector_qsrch_detectedPosePeak_getBeginSizeIntPtrConst(v, &first, &size);
    return size == expected.size() &&
           (size == 0 || std::memcmp(first, expected.data(), size * sizeof(*first)) == 0);
}

// Peaks of random bytes, padding included: every copy is bytewise. new on a
// held vector holds a fresh empty one, newClone onto itself changes nothing,
// newClone from NULL deletes.
TEST(PosePeakVector, CopiesAreBytewiseAndNewCloneDeleteOwnTheirRecords)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    Peaks peaks(3);
    std::mt19937 rng(7);
    for (size_t k = 0; k < sizeof(qsrch_detectedPosePeak) * 3; ++k)
        reinterpret_cast<uint8_t*>(peaks.data())[k] = uint8_t(rng());
    qstd_vector_qsrch_detectedPosePeak source, copy, *vp = nullptr;
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_constructFromBlock(&source, peaks.data(), 3), QSRCH_OK);
    EXPECT_TRUE(source.vtable == nullptr && sameBytes(&source, peaks));
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_constructCopy(&copy, &source), QSRCH_OK);
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_append(&copy, &copy), QSRCH_OK);
    Peaks twice = peaks;
    twice.insert(twice.end(), peaks.begin(), peaks.end());
    EXPECT_TRUE(sameBytes(&copy, twice));
    EXPECT_EQ(qstd_vector_qsrch_detectedPosePeak_destruct(&copy), QSRCH_OK);

    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_new(&vp), QSRCH_OK);
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_insert(vp, 0, peaks.data(), 3), QSRCH_OK);
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_new(&vp), QSRCH_OK);
    ASSERT_TRUE(vp != nullptr && vp->size == 0u);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 2);
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_newClone(&vp, &source), QSRCH_OK);
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_newClone(&vp, vp), QSRCH_OK);
    EXPECT_TRUE(sameBytes(vp, peaks));
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_newClone(&vp, nullptr), QSRCH_OK);
    EXPECT_EQ(vp, nullptr);
    EXPECT_EQ(qstd_vector_qsrch_detectedPosePeak_delete(&vp), QSRCH_OK);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 1);  // only the source

    qtest::expectAllocationFailuresClean([&]() -> qsys_status {
        const qsys_status s = qstd_vector_qsrch_detectedPosePeak_newClone(&vp, &source);
        EXPECT_TRUE(s != QSRCH_OK ? vp == nullptr : sameBytes(vp, peaks));
        if (s != QSRCH_OK) return s;
        return qstd_vector_qsrch_detectedPosePeak_delete(&vp);
    });
    EXPECT_EQ(qstd_vector_qsrch_detectedPosePeak_destruct(&source), QSRCH_OK);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(TypedElementTable, FamilyCallsTheRecordsOwnOperations)
{
    probe = {};
    qstd_vector_vectorProbe v;
    ASSERT_EQ(qstd_vector_vectorProbe_construct(&v, 3), QSRCH_OK);
    vectorProbe* first = nullptr;
    ASSERT_EQ(qstd_vector_vectorProbe_getBegin(&v, &first), QSRCH_OK);
    for (int k = 0; k < 3; ++k) first[k].value = 10 + k;
    qstd_vector_vectorProbe* clone = nullptr;
    ASSERT_EQ(qstd_vector_vectorProbe_newClone(&clone, &v), QSRCH_OK);
    const vectorProbe* copied = nullptr;
    ASSERT_EQ(qstd_vector_vectorProbe_getElementConst(clone, 2, &copied), QSRCH_OK);
    EXPECT_TRUE(copied->value == 12 && copied->copies == 1);
    ASSERT_EQ(qstd_vector_vectorProbe_assign(clone, &v), QSRCH_OK);
    EXPECT_TRUE(probe.construct == 3 && probe.copy == 3 && probe.assign == 3);

    // A failing copy inside newClone: the failure comes back, nothing is held.
    const int64_t blocks = qsys_memory_blocksInUse();
    probe.failCopyIn = 1;
    qstd_vector_vectorProbe* failed = nullptr;
    EXPECT_EQ(qstd_vector_vectorProbe_newClone(&failed, &v), kCopyFailure);
    EXPECT_TRUE(failed == nullptr && qsys_memory_blocksInUse() == blocks);
    probe.failCopyIn = -1;
    ASSERT_EQ(qstd_vector_vectorProbe_delete(&clone), QSRCH_OK);
    ASSERT_EQ(qstd_vector_vectorProbe_destruct(&v), QSRCH_OK);
    EXPECT_EQ(probe.destruct, probe.construct + probe.copy - 1);  // the failed copy built nothing
}

}  // namespace
