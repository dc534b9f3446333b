// The coarse-to-fine search end to end, on analytic textures planted at exact sub-pixel places.
#include <deque>

#include "run/run_support.hpp"

namespace {

using qtest::Image8, qtest::Model, qtest::OwnedImage, qtest::Results, qtest::runParams;

constexpr int32_t kSceneW = 160, kSceneH = 120, kPatW = 48, kPatH = 40;

// Blobs over a gradient, a soft disk, optional stripes: detail down to a few pixels, defined between them.
struct Texture {
    std::vector<std::array<double, 4>> blobs;  // x, y, deviation, amplitude
    double gx, gy, diskX, diskY, diskR, diskAmplitude, stripePeriod = 0;

    Texture(std::mt19937& rng, double w, double h, double blobAmplitude = 35)
    {
        std::uniform_real_distribution<double> u(0, 1);
        for (int i = 0; i < int(w * h / 45); ++i)
            blobs.push_back({u(rng) * w, u(rng) * h, 2.5 + 3.5 * u(rng), blobAmplitude * (2 * u(rng) - 1)});
        gx = 0.6 * (2 * u(rng) - 1), gy = 0.6 * (2 * u(rng) - 1);
        diskX = w * (0.3 + 0.4 * u(rng)), diskY = h * (0.3 + 0.4 * u(rng)), diskR = 5 + 5 * u(rng);
        diskAmplitude = u(rng) < 0.5 ? -40 : 40;
    }
    double operator()(double x, double y) const
    {
        double v = 100 + gx * x + gy * y;
        for (const auto& [bx, by, sigma, amplitude] : blobs)  // beyond five deviations a blob adds under 1e-4
            if (std::fabs(x - bx) < 5 * sigma && std::fabs(y - by) < 5 * sigma)
                v += amplitude * std::exp(-((x - bx) * (x - bx) + (y - by) * (y - by)) / (2 * sigma * sigma));
        v += diskAmplitude / (1 + std::exp((std::hypot(x - diskX, y - diskY) - diskR) / 0.8));
        return stripePeriod > 0 ? v + 45 * std::cos(2 * 3.14159265358979 * x / stripePeriod) : v;
    }
};

uint8_t toPixel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Copies of `pattern` with pixel (0, 0) at each place and a margin of 3, as crops of a larger object.
Image8 sample(const Texture& t, int32_t w, int32_t h, const Texture* pattern = nullptr,
              const std::vector<qmath_vect>& places = {})
{
    Image8 image(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            image.at(x, y) = toPixel(t(x, y));
            for (const qmath_vect& p : places)
                if (x - p.x >= -3 && x - p.x <= kPatW + 2 && y - p.y >= -3 && y - p.y <= kPatH + 2)
                    image.at(x, y) = toPixel((*pattern)(x - p.x, y - p.y));
        }
    return image;
}

Image8 render(std::mt19937& rng, const Texture& pattern, const std::vector<qmath_vect>& places)
{
    return sample(Texture(rng, kSceneW, kSceneH), kSceneW, kSceneH, &pattern, places);
}

void train(Model& model, const Texture& pattern, float coarse)
{
    OwnedImage image(sample(pattern, kPatW, kPatH));
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, coarse);
    ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
}

struct Planted {
    std::mt19937 rng;
    Texture pattern;
    Model model;
    explicit Planted(unsigned seed, float coarse = 4.0f) : rng(seed), pattern(rng, kPatW, kPatH)
    {
        train(model, pattern, coarse);
    }
};

double distance(const qsrch_normcorr_result& r, double x, double y)
{
    return std::hypot(r.pose.trans.x - x, r.pose.trans.y - y);
}

// At every coarse granularity coarse-to-fine agrees exactly with the one-level search of every position;
// contrast and brightness 1 are reported.
TEST(Search, FindsOnePlantedInstanceAtItsSubPixelPlaceAtEveryGranularity)
{
    for (int seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        const Texture pattern(rng, kPatW, kPatH);
        std::uniform_real_distribution<double> px(1, kSceneW - kPatW - 2), py(1, kSceneH - kPatH - 2);
        const qmath_vect truth{px(rng), py(rng)};
        const OwnedImage scene(render(rng, pattern, {truth}));
        qsrch_normcorr_result exhaustive{};
        for (float coarse : {1.0f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f, 8.0f}) {
            SCOPED_TRACE(testing::Message() << "coarse " << coarse << ", seed " << seed);
            Model model;
            train(model, pattern, coarse);
            const qsrch_normcorr_runParams params = runParams();
            Results found;
            ASSERT_EQ(qsrch_normcorr_run(model.get(), scene.cget(), &params, found.get()), QSRCH_OK);
            ASSERT_GE(found.size(), 1u);
            EXPECT_EQ(found.size() == 1, coarse > 1.0f);
            size_t b = 0;
            for (size_t i = 1; i < found.size(); ++i) b = found[i].score > found[b].score ? i : b;
            const qsrch_normcorr_result& best = found[b];
            EXPECT_LT(distance(best, truth.x, truth.y), 0.25);
            EXPECT_TRUE(best.score > 0.9f && best.accepted == 1u) << best.score;
            EXPECT_TRUE(std::fabs(best.contrast - 1) < 0.03 && std::fabs(best.brightness - 1) < 0.02);
            if (coarse == 1.0f) exhaustive = best;
            EXPECT_TRUE(distance(best, exhaustive.pose.trans.x, exhaustive.pose.trans.y) < 1e-9 &&
                        best.score == exhaustive.score);
        }
    }
}

// Stripes of period 12 match at 3/4 overlaps, which 0.5 merges; period 2 splits a coarse candidate in two.
TEST(Search, MergesOverlapsAndFollowsSplitCandidates)
{
    int splitPairs = 0, overlaps[2] = {};  // unmerged, merged
    for (int seed = 1; seed <= 6; ++seed)
        for (double period : {12.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", period " << period);
            std::mt19937 rng(seed);
            Texture pattern(rng, kPatW, kPatH, 10);
            pattern.stripePeriod = period;
            const OwnedImage scene(render(rng, pattern, {{50.1, 40.6}}));
            Model model;
            train(model, pattern, 4.0f);
            for (float overlap : {1.0f, 0.5f}) {
                Results r;
                const qsrch_normcorr_runParams params = runParams(4, 1.0f, overlap, 0.1f);
                ASSERT_EQ(qsrch_normcorr_run(model.get(), scene.cget(), &params, r.get()), QSRCH_OK);
                for (size_t i = 0; i < r.size(); ++i) {
                    EXPECT_EQ(r[i].accepted, r[i].score >= 0.1f ? 1u : 0u);
                    for (size_t j = i + 1; j < r.size(); ++j) {
                        const double dx = std::fabs(r[j].pose.trans.x - r[i].pose.trans.x);
                        const double dy = std::fabs(r[j].pose.trans.y - r[i].pose.trans.y);
                        EXPECT_TRUE(r[i].score >= r[j].score && (dx > 1 || dy > 1));
                        overlaps[overlap < 1] += period == 12 && (kPatW - dx) * (kPatH - dy) > 0.5 * kPatW * kPatH &&
                                                 dx < kPatW && dy < kPatH;
                        splitPairs += overlap == 1 && period == 2 && std::fabs(dx - 2) < 0.1 && dy < 0.5;
                    }
                }
            }
        }
    EXPECT_GT(splitPairs, 0);
    EXPECT_LT(2 * overlaps[1], overlaps[0]);
}

// Every other entry (unbound mask, full mask, three planes, given levels) finds what the plain image finds.
TEST(Search, RuntimeMaskHidingHalfAnInstanceStillFindsItAndEveryEntryReadsThePlainImage)
{
    Planted p(19);
    const qmath_vect truth{57.4, 41.8};
    Image8 scene = render(p.rng, p.pattern, {truth}), mask(kSceneW, kSceneH), care(kSceneW, kSceneH);
    std::uniform_int_distribution<int> noise(0, 255);
    care.fill(255);
    for (int32_t y = 0; y < kSceneH; ++y)
        for (int32_t x = 0; x < kSceneW; ++x) {
            const bool hidden = x >= truth.x && x < truth.x + kPatW / 2 && y >= truth.y && y < truth.y + kPatH;
            mask.at(x, y) = hidden ? 0 : 200;
            if (hidden) scene.at(x, y) = static_cast<uint8_t>(noise(p.rng));
        }
    OwnedImage image(scene), maskImage(mask), unbound;
    const qsrch_normcorr_runParams params = runParams(1, 1.0f);
    const qmath_xformLinear id = qtest::identity();
    const qimg_windowConst view = scene.window(), careView = care.window();
    qtest::Levels sources;
    ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&view, &p.model->levels, 3, sources.get()), QSRCH_OK);
    Results masked, plain, same[4];
    ASSERT_EQ(qsrch_normcorr_runMask(p.model.get(), image.cget(), maskImage.cget(), &params, masked.get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_run(p.model.get(), image.cget(), &params, plain.get()), QSRCH_OK);
    ASSERT_TRUE(masked.size() == 1 && plain.size() == 1);
    EXPECT_TRUE(distance(masked[0], truth.x, truth.y) < 0.25 && masked[0].score > 0.9f) << masked[0].score;
    EXPECT_LT(plain[0].score, masked[0].score);
    ASSERT_EQ(qsrch_normcorr_runMask(p.model.get(), image.cget(), unbound.cget(), &params, same[0].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runMaskWindow(p.model.get(), &view, &careView, &id, &params, same[1].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runWindow3(p.model.get(), &view, &view, &view, &id, &params, same[2].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runInternalLevels(p.model.get(), sources.get(), &params, &id, same[3].get()), QSRCH_OK);
    for (const Results& r : same)
        EXPECT_TRUE(r.size() == 1 && r[0].score == plain[0].score &&
                    distance(r[0], plain[0].pose.trans.x, plain[0].pose.trans.y) == 0) << &r - same;
}

// Image, transform, model, parameters, size; a grey model reads plane 1 only; one position, only a score.
TEST(Search, ChecksComeInTheirOrderAndPlanesAreSearched)
{
    Planted p(29);
    Model untrained, colour;
    OwnedImage image(render(p.rng, p.pattern, {{20.5, 30.25}})), unbound, curved(sample(p.pattern, kSceneW, kSceneH)),
        patternSized(sample(p.pattern, kPatW, kPatH)), narrow(sample(p.pattern, kPatW - 1, kSceneH));
    qmath_xformPtrhConst radial;
    ASSERT_EQ(qmath_xformPtrhConst_construct(&radial), QSRCH_OK);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 80, 60, 1e-6), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(curved.get(), &radial), QSRCH_OK);
    ASSERT_EQ(qmath_xformPtrhConst_destruct(&radial), QSRCH_OK);
    const qsrch_normcorr_runParams bad = runParams(0), good = runParams();
    using I = const OwnedImage*;
    const std::tuple<Model*, I, I, I, const qsrch_normcorr_runParams*, qsrch_status> cases[] = {
        {&untrained, &unbound, nullptr, nullptr, &bad, QSRCH_E_IMAGE_UNBOUND},
        {&untrained, &curved, nullptr, nullptr, &bad, QSRCH_E_NONLINEAR_XFORM},
        {&untrained, &image, nullptr, nullptr, &bad, QSRCH_E_NOT_TRAINED},
        {&p.model, &narrow, nullptr, nullptr, &bad, QSRCH_E_BAD_NUM_TO_FIND},
        {&p.model, &narrow, nullptr, nullptr, &good, QSRCH_E_IMAGE_TOO_SMALL},
        {&p.model, &patternSized, nullptr, nullptr, &good, QSRCH_E_IMAGE_TOO_SMALL},
        {&p.model, &curved, &image, &unbound, &good, QSRCH_E_IMAGE_UNBOUND},
        {&p.model, &image, &unbound, &unbound, &good, QSRCH_E_IMAGE_UNBOUND},
        {&p.model, &image, &narrow, &curved, &good, QSRCH_OK}};
    Results results;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& [model, plane1, plane2, plane3, params, want] = cases[k];
        EXPECT_EQ(plane2 == nullptr ? qsrch_normcorr_run(model->get(), plane1->cget(), params, results.get())
                                    : qsrch_normcorr_run3(model->get(), plane1->cget(), plane2->cget(), plane3->cget(),
                                                          params, results.get()),
                  want) << k;
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_LT(distance(results[0], 20.5, 30.25), 0.25);

    const qmath_vect truth{70.3, 22.9};
    std::deque<OwnedImage> patterns, scenes;
    for (int plane = 0; plane < 3; ++plane) {
        const Texture texture(p.rng, kPatW, kPatH);
        patterns.emplace_back(sample(texture, kPatW, kPatH)), scenes.emplace_back(render(p.rng, texture, {truth}));
    }
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, 4.0f);
    ASSERT_EQ(
        qsrch_normcorr_model_train3(colour.get(), patterns[0].cget(), patterns[1].cget(), patterns[2].cget(), &tp),
        QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_run3(colour.get(), scenes[0].cget(), scenes[1].cget(), scenes[2].cget(), &good,
                                  results.get()), QSRCH_OK);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_LT(distance(results[0], truth.x, truth.y), 0.25);

    qsrch_normcorr_runParams single = good;
    single.singlePositionScoring = 1;
    ASSERT_EQ(qsrch_normcorr_run(p.model.get(), patternSized.cget(), &single, results.get()), QSRCH_OK);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NEAR(results[0].score, 1.0f, 1e-6);
    EXPECT_TRUE(results[0].accepted + results[0].flags == 0 && results[0].contrast == 0.0 &&
                results[0].pose.trans.x == 0.0 && results[0].pose.matrix.a11 == 1.0);
    // A colour placement is scored on all three planes: a foreign third plane must cost score.
    ASSERT_EQ(qsrch_normcorr_run3(colour.get(), patterns[0].cget(), patterns[1].cget(), patterns[0].cget(), &single,
                                  results.get()), QSRCH_OK);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_LT(results[0].score, 0.9f);
}

// Levels 1, 2, 4, 8: a start that moves changes the polls; a shallow view limits by its own rows.
TEST(Search, LimitLevelsToRegionStartsWhereThreeTimesTheGranularityFits)
{
    Planted p(41, 8.0f);
    const Image8 scene = render(p.rng, p.pattern, {{60.4, 40.2}});
    const qmath_xformLinear id = qtest::identity();
    auto polls = [&](const qimg_windowConst& view, qstd_rectD region, uint32_t limit) {
        qsrch_normcorr_runParams params = runParams(1, 1.0f);
        params.searchRegion = region, params.limitLevelsToRegion = limit;
        qtest::AttentionCounter attention;
        Results results;
        EXPECT_EQ(qsrch_normcorr_runWindow(p.model.get(), &view, &id, &params, results.get()), QSRCH_OK);
        return attention.polls();
    };
    for (const auto& [extent, moves] : {std::pair{25.0, false}, {13.0, false}, {12.0, true}, {9.0, true}}) {
        const qstd_rectD region{56, 36, extent, extent};
        EXPECT_EQ(polls(scene.window(), region, 1) != polls(scene.window(), region, 0), moves) << extent;
    }
    const qimg_windowConst shallow = scene.window(0, 0, kSceneW, kPatH + 10);
    EXPECT_NE(polls(shallow, qstd_rectD{56, 0, 25, 25}, 0), polls(shallow, qstd_rectD{56, 0, 25, 25}, 1));
}

constexpr qsys_status kStop = QSYS_STATUS(0x8ABC0001u);

// Coarse-to-fine stops early once numToFind results pass the confusion threshold.
TEST(Search, FailuresAndStopsAtAnyPollLeakNothing)
{
    Planted p(31);
    Image8 mask(kSceneW, kSceneH);
    mask.fill(255);
    OwnedImage image(render(p.rng, p.pattern, {{30.2, 20.7}, {100.6, 70.1}})), maskImage(mask);
    for (float coarse : {1.0f, 4.0f}) {
        SCOPED_TRACE("coarse " + std::to_string(coarse));
        Model model;
        train(model, p.pattern, coarse);
        auto search = [&](bool masked, float confusion = 0.5f) {
            const qsrch_normcorr_runParams params = runParams(2, confusion, coarse == 1.0f ? 1.0f : 0.5f);
            Results results;
            return masked ? qsrch_normcorr_runMask(model.get(), image.cget(), maskImage.cget(), &params, results.get())
                          : qsrch_normcorr_run(model.get(), image.cget(), &params, results.get());
        };
        qtest::expectAllocationFailuresClean([&] { return search(true); });
        for (bool masked : {false, true}) {
            int counts[2] = {0, 0};
            qsys_attention_setHandler(
                [](void* c) { return ++static_cast<int*>(c)[0] == static_cast<int*>(c)[1] ? kStop : QSYS_OK; }, counts);
            ASSERT_EQ(search(masked, 1.0f), QSRCH_OK);
            const int all = counts[0];
            counts[0] = 0;
            ASSERT_EQ(search(masked), QSRCH_OK);
            const int polls = counts[0];
            EXPECT_TRUE(coarse == 1.0f || polls < all) << polls << " polls, " << all << " without an early stop";
            for (counts[1] = 1; counts[1] <= polls; ++counts[1]) {
                const int64_t before = qsys_memory_blocksInUse();
                counts[0] = 0;
                EXPECT_EQ(search(masked), kStop) << "stop at poll " << counts[1] << " of " << polls;
                EXPECT_EQ(qsys_memory_blocksInUse(), before) << "stop at poll " << counts[1];
            }
            qsys_attention_setHandler(nullptr, nullptr);
        }
    }
}

}  // namespace
