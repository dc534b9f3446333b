// The level operations of the coarse-to-fine search: threshold, filter, coarse search, refinement.
#include <limits>

#include "run/run_support.hpp"

namespace {

using qtest::Image8, qtest::Levels, qtest::Model, qtest::PeakVector, qtest::runParams;

constexpr double kInf = std::numeric_limits<double>::infinity();

// Half at the coarse granularity, all at the fine one, linear in the logarithm; 0.75 of that with shape.
TEST(LevelThreshold, HalfAtCoarseAllAtFineLinearInLogGranularity)
{
    const std::array<float, 5> cases[] = {  // g, coarse, fine, threshold, wanted without the shape score
        {4, 4, 1, 0.6f, 0.3f}, {2, 4, 1, 0.6f, 0.45f}, {1, 4, 1, 0.6f, 0.6f}, {4, 8, 2, 0.9f, 0.675f},
        {3, 3, 1, 0.8f, 0.4f}, {4, 4, 4, 0.5f, 0.5f}, {8, 4, 1, 0.6f, 0.15f}};
    for (const auto& [g, coarse, fine, t, want] : cases) {
        const float shaped = coarse == fine ? t : 0.75f * want;
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(g, coarse, int32_t(fine), 0, t), want) << g << " " << coarse;
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(g, coarse, int32_t(fine), 1, t), shaped) << g << " " << coarse;
    }
}

// Both bounds inclusive, NaN never in range; the default limits keep everything (a contrast of 0 too).
TEST(FilterContrastBrightness, KeepsInRangeInOrderAndDefaultsTouchNothing)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 3.0);
    std::vector<qsrch_detectedPosePeak> all(40);  // numbered by their x
    for (size_t i = 0; i < all.size(); ++i)
        all[i].pose.trans.x = double(i), all[i].contrast = u(rng), all[i].brightness = u(rng);
    all[3].contrast = 0.0, all[4].contrast = 0.5, all[4].brightness = 2.0, all[5].contrast = NAN;
    for (const auto& [cMin, cMax, bMin, bMax] : {std::array{0.0, kInf, 0.0, kInf}, {0.5, 2.5, 0, kInf},
                                                 {0, kInf, 1, 2}, {0.5, 1.5, 0.25, 2}, {4, kInf, 0, kInf}}) {
        PeakVector peaks;
        ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_assignElements(peaks.get(), all.data(), all.size()), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_filterContrastBrightness(peaks.get(), cMin, cMax, bMin, bMax), QSRCH_OK);
        const bool defaults = cMin == 0 && cMax == kInf && bMin == 0 && bMax == kInf;
        std::vector<double> want, got;
        for (const qsrch_detectedPosePeak& p : all)
            if (defaults || (cMin <= p.contrast && p.contrast <= cMax && bMin <= p.brightness && p.brightness <= bMax))
                want.push_back(p.pose.trans.x);
        for (size_t k = 0; k < peaks.size(); ++k) got.push_back(peaks[k].pose.trans.x);
        EXPECT_EQ(got, want) << cMin << " " << cMax << " " << bMin << " " << bMax;
    }
}

constexpr int32_t kPw = 40, kPh = 32;
constexpr double kFirstX = 64, kFirstY = 48, kSecondX = 132, kSecondY = 100;

// A grid texture holding its crop at (64, 48) and a copy at (132, 100); a three-level model of the crop.
class PlantedScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(7);
        scene_ = qtest::gridTexture(rng, 200, 160), pattern_ = Image8(kPw, kPh, kPw + 3);
        qtest::paste(pattern_, scene_, int32_t(kFirstX), int32_t(kFirstY), kPw, kPh, 0, 0);
        qtest::paste(scene_, pattern_, 0, 0, kPw, kPh, int32_t(kSecondX), int32_t(kSecondY));
        train(model_, qtest::identity());
        build(sources_, model_, scene_.window());
    }
    void train(Model& model, const qmath_xformLinear& patFromClient)
    {
        const qsrch_normcorr_trainParams p = qtest::trainParams(0, 4.0f);
        const qimg_windowConst pattern = pattern_.window();
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &pattern, &patFromClient, &p), QSRCH_OK);
    }
    static void build(Levels& sources, const Model& model, const qimg_windowConst& view)
    {
        ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&view, &model->levels, 3, sources.get()), QSRCH_OK);
    }
    qsrch_status coarse(const qsrch_normcorr_runParams& params, int32_t level, PeakVector& out,
                        const Model* model = nullptr, Levels* sources = nullptr)
    {
        const qmath_xformLinear id = qtest::identity();
        return qsrch_normcorr_searchCoarseLevel(model ? &**model : &*model_, (sources ? sources : &sources_)->get(),
                                                &params, &id, level, 1 << level, out.get());
    }
    // Level-2 peaks in base coordinates: all inside [x0, x1] x [y0, y1], one within 2 of (x, y).
    static void expectPlaces(const PeakVector& peaks, const Levels& sources, double x, double y,
                             std::array<double, 4> box)
    {
        bool found = false;
        for (size_t i = 0; i < peaks.size(); ++i) {
            const qmath_vect o = qtest::mapPoint(sources[2].levelFromBase, 0, 0), t = peaks[i].pose.trans;
            const qmath_vect p = qtest::mapPoint(sources[2].baseFromLevel, o.x + t.x, o.y + t.y);
            found = found || std::hypot(p.x - x, p.y - y) <= 2;
            EXPECT_TRUE(p.x >= box[0] && p.x <= box[2] && p.y >= box[1] && p.y <= box[3]) << p.x << ", " << p.y;
        }
        EXPECT_TRUE(found) << x << ", " << y;
    }

    Image8 scene_, pattern_;
    Model model_;
    Levels sources_;
};

// Level 1 of 4..1 keeps peaks from half the accept threshold, or its level threshold when adaptive.
TEST_F(PlantedScene, CoarseThresholdFollowsTheLevelsGranularity)
{
    qsrch_normcorr_runParams params = runParams(1, 0.5f, 1.0f, 0.0f);
    PeakVector every;
    ASSERT_EQ(coarse(params, 1, every), QSRCH_OK);
    auto countAtLeast = [&](double threshold) {
        size_t n = 0;
        for (size_t i = 0; i < every.size(); ++i) n += every[i].score >= threshold;
        return n;
    };
    EXPECT_GT(countAtLeast(0.1), countAtLeast(0.15));  // the thresholds really differ here
    for (float accept : {0.2f, 0.3f, 0.6f})
        for (uint32_t shape : {0u, 1u}) {
            PeakVector fixed, adaptive;
            params.acceptThreshold = accept, params.shapeScoreOptimization = shape, params.adaptiveLevelThresholds = 0;
            ASSERT_EQ(coarse(params, 1, fixed), QSRCH_OK);
            params.adaptiveLevelThresholds = 1;
            ASSERT_EQ(coarse(params, 1, adaptive), QSRCH_OK);
            EXPECT_EQ(fixed.size(), countAtLeast(0.5f * accept)) << accept << " " << shape;
            EXPECT_EQ(adaptive.size(), countAtLeast(static_cast<float>(0.75 * (shape ? 0.75 : 1.0) * accept)));
        }
}

// A region holds the model's client origin, in the searched image's client frame; infinite means none
// (the search without a region is the end-to-end tests' subject).
TEST_F(PlantedScene, SearchRegionKeepsOnlyItsOwnPlaceInTheClientFrame)
{
    qsrch_normcorr_runParams params = runParams();
    PeakVector all, peaks, shiftedPeaks;
    ASSERT_EQ(coarse(params, 2, all), QSRCH_OK);
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    ASSERT_EQ(coarse(params, 2, peaks), QSRCH_OK);
    expectPlaces(peaks, sources_, kSecondX, kSecondY, {120 - 8, 90 - 8, 144 + 8, 110 + 8});
    params.searchRegion.width = kInf;
    ASSERT_EQ(coarse(params, 2, peaks), QSRCH_OK);
    EXPECT_EQ(peaks.size(), all.size());
    Model shifted;
    Levels offsetSources;
    qmath_xformLinear patFromClient;  // client origin at pattern pixel (20, 16)
    qmath_xformLinear_initScaleShift(&patFromClient, 1, 1, -20, -16);
    train(shifted, patFromClient);
    build(offsetSources, shifted, scene_.window(16, 8, 184, 152));
    params.searchRegion = qstd_rectD{kFirstX - 20 - 2, kFirstY - 16 - 2, 4, 4};
    ASSERT_EQ(coarse(params, 2, shiftedPeaks, &shifted, &offsetSources), QSRCH_OK);
    expectPlaces(shiftedPeaks, offsetSources, kFirstX - 16, kFirstY - 8,
                 {kFirstX - 24, kFirstY - 16, kFirstX - 8, kFirstY});
}

// An offset beyond a quarter pixel adds a position on its side; a region top that only the unscored
// beyond beat is dropped on re-detection; border candidates stay; only the final level filters contrast.
TEST_F(PlantedScene, RefinementReachesTheTruePlaceAndKeepsOnlyTruePeaks)
{
    std::mt19937 rng(9);
    Image8 bordered = qtest::gridTexture(rng, 120, 90);
    for (auto [x, y] : {std::pair{0, 10}, {120 - kPw, 90 - kPh}, {42, 2}})
        qtest::paste(bordered, pattern_, 0, 0, kPw, kPh, x, y);
    Levels borderSources;
    build(borderSources, model_, bordered.window());
    const Levels* s[2] = {&sources_, &borderSources};
    // sources, candidate x, y, contrastMin, final, wanted x, y, tolerance, found
    const std::tuple<int, double, double, double, uint32_t, double, double, double, bool> cases[] = {
        {0, kFirstX - 1.7, kFirstY, 0, 1, kFirstX, kFirstY, 0.05, true},      // offset -1.7
        {0, kFirstX - 1.8, kFirstY, 0, 1, kFirstX - 1, kFirstY, 0.6, false},  // a border peak that is none
        {0, kFirstX - 1.8, kFirstY, 0, 1, kFirstX, kFirstY, 0.6, false},      // nor the true one
        {1, 0.2, 10.1, 0, 1, 0, 10, 0.5, true},                               // left border
        {1, 80.4, 57.6, 0, 1, 80, 58, 0.5, true},                             // bottom right, outside
        {1, 42, -1.3, 0, 1, 42, 2, 0.5, true},  // far above the top: centred on row 1, row 2 scored
        {0, kFirstX, kFirstY, 1.5, 0, kFirstX, kFirstY, 0.5, true},   // contrast limit, not final
        {0, kFirstX, kFirstY, 1.5, 1, kFirstX, kFirstY, 0.5, false},  // contrast limit, final
    };
    for (const auto& [k, x, y, contrastMin, isFinal, wantX, wantY, tolerance, found] : cases) {
        qsrch_normcorr_runParams params = runParams();
        params.contrastMin = contrastMin;
        const qstd_rect32 rect{0, 0, (*s[k])[0].planeWindow[0].width, (*s[k])[0].planeWindow[0].height};
        qsrch_detectedPosePeak candidate{};
        qmath_xformLinear_initScaleShift(&candidate.pose, 1, 1, x, y);
        PeakVector f;
        ASSERT_EQ(qsrch_normcorr_refineAtLevel(&candidate, &rect, &qtest::level(*model_, 0), &(*s[k])[0], 0.0, &params,
                                               isFinal, f.get()), QSRCH_OK);
        int best = -1;
        for (size_t i = 0; i < f.size(); ++i)
            if (std::max(std::abs(f[i].pose.trans.x - wantX), std::abs(f[i].pose.trans.y - wantY)) <= tolerance)
                best = best < 0 || f[i].score > f[best].score ? int(i) : best;
        EXPECT_EQ(best >= 0, found) << x << ", " << y << ", final " << isFinal;
        EXPECT_TRUE(best < 0 || f[best].score > 0.99) << x << ", " << y;
    }
}

}  // namespace
