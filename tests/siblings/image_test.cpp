// Images, read-only handles and views: shared pixels, transforms, narrowing, clean failure.
#include <cstring>

#include "support/test_support.hpp"

namespace {

// Whether the image's transform equals `want`.
bool hasXform(const qimg_image& image, const qmath_xformLinear& want)
{
    qmath_xformLinear x{{NAN, NAN}, {NAN, NAN, NAN, NAN}};
    uint32_t equal = 0;
    EXPECT_EQ(qimg_image_getLinearClientFromImageXform(&image, &x), QSYS_OK);
    return qmath_xformLinear_compareEqual(&x, &want, &equal), equal != 0;
}

// Uncleared images still clear their row slack, which kernels read whole rows through.
TEST(Image, ConstructChoosesStrideZeroFillsRefusesBadSizesAndSharesPixels)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    qimg_image image;
    for (int32_t depth : {QIMG_DEPTH_8U, QIMG_DEPTH_16U, QIMG_DEPTH_64F})
        for (int32_t width : {0, 1, 15, 16, 17, 31}) {
            ASSERT_EQ(qimg_image_construct(&image, depth, width, 3), QSYS_OK);
            const auto* bytes = static_cast<const uint8_t*>(image.firstPixel);
            const int32_t size = image.rowStride * 3 * depth;
            EXPECT_TRUE(image.width == width && image.height == 3 && image.depth == depth && image.pixels);
            EXPECT_TRUE(image.rowStride == (width + 15) / 16 * 16 && reinterpret_cast<uintptr_t>(bytes) % 64 == 0);
            EXPECT_TRUE(std::count(bytes, bytes + size, 0) == size && hasXform(image, {{0, 0}, {1, 0, 0, 1}}));
            qimg_image_destruct(&image);
        }
    using Shape = std::tuple<int32_t, int32_t, int32_t, int32_t, qsys_status>;  // depth, width, height, stride
    for (const auto& [depth, width, height, stride, expected] : std::vector<Shape>{
             {3, 4, 4, 16, QIMG_E_BAD_DEPTH}, {1, 4, -1, 16, QIMG_E_BAD_SIZE}, {8, 17, 2, 16, QIMG_E_BAD_SIZE},
             {8, 17, 2, 17, QSYS_OK}, {8, INT32_MAX, INT32_MAX, INT32_MAX, QSYS_E_NO_MEMORY}}) {
        EXPECT_EQ(qimg_image_constructAligned(&image, depth, width, height, stride), expected) << width;
        EXPECT_TRUE(expected == QSYS_OK ? image.rowStride == stride : image.pixels == nullptr) << width;
        qimg_image_destruct(&image);
    }
    EXPECT_EQ(qimg_image_construct(&image, 1, INT32_MAX, 1), QIMG_E_BAD_SIZE);  // the stride would pass int32
    for (int32_t depth : {QIMG_DEPTH_8U, QIMG_DEPTH_64F}) {
        void* dirty = nullptr;
        ASSERT_EQ(qsys_memory_alloc_internal(size_t(40) * 700 * depth + 64, &dirty), QSYS_OK);
        std::memset(dirty, 0xEE, size_t(40) * 700 * depth + 64);
        qsys_memory_free_internal(&dirty);
        ASSERT_EQ(qimg_image_constructAlignedUncleared(&image, depth, 33, 700, 40), QSYS_OK);
        for (int32_t k = 0; k < 700 * 40 * depth; ++k)
            ASSERT_TRUE(k % (40 * depth) < 33 * depth || static_cast<const uint8_t*>(image.firstPixel)[k] == 0) << k;
        qimg_image_destruct(&image);
    }
    // Handles share pixels until the last goes; assignNew keeps origin and transform, refused or failing nothing.
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, 5, 4), QSYS_OK);
    *static_cast<uint8_t*>(image.firstPixel) = 99, image.x = 11, image.y = -4;
    const qmath_xformLinear scale{{1, 1}, {2, 0, 0, 2}};
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(&image, &scale), QSYS_OK);
    qimg_imageConst assigned;
    ASSERT_EQ(qimg_imageConst_constructUnbound(&assigned), QSYS_OK);
    const qimg_imageConst *source = qimg_image_asConst(&image), *self = &assigned;
    for (const qimg_imageConst* from : {source, self, source})  // itself: nothing happens; then the same storage
        ASSERT_EQ(qimg_imageConst_assign(&assigned, from), QSYS_OK);
    EXPECT_TRUE(assigned.firstPixel == image.firstPixel && assigned.x == 11 && assigned.y == -4);
    const qstd_rect32 rect{0, 0, 9, 2};
    ASSERT_EQ(qimg_image_assignNewRect(&image, QIMG_DEPTH_64F, &rect), QSYS_OK);
    EXPECT_TRUE(image.width == 9 && image.height == 2 && image.depth == 8 && image.rowStride == 16 && image.x == 11);
    EXPECT_TRUE(*static_cast<double*>(image.firstPixel) == 0 && hasXform(image, scale));
    void* fresh = image.firstPixel;
    EXPECT_EQ(qimg_image_assignNew(&image, 7, 4, 4), QIMG_E_BAD_DEPTH);
    EXPECT_EQ((qsys_memory_failAfter(0), qimg_image_assignNew(&image, QIMG_DEPTH_8U, 4, 4)), QSYS_E_NO_MEMORY);
    EXPECT_TRUE(image.firstPixel == fresh && image.width == 9 && image.depth == 8);
    qimg_image_setUnbound(&image);
    EXPECT_TRUE(image.pixels == nullptr && image.width == 0 && hasXform(image, scale));
    qimg_image_destruct(&image);
    EXPECT_EQ(*static_cast<const uint8_t*>(assigned.firstPixel), 99);
    uint32_t bound = 1;
    qimg_imageConst_setUnbound(&assigned), qimg_imageConst_getIsBound(&assigned, &bound);
    EXPECT_TRUE(!bound && qsys_memory_blocksInUse() == blocks + 1);  // the transform stays with the handle
    qimg_imageConst_destruct(&assigned), qimg_imageConst_destruct(&assigned);  // a destructed handle is unbound
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// A rectangle outside the view leaves an empty extent at the nearest edge; 16-bit pixels.
TEST(View, NarrowingClipsEachAxisAndMovesThePixelPointerHistogramCountsTheView)
{
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_16U, 20, 16), QSYS_OK);
    const std::array<int32_t, 9> cases[] = {  // x, y, width, height -> x, y, width, height, clipped
        {0, 0, 10, 8, 0, 0, 10, 8, 0},  {2, 1, 4, 3, 2, 1, 4, 3, 0},    {-3, -2, 6, 5, 0, 0, 3, 3, 1},
        {7, 5, 6, 6, 7, 5, 3, 3, 1},    {12, -4, 3, 2, 10, 0, 0, 0, 1}, {-5, 9, 20, 1, 0, 8, 10, 0, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 0},    {-1, 0, 1, 8, 0, 0, 0, 8, 1}};
    for (const auto& [x, y, w, h, wantX, wantY, wantW, wantH, wantClipped] : cases)
        for (const bool constant : {false, true}) {
            SCOPED_TRACE(testing::Message() << x << ", " << y << ", " << w << ", " << h << (constant ? " const" : ""));
            qimg_window view;
            int32_t clipped = -1;
            ASSERT_TRUE(qimg_window_init(&view, &image) == QSYS_OK &&
                        qimg_window_window(&view, 3, 2, 10, 8, nullptr) == QSYS_OK);
            ASSERT_EQ(constant ? qimg_windowConst_window((qimg_windowConst*)&view, x, y, w, h, &clipped)
                               : qimg_window_window(&view, x, y, w, h, &clipped), QSYS_OK);
            const void* first = static_cast<uint16_t*>(image.firstPixel) + (2 + wantY) * image.rowStride + 3 + wantX;
            EXPECT_EQ(std::tuple(view.x, view.y, view.width, view.height, clipped, view.firstPixel),
                      std::tuple(3 + wantX, 2 + wantY, wantW, wantH, wantClipped, first));
        }
    qimg_windowConst view;
    const qstd_rect32 rect{4, 5, 30, -1};
    ASSERT_EQ(qimg_windowConst_init(&view, qimg_image_asConst(&image)), QSYS_OK);
    EXPECT_TRUE(qimg_windowConst_windowRect(&view, &rect, nullptr) == QIMG_E_BAD_SIZE && view.width == 20 &&
                view.height == 16 && view.firstPixel == image.firstPixel);
    qimg_image_destruct(&image);
    qtest::Image8 small(3, 2, 5, 9);
    for (int32_t x = 0; x < 3; ++x) small.at(x, 0) = 1, small.at(x, 1) = 3;
    view = small.window();
    uint32_t histogram[256] = {};
    double mean = 0, deviation = 0;
    uint64_t count = 0;
    ASSERT_TRUE(qip_pelHistogramWindow8(&view, histogram) == QSYS_OK &&
                qip_pelHistogramStat_std(histogram, 256, &mean, &deviation, &count) == QSYS_OK);
    EXPECT_TRUE(histogram[1] == 3 && histogram[3] == 3 && histogram[9] == 0 && count == 6) << histogram[9];
    EXPECT_TRUE(std::fabs(mean - 2.0) < 1e-12 && std::fabs(deviation - 1.0) < 1e-12) << mean << " " << deviation;
}

}  // namespace
