// The top-level model: the surrounding band, checks, shared copies, failures.
#include "search/search_support.hpp"

namespace {

using qtest::Image8, qtest::OwnedImage, qtest::ResultSet, qtest::SearchModel, qtest::Xform;

std::vector<uint8_t> level1(const qsrch_normcorr_model& m) { return qtest::pixels(qtest::level(m, 1).planeWindow[0]); }

// The band only where a handle's image has two pixels to spare on every side; a view has none.
TEST(SearchModel, SurroundBandIsUsedOnlyWhereTheImageHasIt)
{
    std::mt19937 rng(21);
    const Image8 image = qtest::texture(rng, 60, 50, 67);
    Image8 patternOnly(33, 27);
    qtest::paste(patternOnly, image, 10, 8, 33, 27, 0, 0);
    OwnedImage whole(patternOnly), handle(image);
    const qmath_xformLinear id = qtest::identity();
    qtest::Identity identity;
    const qsrch_trainParams asked = qtest::topTrainParams(4, 1);
    const qsrch_normcorr_trainParams plain = qtest::trainParams(0, 4.0f), withBand = qtest::trainParams(0, 4.0f, 1, 1);
    const std::tuple<int, int32_t, int32_t, bool> cases[] = {  // form (rectangle, view, whole image), x, y, band
        {1, 10, 8, false}, {2, 10, 8, false}, {0, 2, 2, true},   {0, 25, 21, true},
        {0, 1, 8, false},  {0, 10, 1, false}, {0, 26, 8, false}, {0, 10, 22, false}};
    for (const auto& [form, x, y, band] : cases) {
        const qimg_windowConst at = image.window(x, y, 33, 27);
        const qstd_rect32 rect{x, y, 33, 27};
        qtest::Model ordinary, banded;
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(ordinary.get(), &at, &id, &plain), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(banded.get(), &at, &id, &withBand), QSRCH_OK);
        ASSERT_EQ(level1(*banded) == level1(*ordinary), x < 2 || y < 2 || x > 25 || y > 21);  // no room, no band
        SearchModel model;
        qimg_imageConst part;
        qsrch_trainParams kept;
        ASSERT_EQ(qimg_imageConst_constructRect(&part, handle.cget(), &rect, nullptr), QSRCH_OK);
        ASSERT_EQ(form == 1 ? qsrch_model_trainWindow(model.get(), &at, identity.get(), &asked)
                            : qsrch_model_train(model.get(), form == 2 ? whole.cget() : &part, &asked), QSRCH_OK);
        qimg_imageConst_destruct(&part);
        ASSERT_EQ(qsrch_model_getTrainParams(model.get(), &kept), QSRCH_OK);
        EXPECT_TRUE(level1(*model->normcorrModel) == level1(band ? *banded : *ordinary) && kept.useSurround == band)
            << x << ", " << y;
    }
}

// An unbound image keeps the model; every later refusal untrains it; the origin survives.
TEST(SearchModel, TrainingAndQueryChecks)
{
    std::mt19937 rng(22);
    const Image8 pixels = qtest::texture(rng, 40, 30);
    OwnedImage image(pixels), unbound, mask(pixels);
    SearchModel model;
    const qmath_vect origin{-3.5, 8};
    ASSERT_EQ(qsrch_model_setOrigin(model.get(), &origin), QSRCH_OK);
    auto expectState = [&](const char* when, bool trained, bool withMask = false) {
        const qsrch_status refused = trained ? QSRCH_OK : QSRCH_E_NOT_TRAINED;
        uint32_t flag = 2;
        qstd_pair32 size{}, minimum{};
        qimg_imageConst trainMask;
        qsrch_trainParams params;
        qmath_vect kept;
        qimg_imageConst_constructUnbound(&trainMask);
        EXPECT_TRUE(qsrch_model_getIsTrained(model.get(), &flag) == QSRCH_OK && (flag != 0) == trained) << when;
        EXPECT_EQ(qsrch_model_getMinSearchImageSize(model.get(), 2, &minimum),
                  trained ? QSRCH_E_BAD_ALGORITHM : refused) << when;
        EXPECT_TRUE(qsrch_model_getSize(model.get(), &size) == refused &&
                    qsrch_model_getMinSearchImageSize(model.get(), 1, &minimum) == refused &&
                    qsrch_model_getTrainImage(model.get(), &trainMask) == refused &&
                    qsrch_model_getTrainMask(model.get(), &trainMask) == refused &&
                    qsrch_model_getTrainParams(model.get(), &params) == refused) << when;
        EXPECT_TRUE(!trained || (size.first == 40 && size.second == 30 && minimum.first == 40 && minimum.second == 30 &&
                                 qtest::isBound(trainMask) == withMask)) << when;
        qimg_imageConst_destruct(&trainMask);
        EXPECT_TRUE(qsrch_model_getOrigin(model.get(), &kept) == QSRCH_OK && kept.x == origin.x && kept.y == origin.y);
    };
    expectState("constructed", false);
    const qsrch_trainParams good = qtest::topTrainParams();
    ASSERT_EQ(qsrch_model_trainMask(model.get(), image.cget(), unbound.cget(), &good), QSRCH_OK);
    expectState("unbound mask", true, false);
    ASSERT_EQ(qsrch_model_trainMask(model.get(), image.cget(), mask.cget(), &good), QSRCH_OK);
    expectState("mask", true, true);
    EXPECT_EQ(qsrch_model_train(model.get(), unbound.cget(), &good), QSRCH_E_IMAGE_UNBOUND);
    expectState("unbound image keeps the training", true, true);

    qtest::Identity identity;
    const qimg_windowConst tiny = pixels.window(3, 3, 1, 2);
    qsrch_trainParams algorithm2 = good;
    algorithm2.algorithm = 2;
    // Parameters are validated before the pattern is looked at; untraining counts as a refusal here.
    const std::pair<const qsrch_trainParams*, qsrch_status> refusals[] = {
        {&algorithm2, QSRCH_E_BAD_ALGORITHM}, {&good, QSRCH_E_PATTERN_TOO_SMALL}, {nullptr, QSRCH_OK}};
    for (const auto& [params, want] : refusals) {
        ASSERT_EQ(qsrch_model_train(model.get(), image.cget(), &good), QSRCH_OK);
        EXPECT_EQ(params ? qsrch_model_trainWindow(model.get(), &tiny, identity.get(), params)
                         : qsrch_model_untrain(model.get()), want);
        expectState("refused", false);
    }
}

// Copies share pixels and levels, keep origin and parameters, search alike; failures leave it untrained.
TEST(SearchModel, CopiesShareTrainingPixelsAndFailuresLeakNothing)
{
    std::mt19937 rng(23);
    const Image8 pixels = qtest::smoothTexture(rng, 90, 70);
    OwnedImage image(pixels);
    Xform trainFromClient;  // client = 2 * image + (5, 1)
    qtest::scaleShift(trainFromClient, 0.5, 0.5, -2.5, -0.5);
    const qimg_windowConst pattern = qtest::viewOf(image.cget(), 20, 15, 30, 24);
    const qsrch_runParams run = qtest::topRunParams(2);
    const qsrch_trainParams params = qtest::topTrainParams(2);
    qsrch_model source, copy;
    ASSERT_EQ(qsrch_model_construct(&source), QSRCH_OK);
    ASSERT_EQ(qsrch_model_trainWindow(&source, &pattern, trainFromClient.get(), &params), QSRCH_OK);
    const qmath_vect origin{60, 43};
    ASSERT_EQ(qsrch_model_setOrigin(&source, &origin), QSRCH_OK);
    ResultSet expected;
    ASSERT_EQ(qsrch_run(&source, image.cget(), &run, expected.get()), QSRCH_OK);
    ASSERT_GE(expected->count, 1);
    qimg_windowConst kept;
    qimg_windowConst_init(&kept, &source.trainImage);
    EXPECT_EQ(qtest::pixels(kept), qtest::pixels(pattern));
    ASSERT_EQ(qsrch_model_constructCopy(&copy, &source), QSRCH_OK);
    SearchModel assigned;
    ASSERT_EQ(qsrch_model_train(assigned.get(), image.cget(), &params), QSRCH_OK);
    ASSERT_EQ(qsrch_model_assign(assigned.get(), &source), QSRCH_OK);
    ASSERT_EQ(qsrch_model_assign(assigned.get(), assigned.get()), QSRCH_OK);
    qstd_vector_qsrch_model models;
    ASSERT_EQ(qstd_vector_qsrch_model_constructFill(&models, 2, &source), QSRCH_OK);
    const qsrch_model* filled = static_cast<const qsrch_model*>(models.begin);
    auto level1 = [](const qsrch_model* m) { return qtest::level(*m->normcorrModel, 1).planeWindow[0].firstPixel; };
    const void* const shared[2] = {source.trainImage.firstPixel, level1(&source)};
    ASSERT_EQ(qsrch_model_destruct(&source), QSRCH_OK);  // the copies keep the pixels alive
    for (const qsrch_model* m : std::initializer_list<const qsrch_model*>{&copy, assigned.get(), filled, filled + 1}) {
        qsrch_trainParams keptParams;
        ResultSet found;
        ASSERT_EQ(qsrch_model_getTrainParams(m, &keptParams), QSRCH_OK);
        ASSERT_EQ(qsrch_run(m, image.cget(), &run, found.get()), QSRCH_OK);
        EXPECT_TRUE(m->trainImage.firstPixel == shared[0] && level1(m) == shared[1] && m->trainImage.x == 20 &&
                    m->trainImage.y == 15);
        EXPECT_TRUE(m->origin.x == origin.x && m->origin.y == origin.y && keptParams.coarseGranularity == 2 &&
                    keptParams.autoSelectGranularity == 0);
        ASSERT_EQ(found->count, expected->count);
        EXPECT_TRUE(qtest::sameEntry(found->entries[found->count - 1], expected->entries[expected->count - 1]));
    }
    EXPECT_EQ(qstd_vector_qsrch_model_destruct(&models), QSRCH_OK);
    Xform radial, fromClient;  // a training image with a general transform too
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(radial.get(), 20, 15, -2e-4), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), radial.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
    const qimg_windowConst view = pixels.window(6, 5, 30, 25);
    const qsrch_trainParams surround = qtest::topTrainParams(0, 1);
    qtest::expectAllocationFailuresClean([&] {
        qsrch_model model, again;
        qsrch_status s = qsrch_model_construct(&model);
        if (QSRCH_FAILED(s)) return s;
        s = qsrch_model_trainMask(&model, image.cget(), image.cget(), &surround);
        if (!QSRCH_FAILED(s)) s = qsrch_model_trainMaskWindow(&model, &view, &view, fromClient.get(), &surround);
        uint32_t trained = 0;
        EXPECT_TRUE(qsrch_model_getIsTrained(&model, &trained) == QSRCH_OK && (trained != 0) == !QSRCH_FAILED(s));
        if (!QSRCH_FAILED(s)) s = qsrch_model_constructCopy(&again, &model);
        if (!QSRCH_FAILED(s)) qsrch_model_destruct(&again);
        qsrch_model_destruct(&model);
        return s;
    });
    EXPECT_EQ(qsrch_model_destruct(&copy), QSRCH_OK);
}

}  // namespace
