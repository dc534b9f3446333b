// The level operations of the coarse-to-fine search: level threshold,
// contrast and brightness filter, coarse search and refinement.
#include <limits>

#include "run/run_support.hpp"

namespace {

using qtest::Image8;
using qtest::Levels;
using qtest::Model;
using qtest::Peaks;
using qtest::runParams;

constexpr double kInf = std::numeric_limits<double>::infinity();

qmath_xformLinear shift(double x, double y)
{
    qmath_xformLinear t;
    qmath_xformLinear_initScaleShift(&t, 1, 1, x, y);
    return t;
}

// pose = outer ∘ pose ∘ inner, as the search moves candidates between frames.
qsrch_detectedPosePeak conjugate(qsrch_detectedPosePeak c, const qmath_xformLinear& outer,
                                 const qmath_xformLinear& inner)
{
    EXPECT_EQ(qmath_xformLinear_initCompose(&c.pose, &outer, &c.pose), QSRCH_OK);
    EXPECT_EQ(qmath_xformLinear_initCompose(&c.pose, &c.pose, &inner), QSRCH_OK);
    return c;
}
qsrch_detectedPosePeak toBase(const qsrch_detectedPosePeak& c, const qsrch_normcorr_level_& level)
{
    return conjugate(c, level.baseFromLevel, level.levelFromBase);
}
qsrch_detectedPosePeak toLevel(const qsrch_detectedPosePeak& c, const qsrch_normcorr_level_& level)
{
    return conjugate(c, level.levelFromBase, level.baseFromLevel);
}

qsrch_detectedPosePeak candidateAt(double x, double y)
{
    qsrch_detectedPosePeak c{};
    c.pose = shift(x, y);
    return c;
}

// The index of the best-scoring peak near (x, y) (base coordinates when a
// level is given), or -1.
int nearest(const Peaks& peaks, double x, double y, double tolerance, const qsrch_normcorr_level_* level = nullptr)
{
    int best = -1;
    for (size_t i = 0; i < peaks.size(); ++i) {
        const qsrch_detectedPosePeak p = level != nullptr ? toBase(peaks[i], *level) : peaks[i];
        if (std::abs(p.pose.trans.x - x) > tolerance || std::abs(p.pose.trans.y - y) > tolerance) continue;
        if (best < 0 || p.score > peaks[best].score) best = static_cast<int>(i);
    }
    return best;
}

qsrch_status refine(const qsrch_detectedPosePeak& candidate, const Model& model, const Levels& sources,
                    int32_t level, const qsrch_normcorr_runParams& params, uint32_t isFinal, Peaks& out)
{
    const qstd_rect32 rect{0, 0, sources[level].planeWindow[0].width, sources[level].planeWindow[0].height};
    return qsrch_normcorr_refineAtLevel(&candidate, &rect, &qtest::level(*model, level), &sources[level], 0.0,
                                        &params, isFinal, out.get());
}

// Follows the coarse peak nearest (x, y) down to level 0, keeping the first
// peak on each level, to the planted place and score.
void expectDescentTo(const Model& model, const Levels& sources, const Peaks& coarse, double x, double y,
                     double tolerance)
{
    const int i = nearest(coarse, x, y, 2.0, &sources[2]);
    ASSERT_GE(i, 0);
    qsrch_detectedPosePeak candidate = toBase(coarse[i], sources[2]);
    for (int32_t l = 1; l >= 0; --l) {
        Peaks f;
        ASSERT_EQ(refine(toLevel(candidate, sources[l]), model, sources, l, runParams(), l == 0, f), QSRCH_OK);
        ASSERT_GT(f.size(), 0u) << "level " << l;
        candidate = toBase(f[0], sources[l]);
    }
    EXPECT_NEAR(candidate.pose.trans.x, x, tolerance);
    EXPECT_NEAR(candidate.pose.trans.y, y, tolerance);
    EXPECT_GT(candidate.score, 0.99);
}

// Half the threshold at the coarse granularity, all of it at the fine one,
// linear in the logarithm in between; 0.75 of that with the shape score.
TEST(LevelThreshold, HalfAtCoarseAllAtFineLinearInLogGranularity)
{
    const std::array<float, 5> cases[] = {  // g, coarse, fine, threshold, wanted without the shape score
        {4, 4, 1, 0.6f, 0.3f}, {2, 4, 1, 0.6f, 0.45f}, {1, 4, 1, 0.6f, 0.6f}, {4, 8, 2, 0.9f, 0.675f},
        {3, 3, 1, 0.8f, 0.4f}, {4, 4, 4, 0.5f, 0.5f}, {8, 4, 1, 0.6f, 0.15f}};
    for (const auto& [g, coarse, fine, t, want] : cases) {
        SCOPED_TRACE(testing::Message() << "g " << g << " coarse " << coarse << " fine " << fine);
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(g, coarse, int32_t(fine), 0, t), want);
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(g, coarse, int32_t(fine), 1, t),
                        coarse == fine ? t : 0.75f * want);
    }
}

// Both bounds inclusive, NaN never in range, order kept; the default limits
// keep everything (a contrast of exactly 0 too).
TEST(FilterContrastBrightness, KeepsInRangeInOrderAndDefaultsTouchNothing)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 3.0);
    std::vector<qsrch_detectedPosePeak> all(40);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = candidateAt(double(i), 0), all[i].contrast = u(rng), all[i].brightness = u(rng);
    all[3].contrast = 0.0, all[4].contrast = 0.5, all[4].brightness = 2.0, all[5].contrast = NAN;
    const std::array<double, 4> limits[] = {
        {0, kInf, 0, kInf}, {0.5, 2.5, 0, kInf}, {0, kInf, 1.0, 2.0}, {0.5, 1.5, 0.25, 2.0}, {4, kInf, 0, kInf}};
    for (const auto& [cMin, cMax, bMin, bMax] : limits) {
        SCOPED_TRACE(testing::Message() << cMin << " " << cMax << " " << bMin << " " << bMax);
        Peaks peaks;
        ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_assignElements(peaks.get(), all.data(), all.size()), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_filterContrastBrightness(peaks.get(), cMin, cMax, bMin, bMax), QSRCH_OK);
        const bool defaults = cMin == 0 && cMax == kInf && bMin == 0 && bMax == kInf;
        std::vector<double> want, got;
        for (size_t i = 0; i < all.size(); ++i)
            if (defaults || (cMin <= all[i].contrast && all[i].contrast <= cMax && bMin <= all[i].brightness &&
                             all[i].brightness <= bMax))
                want.push_back(double(i));
        for (size_t k = 0; k < peaks.size(); ++k) got.push_back(peaks[k].pose.trans.x);
        EXPECT_EQ(got, want);
    }
}

constexpr int32_t kPw = 40, kPh = 32;
constexpr double kFirstX = 64, kFirstY = 48, kSecondX = 132, kSecondY = 100;

class PlantedScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(7);
        scene_ = qtest::gridTexture(rng, 200, 160);
        pattern_ = qtest::crop(scene_, int32_t(kFirstX), int32_t(kFirstY), kPw, kPh);
        qtest::paste(scene_, pattern_, int32_t(kSecondX), int32_t(kSecondY));
        train(model_, pattern_.window(), qtest::identity());
        build(sources_, model_, scene_.window());
    }
    static void train(Model& model, const qimg_windowConst& pattern, const qmath_xformLinear& patFromClient)
    {
        const qsrch_normcorr_trainParams p = qtest::trainParams(0, 4.0f, 1);
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &pattern, &patFromClient, &p), QSRCH_OK);
        ASSERT_EQ(qtest::levelCount(*model), 3u);
    }
    static void build(Levels& sources, const Model& model, const qimg_windowConst& view)
    {
        ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&view, &model->levels, 3, sources.get()), QSRCH_OK);
    }
    qsrch_status coarse(const qsrch_normcorr_runParams& params, int32_t level, Peaks& out,
                        const Model* model = nullptr, Levels* sources = nullptr)
    {
        const qmath_xformLinear id = qtest::identity();
        return qsrch_normcorr_searchCoarseLevel(model != nullptr ? &**model : &*model_,
                                                (sources != nullptr ? sources : &sources_)->get(), &params, &id,
                                                level, 1 << level, out.get());
    }
    static void expectAllInside(const Peaks& peaks, const Levels& sources, double x0, double y0, double x1,
                                double y1)
    {
        for (size_t i = 0; i < peaks.size(); ++i) {
            const qmath_vect p = toBase(peaks[i], sources[2]).pose.trans;
            EXPECT_TRUE(p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1) << p.x << ", " << p.y;
        }
    }

    Image8 scene_, pattern_;
    Model model_;
    Levels sources_;
};

// Both planted places lead the coarsest level's peaks (all at least half the
// accept threshold), and refinement follows them down to the true place.
TEST_F(PlantedScene, CoarseLevelFindsBothPlantedPlacesAndRefinementFollowsThem)
{
    Peaks peaks;
    ASSERT_EQ(coarse(runParams(), 2, peaks), QSRCH_OK);
    const int first = nearest(peaks, kFirstX, kFirstY, 2.0, &sources_[2]);
    const int second = nearest(peaks, kSecondX, kSecondY, 2.0, &sources_[2]);
    ASSERT_TRUE(first >= 0 && second >= 0);
    EXPECT_TRUE(peaks[first].score > 0.8 && peaks[second].score > 0.8);
    for (size_t i = 0; i < peaks.size(); ++i) {
        EXPECT_GE(peaks[i].score, 0.15);
        EXPECT_TRUE(int(i) == first || int(i) == second || peaks[i].score < peaks[first].score);
    }
    expectDescentTo(model_, sources_, peaks, kFirstX, kFirstY, 0.15);
    expectDescentTo(model_, sources_, peaks, kSecondX, kSecondY, 0.15);
}

// Granularity 2 between coarse 4 and fine 1: 3/4 of the accept threshold,
// not half, and 0.75 of that with the shape allowance.
TEST_F(PlantedScene, AdaptiveThresholdFollowsTheLevelsGranularity)
{
    qsrch_normcorr_runParams params = runParams(1, 0.5f, 1.0f, 0.0f);
    Peaks every;
    ASSERT_EQ(coarse(params, 1, every), QSRCH_OK);
    auto countAtLeast = [&](double threshold) {
        size_t n = 0;
        for (size_t i = 0; i < every.size(); ++i) n += every[i].score >= threshold;
        return n;
    };
    EXPECT_GT(countAtLeast(0.1), countAtLeast(0.15));  // the thresholds really differ here
    for (float accept : {0.2f, 0.3f, 0.6f})
        for (uint32_t shape : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << "accept " << accept << " shape " << shape);
            params.acceptThreshold = accept, params.shapeScoreOptimization = shape;
            Peaks fixed, adaptive;
            params.adaptiveLevelThresholds = 0;
            ASSERT_EQ(coarse(params, 1, fixed), QSRCH_OK);
            params.adaptiveLevelThresholds = 1;
            ASSERT_EQ(coarse(params, 1, adaptive), QSRCH_OK);
            EXPECT_EQ(fixed.size(), countAtLeast(0.5f * accept));
            EXPECT_EQ(adaptive.size(), countAtLeast(static_cast<float>(0.75 * (shape ? 0.75 : 1.0) * accept)));
        }
}

// A region keeps only its own place; an infinite extent means no region. It
// holds the model's client origin, in the searched image's client frame.
TEST_F(PlantedScene, SearchRegionKeepsOnlyItsOwnPlaceInTheClientFrame)
{
    qsrch_normcorr_runParams params = runParams();
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    Peaks peaks, all, shiftedPeaks;
    ASSERT_EQ(coarse(params, 2, peaks), QSRCH_OK);
    EXPECT_GE(nearest(peaks, kSecondX, kSecondY, 2.0, &sources_[2]), 0);
    expectAllInside(peaks, sources_, 120 - 8, 90 - 8, 144 + 8, 110 + 8);
    params.searchRegion.width = kInf;
    ASSERT_EQ(coarse(params, 2, all), QSRCH_OK);
    EXPECT_GE(nearest(all, kFirstX, kFirstY, 2.0, &sources_[2]), 0);

    Model shifted;
    train(shifted, pattern_.window(), shift(-20, -16));  // client origin at pattern pixel (20, 16)
    Levels offsetSources;
    build(offsetSources, shifted, scene_.window(16, 8, 184, 152));
    params.searchRegion = qstd_rectD{kFirstX - 20 - 2, kFirstY - 16 - 2, 4, 4};
    ASSERT_EQ(coarse(params, 2, shiftedPeaks, &shifted, &offsetSources), QSRCH_OK);
    EXPECT_GE(nearest(shiftedPeaks, kFirstX - 16, kFirstY - 8, 2.0, &offsetSources[2]), 0);
    expectAllInside(shiftedPeaks, offsetSources, kFirstX - 24, kFirstY - 16, kFirstX - 8, kFirstY);
}

// Single candidates refined at level 0. An offset beyond a quarter pixel
// adds a position on its side, so the true place two away is reached; at
// 0.2 the last of three positions tops the region only because the better
// one beyond was not scored, and re-detection drops it. Border candidates
// are kept; only the final level applies the contrast limits.
TEST_F(PlantedScene, RefinementReachesTheTruePlaceAndKeepsOnlyTruePeaks)
{
    std::mt19937 rng(9);
    Image8 bordered = qtest::gridTexture(rng, 120, 90);
    qtest::paste(bordered, pattern_, 0, 10);
    qtest::paste(bordered, pattern_, 120 - kPw, 90 - kPh);
    qtest::paste(bordered, pattern_, 42, 2);
    Levels borderSources;
    build(borderSources, model_, bordered.window());
    const struct {
        const char* what;
        const Levels* sources;
        double x, y, contrastMin;
        uint32_t isFinal;
        double wantX, wantY, tolerance;
        bool found;
    } cases[] = {
        {"offset -1.7", &sources_, kFirstX - 1.7, kFirstY, 0, 1, kFirstX, kFirstY, 0.05, true},
        {"border peak that is no peak", &sources_, kFirstX - 1.8, kFirstY, 0, 1, kFirstX - 1, kFirstY, 0.6, false},
        {"nor the true one", &sources_, kFirstX - 1.8, kFirstY, 0, 1, kFirstX, kFirstY, 0.6, false},
        {"left border", &borderSources, 0.2, 10.1, 0, 1, 0, 10, 0.5, true},
        {"bottom right border, outside", &borderSources, 80.4, 57.6, 0, 1, 80, 58, 0.5, true},
        // At or above the top row the neighbourhood is centred on row 1, so row 2 is scored.
        {"top, far outside, true place at row 2", &borderSources, 42, -1.3, 0, 1, 42, 2, 0.5, true},
        {"contrast limit, not final", &sources_, kFirstX, kFirstY, 1.5, 0, kFirstX, kFirstY, 0.5, true},
        {"contrast limit, final", &sources_, kFirstX, kFirstY, 1.5, 1, kFirstX, kFirstY, 0.5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qsrch_normcorr_runParams params = runParams();
        params.contrastMin = c.contrastMin;
        Peaks f;
        ASSERT_EQ(refine(candidateAt(c.x, c.y), model_, *c.sources, 0, params, c.isFinal, f), QSRCH_OK);
        const int i = nearest(f, c.wantX, c.wantY, c.tolerance);
        ASSERT_EQ(i >= 0, c.found);
        EXPECT_TRUE(!c.found || f[i].score > 0.99);
    }
}

// Each peak computation polls first; a refusal comes back unchanged.
TEST_F(PlantedScene, AttentionRefusalIsReturned)
{
    const qsys_status refusal = static_cast<qsys_status>(0x80000B07);
    qtest::AttentionCounter counter(refusal);
    Peaks peaks;
    qsrch_normcorr_runParams params = runParams();
    EXPECT_EQ(coarse(params, 2, peaks), refusal);
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    EXPECT_EQ(coarse(params, 2, peaks), refusal);
    EXPECT_EQ(refine(candidateAt(kFirstX, kFirstY), model_, sources_, 0, params, 1, peaks), refusal);
    EXPECT_EQ(counter.polls(), 3);
}

TEST_F(PlantedScene, AllocationFailuresLeaveNothingBehind)
{
    qsrch_normcorr_runParams params = runParams();
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    qtest::expectAllocationFailuresClean([&] {
        Peaks peaks;
        return coarse(params, 2, peaks);
    });
    // Offset 0.3 puts the true place on the region's border: re-detection runs.
    qtest::expectAllocationFailuresClean([&] {
        Peaks peaks;
        return refine(candidateAt(kFirstX - 1.7, kFirstY), model_, sources_, 0, params, 1, peaks);
    });
}

}  // namespace
