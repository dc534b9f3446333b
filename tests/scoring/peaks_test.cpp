// Correlation peaks: planted patterns found by every entry against
// brute-force statistics, sub-pixel accuracy on a smooth scene, windows,
// empty inputs, the care limit, endpoint lists and failing allocations.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "peak_support.hpp"

namespace {

using qtest::Entry;
using qtest::Image8;
using qtest::PeakInputs;
using qtest::PeakVector;
using qtest::Runs;

const Entry kAllEntries[] = {Entry::plain,   Entry::window,           Entry::patStats,
                             Entry::endpointsPatStats, Entry::runtime, Entry::runtimeEndpoints,
                             Entry::runtimePatStats,   Entry::runtimeWindow};

enum class MaskKind { none, absentPixels, twoValued };

// A random pattern (zero where its mask does not care) planted in noise at
// non-overlapping places, among them the first and the last position.
struct PlantedScene {
    Image8 pattern, mask, image, allCare;
    MaskKind maskKind;
    std::vector<std::pair<int32_t, int32_t>> planted;

    PlantedScene(std::mt19937& rng, int32_t w, int32_t h, int32_t W, int32_t H, MaskKind kind)
        : pattern(w, h, w + 3), mask(w, h, w + 2), image(W, H, W + 5), allCare(W, H, W + 1),
          maskKind(kind)
    {
        pattern.randomize(rng);
        image.randomize(rng);
        allCare.fill(255);
        std::bernoulli_distribution cares(0.75);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const bool care = kind != MaskKind::twoValued || cares(rng);
                mask.at(x, y) = care ? 255 : 0;
                if (!care) pattern.at(x, y) = 0;
            }
        const int32_t nx = W - w + 1, ny = H - h + 1;
        planted = {{0, 0}};
        auto plantIfApart = [&](int32_t x, int32_t y) {
            bool apart = true;
            for (auto [ox, oy] : planted) apart &= std::abs(ox - x) >= w + 2 || std::abs(oy - y) >= h + 2;
            if (apart) planted.emplace_back(x, y);
        };
        plantIfApart(nx - 1, ny - 1);
        std::uniform_int_distribution<int32_t> px(0, nx - 1), py(0, ny - 1);
        for (int tries = 0; tries < 200 && planted.size() < 5; ++tries) plantIfApart(px(rng), py(rng));
        for (auto [ox, oy] : planted)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) image.at(ox + x, oy + y) = pattern.at(x, y);
    }
    qimg_windowConst maskView() const
    {
        qimg_windowConst v = mask.window();
        if (maskKind == MaskKind::absentPixels) v.firstPixel = nullptr;
        return v;
    }
    const qimg_windowConst* maskArg(const qimg_windowConst& v) const
    {
        return maskKind == MaskKind::none ? nullptr : &v;
    }
    // Pattern statistics as the callers of the PatStats entries hold them.
    void patternStats(PeakInputs& in) const
    {
        in.n = 0, in.sum = 0, in.sumSq = 0;
        for (int32_t y = 0; y < pattern.height(); ++y)
            for (int32_t x = 0; x < pattern.width(); ++x) {
                in.n += maskKind != MaskKind::twoValued || mask.at(x, y) != 0;
                in.sum += pattern.at(x, y);
                in.sumSq += double(pattern.at(x, y)) * pattern.at(x, y);
            }
    }
    // The brute-force placement of the pattern at (x, y).
    qtest::Placement placement(int32_t x, int32_t y) const
    {
        return qtest::Placement{&pattern, &image, nullptr, x, y};
    }
};

std::vector<qsrch_detectedPosePeak> runEntry(Entry e, const PlantedScene& s, const PeakInputs& in,
                                             qsrch_status expected = QSRCH_OK)
{
    const qimg_windowConst p = s.pattern.window(), m = s.maskView(), i = s.image.window();
    PeakVector out;
    EXPECT_EQ(qtest::callEntry(e, &p, s.maskArg(m), &i, in, out.get()), expected) << nameOf(e);
    return out.items();
}

// Every entry, given inputs that mean the same (whole-image window, an
// all-care runtime mask or one without pixels, which is none, every position
// listed, the pattern's own statistics), finds the planted copies and
// nothing else, with the brute-force score, contrast, brightness and care
// count. A care limit of the whole care count drops nothing here. Covers
// both paths: the last size has more than 0x10000 pattern pixels.
TEST(Peaks, EveryEntryFindsThePlantedCopiesAndNothingElse)
{
    const struct { int32_t w, h, W, H; } sizes[] = {
        {1, 9, 31, 40}, {7, 8, 40, 33}, {12, 12, 64, 57}, {17, 5, 70, 29}, {31, 1, 100, 9},
        {260, 253, 266, 258}};
    uint32_t seed = 100;
    for (const auto& z : sizes)
        for (MaskKind kind : {MaskKind::none, MaskKind::absentPixels, MaskKind::twoValued}) {
            std::mt19937 rng(++seed);
            const PlantedScene scene(rng, z.w, z.h, z.W, z.H, kind);
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << z.w << "x" << z.h
                                            << ", image " << z.W << "x" << z.H << ", mask " << int(kind));
            const int32_t nx = z.W - z.w + 1, ny = z.H - z.h + 1;
            const qimg_windowConst care = scene.allCare.window();
            qimg_windowConst noPixels = care;
            noPixels.firstPixel = nullptr;
            const qstd_rect32 whole{0, 0, z.W, z.H};
            const Runs runs(qtest::fullRuns(nx, ny, z.H));
            PeakInputs in;
            in.window = &whole, in.endpoints = runs.get();
            in.threshold = 0.9;  // short patterns correlate with noise now and then
            in.params.minCareFraction = 1.0f;
            scene.patternStats(in);

            const std::vector<qsrch_detectedPosePeak> reference = runEntry(Entry::plain, scene, in);
            const qimg_windowConst* const runtimeMasks[] = {&care, &noPixels};
            for (const qimg_windowConst* runtimeMask : runtimeMasks)
                for (Entry e : kAllEntries) {
                    SCOPED_TRACE(testing::Message()
                                 << nameOf(e) << (runtimeMask == &care ? "" : ", no pixels"));
                    in.runtimeMask = runtimeMask;
                    EXPECT_TRUE(qtest::samePeaks(runEntry(e, scene, in), reference));
                }

            std::set<std::pair<int32_t, int32_t>> expected(scene.planted.begin(), scene.planted.end());
            std::set<std::pair<int32_t, int32_t>> found;
            for (const qsrch_detectedPosePeak& peak : reference) {
                const int32_t x = peak.integerPosition.first, y = peak.integerPosition.second;
                found.emplace(x, y);
                if (expected.count({x, y}) == 0) continue;
                const qtest::Stats st = scene.placement(x, y).stats();
                // The care count is the mask's; the sums run over every pixel
                // (don't-care pattern pixels are 0, the image's are not).
                const double N = in.n;
                double contrast, brightness;
                qsrch_DcomputeContrastAndBrightnessFromStats(N, double(st.Sp), double(st.Spp),
                                                             double(st.Si), double(st.Sii), &contrast,
                                                             &brightness);
                EXPECT_EQ(peak.careCount, in.n);
                EXPECT_NEAR(peak.score, 1.0, 1e-12);
                EXPECT_EQ(contrast, peak.contrast);
                EXPECT_EQ(brightness, peak.brightness);
                EXPECT_NEAR(peak.pose.trans.x, x, 0.5);
                EXPECT_NEAR(peak.pose.trans.y, y, 0.5);
                const qmath_matrix& a = peak.pose.matrix;
                EXPECT_TRUE(a.a11 == 1 && a.a12 == 0 && a.a21 == 0 && a.a22 == 1);
                EXPECT_TRUE(peak.searchGranularity == 0 && peak.searchLevel == 0 && peak.searchSplit == 0);
            }
            EXPECT_EQ(found, expected);
        }
}

// A smooth scene (random sinusoids) sampled exactly at sub-pixel shifts of
// the pattern's place: the fitted translation lands on the true shift.
TEST(Peaks, SubPixelPositionOfAPatternCutFromASmoothScene)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0, 1);
    struct Wave { double fx, fy, phase, amplitude; };
    std::vector<Wave> waves(5);
    double amplitudes = 0;
    for (Wave& k : waves) {
        const double angle = 2 * M_PI * u(rng), frequency = 2 * M_PI / (9 + 25 * u(rng));
        k = {frequency * std::cos(angle), frequency * std::sin(angle), 2 * M_PI * u(rng), 0.4 + u(rng)};
        amplitudes += k.amplitude;
    }
    auto scene = [&](double x, double y) {
        double s = 0;
        for (const Wave& k : waves) s += k.amplitude * std::sin(k.fx * x + k.fy * y + k.phase);
        return uint8_t(std::lround(127.5 + 127.5 * s / amplitudes));
    };
    const int32_t W = 64, H = 64, w = 20, h = 20;
    Image8 image(W, H, W + 3), pattern(w, h, w + 1);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) image.at(x, y) = scene(x, y);

    const auto params = qtest::scoreParams(0, 0, 0);
    double sum = 0, worst = 0;
    const int trials = 120;
    for (int t = 0; t < trials; ++t) {
        const double tx = 3 + (W - w - 6) * u(rng), ty = 3 + (H - h - 6) * u(rng);
        SCOPED_TRACE(testing::Message() << "true position " << tx << ", " << ty);
        for (int32_t j = 0; j < h; ++j)
            for (int32_t i = 0; i < w; ++i) pattern.at(i, j) = scene(tx + i, ty + j);
        const qimg_windowConst p = pattern.window(), im = image.window();
        PeakVector out;
        ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationPeaks(&p, nullptr, &im, 0.5, &params, out.get()),
                  QSRCH_OK);
        const std::vector<qsrch_detectedPosePeak> peaks = out.items();
        ASSERT_FALSE(peaks.empty());
        const auto best = std::max_element(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) {
            return a.score < b.score;
        });
        const double error = std::hypot(best->pose.trans.x - tx, best->pose.trans.y - ty);
        // The integer position is the fitted one, rounded.
        EXPECT_LE(std::fabs(best->pose.trans.x - best->integerPosition.first), 0.5 + 1e-12);
        EXPECT_LE(std::fabs(best->pose.trans.y - best->integerPosition.second), 0.5 + 1e-12);
        sum += error;
        worst = std::max(worst, error);
    }
    const double mean = sum / trials;
    std::printf("[ sub-pixel ] %d offsets: mean error %.4f px, worst %.4f px\n", trials, mean, worst);
    RecordProperty("meanErrorMicroPixels", int(mean * 1e6));
    RecordProperty("worstErrorMicroPixels", int(worst * 1e6));
    EXPECT_LT(mean, 0.1);
    EXPECT_LT(worst, 0.25);
}

bool insideShrunk(const qsrch_detectedPosePeak& p, const qstd_rect32& r, int32_t by)
{
    const int32_t x = p.integerPosition.first, y = p.integerPosition.second;
    return x >= r.x + by && x < r.x + r.width - by && y >= r.y + by && y < r.y + r.height - by;
}

// A window reports the whole image's peaks that lie well inside its own
// positions, identically, and nothing outside them; windows exactly the
// pattern's size see one position with all its neighbours. Windows at the
// image's edges clip the grown margin.
TEST(Peaks, WindowsAgreeWithTheWholeImageInsideTheirPositions)
{
    std::mt19937 rng(11);
    const int32_t w = 9, h = 7, W = 61, H = 47;
    const PlantedScene scene(rng, w, h, W, H, MaskKind::twoValued);
    const int32_t nx = W - w + 1, ny = H - h + 1;
    const qimg_windowConst care = scene.allCare.window();
    PeakInputs in;
    in.runtimeMask = &care;
    in.threshold = 0.02;  // plenty of noise peaks
    scene.patternStats(in);
    const std::vector<qsrch_detectedPosePeak> whole = runEntry(Entry::plain, scene, in);
    ASSERT_GT(whole.size(), 20u);

    std::vector<qstd_rect32> windows = {{0, 0, w, h}, {0, 0, W, H}, {0, 0, w + 6, h + 9},
                                        {W - w - 4, H - h - 3, w + 4, h + 3}, {5, 0, 20, H}};
    for (auto [px, py] : scene.planted) windows.push_back({px, py, w, h});
    std::uniform_int_distribution<int32_t> ux(0, nx - 1), uy(0, ny - 1);
    for (int k = 0; k < 30; ++k) {
        const int32_t x = ux(rng), y = uy(rng);
        windows.push_back({x, y, w - 1 + 1 + int32_t(rng() % uint32_t(nx - x)),
                           h - 1 + 1 + int32_t(rng() % uint32_t(ny - y))});
    }
    for (const qstd_rect32& win : windows)
        for (Entry e : {Entry::window, Entry::runtimeWindow}) {
            SCOPED_TRACE(testing::Message() << nameOf(e) << " window " << win.x << ", " << win.y << ", "
                                            << win.width << " x " << win.height);
            in.window = &win;
            const std::vector<qsrch_detectedPosePeak> got = runEntry(e, scene, in);
            const qstd_rect32 positions{win.x, win.y, win.width - w + 1, win.height - h + 1};
            // The fit moves a peak by at most one position.
            for (const auto& peak : got) EXPECT_TRUE(insideShrunk(peak, positions, -1));
            std::vector<qsrch_detectedPosePeak> a, b;
            for (const auto& peak : got)
                if (insideShrunk(peak, positions, 2)) a.push_back(peak);
            for (const auto& peak : whole)
                if (insideShrunk(peak, positions, 2)) b.push_back(peak);
            EXPECT_TRUE(qtest::samePeaks(a, b));
            // A planted copy is found from a window of its own position alone,
            // with the fit the whole image gives it.
            if (win.width == w && win.height == h) {
                const auto match = std::find_if(whole.begin(), whole.end(), [&](const auto& p) {
                    return p.integerPosition.first == win.x && p.integerPosition.second == win.y;
                });
                if (match != whole.end() && match->score > 0.99) {
                    ASSERT_EQ(got.size(), 1u);
                    EXPECT_TRUE(qtest::samePeak(got[0], *match));
                }
            }
        }
}

TEST(Peaks, NothingToScoreGivesNoPeaksAndAllocatesNothing)
{
    std::mt19937 rng(3);
    Image8 pattern(6, 5, 8), care(20, 20);
    pattern.randomize(rng);
    care.fill(255);
    for (const auto& c : qtest::kNothingToScore) {
        Image8 image(c.W, c.H, c.W + 3);
        image.randomize(rng);
        const qimg_windowConst p = pattern.window(), i = image.window(), m = care.window(0, 0, c.W, c.H);
        PeakInputs in;
        in.window = &c.window, in.runtimeMask = &m;
        in.n = 30, in.sum = 1000, in.sumSq = 100000, in.threshold = -1;
        for (Entry e : {Entry::plain, Entry::window, Entry::runtimeWindow, Entry::runtime}) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << nameOf(e));
            if (e != Entry::window && e != Entry::runtimeWindow && c.W >= 6 && c.H >= 5) continue;
            qtest::expectNoPeaksAndNoAllocation(
                [&](auto* out) { return qtest::callEntry(e, &p, nullptr, &i, in, out); });
        }
    }
}

// The care limit is floor(float(Ntotal) * fraction + 0.5).
TEST(Peaks, CareLimitIsAShareOfThePatternsCareCount)
{
    const int32_t w = 3, W = 8;
    Image8 pattern(w, 1), image(W, 1, W + 2), runtime(W, 1, W + 1), mask(w, 1);
    pattern.at(0, 0) = 10, pattern.at(1, 0) = 50, pattern.at(2, 0) = 90;
    image.fill(0);
    for (int32_t x = 0; x < W; ++x) runtime.at(x, 0) = qtest::kCareRow[x];
    const struct {
        float fraction;
        const uint8_t* maskRow;
        Entry entry;
        int32_t x;
        uint32_t careCount;
    } cases[] = {
        {0.0f, nullptr, Entry::runtime, 0, 0},    // no limit
        {0.15f, nullptr, Entry::runtime, 0, 0},   // 0.95 truncates to 0: the plain detector
        {0.3f, nullptr, Entry::runtime, 1, 1},    // 1.4 -> 1
        {0.5f, nullptr, Entry::runtime, 3, 2},    // 2.0 -> 2
        {1.0f, nullptr, Entry::runtime, -1, 0},   // 3.5 -> 3: no position qualifies
        {1.0f, nullptr, Entry::plain, 0, 3},      // no runtime mask: the fraction plays no part
        {0.5f, nullptr, Entry::runtimePatStats, 1, 1},  // given n = 2: 1.5 -> 1
        // Ntotal from the pattern mask's sum over 255: (255 + 255 + 200) / 255 = 2.
        {0.5f, (const uint8_t*)"\xff\xff\xc8", Entry::runtimeWindow, 1, 1},
        {0.5f, (const uint8_t*)"\xff\xff\xff", Entry::runtimeWindow, 3, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << nameOf(c.entry) << " fraction " << c.fraction);
        for (int32_t x = 0; x < w; ++x) mask.at(x, 0) = c.maskRow ? c.maskRow[x] : 255;
        const qimg_windowConst p = pattern.window(), i = image.window(), r = runtime.window(),
                               m = mask.window();
        const qstd_rect32 whole{0, 0, W, 1};
        PeakInputs in;
        in.runtimeMask = &r, in.window = &whole, in.threshold = 0;
        in.n = 2, in.sum = 150, in.sumSq = 10700;
        in.params.minCareFraction = c.fraction;
        PeakVector out;
        ASSERT_EQ(qtest::callEntry(c.entry, &p, c.maskRow ? &m : nullptr, &i, in, out.get()), QSRCH_OK);
        qtest::expectPlateauAt(out.items(), c.x, c.careCount);
    }
}

// With flag 1, runs restrict the integer path to the listed positions: a
// copy listed with a margin is found as without runs, the others not at
// all. Flag 0, and patterns of more than 0x10000 pixels, ignore the runs.
TEST(Peaks, EndpointRunsRestrictTheIntegerPathOnly)
{
    const struct { int32_t w, h, W, H; } sizes[] = {{9, 8, 70, 50}, {256, 257, 262, 263}};
    uint32_t seed = 20;
    for (const auto& z : sizes) {
        std::mt19937 rng(++seed);
        const PlantedScene scene(rng, z.w, z.h, z.W, z.H, MaskKind::twoValued);
        const bool integerPath = z.w * z.h <= 0x10000;
        SCOPED_TRACE(integerPath ? "integer path" : "double path");
        const int32_t nx = z.W - z.w + 1, ny = z.H - z.h + 1;
        const auto [lx, ly] = scene.planted.back();  // listed, with two positions of margin
        std::vector<qstd_pair32> pairs(size_t(z.H), qstd_pair32{0, 0});
        for (int32_t y = std::max(ly - 2, 0); y <= std::min(ly + 2, ny - 1); ++y)
            pairs[size_t(y)] = {std::max(lx - 2, 0), std::min(lx + 3, nx)};
        const Runs runs(pairs);
        const qimg_windowConst care = scene.allCare.window();
        PeakInputs in;
        in.runtimeMask = &care;
        in.endpoints = runs.get();
        scene.patternStats(in);
        for (auto [with, without] : {std::pair{Entry::endpointsPatStats, Entry::patStats},
                                     std::pair{Entry::runtimeEndpoints, Entry::runtime}}) {
            SCOPED_TRACE(nameOf(with));
            const auto all = runEntry(without, scene, in);
            in.endpointsFlag = 0;
            EXPECT_TRUE(qtest::samePeaks(runEntry(with, scene, in), all));
            in.endpointsFlag = 1;
            const auto listed = runEntry(with, scene, in);
            if (!integerPath) {
                EXPECT_TRUE(qtest::samePeaks(listed, all));
                continue;
            }
            ASSERT_EQ(listed.size(), 1u);
            EXPECT_EQ(listed[0].integerPosition.first, lx);
            EXPECT_EQ(listed[0].integerPosition.second, ly);
            const auto same = std::find_if(all.begin(), all.end(), [&](const auto& p) {
                return p.integerPosition.first == lx && p.integerPosition.second == ly;
            });
            ASSERT_NE(same, all.end());
            EXPECT_TRUE(qtest::samePeak(listed[0], *same));
        }
    }
}

TEST(Peaks, FailingAllocationsUnwindCleanly)
{
    std::mt19937 rng(9);
    const PlantedScene small(rng, 7, 6, 40, 30, MaskKind::twoValued);
    const PlantedScene large(rng, 257, 256, 261, 259, MaskKind::none);
    const qimg_windowConst smallCare = small.allCare.window();
    const Runs runs(qtest::fullRuns(34, 25, 30));
    const struct { const char* what; const PlantedScene* scene; Entry entry; bool noMask, shape; } cases[] = {
        {"plain", &small, Entry::plain, false, false},
        {"runtime mask, no pattern mask, care limit", &small, Entry::runtime, true, false},
        {"endpoints", &small, Entry::runtimeEndpoints, false, false},
        {"shape score", &small, Entry::window, false, true},
        {"double path", &large, Entry::plain, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PeakInputs in;
        const qstd_rect32 window{2, 1, 30, 25};
        in.runtimeMask = &smallCare, in.endpoints = runs.get(), in.window = &window;
        in.params.minCareFraction = 0.5f;
        in.params.shapeScoreOptimization = c.shape;
        in.threshold = 0.05;
        const qimg_windowConst p = c.scene->pattern.window(), m = c.scene->maskView(),
                               i = c.scene->image.window();
        qtest::expectPeakAllocationFailuresClean(
            [&](auto* out) { return qtest::callEntry(c.entry, &p, c.noMask ? nullptr : &m, &i, in, out); });
    }
}

}  // namespace
