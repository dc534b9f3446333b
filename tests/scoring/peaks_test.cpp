// Correlation peaks, grey and three-plane, against planted copies, brute force and hand-worked care limits.
#include <set>

#include "reference.hpp"

namespace {

using namespace qtest;

struct Planes {
    std::vector<Image8> p;
    Planes(int32_t w, int32_t h, int32_t slack = 3)
        : p{{w, h, w + slack, 0x5A}, {w, h, w + slack, 0xC3}, {w, h, w + slack, 0x99}} {}
    Image8& operator[](size_t k) { return p[k]; }
    const Image8& operator[](size_t k) const { return p[k]; }
    // Pattern plane (k + shift) % 3 copied into plane k at (x, y).
    void plant(const Planes& pattern, int32_t x, int32_t y, int shift = 0)
    {
        for (size_t k = 0; k < 3; ++k)
            for (int32_t j = 0; j < pattern[0].height(); ++j)
                for (int32_t i = 0; i < pattern[0].width(); ++i)
                    p[k].at(x + i, y + j) = pattern[(k + shift) % 3].at(i, j);
    }
};

// The pattern planes, mask and image planes of a call; grey entries read plane 0.
struct PeakViews {
    qimg_windowConst pattern[3];
    const qimg_windowConst* mask;
    qimg_windowConst image[3];
};

PeakViews viewsOf(const Planes& pattern, const qimg_windowConst* mask, const Planes& image)
{
    return {{pattern[0].window(), pattern[1].window(), pattern[2].window()}, mask,
            {image[0].window(), image[1].window(), image[2].window()}};
}

// What the entries take besides the views; integer three-plane entries cast the sums of squares.
struct PeakInputs {
    const qimg_windowConst* runtimeMask = nullptr;
    const qstd_rect32* window = nullptr;
    const qstd_vector_qstd_pair32* endpoints = nullptr;
    uint32_t endpointsFlag = 1, n = 0, sum[3] = {};
    double sumSq[3] = {}, threshold = 0.5, weights[3] = {1, 1, 1};
    qsrch_normalizedCorrelationParams params = scoreParams(0, 0, 0);
};

enum Takes : unsigned { kThreePlanes = 1, kWindow = 2, kRuntime = 4, kEndpoints = 8, kPatStats = 16, kDoubles = 32 };

struct PeakEntry {
    const char* name;
    unsigned takes;
    qsrch_status (*call)(const PeakViews&, const PeakInputs&, qstd_vector_qsrch_detectedPosePeak*);
};

// The argument lists, spelled once.
#define QT_E(name, takes, call) {name, takes, [](QT_V) { return qsrch_##call; }}
#define QT_V const PeakViews &v, const PeakInputs &in, qstd_vector_qsrch_detectedPosePeak *out
#define QT_G &v.pattern[0], v.mask, &v.image[0]
#define QT_3 &v.pattern[0], &v.pattern[1], &v.pattern[2], v.mask, &v.image[0], &v.image[1], &v.image[2]
#define QT_P in.n, in.sum[0], in.sumSq[0]
#define QT_S in.sum[0], in.sum[1], in.sum[2]
#define QT_D QT_S, in.sumSq[0], in.sumSq[1], in.sumSq[2]
#define QT_U QT_S, uint32_t(in.sumSq[0]), uint32_t(in.sumSq[1]), uint32_t(in.sumSq[2])
#define QT_R in.endpoints, in.endpointsFlag
#define QT_T in.threshold, &in.params, out
#define QT_W in.threshold, &in.params, in.weights, out
const std::vector<PeakEntry> kEntries = {
    QT_E("plain", 0, DcomputeNormalizedCorrelationPeaks(QT_G, QT_T)),
    QT_E("window", kWindow, DcomputeNormalizedCorrelationPeaksWithWindow(QT_G, in.window, QT_T)),
    QT_E("patStats", kPatStats, DcomputeNormalizedCorrelationPeaksWithPatStats(QT_G, QT_P, QT_T)),
    QT_E("endpointsPatStats", kEndpoints | kPatStats,
         DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(QT_G, QT_R, QT_P, QT_T)),
    QT_E("runtime", kRuntime, DcomputeNormalizedCorrelationPeaksRuntimeMasked(QT_G, in.runtimeMask, QT_T)),
    QT_E("runtimeEndpoints", kRuntime | kEndpoints,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(QT_G, in.runtimeMask, QT_R, QT_T)),
    QT_E("runtimePatStats", kRuntime | kPatStats,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(QT_G, in.runtimeMask, QT_P, QT_T)),
    QT_E("runtimeWindow", kRuntime | kPatStats | kWindow,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(QT_G, in.runtimeMask, QT_P, in.window, QT_T)),
    QT_E("Dplain3", kThreePlanes | kDoubles, DcomputeNormalizedCorrelationPeaks3(QT_3, QT_W)),
    QT_E("plain3", kThreePlanes, computeNormalizedCorrelationPeaks3(QT_3, QT_W)),
    QT_E("DruntimeWindow3", kThreePlanes | kDoubles | kRuntime | kPatStats | kWindow,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(QT_3, in.runtimeMask, in.n, QT_D, in.window, QT_W)),
    QT_E("DruntimePatStats3", kThreePlanes | kDoubles | kRuntime | kPatStats,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(QT_3, in.runtimeMask, in.n, QT_D, QT_W)),
    QT_E("DruntimeEndpoints3", kThreePlanes | kDoubles | kRuntime | kPatStats | kEndpoints,
         DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
             QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_D, QT_W)),
    QT_E("runtimeWindow3", kThreePlanes | kRuntime | kPatStats | kWindow,
         computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(QT_3, in.runtimeMask, in.n, QT_U, in.window, QT_W)),
    QT_E("runtimePatStats3", kThreePlanes | kRuntime | kPatStats,
         computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(QT_3, in.runtimeMask, in.n, QT_U, QT_W)),
    QT_E("runtimeEndpoints3", kThreePlanes | kRuntime | kPatStats | kEndpoints,
         computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
             QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_U, QT_W)),
};

const PeakEntry& entryNamed(const std::string& name)
{
    return *std::find_if(kEntries.begin(), kEntries.end(), [&](const PeakEntry& e) { return name == e.name; });
}

Peaks runEntry(const PeakEntry& e, const PeakViews& v, const PeakInputs& in)
{
    PeakVector out;
    EXPECT_EQ(e.call(v, in, &out.v), QSRCH_OK) << e.name;
    return out.items();
}

enum class MaskKind { none, absentPixels, twoValued };

// A random pattern (zero where its mask does not care) planted apart, first and last positions included.
struct PlantedScene {
    Planes pattern, image;
    Image8 mask, allCare;
    qimg_windowConst maskWindow;
    std::vector<std::pair<int32_t, int32_t>> planted{{0, 0}};
    PeakInputs in;

    PlantedScene(std::mt19937& rng, int32_t w, int32_t h, int32_t W, int32_t H, MaskKind kind, bool colour = false)
        : pattern(w, h), image(W, H, 5), mask(w, h, w + 2), allCare(W, H, W + 1)
    {
        for (size_t k = 0; k < 3; ++k) pattern[k].randomize(rng), image[k].randomize(rng);
        if (!colour) pattern[1] = pattern[2] = pattern[0], image[1] = image[2] = image[0];
        allCare.fill(255);
        mask.randomMask(rng, kind == MaskKind::twoValued ? 0.75 : 1.0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                for (Image8& p : pattern.p) mask.at(x, y) = mask.at(x, y) ? 255 : 0, p.at(x, y) *= mask.at(x, y) != 0;
        for (size_t k = 0; k < 3; ++k) {  // the pattern's own care count and sums
            const Stats s = placement(pattern[k], pattern[k], &mask);
            in.n = uint32_t(s.N), in.sum[k] = uint32_t(s.Sp), in.sumSq[k] = double(s.Spp);
        }
        maskWindow = kind == MaskKind::absentPixels ? withoutPixels(mask.window()) : mask.window();
        auto plantIfApart = [&](int32_t x, int32_t y) {
            bool apart = true;
            for (auto [ox, oy] : planted) apart &= std::abs(ox - x) >= w + 2 || std::abs(oy - y) >= h + 2;
            if (apart) planted.emplace_back(x, y);
        };
        plantIfApart(W - w, H - h);
        for (int tries = 0; tries < 200 && planted.size() < 5; ++tries)
            plantIfApart(int32_t(rng() % (W - w + 1)), int32_t(rng() % (H - h + 1)));
        // In colour, the last copy is a decoy of the same luminance: its planes rotated.
        for (auto [ox, oy] : planted) image.plant(pattern, ox, oy, colour && std::pair(ox, oy) == planted.back());
        if (colour) planted.pop_back();
        views = viewsOf(pattern, kind == MaskKind::none ? nullptr : &maskWindow, image);
    }
    PeakViews views;
};

// Inputs that mean the same give every entry the plain entry's peaks; planted copies alone score 0.9 or more.
TEST(Peaks, EveryEntryFindsThePlantedCopiesAndNothingElse)
{
    const struct { int32_t w, h, W, H; } sizes[] = {{1, 9, 31, 40}, {7, 8, 40, 33}, {12, 12, 64, 57}, {17, 5, 70, 29},
        {31, 1, 100, 9}, {256, 256, 262, 258}, {257, 256, 261, 259}, {260, 253, 266, 258}};
    uint32_t seed = 100;
    for (const auto& z : sizes)
        for (MaskKind kind : {MaskKind::none, MaskKind::absentPixels, MaskKind::twoValued}) {
            std::mt19937 rng(++seed);
            PlantedScene scene(rng, z.w, z.h, z.W, z.H, kind);
            const bool large = z.w * z.h > 0x10000, sweep = z.w == 7 || (z.w == 257 && kind == MaskKind::none);
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", pattern " << z.w << "x" << z.h);
            const qimg_windowConst care = scene.allCare.window(), noPixels = withoutPixels(care);
            const qstd_rect32 whole{0, 0, z.W, z.H};
            std::vector<qstd_pair32> rows(z.H, qstd_pair32{0, 0});  // every position row listed
            std::fill_n(rows.begin(), z.H - z.h + 1, qstd_pair32{0, z.W - z.w + 1});
            const Runs runs(rows);
            const auto [lx, ly] = scene.planted.back();  // runs around the last copy, two positions of margin
            std::vector<qstd_pair32> near(z.H, qstd_pair32{0, 0});
            for (int32_t y = std::max(ly - 2, 0); y <= std::min(ly + 2, z.H - z.h); ++y)
                near[y] = {std::max(lx - 2, 0), std::min(lx + 3, z.W - z.w + 1)};
            const Runs nearRuns(near);
            PeakInputs& in = scene.in;
            in.window = &whole, in.endpoints = runs.get(), in.threshold = 0.3, in.params.minCareFraction = 1.0f;
            const auto reference = runEntry(entryNamed("plain"), scene.views, in);
            for (const PeakEntry& e : kEntries)
                for (const qimg_windowConst* runtimeMask : {&care, &noPixels}) {
                    const bool grey = !(e.takes & kThreePlanes);
                    if (runtimeMask == &noPixels && !(grey && e.takes & kRuntime)) continue;
                    if (!grey && !(e.takes & kDoubles) && large) {  // integer sums over 0x10000 pixels: refused
                        PeakVector refused;
                        EXPECT_EQ(e.call(scene.views, in, &refused.v), QSRCH_E_PATTERN_TOO_LARGE);
                        continue;
                    }
                    SCOPED_TRACE(testing::Message() << e.name << (runtimeMask == &care ? "" : ", no pixels"));
                    in.runtimeMask = runtimeMask;
                    const Peaks all = runEntry(e, scene.views, in);
                    EXPECT_TRUE(samePeaks(all, reference, grey));
                    // Flag 1 restricts the integer path only; a one-column pattern makes noise peaks near the copy.
                    if (e.takes & kEndpoints && runtimeMask == &care && z.w > 1) {
                        PeakInputs restricted = in;
                        restricted.endpoints = nearRuns.get();
                        const auto copy = std::find_if(all.begin(), all.end(), [&](const auto& p) {
                            return p.integerPosition.first == lx && p.integerPosition.second == ly;
                        });
                        ASSERT_NE(copy, all.end());
                        EXPECT_TRUE(samePeaks(runEntry(e, scene.views, restricted), large ? all : Peaks{*copy}));
                        restricted.endpointsFlag = 0;
                        EXPECT_TRUE(samePeaks(runEntry(e, scene.views, restricted), all));
                    }
                    const bool rounds = e.takes & kPatStats && z.w * z.h < 1000 &&
                                        (e.takes & kDoubles || !(e.takes & (kThreePlanes | kRuntime)));
                    // Given sums of squares go in as floor(x + 0.5); no runtime mask, which brings sums of its own.
                    for (double nudge : rounds ? std::vector{-0.5, 0.49, -0.51} : std::vector<double>{}) {
                        PeakInputs nudged = in;
                        nudged.sumSq[0] += nudge, nudged.runtimeMask = nullptr;
                        EXPECT_EQ(bool(samePeaks(runEntry(e, scene.views, nudged), reference, grey)), nudge > -0.51);
                    }
                    if (runtimeMask == &noPixels) continue;
                    if (sweep)  // every allocation may fail and is released; unfailed, the call finds peaks
                        expectAllocationFailuresClean([&] {
                            PeakVector out;
                            const qsrch_status s = e.call(scene.views, in, &out.v);
                            return s == QSRCH_OK && out.v.size == 0 ? QSYS_E_BAD_ARGUMENT : s;
                        });
                    // Images too small, and windows too small or past the positions: a filled list is emptied.
                    const qstd_rect32 empty[] = {{0, 0, z.w - 1, z.H}, {0, 0, z.W, z.h - 1}, {3, 3, z.w - 1, z.h + 5},
                                                 {3, 3, z.w + 5, z.h - 1}, {z.W - z.w + 2, 0, z.w + 5, z.H}};
                    for (const qstd_rect32& window : empty) {
                        const bool narrowed = &window < empty + 2;
                        if (!narrowed && !(e.takes & kWindow)) break;
                        PeakViews views = scene.views;
                        for (qimg_windowConst& i : views.image)
                            i.width = narrowed ? window.width : z.W, i.height = narrowed ? window.height : z.H;
                        in.window = &window;
                        PeakVector out;
                        qstd_vector_qsrch_detectedPosePeak_resize(&out.v, 3);
                        EXPECT_TRUE(e.call(views, in, &out.v) == QSRCH_OK && out.v.size == 0) << &window - empty;
                    }
                    in.window = &whole;
                }
            std::set<std::pair<int32_t, int32_t>> found;
            for (const qsrch_detectedPosePeak& peak : reference) {
                const int32_t x = peak.integerPosition.first, y = peak.integerPosition.second;
                if (peak.score < 0.9) continue;
                found.emplace(x, y);
                const Stats st = placement(scene.pattern[0], scene.image[0], nullptr, x, y);
                qsrch_detectedPosePeak want = peak;
                qsrch_DcomputeContrastAndBrightnessFromStats(in.n, st.Sp, st.Spp, st.Si, st.Sii, &want.contrast,
                                                             &want.brightness);
                want.careCount = in.n, want.score = 1, want.pose.matrix = {1, 0, 0, 1};
                want.searchGranularity = want.searchLevel = want.searchSplit = 0;
                EXPECT_TRUE(samePeaks({peak}, {want}, false));
                EXPECT_TRUE(std::fabs(peak.pose.trans.x - x) <= 0.5 && std::fabs(peak.pose.trans.y - y) <= 0.5);
            }
            EXPECT_EQ(found, decltype(found)(scene.planted.begin(), scene.planted.end()));
        }
}

// A window reports the whole image's peaks well inside its positions, identically, and nothing outside.
TEST(Peaks, WindowsAgreeWithTheWholeImageInsideTheirPositions)
{
    std::mt19937 rng(11);
    const int32_t w = 9, h = 7, W = 61, H = 47;
    PlantedScene scene(rng, w, h, W, H, MaskKind::twoValued, true);
    const qimg_windowConst care = scene.allCare.window();
    PeakInputs& in = scene.in;
    in.runtimeMask = &care, in.threshold = 0.02;  // plenty of noise peaks
    std::vector<qstd_rect32> windows = {{0, 0, W, H}, {0, 0, w + 6, h + 9}, {W - w - 4, H - h - 3, w + 4, h + 3}};
    for (auto [px, py] : scene.planted) windows.push_back({px, py, w, h});
    for (int k = 0; k < 30; ++k) {
        const int32_t x = rng() % (W - w + 1), y = rng() % (H - h + 1);
        windows.push_back({x, y, w + int32_t(rng() % (W - w + 1 - x)), h + int32_t(rng() % (H - h + 1 - y))});
    }
    for (const PeakEntry& e : kEntries) {
        if (!(e.takes & kWindow)) continue;
        in.window = &windows[0];
        const auto whole = runEntry(e, scene.views, in);
        ASSERT_GT(whole.size(), 20u);
        std::set<std::pair<int32_t, int32_t>> exact;  // the copies alone, not the decoy
        for (const auto& p : whole)
            if (std::fabs(p.score - 1) + std::fabs(p.contrast - 1) + std::fabs(p.brightness - 1) < 1e-9)
                exact.emplace(p.integerPosition.first, p.integerPosition.second);
        EXPECT_EQ(exact, decltype(exact)(scene.planted.begin(), scene.planted.end()));
        for (const qstd_rect32& win : windows) {
            SCOPED_TRACE(testing::Message() << e.name << " window " << win.x << ", " << win.y << ", " << win.width
                                            << " x " << win.height);
            in.window = &win;
            const auto got = runEntry(e, scene.views, in);
            // Peaks within `by` of the window's positions; the fit moves a peak by at most one position.
            auto inside = [&](const Peaks& peaks, int32_t by) {
                Peaks kept;
                std::copy_if(peaks.begin(), peaks.end(), std::back_inserter(kept), [&](const auto& p) {
                    const int32_t x = p.integerPosition.first - win.x, y = p.integerPosition.second - win.y;
                    return x >= by && x <= win.width - w - by && y >= by && y <= win.height - h - by;
                });
                return kept;
            };
            EXPECT_EQ(inside(got, -1).size(), got.size());
            EXPECT_TRUE(samePeaks(inside(got, 2), inside(whole, 2)));
            // A pattern-sized window sees one position, which the grown window shows a peak on all sides.
            const auto match = std::find_if(whole.begin(), whole.end(), [&](const auto& p) {
                return p.integerPosition.first == win.x && p.integerPosition.second == win.y && p.score > 0.99;
            });
            if (win.width != w || win.height != h || match == whole.end()) continue;
            qsrch_detectedPosePeak alone = *match;
            alone.flags = QIP_PEAK_AT_LEFT | QIP_PEAK_AT_RIGHT | QIP_PEAK_AT_TOP | QIP_PEAK_AT_BOTTOM;
            EXPECT_TRUE(samePeaks(got, {alone}));
        }
    }
}

// Care counts 0, 1, 1, 2, 2, 2: grey limit floor(Ntotal * fraction + 0.5), three planes round(n * fraction).
TEST(Peaks, CareLimitIsAShareOfThePatternsCareCount)
{
    Image8 runtime(8, 1, 9), mask(3, 1);
    Planes pattern(3, 1), image(8, 1);
    for (int32_t x = 0; x < 8; ++x) runtime.at(x, 0) = std::array{0, 0, 0, 255, 0, 200, 255, 0}[x];
    for (size_t k = 0; k < 3; ++k)
        for (int32_t x = 0; x < 8; ++x) image[k].at(x, 0) = 0, pattern[k].at(x % 3, 0) = uint8_t(10 + 40 * (x % 3) + k);
    const qimg_windowConst r = runtime.window(), m = mask.window(), unbound = withoutPixels(r);
    const std::vector<const char*> grey[] = {{"runtime"}, {"plain"}, {"runtimePatStats"}, {"runtimeWindow"}},
                                   three = {"DruntimeWindow3", "runtimeWindow3"};
    const struct { const std::vector<const char*>& entries; float fraction; uint32_t n;
                   const qimg_windowConst* runtimeMask; const char* maskRow; int32_t x; uint32_t careCount;
    } cases[] = {
        {grey[0], 0.15f, 2, &r, nullptr, 0, 0},        // 0.95 truncates to 0: the plain detector
        {grey[0], 0.3f, 2, &r, nullptr, 1, 1},         // 1.4 -> 1
        {grey[0], 1.0f, 2, &r, nullptr, -1, 0},        // 3.5 -> 3: no position qualifies
        {grey[1], 1.0f, 2, &r, nullptr, 0, 3},         // no runtime mask: the fraction plays no part
        {grey[2], 0.5f, 2, &r, nullptr, 1, 1},         // given n = 2: 1.5 -> 1
        {grey[3], 0.5f, 2, &r, "\xff\xff\xc8", 1, 1},  // (255 + 255 + 200) / 255 = 2: 1.5 -> 1
        {grey[3], 0.5f, 2, &r, "\xff\xff\xff", 3, 2},  // 3: 2.0 -> 2
        {three, 0.4f, 1, &r, nullptr, 0, 0},           // 0.4 -> 0: the plain detector
        {three, 0.5f, 3, &r, nullptr, 3, 2},           // 1.5 -> 2
        {three, 0.5f, 5, &r, nullptr, -1, 0},          // 2.5 -> 3
        {three, 1.0f, 5, nullptr, nullptr, 0, 5},      // no runtime mask: the given count
        {three, 0.5f, 2, &unbound, nullptr, -1, 0},    // a runtime mask without pixels cares for nothing
    };
    const qstd_rect32 whole{0, 0, 8, 1};
    for (const auto& c : cases)
        for (const char* name : c.entries) {
            SCOPED_TRACE(testing::Message() << name << " fraction " << c.fraction << ", n " << c.n);
            for (int32_t x = 0; x < 3; ++x) mask.at(x, 0) = c.maskRow ? uint8_t(c.maskRow[x]) : 255;
            PeakInputs in{c.runtimeMask, &whole, nullptr, 1, c.n, {}, {}, 0};
            in.params.minCareFraction = c.fraction;
            const auto peaks = runEntry(entryNamed(name), viewsOf(pattern, c.maskRow ? &m : nullptr, image), in);
            ASSERT_EQ(peaks.size(), c.x < 0 ? 0u : 1u);
            EXPECT_TRUE(c.x < 0 || (peaks[0].integerPosition.first == c.x && peaks[0].score == 0.0 &&
                                    peaks[0].careCount == c.careCount));
        }
}

}  // namespace
