// Refinement of peaks: the endpoint rule for fit neighbours, and the shape score against its definition.
#include "reference.hpp"

namespace {

using namespace qtest;

TEST(Refine, NeighboursOutsideTheRunsAreNotFitted)
{
    // valid[] row by row from (-1, -1): '1' usable, '0' not.
    const struct { const char* what; std::vector<qstd_pair32> runs; uint32_t flag; int32_t x, y; const char* expected;
    } cases[] = {
        {"flag 0 ignores the list", {{5, 6}}, 0, 2, 0, "111111111"},
        {"first row has no row above", {{0, 9}, {0, 9}}, 1, 4, 0, "000111111"},
        {"last listed row has no row below", {{0, 9}, {0, 9}}, 1, 4, 1, "111111000"},
        {"own run starts at x", {{0, 9}, {4, 9}, {0, 9}}, 1, 4, 1, "111011111"},
        {"own run ends after x", {{0, 9}, {0, 5}, {0, 9}}, 1, 4, 1, "111110111"},
        {"run above starts at x", {{4, 9}, {0, 9}, {0, 9}}, 1, 4, 1, "011111111"},
        {"run above starts past x", {{5, 9}, {0, 9}, {0, 9}}, 1, 4, 1, "001111111"},
        {"run above ends at x + 1", {{0, 5}, {0, 9}, {0, 9}}, 1, 4, 1, "110111111"},
        {"run above ends at x", {{0, 4}, {0, 9}, {0, 9}}, 1, 4, 1, "100111111"},
        {"run below ends at x", {{0, 9}, {0, 9}, {0, 4}}, 1, 4, 1, "111111100"},
        {"empty run below", {{0, 9}, {0, 9}, {0, 0}}, 1, 4, 1, "111111100"},
        {"no list", {}, 1, 0, 0, "111111111"},
    };
    for (const auto& c : cases) {
        const Runs runs(c.runs);
        uint32_t valid[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
        EXPECT_EQ(qsrch_clearNeighboursOutsideEndpoints(c.runs.empty() ? nullptr : runs.get(), c.flag, c.x, c.y, valid),
                  QSRCH_OK);
        std::string got;
        for (uint32_t v : valid) got += char('0' + v);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

// The largest of the score and the non-negative squared correlations of pattern >= threshold with image >= t.
double shapeByDefinition(const Image8& pattern, const Image8* mask, const Image8& image, int32_t ix, int32_t iy,
                         const Image8* care, uint8_t threshold, double score)
{
    double best = score;
    for (int t = 1; t <= 255; ++t) {
        long double n = 0, sx = 0, sy = 0, sxy = 0;
        for (int32_t j = 0; j < pattern.height(); ++j)
            for (int32_t i = 0; i < pattern.width(); ++i) {
                if ((mask && mask->at(i, j) == 0) || (care && care->at(ix + i, iy + j) == 0)) continue;
                const int x = pattern.at(i, j) >= threshold, y = image.at(ix + i, iy + j) >= t;
                n += 1, sx += x, sy += y, sxy += x * y;
            }
        const long double cov = n * sxy - sx * sy, den = (n * sy - sy * sy) * (n * sx - sx * sx);
        if (cov >= 0) best = std::max(best, den != 0 ? double(cov * cov / den) : 0.0);
    }
    return best;
}

uint8_t noisy(std::mt19937& rng, uint8_t v, int spread)
{
    return uint8_t(std::clamp(int(v) + int(rng() % uint32_t(2 * spread + 1)) - spread, 0, 255));
}

// Threshold 0 makes every pixel foreground; the exported form compares whole images aligned at the top left.
TEST(ShapeScore, RaisesToTheBestThresholdCorrelation)
{
    std::mt19937 rng(21);
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {8, 1}, {9, 9}, {16, 17}, {31, 15}})
        for (int k = 0; k < 6; ++k) {
            Image8 pattern(w, h, w + 3), mask(w, h, w + 1), image(w + 5, h + 4, w + 7), care(w + 5, h + 4, w + 6);
            pattern.randomize(rng), image.randomize(rng), mask.randomMask(rng, 0.7), care.randomMask(rng, 0.8);
            for (int32_t y = 0; y < h && k % 2 == 0; ++y)
                for (int32_t x = 0; x < w; ++x) image.at(x, y) = noisy(rng, pattern.at(x, y), 30);
            const uint8_t threshold = k == 5 ? 0 : uint8_t(rng());
            const Image8 *m = k % 3 != 0 ? &mask : nullptr, *c = k % 2 == 1 ? &care : nullptr;
            SCOPED_TRACE(testing::Message() << w << "x" << h << " case " << k);
            const qimg_windowConst p = pattern.window(), mv = mask.window(), i = image.window(), cv = care.window();
            const qtest::OwnedImage patternImage(pattern), sceneImage(image);
            // The definition raises a starting score to its best threshold's value: computed once.
            const double defined = shapeByDefinition(pattern, m, image, 0, 0, c, threshold, -HUGE_VAL);
            for (double start : {-0.5, 0.0, 0.2, 1.5}) {
                double score = start, exported = start;
                ASSERT_EQ(qsrch_shapeScore(&p, m ? &mv : nullptr, &i, c ? &cv : nullptr, threshold, &score), QSRCH_OK);
                const double expected = std::max(start, defined);
                EXPECT_NEAR(score, expected, 1e-12 * std::max(1.0, std::fabs(expected))) << "from " << start;
                EXPECT_EQ(qsrch_computeShapeScoreOptimizationForImage(patternImage.cget(), nullptr, sceneImage.cget(),
                                                                      nullptr, threshold, &exported), QSRCH_OK);
                EXPECT_TRUE(m || c || exported == score);
            }
        }
}

// Non-zero peak scores are raised to the definition, zero ones (negative correlation) are kept.
TEST(ShapeScore, AppliesToRefinedPeaksWithNonZeroScores)
{
    std::mt19937 rng(33);
    Image8 pattern(10, 9, 12), mask(10, 9), image(60, 50, 63), care(60, 50, 61);
    pattern.randomize(rng), image.randomize(rng), mask.randomMask(rng, 0.8), care.randomMask(rng, 0.85);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 10; ++x)
            pattern.at(x, y) *= mask.at(x, y) != 0, image.at(20 + x, 15 + y) = noisy(rng, pattern.at(x, y), 20);
    Image8 small(7, 3), smallMask(7, 3), smallImage(7, 3, 9), smallCare(7, 3);
    smallMask.fill(255), smallCare.fill(255);
    for (int32_t k = 0; k < 21; ++k) {
        small.at(k % 7, k / 7) = k < 10 ? 0 : k < 20 ? 200 : 255;
        smallImage.at(k % 7, k / 7) = k < 10 ? 120 : k < 20 ? 0 : 255;
    }
    const struct { const Image8 &pattern, &mask, &image, &care; double threshold; uint8_t shape; } scenes[] = {
        {pattern, mask, image, care, 0.03, 90}, {small, smallMask, smallImage, smallCare, 0, 128}};
    for (const auto& s : scenes) {
        const qimg_windowConst c = s.care.window(), m = s.mask.window(), p = s.pattern.window(), i = s.image.window();
        qsrch_normalizedCorrelationParams params = scoreParams(0, 0, 0);
        auto peaks = [&](uint32_t shape) {
            params.shapeThreshold = s.shape, params.shapeScoreOptimization = shape;
            PeakVector out;
            EXPECT_EQ(qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMasked(&p, &m, &i, &c, s.threshold, &params,
                                                                            &out.v), QSRCH_OK);
            return out.items();
        };
        const Peaks plain = peaks(0), shaped = peaks(1);
        ASSERT_EQ(plain.size(), shaped.size());
        int raised = 0, zeroKept = 0;
        for (size_t k = 0; k < plain.size(); ++k) {
            qsrch_detectedPosePeak expected = plain[k];
            const double byDefinition = shapeByDefinition(s.pattern, &s.mask, s.image, expected.integerPosition.first,
                                                          expected.integerPosition.second, &s.care, s.shape,
                                                          expected.score);
            zeroKept += expected.score == 0.0 && byDefinition > 0;
            raised += expected.score != 0.0 && byDefinition > expected.score;
            if (expected.score != 0.0) expected.score = byDefinition;
            EXPECT_TRUE(samePeaks({shaped[k]}, {expected}, false)) << "peak " << k;
        }
        EXPECT_TRUE(&s == scenes ? raised > 0 : zeroKept == 1) << raised << " raised, " << zeroKept << " kept at 0";
    }
    EXPECT_NEAR(shapeByDefinition(small, &smallMask, smallImage, 0, 0, &smallCare, 128, 0), 100.0 / 2200, 1e-15);
}

}  // namespace
