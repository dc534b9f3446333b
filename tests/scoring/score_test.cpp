// Score, contrast and brightness of one placement, grey and three-plane,
// against references from the placement's pixels in long double, and the
// integer score's exactness for statistics near the 32-bit limits.
#include <array>
#include <limits>

#include "reference.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using qtest::Image8;
using qtest::Placement;
using qtest::closeRelative;
using Params = qsrch_normalizedCorrelationParams;
using Stats3 = std::array<qtest::Stats, 3>;

double score(const Params& p, const qtest::Stats& s, bool fromDoubles = true)
{
    double r = -1;
    EXPECT_EQ(fromDoubles ? qsrch_DscoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &r)
                          : qsrch_scoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &r),
              QSRCH_OK);
    return r;
}

double score3(const Params& p, const double* w, const Stats3& s)
{
    double r = -1;
    EXPECT_EQ(qsrch_DscoreFromStats3(&p, w, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp,
                                     s[0].IP, s[1].IP, s[2].IP, s[0].Si, s[1].Si, s[2].Si, s[0].Sii, s[1].Sii,
                                     s[2].Sii, &r),
              QSRCH_OK);
    return r;
}

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
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats3(s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp,
                                                            s[1].Spp, s[2].Spp, s[0].Si, s[1].Si, s[2].Si,
                                                            s[0].Sii, s[1].Sii, s[2].Sii, w, &c, &b),
              QSRCH_OK);
    return {c, b};
}

// N*Spp and its like reach 2^64 here: a signed 64-bit product wraps.
TEST(ScoreFromStats, IntegerTermsStayExactNearThe32BitLimit)
{
    const uint32_t top = std::numeric_limits<uint32_t>::max();
    const qtest::Stats equal{top, 0, top, 0, top, top};
    EXPECT_EQ(score(qtest::scoreParams(0, 0, 0), equal, false), 1.0);
    EXPECT_EQ(score(qtest::scoreParams(0, 1, 0), equal, false), 0.0);
    std::mt19937_64 rng(3);
    for (int i = 0; i < 2000; ++i) {
        uint32_t v[6];
        for (uint32_t& x : v) x = rng() % 3 == 0 ? uint32_t(rng()) : top - uint32_t(rng() % 4096);
        const qtest::Stats s{v[0], v[1], v[2], v[3], v[4], v[5]};
        __extension__ typedef __int128 I;
        const I cov = I(s.N) * s.IP - I(s.Sp) * s.Si, vp = I(s.N) * s.Spp - I(s.Sp) * s.Sp,
                vi = I(s.N) * s.Sii - I(s.Si) * s.Si;
        for (const auto& [name, p] : qtest::allModes()) {
            const I signedCov = p.absoluteCorrelation ? (cov < 0 ? -cov : cov) : p.negativeCorrelation ? -cov : cov;
            long double expected = 0;
            if (p.covarianceScore && vp != 0)
                expected = (long double)cov / (std::sqrt((long double)vp) * s.N);  // NaN for vp < 0
            else if (!p.covarianceScore && signedCov > 0 && vi != 0 && vp != 0)
                expected = (long double)signedCov * signedCov / ((long double)vi * vp);
            const double actual = score(p, s, false);
            EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual) : closeRelative(actual, expected, 1e-13L))
                << i << " " << name;
        }
    }
}

// A positive covariance over a zero variance scores 0 in every correlation
// mode; covariance mode divides by the pattern's deviation only.
TEST(ScoreFromStats, PositiveCovarianceOverZeroVarianceScoresZero)
{
    const qtest::Stats flatPattern{4, 4, 4, 0, 5, 3}, flatImage{4, 2, 5, 8, 16, 10};
    for (const auto& mode : qtest::allModes())
        for (const bool fromDoubles : {true, false}) {
            EXPECT_EQ(score(mode.params, flatPattern, fromDoubles), 0.0) << mode.name;
            EXPECT_EQ(score(mode.params, flatImage, fromDoubles), mode.params.covarianceScore ? 1.5 : 0.0)
                << mode.name;
        }
}

// The weighted score in long double from exact integer statistics.
long double referenceScore3(const Stats3& s, const double* w, const Params& params)
{
    const long double N = s[0].N;
    long double ip = 0, spsi = 0, spp = 0, sp2 = 0, sii = 0, si2 = 0;
    for (int k = 0; k < 3; ++k) {
        const long double wk = w[k], Sp = s[k].Sp, Si = s[k].Si;
        ip += wk * s[k].IP, spsi += wk * Sp * Si, spp += wk * s[k].Spp;
        sp2 += wk * Sp * Sp, sii += wk * s[k].Sii, si2 += wk * Si * Si;
    }
    long double cov = N * ip - spsi;
    const long double vp = N * spp - sp2, vi = N * sii - si2;
    if (params.covarianceScore) return vp == 0 ? 0.0L : cov / (N * std::sqrt(vp));
    cov = params.absoluteCorrelation ? std::fabs(cov) : params.negativeCorrelation ? -cov : cov;
    return cov > 0 && vi * vp != 0 ? cov * cov / (vi * vp) : 0.0L;
}

// Random placements under a care mask (a value other than 255 included) of
// images unrelated, following or inverted: scores against the centred
// references; contrast is the deviation ratio, brightness the least-squares
// factor minimising sum w_k (Si_k - b Sp_k)^2.
TEST(ScoreFromStats, RealPlacementsMatchCentredReferences)
{
    const double first[3] = {1, 0, 0}, none[3] = {0, 0, 0};
    std::uniform_real_distribution<double> u(0.01, 2);
    for (uint32_t seed = 0; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        const int32_t w = 1 + int32_t(rng() % 20), h = 1 + int32_t(rng() % 20);
        SCOPED_TRACE("seed " + std::to_string(seed));
        Image8 care(w, h), pattern[3] = {Image8(w, h, w + 3), Image8(w, h), Image8(w, h)}, image[3];
        care.randomMask(rng, 0.8);
        care.at(0, 0) = 7;
        Stats3 s, same;
        for (int k = 0; k < 3; ++k) {
            const int lo = int(rng() % 200), kind = int(rng() % 4);  // unrelated, following, inverted, flat
            pattern[k].randomize(rng, lo, lo + 1 + int(rng() % (255 - lo)));
            image[k] = Image8(w, h, w + 5);
            image[k].randomize(rng);
            for (int32_t y = 0; y < h && kind; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const int p = pattern[k].at(x, y), noise = int(rng() % 41) - 20;
                    const int v = kind == 1 ? p / 2 + 60 + noise : kind == 2 ? 255 - p + noise : 90 + noise / 10;
                    image[k].at(x, y) = uint8_t(std::clamp(v, 0, 255));
                }
            s[k] = Placement{&pattern[k], &image[k], &care}.stats();
        }
        same.fill(s[0]);
        const Placement grey{&pattern[0], &image[0], seed % 2 ? &care : nullptr};
        const qtest::Stats g = grey.stats();
        const double weights[][3] = {{1, 1, 1}, {0.299, 0.587, 0.114}, {2, 0, 0.5}, {u(rng), u(rng), u(rng)}};
        for (const auto& [name, p] : qtest::allModes()) {
            SCOPED_TRACE(name);
            const double fromIntegers = score(p, g, false);
            EXPECT_TRUE(closeRelative(fromIntegers, qtest::referenceScore(grey, p), 1e-12L));
            EXPECT_EQ(fromIntegers, score(p, g));  // exact statistics: the same roundings
            for (const auto& wk : weights) {
                const long double want = referenceScore3(s, wk, p);
                EXPECT_NEAR(score3(p, wk, s), want, 1e-12L * std::max(1.0L, std::fabs(want)));
            }
            // Covariance mode: three equal planes give sqrt(3) times the grey value.
            const double factor = p.covarianceScore ? std::sqrt(3.0) : 1.0;
            EXPECT_TRUE(closeRelative(score3(p, weights[0], same), factor * score(p, s[0]), 1e-14));
            EXPECT_TRUE(score3(p, first, s) == score(p, s[0]) && score3(p, none, s) == 0.0);
        }
        long double c, vp, vi, n;
        grey.centred(c, vp, vi, n);
        if (vp * 16 >= n && vi * 16 >= n && g.Sp != 0) {  // degenerate cases are tested below
            const auto [contrast, brightness] = contrastBrightness(g.N, g.Sp, g.Spp, g.Si, g.Sii);
            EXPECT_TRUE(closeRelative(contrast, std::sqrt(vi / vp), 1e-9L));
            EXPECT_TRUE(closeRelative(brightness, static_cast<long double>(g.Si) / g.Sp, 1e-15L));
        }
        const auto grey0 = contrastBrightness(s[0].N, s[0].Sp, s[0].Spp, s[0].Si, s[0].Sii);
        const auto plane0 = contrastBrightness3(s, first);
        EXPECT_TRUE(plane0.first == grey0.first && closeRelative(plane0.second, grey0.second, 1e-15));
        EXPECT_EQ(contrastBrightness3(s, none), std::make_pair(1.0, 1.0));
        const double* wk = weights[3];
        const auto [c3, b3] = contrastBrightness3(s, wk);
        long double wvp = 0, wvi = 0, cross = 0, squares = 0;
        for (int k = 0; k < 3; ++k) {
            const long double N = s[k].N, mp = s[k].Sp / N, mi = s[k].Si / N, Sp = s[k].Sp, Si = s[k].Si;
            wvp += wk[k] * (s[k].Spp / N - mp * mp), wvi += wk[k] * (s[k].Sii / N - mi * mi);
            cross += wk[k] * Sp * Si, squares += wk[k] * Sp * Sp;
        }
        EXPECT_TRUE(closeRelative(c3, wvp == 0 ? 1.0L : std::sqrt(std::fabs(wvi / wvp)), 1e-10));
        EXPECT_TRUE(closeRelative(b3, cross / squares, 1e-13));
    }
}

// No care count (NaN too) gives 1 and 1; a constant pattern still has a
// brightness ratio, one summing to 0 none; a constant image's contrast is
// tiny, never NaN.
TEST(ContrastAndBrightness, DegenerateStatistics)
{
    const double w[3] = {1, 2, 3};
    double c = -1, b = -1;
    for (double n : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(contrastBrightness(n, 10, 100, 20, 300), std::make_pair(1.0, 1.0));
        qsrch_DcomputeContrastAndBrightnessFromStats3(n, 5, 6, 7, 50, 60, 70, 8, 9, 10, 80, 90, 100, w, &c, &b);
        EXPECT_EQ(std::make_pair(c, b), std::make_pair(1.0, 1.0));
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
