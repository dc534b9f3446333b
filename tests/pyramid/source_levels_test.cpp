// Source pyramids: levels reduced by the pattern levels' factors, mapped back to level 0, masked in plane 0.
#include <cmath>

#include "pyramid/pyramid_internal.hpp"
#include "support/levels.hpp"

namespace {

using qtest::Levels;

// Pattern levels as the generators read them: only the factors of levels 1 and up.
struct PatternLevels : Levels {
    explicit PatternLevels(const std::vector<float>& factors)
    {
        EXPECT_EQ(qstd_vector_qsrch_normcorr_level__resize(&v, factors.size() + 1), QSRCH_OK);
        for (size_t k = 0; k < factors.size(); ++k) (*this)[k + 1].factor = factors[k];
    }
};

}  // namespace

// Each level the previous reduced, its transforms composed from the reducers' and inverse to each other; its
// sides the single-precision quotients (108 / 1.2f and 88 / 1.1f fall just below an integer in double only).
// Masked forms: plane 0 the minimum with each level's two-valued mask, all else as unmasked.
TEST(SourceLevels, EachLevelIsThePreviousReducedAndMapsBackToLevelZero)
{
    std::mt19937 rng(5);
    qtest::Image8 noise(125, 106, 160), mask(108, 88, 130);
    noise.randomize(rng), mask.randomMask(rng, 0.5);  // care values other than 255
    const qimg_windowConst source = noise.window(3, 4, 108, 88), o = noise.window(0, 1, 108, 88), m = mask.window();
    for (const std::vector<float>& factors : std::vector<std::vector<float>>{
             {}, {2, 2, 2}, {2, 1.5f}, {1.5f}, {2, 2, 1.25f}, {3}, {2, 2.5f}, {1.2f}, {1.1f}}) {
        SCOPED_TRACE(testing::Message() << "levels " << factors.size() + 1);
        const int32_t n = int32_t(factors.size()) + 1;
        const PatternLevels pattern(factors);
        Levels forms[4];  // plain, masked, three planes, masked three planes
        auto generate = [&](int form, qstd_vector_qsrch_normcorr_level_* out) {
            return form == 0   ? qsrch_normcorr_generateSrcLevels(&source, &pattern.v, n, out)
                   : form == 1 ? qsrch_normcorr_generateSrcLevelsMask(&source, &m, &pattern.v, n, out)
                   : form == 2 ? qsrch_normcorr_generateSrcLevels3(&source, &o, &o, &pattern.v, n, out)
                               : qsrch_normcorr_generateSrcLevelsMask3(&source, &o, &o, &m, &pattern.v, n, out);
        };
        for (int form = 0; form < 4; ++form) {
            ASSERT_TRUE(generate(form, &forms[form].v) == QSRCH_OK && forms[form].v.size == uint32_t(n));
            qtest::expectAllocationFailuresClean([&] { Levels l; return generate(form, &l.v); });
        }
        const Levels& levels = forms[0];
        // No pixel of level 0 is copied: its views and mask are the caller's.
        EXPECT_TRUE(levels[0].origin.first == source.x && levels[0].origin.second == source.y &&
                    !qtest::isBound(levels[0].planeImage[0]) && levels[0].planeWindow[0].x == 0 &&
                    levels[0].planeWindow[0].y == 0 && levels[0].planeWindow[0].firstPixel == source.firstPixel);
        qmath_xformLinear baseFromLevel = qtest::identity(), step;
        for (int32_t k = 0; k < n; ++k) {
            SCOPED_TRACE(testing::Message() << "level " << k);
            const float f = k > 0 ? factors[k - 1] : 1;
            for (int form = 1; form < 4; ++form) {
                const qsrch_normcorr_level_& level = forms[form][k];
                const std::vector<uint8_t> care = qtest::pixels(form == 2 ? qimg_windowConst{} : level.maskWindow),
                                           unmasked = qtest::pixels(levels[k].planeWindow[0]),
                                           plane0 = qtest::pixels(level.planeWindow[0]);
                ASSERT_EQ(plane0.size(), unmasked.size());
                ASSERT_TRUE(form == 2 ? !level.maskWindow.firstPixel
                                      : care.size() == unmasked.size() &&
                                            (k > 0 || level.maskWindow.firstPixel == m.firstPixel));
                for (size_t i = 0; i < plane0.size(); ++i)
                    ASSERT_TRUE(form == 2 ? plane0[i] == unmasked[i]
                                          : plane0[i] == std::min(unmasked[i], care[i]) &&
                                                (k == 0 || care[i] % 255 == 0))
                        << "form " << form << ", pixel " << i;
                EXPECT_EQ(qtest::isBound(level.planeImage[0]), form != 2 || k > 0);
                for (int p = 1; p < 3; ++p) {
                    const qimg_windowConst &plane = level.planeWindow[p], &three = forms[2][k].planeWindow[p];
                    EXPECT_TRUE(form == 1 ? !plane.firstPixel && !levels[k].planeWindow[p].firstPixel
                                          : qtest::pixels(plane) == qtest::pixels(three));
                    EXPECT_TRUE(form == 1 || k > 0 || plane.firstPixel == o.firstPixel);
                    if (form == 2 && k > 0)
                        qtest::expectPlane(plane, qtest::reduceLevel(forms[2][k - 1].planeWindow[p], f), "plane");
                }
            }
            if (k == 0) continue;
            const qsrch_normcorr_level_& level = levels[k];
            const qimg_windowConst &plane = level.planeWindow[0], &above = levels[k - 1].planeWindow[0];
            EXPECT_TRUE(plane.width == int32_t(float(above.width) / f) &&
                        plane.height == int32_t(float(above.height) / f));
            EXPECT_TRUE(level.factor == f && level.origin.first == 0 && level.maskWindow.firstPixel == nullptr);
            EXPECT_TRUE(plane.rowStride % 32 == 0 && plane.rowStride - plane.width >= 16 &&
                        plane.rowStride - plane.width < 48) << plane.rowStride << " for " << plane.width;
            qtest::expectPlane(plane, qtest::reduceLevel(above, f, &step), "reduction");
            qmath_xformLinear_initCompose(&baseFromLevel, &baseFromLevel, &step);
            const qmath_vect want = qtest::mapPoint(baseFromLevel, 17.25, 9.5),
                             got = qtest::mapPoint(level.baseFromLevel, 17.25, 9.5),
                             back = qtest::mapPoint(level.levelFromBase, got.x, got.y);
            EXPECT_TRUE(std::fabs(got.x - want.x) < 1e-9 && std::fabs(got.y - want.y) < 1e-9 &&
                        std::fabs(back.x - 17.25) < 1e-9 && std::fabs(back.y - 9.5) < 1e-9);
        }
    }
}
