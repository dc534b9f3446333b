// Refusals in order: image checks keep the model, later ones untrain it.
#include "model_support.hpp"

#include <cmath>
#include <functional>
#include <limits>

namespace {

using qtest::Image8, qtest::expectUntrained, qtest::Model, qtest::OwnedImage;

void setRadial(qimg_image* image)
{
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 5, 5, 1e-4), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image, &radial), QSRCH_OK);
    qmath_xformPtrhConst_destruct(&radial);
}

struct Refusal {
    const char* what;
    qsrch_status expected;
    bool keepsTraining;  // refused by the image checks, before the model is touched
    std::function<qsrch_status(qsrch_normcorr_model*)> call;
};

TEST(TrainChecks, RefusalsComeInOrderAndLeaveTheDocumentedState)
{
    std::mt19937 rng(3);
    const Image8 texture = qtest::texture(rng, 17, 13);
    OwnedImage good(texture), unbound, curvedUnbound, curved(texture), goodMask(qtest::blobMask(rng, 17, 13));
    setRadial(curvedUnbound.get());
    setRadial(curved.get());
    const qmath_xformLinear id = qtest::identity();
    const qsrch_normcorr_trainParams ok = qtest::trainParams(1, 4.0f), bad = qtest::trainParams(0, 0.5f);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Image8 flat(9, 9), line(1, 3), pair(1, 2);
    flat.fill(77);
    line.at(0, 0) = 0, line.at(0, 1) = 10, line.at(0, 2) = 30;
    pair.at(0, 0) = 0, pair.at(0, 1) = 10;
    const qimg_windowConst view = texture.window(), flatView = flat.window(), lineView = line.window(),
                           pairView = pair.window();
    auto window = [&](const qimg_windowConst& v, qsrch_normcorr_trainParams p) {
        return [&v, p, &id](qsrch_normcorr_model* m) {
            return qsrch_normcorr_model_trainWindow(m, &v, &id, &p);
        };
    };

    using M = qsrch_normcorr_model*;
    const std::vector<Refusal> refusals = {
        // A non-linear transform is refused before the image is looked at,
        // and the image before the parameters.
        {"curved unbound", QSRCH_E_NONLINEAR_XFORM, true,
         [&](M m) { return qsrch_normcorr_model_train(m, curvedUnbound.cget(), &ok); }},
        {"curved", QSRCH_E_NONLINEAR_XFORM, true,
         [&](M m) { return qsrch_normcorr_model_trainMask(m, curved.cget(), unbound.cget(), &ok); }},
        {"unbound, bad params", QSRCH_E_IMAGE_UNBOUND, true,
         [&](M m) { return qsrch_normcorr_model_train(m, unbound.cget(), &bad); }},
        {"unbound mask", QSRCH_E_IMAGE_UNBOUND, true,
         [&](M m) { return qsrch_normcorr_model_trainMask(m, good.cget(), unbound.cget(), &ok); }},
        {"unbound plane 2", QSRCH_E_IMAGE_UNBOUND, true,
         [&](M m) {
             return qsrch_normcorr_model_trainMask3(m, good.cget(), good.cget(), unbound.cget(), goodMask.cget(), &ok);
         }},
        // Parameters are validated even when the granularity is chosen
        // automatically, and before the pattern's size.
        {"coarse below 1", QSRCH_E_BAD_GRANULARITY, false, window(view, qtest::trainParams(1, 0.5f))},
        {"coarse NaN", QSRCH_E_BAD_GRANULARITY, false, window(view, qtest::trainParams(0, nan))},
        {"coarse infinite", QSRCH_E_BAD_GRANULARITY, false, window(view, qtest::trainParams(0, inf))},
        {"fine 3 under coarse 4", QSRCH_E_BAD_GRANULARITY, false, window(view, qtest::trainParams(0, 4.0f, 3))},
        {"fine 0", QSRCH_E_BAD_GRANULARITY, false, window(view, qtest::trainParams(0, 4.0f, 0))},
        {"fine above coarse", QSRCH_E_GRANULARITY_ORDER, false, window(view, qtest::trainParams(0, 4.0f, 8))},
        {"two pixels, bad params", QSRCH_E_BAD_GRANULARITY, false, window(pairView, bad)},
        {"two pixels", QSRCH_E_PATTERN_TOO_SMALL, false, window(pairView, ok)},
        {"uniform", QSRCH_E_NO_CONTRAST, false, window(flatView, ok)},
        {"uniform at level 1, given", QSRCH_E_NO_CONTRAST, false, window(lineView, qtest::trainParams(0, 2.0f))},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        Model model;
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), good.cget(), &ok), QSRCH_OK);
        const void* before = model->trainImage.firstPixel;
        EXPECT_EQ(r.call(model.get()), r.expected);
        EXPECT_TRUE(!r.keepsTraining || (qtest::trained(*model) && model->trainImage.firstPixel == before));
        if (!r.keepsTraining) expectUntrained(*model);
    }

    // What passes: three pixels; fine equal to a coarse that is not a power of two.
    Model model;
    EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &lineView, &id, &ok), QSRCH_OK);
    EXPECT_EQ(qtest::levelCount(*model), 1u);
    const qsrch_normcorr_trainParams three = qtest::trainParams(0, 3.0f, 3);
    EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &view, &id, &three), QSRCH_OK);
    EXPECT_EQ(model->trainParams.fineGranularity, 3);
    EXPECT_EQ(qtest::levelCount(*model), 3u);
}

TEST(TrainChecks, AllocationFailuresLeakNothingAndUntrain)
{
    std::mt19937 rng(5);
    const Image8 big = qtest::texture(rng, 30, 27, 37);
    const Image8 plane1 = qtest::texture(rng, 20, 20), plane2 = qtest::texture(rng, 20, 20);
    const Image8 mask = qtest::blobMask(rng, 20, 20);
    const OwnedImage image(plane1), maskImage(mask);
    const qimg_windowConst pattern = big.window(4, 3, 20, 20), view1 = plane1.window(), view2 = plane2.window(),
                           maskView = mask.window();
    const qmath_xformLinear id = qtest::identity();
    const qsrch_normcorr_trainParams automatic = qtest::trainParams(1, 4.0f);  // 2.5 for 20 x 20
    const qsrch_normcorr_trainParams surround = qtest::trainParams(0, 4.0f, 2, 1);
    const qsrch_normcorr_trainParams three = qtest::trainParams(0, 3.0f);

    const std::vector<std::pair<const char*, std::function<qsrch_status(qsrch_normcorr_model*)>>> calls = {
        {"image with mask", [&](qsrch_normcorr_model* m) {
             return qsrch_normcorr_model_trainMask(m, image.cget(), maskImage.cget(), &automatic);
         }},
        {"surround", [&](qsrch_normcorr_model* m) {
             return qsrch_normcorr_model_trainWindow(m, &pattern, &id, &surround);
         }},
        {"three planes with mask", [&](qsrch_normcorr_model* m) {
             return qsrch_normcorr_model_trainMaskWindow3(m, &pattern, &view1, &view2, &maskView, &id, &three);
         }},
        {"untrain", [&](qsrch_normcorr_model* m) { return qsrch_normcorr_model_untrain(m); }},
    };
    for (const auto& [what, call] : calls) {
        SCOPED_TRACE(what);
        qtest::expectAllocationFailuresClean([&] {
            qsrch_normcorr_model model;
            qsrch_status s = qsrch_normcorr_model_construct(&model);
            if (QSRCH_FAILED(s)) return s;
            // A trained model first, so the call has a training to give up.
            s = qsrch_normcorr_model_trainWindow(&model, &view1, &id, &automatic);
            if (!QSRCH_FAILED(s)) s = call(&model);
            if (QSRCH_FAILED(s)) expectUntrained(model);
            EXPECT_EQ(qsrch_normcorr_model_destruct(&model), QSRCH_OK);
            return s;
        });
    }
}

}  // namespace
