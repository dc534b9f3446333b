// The scoring entry points that read pixels: the single score of equal
// sized pattern and image, grey and three-plane, and the planes of a
// runtime-masked space.
#include <array>

#include "reference.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using qtest::Image8;
using qtest::referenceScore;
using Params = qsrch_normalizedCorrelationParams;

bool sameOrBothNaN(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Both routes (0x10000 pattern pixels take the integer one, 0x10001 the
// double one, which the inner-product kernels asked for show). No mask, a
// mask record without pixels and an all-255 mask give the plain grey score;
// care values below 255 make the care count round down, and then vp may
// turn negative and the covariance score NaN, which must match NaN.
TEST(SingleScore, MatchesThePixelStatisticsItIsDefinedOn)
{
    uint32_t seed = 0;
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{
             {1, 1}, {7, 2}, {8, 13}, {9, 1}, {15, 13}, {16, 2}, {17, 1}, {31, 9}, {256, 256}, {257, 256}}) {
        std::mt19937 rng(++seed);
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::vector<Image8> pattern(3, Image8(w, h, w + 3)), image(3, Image8(w, h, w + 7));
        Image8 mask(w, h, w + 1), full(w, h, w + 2);
        qimg_windowConst p[3], i[3];
        for (int k = 0; k < 3; ++k) {
            pattern[k].randomize(rng), image[k].randomize(rng);
            p[k] = pattern[k].window(), i[k] = image[k].window();
        }
        mask.randomMask(rng, 0.7);
        full.fill(255);
        qimg_windowConst m = mask.window(), all = full.window(), unbound = m;
        unbound.firstPixel = nullptr;
        const bool large = w * h > 0x10000;
        const double unit[3] = {1, 1, 1}, mixed[3] = {0.25, 3, 1.5};
        auto single = [&](const qimg_windowConst* maskView, const Params& params) {
            double score = -1;
            EXPECT_EQ(qsrch_DcomputeNormalizedCorrelationSpace(&p[0], maskView, &i[0], &params, &score, 0),
                      QSRCH_OK);
            return score;
        };
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(mode.name);
            const Params& params = mode.params;
            const double plain = single(nullptr, params);
            EXPECT_TRUE(qtest::closeRelative(plain, referenceScore({&pattern[0], &image[0]}, params), 1e-12L));
            EXPECT_EQ(single(&unbound, params), plain);
            EXPECT_EQ(single(&all, params), plain);
            const qtest::Stats s = qtest::singleScoreStats(pattern[0], &mask, image[0]);
            double expected = -1;
            if (large)
                (void)qsrch_DscoreFromStats(&params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &expected);
            else
                (void)qsrch_scoreFromStats(&params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &expected);
            EXPECT_PRED2(sameOrBothNaN, single(&m, params), expected);

            for (const double* weights : {unit, mixed})
                for (const qimg_windowConst* maskView : {&unbound, &m}) {
                    SCOPED_TRACE(maskView == &m ? "three planes, masked" : "three planes");
                    std::array<qtest::Stats, 3> t;
                    for (int k = 0; k < 3; ++k)
                        t[k] = qtest::singleScoreStats(pattern[k], maskView == &m ? &mask : nullptr, image[k]);
                    double want = -1, score = -1, integerScore = -1;
                    (void)qsrch_DscoreFromStats3(&params, weights, t[0].N, t[0].Sp, t[1].Sp, t[2].Sp, t[0].Spp,
                                           t[1].Spp, t[2].Spp, t[0].IP, t[1].IP, t[2].IP, t[0].Si, t[1].Si,
                                           t[2].Si, t[0].Sii, t[1].Sii, t[2].Sii, &want);
                    qtest::InhibitSwitch inhibit;
                    ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationSpace3(&p[0], &p[1], &p[2], maskView, &i[0],
                                                                        &i[1], &i[2], &params, weights, &score, 0),
                              QSRCH_OK);
                    EXPECT_PRED2(sameOrBothNaN, score, want);
                    const auto& asked = inhibit.asked();
                    EXPECT_EQ(std::count(asked.begin(), asked.end(), u"qsrch_innerProducts"), large ? 0 : 3);
                    EXPECT_EQ(std::count(asked.begin(), asked.end(), u"qsrch_DinnerProducts") >= 3, large);
                    const qsrch_status status = qsrch_computeNormalizedCorrelationSpace3(
                        &p[0], &p[1], &p[2], maskView, &i[0], &i[1], &i[2], &params, weights, &integerScore, 7);
                    EXPECT_EQ(status, large ? QSRCH_E_PATTERN_TOO_LARGE : QSRCH_OK);
                    EXPECT_TRUE(large || sameOrBothNaN(integerScore, score));
                }
        }
        double score;
        if (large)  // scratch for double statistics
            qtest::expectAllocationFailuresClean([&] {
                return qsrch_DcomputeNormalizedCorrelationSpace(&p[0], &m, &i[0], &qtest::allModes()[0].params,
                                                                &score, 0);
            });
        qtest::expectAllocationFailuresClean([&] {
            return qsrch_DcomputeNormalizedCorrelationSpace3(&p[0], &p[1], &p[2], &m, &i[0], &i[1], &i[2],
                                                             &qtest::allModes()[0].params, mixed, &score, 0);
        });
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
        pattern.randomize(rng), patternMask.randomMask(rng, 0.6);
        image.randomize(rng), runtimeMask.randomMask(rng, 0.8);
        const qimg_windowConst p = pattern.window(), i = image.window(), rm = runtimeMask.window();
        qimg_windowConst pm = patternMask.window(), unbound = pm;
        unbound.firstPixel = nullptr;
        for (const qimg_windowConst* mask : {&pm, static_cast<qimg_windowConst*>(nullptr), &unbound}) {
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
            ASSERT_EQ(mask == &pm ? qsrch_DcomputeMaskSumISumISq(mask, &i, wantU[0].data(), want[1].data(), stride)
                                  : qsrch_DcomputeSumISumISq(&p, &i, wantU[0].data(), want[1].data(), stride),
                      QSRCH_OK);
            ASSERT_EQ(qsrch_DcomputeMaskPatSumPatSumSq(&p, mask, &rm, wantU[1].data(), wantU[2].data(),
                                                       want[2].data(), stride),
                      QSRCH_OK);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(got[k] == want[k] && gotU[k] == wantU[k]) << "plane " << k;
            if (w * h > 0x10000) qtest::expectAllocationFailuresClean(run);
            qtest::AttentionCounter attention(QSYS_STATUS(0x80001234u));
            EXPECT_EQ(run(), nx * ny > 31 ? QSYS_STATUS(0x80001234u) : QSRCH_OK);
        }
    }
}

}  // namespace
