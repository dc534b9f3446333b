// The level operations of the coarse-to-fine search: the level threshold,
// the contrast and brightness filter, and the coarse search and refinement
// on pyramids of a trained pattern planted in a smooth textured scene. The
// result record is checked here too.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "model/model_support.hpp"
#include "run/run_internal.hpp"

namespace {

using qtest::Image8;
using qtest::Model;

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Owned vectors --------------------------------------------------------------

class Peaks {
public:
    Peaks() { EXPECT_EQ(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&v_), QSRCH_OK); }
    ~Peaks() { qstd_vector_qsrch_detectedPosePeak_destruct(&v_); }
    Peaks(const Peaks&) = delete;
    qstd_vector_qsrch_detectedPosePeak* get() { return &v_; }
    size_t size() const { return v_.size; }
    const qsrch_detectedPosePeak& operator[](size_t i) const
    {
        return static_cast<const qsrch_detectedPosePeak*>(v_.begin)[i];
    }
    void assign(const std::vector<qsrch_detectedPosePeak>& peaks)
    {
        ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_assignElements(&v_, peaks.data(), peaks.size()), QSRCH_OK);
    }

private:
    qstd_vector_qsrch_detectedPosePeak v_;
};

class Levels {
public:
    Levels() { EXPECT_EQ(qstd_vector_qsrch_normcorr_level__constructEmpty(&v_), QSRCH_OK); }
    ~Levels() { qstd_vector_qsrch_normcorr_level__destruct(&v_); }
    Levels(const Levels&) = delete;
    qstd_vector_qsrch_normcorr_level_* get() { return &v_; }
    const qsrch_normcorr_level_& operator[](size_t i) const
    {
        return static_cast<const qsrch_normcorr_level_*>(v_.begin)[i];
    }

private:
    qstd_vector_qsrch_normcorr_level_ v_;
};

// ---- Scenes ---------------------------------------------------------------------

// Random values on a grid of 6-pixel cells, interpolated bilinearly, with a
// little noise: structure that survives two halvings and scores that fall
// off smoothly around a match.
Image8 smoothTexture(std::mt19937& rng, int32_t w, int32_t h)
{
    constexpr int32_t kCell = 6;
    const int32_t gw = w / kCell + 2, gh = h / kCell + 2;
    std::uniform_int_distribution<int> value(20, 235), noise(-6, 6);
    std::vector<double> grid(static_cast<size_t>(gw) * gh);
    for (double& g : grid) g = value(rng);
    Image8 image(w, h, w + 7);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double fx = double(x) / kCell, fy = double(y) / kCell;
            const int32_t cx = int32_t(fx), cy = int32_t(fy);
            const double ax = fx - cx, ay = fy - cy;
            auto g = [&](int32_t i, int32_t j) { return grid[static_cast<size_t>(j) * gw + i]; };
            const double v = (1 - ay) * ((1 - ax) * g(cx, cy) + ax * g(cx + 1, cy)) +
                             ay * ((1 - ax) * g(cx, cy + 1) + ax * g(cx + 1, cy + 1));
            image.at(x, y) = static_cast<uint8_t>(std::clamp(int(v) + noise(rng), 0, 255));
        }
    return image;
}

Image8 crop(const Image8& from, int32_t x0, int32_t y0, int32_t w, int32_t h)
{
    Image8 out(w, h, w + 3);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) out.at(x, y) = from.at(x0 + x, y0 + y);
    return out;
}

void paste(Image8& into, const Image8& what, int32_t x0, int32_t y0)
{
    for (int32_t y = 0; y < what.height(); ++y)
        for (int32_t x = 0; x < what.width(); ++x) into.at(x0 + x, y0 + y) = what.at(x, y);
}

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

qsrch_normcorr_runParams runParams()
{
    qsrch_normcorr_runParams p;
    qsrch_normcorr_runParams_init(&p);
    return p;
}

qstd_rect32 levelRect(const qsrch_normcorr_level_& level)
{
    return qstd_rect32{0, 0, level.planeWindow[0].width, level.planeWindow[0].height};
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

// Follows a candidate (base coordinates) from `level` down to level 0 with
// threshold 0, keeping the first peak on each level; false when one comes
// out empty.
bool descend(const Model& model, const Levels& sources, qsrch_detectedPosePeak candidate, int32_t level,
             qsrch_detectedPosePeak* found)
{
    const qsrch_normcorr_runParams params = runParams();
    for (int32_t l = level; l >= 0; --l) {
        const qstd_rect32 rect = levelRect(sources[l]);
        const qsrch_detectedPosePeak atLevel = toLevel(candidate, sources[l]);
        Peaks f;
        EXPECT_EQ(qsrch_normcorr_refineAtLevel(&atLevel, &rect, &qtest::level(*model, l), &sources[l], 0.0, &params,
                                               l == 0, f.get()),
                  QSRCH_OK);
        if (f.size() == 0) return false;
        candidate = toBase(f[0], sources[l]);
    }
    *found = candidate;
    return true;
}

// ---- Result record ------------------------------------------------------------

TEST(ResultRecord, InitGivesIdentityPoseAndZeros)
{
    qsrch_normcorr_result r;
    std::memset(&r, 0x5A, sizeof r);
    ASSERT_EQ(qsrch_normcorr_result_init(&r), QSRCH_OK);
    EXPECT_EQ(r.accepted, 0u);
    const qmath_xformLinear id = qtest::identity();
    EXPECT_EQ(std::memcmp(&r.pose, &id, sizeof id), 0);
    EXPECT_EQ(r.score, 0.0f);
    EXPECT_EQ(r.flags, 0u);
    EXPECT_EQ(r.contrast, 0.0);
    EXPECT_EQ(r.brightness, 0.0);
}

TEST(ResultRecord, VectorsInitialiseNewElementsAndCopyPlainData)
{
    qstd_vector_qsrch_normcorr_result v, copy;
    ASSERT_EQ(qstd_vector_qsrch_normcorr_result_construct(&v, 2), QSRCH_OK);
    auto* first = static_cast<qsrch_normcorr_result*>(v.begin);
    EXPECT_EQ(first[1].pose.matrix.a22, 1.0);
    first[0].score = 0.75f, first[0].accepted = 1, first[0].pose.trans.x = 3.5, first[1].brightness = 2.0;
    ASSERT_EQ(qstd_vector_qsrch_normcorr_result_constructCopy(&copy, &v), QSRCH_OK);
    ASSERT_EQ(qstd_vector_qsrch_normcorr_result_resize(&copy, 3), QSRCH_OK);
    const auto* copied = static_cast<const qsrch_normcorr_result*>(copy.begin);
    EXPECT_EQ(std::memcmp(copied, first, 2 * sizeof(qsrch_normcorr_result)), 0);
    EXPECT_EQ(copied[2].pose.matrix.a11, 1.0);
    EXPECT_EQ(copied[2].score, 0.0f);
    EXPECT_EQ(qstd_vector_qsrch_normcorr_result_destruct(&copy), QSRCH_OK);
    EXPECT_EQ(qstd_vector_qsrch_normcorr_result_destruct(&v), QSRCH_OK);
}

// ---- Level threshold ------------------------------------------------------------

struct ThresholdCase {
    float g, coarse;
    int32_t fine;
    float t, want;  // without the shape allowance
};

TEST(LevelThreshold, HalfAtCoarseAllAtFineLinearInLogGranularity)
{
    const ThresholdCase cases[] = {
        {4, 4, 1, 0.6f, 0.3f},    {2, 4, 1, 0.6f, 0.45f}, {1, 4, 1, 0.6f, 0.6f},
        {2, 8, 1, 0.6f, 0.5f},    {8, 8, 2, 0.9f, 0.45f}, {4, 8, 2, 0.9f, 0.675f},
        {3, 3, 1, 0.8f, 0.4f},    {1, 1, 1, 0.7f, 0.7f},  {4, 4, 4, 0.5f, 0.5f},
        {8, 4, 1, 0.6f, 0.15f},
    };
    for (const ThresholdCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "g " << c.g << " coarse " << c.coarse << " fine " << c.fine);
        const bool same = std::log(double(c.coarse)) == std::log(double(c.fine));
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(c.g, c.coarse, c.fine, 0, c.t), c.want);
        EXPECT_FLOAT_EQ(qsrch_normcorr_levelThreshold(c.g, c.coarse, c.fine, 1, c.t),
                        same ? c.t : 0.75f * c.want);
    }
}

// ---- Contrast and brightness filter ------------------------------------------

TEST(FilterContrastBrightness, KeepsInRangeInOrderAndDefaultsTouchNothing)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 3.0);
    std::vector<qsrch_detectedPosePeak> all(40);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = candidateAt(double(i), 0);
        all[i].contrast = u(rng), all[i].brightness = u(rng);
    }
    all[3].contrast = 0.0;                                       // lies exactly on a default bound
    all[4].contrast = 0.5, all[4].brightness = 2.0;              // both bounds inclusive
    all[5].contrast = std::numeric_limits<double>::quiet_NaN();  // never in range

    struct Limits { double cMin, cMax, bMin, bMax; };
    const Limits limits[] = {{0, kInf, 0, kInf}, {0.5, 2.5, 0, kInf}, {0, kInf, 1.0, 2.0}, {0.5, 1.5, 0.25, 2.0},
                             {4, kInf, 0, kInf}};
    for (const Limits& l : limits) {
        SCOPED_TRACE(testing::Message() << l.cMin << " " << l.cMax << " " << l.bMin << " " << l.bMax);
        Peaks peaks;
        peaks.assign(all);
        ASSERT_EQ(qsrch_normcorr_filterContrastBrightness(peaks.get(), l.cMin, l.cMax, l.bMin, l.bMax), QSRCH_OK);
        const bool defaults = l.cMin == 0 && l.cMax == kInf && l.bMin == 0 && l.bMax == kInf;
        std::vector<size_t> want;
        for (size_t i = 0; i < all.size(); ++i)
            if (defaults || (l.cMin <= all[i].contrast && all[i].contrast <= l.cMax && l.bMin <= all[i].brightness &&
                             all[i].brightness <= l.bMax))
                want.push_back(i);
        ASSERT_EQ(peaks.size(), want.size());
        for (size_t k = 0; k < want.size(); ++k) EXPECT_EQ(peaks[k].pose.trans.x, double(want[k]));
    }
}

// ---- Coarse search and refinement on a planted pattern -------------------------

constexpr int32_t kPw = 40, kPh = 32;
constexpr double kFirstX = 64, kFirstY = 48, kSecondX = 132, kSecondY = 100;

class PlantedScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(7);
        scene_ = smoothTexture(rng, 200, 160);
        pattern_ = crop(scene_, int32_t(kFirstX), int32_t(kFirstY), kPw, kPh);
        paste(scene_, pattern_, int32_t(kSecondX), int32_t(kSecondY));
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

    qsrch_status refine(const qsrch_detectedPosePeak& candidate, int32_t level, double threshold,
                        const qsrch_normcorr_runParams& params, uint32_t isFinal, Peaks& out)
    {
        const qstd_rect32 rect = levelRect(sources_[level]);
        return qsrch_normcorr_refineAtLevel(&candidate, &rect, &qtest::level(*model_, level), &sources_[level],
                                            threshold, &params, isFinal, out.get());
    }

    Image8 scene_, pattern_;
    Model model_;
    Levels sources_;
};

TEST_F(PlantedScene, CoarseLevelFindsBothPlantedPlacesBestFirst)
{
    Peaks peaks;
    ASSERT_EQ(coarse(runParams(), 2, peaks), QSRCH_OK);
    const int first = nearest(peaks, kFirstX, kFirstY, 2.0, &sources_[2]);
    const int second = nearest(peaks, kSecondX, kSecondY, 2.0, &sources_[2]);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_GT(peaks[first].score, 0.8);
    EXPECT_GT(peaks[second].score, 0.8);
    for (size_t i = 0; i < peaks.size(); ++i) {
        EXPECT_GE(peaks[i].score, 0.15);  // half the default accept threshold
        if (int(i) != first && int(i) != second) {
            EXPECT_LT(peaks[i].score, peaks[first].score);
        }
    }
}

TEST_F(PlantedScene, AdaptiveThresholdFollowsTheLevelsGranularity)
{
    qsrch_normcorr_runParams params = runParams();
    params.acceptThreshold = 0.0f;
    Peaks every;
    ASSERT_EQ(coarse(params, 1, every), QSRCH_OK);
    auto countAtLeast = [&](double threshold) {
        size_t n = 0;
        for (size_t i = 0; i < every.size(); ++i) n += every[i].score >= threshold;
        return n;
    };
    // Granularity 2 between coarse 4 and fine 1: three quarters of the accept
    // threshold instead of half of it, and with the shape allowance 0.75 of that.
    for (float accept : {0.2f, 0.3f, 0.6f}) {
        for (uint32_t shape : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << "accept " << accept << " shape " << shape);
            params.acceptThreshold = accept;
            params.shapeScoreOptimization = shape;
            Peaks fixed, adaptive;
            params.adaptiveLevelThresholds = 0;
            ASSERT_EQ(coarse(params, 1, fixed), QSRCH_OK);
            params.adaptiveLevelThresholds = 1;
            ASSERT_EQ(coarse(params, 1, adaptive), QSRCH_OK);
            EXPECT_EQ(fixed.size(), countAtLeast(0.5f * accept));
            EXPECT_EQ(adaptive.size(), countAtLeast(static_cast<float>(0.75 * (shape ? 0.75 : 1.0) * accept)));
        }
    }
    EXPECT_GT(countAtLeast(0.1), countAtLeast(0.15));  // the thresholds really differ here
}

TEST_F(PlantedScene, SearchRegionKeepsOnlyItsOwnPlace)
{
    qsrch_normcorr_runParams params = runParams();
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    Peaks peaks;
    ASSERT_EQ(coarse(params, 2, peaks), QSRCH_OK);
    ASSERT_GE(nearest(peaks, kSecondX, kSecondY, 2.0, &sources_[2]), 0);
    EXPECT_LT(nearest(peaks, kFirstX, kFirstY, 8.0, &sources_[2]), 0);
    for (size_t i = 0; i < peaks.size(); ++i) {
        const qmath_vect p = toBase(peaks[i], sources_[2]).pose.trans;
        EXPECT_TRUE(p.x >= 120 - 8 && p.x <= 144 + 8 && p.y >= 90 - 8 && p.y <= 110 + 8) << p.x << ", " << p.y;
    }
    // An infinite extent means no region at all.
    params.searchRegion.width = kInf;
    ASSERT_EQ(coarse(params, 2, peaks), QSRCH_OK);
    EXPECT_GE(nearest(peaks, kFirstX, kFirstY, 2.0, &sources_[2]), 0);
}

// The region is given in client coordinates of the searched image: it holds
// where the model's client origin lands, and the view's place in its image
// counts.
TEST_F(PlantedScene, SearchRegionAccountsForModelClientFrameAndViewOrigin)
{
    Model shifted;
    train(shifted, pattern_.window(), shift(-20, -16));  // client origin at pattern pixel (20, 16)
    Levels offsetSources;
    build(offsetSources, shifted, scene_.window(16, 8, 184, 152));
    ASSERT_EQ(offsetSources[0].origin.first, 16);

    qsrch_normcorr_runParams params = runParams();
    params.searchRegion = qstd_rectD{kFirstX - 20 - 2, kFirstY - 16 - 2, 4, 4};
    Peaks peaks;
    ASSERT_EQ(coarse(params, 2, peaks, &shifted, &offsetSources), QSRCH_OK);
    ASSERT_GE(nearest(peaks, kFirstX - 16, kFirstY - 8, 2.0, &offsetSources[2]), 0);
    for (size_t i = 0; i < peaks.size(); ++i) {
        const qmath_vect p = toBase(peaks[i], offsetSources[2]).pose.trans;
        EXPECT_LE(std::abs(p.x - (kFirstX - 16)), 8.0);
        EXPECT_LE(std::abs(p.y - (kFirstY - 8)), 8.0);
    }
}

TEST_F(PlantedScene, RefinementFollowsCoarseCandidatesToTheTruePlace)
{
    Peaks peaks;
    ASSERT_EQ(coarse(runParams(), 2, peaks), QSRCH_OK);
    for (auto [x, y] : {std::pair{kFirstX, kFirstY}, std::pair{kSecondX, kSecondY}}) {
        SCOPED_TRACE(testing::Message() << "planted at " << x << ", " << y);
        const int i = nearest(peaks, x, y, 2.0, &sources_[2]);
        ASSERT_GE(i, 0);
        qsrch_detectedPosePeak found;
        ASSERT_TRUE(descend(model_, sources_, toBase(peaks[i], sources_[2]), 1, &found));
        // The pasted copy's surroundings differ from the pattern's, which
        // pulls the sub-pixel fit by a little.
        EXPECT_NEAR(found.pose.trans.x, x, 0.15);
        EXPECT_NEAR(found.pose.trans.y, y, 0.15);
        EXPECT_GT(found.score, 0.99);
    }
}

// A fractional offset beyond a quarter pixel adds a position on its side,
// so the true place two positions away is reached; the peak found on the
// region's border is confirmed around itself.
TEST_F(PlantedScene, FractionalOffsetWidensTheNeighbourhoodTowardsIt)
{
    const qsrch_normcorr_runParams params = runParams();
    for (double x : {kFirstX - 1.7, kFirstX + 1.7}) {
        SCOPED_TRACE(x);
        Peaks f;
        ASSERT_EQ(refine(candidateAt(x, kFirstY), 0, 0.0, params, 1, f), QSRCH_OK);
        ASSERT_GE(f.size(), 1u);
        EXPECT_NEAR(f[0].pose.trans.x, kFirstX, 0.05);
        EXPECT_NEAR(f[0].pose.trans.y, kFirstY, 0.05);
        EXPECT_GT(f[0].score, 0.99);
    }
}

// At offset 0.2 only three positions are searched; the last of them tops the
// region only because the better one beyond was not scored, so re-detection
// with all its neighbours drops it.
TEST_F(PlantedScene, BorderPeakThatIsNoPeakIsDropped)
{
    const qsrch_normcorr_runParams params = runParams();
    const qimg_windowConst patternView = qtest::level(*model_, 0).planeWindow[0];
    const qimg_windowConst region = scene_.window(int32_t(kFirstX) - 3, int32_t(kFirstY) - 1, kPw + 2, kPh + 2);
    qsrch_normalizedCorrelationParams raw;
    qsrch_normalizedCorrelationParams_init(&raw);
    Peaks inRegion;
    ASSERT_EQ(qsrch_DcomputeNormalizedCorrelationPeaks(&patternView, nullptr, &region, 0.0, &raw, inRegion.get()),
              QSRCH_OK);
    ASSERT_GE(nearest(inRegion, 2, 1, 0.5), 0) << "the region's border position must look like a peak";

    Peaks f;
    ASSERT_EQ(refine(candidateAt(kFirstX - 1.8, kFirstY), 0, 0.0, params, 1, f), QSRCH_OK);
    EXPECT_LT(nearest(f, kFirstX - 1, kFirstY, 0.6), 0);
    EXPECT_LT(nearest(f, kFirstX, kFirstY, 0.6), 0);
}

TEST_F(PlantedScene, CandidatesAtTheLevelBorderAreKept)
{
    std::mt19937 rng(9);
    Image8 scene = smoothTexture(rng, 120, 90);
    paste(scene, pattern_, 0, 10);
    paste(scene, pattern_, 120 - kPw, 90 - kPh);
    Levels sources;
    build(sources, model_, scene.window());
    const qstd_rect32 rect = levelRect(sources[0]);
    const qsrch_normcorr_runParams params = runParams();
    const struct { double x, y, wantX, wantY; } cases[] = {
        {0.2, 10.1, 0, 10}, {-0.4, 9.7, 0, 10}, {79.8, 58.3, 80, 58}, {80.4, 57.6, 80, 58}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        const qsrch_detectedPosePeak candidate = candidateAt(c.x, c.y);
        Peaks f;
        ASSERT_EQ(qsrch_normcorr_refineAtLevel(&candidate, &rect, &qtest::level(*model_, 0), &sources[0], 0.0,
                                               &params, 1, f.get()),
                  QSRCH_OK);
        const int i = nearest(f, c.wantX, c.wantY, 0.5);
        ASSERT_GE(i, 0);
        EXPECT_GT(f[i].score, 0.99);
    }
}

TEST_F(PlantedScene, FinalLevelAppliesTheContrastLimits)
{
    qsrch_normcorr_runParams params = runParams();
    params.contrastMin = 1.5;  // the planted copy has contrast 1
    Peaks notFinal, final;
    ASSERT_EQ(refine(candidateAt(kFirstX, kFirstY), 0, 0.0, params, 0, notFinal), QSRCH_OK);
    ASSERT_EQ(refine(candidateAt(kFirstX, kFirstY), 0, 0.0, params, 1, final), QSRCH_OK);
    EXPECT_GE(nearest(notFinal, kFirstX, kFirstY, 0.5), 0);
    EXPECT_LT(nearest(final, kFirstX, kFirstY, 0.5), 0);
}

TEST_F(PlantedScene, AttentionRefusalIsReturned)
{
    const qsys_status refusal = static_cast<qsys_status>(0x80000B07);
    qtest::AttentionCounter counter(refusal);
    Peaks peaks;
    qsrch_normcorr_runParams params = runParams();
    EXPECT_EQ(coarse(params, 2, peaks), refusal);
    params.searchRegion = qstd_rectD{120, 90, 24, 20};
    EXPECT_EQ(coarse(params, 2, peaks), refusal);
    EXPECT_EQ(refine(candidateAt(kFirstX, kFirstY), 0, 0.0, params, 1, peaks), refusal);
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
        return refine(candidateAt(kFirstX - 1.7, kFirstY), 0, 0.0, params, 1, peaks);
    });
}

TEST(PlantedColourScene, ThreePlaneLevelsAreSearchedAndRefined)
{
    std::mt19937 rng(21);
    Image8 planes[3] = {smoothTexture(rng, 160, 120), smoothTexture(rng, 160, 120), smoothTexture(rng, 160, 120)};
    Image8 patterns[3];
    qimg_windowConst patternViews[3], sceneViews[3];
    for (int k = 0; k < 3; ++k) {
        patterns[k] = crop(planes[k], 48, 36, kPw, kPh);
        patternViews[k] = patterns[k].window();
        sceneViews[k] = planes[k].window();
    }
    Model model;
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, 4.0f, 1);
    const qmath_xformLinear id = qtest::identity();
    ASSERT_EQ(qsrch_normcorr_model_trainWindow3(model.get(), &patternViews[0], &patternViews[1], &patternViews[2],
                                                &id, &tp),
              QSRCH_OK);
    Levels sources;
    ASSERT_EQ(qsrch_normcorr_generateSrcLevels3(&sceneViews[0], &sceneViews[1], &sceneViews[2], &model->levels, 3,
                                                sources.get()),
              QSRCH_OK);
    qsrch_normcorr_runParams params = runParams();
    params.planeWeights[1] = 0.5;
    Peaks peaks;
    ASSERT_EQ(qsrch_normcorr_searchCoarseLevel(&*model, sources.get(), &params, &id, 2, 4, peaks.get()), QSRCH_OK);
    const int i = nearest(peaks, 48, 36, 2.0, &sources[2]);
    ASSERT_GE(i, 0);
    qsrch_detectedPosePeak c;
    ASSERT_TRUE(descend(model, sources, toBase(peaks[i], sources[2]), 1, &c));
    EXPECT_NEAR(c.pose.trans.x, 48, 0.05);
    EXPECT_NEAR(c.pose.trans.y, 36, 0.05);
    EXPECT_GT(c.score, 0.99);
}

}  // namespace
