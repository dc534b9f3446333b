// The coarse-to-fine search end to end: a pattern from a smooth analytic
// texture planted at sub-pixel places (the scene samples the same texture
// shifted, so the truth is exact) must be found there.
#include <memory>

#include "run/run_support.hpp"

namespace {

using qtest::Image8;
using qtest::Model;
using qtest::OwnedImage;
using qtest::Results;
using qtest::runParams;
using qtest::sample;
using qtest::Texture;

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
    double x, y, noise = 0, gain = 1, offset = 0;
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
                scene.at(x, y) = qtest::toPixel(in.gain * pattern(u, v) + in.offset + n);
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
        if (distance(results[i], x, y) <= within &&
            (found < 0 || distance(results[i], x, y) < distance(results[found], x, y)))
            found = int(i);
    return found;
}

// Better first, accepted from the accept threshold up, no two within a pixel.
void expectRankedWithoutDuplicates(const Results& results, float accept = 0.3f)
{
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].accepted, results[i].score >= accept ? 1u : 0u);
        for (size_t j = i + 1; j < results.size(); ++j) {
            EXPECT_GE(results[i].score, results[j].score);
            EXPECT_FALSE(std::fabs(results[i].pose.trans.x - results[j].pose.trans.x) <= 1 &&
                         std::fabs(results[i].pose.trans.y - results[j].pose.trans.y) <= 1);
        }
    }
}

// Within a quarter pixel at every coarse granularity, and coarse-to-fine
// agrees exactly with the one-level search of every position.
TEST(Search, FindsOnePlantedInstanceAtItsSubPixelPlaceAtEveryGranularity)
{
    for (int seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        const Texture pattern = randomTexture(rng, kPatW, kPatH);
        std::uniform_real_distribution<double> px(1, kSceneW - kPatW - 2), py(1, kSceneH - kPatH - 2);
        const Instance truth{px(rng), py(rng)};
        const Image8 scene = render(rng, pattern, {truth});
        qsrch_normcorr_result exhaustive{};
        for (float coarse : {1.0f, 2.0f, 3.0f, 4.0f, 8.0f}) {
            SCOPED_TRACE(testing::Message() << "coarse " << coarse << ", seed " << seed);
            Model model;
            train(model, pattern, coarse);
            Results found;
            ASSERT_EQ(run(model, scene, runParams(), found), QSRCH_OK);
            ASSERT_GE(found.size(), 1u);
            EXPECT_EQ(found.size() == 1, coarse > 1.0f);
            size_t b = 0;
            for (size_t i = 1; i < found.size(); ++i) b = found[i].score > found[b].score ? i : b;
            const qsrch_normcorr_result& best = found[b];
            EXPECT_LT(distance(best, truth.x, truth.y), 0.25);
            EXPECT_TRUE(best.score > 0.9f && best.accepted == 1u) << best.score;
            if (coarse == 1.0f) exhaustive = best;
            EXPECT_NEAR(best.pose.trans.x, exhaustive.pose.trans.x, 1e-9);
            EXPECT_NEAR(best.pose.trans.y, exhaustive.pose.trans.y, 1e-9);
            EXPECT_EQ(best.score, exhaustive.score);
        }
    }
}

// Four instances of falling quality: the best ones ranked, an early stop at
// the confusion threshold (fewer polls), a region admitting one, and a
// refused poll ending the search with its status.
TEST(Search, RanksStopsAndRestrictsAmongSeveralInstances)
{
    for (int seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(100 + seed);
        const Texture pattern = randomTexture(rng, kPatW, kPatH);
        std::uniform_real_distribution<double> jitter(0, 6);
        const std::vector<Instance> planted = {{4 + jitter(rng), 6 + jitter(rng), 0},
                                               {95 + jitter(rng), 8 + jitter(rng), 5},
                                               {10 + jitter(rng), 72 + jitter(rng), 10},
                                               {100 + jitter(rng), 70 + jitter(rng), 15}};
        const Image8 scene = render(rng, pattern, planted);
        Model model, single;
        train(model, pattern, 4.0f);
        train(single, pattern, 1.0f);
        auto instancesIn = [&](const Results& r) {
            int n = 0;
            for (const Instance& in : planted) n += nearest(r, in.x, in.y, 0.5) >= 0;
            return n;
        };
        for (int32_t numToFind : {4, 3, 1}) {
            int polls[2] = {};
            for (float confusion : {1.0f, 0.5f})
                for (uint32_t adaptive : {0u, 1u}) {
                    SCOPED_TRACE(testing::Message() << "numToFind " << numToFind << ", confusion " << confusion
                                                    << ", adaptive " << adaptive);
                    qsrch_normcorr_runParams params = runParams(numToFind, confusion);
                    params.adaptiveLevelThresholds = adaptive;
                    qtest::AttentionCounter attention;
                    Results results;
                    ASSERT_EQ(run(model, scene, params, results), QSRCH_OK);
                    ASSERT_EQ(results.size(), size_t(numToFind));
                    expectRankedWithoutDuplicates(results);
                    EXPECT_EQ(instancesIn(results), numToFind);
                    for (int k = 0; confusion == 1.0f && k < numToFind; ++k)
                        EXPECT_LT(distance(results[k], planted[k].x, planted[k].y), 0.5);
                    if (!adaptive) polls[confusion == 1.0f] = attention.polls();
                }
            EXPECT_TRUE(numToFind == 4 || polls[0] < polls[1]) << polls[0] << " polls, " << polls[1] << " all";
        }
        // One level without overlap test reports every peak, beyond numToFind.
        Results all;
        ASSERT_EQ(run(single, scene, runParams(1), all), QSRCH_OK);
        EXPECT_EQ(instancesIn(all), 4);
        for (int k = 0; k < 4; ++k) {
            qsrch_normcorr_runParams params = runParams(4, 1.0f);
            params.searchRegion = qstd_rectD{std::floor(planted[k].x) - 4, std::floor(planted[k].y) - 4, 8, 8};
            Results results;
            ASSERT_EQ(run(model, scene, params, results), QSRCH_OK);
            ASSERT_GE(results.size(), 1u);
            EXPECT_LT(distance(results[0], planted[k].x, planted[k].y), 0.5) << k;
            EXPECT_EQ(instancesIn(results), 1) << k;
        }
        const qsys_status stop = QSYS_STATUS(0x8ABC0001u);
        qtest::AttentionCounter refusing(stop);
        Results results;
        EXPECT_EQ(run(model, scene, runParams(), results), stop);
    }
}

// Stripes of period 12 make placements overlapping by 3/4 match too: an
// overlap fraction of 0.5 merges most of them. Alternating columns split one
// coarse candidate into two peaks two columns apart, and both are followed.
TEST(Search, MergesOverlapsAndFollowsSplitCandidates)
{
    auto overlapping = [](const Results& r, size_t i, size_t j) {
        const double w = kPatW - std::fabs(r[i].pose.trans.x - r[j].pose.trans.x);
        const double h = kPatH - std::fabs(r[i].pose.trans.y - r[j].pose.trans.y);
        return w > 0 && h > 0 && w * h > 0.5 * kPatW * kPatH;
    };
    int splitPairs = 0, unmergedOverlaps = 0, mergedOverlaps = 0;
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
                Results results;
                ASSERT_EQ(run(model, scene, runParams(4, 1.0f, overlap, 0.1f), results), QSRCH_OK);
                ASSERT_GE(results.size(), 1u);
                expectRankedWithoutDuplicates(results, 0.1f);
                int overlaps = 0;
                for (size_t i = 0; i < results.size(); ++i)
                    for (size_t j = 0; j < results.size(); ++j) {
                        overlaps += i < j && overlapping(results, i, j);
                        splitPairs += overlap == 1.0f && period == 2.0 &&
                                      std::fabs(results[i].pose.trans.x - results[j].pose.trans.x - 2) < 0.1 &&
                                      std::fabs(results[i].pose.trans.y - results[j].pose.trans.y) < 0.5;
                    }
                if (period == 12.0) (overlap == 1.0f ? unmergedOverlaps : mergedOverlaps) += overlaps;
            }
        }
    EXPECT_GT(splitPairs, 0);
    EXPECT_LT(2 * mergedOverlaps, unmergedOverlaps);
}

// Gain 1.5 and offset -0.3 mean: contrast 1.5, brightness 1.2.
TEST(Search, ReportsContrastAndBrightnessAndDropsResultsOutsideTheLimits)
{
    std::mt19937 rng(13);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    double mean = 0;
    for (uint8_t v : qtest::pixels(sample(pattern, kPatW, kPatH).window())) mean += v / double(kPatW * kPatH);
    const Instance truth{61.7, 33.2, 0, 1.5, -0.3 * mean};
    const Image8 scene = render(rng, pattern, {truth});
    Model model;
    train(model, pattern, 4.0f);
    const std::array<double, 5> limits[] = {
        {1.4, 1.6, 1.1, 1.3, 1}, {0, 1.4, 0, HUGE_VAL, 0}, {0, HUGE_VAL, 1.3, HUGE_VAL, 0}};
    for (const auto& [cMin, cMax, bMin, bMax, kept] : limits) {
        SCOPED_TRACE(testing::Message() << "contrast " << cMin << " to " << cMax << ", brightness from " << bMin);
        qsrch_normcorr_runParams params = runParams(1, 1.0f);
        params.contrastMin = cMin, params.contrastMax = cMax, params.brightnessMin = bMin, params.brightnessMax = bMax;
        Results results;
        ASSERT_EQ(run(model, scene, params, results), QSRCH_OK);
        const int at = nearest(results, truth.x, truth.y, 2.0);
        ASSERT_EQ(at >= 0, kept != 0);
        if (at < 0) continue;
        EXPECT_NEAR(results[at].contrast, 1.5, 0.03);
        EXPECT_NEAR(results[at].brightness, 1.2, 0.02);
    }
}

// Half the instance hidden by the runtime mask (noise under it): still found,
// better than without the mask; an unbound mask is no mask.
TEST(Search, RuntimeMaskHidingHalfAnInstanceStillFindsIt)
{
    std::mt19937 rng(19);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    const Instance truth{57.4, 41.8};
    Image8 scene = render(rng, pattern, {truth}), mask(kSceneW, kSceneH);
    std::uniform_int_distribution<int> noise(0, 255);
    for (int32_t y = 0; y < kSceneH; ++y)
        for (int32_t x = 0; x < kSceneW; ++x) {
            const bool hidden = x >= truth.x && x < truth.x + kPatW / 2 && y >= truth.y && y < truth.y + kPatH;
            mask.at(x, y) = hidden ? 0 : 200;
            if (hidden) scene.at(x, y) = static_cast<uint8_t>(noise(rng));
        }
    Model model;
    train(model, pattern, 4.0f);
    OwnedImage image(scene), maskImage(mask), unbound;
    const qsrch_normcorr_runParams params = runParams(1, 1.0f);
    Results masked, plain, unmasked;
    ASSERT_EQ(qsrch_normcorr_runMask(model.get(), image.cget(), maskImage.cget(), &params, masked.get()), QSRCH_OK);
    ASSERT_EQ(masked.size(), 1u);
    EXPECT_LT(distance(masked[0], truth.x, truth.y), 0.25);
    EXPECT_GT(masked[0].score, 0.9f);
    ASSERT_EQ(qsrch_normcorr_runMask(model.get(), image.cget(), unbound.cget(), &params, unmasked.get()), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_run(model.get(), image.cget(), &params, plain.get()), QSRCH_OK);
    ASSERT_EQ(plain.size(), unmasked.size());
    EXPECT_TRUE(plain[0].score == unmasked[0].score && plain[0].pose.trans.x == unmasked[0].pose.trans.x);
    EXPECT_LT(plain[0].score, masked[0].score);
}

// The pose follows the view's place in its image, the image's client
// transform, and the training view's place in its own image.
TEST(Search, PositionsFollowTheViewOriginTheClientTransformAndTheTrainingView)
{
    std::mt19937 rng(23);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    const Image8 scene = render(rng, pattern, {{33.6, 47.1}});
    Model model, viewModel;
    train(model, pattern, 4.0f);
    const qsrch_normcorr_runParams params = runParams();
    const qmath_xformLinear identity = qtest::identity();
    Results plain, shifted, doubled, fromView;
    ASSERT_EQ(run(model, scene, params, plain), QSRCH_OK);
    ASSERT_EQ(plain.size(), 1u);
    auto expectAt = [&](const Results& r, double scale, double dx, double dy) {
        ASSERT_EQ(r.size(), 1u);
        EXPECT_NEAR(r[0].pose.trans.x, scale * plain[0].pose.trans.x + dx, 1e-9);
        EXPECT_NEAR(r[0].pose.trans.y, scale * plain[0].pose.trans.y + dy, 1e-9);
        EXPECT_TRUE(r[0].pose.matrix.a11 == scale && r[0].pose.matrix.a22 == scale && r[0].score == plain[0].score);
    };
    Image8 large = sample(randomTexture(rng, 300, 200), 300, 200);
    qtest::paste(large, scene, 100, 50);
    const qimg_windowConst view = large.window(100, 50, kSceneW, kSceneH);
    ASSERT_EQ(qsrch_normcorr_runWindow(model.get(), &view, &identity, &params, shifted.get()), QSRCH_OK);
    expectAt(shifted, 1, 100, 50);
    OwnedImage scaled(scene);
    qmath_xformLinear clientFromImage;
    ASSERT_EQ(qmath_xformLinear_initScaleShift(&clientFromImage, 2, 2, 0, 0), QSRCH_OK);
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(scaled.get(), &clientFromImage), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_run(model.get(), scaled.cget(), &params, doubled.get()), QSRCH_OK);
    expectAt(doubled, 2, 0, 0);
    // Trained from a view at (7, 5): the pose maps that image's pixel (7, 5).
    Image8 trainingImage = sample(randomTexture(rng, 70, 60), 70, 60);
    qtest::paste(trainingImage, sample(pattern, kPatW, kPatH), 7, 5);
    const qimg_windowConst trainingView = trainingImage.window(7, 5, kPatW, kPatH);
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, 4.0f);
    ASSERT_EQ(qsrch_normcorr_model_trainWindow(viewModel.get(), &trainingView, &identity, &tp), QSRCH_OK);
    ASSERT_EQ(run(viewModel, scene, params, fromView), QSRCH_OK);
    expectAt(fromView, 1, -7, -5);
}

// Checks in order: image, transform, model, parameters, size; every plane
// before the transform, and a grey model reads plane 1 only. Three planes
// are searched on their own; a pattern-sized image scored at its one
// position carries only its score.
TEST(Search, ChecksComeInTheirOrderAndPlanesAreSearched)
{
    std::mt19937 rng(29);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    const Image8 scene = render(rng, pattern, {{20.5, 30.25}});
    Model trained, untrained, colour;
    train(trained, pattern, 4.0f);
    OwnedImage image(scene), unbound, patternSized(sample(pattern, kPatW, kPatH)),
        narrow(sample(pattern, kPatW - 1, kSceneH)), nonLinear(scene);
    qmath_xformPtrhConst radial;
    ASSERT_EQ(qmath_xformPtrhConst_construct(&radial), QSRCH_OK);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 80, 60, 1e-6), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(nonLinear.get(), &radial), QSRCH_OK);
    ASSERT_EQ(qmath_xformPtrhConst_destruct(&radial), QSRCH_OK);
    const qsrch_normcorr_runParams bad = runParams(0), good = runParams();
    using Params = const qsrch_normcorr_runParams*;
    const std::tuple<Model*, const OwnedImage*, const OwnedImage*, const OwnedImage*, Params, qsrch_status> cases[] = {
        {&untrained, &unbound, nullptr, nullptr, &bad, QSRCH_E_IMAGE_UNBOUND},
        {&untrained, &nonLinear, nullptr, nullptr, &bad, QSRCH_E_NONLINEAR_XFORM},
        {&untrained, &image, nullptr, nullptr, &bad, QSRCH_E_NOT_TRAINED},
        {&trained, &narrow, nullptr, nullptr, &bad, QSRCH_E_BAD_NUM_TO_FIND},
        {&trained, &narrow, nullptr, nullptr, &good, QSRCH_E_IMAGE_TOO_SMALL},
        {&trained, &patternSized, nullptr, nullptr, &good, QSRCH_E_IMAGE_TOO_SMALL},
        {&trained, &image, nullptr, nullptr, &good, QSRCH_OK},
        {&trained, &nonLinear, &image, &unbound, &good, QSRCH_E_IMAGE_UNBOUND},
        {&trained, &image, &unbound, &unbound, &good, QSRCH_E_IMAGE_UNBOUND},
        {&trained, &image, &narrow, &nonLinear, &good, QSRCH_OK}};
    Results results;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& [model, plane1, plane2, plane3, params, want] = cases[k];
        EXPECT_EQ(plane2 == nullptr ? qsrch_normcorr_run(model->get(), plane1->cget(), params, results.get())
                                    : qsrch_normcorr_run3(model->get(), plane1->cget(), plane2->cget(),
                                                          plane3->cget(), params, results.get()),
                  want) << k;
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_LT(distance(results[0], 20.5, 30.25), 0.25);

    const Instance truth{70.3, 22.9};
    std::unique_ptr<OwnedImage> patterns[3], scenes[3];
    for (int plane = 0; plane < 3; ++plane) {
        const Texture texture = randomTexture(rng, kPatW, kPatH);
        patterns[plane] = std::make_unique<OwnedImage>(sample(texture, kPatW, kPatH));
        scenes[plane] = std::make_unique<OwnedImage>(render(rng, texture, {truth}));
    }
    const qsrch_normcorr_trainParams tp = qtest::trainParams(0, 4.0f);
    ASSERT_EQ(qsrch_normcorr_model_train3(colour.get(), patterns[0]->cget(), patterns[1]->cget(),
                                          patterns[2]->cget(), &tp), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_run3(colour.get(), scenes[0]->cget(), scenes[1]->cget(), scenes[2]->cget(), &good,
                                  results.get()), QSRCH_OK);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_LT(distance(results[0], truth.x, truth.y), 0.25);

    qsrch_normcorr_runParams single = good;
    single.singlePositionScoring = 1;
    ASSERT_EQ(qsrch_normcorr_run(trained.get(), patternSized.cget(), &single, results.get()), QSRCH_OK);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NEAR(results[0].score, 1.0f, 1e-6);
    EXPECT_TRUE(results[0].accepted + results[0].flags == 0 && results[0].contrast == 0.0);
    EXPECT_TRUE(results[0].pose.trans.x == 0.0 && results[0].pose.matrix.a11 == 1.0);
}

// A view with a mask caring everywhere, three planes read by a grey model,
// and caller-built source levels find what the plain image finds.
TEST(Search, EveryEntryPointFindsTheSameResultsOnTheSamePixels)
{
    std::mt19937 rng(37);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    Image8 care(kSceneW, kSceneH);
    care.fill(255);
    Model model;
    train(model, pattern, 4.0f);
    const Image8 scene = render(rng, pattern, {{41.3, 27.8}, {96.2, 60.4, 8}});
    const qsrch_normcorr_runParams params = runParams(2);
    const qmath_xformLinear identity = qtest::identity();
    const qimg_windowConst view = scene.window(), maskView = care.window();
    qtest::Levels sources;
    ASSERT_EQ(qsrch_normcorr_generateSrcLevels(&view, &model->levels, int32_t(qtest::levelCount(*model)), sources.get()),
              QSRCH_OK);
    Results plain, maskWindow, window3, internal;
    ASSERT_EQ(run(model, scene, params, plain), QSRCH_OK);
    ASSERT_EQ(plain.size(), 2u);
    ASSERT_EQ(qsrch_normcorr_runMaskWindow(model.get(), &view, &maskView, &identity, &params, maskWindow.get()),
              QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runWindow3(model.get(), &view, &view, &view, &identity, &params, window3.get()),
              QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runInternalLevels(model.get(), sources.get(), &params, &identity, internal.get()),
              QSRCH_OK);
    for (const Results* r : {&maskWindow, &window3, &internal}) {
        ASSERT_EQ(r->size(), plain.size());
        for (size_t i = 0; i < plain.size(); ++i)
            EXPECT_TRUE((*r)[i].pose.trans.x == plain[i].pose.trans.x && (*r)[i].pose.trans.y == plain[i].pose.trans.y &&
                        (*r)[i].score == plain[i].score) << "entry " << (r - &maskWindow) << ", result " << i;
    }
}

// With limitLevelsToRegion the search starts on the coarsest level (of
// granularities 1, 2, 4, 8) whose granularity times 3 stays below the
// region's extent; a start that moves changes the polls. A view 10 rows
// taller than the pattern limits by its own row range.
TEST(Search, LimitLevelsToRegionStartsWhereThreeTimesTheGranularityFits)
{
    std::mt19937 rng(41);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    Model model;
    train(model, pattern, 8.0f);
    const Image8 scene = render(rng, pattern, {{60.4, 40.2}});
    const qmath_xformLinear identity = qtest::identity();
    auto polls = [&](const qimg_windowConst& view, qstd_rectD region, uint32_t limit) {
        qsrch_normcorr_runParams params = runParams(1, 1.0f);
        params.searchRegion = region, params.limitLevelsToRegion = limit;
        qtest::AttentionCounter attention;
        Results results;
        EXPECT_EQ(qsrch_normcorr_runWindow(model.get(), &view, &identity, &params, results.get()), QSRCH_OK);
        return attention.polls();
    };
    for (const auto& [extent, start] : {std::pair{25.0, 3}, std::pair{13.0, 3}, std::pair{12.0, 2}, std::pair{9.0, 2}}) {
        const qstd_rectD region{56, 36, extent, extent};
        EXPECT_EQ(polls(scene.window(), region, 1) == polls(scene.window(), region, 0), start == 3) << extent;
    }
    const qimg_windowConst shallow = scene.window(0, 0, kSceneW, kPatH + 10);
    EXPECT_NE(polls(shallow, qstd_rectD{56, 0, 25, 25}, 0), polls(shallow, qstd_rectD{56, 0, 25, 25}, 1));
}

TEST(Search, AllocationFailuresLeakNothing)
{
    std::mt19937 rng(31);
    const Texture pattern = randomTexture(rng, kPatW, kPatH);
    Image8 mask(kSceneW, kSceneH);
    mask.fill(255);
    OwnedImage image(render(rng, pattern, {{30.2, 20.7}, {100.6, 70.1}})), maskImage(mask);
    for (float coarse : {1.0f, 4.0f}) {
        SCOPED_TRACE("coarse " + std::to_string(coarse));
        Model model;
        train(model, pattern, coarse);
        // One level without overlap test is searched on its own; otherwise candidates are refined.
        const qsrch_normcorr_runParams params = runParams(2, 0.5f, coarse == 1.0f ? 1.0f : 0.5f);
        qtest::expectAllocationFailuresClean([&] {
            Results results;
            return qsrch_normcorr_runMask(model.get(), image.cget(), maskImage.cget(), &params, results.get());
        });
    }
}

}  // namespace
