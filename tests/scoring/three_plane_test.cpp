// Three-plane scores: the weighted score, contrast and brightness against
// long-double references and against the grey forms they reduce to; the
// spaces against per-position scores; the single score on both routes, with
// its allocation failures.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "peak_support.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using Params = qsrch_normalizedCorrelationParams;
using qtest::Image8;
using Stats3 = std::array<qtest::Stats, 3>;

constexpr double kSentinel = -12345.5;

// Scores agree to 1e-12 of their size, and to 1e-12 absolute below 1: a
// correlation near 0 rounds like one near 1.
::testing::AssertionResult closeScore(double actual, long double expected)
{
    if (std::fabs(actual - expected) <= 1e-12L * std::max(1.0L, std::fabs(expected)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << actual << ", expected " << double(expected);
}

const std::vector<std::array<double, 3>> kWeights = {
    {1, 1, 1}, {0.299, 0.587, 0.114}, {2, 0, 0.5}, {0.25, 3, 1.5}};

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
    if (params.absoluteCorrelation)
        cov = std::fabs(cov);
    else if (params.negativeCorrelation)
        cov = -cov;
    return cov > 0 && vi * vp != 0 ? cov * cov / (vi * vp) : 0.0L;
}

double score3(const Params& p, const double* w, const Stats3& s)
{
    double score = kSentinel;
    EXPECT_EQ(qsrch_DscoreFromStats3(&p, w, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp,
                                     s[2].Spp, s[0].IP, s[1].IP, s[2].IP, s[0].Si, s[1].Si, s[2].Si,
                                     s[0].Sii, s[1].Sii, s[2].Sii, &score),
              QSRCH_OK);
    return score;
}

double greyScore(const Params& p, const qtest::Stats& s)
{
    double score = kSentinel;
    EXPECT_EQ(qsrch_DscoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &score), QSRCH_OK);
    return score;
}

std::array<double, 2> contrastBrightness3(const Stats3& s, const double* w)
{
    std::array<double, 2> out{kSentinel, kSentinel};
    EXPECT_EQ(qsrch_DcomputeContrastAndBrightnessFromStats3(
                  s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp, s[0].Si, s[1].Si,
                  s[2].Si, s[0].Sii, s[1].Sii, s[2].Sii, w, &out[0], &out[1]),
              QSRCH_OK);
    return out;
}

// Three pattern planes and a same-sized image whose planes follow the
// pattern's (directly, inverted or not at all) under one shared care mask.
// identical: all three planes are plane 0.
Stats3 randomPlacement3(std::mt19937& rng, bool identical)
{
    const int32_t w = 1 + int32_t(rng() % 12), h = 1 + int32_t(rng() % 12);
    std::vector<Image8> pattern(3, Image8(w, h)), image(3, Image8(w, h));
    Image8 care(w, h);
    care.randomMask(rng, 0.8);
    care.at(0, 0) = 7;
    std::uniform_int_distribution<int> noise(-30, 30);
    for (int k = 0; k < 3; ++k) {
        pattern[k].randomize(rng);
        const unsigned kind = rng() % 3;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int p = pattern[k].at(x, y);
                const int v = kind == 0 ? p / 2 + 50 : kind == 1 ? 255 - p : int(rng() % 256);
                image[k].at(x, y) = uint8_t(std::clamp(v + noise(rng), 0, 255));
            }
    }
    Stats3 s;
    for (int k = 0; k < 3; ++k) {
        const int j = identical ? 0 : k;
        s[k] = qtest::Placement{&pattern[j], &image[j], &care}.stats();
    }
    return s;
}

// Against the long-double reference, the grey forms the weights reduce it
// to, and for contrast and brightness the weighted deviation ratio and the
// least-squares factor b minimising sum w_k (Si_k - b Sp_k)^2.
TEST(ThreePlaneScore, MatchesReferencesAndReducesToTheGreyForms)
{
    std::mt19937 rng(3);
    const double all[3] = {1, 1, 1}, first[3] = {1, 0, 0}, none[3] = {0, 0, 0};
    std::uniform_real_distribution<double> u(0.01, 2);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Stats3 same = randomPlacement3(rng, true), distinct = randomPlacement3(rng, false);
        std::vector<std::array<double, 3>> weights = kWeights;
        weights.push_back({u(rng), u(rng), u(rng)});
        for (const auto& mode : qtest::allModes()) {
            SCOPED_TRACE(mode.name);
            for (const auto& w : weights)
                EXPECT_TRUE(closeScore(score3(mode.params, w.data(), distinct),
                                       referenceScore3(distinct, w.data(), mode.params)));
            // Covariance mode follows the formula: three equal planes give sqrt(3) times the grey value.
            const double factor = mode.params.covarianceScore ? std::sqrt(3.0) : 1.0;
            EXPECT_TRUE(qtest::closeRelative(score3(mode.params, all, same),
                                             factor * greyScore(mode.params, same[0]), 1e-14));
            EXPECT_EQ(score3(mode.params, first, distinct), greyScore(mode.params, distinct[0]));
            EXPECT_EQ(score3(mode.params, none, distinct), 0.0);
        }
        double contrast = kSentinel, brightness = kSentinel;
        const qtest::Stats& s0 = distinct[0];
        qsrch_DcomputeContrastAndBrightnessFromStats(s0.N, s0.Sp, s0.Spp, s0.Si, s0.Sii, &contrast,
                                                     &brightness);
        const auto plane0 = contrastBrightness3(distinct, first);
        EXPECT_EQ(plane0[0], contrast);
        EXPECT_TRUE(qtest::closeRelative(plane0[1], brightness, 1e-15));
        EXPECT_EQ(contrastBrightness3(distinct, none), (std::array<double, 2>{1.0, 1.0}));

        const double* w = weights.back().data();
        const auto [c3, b3] = contrastBrightness3(distinct, w);
        const long double n = s0.N;
        long double vp = 0, vi = 0, cross = 0, squares = 0;
        for (int k = 0; k < 3; ++k) {
            const qtest::Stats& s = distinct[k];
            const long double mp = s.Sp / n, mi = s.Si / n, Sp = s.Sp, Si = s.Si;
            vp += w[k] * (s.Spp / n - mp * mp), vi += w[k] * (s.Sii / n - mi * mi);
            cross += w[k] * Sp * Si, squares += w[k] * Sp * Sp;
        }
        EXPECT_TRUE(qtest::closeRelative(c3, vp == 0 ? 1.0L : std::sqrt(std::fabs(vi / vp)), 1e-10));
        EXPECT_TRUE(qtest::closeRelative(b3, cross / squares, 1e-13));
    }
}

TEST(ThreePlaneScore, ContrastAndBrightnessWithoutCareOrPatternSums)
{
    // No care count (NaN too) gives 1 and 1; zero pattern sums give brightness 1 only.
    const double w[3] = {1, 2, 3};
    double c = kSentinel, b = kSentinel;
    for (double n : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
        qsrch_DcomputeContrastAndBrightnessFromStats3(n, 5, 6, 7, 50, 60, 70, 8, 9, 10, 80, 90, 100, w, &c,
                                                      &b);
        EXPECT_EQ(c, 1.0);
        EXPECT_EQ(b, 1.0);
    }
    qsrch_DcomputeContrastAndBrightnessFromStats3(4, 0, 0, 0, 10, 10, 10, 8, 4, 0, 40, 20, 0, w, &c, &b);
    EXPECT_EQ(b, 1.0);
    // vp = 60/4, vi = (40 + 40)/4 - (64 + 32)/16.
    EXPECT_DOUBLE_EQ(c, std::sqrt((20.0 - 6.0) / 15.0));
}

// ---- Spaces ----------------------------------------------------------------------

template <class T>
struct Plane {
    int32_t stride;
    std::vector<T> v;
    Plane(int32_t nx, int32_t ny, int32_t slack, T fill) : stride(nx + slack), v(size_t(stride) * ny, fill) {}
    T& at(int32_t x, int32_t y) { return v[size_t(y) * stride + x]; }
    T at(int32_t x, int32_t y) const { return v[size_t(y) * stride + x]; }
};

// Every statistics plane of three pattern planes over three image planes,
// with the pattern planted at one position; `masked` adds a runtime mask.
struct SpaceCase3 {
    int32_t nx, ny;
    bool masked;
    std::vector<Stats3> stats;  // per position
    Stats3 whole;               // unmasked pattern sums
    Plane<uint32_t> N{nx, ny, 1, 0xDEADBEEF};
    std::vector<Plane<uint32_t>> Sp, Spp, Si, Sii, IP;
    std::vector<Plane<double>> SppD, SiiD, IPD;

    SpaceCase3(std::mt19937& rng, int32_t w, int32_t h, int32_t nx_, int32_t ny_, bool masked_)
        : nx(nx_), ny(ny_), masked(masked_), stats(size_t(nx_) * ny_),
          Sp(3, {nx, ny, 1, 0xDEADBEEF}), Spp(Sp), Si(3, {nx, ny, 3, 0xDEADBEEF}), Sii(Si),
          IP(3, {nx, ny, 5, 0xDEADBEEF}), SppD(3, {nx, ny, 1, 1e300}), SiiD(3, {nx, ny, 3, 1e300}),
          IPD(3, {nx, ny, 5, 1e300})
    {
        std::vector<Image8> pattern(3, Image8(w, h)), image(3, Image8(nx + w - 1, ny + h - 1));
        Image8 care(nx + w - 1, ny + h - 1);
        care.randomMask(rng, 0.8);
        const int32_t x0 = int32_t(rng() % nx), y0 = int32_t(rng() % ny);
        for (int k = 0; k < 3; ++k) {
            pattern[k].randomize(rng);
            image[k].randomize(rng);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) image[k].at(x0 + x, y0 + y) = pattern[k].at(x, y);
            whole[k] = qtest::Placement{&pattern[k], &pattern[k]}.stats();
        }
        for (int32_t y = 0; y < ny; ++y)
            for (int32_t x = 0; x < nx; ++x)
                for (int k = 0; k < 3; ++k) {
                    const qtest::Stats s =
                        qtest::Placement{&pattern[k], &image[k], masked ? &care : nullptr, x, y}.stats();
                    stats[size_t(y) * nx + x][k] = s;
                    N.at(x, y) = uint32_t(s.N);
                    Sp[k].at(x, y) = uint32_t(s.Sp), Spp[k].at(x, y) = uint32_t(s.Spp);
                    Si[k].at(x, y) = uint32_t(s.Si), Sii[k].at(x, y) = uint32_t(s.Sii);
                    IP[k].at(x, y) = uint32_t(s.IP);
                    SppD[k].at(x, y) = double(s.Spp), SiiD[k].at(x, y) = double(s.Sii);
                    IPD[k].at(x, y) = double(s.IP);
                }
    }
    // The statistics a form sees at (x, y): one-set forms take the pattern's own sums.
    Stats3 at(int32_t x, int32_t y, bool runtimeMasked) const
    {
        Stats3 s = stats[size_t(y) * nx + x];
        if (!runtimeMasked)
            for (int k = 0; k < 3; ++k)
                s[k].N = whole[k].N, s[k].Sp = whole[k].Sp, s[k].Spp = whole[k].Spp;
        return s;
    }
};

struct Call {
    const double* weights;
    uint32_t width;
    int32_t height;
    const qstd_vector_qstd_pair32* endpoints;
    double* scores;
    int32_t scoresStride;
};

struct Form3 {
    const char* name;
    bool runtimeMasked, endpoints;
    qsrch_status (*run)(const SpaceCase3&, const Params&, const Call&);
};

// The three planes of one statistic, as three arguments.
#define QT_PLANES(P) c.P[0].v.data(), c.P[1].v.data(), c.P[2].v.data()
const Form3 kForms[] = {
    {"D", false, false, [](const SpaceCase3& c, const Params& p, const Call& k) {
         const Stats3& s = c.whole;
         return qsrch_DcomputeNormalizedCorrelation3(
             5, 5, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp, k.width, k.height,
             QT_PLANES(Si), QT_PLANES(SiiD), c.Si[0].stride, QT_PLANES(IPD), c.IPD[0].stride, &p,
             k.weights, k.scores, k.scoresStride);
     }},
    {"integer", false, false, [](const SpaceCase3& c, const Params& p, const Call& k) {
         const Stats3& s = c.whole;
         return qsrch_computeNormalizedCorrelation3(
             5, 5, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp, k.width, k.height,
             QT_PLANES(Si), QT_PLANES(Sii), c.Si[0].stride, QT_PLANES(IP), c.IP[0].stride, &p,
             k.weights, k.scores, k.scoresStride);
     }},
    {"D runtime-masked", true, false, [](const SpaceCase3& c, const Params& p, const Call& k) {
         return qsrch_DcomputeNormalizedCorrelationRuntimeMasked3(
             5, 5, c.N.v.data(), QT_PLANES(Sp), QT_PLANES(SppD), c.N.stride, k.width, k.height,
             QT_PLANES(Si), QT_PLANES(SiiD), c.Si[0].stride, QT_PLANES(IPD), c.IPD[0].stride, &p,
             k.weights, k.scores, k.scoresStride);
     }},
    {"integer runtime-masked", true, false, [](const SpaceCase3& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMasked3(
             5, 5, c.N.v.data(), QT_PLANES(Sp), QT_PLANES(Spp), c.N.stride, k.width, k.height,
             QT_PLANES(Si), QT_PLANES(Sii), c.Si[0].stride, QT_PLANES(IP), c.IP[0].stride, &p,
             k.weights, k.scores, k.scoresStride);
     }},
    {"endpoints", false, true, [](const SpaceCase3& c, const Params& p, const Call& k) {
         const Stats3& s = c.whole;
         return qsrch_computeNormalizedCorrelation3UsingEndpoints(
             5, 5, k.endpoints, 1, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp,
             k.width, k.height, QT_PLANES(Si), QT_PLANES(Sii), c.Si[0].stride, QT_PLANES(IP),
             c.IP[0].stride, &p, k.weights, k.scores, k.scoresStride);
     }},
    {"runtime-masked endpoints", true, true, [](const SpaceCase3& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMasked3UsingEndpoints(
             5, 5, c.N.v.data(), QT_PLANES(Sp), QT_PLANES(Spp), c.N.stride, k.width, k.height,
             QT_PLANES(Si), QT_PLANES(Sii), c.Si[0].stride, QT_PLANES(IP), c.IP[0].stride, &p,
             k.weights, k.scores, k.scoresStride, k.endpoints, 1);
     }},
};
#undef QT_PLANES

TEST(ThreePlaneSpace, EveryFormMatchesPerPositionScoreAndReference)
{
    std::mt19937 rng(21);
    qtest::InhibitSwitch inhibit;  // the three-plane spaces offer no name
    for (int32_t nx : {1, 7, 8, 9, 16, 17, 31})
        for (int32_t ny : {1, 3}) {
            const int32_t w = 1 + int32_t(rng() % 9), h = 1 + int32_t(rng() % 5);
            const SpaceCase3 plain(rng, w, h, nx, ny, false), masked(rng, w, h, nx, ny, true);
            std::vector<qstd_pair32> pairs;
            for (int32_t y = 0; y < ny; ++y)
                pairs.push_back({int32_t(rng() % (nx + 1)), int32_t(rng() % (nx + 1))});  // some empty
            const qtest::Runs endpoints(pairs);
            for (const Form3& f : kForms) {
                const SpaceCase3& c = f.runtimeMasked ? masked : plain;
                for (const auto& mode : qtest::allModes())
                    for (const auto& w3 : kWeights) {
                        SCOPED_TRACE(std::string(f.name) + ", " + mode.name + ", " + std::to_string(nx) +
                                     "x" + std::to_string(ny) + ", weights " + std::to_string(w3[1]));
                        Plane<double> scores(nx, ny, 2, kSentinel);
                        const Call call{w3.data(), uint32_t(nx), ny, endpoints.get(), scores.v.data(),
                                        scores.stride};
                        ASSERT_EQ(f.run(c, mode.params, call), QSRCH_OK);
                        for (int32_t y = 0; y < ny; ++y) {
                            for (int32_t x = 0; x < nx; ++x) {
                                if (f.endpoints && !(x >= pairs[y].first && x < pairs[y].second)) {
                                    ASSERT_EQ(scores.at(x, y), 0.0) << x << "," << y;
                                    continue;
                                }
                                const Stats3 s = c.at(x, y, f.runtimeMasked);
                                const double score = scores.at(x, y);
                                ASSERT_EQ(score, score3(mode.params, w3.data(), s)) << x << "," << y;
                                ASSERT_TRUE(closeScore(score, referenceScore3(s, w3.data(), mode.params)))
                                    << x << "," << y;
                            }
                            for (int32_t x = nx; x < scores.stride; ++x)
                                ASSERT_EQ(scores.at(x, y), kSentinel);
                        }
                    }
                // Empty spaces write nothing; a width that reads negative is empty.
                for (auto [width, height] : {std::pair<uint32_t, int32_t>{nx, 0}, {nx, -3}, {0, ny},
                                             {0x80000000u, ny}}) {
                    Plane<double> scores(nx, ny, 2, kSentinel);
                    const Call call{kWeights[1].data(), width, height, endpoints.get(), scores.v.data(),
                                    scores.stride};
                    EXPECT_EQ(f.run(c, qtest::scoreParams(0, 0, 0), call), QSRCH_OK);
                    EXPECT_EQ(std::count(scores.v.begin(), scores.v.end(), kSentinel), scores.v.size())
                        << f.name << " " << width << "x" << height;
                }
            }
        }
    EXPECT_TRUE(inhibit.asked().empty());
}

// ---- Single three-plane score ------------------------------------------------------

// Planes of 257 x 256 with room for the largest crop: patterns, images that
// follow them with noise, and a mask with care values other than 255.
struct SinglePlanes {
    std::vector<Image8> pattern, image;
    Image8 mask;
    explicit SinglePlanes(std::mt19937& rng)
        : pattern(3, Image8(257, 256, 260)), image(3, Image8(257, 256, 259)), mask(257, 256)
    {
        std::uniform_int_distribution<int> noise(-40, 40);
        for (int k = 0; k < 3; ++k) {
            pattern[k].randomize(rng);
            for (int32_t y = 0; y < 256; ++y)
                for (int32_t x = 0; x < 257; ++x) {
                    const int p = k == 1 ? 255 - pattern[k].at(x, y) : pattern[k].at(x, y);
                    image[k].at(x, y) = uint8_t(std::clamp(p / 2 + 64 + noise(rng), 0, 255));
                }
        }
        // Care values 255 but one, so that the care count rounds down; the
        // pattern is 0 where not cared for, as callers prepare it.
        std::bernoulli_distribution cared(0.7);
        for (int32_t y = 0; y < 256; ++y)
            for (int32_t x = 0; x < 257; ++x) mask.at(x, y) = cared(rng) ? 255 : 0;
        mask.at(5, 2) = 7;
        for (int k = 0; k < 3; ++k)
            for (int32_t y = 0; y < 256; ++y)
                for (int32_t x = 0; x < 257; ++x)
                    if (mask.at(x, y) == 0) pattern[k].at(x, y) = 0;
    }
    // Pattern sums and inner products over every pattern pixel, image sums
    // under the mask, N = mask sum / 255.
    Stats3 reference(int32_t w, int32_t h, bool masked) const
    {
        Stats3 s;
        uint64_t maskSum = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) maskSum += mask.at(x, y);
        for (int k = 0; k < 3; ++k) {
            s[k] = {};
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const uint64_t p = pattern[k].at(x, y), v = image[k].at(x, y);
                    s[k].Sp += p, s[k].Spp += p * p, s[k].IP += p * v;
                    if (!masked || mask.at(x, y) != 0) s[k].Si += v, s[k].Sii += v * v;
                }
            s[k].N = masked ? maskSum / 255 : uint64_t(w) * h;
        }
        return s;
    }
};

TEST(ThreePlaneSingleScore, BothRoutesMatchReferenceAndLeakNothing)
{
    std::mt19937 rng(31);
    const SinglePlanes planes(rng);
    const qimg_windowConst none{};
    // 0x10000 pixels take the integer route, 0x10001 the double route.
    for (auto [w, h] : {std::pair<int32_t, int32_t>{1, 1}, {7, 3}, {31, 9}, {256, 256}, {257, 256}})
        for (bool masked : {false, true}) {
            const Stats3 s = planes.reference(w, h, masked);
            qimg_windowConst p[3], i[3];
            for (int k = 0; k < 3; ++k)
                p[k] = planes.pattern[k].window(0, 0, w, h), i[k] = planes.image[k].window(0, 0, w, h);
            const qimg_windowConst mask = masked ? planes.mask.window(0, 0, w, h) : none;
            for (const auto& mode : qtest::allModes())
                for (const auto& w3 : kWeights) {
                    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) +
                                 (masked ? " masked, " : ", ") + mode.name + ", weights " +
                                 std::to_string(w3[1]));
                    double score = kSentinel, integerScore = kSentinel;
                    {
                        // The route shows in the inner-product kernels asked for (the double
                        // kernel asks once more for each half of a large pattern).
                        qtest::InhibitSwitch inhibit;
                        ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationSpace3(&p[0], &p[1], &p[2], &mask, &i[0],
                                                                            &i[1], &i[2], &mode.params,
                                                                            w3.data(), &score, 0),
                                  QSRCH_OK);
                        const auto asked = [&](const char16_t* name) {
                            return std::count(inhibit.asked().begin(), inhibit.asked().end(), name);
                        };
                        const bool large = w * h > 0x10000;
                        EXPECT_EQ(asked(u"qsrch_innerProducts"), large ? 0 : 3);
                        EXPECT_EQ(asked(u"qsrch_DinnerProducts") >= 3, large);
                    }
                    EXPECT_TRUE(closeScore(score, referenceScore3(s, w3.data(), mode.params)));
                    const qsrch_status status = qsrch_computeNormalizedCorrelationSpace3(
                        &p[0], &p[1], &p[2], masked ? &mask : nullptr, &i[0], &i[1], &i[2], &mode.params,
                        w3.data(), &integerScore, 7);
                    if (w * h > 0x10000) {
                        EXPECT_EQ(status, QSRCH_E_PATTERN_TOO_LARGE);
                    } else {
                        ASSERT_EQ(status, QSRCH_OK);
                        EXPECT_EQ(integerScore, score);
                    }
                }
            double score = kSentinel;
            qtest::expectAllocationFailuresClean([&] {
                return qsrch_DcomputeNormalizedCorrelationSpace3(&p[0], &p[1], &p[2], &mask, &i[0], &i[1],
                                                                 &i[2], &qtest::allModes()[0].params,
                                                                 kWeights[1].data(), &score, 0);
            });
        }
}

}  // namespace
