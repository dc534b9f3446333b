// The two scoring entry points that read pixels: the single score of equal
// sized pattern and image, and the planes of a runtime-masked space.
#include "reference.hpp"

namespace {

using qtest::Image8;
using Params = qsrch_normalizedCorrelationParams;

// The statistics the single score is defined on: pattern sums and inner
// product over every pixel, image sums over the mask's pixels, the care
// count the mask's sum over 255 (rounded down); double statistics above
// 0x10000 pattern pixels.
double referenceSingleScore(const Image8& pattern, const Image8* mask, const Image8& image, const Params& params)
{
    qtest::Stats s = qtest::Placement{&pattern, &image}.stats();
    if (mask != nullptr) {
        const qtest::Stats cared = qtest::Placement{&pattern, &image, mask}.stats();
        s.N = 0, s.Si = cared.Si, s.Sii = cared.Sii;
        for (int32_t y = 0; y < mask->height(); ++y)
            for (int32_t x = 0; x < mask->width(); ++x) s.N += mask->at(x, y);
        s.N /= 255;
    }
    double score = -1;
    if (pattern.width() * pattern.height() > 0x10000)
        qsrch_DscoreFromStats(&params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score);
    else
        qsrch_scoreFromStats(&params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score);
    return score;
}

qsrch_status singleScore(const Image8& pattern, const qimg_windowConst* mask, const Image8& image,
                         const Params& params, double* score)
{
    const qimg_windowConst p = pattern.window(), i = image.window();
    return qsrch_DcomputeNormalizedCorrelationSpace(&p, mask, &i, &params, score, 0);
}

// No mask, a mask record without pixels and an all-255 mask give the plain
// score; care values below 255 make the care count round down, and then vp
// may turn negative and the covariance score NaN, which must match NaN.
TEST(SingleScore, MatchesPixelStatisticsWithAndWithoutMask)
{
    uint32_t seed = 0;
    for (int32_t w : {1, 7, 8, 9, 15, 16, 17, 31, 260})
        for (int32_t h : {1, 2, 13, 256}) {
            if ((w == 260) != (h == 256)) continue;
            std::mt19937 rng(++seed);
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            Image8 pattern(w, h, w + 3), image(w, h, w + 7), mask(w, h, w + 1), full(w, h, w + 2);
            pattern.randomize(rng);
            image.randomize(rng);
            mask.randomMask(rng, 0.7);
            full.fill(255);
            qimg_windowConst maskView = mask.window(), fullView = full.window(), unbound = maskView;
            unbound.firstPixel = nullptr;
            for (const auto& mode : qtest::allModes()) {
                SCOPED_TRACE(mode.name);
                double plain = -1, other = -1;
                ASSERT_EQ(singleScore(pattern, nullptr, image, mode.params, &plain), QSRCH_OK);
                const long double reference = qtest::referenceScore({&pattern, &image}, mode.params);
                EXPECT_TRUE(qtest::closeRelative(plain, reference, 1e-12L));
                for (const qimg_windowConst* same : {&unbound, &fullView})
                    EXPECT_TRUE(singleScore(pattern, same, image, mode.params, &other) == QSRCH_OK &&
                                other == plain);
                ASSERT_EQ(singleScore(pattern, &maskView, image, mode.params, &other), QSRCH_OK);
                const double expected = referenceSingleScore(pattern, &mask, image, mode.params);
                EXPECT_TRUE(other == expected || (std::isnan(other) && std::isnan(expected)))
                    << other << " " << expected;
            }
            // More than 0x10000 pattern pixels take scratch for double statistics.
            double score;
            if (w == 260)
                qtest::expectAllocationFailuresClean(
                    [&] { return singleScore(pattern, &maskView, image, qtest::scoreParams(0, 0, 0), &score); });
        }
}

// The runtime-masked planes are those of the kernels called one by one; an
// attention refusal comes back unchanged and scratch is always released.
TEST(SumsRuntimeMasked, PlanesEqualTheKernelsOwn)
{
    uint32_t seed = 0;
    for (const auto& [w, h, nx, ny] : std::vector<std::array<int32_t, 4>>{
             {1, 1, 1, 1}, {3, 5, 7, 5}, {9, 2, 8, 1}, {4, 4, 9, 5}, {7, 9, 16, 1}, {2, 8, 31, 5},
             {260, 256, 3, 2}}) {
        std::mt19937 rng(++seed);
        const uint32_t stride = uint32_t(nx) + 3;
        Image8 pattern(w, h, w + 2), patternMask(w, h), image(w + nx - 1, h + ny - 1, w + nx + 4),
            runtimeMask(w + nx - 1, h + ny - 1);
        pattern.randomize(rng);
        patternMask.randomMask(rng, 0.6);
        image.randomize(rng);
        runtimeMask.randomMask(rng, 0.8);
        const qimg_windowConst p = pattern.window(), i = image.window(), rm = runtimeMask.window(),
                               pm = patternMask.window();
        qimg_windowConst unbound = pm;
        unbound.firstPixel = nullptr;
        const bool polls = nx * ny > 31, large = w * h > 0x10000;
        using Mask = const qimg_windowConst*;
        for (Mask mask : {Mask(&pm), Mask(nullptr), Mask(&unbound)}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " over " + std::to_string(nx) + "x" +
                         std::to_string(ny) + (mask == &pm ? ", masked" : ", no mask"));
            // Inner products, image and pattern sums of squares; image sums, counts, pattern sums.
            std::vector<double> got[3], want[3];
            std::vector<uint32_t> gotU[3], wantU[3];
            for (int k = 0; k < 3; ++k) {
                got[k] = want[k] = std::vector<double>(size_t(ny) * stride, -7.5);
                gotU[k] = wantU[k] = std::vector<uint32_t>(size_t(ny) * stride, 0xA5A5A5A5);
            }
            auto run = [&] {
                return qsrch_DcomputeSumsRuntimeMasked(&p, mask, &i, &rm, stride, got[0].data(),
                                                       gotU[0].data(), got[1].data(), gotU[1].data(),
                                                       gotU[2].data(), got[2].data());
            };
            ASSERT_EQ(run(), QSRCH_OK);
            ASSERT_EQ(qsrch_DcomputeInnerProducts(&p, &i, want[0].data(), stride), QSRCH_OK);
            ASSERT_EQ(mask != nullptr && mask->firstPixel != nullptr
                          ? qsrch_DcomputeMaskSumISumISq(mask, &i, wantU[0].data(), want[1].data(), stride)
                          : qsrch_DcomputeSumISumISq(&p, &i, wantU[0].data(), want[1].data(), stride),
                      QSRCH_OK);
            ASSERT_EQ(qsrch_DcomputeMaskPatSumPatSumSq(&p, mask, &rm, wantU[1].data(), wantU[2].data(),
                                                       want[2].data(), stride),
                      QSRCH_OK);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(got[k] == want[k] && gotU[k] == wantU[k]) << "plane " << k;
            if (large) qtest::expectAllocationFailuresClean(run);
            qtest::AttentionCounter attention(QSYS_STATUS(0x80001234u));
            EXPECT_EQ(run(), polls ? QSYS_STATUS(0x80001234u) : QSRCH_OK);
        }
    }
}

}  // namespace
