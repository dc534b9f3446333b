// The level record and the vectors that hold levels: construction, and copies that share pixels.
#include <cstring>
#include <utility>

#include "pyramid/pyramid_internal.hpp"
#include "support/levels.hpp"

// A fresh level is empty; copies share the pixels, which outlive the source (the sanitizer build sees a stale read).
TEST(Level, FreshLevelIsEmptyAndCopiesSharePixelsThatOutliveTheSource)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    const qmath_xformLinear id = qtest::identity();
    qsrch_normcorr_level_ source, copy;
    std::memset(&source, 0xCD, sizeof source);  // construct must not rely on a zeroed record
    ASSERT_EQ(qsrch_normcorr_level__construct(&source), QSRCH_OK);
    EXPECT_TRUE(source.factor == 2.0f && !std::memcmp(&source.baseFromLevel, &id, sizeof id) && source.nCare == 0u &&
                !std::memcmp(&source.levelFromBase, &id, sizeof id) && !source.origin.first &&
                !source.origin.second && source.maskWindow.firstPixel == nullptr && !qtest::isBound(source.maskImage));
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(source.sum[p] == 0u && source.sumSq[p] == 0.0 && source.planeWindow[p].firstPixel == nullptr &&
                    !qtest::isBound(source.planeImage[p]));
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, 13, 6), QSRCH_OK);
    for (int32_t k = 0; k < 13 * 6; ++k)
        static_cast<uint8_t*>(image.firstPixel)[k / 13 * image.rowStride + k % 13] = uint8_t(7 * k);
    ASSERT_EQ(qimg_imageConst_assign(&source.planeImage[0], qimg_image_asConst(&image)), QSRCH_OK);
    ASSERT_EQ(qimg_image_destruct(&image), QSRCH_OK);
    qimg_windowConst_init(&source.planeWindow[0], &source.planeImage[0]);
    source.nCare = 42, source.sum[0] = 9, source.sumSq[2] = 1.5, source.factor = 1.5f, source.origin = {4, 5};
    const qsrch_normcorr_level_ reference = source;
    const std::vector<uint8_t> expected = qtest::pixels(source.planeWindow[0]);
    EXPECT_TRUE(qsrch_normcorr_level__assign(&source, &source) == QSRCH_OK &&
                !std::memcmp(&reference, &source, sizeof source));
    ASSERT_EQ(qsrch_normcorr_level__constructCopy(&copy, &source), QSRCH_OK);
    qstd_vector_qsrch_normcorr_level_ held;
    ASSERT_TRUE(qstd_vector_qsrch_normcorr_level__constructEmpty(&held) == QSRCH_OK &&
                qstd_vector_qsrch_normcorr_level__pushBack(&held, &source) == QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_level__destruct(&source), QSRCH_OK);
    for (const qsrch_normcorr_level_* l : {static_cast<const qsrch_normcorr_level_*>(held.begin), &std::as_const(copy)})
        EXPECT_TRUE(l->planeImage[0].pixels == reference.planeImage[0].pixels && l->nCare == 42u && l->sum[0] == 9u &&
                    l->planeWindow[0].firstPixel == reference.planeWindow[0].firstPixel && l->sumSq[2] == 1.5 &&
                    l->factor == 1.5f && l->origin.first == 4 && l->origin.second == 5 &&
                    qtest::pixels(l->planeWindow[0]) == expected);
    EXPECT_TRUE(qstd_vector_qsrch_normcorr_level__destruct(&held) == QSRCH_OK &&
                qsrch_normcorr_level__destruct(&copy) == QSRCH_OK && qsys_memory_blocksInUse() == blocks);
}
