// The coarse-to-fine search end to end: a pattern from a smooth analytic
// texture planted at sub-pixel places (the scene samples the same texture
// shifted, so the truth is exact) must be found there.
#include <deque>

#include "run/run_support.hpp"

namespace {

using qtest::Image8, qtest::Model, qtest::OwnedImage, qtest::Results, qtest::runParams, qtest::sample, qtest::Texture;

constexpr int32_t kSceneW = 160, kSceneH = 120, kPatW = 48, kPatH = 40;

Texture randomTexture(std::mt19937& rng, double w, double h, double blobAmplitude = 35)
{
    Texture t = qtest::blobTexture(rng, int(w * h / 45), 0, w, 0, h, 2.5, 3.5, blobAmplitude, 100);
    std::uniform_real_distribution<double> u(0, 1);
    t.gx = 0.6 * (2 * u(rng) - 1), t.gy = 0.6 * (2 * u(rng) - 1);
    t.diskX = w * (0.3 + 0.4 * u(rng)), t.diskY = h * (0.3 + 0.4 * u(rng)), t.diskR = 5 + 5 * u(rng);
    t.diskAmplitude = u(rng) < 0.5 ? -40 : 40;
    return t;
}

// Pattern pixel (0, 0) lands on (x, y); a margin of 3 around the copy makes
// it a crop of a larger object, so neighbouring placements see the object.
struct Instance {
    double x, y, noise = 0;
};

Image8 render(std::mt19937& rng, const Texture& pattern, const std::vector<Instance>& instances)
{
    Image8 scene = sample(randomTexture(rng, kSceneW, kSceneH), kSceneW, kSceneH);
    for (const Instance& in : instances) {
        std::normal_distribution<double> noise(0, in.noise > 0 ? in.noise : 1);
        for (int32_t y = 0; y < kSceneH; ++y)
            for (int32_t x = 0; x < kSceneW; ++x) {
                const double u = x - in.x, v = y - in.y;
                if (u < -3 || u > kPatW + 2 || v < -3 || v > kPatH + 2) continue;
                const double n = in.noise > 0 ? noise(rng) : 0;
                scene.at(x, y) = qtest::toPixel(pattern(u, v) + n);
            }
    }
    return scene;
}

void train(Model& model, const Texture& pattern, float coarse)
{
    OwnedImage image(sample(pattern, kPatW, kPatH));
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, coarse);
    ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
}

// A random pattern and a model trained from it.
struct Planted {
    std::mt19937 rng;
    Texture pattern;
    Model model;
    explicit Planted(unsigned seed, float coarse = 4.0f, double blobAmplitude = 35)
        : rng(seed), pattern(randomTexture(rng, kPatW, kPatH, blobAmplitude))
    {
        train(model, pattern, coarse);
    }
};

qsrch_status run(Model& model, const Image8& scene, const qsrch_normcorr_runParams& params, Results& results)
{
    OwnedImage image(scene);
    return qsrch_normcorr_run(model.get(), image.cget(), &params, results.get());
}

double distance(const qsrch_normcorr_result& r, double x, double y)
{
    return std::hypot(r.pose.trans.x - x, r.pose.trans.y - y);
}

// The index of the result nearest to (x, y), if one lies within `within`.
int nearest(const Results& results, double x, double y, double within)
{
    int found = -1;
    for (size_t i = 0; i < results.size(); ++i)
        if (const double d = distance(results[i], x, y); d <= within)
            found = found < 0 || d < distance(results[found], x, y) ? int(i) : found;
    return found;
}

// Better first, accepted from the accept threshold up, no two within a pixel.
void expectRankedWithoutDuplicates(const Results& r, float accept = 0.3f)
{
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].accepted, r[i].score >= accept ? 1u : 0u);
        for (size_t j = i + 1; j < r.size(); ++j)
            EXPECT_TRUE(r[i].score >= r[j].score && (std::fabs(r[i].pose.trans.x - r[j].pose.trans.x) > 1 ||
                                                     std::fabs(r[i].pose.trans.y - r[j].pose.trans.y) > 1));
    }
}

// Within a quarter pixel at every coarse granularity (level factors 1.25 to
// 2), coarse-to-fine agrees exactly with the one-level search of every
// position, and contrast and brightness 1 are reported and filtered on.
TEST(Search, FindsOnePlantedInstanceAtItsSubPixelPlaceAtEveryGranularity)
{
    for (int seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        const Texture pattern = randomTexture(rng, kPatW, kPatH);
        std::uniform_real_distribution<double> px(1, kSceneW - kPatW - 2), py(1, kSceneH - kPatH - 2);
        const Instance truth{px(rng), py(rng)};
        const Image8 scene = render(rng, pattern, {truth});
        qsrch_normcorr_result exhaustive{};
        for (float coarse : {1.0f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f, 8.0f}) {
            SCOPED_TRACE(testing::Message() << "coarse " << coarse << ", seed " << seed);
            Model model;
            train(model, pattern, coarse);
            qsrch_normcorr_runParams params = runParams();
            Results found, limited;
            ASSERT_EQ(run(model, scene, params, found), QSRCH_OK);
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
            (seed % 2 ? params.contrastMin : params.brightnessMin) = 1.05;
            ASSERT_EQ(run(model, scene, params, limited), QSRCH_OK);
            EXPECT_LT(nearest(limited, truth.x, truth.y, 2.0), 0);
        }
    }
}

// Four instances of falling quality: the best ones ranked, and an early stop
// at the confusion threshold (fewer polls).
TEST(Search, RanksAndStopsAmongSeveralInstances)
{
    for (int seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Planted p(100 + seed);
        std::uniform_real_distribution<double> jitter(0, 6);
        std::vector<Instance> planted;
        for (auto [x, y, noise] : {std::array{4, 6, 0}, {95, 8, 5}, {10, 72, 10}, {100, 70, 15}})
            planted.push_back({x + jitter(p.rng), y + jitter(p.rng), double(noise)});
        const Image8 scene = render(p.rng, p.pattern, planted);
        auto instancesIn = [&](const Results& r) {
            int n = 0;
            for (const Instance& in : planted) n += nearest(r, in.x, in.y, 0.5) >= 0;
            return n;
        };
        for (int32_t numToFind : {4, 3, 1}) {
            int polls[2] = {};
            for (float confusion : {1.0f, 0.5f})
                for (uint32_t adaptive : {0u, 1u}) {
                    SCOPED_TRACE(testing::Message() << numToFind << ", " << confusion << ", " << adaptive);
                    qsrch_normcorr_runParams params = runParams(numToFind, confusion);
                    params.adaptiveLevelThresholds = adaptive;
                    qtest::AttentionCounter attention;
                    Results results;
                    ASSERT_EQ(run(p.model, scene, params, results), QSRCH_OK);
                    ASSERT_EQ(results.size(), size_t(numToFind));
                    expectRankedWithoutDuplicates(results);
                    EXPECT_EQ(instancesIn(results), numToFind);
                    for (int k = 0; confusion == 1.0f && k < numToFind; ++k)
                        EXPECT_LT(distance(results[k], planted[k].x, planted[k].y), 0.5);
                    if (!adaptive) polls[confusion == 1.0f] = attention.polls();
                }
            EXPECT_TRUE(numToFind == 4 || polls[0] < polls[1]) << polls[0] << " polls, " << polls[1] << " all";
        }
    }
}

// Stripes of period 12 make placements overlapping by 3/4 match too: an
// overlap fraction of 0.5 merges most of them. Alternating columns split one
// coarse candidate into two peaks two columns apart, and both are followed.
TEST(Search, MergesOverlapsAndFollowsSplitCandidates)
{
    int splitPairs = 0, overlaps[2] = {};  // unmerged, merged
    for (int seed = 1; seed <= 6; ++seed)
        for (double period : {12.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", period " << period);
            std::mt19937 rng(seed);
            Texture pattern = randomTexture(rng, kPatW, kPatH, 10);
            pattern.stripePeriod = period;
            const Image8 scene = render(rng, pattern, {{50.1, 40.6}});
            Model model;
            train(model, pattern, 4.0f);
            for (float overlap : {1.0f, 0.5f}) {
                Results r;
                ASSERT_EQ(run(model, scene, runParams(4, 1.0f, overlap, 0.1f), r), QSRCH_OK);
                ASSERT_GE(r.size(), 1u);
                expectRankedWithoutDuplicates(r, 0.1f);
                for (size_t i = 0; i < r.size(); ++i)
                    for (size_t j = 0; j < r.size(); ++j) {
                        const double dx = r[i].pose.trans.x - r[j].pose.trans.x;
                        const double dy = r[i].pose.trans.y - r[j].pose.trans.y;
                        const double w = kPatW - std::fabs(dx), h = kPatH - std::fabs(dy);
                        overlaps[overlap < 1] += period == 12 && i < j && w > 0 && h > 0 && w * h > 0.5 * kPatW * kPatH;
                        splitPairs += overlap == 1 && period == 2 && std::fabs(dx - 2) < 0.1 && std::fabs(dy) < 0.5;
                    }
            }
        }
    EXPECT_GT(splitPairs, 0);
    EXPECT_LT(2 * overlaps[1], overlaps[0]);
}

// Half the instance hidden by the runtime mask (noise under it): still found,
// better than without the mask. An unbound mask, a mask caring everywhere,
// three planes read by a grey model and caller-built source levels find
// what the plain image finds.
TEST(Search, RuntimeMaskHidingHalfAnInstanceStillFindsItAndEveryEntryReadsThePlainImage)
{
    Planted p(19);
    const Instance truth{57.4, 41.8};
    Image8 scene = render(p.rng, p.pattern, {truth}), mask(kSceneW, kSceneH), care(kSceneW, kSceneH);
    std::uniform_int_distribution<int> noise(0, 255);
    for (int32_t y = 0; y < kSceneH; ++y)
        for (int32_t x = 0; x < kSceneW; ++x) {
            const bool hidden = x >= truth.x && x < truth.x + kPatW / 2 && y >= truth.y && y < truth.y + kPatH;
            mask.at(x, y) = hidden ? 0 : 200, care.at(x, y) = 255;
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
    ASSERT_EQ(masked.size(), 1u);
    EXPECT_TRUE(distance(masked[0], truth.x, truth.y) < 0.25 && masked[0].score > 0.9f) << masked[0].score;
    ASSERT_EQ(qsrch_normcorr_run(p.model.get(), image.cget(), &params, plain.get()), QSRCH_OK);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_LT(plain[0].score, masked[0].score);
    ASSERT_EQ(qsrch_normcorr_runMask(p.model.get(), image.cget(), unbound.cget(), &params, same[0].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runMaskWindow(p.model.get(), &view, &careView, &id, &params, same[1].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runWindow3(p.model.get(), &view, &view, &view, &id, &params, same[2].get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runInternalLevels(p.model.get(), sources.get(), &params, &id, same[3].get()), QSRCH_OK);
    for (const Results& r : same)
        EXPECT_TRUE(r.size() == 1 && r[0].score == plain[0].score && distance(r[0], plain[0].pose.trans.x,
                                                                               plain[0].pose.trans.y) == 0)
            << &r - same;
}

// Checks in order: image, transform, model, parameters, size; every plane
// before the transform, and a grey model reads plane 1 only. Three planes
// are searched on their own; a pattern-sized image scored at its one
// position carries only its score.
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

    const Instance truth{70.3, 22.9};
    std::deque<OwnedImage> patterns, scenes;
    for (int plane = 0; plane < 3; ++plane) {
        const Texture texture = randomTexture(p.rng, kPatW, kPatH);
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
}

// With limitLevelsToRegion the search starts on the coarsest level (of
// granularities 1, 2, 4, 8) whose granularity times 3 stays below the
// region's extent; a start that moves changes the polls. A view 10 rows
// taller than the pattern limits by its own row range.
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

// Answers kStop on its Nth poll and QSYS_OK before and after.
qsys_status stopAtPoll(void* counts)
{
    int* c = static_cast<int*>(counts);
    return ++c[0] == c[1] ? kStop : QSYS_OK;
}

// A failed allocation or a stop at any poll comes back unchanged and leaves
// nothing allocated, on one level and coarse-to-fine, with and without a mask.
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
        // One level without overlap test is searched on its own; otherwise candidates are refined.
        const qsrch_normcorr_runParams params = runParams(2, 0.5f, coarse == 1.0f ? 1.0f : 0.5f);
        auto search = [&](bool masked) {
            Results results;
            return masked ? qsrch_normcorr_runMask(model.get(), image.cget(), maskImage.cget(), &params, results.get())
                          : qsrch_normcorr_run(model.get(), image.cget(), &params, results.get());
        };
        qtest::expectAllocationFailuresClean([&] { return search(true); });
        for (bool masked : {false, true}) {
            int counts[2] = {0, 0};
            qsys_attention_setHandler(&stopAtPoll, counts);
            ASSERT_EQ(search(masked), QSRCH_OK);
            const int polls = counts[0];
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
