// Typed vector families, all made by one macro, through the pose peak family of plain records.
#include <cstring>

#include "frame/vector_family.hpp"
#include "support/test_support.hpp"

namespace {

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
