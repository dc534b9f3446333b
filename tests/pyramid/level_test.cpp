// The level record and the vectors that hold levels: construction, and
// copies that share pixels rather than copying them.
#include "pyramid_support.hpp"

#include <cstring>

namespace {

bool isIdentity(const qmath_xformLinear& x)
{
    const qmath_xformLinear id = qtest::identity();
    return std::memcmp(&x, &id, sizeof id) == 0;
}

// A level holding a plane image of its own, filled with a ramp.
void fillLevel(qsrch_normcorr_level_* level, int32_t width, int32_t height)
{
    ASSERT_EQ(qsrch_normcorr_level__construct(level), QSRCH_OK);
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, width, height), QSRCH_OK);
    auto* p = static_cast<uint8_t*>(image.firstPixel);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) p[y * image.rowStride + x] = static_cast<uint8_t>(3 * x + 7 * y);
    ASSERT_EQ(qimg_imageConst_assign(&level->planeImage[0], qimg_image_asConst(&image)), QSRCH_OK);
    ASSERT_EQ(qimg_image_destruct(&image), QSRCH_OK);
    qimg_windowConst_init(&level->planeWindow[0], &level->planeImage[0]);
    level->nCare = 42, level->sum[0] = 9, level->sumSq[2] = 1.5, level->factor = 1.5f, level->origin = qstd_pair32{4, 5};
}

}  // namespace

TEST(Level, FreshLevelIsEmptyAndDestructs)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    qsrch_normcorr_level_ level;
    std::memset(&level, 0xCD, sizeof level);  // construct must not rely on a zeroed record
    ASSERT_EQ(qsrch_normcorr_level__construct(&level), QSRCH_OK);
    EXPECT_TRUE(level.factor == 2.0f && isIdentity(level.baseFromLevel) && isIdentity(level.levelFromBase));
    EXPECT_TRUE(level.origin.first == 0 && level.origin.second == 0 && level.nCare == 0u);
    for (int p = 0; p < 3; ++p) {
        EXPECT_TRUE(level.sum[p] == 0u && level.sumSq[p] == 0.0 && level.planeWindow[p].firstPixel == nullptr);
        EXPECT_FALSE(qtest::isBound(level.planeImage[p]));
    }
    EXPECT_TRUE(level.maskWindow.firstPixel == nullptr && !qtest::isBound(level.maskImage));
    EXPECT_EQ(qsrch_normcorr_level__destruct(&level), QSRCH_OK);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(Level, AssignSharesPixelsThatOutliveTheSource)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    qsrch_normcorr_level_ source, copy, target;
    fillLevel(&source, 13, 6);
    const std::vector<uint8_t> expected = qtest::pixels(source.planeWindow[0]);

    // Self-assignment leaves every byte as it was.
    std::vector<unsigned char> before(sizeof source);
    std::memcpy(before.data(), &source, sizeof source);
    EXPECT_EQ(qsrch_normcorr_level__assign(&source, &source), QSRCH_OK);
    EXPECT_EQ(std::memcmp(before.data(), &source, sizeof source), 0);

    ASSERT_EQ(qsrch_normcorr_level__constructCopy(&copy, &source), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_level__construct(&target), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_level__assign(&target, &source), QSRCH_OK);
    for (const qsrch_normcorr_level_* level : {&copy, &target}) {
        EXPECT_EQ(level->planeImage[0].pixels, source.planeImage[0].pixels);
        EXPECT_EQ(level->planeWindow[0].firstPixel, source.planeWindow[0].firstPixel);
        EXPECT_TRUE(level->nCare == 42u && level->sum[0] == 9u && level->sumSq[2] == 1.5 && level->factor == 1.5f &&
                    level->origin.first == 4 && level->origin.second == 5);
    }
    ASSERT_EQ(qsrch_normcorr_level__destruct(&source), QSRCH_OK);
    EXPECT_EQ(qtest::pixels(copy.planeWindow[0]), expected);  // the sanitizer build sees a stale read
    EXPECT_EQ(qtest::pixels(target.planeWindow[0]), expected);
    EXPECT_EQ(qsrch_normcorr_level__destruct(&copy), QSRCH_OK);
    EXPECT_EQ(qsrch_normcorr_level__destruct(&target), QSRCH_OK);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(LevelVector, CopiesShareLevelPixelsAtBothDepthsOfNesting)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    {
        qsrch_normcorr_level_ level;
        fillLevel(&level, 9, 4);
        const std::vector<uint8_t> expected = qtest::pixels(level.planeWindow[0]);

        qstd_vector_vector_qsrch_normcorr_level_ outer, outerCopy;
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__construct(&outer, 2), QSRCH_OK);
        qstd_vector_qsrch_normcorr_level_* inner = nullptr;
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__getElement(&outer, 1, &inner), QSRCH_OK);
        EXPECT_EQ(inner->size, 0u);
        ASSERT_EQ(qstd_vector_qsrch_normcorr_level__pushBack(inner, &level), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_level__destruct(&level), QSRCH_OK);
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__constructCopy(&outerCopy, &outer), QSRCH_OK);
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__destruct(&outer), QSRCH_OK);

        const qstd_vector_qsrch_normcorr_level_* innerCopy = nullptr;
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__getElementConst(&outerCopy, 1, &innerCopy), QSRCH_OK);
        const qsrch_normcorr_level_* copied = nullptr;
        ASSERT_EQ(qstd_vector_qsrch_normcorr_level__getElementConst(innerCopy, 0, &copied), QSRCH_OK);
        EXPECT_TRUE(qtest::pixels(copied->planeWindow[0]) == expected && copied->factor == 1.5f);
        ASSERT_EQ(qstd_vector_vector_qsrch_normcorr_level__destruct(&outerCopy), QSRCH_OK);
    }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}
