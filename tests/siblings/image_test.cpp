// Images, read-only handles and views: shared pixels, the transform each
// handle carries, narrowing, and clean failure.
#include "support/test_support.hpp"

#include "frame/call_frame.hpp"

#include <cstring>

namespace {

bool isIdentity(const qmath_xformLinear& x)
{
    qmath_xformLinear identity;
    qmath_xformLinear_initIdentity(&identity);
    uint32_t equal = 0;
    qmath_xformLinear_compareEqual(&x, &identity, &equal);
    return equal != 0;
}

uint8_t* pixelAt(const qimg_image& image, int32_t x, int32_t y)
{
    return static_cast<uint8_t*>(image.firstPixel) +
           (static_cast<ptrdiff_t>(y) * image.rowStride + x) * image.depth;
}

TEST(Image, ConstructChoosesStrideAndZeroFills)
{
    int64_t blocks = qsys_memory_blocksInUse();
    for (int32_t depth : {QIMG_DEPTH_8U, QIMG_DEPTH_16U, QIMG_DEPTH_64F})
        for (int32_t width : {0, 1, 7, 8, 9, 15, 16, 17, 31}) {
            SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width);
            qimg_image image;
            ASSERT_EQ(qimg_image_construct(&image, depth, width, 3), QSYS_OK);
            EXPECT_EQ(image.rowStride, (width + 15) / 16 * 16);
            EXPECT_TRUE(image.width == width && image.height == 3 && image.depth == depth);
            EXPECT_TRUE(image.x == 0 && image.y == 0);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(image.firstPixel) % 64, 0u);
            const auto* bytes = static_cast<const uint8_t*>(image.firstPixel);
            for (int32_t b = 0; b < image.rowStride * 3 * depth; ++b) ASSERT_EQ(bytes[b], 0) << b;
            uint32_t bound = 0;
            qimg_imageConst_getIsBound(qimg_image_asConst(&image), &bound);
            EXPECT_TRUE(bound);  // even with no pixels at all
            qmath_xformLinear x;
            ASSERT_EQ(qimg_image_getLinearClientFromImageXform(&image, &x), QSYS_OK);
            EXPECT_TRUE(isIdentity(x));
            qimg_image_destruct(&image);
        }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(Image, RefusesBadDepthAndSizeAndStaysUnbound)
{
    int64_t blocks = qsys_memory_blocksInUse();
    struct Case {
        int32_t depth, width, height, stride;
        qsys_status expected;
    };
    const Case cases[] = {{0, 4, 4, 16, QIMG_E_BAD_DEPTH},  {3, 4, 4, 16, QIMG_E_BAD_DEPTH},
                          {16, 4, 4, 16, QIMG_E_BAD_DEPTH}, {1, -1, 4, 16, QIMG_E_BAD_SIZE},
                          {1, 4, -1, 16, QIMG_E_BAD_SIZE},  {8, 17, 2, 16, QIMG_E_BAD_SIZE},
                          {8, 17, 2, 17, QSYS_OK},          {2, 0, 0, 0, QSYS_OK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.depth << " " << c.width << "x" << c.height << " stride " << c.stride);
        qimg_image image;
        EXPECT_EQ(qimg_image_constructAligned(&image, c.depth, c.width, c.height, c.stride), c.expected);
        if (c.expected == QSYS_OK) {
            EXPECT_EQ(image.rowStride, c.stride);
        } else {
            EXPECT_EQ(image.pixels, nullptr);
            EXPECT_EQ(image.firstPixel, nullptr);
            if (c.stride >= c.width) {
                EXPECT_EQ(qimg_image_construct(&image, c.depth, c.width, c.height), c.expected);
            }
        }
        qimg_image_destruct(&image);
    }
    // Sizes whose byte count does not fit the address space.
    qimg_image huge;
    EXPECT_EQ(qimg_image_constructAligned(&huge, 8, INT32_MAX, INT32_MAX, INT32_MAX), QSYS_E_NO_MEMORY);
    EXPECT_EQ(qimg_image_construct(&huge, 1, INT32_MAX, 1), QIMG_E_BAD_SIZE);  // stride would pass int32
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(Image, HandlesSharePixelsUntilTheLastIsReleased)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, 5, 4), QSYS_OK);
    *pixelAt(image, 3, 2) = 99;
    image.x = 11;
    image.y = -4;

    qimg_imageConst copy, assigned;
    ASSERT_EQ(qimg_imageConst_constructCopy(&copy, qimg_image_asConst(&image)), QSYS_OK);
    ASSERT_EQ(qimg_imageConst_constructUnbound(&assigned), QSYS_OK);
    ASSERT_EQ(qimg_imageConst_assign(&assigned, &copy), QSYS_OK);
    EXPECT_EQ(assigned.firstPixel, image.firstPixel);  // shared, never copied
    EXPECT_TRUE(assigned.x == 11 && assigned.y == -4 && assigned.width == 5);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 1);

    ASSERT_EQ(qimg_imageConst_assign(&assigned, &assigned), QSYS_OK);  // self: nothing happens
    ASSERT_EQ(qimg_imageConst_assign(&assigned, &copy), QSYS_OK);      // same storage again
    qimg_image_destruct(&image);
    qimg_imageConst_destruct(&copy);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 1);
    EXPECT_EQ(static_cast<const uint8_t*>(assigned.firstPixel)[2 * assigned.rowStride + 3], 99);

    uint32_t bound = 1;
    qimg_imageConst_setUnbound(&assigned);
    qimg_imageConst_getIsBound(&assigned, &bound);
    EXPECT_FALSE(bound);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    qimg_imageConst_destruct(&assigned);
    qimg_imageConst_destruct(&assigned);  // a destructed handle is unbound: safe again
}

TEST(Image, AssignNewGivesFreshPixelsAndKeepsOriginAndTransform)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, 4, 4), QSYS_OK);
    *pixelAt(image, 0, 0) = 5;
    image.x = 3;
    qmath_xformLinear scale;
    qmath_xformLinear_initScaleShift(&scale, 2, 2, 1, 1);
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(&image, &scale), QSYS_OK);
    qimg_imageConst keeper;
    qimg_imageConst_constructCopy(&keeper, qimg_image_asConst(&image));

    qstd_rect32 rect{0, 0, 9, 2};
    ASSERT_EQ(qimg_image_assignNewRect(&image, QIMG_DEPTH_64F, &rect), QSYS_OK);
    EXPECT_TRUE(image.width == 9 && image.height == 2 && image.depth == 8 && image.rowStride == 16);
    EXPECT_EQ(*static_cast<double*>(image.firstPixel), 0.0);
    EXPECT_EQ(image.x, 3);
    qmath_xformLinear x;
    ASSERT_EQ(qimg_image_getLinearClientFromImageXform(&image, &x), QSYS_OK);
    EXPECT_EQ(x.matrix.a11, 2.0);
    EXPECT_EQ(static_cast<const uint8_t*>(keeper.firstPixel)[0], 5);  // the other share kept the old pixels

    // A refused or failed assignNew leaves the image as it was.
    void* before = image.firstPixel;
    EXPECT_EQ(qimg_image_assignNew(&image, 7, 4, 4), QIMG_E_BAD_DEPTH);
    qsys_memory_failAfter(0);
    EXPECT_EQ(qimg_image_assignNew(&image, QIMG_DEPTH_8U, 4, 4), QSYS_E_NO_MEMORY);
    EXPECT_TRUE(image.firstPixel == before && image.width == 9 && image.depth == 8);

    qimg_image_setUnbound(&image);
    EXPECT_TRUE(image.pixels == nullptr && image.width == 0);
    ASSERT_EQ(qimg_image_getLinearClientFromImageXform(&image, &x), QSYS_OK);  // transform stays
    EXPECT_EQ(x.matrix.a11, 2.0);
    qimg_image_destruct(&image);
    qimg_imageConst_destruct(&keeper);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(Image, TransformsRoundTripBetweenClientAndImage)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qimg_imageConst image;
    qimg_imageConst_constructUnbound(&image);

    // No transform of its own: both directions are the identity.
    qmath_xformPtrhConst h;
    qmath_xformPtrhConst_construct(&h);
    ASSERT_EQ(qimg_imageConst_getClientFromImageXform(&image, &h), QSYS_OK);
    uint32_t linear = 0;
    ASSERT_EQ(qmath_xformPtrhConst_getIsLinear(&h, &linear), QSYS_OK);
    EXPECT_TRUE(linear);
    qmath_xformLinear x;
    ASSERT_EQ(qimg_imageConst_getLinearImageFromClientXform(&image, &x), QSYS_OK);
    EXPECT_TRUE(isIdentity(x));

    // image-from-client set linear, read back both ways.
    qmath_xformLinear imageFromClient{{-3, 5}, {0.5, 0.25, -0.125, 2}};
    ASSERT_EQ(qimg_imageConst_setLinearImageFromClientXform(&image, &imageFromClient), QSYS_OK);
    ASSERT_EQ(qimg_imageConst_getLinearImageFromClientXform(&image, &x), QSYS_OK);
    for (const qmath_vect& p : {qmath_vect{0, 0}, qmath_vect{7, -2}, qmath_vect{-100, 33.5}}) {
        qmath_vect expected, got, client;
        qmath_xformLinear_mapPoint(&imageFromClient, &p, &expected);
        qmath_xformLinear_mapPoint(&x, &p, &got);
        EXPECT_NEAR(got.x, expected.x, 1e-12);
        EXPECT_NEAR(got.y, expected.y, 1e-12);
        ASSERT_EQ(qimg_imageConst_getClientFromImageXform(&image, &h), QSYS_OK);
        ASSERT_EQ(qmath_xformPtrhConst_mapPoint(&h, &expected, &client), QSYS_OK);
        EXPECT_NEAR(client.x, p.x, 1e-12);
        EXPECT_NEAR(client.y, p.y, 1e-12);
    }

    // A singular map is refused and the transform stays.
    qmath_xformLinear singular{{1, 1}, {1, 2, 2, 4}};
    EXPECT_EQ(qimg_imageConst_setLinearImageFromClientXform(&image, &singular), QMATH_E_SINGULAR);
    ASSERT_EQ(qimg_imageConst_getLinearImageFromClientXform(&image, &x), QSYS_OK);
    EXPECT_NEAR(x.matrix.a12, 0.25, 1e-15);

    // A radial image-from-client: no linear form, but points still map back.
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 40, 30, 1e-5), QSYS_OK);
    ASSERT_EQ(qimg_imageConst_setImageFromClientXform(&image, &radial), QSYS_OK);
    EXPECT_EQ(qimg_imageConst_getLinearImageFromClientXform(&image, &x), QMATH_E_NOT_LINEAR);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(&image, &h), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_getIsLinear(&h, &linear), QSYS_OK);
    EXPECT_FALSE(linear);
    qmath_vect client{90, -12}, viaImage, direct;
    qmath_xformPtrhConst_mapPoint(&h, &client, &viaImage);
    qmath_xformPtrhConst_mapPoint(&radial, &client, &direct);
    EXPECT_DOUBLE_EQ(viaImage.x, direct.x);
    EXPECT_DOUBLE_EQ(viaImage.y, direct.y);

    qimg_imageConst_destruct(&image);
    qmath_xformPtrhConst_destruct(&radial);
    qmath_xformPtrhConst_destruct(&h);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// ---- Views -----------------------------------------------------------------------

TEST(Window, InitCoversTheImageAndUnboundGivesNothing)
{
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_16U, 10, 6), QSYS_OK);
    image.x = 100;  // the image's own origin is not the view's
    qimg_windowConst v;
    qimg_windowConst_init(&v, qimg_image_asConst(&image));
    EXPECT_TRUE(v.width == 10 && v.height == 6 && v.x == 0 && v.y == 0 && v.depth == 2);
    EXPECT_TRUE(v.imageWidth == 10 && v.imageHeight == 6 && v.rowStride == 16);
    EXPECT_TRUE(v.firstPixel == image.firstPixel && v.imageFirstPixel == image.firstPixel);
    qimg_image_destruct(&image);

    qimg_image unbound;
    qimg_image_constructUnbound(&unbound);
    qimg_window w;
    std::memset(&w, 0x5A, sizeof w);
    qimg_window_init(&w, &unbound);
    EXPECT_TRUE(w.width == 0 && w.height == 0 && w.depth == 0 && w.rowStride == 0);
    EXPECT_TRUE(w.firstPixel == nullptr && w.imageFirstPixel == nullptr);
    EXPECT_EQ(qimg_window_window(&w, 1, 1, 2, 2, nullptr), QSYS_OK);
    EXPECT_EQ(w.firstPixel, nullptr);  // an absent plane stays absent
}

TEST(Window, NarrowingClipsToTheViewAndTracksTheImagePosition)
{
    qimg_image image;
    ASSERT_EQ(qimg_image_construct(&image, QIMG_DEPTH_64F, 20, 12), QSYS_OK);
    qimg_windowConst outer;
    qimg_windowConst_init(&outer, qimg_image_asConst(&image));
    int32_t clipped = -1;
    ASSERT_EQ(qimg_windowConst_window(&outer, 3, 2, 10, 8, &clipped), QSYS_OK);  // image rect (3, 2, 10, 8)
    EXPECT_EQ(clipped, 0);

    struct Case {
        qstd_rect32 request, expected;  // expected in image coordinates
        int32_t clipped;
    };
    const Case cases[] = {
        {{0, 0, 10, 8}, {3, 2, 10, 8}, 0},
        {{1, 2, 3, 4}, {4, 4, 3, 4}, 0},
        {{-2, -1, 5, 5}, {3, 2, 3, 4}, 1},
        {{8, 6, 5, 5}, {11, 8, 2, 2}, 1},
        {{-5, 3, 30, 1}, {3, 5, 10, 1}, 1},
        {{10, 0, 2, 2}, {13, 2, 0, 2}, 1},
        {{12, 9, 2, 2}, {13, 10, 0, 0}, 1},
        {{2, 2, 0, 3}, {5, 4, 0, 3}, 0},
        {{-3, -3, 2, 2}, {3, 2, 0, 0}, 1},
        {{INT32_MAX, 0, INT32_MAX, 1}, {13, 2, 0, 1}, 1},
        {{5, 5, INT32_MAX, INT32_MAX}, {8, 7, 5, 3}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.request.x << "," << c.request.y << " " << c.request.width << "x"
                                        << c.request.height);
        qimg_windowConst v = outer;
        ASSERT_EQ(qimg_windowConst_windowRect(&v, &c.request, &clipped), QSYS_OK);
        qstd_rect32 got;
        qimg_windowConst_getWindow(&v, &got);
        uint32_t equal = 0;
        qstd_rect32_compareEqual(&got, &c.expected, &equal);
        EXPECT_TRUE(equal) << got.x << "," << got.y << " " << got.width << "x" << got.height;
        EXPECT_EQ(clipped, c.clipped);
        EXPECT_EQ(v.firstPixel,
                  static_cast<const double*>(image.firstPixel) + got.y * image.rowStride + got.x);
        EXPECT_TRUE(v.imageWidth == 20 && v.imageHeight == 12 && v.imageFirstPixel == image.firstPixel);

        qimg_windowConst_setEntire(&v);
        EXPECT_TRUE(v.x == 0 && v.y == 0 && v.width == 20 && v.height == 12 &&
                    v.firstPixel == image.firstPixel);
    }
    qimg_windowConst v = outer;
    EXPECT_EQ(qimg_windowConst_window(&v, 0, 0, -1, 2, &clipped), QIMG_E_BAD_SIZE);
    EXPECT_TRUE(v.x == 3 && v.width == 10);

    // A writable view narrows the same way and writes where the image reads.
    qimg_window w;
    qimg_window_init(&w, &image);
    ASSERT_EQ(qimg_window_window(&w, 19, 11, 4, 4, nullptr), QSYS_OK);
    ASSERT_TRUE(w.width == 1 && w.height == 1);
    *static_cast<double*>(w.firstPixel) = 1.5;
    EXPECT_EQ(static_cast<const double*>(image.firstPixel)[11 * image.rowStride + 19], 1.5);
    qimg_image_destruct(&image);
}

// ---- Failure sweeps -----------------------------------------------------------------

// A derived image as a pyramid step would make one: a new image, the client
// transform of the source composed with a scale, a shared read-only handle
// and the image-from-client handle.
qsys_status makeDerivedImage(const qimg_image* source, qmath_vect* probeOut)
{
    qsrch::CallFrame<4> frame;
    qimg_image level;
    if (frame.step(qimg_image_construct(&level, QIMG_DEPTH_8U, source->width / 2, source->height / 2)))
        return frame.finish();
    frame.release<qimg_image_destruct>(0, &level);
    qmath_xformLinear sourceFromLevel, clientFromSource, clientFromLevel;
    qmath_xformLinear_initScaleShift(&sourceFromLevel, 2, 2, 0.5, 0.5);
    if (frame.step(qimg_image_getLinearClientFromImageXform(source, &clientFromSource)))
        return frame.finish();
    qmath_xformLinear_initCompose(&clientFromLevel, &clientFromSource, &sourceFromLevel);
    if (frame.step(qimg_image_setLinearClientFromImageXform(&level, &clientFromLevel))) return frame.finish();

    qimg_imageConst shared;
    qimg_imageConst_constructCopy(&shared, qimg_image_asConst(&level));
    frame.release<qimg_imageConst_destruct>(1, &shared);
    qmath_xformPtrhConst levelFromClient;
    qmath_xformPtrhConst_construct(&levelFromClient);
    frame.release<qmath_xformPtrhConst_destruct>(2, &levelFromClient);
    if (frame.step(qimg_imageConst_getImageFromClientXform(&shared, &levelFromClient))) return frame.finish();
    qmath_vect client{10, 20};
    if (frame.step(qmath_xformPtrhConst_mapPoint(&levelFromClient, &client, probeOut))) return frame.finish();
    return frame.finish();
}

TEST(ImageFailures, EveryAllocationOfADerivedImageFailsCleanly)
{
    qimg_image source;
    ASSERT_EQ(qimg_image_construct(&source, QIMG_DEPTH_8U, 33, 17), QSYS_OK);
    qmath_xformLinear clientFromSource{{4, -1}, {3, 0, 0, 3}};
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(&source, &clientFromSource), QSYS_OK);
    qmath_vect probe{};
    qtest::expectAllocationFailuresClean([&] { return makeDerivedImage(&source, &probe); });
    // client = 3 (2 p + 0.5) + (4, -1): (10, 20) comes from (0.75, 3.25).
    qmath_vect expected{0.75, 3.25};
    ASSERT_EQ(makeDerivedImage(&source, &probe), QSYS_OK);
    EXPECT_NEAR(probe.x, expected.x, 1e-12);
    EXPECT_NEAR(probe.y, expected.y, 1e-12);
    qimg_image_destruct(&source);
}

TEST(ImageFailures, FailedTransformSettersLeaveTheImageAsItWas)
{
    qimg_imageConst image;
    qimg_imageConst_constructUnbound(&image);
    qmath_xformLinear first{{1, 2}, {2, 0, 0, 2}}, second{{0, 0}, {4, 0, 0, 4}};
    ASSERT_EQ(qimg_imageConst_setLinearImageFromClientXform(&image, &first), QSYS_OK);
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 0, 0, 1e-4), QSYS_OK);
    int64_t blocks = qsys_memory_blocksInUse();
    const qmath_xform_* held = image.clientFromImage.xform;
    qsys_memory_failAfter(0);
    EXPECT_EQ(qimg_imageConst_setLinearImageFromClientXform(&image, &second), QSYS_E_NO_MEMORY);
    qsys_memory_failAfter(0);
    EXPECT_EQ(qimg_imageConst_setImageFromClientXform(&image, &radial), QSYS_E_NO_MEMORY);
    EXPECT_EQ(image.clientFromImage.xform, held);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    qmath_xformLinear x;
    ASSERT_EQ(qimg_imageConst_getLinearImageFromClientXform(&image, &x), QSYS_OK);
    EXPECT_TRUE(x.matrix.a11 == 2 && x.trans.y == 2);
    qimg_imageConst_destruct(&image);
    qmath_xformPtrhConst_destruct(&radial);
}

}  // namespace
