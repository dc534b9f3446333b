// Score, contrast and brightness of one placement, grey and three-plane, against exact references.
#include "reference.hpp"

namespace {

using namespace qtest;

// Contrast and brightness; the contrast-only form must agree bit for bit.
std::pair<double, double> contrastBrightness(double n, double sp, double spp, double si, double sii)
{
    double c = -1, b = -1, contrastOnly = -1;
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats(n, sp, spp, si, sii, &c, &b), QSRCH_OK);
    EXPECT_EQ(qsrch_DcomputeContrastFromStats(n, sp, spp, si, sii, &contrastOnly), QSRCH_OK);
    EXPECT_TRUE(contrastOnly == c || (std::isnan(c) && std::isnan(contrastOnly)));
    return {c, b};
}

std::pair<double, double> contrastBrightness3(const Stats3& s, const double* w)
{
    double c = -1, b = -1;
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats3(s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp,
                                                            s[2].Spp, s[0].Si, s[1].Si, s[2].Si, s[0].Sii, s[1].Sii,
                                                            s[2].Sii, w, &c, &b),
              QSRCH_OK);
    return {c, b};
}

// Near the 32-bit limit N*Spp reaches 2^64: a signed 64-bit product wraps. A zero variance scores 0 but in
// covariance mode.
TEST(ScoreFromStats, IntegerTermsStayExactNearThe32BitLimit)
{
    const uint32_t top = std::numeric_limits<uint32_t>::max();
    for (const Params& p : allModes())
        for (const bool fromDoubles : {true, false})
            EXPECT_TRUE(scoreOf(p, {4, 4, 4, 0, 5, 3}, fromDoubles) == 0.0 &&
                        scoreOf(p, {4, 2, 5, 8, 16, 10}, fromDoubles) == (p.covarianceScore ? 1.5 : 0.0))
                << modeName(p);
    std::mt19937_64 rng(3);
    for (int i = 0; i < 2000; ++i) {
        uint64_t v[6];
        for (uint64_t& x : v) x = rng() % 3 == 0 ? uint32_t(rng()) : top - uint32_t(rng() % 4096);
        const Stats s{v[0], v[1], v[2], v[3], v[4], v[5]};
        for (const Params& p : allModes()) {
            const long double expected = referenceScore(s, p), actual = scoreOf(p, s);
            EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual) : closeRelative(actual, expected, 1e-13L)) << i;
        }
    }
}

// Placements of related, inverted and flat images; brightness minimises sum w_k (Si_k - b Sp_k)^2.
TEST(ScoreFromStats, RealPlacementsMatchTheirReferences)
{
    const double first[3] = {1, 0, 0}, none[3] = {0, 0, 0};
    std::uniform_real_distribution<double> u(0.01, 2);
    for (uint32_t seed = 0; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        const int32_t w = 1 + int32_t(rng() % 20), h = 1 + int32_t(rng() % 20);
        SCOPED_TRACE("seed " + std::to_string(seed));
        Image8 care(w, h), pattern(w, h, w + 3), image(w, h, w + 5);
        care.randomMask(rng, 0.8), care.at(0, 0) = 7;
        Stats3 s;
        for (int k = 0; k < 3; ++k) {
            const int lo = int(rng() % 200), kind = int(rng() % 4);
            pattern.randomize(rng, lo, lo + 1 + int(rng() % (255 - lo)));
            image.randomize(rng);
            for (int32_t y = 0; y < h && kind; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const int p = pattern.at(x, y), noise = int(rng() % 41) - 20;
                    const int v = kind == 1 ? p / 2 + 60 + noise : kind == 2 ? 255 - p + noise : 90 + noise / 10;
                    image.at(x, y) = uint8_t(std::clamp(v, 0, 255));
                }
            s[k] = placement(pattern, image, seed % 2 ? &care : nullptr);
        }
        const Stats3 same{s[0], s[0], s[0]};
        const double weights[][3] = {{1, 1, 1}, {0.299, 0.587, 0.114}, {2, 0, 0.5}, {u(rng), u(rng), u(rng)}};
        for (const Params& p : allModes()) {
            SCOPED_TRACE(modeName(p));
            const double grey = scoreOf(p, s[0]);
            EXPECT_TRUE(closeRelative(grey, referenceScore(s[0], p), 1e-12L));
            EXPECT_EQ(grey, scoreOf(p, s[0], true));  // exact statistics: the same roundings
            for (const auto& wk : weights) {
                long double ip = 0, spsi = 0, spp = 0, sp2 = 0, sii = 0, si2 = 0;
                for (int k = 0; k < 3; ++k) {
                    const long double Sp = s[k].Sp, Si = s[k].Si, v = wk[k];
                    ip += v * s[k].IP, spsi += v * Sp * Si, spp += v * s[k].Spp;
                    sp2 += v * Sp * Sp, sii += v * s[k].Sii, si2 += v * Si * Si;
                }
                const long double N = s[0].N, vp = N * spp - sp2, vi = N * sii - si2, cov = N * ip - spsi;
                const long double c = p.absoluteCorrelation ? std::fabs(cov) : p.negativeCorrelation ? -cov : cov;
                const long double want = p.covarianceScore ? (vp == 0 ? 0.0L : cov / (N * std::sqrt(vp)))
                                         : c > 0 && vi * vp != 0 ? c * c / (vi * vp) : 0.0L;
                EXPECT_NEAR(score3Of(p, wk, s), want, 1e-12L * std::max(1.0L, std::fabs(want)));
                const auto [c3, b3] = contrastBrightness3(s, wk);  // variances and cross terms of the same sums
                EXPECT_TRUE(closeRelative(c3, vp == 0 ? 1.0L : std::sqrt(std::fabs(vi / vp)), 1e-10) &&
                            closeRelative(b3, spsi / sp2, 1e-13));
            }
            // Covariance mode: three equal planes give sqrt(3) times the grey value.
            const double factor = p.covarianceScore ? std::sqrt(3.0) : 1.0;
            EXPECT_TRUE(closeRelative(score3Of(p, weights[0], same), factor * grey, 1e-14));
            EXPECT_TRUE(score3Of(p, first, s) == grey && score3Of(p, none, s) == 0.0);
        }
        const Stats& g = s[0];
        const long double vp = (long double)g.N * g.Spp - (long double)g.Sp * g.Sp,
                          vi = (long double)g.N * g.Sii - (long double)g.Si * g.Si;
        const auto grey = contrastBrightness(g.N, g.Sp, g.Spp, g.Si, g.Sii);
        const bool degenerate = vp * 16 < g.N * g.N || vi * 16 < g.N * g.N || g.Sp == 0;  // tested below
        EXPECT_TRUE(degenerate || (closeRelative(grey.first, std::sqrt(vi / vp), 1e-9L) &&
                                   closeRelative(grey.second, (long double)g.Si / g.Sp, 1e-15L)));
        const auto plane0 = contrastBrightness3(s, first);
        EXPECT_TRUE(plane0.first == grey.first && closeRelative(plane0.second, grey.second, 1e-15));
        EXPECT_EQ(contrastBrightness3(s, none), std::make_pair(1.0, 1.0));
    }
}

// No care count gives 1 and 1; a pattern summing to 0 has no brightness ratio; flat images' contrast is tiny.
TEST(ContrastAndBrightness, DegenerateStatistics)
{
    const double w[3] = {1, 2, 3};
    double c = -1, b = -1;
    for (double n : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
        qsrch_DcomputeContrastAndBrightnessFromStats3(n, 5, 6, 7, 50, 60, 70, 8, 9, 10, 80, 90, 100, w, &c, &b);
        EXPECT_TRUE(contrastBrightness(n, 10, 100, 20, 300) == std::make_pair(1.0, 1.0) && c == 1.0 && b == 1.0);
    }
    EXPECT_EQ(contrastBrightness(16, 16 * 40, 16 * 1600, 800, 50000), std::make_pair(1.0, 800.0 / 640.0));
    EXPECT_EQ(contrastBrightness(2, 0, 2, 10, 68), std::make_pair(3.0, 1.0));
    qsrch_DcomputeContrastAndBrightnessFromStats3(4, 0, 0, 0, 10, 10, 10, 8, 4, 0, 40, 20, 0, w, &c, &b);
    EXPECT_TRUE(b == 1.0 && std::fabs(c - std::sqrt((20.0 - 6.0) / 15.0)) < 1e-15);
    for (int count = 1; count <= 60; ++count)
        for (int value = 1; value < 256; value += 7)
            EXPECT_TRUE(contrastBrightness(count, count * 3.0, count * 17.0, double(count) * value,
                                           double(count) * value * value).first < 1e-5)  // false for NaN too
                << count << " " << value;
}

}  // namespace
