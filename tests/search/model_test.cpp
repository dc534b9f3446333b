// The top-level model: the surrounding band, checks, shared copies, failures.
#include <functional>
#include <string>

#include "search/search_support.hpp"

namespace {

using qtest::Image8, qtest::OwnedImage, qtest::ResultSet, qtest::SearchModel, qtest::Xform;

bool samePixels(const qimg_windowConst& a, const qimg_windowConst& b)
{
    bool same = a.width == b.width && a.height == b.height;
    for (int32_t y = 0; same && y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x) same = same && qtest::at(a, x, y) == qtest::at(b, x, y);
    return same;
}

const qimg_windowConst& level1(const qsrch_normcorr_model& model) { return qtest::level(model, 1).planeWindow[0]; }

TEST(SearchModel, SurroundNeedsTwoPixelsOnEverySide)
{
    const qstd_rect32 entire{-5, 3, 40, 30};
    // Margins left, top, right and bottom of a view inside `entire`.
    const std::array<int32_t, 4> margins[] = {{2, 2, 2, 2}, {1, 2, 2, 2}, {2, 1, 2, 2}, {2, 2, 1, 2},
                                              {2, 2, 2, 1}, {7, 3, 2, 9}, {0, 0, 0, 0}, {2, 2, -1, 2}};
    for (const auto& m : margins) {
        const qstd_rect32 view{entire.x + m[0], entire.y + m[1], entire.width - m[0] - m[2],
                               entire.height - m[1] - m[3]};
        EXPECT_EQ(qsrch::surroundFits(entire, view), m[0] >= 2 && m[1] >= 2 && m[2] >= 2 && m[3] >= 2)
            << m[0] << " " << m[1] << " " << m[2] << " " << m[3];
    }
    // Sums near the 32-bit limits neither wrap nor pass.
    const qstd_rect32 huge{0, 0, INT32_MAX, INT32_MAX};
    EXPECT_TRUE(qsrch::surroundFits(huge, qstd_rect32{2, 2, INT32_MAX - 4, INT32_MAX - 4}));
    EXPECT_FALSE(qsrch::surroundFits(huge, qstd_rect32{2, 2, INT32_MAX - 3, INT32_MAX - 4}));
    EXPECT_FALSE(qsrch::surroundFits(qstd_rect32{INT32_MIN, 0, 4, 10}, qstd_rect32{INT32_MIN + 2, 2, 1, 1}));
}

// The band only where a handle's image has two pixels to spare on every side.
TEST(SearchModel, SurroundBandIsUsedOnlyWhereTheImageHasIt)
{
    std::mt19937 rng(21);
    const Image8 image = qtest::texture(rng, 60, 50, 67);
    Image8 maskPixels(60, 50, 64), patternOnly(33, 27);
    maskPixels.fill(255);
    qtest::paste(patternOnly, image, 10, 8, 33, 27, 0, 0);
    OwnedImage whole(patternOnly), handle(image);
    const qmath_xformLinear id = qtest::identity();
    Xform identity;
    Xform::scaleShift(identity, 1, 1, 0, 0);
    const qsrch_trainParams asked = qtest::fixedTrainParams(4, 1);
    auto rect = [&](int32_t x) {
        return [&, x](qsrch_model* m) {
            const qstd_rect32 r{x, 8, 33, 27};
            qimg_imageConst part;
            EXPECT_EQ(qimg_imageConst_constructRect(&part, handle.cget(), &r, nullptr), QSRCH_OK);
            const qsrch_status s = qsrch_model_train(m, &part, &asked);
            return qimg_imageConst_destruct(&part), s;
        };
    };
    const qimg_windowConst view = image.window(10, 8, 33, 27), maskView = maskPixels.window(10, 8, 33, 27);
    const std::tuple<const char*, int32_t, bool, std::function<qsrch_status(qsrch_model*)>> trainings[] = {
        {"window", 10, false, [&](auto* m) { return qsrch_model_trainWindow(m, &view, identity.get(), &asked); }},
        {"masked window", 10, false,
         [&](auto* m) { return qsrch_model_trainMaskWindow(m, &view, &maskView, identity.get(), &asked); }},
        {"whole image", 10, false, [&](auto* m) { return qsrch_model_train(m, whole.cget(), &asked); }},
        {"rectangle with room", 2, true, rect(2)},
        {"rectangle a pixel short", 1, false, rect(1)},
    };
    for (const auto& [name, x, band, train] : trainings) {
        SCOPED_TRACE(name);
        const qimg_windowConst at = image.window(x, 8, 33, 27);
        qtest::Model ordinary, banded;
        const qsrch_normcorr_trainParams plain = qtest::trainParams(0, 4.0f),
                                         withBand = qtest::trainParams(0, 4.0f, 1, 1);
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(ordinary.get(), &at, &id, &plain), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(banded.get(), &at, &id, &withBand), QSRCH_OK);
        ASSERT_EQ(samePixels(level1(*banded), level1(*ordinary)), x < 2);  // no room, no band
        SearchModel model;
        ASSERT_EQ(train(model.get()), QSRCH_OK);
        EXPECT_TRUE(samePixels(level1(*model->normcorrModel), level1(band ? *banded : *ordinary)));
        qsrch_trainParams kept;
        ASSERT_EQ(qsrch_model_getTrainParams(model.get(), &kept), QSRCH_OK);
        EXPECT_EQ(kept.useSurround, uint32_t(band));
    }
}

// An unbound image keeps the model; every later refusal untrains it.
TEST(SearchModel, TrainingAndQueryChecks)
{
    std::mt19937 rng(22);
    const Image8 pixels = qtest::texture(rng, 40, 30);
    Image8 maskPixels(40, 30);
    maskPixels.fill(131);
    OwnedImage image(pixels), unbound, mask(maskPixels);
    SearchModel model;
    const qmath_vect origin{-3.5, 8};
    ASSERT_EQ(qsrch_model_setOrigin(model.get(), &origin), QSRCH_OK);
    const qsrch_runParams run = qtest::topRunParams();

    auto expectState = [&](const char* when, bool trained, bool withMask = false) {
        SCOPED_TRACE(when);
        uint32_t flag = 2;
        EXPECT_EQ(qsrch_model_getIsTrained(model.get(), &flag), QSRCH_OK);
        EXPECT_EQ(flag != 0, trained);
        const qsrch_status refused = trained ? QSRCH_OK : QSRCH_E_NOT_TRAINED;
        qstd_pair32 size{}, minimum{};
        qimg_imageConst trainMask;
        qimg_imageConst_constructUnbound(&trainMask);
        qsrch_trainParams params;
        qmath_vect kept;
        EXPECT_EQ(qsrch_model_getSize(model.get(), &size), refused);
        EXPECT_EQ(qsrch_model_getMinSearchImageSize(model.get(), 2, &minimum),
                  trained ? QSRCH_E_BAD_ALGORITHM : QSRCH_E_NOT_TRAINED);
        EXPECT_EQ(qsrch_model_getMinSearchImageSize(model.get(), 1, &minimum), refused);
        EXPECT_EQ(qsrch_model_getTrainImage(model.get(), &trainMask), refused);
        EXPECT_EQ(qsrch_model_getTrainMask(model.get(), &trainMask), refused);
        EXPECT_EQ(qsrch_model_getTrainParams(model.get(), &params), refused);
        if (trained) {
            EXPECT_TRUE(size.first == 40 && size.second == 30 && minimum.first == 40 && minimum.second == 30);
            EXPECT_EQ(qtest::isBound(trainMask), withMask);
        }
        qimg_imageConst_destruct(&trainMask);
        EXPECT_EQ(qsrch_model_getOrigin(model.get(), &kept), QSRCH_OK);
        EXPECT_TRUE(kept.x == origin.x && kept.y == origin.y);
        ResultSet set;
        EXPECT_EQ(qsrch_run(model.get(), image.cget(), &run, set.get()), refused);
    };

    expectState("constructed", false);
    const qsrch_trainParams good = qtest::topTrainParams();
    EXPECT_EQ(qsrch_model_trainMask(model.get(), unbound.cget(), mask.cget(), &good), QSRCH_E_IMAGE_UNBOUND);
    expectState("unbound image", false);
    ASSERT_EQ(qsrch_model_trainMask(model.get(), image.cget(), unbound.cget(), &good), QSRCH_OK);
    expectState("unbound mask", true, false);
    ASSERT_EQ(qsrch_model_trainMask(model.get(), image.cget(), mask.cget(), &good), QSRCH_OK);
    expectState("mask", true, true);
    EXPECT_EQ(qsrch_model_train(model.get(), unbound.cget(), &good), QSRCH_E_IMAGE_UNBOUND);
    expectState("unbound image keeps the training", true, true);

    Xform identity;
    Xform::scaleShift(identity, 1, 1, 0, 0);
    const qimg_windowConst tiny = pixels.window(3, 3, 1, 2);
    qsrch_trainParams coarse3 = good, algorithm2 = good;
    coarse3.coarseGranularity = 3;
    algorithm2.algorithm = 2;
    const std::tuple<const char*, std::function<qsrch_status()>, qsrch_status> refusals[] = {
        {"coarse 3", [&] { return qsrch_model_train(model.get(), image.cget(), &coarse3); }, QSRCH_E_BAD_GRANULARITY},
        // Parameters are validated before the pattern is looked at.
        {"algorithm 2", [&] { return qsrch_model_trainWindow(model.get(), &tiny, identity.get(), &algorithm2); },
         QSRCH_E_BAD_ALGORITHM},
        {"two pixels", [&] { return qsrch_model_trainWindow(model.get(), &tiny, identity.get(), &good); },
         QSRCH_E_PATTERN_TOO_SMALL},
        {"untrain", [&] { return qsrch_model_untrain(model.get()); }, QSRCH_OK},
    };
    for (const auto& [name, train, want] : refusals) {
        ASSERT_EQ(qsrch_model_train(model.get(), image.cget(), &good), QSRCH_OK);
        EXPECT_EQ(train(), want) << name;
        expectState(name, false);
    }
}

// Copies share pixels and levels, keep origin and parameters, search alike.
TEST(SearchModel, CopiesShareTrainingPixels)
{
    std::mt19937 rng(23);
    const Image8 pixels = qtest::smoothTexture(rng, 90, 70);
    OwnedImage image(pixels);
    Xform trainClient, trainFromClient;
    Xform::scaleShift(trainClient, 2, 2, 5, 1);
    Xform::scaleShift(trainFromClient, 0.5, 0.5, -2.5, -0.5);
    const qimg_windowConst pattern = qtest::viewOf(image.cget(), 20, 15, 30, 24);
    const qsrch_runParams run = qtest::topRunParams(2);
    const qsrch_trainParams params = qtest::fixedTrainParams(2);

    qsrch_model source;
    ASSERT_EQ(qsrch_model_construct(&source), QSRCH_OK);
    ASSERT_EQ(qsrch_model_trainWindow(&source, &pattern, trainFromClient.get(), &params), QSRCH_OK);
    const qmath_vect origin = trainClient.map({27.5, 21});
    ASSERT_EQ(qsrch_model_setOrigin(&source, &origin), QSRCH_OK);
    ResultSet expected;
    ASSERT_EQ(qsrch_run(&source, image.cget(), &run, expected.get()), QSRCH_OK);
    ASSERT_GE(expected->count, 1);
    EXPECT_NEAR(expected->entries[0].point.x, 27.5, 0.1);  // the searched image has no transform
    EXPECT_NEAR(expected->entries[0].point.y, 21, 0.1);
    // The kept copy stands where the training view stood.
    qimg_windowConst kept;
    qimg_windowConst_init(&kept, &source.trainImage);
    EXPECT_TRUE(source.trainImage.x == 20 && source.trainImage.y == 15 && samePixels(kept, pattern));

    qsrch_model copy;
    ASSERT_EQ(qsrch_model_constructCopy(&copy, &source), QSRCH_OK);
    SearchModel assigned;
    ASSERT_EQ(qsrch_model_train(assigned.get(), image.cget(), &params), QSRCH_OK);
    ASSERT_EQ(qsrch_model_assign(assigned.get(), &source), QSRCH_OK);
    ASSERT_EQ(qsrch_model_assign(assigned.get(), assigned.get()), QSRCH_OK);
    qstd_vector_qsrch_model models;
    ASSERT_EQ(qstd_vector_qsrch_model_constructFill(&models, 2, &source), QSRCH_OK);
    const qsrch_model* filled = nullptr;
    ASSERT_EQ(qstd_vector_qsrch_model_getBeginConst(&models, &filled), QSRCH_OK);
    const void* const sharedPixels = source.trainImage.firstPixel;
    const void* const sharedLevel = level1(*source.normcorrModel).firstPixel;
    ASSERT_EQ(qsrch_model_destruct(&source), QSRCH_OK);  // the copies keep the pixels alive

    for (const qsrch_model* m : std::initializer_list<const qsrch_model*>{&copy, assigned.get(), filled, filled + 1}) {
        SCOPED_TRACE(m == &copy ? "copy" : m == assigned.get() ? "assigned" : "vector element");
        EXPECT_EQ(m->trainImage.firstPixel, sharedPixels);
        EXPECT_EQ(level1(*m->normcorrModel).firstPixel, sharedLevel);
        EXPECT_TRUE(m->origin.x == origin.x && m->origin.y == origin.y);
        qsrch_trainParams keptParams;
        ASSERT_EQ(qsrch_model_getTrainParams(m, &keptParams), QSRCH_OK);
        EXPECT_TRUE(keptParams.coarseGranularity == 2 && keptParams.autoSelectGranularity == 0);
        ResultSet found;
        ASSERT_EQ(qsrch_run(m, image.cget(), &run, found.get()), QSRCH_OK);
        ASSERT_EQ(found->count, expected->count);
        for (int32_t i = 0; i < found->count; ++i)
            EXPECT_TRUE(qtest::sameEntry(found->entries[i], expected->entries[i])) << i;
    }
    EXPECT_EQ(qstd_vector_qsrch_model_destruct(&models), QSRCH_OK);
    EXPECT_EQ(qsrch_model_destruct(&copy), QSRCH_OK);
}

// A failed allocation leaves the model untrained and nothing allocated.
TEST(SearchModel, AllocationFailuresLeakNothing)
{
    std::mt19937 rng(24);
    const Image8 pixels = qtest::texture(rng, 44, 36, 50);
    OwnedImage image(pixels), mask(pixels);
    Xform radial, fromClient;
    Xform::radial(radial, 20, 15, -2e-4);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), radial.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
    const qimg_windowConst view = pixels.window(6, 5, 30, 25);
    const qsrch_trainParams params = qtest::topTrainParams(1);
    qtest::expectAllocationFailuresClean([&] {
        qsrch_model model, copy;
        qsrch_status s = qsrch_model_construct(&model);
        if (QSRCH_FAILED(s)) return s;
        s = qsrch_model_trainMask(&model, image.cget(), mask.cget(), &params);
        if (!QSRCH_FAILED(s)) s = qsrch_model_trainMaskWindow(&model, &view, &view, fromClient.get(), &params);
        uint32_t trained = 0;
        EXPECT_EQ(qsrch_model_getIsTrained(&model, &trained), QSRCH_OK);
        EXPECT_EQ(trained != 0, !QSRCH_FAILED(s));  // a failed training leaves the model untrained
        if (!QSRCH_FAILED(s)) s = qsrch_model_constructCopy(&copy, &model);
        if (!QSRCH_FAILED(s)) qsrch_model_destruct(&copy);
        qsrch_model_destruct(&model);
        return s;
    });
}

}  // namespace
