// 8-bit pixel operations against direct loops, on views with garbage past their width.
#include <cstring>

#include "support/test_support.hpp"

namespace {

struct Scene {
    qtest::Image8 image;
    qimg_windowConst view;
    int32_t left, top;  // where the view sits in the image
    Scene(std::mt19937& rng, int32_t width, int32_t height) : left(int32_t(rng() % 4)), top(int32_t(rng() % 4))
    {
        const int32_t w = width + left + int32_t(rng() % 4), h = height + top + int32_t(rng() % 4);
        image = qtest::Image8(w, h, w + 1 + int32_t(rng() % 4));
        image.randomize(rng);
        view = image.window(left, top, width, height);
    }
    uint8_t at(int32_t x, int32_t y) const { return qtest::pel(view, x, y); }

    // Each view pixel becomes want(old pixel, x, y); every other byte, slack and guard stays.
    template <class Operation, class Want>
    void expectOnlyViewChanged(Operation operation, Want want)
    {
        const qtest::Image8 before = image;
        ASSERT_EQ(operation(), QSYS_OK);
        for (int32_t k = 0; k <= image.stride() * image.height(); ++k) {
            const int32_t x = k % image.stride() - left, y = k / image.stride() - top;
            const bool inView = x >= 0 && x < view.width && y >= 0 && y < view.height;
            const uint8_t old = const_cast<qtest::Image8&>(before).data()[k];
            ASSERT_EQ(image.data()[k], inView ? want(old, x, y) : old) << x << "," << y << (inView ? "" : " out");
        }
    }
};

// Copies lay the views over each other by their origins, chosen apart from where they sit.
TEST(Pel, MapMinAndCopyTouchOnlyTheView)
{
    std::mt19937 rng(5);
    uint8_t table[256];
    for (int32_t width : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t height : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height);
            for (uint8_t& t : table) t = uint8_t(rng());
            const Scene a(rng, width, height), b(rng, width, height);
            Scene d(rng, width, height), s(rng, int32_t(rng() % 12) + 1, int32_t(rng() % 6) + 1);
            qimg_window out;
            std::memcpy(&out, &d.view, sizeof out);
            d.expectOnlyViewChanged([&] { return qip_pelMapWindow8(&a.view, table, &out); },
                                    [&](uint8_t, int x, int y) { return table[a.at(x, y)]; });
            d.expectOnlyViewChanged([&] { return qip_pelMinWindow8(&a.view, &b.view, &out); },
                                    [&](uint8_t, int x, int y) { return std::min(a.at(x, y), b.at(x, y)); });
            d.expectOnlyViewChanged([&] { return qip_pelMapWindow8(&d.view, table, &out); },
                                    [&](uint8_t old, int, int) { return table[old]; });
            d.expectOnlyViewChanged([&] { return qip_pelMinWindow8(&b.view, &d.view, &out); },
                                    [&](uint8_t old, int x, int y) { return std::min(b.at(x, y), old); });
            s.view.x = int32_t(rng() % 13) - 6, s.view.y = int32_t(rng() % 9) - 4, out.x = int32_t(rng() % 5) - 2;
            d.expectOnlyViewChanged([&] { return qip_pelCopyWindow8(&s.view, &out); }, [&](uint8_t old, int x, int y) {
                const int32_t sx = x + out.x - s.view.x, sy = y + out.y - s.view.y;
                return sx >= 0 && sx < s.view.width && sy >= 0 && sy < s.view.height ? s.at(sx, sy) : old;
            });
        }
}

}  // namespace
