// Score, contrast and brightness of one placement against references
// computed from the placement's pixels in long double, and the integer
// score's exactness for statistics near the 32-bit limits.
#include <cmath>
#include <limits>
#include <random>

#include "reference.hpp"

namespace {

using qtest::Image8;
using qtest::Placement;

// A random pattern and a same-sized image related to it in one of several
// ways, with a care mask half of the time.
struct RandomPlacement {
    Image8 pattern, image, care;
    bool masked;

    RandomPlacement(std::mt19937& rng, int32_t w, int32_t h)
        : pattern(w, h, w + 3), image(w, h, w + 5), care(w, h), masked(rng() % 2 == 0)
    {
        const int lo = static_cast<int>(rng() % 200);
        pattern.randomize(rng, lo, lo + 1 + static_cast<int>(rng() % (255 - lo)));
        std::uniform_int_distribution<int> noise(-20, 20);
        const unsigned kind = rng() % 4;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int p = pattern.at(x, y);
                int v = kind == 0   ? static_cast<int>(rng() % 256)
                        : kind == 1 ? p / 2 + 60 + noise(rng)
                        : kind == 2 ? 255 - p + noise(rng)
                                    : 90 + noise(rng) / 10;
                image.at(x, y) = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        care.randomMask(rng, 0.7);
    }
    Placement placement() const { return {&pattern, &image, masked ? &care : nullptr}; }
};

double intScore(const qsrch_normalizedCorrelationParams& p, const qtest::Stats& s)
{
    double score = -1;
    EXPECT_EQ(qsrch_scoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score), QSRCH_OK);
    return score;
}

double doubleScore(const qsrch_normalizedCorrelationParams& p, const qtest::Stats& s)
{
    double score = -1;
    EXPECT_EQ(qsrch_DscoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score), QSRCH_OK);
    return score;
}

struct ContrastBrightness {
    double contrast = -1, brightness = -1, contrastOnly = -1;
};

ContrastBrightness contrastBrightness(double n, double sp, double spp, double si, double sii)
{
    ContrastBrightness r;
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats(n, sp, spp, si, sii, &r.contrast, &r.brightness),
              QSRCH_OK);
    EXPECT_EQ(qsrch_DcomputeContrastFromStats(n, sp, spp, si, sii, &r.contrastOnly), QSRCH_OK);
    // The contrast-only form must agree bit for bit, NaN included.
    EXPECT_TRUE(r.contrastOnly == r.contrast || (std::isnan(r.contrast) && std::isnan(r.contrastOnly)));
    return r;
}

TEST(FromStats, RealPlacementsMatchCentredReference)
{
    for (uint32_t seed = 0; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        const int32_t w = 1 + static_cast<int32_t>(rng() % 24), h = 1 + static_cast<int32_t>(rng() % 24);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(w) + "x" + std::to_string(h));
        RandomPlacement r(rng, w, h);
        const Placement placement = r.placement();
        const qtest::Stats s = placement.stats();
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(mode.name);
            const long double expected = qtest::referenceScore(placement, mode.params);
            const double fromIntegers = intScore(mode.params, s);
            EXPECT_TRUE(qtest::closeRelative(fromIntegers, expected, 1e-12L));
            // Exact statistics make both forms perform the same roundings.
            EXPECT_EQ(fromIntegers, doubleScore(mode.params, s));
        }
        long double c, vp, vi, n;
        placement.centred(c, vp, vi, n);
        if (vp * 16 < n || vi * 16 < n || s.Sp == 0) continue;  // degenerate cases are tested below
        const ContrastBrightness got = contrastBrightness(s.N, s.Sp, s.Spp, s.Si, s.Sii);
        EXPECT_TRUE(qtest::closeRelative(got.contrast, std::sqrt(vi / vp), 1e-9L));
        EXPECT_TRUE(qtest::closeRelative(got.brightness, static_cast<long double>(s.Si) / s.Sp, 1e-15L));
    }
}

TEST(ScoreFromStats, PolarityOfPatternInverseAndConstants)
{
    std::mt19937 rng(7);
    Image8 pattern(13, 9), inverse(13, 9), flat(13, 9);
    pattern.randomize(rng, 10, 240);
    flat.fill(77);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 13; ++x) inverse.at(x, y) = static_cast<uint8_t>(255 - pattern.at(x, y));
    long double c, vp, vi, n;
    Placement{&pattern, &pattern}.centred(c, vp, vi, n);
    const double sigma = static_cast<double>(std::sqrt(vp / n));

    struct Case {
        const char* name;
        Placement placement;
        double expected[6];  // in the order of allModes()
    } cases[] = {
        {"pattern itself", {&pattern, &pattern}, {1, 1, 0, 1, sigma, sigma}},
        {"inverse", {&pattern, &inverse}, {0, 1, 1, 1, -sigma, -sigma}},
        {"constant pattern", {&flat, &pattern}, {0, 0, 0, 0, 0, 0}},
        {"constant image", {&pattern, &flat}, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& k : cases) {
        const qtest::Stats s = k.placement.stats();
        for (size_t m = 0; m < qtest::allModes().size(); ++m) {
            SCOPED_TRACE(std::string(k.name) + ", " + qtest::allModes()[m].name);
            EXPECT_NEAR(intScore(qtest::allModes()[m].params, s), k.expected[m], 1e-12);
            EXPECT_NEAR(doubleScore(qtest::allModes()[m].params, s), k.expected[m], 1e-12);
        }
    }
}

// N*Spp and its like reach 2^64 here: a signed 64-bit product wraps.
TEST(ScoreFromStats, IntegerTermsStayExactNearThe32BitLimit)
{
    const uint32_t top = std::numeric_limits<uint32_t>::max();
    const qtest::Stats equal{top, 0, top, 0, top, top};
    EXPECT_EQ(intScore(qtest::scoreParams(0, 0, 0), equal), 1.0);
    EXPECT_EQ(intScore(qtest::scoreParams(0, 1, 0), equal), 0.0);
    EXPECT_NEAR(intScore(qtest::scoreParams(0, 0, 1), equal), 1.0, 1e-15);

    std::mt19937_64 rng(3);
    for (int i = 0; i < 2000; ++i) {
        uint32_t v[6];
        for (uint32_t& x : v)
            x = rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : top - static_cast<uint32_t>(rng() % 4096);
        const qtest::Stats s{v[0], v[1], v[2], v[3], v[4], v[5]};
        // Exact terms, then the quotient in long double.
        __extension__ typedef __int128 I;
        const I cov = I(s.N) * s.IP - I(s.Sp) * s.Si, vp = I(s.N) * s.Spp - I(s.Sp) * s.Sp,
                vi = I(s.N) * s.Sii - I(s.Si) * s.Si;
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(std::to_string(i) + " " + mode.name);
            const double actual = intScore(mode.params, s);
            long double expected;
            if (mode.params.covarianceScore) {
                if (vp < 0) {
                    EXPECT_TRUE(std::isnan(actual));
                    continue;
                }
                expected =
                    vp == 0 ? 0.0L
                            : static_cast<long double>(cov) / (std::sqrt(static_cast<long double>(vp)) * s.N);
            } else {
                const I signedCov = mode.params.absoluteCorrelation   ? (cov < 0 ? -cov : cov)
                                    : mode.params.negativeCorrelation ? -cov
                                                                      : cov;
                const long double den = static_cast<long double>(vi) * static_cast<long double>(vp);
                expected = signedCov > 0 && den != 0 ? static_cast<long double>(signedCov) *
                                                           static_cast<long double>(signedCov) / den
                                                     : 0.0L;
            }
            EXPECT_TRUE(qtest::closeRelative(actual, expected, 1e-13L));
        }
    }
}

TEST(ContrastAndBrightness, DegenerateStatistics)
{
    for (double n : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
        const ContrastBrightness r = contrastBrightness(n, 10, 100, 20, 300);
        EXPECT_EQ(r.contrast, 1.0);
        EXPECT_EQ(r.brightness, 1.0);
    }
    // A constant pattern of 16 pixels of 40: no variance, brightness still a ratio.
    ContrastBrightness r = contrastBrightness(16, 16 * 40, 16 * 1600, 800, 50000);
    EXPECT_EQ(r.contrast, 1.0);
    EXPECT_EQ(r.brightness, 800.0 / 640.0);
    // A pattern summing to 0 (values -1 and +1) has a contrast but no brightness ratio.
    r = contrastBrightness(2, 0, 2, 10, 68);
    EXPECT_EQ(r.contrast, std::sqrt(9.0));
    EXPECT_EQ(r.brightness, 1.0);
    // Constant images: rounding may leave the image variance a hair below 0,
    // which must still give a tiny number, not NaN.
    for (int count = 1; count <= 60; ++count)
        for (int value = 1; value < 256; value += 7) {
            r = contrastBrightness(count, count * 3.0, count * 17.0, double(count) * value,
                                   double(count) * value * value);
            EXPECT_FALSE(std::isnan(r.contrast)) << count << " " << value;
            EXPECT_LT(r.contrast, 1e-5) << count << " " << value;
        }
}

}  // namespace
