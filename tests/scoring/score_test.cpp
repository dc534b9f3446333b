// Score, contrast and brightness of one placement against references from
// the placement's pixels in long double, and the integer score's exactness
// for statistics near the 32-bit limits.
#include <limits>

#include "reference.hpp"

namespace {

using qtest::Image8;
using qtest::Placement;

double score(const qsrch_normalizedCorrelationParams& p, const qtest::Stats& s, bool fromDoubles)
{
    double score = -1;
    EXPECT_EQ(fromDoubles ? qsrch_DscoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score)
                          : qsrch_scoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score),
              QSRCH_OK);
    return score;
}

// Contrast and brightness; the contrast-only form must agree bit for bit.
std::pair<double, double> contrastBrightness(double n, double sp, double spp, double si, double sii)
{
    double contrast = -1, brightness = -1, contrastOnly = -1;
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats(n, sp, spp, si, sii, &contrast, &brightness), QSRCH_OK);
    EXPECT_EQ(qsrch_DcomputeContrastFromStats(n, sp, spp, si, sii, &contrastOnly), QSRCH_OK);
    EXPECT_TRUE(contrastOnly == contrast || (std::isnan(contrast) && std::isnan(contrastOnly)));
    return {contrast, brightness};
}

// Random patterns against images unrelated, correlated, inverted or nearly
// flat, with a care mask half of the time.
TEST(FromStats, RealPlacementsMatchCentredReference)
{
    for (uint32_t seed = 0; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        const int32_t w = 1 + int32_t(rng() % 24), h = 1 + int32_t(rng() % 24);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(w) + "x" + std::to_string(h));
        Image8 pattern(w, h, w + 3), image(w, h, w + 5), care(w, h);
        const int lo = int(rng() % 200), kind = int(rng() % 4);
        pattern.randomize(rng, lo, lo + 1 + int(rng() % (255 - lo)));
        std::uniform_int_distribution<int> noise(-20, 20);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int p = pattern.at(x, y), v = kind == 0   ? int(rng() % 256)
                                                    : kind == 1 ? p / 2 + 60 + noise(rng)
                                                    : kind == 2 ? 255 - p + noise(rng)
                                                                : 90 + noise(rng) / 10;
                image.at(x, y) = uint8_t(std::clamp(v, 0, 255));
            }
        care.randomMask(rng, 0.7);
        const Placement placement{&pattern, &image, rng() % 2 ? &care : nullptr};
        const qtest::Stats s = placement.stats();
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(mode.name);
            const double fromIntegers = score(mode.params, s, false);
            EXPECT_TRUE(qtest::closeRelative(fromIntegers, qtest::referenceScore(placement, mode.params), 1e-12L));
            EXPECT_EQ(fromIntegers, score(mode.params, s, true));  // exact statistics: the same roundings
        }
        long double c, vp, vi, n;
        placement.centred(c, vp, vi, n);
        if (vp * 16 < n || vi * 16 < n || s.Sp == 0) continue;  // degenerate cases are tested below
        const auto [contrast, brightness] = contrastBrightness(s.N, s.Sp, s.Spp, s.Si, s.Sii);
        EXPECT_TRUE(qtest::closeRelative(contrast, std::sqrt(vi / vp), 1e-9L));
        EXPECT_TRUE(qtest::closeRelative(brightness, static_cast<long double>(s.Si) / s.Sp, 1e-15L));
    }
}

// N*Spp and its like reach 2^64 here: a signed 64-bit product wraps.
TEST(ScoreFromStats, IntegerTermsStayExactNearThe32BitLimit)
{
    const uint32_t top = std::numeric_limits<uint32_t>::max();
    const qtest::Stats equal{top, 0, top, 0, top, top};
    EXPECT_EQ(score(qtest::scoreParams(0, 0, 0), equal, false), 1.0);
    EXPECT_EQ(score(qtest::scoreParams(0, 1, 0), equal, false), 0.0);
    EXPECT_NEAR(score(qtest::scoreParams(0, 0, 1), equal, false), 1.0, 1e-15);
    std::mt19937_64 rng(3);
    for (int i = 0; i < 2000; ++i) {
        uint32_t v[6];
        for (uint32_t& x : v) x = rng() % 3 == 0 ? uint32_t(rng()) : top - uint32_t(rng() % 4096);
        const qtest::Stats s{v[0], v[1], v[2], v[3], v[4], v[5]};
        // Exact terms, then the quotient in long double.
        __extension__ typedef __int128 I;
        const I cov = I(s.N) * s.IP - I(s.Sp) * s.Si, vp = I(s.N) * s.Spp - I(s.Sp) * s.Sp,
                vi = I(s.N) * s.Sii - I(s.Si) * s.Si;
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(std::to_string(i) + " " + mode.name);
            const double actual = score(mode.params, s, false);
            const auto& p = mode.params;
            if (p.covarianceScore && vp < 0) {
                EXPECT_TRUE(std::isnan(actual));
                continue;
            }
            using L = long double;
            const I signedCov = p.absoluteCorrelation   ? (cov < 0 ? -cov : cov)
                                : p.negativeCorrelation ? -cov
                                                        : cov;
            L expected = 0;
            if (p.covarianceScore && vp != 0)
                expected = L(cov) / (std::sqrt(L(vp)) * s.N);
            else if (!p.covarianceScore && signedCov > 0 && vi != 0 && vp != 0)
                expected = L(signedCov) * L(signedCov) / (L(vi) * L(vp));
            EXPECT_TRUE(qtest::closeRelative(actual, expected, 1e-13L));
        }
    }
}

TEST(ContrastAndBrightness, DegenerateStatistics)
{
    for (double n : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(contrastBrightness(n, 10, 100, 20, 300), std::make_pair(1.0, 1.0));
    // A constant pattern (16 pixels of 40): no variance, brightness still a ratio.
    EXPECT_EQ(contrastBrightness(16, 16 * 40, 16 * 1600, 800, 50000), std::make_pair(1.0, 800.0 / 640.0));
    // A pattern summing to 0 (values -1 and +1) has a contrast but no brightness ratio.
    EXPECT_EQ(contrastBrightness(2, 0, 2, 10, 68), std::make_pair(3.0, 1.0));
    // Constant images: rounding may leave the image variance a hair below 0,
    // which must still give a tiny number, not NaN.
    for (int count = 1; count <= 60; ++count)
        for (int value = 1; value < 256; value += 7) {
            const double contrast = contrastBrightness(count, count * 3.0, count * 17.0, double(count) * value,
                                                       double(count) * value * value).first;
            EXPECT_TRUE(contrast < 1e-5) << count << " " << value;  // false for NaN too
        }
}

}  // namespace
