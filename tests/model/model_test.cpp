// The model record: lifecycle, shared copies, transforms, getters, vectors.
#include <cmath>

#include "model_support.hpp"

namespace {

using qtest::Model;

// Masked texture through the image form; client = 2 * image + (10, 20).
void trainTextured(qsrch_normcorr_model* model, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    qtest::OwnedImage image(qtest::texture(rng, 23, 19)), mask(qtest::blobMask(rng, 23, 19));
    qmath_xformLinear clientFromImage;
    qmath_xformLinear_initScaleShift(&clientFromImage, 2, 2, 10, 20);
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(image.get(), &clientFromImage), QSRCH_OK);
    const qsrch_normcorr_trainParams params = qtest::trainParams(1, 4.0f);
    ASSERT_EQ(qsrch_normcorr_model_trainMask(model, image.cget(), mask.cget(), &params), QSRCH_OK);
}

// The held image and mask are shared in the client's frame; setting one transform makes the other its inverse.
TEST(ModelLifecycle, GettersNeedATrainedModelAndTransformsStayInverse)
{
    Model model;
    qimg_imageConst out;
    qimg_imageConst_constructUnbound(&out);
    qsrch_normcorr_trainParams params;
    auto held = [&](const qimg_imageConst* image) {
        return image == &model->trainMask ? qsrch_normcorr_model_getTrainMask(model.get(), &out)
                                          : qsrch_normcorr_model_getTrainImage(model.get(), &out);
    };
    EXPECT_TRUE(held(&model->trainImage) == QSRCH_E_NOT_TRAINED && held(&model->trainMask) == QSRCH_E_NOT_TRAINED);
    EXPECT_TRUE(qsrch_normcorr_model_getTrainParams(model.get(), &params) == QSRCH_E_NOT_TRAINED);
    EXPECT_FALSE(qtest::isBound(out));
    trainTextured(model.get());
    const qmath_xformLinear& client = model->clientFromPat;
    EXPECT_TRUE(client.matrix.a11 == 2 && client.trans.x == 10 && client.trans.y == 20);
    for (const qimg_imageConst* image : {&model->trainImage, &model->trainMask}) {
        qmath_xformLinear imageFromClient;  // client (10, 20) at the pixel (0, 0)
        ASSERT_EQ(held(image), QSRCH_OK);
        ASSERT_EQ(qimg_imageConst_getLinearImageFromClientXform(&out, &imageFromClient), QSRCH_OK);
        const qmath_vect pat = qtest::mapPoint(imageFromClient, 10, 20);
        EXPECT_TRUE(out.firstPixel == image->firstPixel && std::hypot(pat.x, pat.y) < 1e-12);
    }
    qimg_imageConst_destruct(&out);
    ASSERT_EQ(qsrch_normcorr_model_getTrainParams(model.get(), &params), QSRCH_OK);
    EXPECT_TRUE(std::memcmp(&params, &model->trainParams, sizeof params) == 0 && params.coarseGranularity == 2.25f);
    qmath_xformLinear shift, singular;
    qmath_xformLinear_initScaleShift(&shift, 1, 1, 5, 7);
    qmath_xformLinear_initScaleShift(&singular, 0, 1, 3, 3);
    ASSERT_EQ(qsrch_normcorr_model_setClientFromPatXform(model.get(), &shift), QSRCH_OK);
    EXPECT_TRUE(model->patFromClient.trans.x == -5.0 && model->patFromClient.trans.y == -7.0);
    ASSERT_EQ(qsrch_normcorr_model_setPatFromClientXform(model.get(), &shift), QSRCH_OK);
    EXPECT_TRUE(model->clientFromPat.trans.x == -5.0 && model->clientFromPat.trans.y == -7.0);
    EXPECT_EQ(qsrch_normcorr_model_setPatFromClientXform(model.get(), &singular), QMATH_E_SINGULAR);
    EXPECT_TRUE(qtest::sameXform(model->patFromClient, singular));
}

// Copies share pixels that outlive the source; new on a held model releases it (failures: top-level tests).
TEST(ModelLifecycle, CopiesShareTrainingPixelsThatOutliveTheSource)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    {
        qsrch_normcorr_model *source = nullptr, copy;
        ASSERT_TRUE(qsrch_normcorr_model_delete(&source) == QSRCH_OK && qsrch_normcorr_model_new(&source) == QSRCH_OK);
        trainTextured(source, 2);
        ASSERT_EQ(qsrch_normcorr_model_new(&source), QSRCH_OK);
        qtest::expectUntrained(*source);
        trainTextured(source);
        ASSERT_EQ(qsrch_normcorr_model_constructCopy(&copy, source), QSRCH_OK);
        qstd_vector_qsrch_normcorr_model models;
        ASSERT_EQ(qstd_vector_qsrch_normcorr_model_construct(&models, 1), QSRCH_OK);
        ASSERT_EQ(qstd_vector_qsrch_normcorr_model_pushBack(&models, source), QSRCH_OK);
        auto* elements = static_cast<qsrch_normcorr_model*>(models.begin);
        qtest::expectUntrained(elements[0]);
        const void *image = source->trainImage.firstPixel, *level0 = qtest::level(*source, 0).planeWindow[0].firstPixel;
        const size_t levels = source->levels.size;
        EXPECT_TRUE(qsrch_normcorr_model_delete(&source) == QSRCH_OK && source == nullptr);
        for (const qsrch_normcorr_model* m : {&copy, &elements[1]}) {
            ASSERT_TRUE(qtest::trained(*m) && qtest::isBound(m->trainMask) && m->levels.size == levels);
            const void* plane = qtest::level(*m, 0).planeWindow[0].firstPixel;  // a share that outlives the source
            EXPECT_TRUE(m->trainImage.firstPixel == image && plane == level0);
        }
        ASSERT_EQ(qsrch_normcorr_model_assign(&copy, &elements[0]), QSRCH_OK);
        qtest::expectUntrained(copy);
        ASSERT_EQ(qsrch_normcorr_model_untrain(&elements[1]), QSRCH_OK);
        qtest::expectUntrained(elements[1]);
        EXPECT_TRUE(qstd_vector_qsrch_normcorr_model_destruct(&models) == QSRCH_OK &&
                    qsrch_normcorr_model_destruct(&copy) == QSRCH_OK);
    }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

}  // namespace
