// The two scoring entry points that read pixels: the single score of equal
// sized pattern and image, and the planes of a runtime-masked space.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reference.hpp"

namespace {

using qtest::Image8;

// The statistics the single score is defined on: pattern sums and inner
// product over every pixel, image sums over the mask's pixels, care count
// from the mask's sum.
qtest::Stats singleScoreStats(const Image8& pattern, const Image8* mask, const Image8& image)
{
    qtest::Stats all = qtest::Placement{&pattern, &image}.stats();
    if (mask == nullptr) return all;
    const qtest::Stats cared = qtest::Placement{&pattern, &image, mask}.stats();
    uint64_t maskSum = 0;
    for (int32_t y = 0; y < mask->height(); ++y)
        for (int32_t x = 0; x < mask->width(); ++x) maskSum += mask->at(x, y);
    all.N = maskSum / 255;
    all.Si = cared.Si, all.Sii = cared.Sii;
    return all;
}

double singleScore(const Image8& pattern, const qimg_windowConst* mask, const Image8& image,
                   const qsrch_normalizedCorrelationParams& params)
{
    const qimg_windowConst p = pattern.window(), i = image.window();
    double score = -1;
    EXPECT_EQ(qsrch_DcomputeNormalizedCorrelationSpace(&p, mask, &i, &params, &score, 0), QSRCH_OK);
    return score;
}

double integerScore(const qsrch_normalizedCorrelationParams& p, const qtest::Stats& s)
{
    double score = -1;
    qsrch_scoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score);
    return score;
}

// A care count below the pattern's pixel count can make vp negative, and
// the covariance score NaN: NaN then has to match NaN.
::testing::AssertionResult sameScore(double a, double b)
{
    if (a == b || (std::isnan(a) && std::isnan(b))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " vs " << b;
}

TEST(SingleScore, MatchesPixelStatisticsWithAndWithoutMask)
{
    uint32_t seed = 0;
    for (int32_t w : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t h : {1, 2, 13}) {
            std::mt19937 rng(++seed);
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            Image8 pattern(w, h, w + 3), image(w, h, w + 7), mask(w, h, w + 1), full(w, h, w + 2);
            pattern.randomize(rng);
            image.randomize(rng);
            mask.randomMask(rng, 0.7);  // care values below 255: the care count rounds down
            full.fill(255);
            const qimg_windowConst maskView = mask.window(), fullView = full.window();
            qimg_windowConst unbound = maskView;
            unbound.firstPixel = nullptr;
            for (const auto& mode : qtest::allModes()) {
                SCOPED_TRACE(mode.name);
                const double plain = singleScore(pattern, nullptr, image, mode.params);
                EXPECT_TRUE(qtest::closeRelative(
                    plain, qtest::referenceScore({&pattern, &image}, mode.params), 1e-12L));
                EXPECT_EQ(singleScore(pattern, &unbound, image, mode.params), plain);
                EXPECT_EQ(singleScore(pattern, &fullView, image, mode.params), plain);
                EXPECT_TRUE(sameScore(singleScore(pattern, &maskView, image, mode.params),
                                      integerScore(mode.params, singleScoreStats(pattern, &mask, image))));
            }
        }
}

// More than 0x10000 pattern pixels: double kernels, exact statistics.
TEST(SingleScore, LargePatternUsesDoubleStatistics)
{
    std::mt19937 rng(8);
    Image8 pattern(260, 256, 261), image(260, 256, 263), mask(260, 256);
    pattern.randomize(rng);
    image.randomize(rng, 0, 100);
    for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 260; ++x) image.at(x, y) = uint8_t(image.at(x, y) + pattern.at(x, y) / 2);
    mask.randomMask(rng, 0.9);
    for (int32_t y = 0; y < 256; ++y)  // two-valued, as the library's own masks are
        for (int32_t x = 0; x < 260; ++x) mask.at(x, y) = mask.at(x, y) != 0 ? 255 : 0;
    const qimg_windowConst m = mask.window();
    for (const Image8* care : {static_cast<const Image8*>(nullptr), static_cast<const Image8*>(&mask)}) {
        const auto params = qtest::scoreParams(0, 0, 0);
        const qtest::Stats s = singleScoreStats(pattern, care, image);
        double expected = -1;
        qsrch_DscoreFromStats(&params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &expected);
        EXPECT_GT(expected, 0.2);
        EXPECT_EQ(singleScore(pattern, care ? &m : nullptr, image, params), expected);
        const qimg_windowConst p = pattern.window(), i = image.window();
        qtest::expectAllocationFailuresClean([&] {
            double score;
            return qsrch_DcomputeNormalizedCorrelationSpace(&p, care ? &m : nullptr, &i, &params, &score, 0);
        });
    }
}

struct RuntimePlanes {
    uint32_t stride;
    std::vector<double> innerProducts, imageSumSqs, patternSumSqs;
    std::vector<uint32_t> imageSums, counts, patternSums;
    RuntimePlanes(int32_t ny, uint32_t stride_)
        : stride(stride_),
          innerProducts(size_t(ny) * stride, -7.5),
          imageSumSqs(innerProducts),
          patternSumSqs(innerProducts),
          imageSums(size_t(ny) * stride, 0xA5A5A5A5),
          counts(imageSums),
          patternSums(imageSums)
    {
    }
    bool operator==(const RuntimePlanes& o) const
    {
        return innerProducts == o.innerProducts && imageSumSqs == o.imageSumSqs &&
               patternSumSqs == o.patternSumSqs && imageSums == o.imageSums && counts == o.counts &&
               patternSums == o.patternSums;
    }
};

struct RuntimeCase {
    Image8 pattern, patternMask, image, runtimeMask;
    qimg_windowConst p, pm, i, rm;
    RuntimeCase(std::mt19937& rng, int32_t w, int32_t h, int32_t nx, int32_t ny)
        : pattern(w, h, w + 2),
          patternMask(w, h),
          image(w + nx - 1, h + ny - 1, w + nx + 4),
          runtimeMask(w + nx - 1, h + ny - 1)
    {
        pattern.randomize(rng);
        patternMask.randomMask(rng, 0.6);
        image.randomize(rng);
        runtimeMask.randomMask(rng, 0.8);
        p = pattern.window(), pm = patternMask.window(), i = image.window(), rm = runtimeMask.window();
    }
    qsrch_status run(const qimg_windowConst* mask, RuntimePlanes& o) const
    {
        return qsrch_DcomputeSumsRuntimeMasked(&p, mask, &i, &rm, o.stride, o.innerProducts.data(),
                                               o.imageSums.data(), o.imageSumSqs.data(), o.counts.data(),
                                               o.patternSums.data(), o.patternSumSqs.data());
    }
    // The same planes, kernel by kernel.
    void expected(const qimg_windowConst* mask, RuntimePlanes& o) const
    {
        ASSERT_EQ(qsrch_DcomputeInnerProducts(&p, &i, o.innerProducts.data(), o.stride), QSRCH_OK);
        ASSERT_EQ(
            mask != nullptr && mask->firstPixel != nullptr
                ? qsrch_DcomputeMaskSumISumISq(mask, &i, o.imageSums.data(), o.imageSumSqs.data(), o.stride)
                : qsrch_DcomputeSumISumISq(&p, &i, o.imageSums.data(), o.imageSumSqs.data(), o.stride),
            QSRCH_OK);
        ASSERT_EQ(qsrch_DcomputeMaskPatSumPatSumSq(&p, mask, &rm, o.counts.data(), o.patternSums.data(),
                                                   o.patternSumSqs.data(), o.stride),
                  QSRCH_OK);
    }
};

TEST(SumsRuntimeMasked, PlanesEqualTheKernelsOwn)
{
    uint32_t seed = 0;
    for (int32_t nx : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t ny : {1, 5}) {
            std::mt19937 rng(++seed);
            const int32_t w = 1 + int32_t(rng() % 9), h = 1 + int32_t(rng() % 9);
            SCOPED_TRACE(std::to_string(nx) + "x" + std::to_string(ny) + ", pattern " + std::to_string(w) +
                         "x" + std::to_string(h));
            const RuntimeCase c(rng, w, h, nx, ny);
            qimg_windowConst unbound = c.pm;
            unbound.firstPixel = nullptr;
            for (const qimg_windowConst* mask : {&c.pm, static_cast<const qimg_windowConst*>(nullptr),
                                                 static_cast<const qimg_windowConst*>(&unbound)}) {
                RuntimePlanes got(ny, uint32_t(nx) + 3), want(ny, uint32_t(nx) + 3);
                ASSERT_EQ(c.run(mask, got), QSRCH_OK);
                c.expected(mask, want);
                EXPECT_TRUE(got == want);  // slack keeps its fill in both
            }
        }
}

TEST(SumsRuntimeMasked, FailuresReturnUnchangedAndLeakNothing)
{
    std::mt19937 rng(2);
    const RuntimeCase small(rng, 4, 4, 8, 8);
    {
        const qsrch_status refusal = QSYS_STATUS(0x80001234u);
        qtest::AttentionCounter attention(refusal);
        RuntimePlanes planes(8, 8);
        EXPECT_EQ(small.run(&small.pm, planes), refusal);
        EXPECT_EQ(attention.polls(), 1);
    }
    // Patterns of more than 0x10000 pixels make the kernels take scratch space.
    const RuntimeCase large(rng, 260, 256, 3, 2);
    for (const qimg_windowConst* mask : {&large.pm, static_cast<const qimg_windowConst*>(nullptr)}) {
        RuntimePlanes planes(2, 3);
        qtest::expectAllocationFailuresClean([&] { return large.run(mask, planes); });
    }
}

}  // namespace
