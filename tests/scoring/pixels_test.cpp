// Scoring entry points that read pixels: the single score, grey and three-plane, and runtime-masked sums.
#include "reference.hpp"

namespace {

using namespace qtest;

bool sameOrBothNaN(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Pattern sums and inner product over every pixel, image sums over the mask's, the care count the mask's sum over 255.
Stats singleStats(const Image8& pattern, const Image8* mask, const Image8& image)
{
    Stats s = placement(pattern, image);
    if (mask == nullptr) return s;
    const Stats cared = placement(pattern, image, mask);
    s.N = 0, s.Si = cared.Si, s.Sii = cared.Sii;
    for (int32_t y = 0; y < mask->height(); ++y)
        for (int32_t x = 0; x < mask->width(); ++x) s.N += mask->at(x, y);
    s.N /= 255;
    return s;
}

// Both routes; an absent or all-255 mask gives the plain score; care values below 255 round the count down.
TEST(SingleScore, MatchesThePixelStatisticsItIsDefinedOn)
{
    uint32_t seed = 0;
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{
             {1, 1}, {7, 2}, {8, 13}, {9, 1}, {15, 13}, {16, 2}, {17, 1}, {31, 9}, {256, 256}, {257, 256}}) {
        std::mt19937 rng(++seed);
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::vector<Image8> pattern(3, Image8(w, h, w + 3)), image(3, Image8(w, h, w + 7));
        Image8 mask(w, h, w + 1), full(w, h, w + 2);
        qimg_windowConst p[3], i[3];
        for (int k = 0; k < 3; ++k) {
            pattern[k].randomize(rng), image[k].randomize(rng);
            p[k] = pattern[k].window(), i[k] = image[k].window();
        }
        mask.randomMask(rng, 0.7), full.fill(255);
        const qimg_windowConst m = mask.window(), all = full.window(), unbound = withoutPixels(m);
        const bool large = w * h > 0x10000;
        const double mixed[3] = {0.25, 3, 1.5};
        auto space3 = [&](auto form, const qimg_windowConst* maskView, const Params& params, double* out, uint32_t at) {
            return form(&p[0], &p[1], &p[2], maskView, &i[0], &i[1], &i[2], &params, mixed, out, at);
        };
        auto single = [&](const qimg_windowConst* maskView, const Params& params) {
            double score = -1;
            EXPECT_EQ(qsrch_DcomputeNormalizedCorrelationSpace(&p[0], maskView, &i[0], &params, &score, 0), QSRCH_OK);
            return score;
        };
        // The brute-force statistics do not depend on the mode: gathered once.
        const Stats whole = placement(pattern[0], image[0]);
        const Stats s = singleStats(pattern[0], &mask, image[0]);
        Stats3 planeStats[2];
        for (int k = 0; k < 3; ++k) {
            planeStats[0][k] = singleStats(pattern[k], nullptr, image[k]);
            planeStats[1][k] = singleStats(pattern[k], &mask, image[k]);
        }
        for (const Params& params : allModes()) {
            SCOPED_TRACE(modeName(params));
            const double plain = single(nullptr, params);
            const long double reference = referenceScore(whole, params);
            EXPECT_TRUE(closeRelative(plain, reference, 1e-12L));
            EXPECT_TRUE(single(&unbound, params) == plain && single(&all, params) == plain);
            double score = -1, integerScore = -1;
            EXPECT_PRED2(sameOrBothNaN, single(&m, params), scoreOf(params, s, large));
            for (const qimg_windowConst* maskView : {&unbound, &m}) {
                const Stats3& t = planeStats[maskView == &m];
                ASSERT_EQ(space3(qsrch_DcomputeNormalizedCorrelationSpace3, maskView, params, &score, 0), QSRCH_OK);
                EXPECT_PRED2(sameOrBothNaN, score, score3Of(params, mixed, t));
                EXPECT_EQ(space3(qsrch_computeNormalizedCorrelationSpace3, maskView, params, &integerScore, 7),
                          large ? QSRCH_E_PATTERN_TOO_LARGE : QSRCH_OK);
                EXPECT_TRUE(large || sameOrBothNaN(integerScore, score));
            }
        }
        double score;
        if (large)  // scratch for double statistics
            expectAllocationFailuresClean([&] {
                return qsrch_DcomputeNormalizedCorrelationSpace(&p[0], &m, &i[0], &allModes()[0], &score, 0);
            });
        expectAllocationFailuresClean(
            [&] { return space3(qsrch_DcomputeNormalizedCorrelationSpace3, &m, allModes()[0], &score, 0); });
    }
}

// Inner products and image sums over the pattern mask, counts and pattern sums where the runtime mask cares too.
TEST(SumsRuntimeMasked, MatchBruteForce)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        const int w = seed == 40 ? 260 : 1 + int(rng() % 17), h = seed == 40 ? 256 : 1 + int(rng() % 9);
        KernelCase c(rng, w, h, w + int(rng() % 31), h + int(rng() % 6), 0.6, 0.8, int(rng() % 4));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) c.pattern.at(x, y) *= c.patternMask.at(x, y) != 0;
        const qimg_windowConst* const masks[] = {&c.pm, nullptr, &c.absentMask};
        for (const qimg_windowConst* mask : masks) {
            SCOPED_TRACE(c.describe() + (mask == &c.pm ? ", masked" : ", no mask"));
            Outputs o(c);
            std::vector<double> d[2] = {o.d, o.d};
            ASSERT_EQ(qsrch_DcomputeSumsRuntimeMasked(&c.p, mask, &c.i, &c.im, c.outStride, o.d.data(), o.u[0].data(),
                                                      d[0].data(), o.u[1].data(), o.u[2].data(), d[1].data()), 0u);
            const auto& ref = c.reference(kImageMask | (mask == &c.pm ? unsigned{kPatternMask} : 0u));
            auto expectPlane = [&](const auto& out, Stat stat) {
                expectOutput(out, c.outStride, c.nx, c.ny,
                             [&](int64_t x, int64_t y) { return ref[y * c.nx + x][stat]; });
            };
            expectPlane(o.d, kIp), expectPlane(d[0], kSumII), expectPlane(d[1], kSumPP);
            expectPlane(o.u[0], kSumI), expectPlane(o.u[1], kCount), expectPlane(o.u[2], kSumP);
        }
    }
}

}  // namespace
