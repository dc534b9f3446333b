// Refusals in order: image checks keep the model, later ones untrain it.
#include <functional>

#include "model_support.hpp"

namespace {

using qtest::Image8, qtest::Model, qtest::OwnedImage, qtest::trainParams;
using M = qsrch_normcorr_model*;

TEST(TrainChecks, RefusalsComeInOrderAndLeaveTheDocumentedState)
{
    std::mt19937 rng(3);
    const Image8 texture = qtest::texture(rng, 17, 13);
    OwnedImage good(texture), unbound, curvedUnbound, curved(texture), goodMask(qtest::blobMask(rng, 17, 13));
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 5, 5, 1e-4), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(curvedUnbound.get(), &radial), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(curved.get(), &radial), QSRCH_OK);
    qmath_xformPtrhConst_destruct(&radial);
    const qmath_xformLinear id = qtest::identity();
    const qsrch_normcorr_trainParams ok = trainParams(1, 4.0f), bad = trainParams(0, 0.5f);
    const qsrch_normcorr_trainParams given = trainParams(0, 4.0f), three = trainParams(0, 3.0f, 3);
    const Image8 large = qtest::texture(rng, 32, 32);  // size-based choice: 4
    Image8 flat(32, 32), sparse(32, 32), line(1, 3), pair(1, 2);
    for (int32_t y = 0; y < 32; ++y)  // isolated care pixels vanish on reduction: level 1 has none
        for (int32_t x = 0; x < 32; ++x) sparse.at(x, y) = (x % 4 == 1 && y % 4 == 1) ? 200 : 0, flat.at(x, y) = 77;
    line.at(0, 0) = pair.at(0, 0) = 0, line.at(0, 1) = pair.at(0, 1) = 10, line.at(0, 2) = 30;
    const qimg_windowConst view = texture.window(), flatView = flat.window(), lineView = line.window(),
                           pairView = pair.window(), largeView = large.window(), sparseView = sparse.window();
    auto window = [&](const qimg_windowConst& v, qsrch_normcorr_trainParams p) -> std::function<qsrch_status(M)> {
        return [&v, p, &id](M m) { return qsrch_normcorr_model_trainWindow(m, &v, &id, &p); };
    };
    const std::tuple<qsrch_status, bool, std::function<qsrch_status(M)>> refusals[] = {  // status, keeps, call
        // A non-linear transform is refused before the image is looked at, the image before the parameters.
        {QSRCH_E_NONLINEAR_XFORM, true, [&](M m) { return qsrch_normcorr_model_train(m, curvedUnbound.cget(), &ok); }},
        {QSRCH_E_NONLINEAR_XFORM, true,
         [&](M m) { return qsrch_normcorr_model_trainMask(m, curved.cget(), unbound.cget(), &ok); }},
        {QSRCH_E_IMAGE_UNBOUND, true, [&](M m) { return qsrch_normcorr_model_train(m, unbound.cget(), &bad); }},
        {QSRCH_E_IMAGE_UNBOUND, true,
         [&](M m) { return qsrch_normcorr_model_trainMask(m, good.cget(), unbound.cget(), &ok); }},
        {QSRCH_E_IMAGE_UNBOUND, true,
         [&](M m) {
             return qsrch_normcorr_model_trainMask3(m, good.cget(), good.cget(), unbound.cget(), goodMask.cget(), &ok);
         }},
        // Parameters are validated even when chosen automatically, and before the pattern's size.
        {QSRCH_E_BAD_GRANULARITY, false, window(view, trainParams(1, 0.5f))},
        {QSRCH_E_GRANULARITY_ORDER, false, window(view, trainParams(0, 4.0f, 8))},
        {QSRCH_E_BAD_GRANULARITY, false, window(pairView, bad)},
        {QSRCH_E_PATTERN_TOO_SMALL, false, window(pairView, ok)},
        {QSRCH_E_NO_CONTRAST, false, window(flatView, ok)},
        {QSRCH_E_NO_CONTRAST, false, window(lineView, trainParams(0, 2.0f))},  // uniform at level 1, given
        {QSRCH_E_NO_CONTRAST, false,
         [&](M m) { return qsrch_normcorr_model_trainMaskWindow(m, &largeView, &sparseView, &id, &given); }},
        // Three planes are uniform only together.
        {QSRCH_E_NO_CONTRAST, false,
         [&](M m) { return qsrch_normcorr_model_trainWindow3(m, &flatView, &flatView, &flatView, &id, &ok); }},
    };
    for (size_t k = 0; k < std::size(refusals); ++k) {
        const auto& [expected, keepsTraining, call] = refusals[k];
        Model model;
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), good.cget(), &ok), QSRCH_OK);
        const void* before = model->trainImage.firstPixel;
        EXPECT_EQ(call(model.get()), expected) << k;
        if (keepsTraining) EXPECT_TRUE(qtest::trained(*model) && model->trainImage.firstPixel == before) << k;
        else qtest::expectUntrained(*model);
    }
    // Passes: three pixels; fine equal to coarse 3; automatic choice above a uniform level; one uniform plane.
    Model model;
    EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &lineView, &id, &ok), QSRCH_OK);
    EXPECT_EQ(model->levels.size, 1u);
    EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &view, &id, &three), QSRCH_OK);
    EXPECT_TRUE(model->trainParams.fineGranularity == 3 && model->levels.size == 3u);
    ASSERT_EQ(qsrch_normcorr_model_trainMaskWindow(model.get(), &largeView, &sparseView, &id, &ok), QSRCH_OK);
    EXPECT_TRUE(model->levels.size == 1 && model->trainParams.coarseGranularity == 1.0f &&
                model->trainParams.fineGranularity == 1 && qtest::level(*model, 0).nCare == 64);
    ASSERT_EQ(qsrch_normcorr_model_trainWindow3(model.get(), &flatView, &largeView, &flatView, &id, &given), QSRCH_OK);
    EXPECT_EQ(model->levels.size, 3u);
    EXPECT_EQ(qsrch_normcorr_model_trainMask3(model.get(), good.cget(), good.cget(), good.cget(), goodMask.cget(), &ok),
              QSRCH_OK);
}

// A trained model first, so each call has a training to give up (surround: the top-level model's tests).
TEST(TrainChecks, AllocationFailuresLeakNothingAndUntrain)
{
    std::mt19937 rng(5);
    const Image8 big = qtest::texture(rng, 30, 27, 37), plane1 = qtest::texture(rng, 20, 20),
                 plane2 = qtest::texture(rng, 20, 20), mask = qtest::blobMask(rng, 20, 20);
    const qimg_windowConst pattern = big.window(4, 3, 20, 20), view1 = plane1.window(), view2 = plane2.window(),
                           maskView = mask.window();
    const qmath_xformLinear id = qtest::identity();
    const qsrch_normcorr_trainParams automatic = trainParams(1, 4.0f), three = trainParams(0, 3.0f);
    qtest::expectAllocationFailuresClean([&] {
        qsrch_normcorr_model model;
        qsrch_status s = qsrch_normcorr_model_construct(&model);
        if (QSRCH_FAILED(s)) return s;
        s = qsrch_normcorr_model_trainWindow(&model, &view1, &id, &automatic);
        if (!QSRCH_FAILED(s))
            s = qsrch_normcorr_model_trainMaskWindow3(&model, &pattern, &view1, &view2, &maskView, &id, &three);
        if (QSRCH_FAILED(s)) qtest::expectUntrained(model);
        EXPECT_EQ(qsrch_normcorr_model_destruct(&model), QSRCH_OK);
        return s;
    });
}

}  // namespace
