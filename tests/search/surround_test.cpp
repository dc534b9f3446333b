// Training from a handle of a rectangle of a larger image reads the band
// around the pattern exactly when the image has two pixels to spare on
// every side; the pattern pixels are the rectangle's either way.
#include "search/search_support.hpp"

namespace {

using qtest::Image8;
using qtest::OwnedImage;
using qtest::SearchModel;

TEST(SearchModelSurround, TrainingFromARectangleUsesTheBandWhenTwoPixelsAreThere)
{
    std::mt19937 rng(23);
    const Image8 pixels = qtest::texture(rng, 60, 50, 67);
    OwnedImage whole(pixels);
    const qmath_xformLinear id = qtest::identity();
    const qsrch_trainParams asked = qtest::fixedTrainParams(4, 1);

    // Left margin 2 reaches the band; left margin 1 does not.
    for (const int32_t left : {2, 1}) {
        SCOPED_TRACE(left);
        const qstd_rect32 rect{left, 8, 33, 27};
        qimg_imageConst part;
        ASSERT_EQ(qimg_imageConst_constructRect(&part, whole.cget(), &rect, nullptr), QSRCH_OK);
        SearchModel model;
        const qsrch_status trained = qsrch_model_train(model.get(), &part, &asked);
        ASSERT_EQ(qimg_imageConst_destruct(&part), QSRCH_OK);
        ASSERT_EQ(trained, QSRCH_OK);

        const qimg_windowConst view = pixels.window(rect.x, rect.y, rect.width, rect.height);
        qtest::Model expected;
        const qsrch_normcorr_trainParams params = qtest::trainParams(0, 4.0f, 1, left >= 2 ? 1 : 0);
        ASSERT_EQ(qsrch_normcorr_model_trainWindow(expected.get(), &view, &id, &params), QSRCH_OK);
        const qimg_windowConst& got = qtest::level(*model->normcorrModel, 1).planeWindow[0];
        const qimg_windowConst& want = qtest::level(*expected, 1).planeWindow[0];
        ASSERT_TRUE(got.width == want.width && got.height == want.height);
        for (int32_t y = 0; y < want.height; ++y)
            for (int32_t x = 0; x < want.width; ++x)
                ASSERT_EQ(qtest::at(got, x, y), qtest::at(want, x, y)) << x << "," << y;
    }
}

}  // namespace
