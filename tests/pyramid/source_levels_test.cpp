// Source pyramids: levels reduced by the pattern levels' factors, mapped back to level 0, masked in plane 0.
#include <cmath>
#include <random>

#include "pyramid/pyramid_internal.hpp"
#include "support/levels.hpp"

namespace {

struct Levels {
    qstd_vector_qsrch_normcorr_level_ v;
    Levels() { qstd_vector_qsrch_normcorr_level__constructEmpty(&v); }
    ~Levels() { qstd_vector_qsrch_normcorr_level__destruct(&v); }
    qsrch_normcorr_level_& operator[](size_t i) const { return static_cast<qsrch_normcorr_level_*>(v.begin)[i]; }
};

// Pattern levels as the generators read them: only the factors of levels 1 and up.
void setFactors(Levels& levels, const std::vector<float>& factors)
{
    ASSERT_EQ(qstd_vector_qsrch_normcorr_level__resize(&levels.v, factors.size() + 1), QSRCH_OK);
    for (size_t k = 0; k < factors.size(); ++k) levels[k + 1].factor = factors[k];
}

// The intensity-weighted centroid of what rises above 10.
qmath_vect centroid(const qimg_windowConst& v)
{
    double w = 0, sx = 0, sy = 0;
    for (int32_t y = 0; y < v.height; ++y)
        for (int32_t x = 0; x < v.width; ++x) {
            const double d = qtest::at(v, x, y) - 10;
            w += d, sx += d * x, sy += d * y;
        }
    return qmath_vect{sx / w, sy / w};
}

}  // namespace

// Each level the previous reduced; the blob's centroid, mapped through baseFromLevel, lands on level 0's.
// Masked forms: plane 0 the minimum with each level's two-valued mask, all else as unmasked.
TEST(SourceLevels, EachLevelIsThePreviousReducedAndMapsBackToLevelZero)
{
    std::mt19937 rng(5);
    qtest::Image8 noise(125, 106, 160), blob(120, 100, 128), mask(120, 100, 130);
    noise.randomize(rng);
    mask.randomMask(rng, 0.5);  // care values other than 255
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 120; ++x)
            blob.at(x, y) = uint8_t(std::lround(10 + 200 * std::exp(-std::pow(std::hypot(x - 53.3, y - 41.7), 2)
                                                                    / 72)));
    const qimg_windowConst sources[] = {noise.window(3, 4, 120, 100), blob.window()}, m = mask.window();
    for (const qimg_windowConst& source : sources)
        for (const std::vector<float>& factors : std::vector<std::vector<float>>{
                 {}, {2, 2, 2}, {2, 1.5f}, {1.5f}, {2, 2, 1.25f}, {3}, {2, 2.5f}}) {
            SCOPED_TRACE(testing::Message() << "levels " << factors.size() + 1 << ", source " << &source - sources);
            const int32_t n = int32_t(factors.size()) + 1;
            const qimg_windowConst& o = sources[&source == sources];
            Levels pattern, forms[4];  // plain, masked, three planes, masked three planes
            setFactors(pattern, factors);
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
            const qsrch_normcorr_level_& base = levels[0];
            // No pixel of level 0 is copied: its view is the caller's, and so is its mask.
            EXPECT_TRUE(base.origin.first == source.x && base.origin.second == source.y &&
                        base.planeWindow[0].x == 0 && base.planeWindow[0].y == 0 &&
                        base.planeWindow[0].firstPixel == source.firstPixel && !qtest::isBound(base.planeImage[0]));
            EXPECT_TRUE(forms[1][0].maskWindow.firstPixel == m.firstPixel &&
                        forms[3][0].maskWindow.firstPixel == m.firstPixel);
            qmath_xformLinear baseFromLevel = qtest::identity(), step;
            const qmath_vect truth = centroid(base.planeWindow[0]);
            for (int32_t k = 0; k < n; ++k) {
                SCOPED_TRACE(testing::Message() << "level " << k);
                const float f = k > 0 ? factors[k - 1] : 1;
                for (int form = 1; form < 4; ++form) {
                    const qsrch_normcorr_level_& level = forms[form][k];
                    const std::vector<uint8_t> care = qtest::pixels(form == 2 ? qimg_windowConst{} : level.maskWindow),
                                               unmasked = qtest::pixels(levels[k].planeWindow[0]),
                                               plane0 = qtest::pixels(level.planeWindow[0]);
                    ASSERT_EQ(plane0.size(), unmasked.size());
                    ASSERT_TRUE(form == 2 ? !level.maskWindow.firstPixel : care.size() == unmasked.size());
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
                const qimg_windowConst& plane = level.planeWindow[0];
                EXPECT_TRUE(level.factor == f && level.origin.first == 0 && level.maskWindow.firstPixel == nullptr);
                // 32-byte rows with 16 to 47 bytes of slack.
                EXPECT_TRUE(plane.rowStride % 32 == 0 && plane.rowStride - plane.width >= 16 &&
                            plane.rowStride - plane.width < 48) << plane.rowStride << " for " << plane.width;
                qtest::expectPlane(plane, qtest::reduceLevel(levels[k - 1].planeWindow[0], f, &step), "reduction");
                qmath_xformLinear_initCompose(&baseFromLevel, &baseFromLevel, &step);
                const qmath_xformLinear& got = level.baseFromLevel;
                EXPECT_TRUE(std::fabs(got.matrix.a11 - baseFromLevel.matrix.a11) < 1e-12 &&
                            std::fabs(got.trans.x - baseFromLevel.trans.x) < 1e-12 &&
                            std::fabs(got.trans.y - baseFromLevel.trans.y) < 1e-12);
                const qmath_vect there = qtest::mapPoint(level.levelFromBase, 17.25, 9.5),
                                 back = qtest::mapPoint(got, there.x, there.y);
                EXPECT_TRUE(std::fabs(back.x - 17.25) < 1e-9 && std::fabs(back.y - 9.5) < 1e-9);
                if (&source == &sources[0]) continue;
                const qmath_vect c = centroid(plane), mapped = qtest::mapPoint(got, c.x, c.y);
                EXPECT_TRUE(std::fabs(mapped.x - truth.x) < 0.1 && std::fabs(mapped.y - truth.y) < 0.1);
            }
        }
}

// 6 / 1.2f and 11 / 1.1f fall just below an integer in double precision only.
TEST(SourceLevels, ReducedSizesUseTheSinglePrecisionQuotient)
{
    const struct { int32_t width; float factor; int32_t reduced; } cases[] = {
        {33, 2.0f, 16}, {33, 3.0f, 11}, {6, 1.2f, 5}, {11, 1.1f, 10}, {7, 1.5f, 4}, {2, 2.0f, 1}};
    qtest::Image8 image(33, 33, 40);
    image.fill(80);
    for (const auto& c : cases) {
        Levels pattern, levels;
        setFactors(pattern, {c.factor});
        const qimg_windowConst source = image.window(0, 0, c.width, c.width);
        ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&source, &pattern.v, 2, &levels.v), QSRCH_OK);
        EXPECT_TRUE(levels[1].planeWindow[0].width == c.reduced && levels[1].planeWindow[0].height == c.reduced)
            << c.width << " by " << c.factor;
    }
}
