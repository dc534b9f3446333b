// 8-bit pixel operations, checked against direct loops on views whose rows
// carry garbage past their width.
#include "support/test_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t kWidths[] = {1, 7, 8, 9, 15, 16, 17, 31};

qimg_window writable(const qimg_windowConst& v)
{
    qimg_window w;
    std::memcpy(&w, &v, sizeof w);
    return w;
}

// Every byte of the image's block, slack and guard included.
std::vector<uint8_t> snapshot(qtest::Image8& image)
{
    return std::vector<uint8_t>(image.data(),
                                image.data() + static_cast<size_t>(image.stride()) * image.height() + 1);
}

// A random view of a random image with garbage slack; the view keeps a
// margin so pixels around it must stay untouched.
struct Scene {
    qtest::Image8 image;
    qimg_windowConst view;
};

Scene randomScene(std::mt19937& rng, int32_t width, int32_t height)
{
    std::uniform_int_distribution<int32_t> margin(0, 3);
    int32_t left = margin(rng), top = margin(rng);
    int32_t imageWidth = width + left + margin(rng), imageHeight = height + top + margin(rng);
    Scene s{qtest::Image8(imageWidth, imageHeight, imageWidth + margin(rng) + 1), {}};
    s.image.randomize(rng);
    s.view = s.image.window(left, top, width, height);
    return s;
}

uint8_t at(const qimg_windowConst& v, int32_t x, int32_t y)
{
    return static_cast<const uint8_t*>(v.firstPixel)[static_cast<ptrdiff_t>(y) * v.rowStride + x];
}

bool insideView(const qimg_windowConst& v, int32_t x, int32_t y)
{
    return x >= v.x && x < v.x + v.width && y >= v.y && y < v.y + v.height;
}

// Checks that the bytes of the image outside the view are as before and
// that each view pixel equals expected(x, y).
template <class Expected>
void expectOnlyViewChanged(qtest::Image8& image, const std::vector<uint8_t>& before,
                           const qimg_windowConst& view, Expected expected)
{
    const std::vector<uint8_t> after = snapshot(image);
    for (size_t k = 0; k < after.size(); ++k) {
        int32_t x = static_cast<int32_t>(k % image.stride()), y = static_cast<int32_t>(k / image.stride());
        if (y < image.height() && insideView(view, x, y)) {
            ASSERT_EQ(after[k], expected(x - view.x, y - view.y))
                << "view pixel " << x - view.x << "," << y - view.y;
        } else {
            ASSERT_EQ(after[k], before[k]) << "byte outside the view at " << x << "," << y;
        }
    }
}

TEST(Pel, SetMapAndMinTouchOnlyTheView)
{
    std::mt19937 rng(5);
    uint8_t table[256];
    for (int32_t width : kWidths)
        for (int32_t height : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height);
            for (int k = 0; k < 256; ++k) table[k] = static_cast<uint8_t>(rng());
            Scene a = randomScene(rng, width, height), b = randomScene(rng, width, height),
                  d = randomScene(rng, width, height);
            qimg_window out = writable(d.view);

            std::vector<uint8_t> before = snapshot(d.image);
            ASSERT_EQ(qip_pelSetWindow8(&out, 0x3C), QSYS_OK);
            expectOnlyViewChanged(d.image, before, d.view, [](int32_t, int32_t) { return uint8_t{0x3C}; });

            before = snapshot(d.image);
            ASSERT_EQ(qip_pelMapWindow8(&a.view, table, &out), QSYS_OK);
            expectOnlyViewChanged(d.image, before, d.view,
                                  [&](int32_t x, int32_t y) { return table[at(a.view, x, y)]; });

            before = snapshot(d.image);
            ASSERT_EQ(qip_pelMinWindow8(&a.view, &b.view, &out), QSYS_OK);
            expectOnlyViewChanged(d.image, before, d.view, [&](int32_t x, int32_t y) {
                return std::min(at(a.view, x, y), at(b.view, x, y));
            });

            // In place: the destination is also an input.
            std::vector<uint8_t> old = snapshot(d.image);
            auto oldAt = [&](int32_t x, int32_t y) {
                return old[(y + d.view.y) * d.image.stride() + x + d.view.x];
            };
            ASSERT_EQ(qip_pelMapWindow8(&d.view, table, &out), QSYS_OK);
            expectOnlyViewChanged(d.image, old, d.view,
                                  [&](int32_t x, int32_t y) { return table[oldAt(x, y)]; });
            old = snapshot(d.image);
            ASSERT_EQ(qip_pelMinWindow8(&b.view, &d.view, &out), QSYS_OK);
            expectOnlyViewChanged(d.image, old, d.view, [&](int32_t x, int32_t y) {
                return std::min(at(b.view, x, y), oldAt(x, y));
            });
        }
}

TEST(Pel, CopyWindowCopiesTheOverlapOfTheOrigins)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int32_t> size(1, 12), shift(-6, 6);
    for (int trial = 0; trial < 300; ++trial) {
        Scene s = randomScene(rng, size(rng), size(rng)), d = randomScene(rng, size(rng), size(rng));
        // Origins in a common frame, chosen apart from where the views sit.
        s.view.x = shift(rng);
        s.view.y = shift(rng);
        d.view.x = shift(rng);
        d.view.y = shift(rng);
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        std::vector<uint8_t> before = snapshot(d.image);
        qimg_window out = writable(d.view);
        ASSERT_EQ(qip_pelCopyWindow8(&s.view, &out), QSYS_OK);
        for (int32_t y = 0; y < d.view.height; ++y)
            for (int32_t x = 0; x < d.view.width; ++x) {
                int32_t sx = x + d.view.x - s.view.x, sy = y + d.view.y - s.view.y;
                bool covered = sx >= 0 && sx < s.view.width && sy >= 0 && sy < s.view.height;
                uint8_t old = before[static_cast<size_t>(
                    (static_cast<const uint8_t*>(d.view.firstPixel) - d.image.data()) + y * d.image.stride() +
                    x)];
                ASSERT_EQ(at(d.view, x, y), covered ? at(s.view, sx, sy) : old) << x << "," << y;
            }
        qimg_windowConst placed = d.view;  // where the view really sits, for the bytes around it
        ptrdiff_t offset = static_cast<const uint8_t*>(d.view.firstPixel) - d.image.data();
        placed.x = static_cast<int32_t>(offset % d.image.stride());
        placed.y = static_cast<int32_t>(offset / d.image.stride());
        expectOnlyViewChanged(d.image, before, placed,
                              [&](int32_t x, int32_t y) { return at(d.view, x, y); });
    }
}

TEST(Pel, CopyWindowBetweenOverlappingViewsOfOneImage)
{
    // The destination sits below and right of the source, or above and left,
    // inside the same rows; both orders must read every pixel before it is
    // overwritten.
    for (int32_t dx : {-2, -1, 0, 1, 3})
        for (int32_t dy : {-2, -1, 0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << dx << "," << dy);
            std::mt19937 rng(static_cast<uint32_t>(dx * 31 + dy + 100));
            qtest::Image8 image(20, 16, 24);
            image.randomize(rng);
            qimg_windowConst source = image.window(5, 5, 9, 7), target = image.window(5 + dx, 5 + dy, 9, 7);
            target.x = source.x;  // same origin: the whole view is copied
            target.y = source.y;
            std::vector<uint8_t> before = snapshot(image);
            qimg_window out = writable(target);
            ASSERT_EQ(qip_pelCopyWindow8(&source, &out), QSYS_OK);
            for (int32_t y = 0; y < 7; ++y)
                for (int32_t x = 0; x < 9; ++x)
                    ASSERT_EQ(image.at(5 + dx + x, 5 + dy + y), before[(5 + y) * 24 + 5 + x])
                        << x << "," << y;
        }
}

TEST(Pel, HistogramAndItsStatistics)
{
    std::mt19937 rng(3);
    for (int32_t width : kWidths) {
        Scene s = randomScene(rng, width, 3);
        uint32_t histogram[256] = {};
        histogram[0] = 5;  // bins are added to, not cleared
        ASSERT_EQ(qip_pelHistogramWindow8(&s.view, histogram), QSYS_OK);
        uint32_t expected[256] = {};
        expected[0] = 5;
        double sum = 0, sumSq = 0;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < width; ++x) ++expected[at(s.view, x, y)];
        for (int k = 0; k < 256; ++k) {
            ASSERT_EQ(histogram[k], expected[k]) << k;
            sum += static_cast<double>(k) * expected[k];
            sumSq += static_cast<double>(k) * k * expected[k];
        }
        double count = width * 3 + 5, mean, deviation;
        uint64_t counted = 0;
        ASSERT_EQ(qip_pelHistogramStat_std(histogram, 256, &mean, &deviation, &counted), QSYS_OK);
        EXPECT_EQ(counted, static_cast<uint64_t>(count));
        EXPECT_NEAR(mean, sum / count, 1e-12);
        EXPECT_NEAR(deviation, std::sqrt(sumSq / count - (sum / count) * (sum / count)), 1e-9);
    }
    uint32_t few[3] = {0, 2, 2};
    double mean = -1, deviation = -1;
    ASSERT_EQ(qip_pelHistogramStat_std(few, 3, &mean, nullptr, nullptr), QSYS_OK);
    EXPECT_EQ(mean, 1.5);
    ASSERT_EQ(qip_pelHistogramStat_std(few, 3, &mean, &deviation, nullptr), QSYS_OK);
    EXPECT_EQ(deviation, 0.5);
    uint32_t empty[256] = {};
    ASSERT_EQ(qip_pelHistogramStat_std(empty, 256, &mean, &deviation, nullptr), QSYS_OK);
    EXPECT_TRUE(mean == 0 && deviation == 0);
}

TEST(Pel, RefusesWrongDepthUnboundAndMismatchedSizes)
{
    qtest::Image8 image(8, 8, 12);
    qimg_windowConst good = image.window(0, 0, 4, 4), deep = good, absent = good,
                     other = image.window(0, 0, 4, 3);
    deep.depth = QIMG_DEPTH_16U;
    absent.firstPixel = nullptr;
    qimg_window out = writable(good), deepOut = writable(deep), absentOut = writable(absent);
    uint8_t table[256] = {};
    uint32_t histogram[256] = {};
    std::vector<uint8_t> before = snapshot(image);
    EXPECT_EQ(qip_pelSetWindow8(&deepOut, 1), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(qip_pelSetWindow8(&absentOut, 1), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_pelMapWindow8(&deep, table, &out), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(qip_pelMapWindow8(&good, table, &absentOut), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_pelMapWindow8(&other, table, &out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_pelMinWindow8(&good, &other, &out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_pelMinWindow8(&good, &good, &deepOut), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(qip_pelCopyWindow8(&absent, &out), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_pelHistogramWindow8(&deep, histogram), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(snapshot(image), before);

    qimg_image deepImage, unbound;
    ASSERT_EQ(qimg_image_construct(&deepImage, QIMG_DEPTH_64F, 3, 3), QSYS_OK);
    qimg_image_constructUnbound(&unbound);
    EXPECT_EQ(qip_pelSet8(&deepImage, 1), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(qip_pelSet8(&unbound, 1), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_pelCopy8(qimg_image_asConst(&unbound), &deepImage), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_pelCopy8(qimg_image_asConst(&deepImage), &unbound), QIMG_E_BAD_DEPTH);
    EXPECT_EQ(*static_cast<double*>(deepImage.firstPixel), 0.0);
    qimg_image_destruct(&deepImage);
}

// ---- Image forms --------------------------------------------------------------------

TEST(PelImage, CopyGivesTheDestinationItsOwnPixels)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qimg_image source, destination;
    ASSERT_EQ(qimg_image_constructAligned(&source, QIMG_DEPTH_8U, 17, 5, 40), QSYS_OK);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 40; ++x)
            static_cast<uint8_t*>(source.firstPixel)[y * 40 + x] =
                static_cast<uint8_t>(x < 17 ? x + y : 0xEE);
    source.x = -7;
    source.y = 2;
    qmath_xformLinear clientFromImage{{1, 2}, {2, 0, 0, 2}}, x;
    ASSERT_EQ(qimg_image_setLinearClientFromImageXform(&source, &clientFromImage), QSYS_OK);
    ASSERT_EQ(qimg_image_construct(&destination, QIMG_DEPTH_8U, 3, 3), QSYS_OK);

    ASSERT_EQ(qip_pelCopy8(qimg_image_asConst(&source), &destination), QSYS_OK);
    EXPECT_NE(destination.pixels, source.pixels);
    EXPECT_TRUE(destination.width == 17 && destination.height == 5 && destination.x == -7 &&
                destination.y == 2);
    ASSERT_EQ(qimg_image_getLinearClientFromImageXform(&destination, &x), QSYS_OK);
    EXPECT_TRUE(x.matrix.a11 == 2 && x.trans.y == 2);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t px = 0; px < destination.rowStride; ++px)
            ASSERT_EQ(static_cast<uint8_t*>(destination.firstPixel)[y * destination.rowStride + px],
                      px < 17 ? px + y : 0)
                << "slack of a copy is clear";
    ASSERT_EQ(qip_pelSet8(&destination, 1), QSYS_OK);
    EXPECT_EQ(static_cast<uint8_t*>(source.firstPixel)[0], 0);

    // Copying an image onto itself unshares it from other handles.
    qimg_imageConst other;
    qimg_imageConst_constructCopy(&other, qimg_image_asConst(&destination));
    ASSERT_EQ(qip_pelCopy8(qimg_image_asConst(&destination), &destination), QSYS_OK);
    EXPECT_NE(destination.pixels, other.pixels);
    EXPECT_EQ(static_cast<uint8_t*>(destination.firstPixel)[16], 1);
    qimg_imageConst_destruct(&other);

    qtest::expectAllocationFailuresClean([&] {
        qimg_image copy;
        qimg_image_constructUnbound(&copy);
        qsys_status s = qip_pelCopy8(qimg_image_asConst(&source), &copy);
        qimg_image_destruct(&copy);
        return s;
    });
    void* held = destination.firstPixel;
    qsys_memory_failAfter(0);
    EXPECT_EQ(qip_pelCopy8(qimg_image_asConst(&source), &destination), QSYS_E_NO_MEMORY);
    EXPECT_EQ(destination.firstPixel, held);
    qimg_image_destruct(&source);
    qimg_image_destruct(&destination);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(PelImage, MapAndMinWorkOnWholeImagesInPlace)
{
    qimg_image a, b, small;
    ASSERT_EQ(qimg_image_construct(&a, QIMG_DEPTH_8U, 9, 4), QSYS_OK);
    ASSERT_EQ(qimg_image_constructAligned(&b, QIMG_DEPTH_8U, 9, 4, 9), QSYS_OK);
    ASSERT_EQ(qimg_image_construct(&small, QIMG_DEPTH_8U, 9, 3), QSYS_OK);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 9; ++x) {
            static_cast<uint8_t*>(a.firstPixel)[y * a.rowStride + x] = static_cast<uint8_t>(x * 30);
            static_cast<uint8_t*>(b.firstPixel)[y * b.rowStride + x] = static_cast<uint8_t>(y * 60);
        }
    uint8_t binarize[256];
    for (int k = 0; k < 256; ++k) binarize[k] = k < 128 ? 0 : 255;
    ASSERT_EQ(qip_pelMin8(qimg_image_asConst(&a), qimg_image_asConst(&b), &a), QSYS_OK);
    ASSERT_EQ(qip_pelMap8(qimg_image_asConst(&a), binarize, &a), QSYS_OK);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 9; ++x)
            ASSERT_EQ(static_cast<uint8_t*>(a.firstPixel)[y * a.rowStride + x],
                      std::min(x * 30, y * 60) < 128 ? 0 : 255);
    EXPECT_EQ(static_cast<uint8_t*>(a.firstPixel)[9], 0);  // slack untouched
    EXPECT_EQ(qip_pelMap8(qimg_image_asConst(&a), binarize, &small), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_pelMin8(qimg_image_asConst(&a), qimg_image_asConst(&small), &b), QIMG_E_SIZE_MISMATCH);
    qimg_image_destruct(&a);
    qimg_image_destruct(&b);
    qimg_image_destruct(&small);
}

}  // namespace
