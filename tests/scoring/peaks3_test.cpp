// Three-plane peaks: the grey peaks from three identical planes, a colour
// pattern told from a recoloured decoy, the integer and double routes, the
// rounding of given sums of squares and of the care limit, empty inputs and
// failing allocations.
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "peak_support.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using qtest::Image8;
using qtest::PeakVector;
using qtest::Runs;

// Three planes of one size, each with its own garbage in the row slack.
struct Planes {
    std::array<Image8, 3> p;
    Planes(int32_t w, int32_t h, int32_t stride)
        : p{Image8(w, h, stride, 0x5A), Image8(w, h, stride, 0xC3), Image8(w, h, stride, 0x99)} {}
    std::array<qimg_windowConst, 3> views() const { return {p[0].window(), p[1].window(), p[2].window()}; }
    void randomize(std::mt19937& rng) { for (Image8& q : p) q.randomize(rng); }
    // Pattern plane (k + shift) % 3 copied into plane k at (x, y).
    void plant(const Planes& pattern, int32_t x, int32_t y, int shift = 0)
    {
        for (int k = 0; k < 3; ++k)
            for (int32_t j = 0; j < pattern.p[0].height(); ++j)
                for (int32_t i = 0; i < pattern.p[0].width(); ++i)
                    p[size_t(k)].at(x + i, y + j) = pattern.p[size_t((k + shift) % 3)].at(i, j);
    }
};

enum class Entry3 { Dplain, plain, DrmWindow, DrmPatStats, DrmEndpoints, rmWindow, rmPatStats, rmEndpoints };
const Entry3 kAll[] = {Entry3::Dplain,       Entry3::plain,    Entry3::DrmWindow,  Entry3::DrmPatStats,
                       Entry3::DrmEndpoints, Entry3::rmWindow, Entry3::rmPatStats, Entry3::rmEndpoints};

struct Inputs3 {
    const qimg_windowConst* runtimeMask = nullptr;
    qstd_rect32 window{};
    const qstd_vector_qstd_pair32* endpoints = nullptr;
    uint32_t endpointsFlag = 1;
    uint32_t n = 0, Sp[3] = {};
    double Spp[3] = {};
    double threshold = 0.5;
    qsrch_normalizedCorrelationParams params = qtest::scoreParams(0, 0, 0);
    double weights[3] = {1, 1, 1};
};

qsrch_status call3(Entry3 e, const Planes& pattern, const qimg_windowConst* mask, const Planes& image,
                   const Inputs3& in, qstd_vector_qsrch_detectedPosePeak* out)
{
    const auto p = pattern.views(), i = image.views();
    const auto* P = &in.params;
    const double* w = in.weights;
    const uint32_t* S = in.Sp;
    const double* D = in.Spp;
    const uint32_t U[3] = {uint32_t(D[0]), uint32_t(D[1]), uint32_t(D[2])};
    const qimg_windowConst* r = in.runtimeMask;
    switch (e) {
    case Entry3::Dplain:
        return qsrch_DcomputeNormalizedCorrelationPeaks3(&p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2],
                                                         in.threshold, P, w, out);
    case Entry3::plain:
        return qsrch_computeNormalizedCorrelationPeaks3(&p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2],
                                                        in.threshold, P, w, out);
    case Entry3::DrmWindow:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, S[0], S[1], S[2], D[0], D[1], D[2],
            &in.window, in.threshold, P, w, out);
    case Entry3::DrmPatStats:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, S[0], S[1], S[2], D[0], D[1], D[2],
            in.threshold, P, w, out);
    case Entry3::DrmEndpoints:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, in.endpoints, in.endpointsFlag, S[0],
            S[1], S[2], D[0], D[1], D[2], in.threshold, P, w, out);
    case Entry3::rmWindow:
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, S[0], S[1], S[2], U[0], U[1], U[2],
            &in.window, in.threshold, P, w, out);
    case Entry3::rmPatStats:
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, S[0], S[1], S[2], U[0], U[1], U[2],
            in.threshold, P, w, out);
    case Entry3::rmEndpoints:
        return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
            &p[0], &p[1], &p[2], mask, &i[0], &i[1], &i[2], r, in.n, in.endpoints, in.endpointsFlag, S[0],
            S[1], S[2], U[0], U[1], U[2], in.threshold, P, w, out);
    }
    return QSYS_E_BAD_ARGUMENT;
}

std::vector<qsrch_detectedPosePeak> run3(Entry3 e, const Planes& pattern, const qimg_windowConst* mask,
                                         const Planes& image, const Inputs3& in)
{
    PeakVector out;
    EXPECT_EQ(call3(e, pattern, mask, image, in, out.get()), QSRCH_OK) << int(e);
    return out.items();
}

// A pattern mask of 0 and 255: its sum over 255 is then its care count.
void twoValuedMask(Image8& mask, std::mt19937& rng, double careShare)
{
    mask.randomMask(rng, careShare);
    for (int32_t y = 0; y < mask.height(); ++y)
        for (int32_t x = 0; x < mask.width(); ++x)
            if (mask.at(x, y) != 0) mask.at(x, y) = 255;
}

// Plane sums over every pattern pixel and the care count of the mask.
void patternStats(const Planes& pattern, const Image8* mask, Inputs3& in)
{
    in.n = 0;
    for (int k = 0; k < 3; ++k) in.Sp[k] = 0, in.Spp[k] = 0;
    for (int32_t y = 0; y < pattern.p[0].height(); ++y)
        for (int32_t x = 0; x < pattern.p[0].width(); ++x) {
            in.n += mask == nullptr || mask->at(x, y) != 0;
            for (int k = 0; k < 3; ++k) {
                const uint32_t v = pattern.p[size_t(k)].at(x, y);
                in.Sp[k] += v, in.Spp[k] += double(v * v);
            }
        }
}

// The same peaks up to the rounding of differently grouped double sums.
::testing::AssertionResult closePeaks(const std::vector<qsrch_detectedPosePeak>& a,
                                      const std::vector<qsrch_detectedPosePeak>& b)
{
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " peaks vs " << b.size();
    for (size_t k = 0; k < a.size(); ++k) {
        const auto &p = a[k], &q = b[k];
        const bool same = p.integerPosition.first == q.integerPosition.first &&
                          p.integerPosition.second == q.integerPosition.second && p.flags == q.flags &&
                          p.careCount == q.careCount && std::fabs(p.pose.trans.x - q.pose.trans.x) < 1e-9 &&
                          std::fabs(p.pose.trans.y - q.pose.trans.y) < 1e-9 &&
                          qtest::closeRelative(p.score, q.score, 1e-12) &&
                          qtest::closeRelative(p.contrast, q.contrast, 1e-12) &&
                          qtest::closeRelative(p.brightness, q.brightness, 1e-12);
        if (!same)
            return ::testing::AssertionFailure()
                   << "peak " << k << " at (" << p.integerPosition.first << ", " << p.integerPosition.second
                   << ") score " << p.score << " vs (" << q.integerPosition.first << ", "
                   << q.integerPosition.second << ") score " << q.score;
    }
    return ::testing::AssertionSuccess();
}

// Weights (1, 1, 1) on three copies of one plane scale cov, vp and vi by
// three alike: every entry gives the grey entry's peaks, on both routes,
// with and without masks, windows and runs.
TEST(Peaks3, IdenticalPlanesWithUnitWeightsGiveTheGreyPeaks)
{
    using qtest::Entry;
    const struct { int32_t w, h, W, H; } sizes[] = {
        {1, 9, 31, 40}, {7, 8, 40, 33}, {17, 5, 70, 29}, {260, 253, 266, 258}};
    const std::pair<Entry, Entry3> pairs[] = {{Entry::plain, Entry3::Dplain},
                                              {Entry::runtimeWindow, Entry3::DrmWindow},
                                              {Entry::patStats, Entry3::DrmPatStats},
                                              {Entry::runtimeEndpoints, Entry3::DrmEndpoints}};
    uint32_t seed = 300;
    for (const auto& z : sizes)
        for (bool masked : {false, true}) {
            std::mt19937 rng(++seed);
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << z.w << "x" << z.h
                                            << (masked ? ", masked" : ""));
            Planes pattern(z.w, z.h, z.w + 3), image(z.W, z.H, z.W + 5);
            Image8 mask(z.w, z.h, z.w + 1), care(z.W, z.H, z.W + 2);
            pattern.p[0].randomize(rng);
            image.p[0].randomize(rng);
            twoValuedMask(mask, rng, 0.8);
            care.randomMask(rng, 0.95);
            for (int32_t y = 0; y < z.h; ++y)
                for (int32_t x = 0; x < z.w; ++x)
                    if (masked && mask.at(x, y) == 0) pattern.p[0].at(x, y) = 0;
            pattern.p[1] = pattern.p[2] = pattern.p[0];
            const int32_t nx = z.W - z.w + 1, ny = z.H - z.h + 1;
            for (auto [x, y] : {std::pair{0, 0}, std::pair{z.W - z.w, z.H - z.h},
                                std::pair{1 + nx / 2, 1 + ny / 2}})
                for (int32_t j = 0; j < z.h; ++j)
                    for (int32_t i = 0; i < z.w; ++i) image.p[0].at(x + i, y + j) = pattern.p[0].at(i, j);
            image.p[1] = image.p[2] = image.p[0];

            std::vector<qstd_pair32> runs(size_t(z.H), qstd_pair32{0, 0});
            for (int32_t y = 0; y < ny; ++y) runs[size_t(y)] = {y % 3, nx - y % 2};
            const Runs runList(runs);
            const qimg_windowConst m = mask.window(), c = care.window(), p = pattern.p[0].window(),
                                   i = image.p[0].window();
            const qimg_windowConst* maskArg = masked ? &m : nullptr;
            const qstd_rect32 window{1, 2, z.W - 2, z.H - 1};

            qtest::PeakInputs grey;
            Inputs3 colour;
            patternStats(pattern, masked ? &mask : nullptr, colour);
            grey.n = colour.n, grey.sum = colour.Sp[0], grey.sumSq = colour.Spp[0];
            grey.threshold = colour.threshold = 0.3;
            // The grey limit's total is the pattern mask's count, the given n here.
            grey.params.minCareFraction = colour.params.minCareFraction = 0.9f;
            grey.window = &window, colour.window = window;
            grey.endpoints = colour.endpoints = runList.get();
            const bool doubleRoute = z.w * z.h > 0x10000;
            for (auto [e, e3] : pairs) {
                SCOPED_TRACE(nameOf(e));
                // The double route drops a run list, where the grey
                // refinement still clears neighbours by it.
                if (doubleRoute && e == Entry::runtimeEndpoints) e = Entry::runtime;
                // The pattern-statistics pair runs without a runtime mask.
                grey.runtimeMask = colour.runtimeMask = e == Entry::patStats ? nullptr : &c;
                PeakVector out;
                ASSERT_EQ(qtest::callEntry(e, &p, maskArg, &i, grey, out.get()), QSRCH_OK);
                const auto expected = out.items();
                EXPECT_FALSE(expected.empty());
                EXPECT_TRUE(closePeaks(run3(e3, pattern, maskArg, image, colour), expected));
            }
        }
}

// A colour pattern whose planes are unrelated textures, planted once as it
// is and once with its planes rotated: the rotated copy has the same
// luminance everywhere, so a grey search cannot tell the two apart, but the
// three-plane score finds the true copy alone. The shape score never
// changes three-plane scores.
TEST(Peaks3, ColourPatternIsToldFromASameLuminanceDecoy)
{
    std::mt19937 rng(41);
    const int32_t w = 12, h = 11, W = 64, H = 48, ax = 9, ay = 7, bx = 40, by = 25;
    Planes pattern(w, h, w + 2), image(W, H, W + 3);
    pattern.randomize(rng);
    image.randomize(rng);
    image.plant(pattern, ax, ay);
    image.plant(pattern, bx, by, 1);

    Inputs3 in;
    const auto colour = run3(Entry3::Dplain, pattern, nullptr, image, in);
    ASSERT_EQ(colour.size(), 1u);
    EXPECT_EQ(colour[0].integerPosition.first, ax);
    EXPECT_EQ(colour[0].integerPosition.second, ay);
    EXPECT_NEAR(colour[0].score, 1.0, 1e-12);
    EXPECT_NEAR(colour[0].contrast, 1.0, 1e-12);
    EXPECT_NEAR(colour[0].brightness, 1.0, 1e-12);
    const auto p = pattern.views();
    auto d = image.views();
    for (auto& v : d) ASSERT_EQ(qimg_windowConst_window(&v, bx, by, w, h, nullptr), QSRCH_OK);
    double decoy = -1;
    ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationSpace3(&p[0], &p[1], &p[2], nullptr, &d[0], &d[1],
                                                        &d[2], &in.params, in.weights, &decoy, 0),
              QSRCH_OK);
    EXPECT_LT(decoy, 0.25);

    // Grey: the plane average, the same at both copies.
    Image8 greyPattern(w, h), greyImage(W, H);
    auto average = [](const Planes& q, int32_t x, int32_t y) {
        return uint8_t((q.p[0].at(x, y) + q.p[1].at(x, y) + q.p[2].at(x, y)) / 3);
    };
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) greyImage.at(x, y) = average(image, x, y);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) greyPattern.at(x, y) = average(pattern, x, y);
    const qimg_windowConst gp = greyPattern.window(), gi = greyImage.window();
    PeakVector grey;
    ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationPeaks(&gp, nullptr, &gi, 0.5, &in.params, grey.get()),
              QSRCH_OK);
    const auto found = grey.items();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NEAR(found[0].score, 1.0, 1e-12);
    EXPECT_EQ(found[1].score, found[0].score);

    in.params.shapeScoreOptimization = 1;
    in.params.shapeThreshold = 128;
    EXPECT_TRUE(qtest::samePeaks(run3(Entry3::Dplain, pattern, nullptr, image, in), colour));
}

// Every double entry keeps a pattern of 0x10000 pixels on the integer route
// and sends one of 0x10001 to the double kernels; both find the copy. The
// statistics are exact on both paths and every score is formed in doubles
// from them, so forcing the double path changes nothing at all.
TEST(Peaks3, DoubleEntriesRouteByPatternSize)
{
    const struct { int32_t w, h; bool integer; } sizes[] = {{256, 256, true}, {65537, 1, false}};
    std::mt19937 rng(77);
    for (const auto& z : sizes) {
        SCOPED_TRACE(z.integer ? "0x10000 pixels" : "0x10001 pixels");
        Planes pattern(z.w, z.h, z.w), image(z.w + 2, z.h + 2, z.w + 3);
        Image8 care(z.w + 2, z.h + 2);
        pattern.randomize(rng);
        image.randomize(rng);
        image.plant(pattern, 1, 1);
        care.fill(255);
        const qimg_windowConst c = care.window();
        const Runs runs(qtest::fullRuns(3, 3, z.h + 2));
        Inputs3 in;
        patternStats(pattern, nullptr, in);
        in.runtimeMask = &c, in.window = {0, 0, z.w + 2, z.h + 2}, in.endpoints = runs.get();
        in.endpointsFlag = 0;
        for (Entry3 e : {Entry3::Dplain, Entry3::DrmWindow, Entry3::DrmPatStats, Entry3::DrmEndpoints}) {
            SCOPED_TRACE(int(e));
            qtest::InhibitSwitch inhibit;
            const auto peaks = run3(e, pattern, nullptr, image, in);
            const auto& asked = inhibit.asked();
            auto askedFor = [&](const char16_t* name) {
                return std::find(asked.begin(), asked.end(), std::u16string(name)) != asked.end();
            };
            EXPECT_EQ(askedFor(u"qsrch_innerProducts"), z.integer);
            EXPECT_EQ(askedFor(u"qsrch_DinnerProducts"), !z.integer);
            ASSERT_EQ(peaks.size(), 1u);
            EXPECT_EQ(peaks[0].integerPosition.first, 1);
            EXPECT_EQ(peaks[0].integerPosition.second, 1);
            EXPECT_NEAR(peaks[0].score, 1.0, 1e-12);
        }
        if (!z.integer) continue;
        const auto p = pattern.views(), i = image.views();
        qsrch_peaks3Inputs kernel{};
        for (int k = 0; k < 3; ++k) kernel.pattern[k] = &p[size_t(k)], kernel.image[k] = &i[size_t(k)];
        kernel.runtimeMask = &c, kernel.window = in.window;
        const double weights[3] = {0.25, 1.5, 0.75};
        std::vector<qsrch_detectedPosePeak> found[2];
        for (uint32_t doubles : {0u, 1u}) {
            kernel.doubles = doubles;
            PeakVector out;
            ASSERT_EQ(qsrch_computePeaksCommon3(&kernel, -1, &in.params, weights, out.get()), QSRCH_OK);
            found[doubles] = out.items();
        }
        EXPECT_FALSE(found[0].empty());
        EXPECT_TRUE(qtest::samePeaks(found[1], found[0]));
    }
}

// Given sums of squares reach the integer entries as floor(x + 0.5): a
// pattern plane's 2.5 scores as 3, its 2.4 as 2. Every local maximum is
// reported, so the lists differ wherever the rounded value matters.
TEST(Peaks3, GivenSumsOfSquaresAreRoundedForTheIntegerRoute)
{
    std::mt19937 rng(5);
    Planes pattern(5, 4, 7), image(30, 20, 33);
    pattern.randomize(rng);
    image.randomize(rng);
    // Plane 2 holds two 1s: its true sum of squares is 2.
    pattern.p[2].fill(0);
    pattern.p[2].at(1, 1) = pattern.p[2].at(3, 2) = 1;
    Inputs3 in;
    patternStats(pattern, nullptr, in);
    in.threshold = -1e300;
    in.window = {0, 0, 30, 20};
    const Runs runs(qtest::fullRuns(26, 17, 20));
    in.endpoints = runs.get();
    std::vector<qsrch_detectedPosePeak> rounded[2];
    const struct { double given; double integer; } cases[] = {{2.5, 3}, {2.4, 2}};
    for (size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(cases[c].given);
        for (auto [d, i] : {std::pair{Entry3::DrmWindow, Entry3::rmWindow},
                            std::pair{Entry3::DrmPatStats, Entry3::rmPatStats},
                            std::pair{Entry3::DrmEndpoints, Entry3::rmEndpoints}}) {
            in.Spp[2] = cases[c].given;
            const auto fromDouble = run3(d, pattern, nullptr, image, in);
            in.Spp[2] = cases[c].integer;
            rounded[c] = run3(i, pattern, nullptr, image, in);
            EXPECT_TRUE(qtest::samePeaks(fromDouble, rounded[c])) << int(d);
        }
    }
    EXPECT_FALSE(qtest::samePeaks(rounded[0], rounded[1]));
}

// The care limit is round(float(n) * fraction), halves away from zero.
TEST(Peaks3, CareLimitRoundsTheGivenCountsShare)
{
    const int32_t W = 8;
    Planes pattern(3, 1, 4), image(W, 1, W + 2);
    for (int k = 0; k < 3; ++k)
        for (int32_t x = 0; x < 3; ++x) pattern.p[size_t(k)].at(x, 0) = uint8_t(10 + 40 * x + k);
    for (Image8& q : image.p) q.fill(0);
    Image8 runtime(W, 1, W + 1);
    for (int32_t x = 0; x < W; ++x) runtime.at(x, 0) = qtest::kCareRow[x];
    const qimg_windowConst r = runtime.window();
    qimg_windowConst unbound = r;
    unbound.firstPixel = nullptr;
    const struct {
        float fraction;
        uint32_t n;
        const qimg_windowConst* mask;
        int32_t x;
        uint32_t care;
    } cases[] = {
        {0.0f, 5, &r, 0, 0},        // no limit
        {0.4f, 1, &r, 0, 0},        // 0.4 -> 0: the plain detector
        {0.5f, 1, &r, 1, 1},        // 0.5 -> 1
        {0.5f, 3, &r, 3, 2},        // 1.5 -> 2
        {0.5f, 5, &r, -1, 0},       // 2.5 -> 3: no position qualifies
        {1.0f, 5, nullptr, 0, 5},   // no runtime mask: no limit, the given count
        {0.0f, 5, &unbound, 0, 0},  // a mask without pixels is in use and cares for nothing
        {0.5f, 2, &unbound, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "fraction " << c.fraction << ", n " << c.n);
        Inputs3 in;
        in.runtimeMask = c.mask, in.n = c.n, in.threshold = 0, in.window = {0, 0, W, 1};
        in.params.minCareFraction = c.fraction;
        for (Entry3 e : {Entry3::DrmWindow, Entry3::rmWindow})
            qtest::expectPlateauAt(run3(e, pattern, nullptr, image, in), c.x, c.care);
    }
}

TEST(Peaks3, NothingToScoreGivesNoPeaksAndAllocatesNothing)
{
    Planes pattern(6, 5, 8);
    Image8 care(20, 20);
    care.fill(255);
    const qimg_windowConst c = care.window();
    for (const auto& k : qtest::kNothingToScore) {
        Planes image(k.W, k.H, k.W + 3);
        const Runs runs(qtest::fullRuns(1, 1, k.H));
        Inputs3 in;
        in.runtimeMask = &c, in.window = k.window, in.endpoints = runs.get(), in.threshold = -1, in.n = 30;
        for (Entry3 e : kAll) {
            SCOPED_TRACE(testing::Message() << k.what << ", entry " << int(e));
            if (e != Entry3::DrmWindow && e != Entry3::rmWindow && k.W >= 6 && k.H >= 5) continue;
            qtest::expectNoPeaksAndNoAllocation(
                [&](auto* out) { return call3(e, pattern, nullptr, image, in, out); });
        }
    }
}

TEST(Peaks3, FailingAllocationsUnwindCleanly)
{
    std::mt19937 rng(9);
    Planes small(7, 6, 8), smallImage(40, 30, 41), large(257, 256, 257), largeImage(260, 258, 262);
    for (Planes* q : {&small, &smallImage, &large, &largeImage}) q->randomize(rng);
    smallImage.plant(small, 20, 10);
    largeImage.plant(large, 2, 1);
    Image8 mask(7, 6), care(40, 30), largeCare(260, 258);
    mask.fill(255);
    care.randomMask(rng, 0.95);
    largeCare.randomMask(rng, 0.95);
    const qimg_windowConst m = mask.window(), c = care.window(), lc = largeCare.window();
    const Runs runs(qtest::fullRuns(34, 25, 30));
    const struct { const char* what; const Planes *pattern, *image; Entry3 entry; bool runtime; } cases[] = {
        {"plain, pattern mask", &small, &smallImage, Entry3::Dplain, false},
        {"runtime mask, window, care limit", &small, &smallImage, Entry3::DrmWindow, true},
        {"runtime mask, endpoints", &small, &smallImage, Entry3::rmEndpoints, true},
        {"double path, runtime mask", &large, &largeImage, Entry3::DrmPatStats, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Inputs3 in;
        patternStats(*k.pattern, nullptr, in);
        const bool smallPattern = k.pattern == &small;
        in.runtimeMask = !k.runtime ? nullptr : smallPattern ? &c : &lc;
        in.window = {2, 1, 30, 25};
        in.endpoints = runs.get();
        in.params.minCareFraction = 0.5f;
        in.threshold = 0.05;
        qtest::expectPeakAllocationFailuresClean([&](auto* out) {
            return call3(k.entry, *k.pattern, smallPattern ? &m : nullptr, *k.image, in, out);
        });
    }
}

}  // namespace
