// Source pyramids: each level is the previous one reduced by the pattern
// level's factor, positions map back to level 0, level 0 looks at the
// caller's pixels, and a care mask zeroes plane 0 outside the care area.
#include "pyramid_support.hpp"

#include <cmath>
#include <random>

namespace {

using qtest::LevelVector;

const std::vector<std::vector<float>> kFactorLists = {
    {2.0f, 2.0f, 2.0f}, {2.0f, 1.5f}, {1.5f}, {2.0f, 2.0f, 1.25f}, {3.0f}, {2.0f, 2.5f},
};

std::string describe(const std::vector<float>& factors)
{
    std::string s = "factors";
    for (float f : factors) s += " " + std::to_string(f);
    return s;
}

// The intensity-weighted centroid of what rises above the background.
qmath_vect centroid(const qimg_windowConst& v, int background)
{
    double w = 0, sx = 0, sy = 0;
    for (int32_t y = 0; y < v.height; ++y)
        for (int32_t x = 0; x < v.width; ++x) {
            const double d = qtest::at(v, x, y) - background;
            w += d, sx += d * x, sy += d * y;
        }
    return qmath_vect{sx / w, sy / w};
}

}  // namespace

// A noise view inside a larger image (garbage around it), and a blob whose
// centroid on each level, mapped through baseFromLevel, lands on level 0's.
TEST(SourceLevels, EachLevelIsThePreviousReducedAndMapsBackToLevelZero)
{
    std::mt19937 rng(5);
    qtest::Image8 noise(71, 58, 96), blob(120, 100, 128);
    noise.randomize(rng);
    const double cx = 53.3, cy = 41.7, sigma = 6.0;
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 120; ++x) {
            double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            blob.at(x, y) = static_cast<uint8_t>(std::lround(10 + 200 * std::exp(-r2 / (2 * sigma * sigma))));
        }
    const struct { qimg_windowConst source; int32_t x, y; bool blob; } sources[] = {
        {noise.window(3, 4, 61, 50), 3, 4, false}, {blob.window(), 0, 0, true}};
    for (const auto& [source, ox, oy, isBlob] : sources)
    for (const auto& factors : kFactorLists) {
        SCOPED_TRACE(describe(factors) + (isBlob ? ", blob" : ", noise"));
        LevelVector pattern, levels;
        qtest::setPatternFactors(pattern, factors);
        const int32_t n = static_cast<int32_t>(factors.size()) + 1;
        ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&source, pattern.get(), n, levels.get()), QSRCH_OK);
        ASSERT_EQ(levels.size(), static_cast<uint32_t>(n));

        const qsrch_normcorr_level_& base = levels[0];
        EXPECT_TRUE(base.origin.first == ox && base.origin.second == oy && base.planeWindow[0].x == 0 &&
                    base.planeWindow[0].y == 0);
        // No pixel of level 0 is copied: its view is the caller's.
        EXPECT_TRUE(base.planeWindow[0].firstPixel == source.firstPixel && !qtest::isBound(base.planeImage[0]));

        qmath_xformLinear expectedBaseFromLevel = qtest::identity();
        const qmath_vect truth = centroid(base.planeWindow[0], 10);
        for (int32_t k = 1; k < n; ++k) {
            SCOPED_TRACE("level " + std::to_string(k));
            const qsrch_normcorr_level_& level = levels[k];
            const qimg_windowConst& plane = level.planeWindow[0];
            const float f = factors[k - 1];
            EXPECT_TRUE(level.factor == f && level.origin.first == 0 && level.maskWindow.firstPixel == nullptr &&
                        level.planeWindow[1].firstPixel == nullptr);
            // 32-byte rows with 16 to 47 bytes of slack.
            EXPECT_TRUE(plane.rowStride % 32 == 0 && plane.rowStride - plane.width >= 16 &&
                        plane.rowStride - plane.width < 48) << plane.rowStride << " for " << plane.width;

            qmath_xformLinear step;
            qtest::expectPlane(plane, qtest::reduceLevel(levels[k - 1].planeWindow[0], f, &step), "reduction");
            // Both reducers sample at the centre of each f-wide cell.
            EXPECT_TRUE(step.matrix.a11 == f && step.trans.x == (f - 1.0) / 2.0);
            qmath_xformLinear_initCompose(&expectedBaseFromLevel, &expectedBaseFromLevel, &step);
            EXPECT_DOUBLE_EQ(level.baseFromLevel.matrix.a11, expectedBaseFromLevel.matrix.a11);
            EXPECT_DOUBLE_EQ(level.baseFromLevel.trans.x, expectedBaseFromLevel.trans.x);
            EXPECT_DOUBLE_EQ(level.baseFromLevel.trans.y, expectedBaseFromLevel.trans.y);
            const qmath_vect there = qtest::mapPoint(level.levelFromBase, 17.25, 9.5);
            const qmath_vect back = qtest::mapPoint(level.baseFromLevel, there.x, there.y);
            EXPECT_TRUE(std::fabs(back.x - 17.25) < 1e-9 && std::fabs(back.y - 9.5) < 1e-9);
            if (!isBlob) continue;
            const qmath_vect c = centroid(plane, 10);
            const qmath_vect mapped = qtest::mapPoint(level.baseFromLevel, c.x, c.y);
            EXPECT_NEAR(mapped.x, truth.x, 0.1);
            EXPECT_NEAR(mapped.y, truth.y, 0.1);
        }
    }
}

TEST(SourceLevels, ReducedSizesUseTheSinglePrecisionQuotient)
{
    // 6 / 1.2f and 11 / 1.1f fall just below an integer in double precision only.
    const struct { int32_t width; float factor; int32_t reduced; } cases[] = {
        {33, 2.0f, 16}, {33, 3.0f, 11}, {6, 1.2f, 5}, {11, 1.1f, 10}, {7, 1.5f, 4}, {2, 2.0f, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " by " + std::to_string(c.factor));
        qtest::Image8 image(c.width, c.width, c.width + 5);
        image.fill(80);
        LevelVector pattern, levels;
        qtest::setPatternFactors(pattern, {c.factor});
        const qimg_windowConst source = image.window();
        ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&source, pattern.get(), 2, levels.get()), QSRCH_OK);
        EXPECT_TRUE(levels[1].planeWindow[0].width == c.reduced && levels[1].planeWindow[0].height == c.reduced);
    }
}

// The masked forms equal the unmasked ones but for plane 0, the minimum with
// each level's two-valued mask. All four forms unwind allocation failures.
TEST(SourceLevels, MaskZeroesPlaneZeroOfEveryLevelOnly)
{
    std::mt19937 rng(17);
    qtest::Image8 planes[3] = {{45, 38, 64}, {45, 38, 64}, {45, 38, 64}};
    for (auto& p : planes) p.randomize(rng, 1, 255);
    qtest::Image8 mask(45, 38, 50);
    mask.randomMask(rng, 0.5);  // care values other than 255
    const qimg_windowConst v0 = planes[0].window(), v1 = planes[1].window(), v2 = planes[2].window();
    const qimg_windowConst m = mask.window();

    for (const auto& factors : std::vector<std::vector<float>>{{}, {2.0f, 1.5f}, {2.0f, 2.0f}}) {
        for (bool threePlanes : {false, true}) {
            SCOPED_TRACE(describe(factors) + (threePlanes ? ", three planes" : ", grey"));
            LevelVector pattern, plain, masked;
            qtest::setPatternFactors(pattern, factors);
            const int32_t n = static_cast<int32_t>(factors.size()) + 1;
            auto generate = [&](bool withMask, qstd_vector_qsrch_normcorr_level_* out) {
                const qstd_vector_qsrch_normcorr_level_* p = pattern.get();
                if (threePlanes)
                    return withMask ? qsrch_normcorr_generateSrcLevelsMask3(&v0, &v1, &v2, &m, p, n, out)
                                    : qsrch_normcorr_generateSrcLevels3(&v0, &v1, &v2, p, n, out);
                return withMask ? qsrch_normcorr_generateSrcLevelsMask(&v0, &m, p, n, out)
                                : qsrch_normcorr_generateSrcLevels(&v0, p, n, out);
            };
            ASSERT_EQ(generate(false, plain.get()), QSRCH_OK);
            ASSERT_EQ(generate(true, masked.get()), QSRCH_OK);
            for (bool withMask : {false, true})
                qtest::expectAllocationFailuresClean([&]() -> qsys_status {
                    qstd_vector_qsrch_normcorr_level_ levels;
                    qsys_status s = qstd_vector_qsrch_normcorr_level__constructEmpty(&levels);
                    if (!QSRCH_FAILED(s)) s = generate(withMask, &levels);
                    qstd_vector_qsrch_normcorr_level__destruct(&levels);
                    return s;
                });
            ASSERT_EQ(masked.size(), static_cast<uint32_t>(n));
            // The base level keeps the caller's mask, values unchanged.
            EXPECT_EQ(masked[0].maskWindow.firstPixel, m.firstPixel);
            for (int32_t k = 0; k < n; ++k) {
                SCOPED_TRACE("level " + std::to_string(k));
                const qsrch_normcorr_level_& level = masked[k];
                EXPECT_EQ(plain[k].maskWindow.firstPixel, nullptr);
                const std::vector<uint8_t> maskPixels = qtest::pixels(level.maskWindow);
                for (uint8_t v : maskPixels) ASSERT_TRUE(k == 0 || v == 0 || v == 255) << int(v);
                const std::vector<uint8_t> unmasked = qtest::pixels(plain[k].planeWindow[0]);
                const std::vector<uint8_t> plane0 = qtest::pixels(level.planeWindow[0]);
                ASSERT_TRUE(plane0.size() == unmasked.size() && maskPixels.size() == unmasked.size());
                for (size_t i = 0; i < plane0.size(); ++i)
                    ASSERT_EQ(plane0[i], std::min(unmasked[i], maskPixels[i])) << "pixel " << i;
                EXPECT_TRUE(qtest::isBound(level.planeImage[0]));
                for (int p = 1; p < 3; ++p) {
                    if (!threePlanes) {
                        EXPECT_EQ(level.planeWindow[p].firstPixel, nullptr);
                        continue;
                    }
                    EXPECT_EQ(qtest::pixels(level.planeWindow[p]), qtest::pixels(plain[k].planeWindow[p]));
                    if (k > 0)
                        qtest::expectPlane(plain[k].planeWindow[p],
                                           qtest::reduceLevel(plain[k - 1].planeWindow[p], factors[k - 1]), "plane");
                    else
                        EXPECT_EQ(level.planeWindow[p].firstPixel, (p == 1 ? v1 : v2).firstPixel);
                }
            }
        }
    }
}
