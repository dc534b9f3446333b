// Outlines and numbers drawn straight into the pixels: a 2-pixel frame and
// a label of 3 x 5 bitmap digits, scaled 2x, on a box of the frame's colour.
#include "draw.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace qtool {
namespace {

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kAccepted{0, 220, 0};
constexpr Rgb kRejected{230, 30, 30};
constexpr Rgb kInk{0, 0, 0};
constexpr int kScale = 2;

// Rows of each digit, top first; bit 2 is the left column.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void fillRect(Image& image, int64_t x0, int64_t y0, int64_t x1, int64_t y1, Rgb colour)
{
    x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, image.width), y1 = std::min<int64_t>(y1, image.height);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) {
            uint8_t* p = image.at(static_cast<int32_t>(x), static_cast<int32_t>(y));
            p[0] = colour.r, p[1] = colour.g, p[2] = colour.b;
        }
}

void drawLabel(Image& image, int64_t x, int64_t y, int number, Rgb background)
{
    const std::string text = std::to_string(number);
    const int64_t glyph = 4 * kScale;  // 3 columns and a gap
    fillRect(image, x, y, x + glyph * static_cast<int64_t>(text.size()) + kScale, y + 7 * kScale, background);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* rows = kDigits[text[i] - '0'];
        const int64_t left = x + kScale + glyph * static_cast<int64_t>(i);
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if ((rows[row] >> (2 - col)) & 1) {
                    const int64_t px = left + col * kScale, py = y + kScale + row * kScale;
                    fillRect(image, px, py, px + kScale, py + kScale, kInk);
                }
    }
}

}  // namespace

Image drawOutlines(Image scene, const std::vector<Outline>& outlines)
{
    Image image = toRgb(std::move(scene));
    for (const Outline& o : outlines) {
        // A place far outside any image has nothing to draw (and would not round).
        if (!(std::fabs(o.x) < 1e9) || !(std::fabs(o.y) < 1e9)) continue;
        const Rgb colour = o.accepted ? kAccepted : kRejected;
        // The frame lies just outside the pattern's pixels, so it hides none of them.
        const int64_t x0 = std::llround(o.x) - 2, y0 = std::llround(o.y) - 2;
        const int64_t x1 = x0 + o.width + 4, y1 = y0 + o.height + 4;
        fillRect(image, x0, y0, x1, y0 + 2, colour);
        fillRect(image, x0, y1 - 2, x1, y1, colour);
        fillRect(image, x0, y0, x0 + 2, y1, colour);
        fillRect(image, x1 - 2, y0, x1, y1, colour);
        drawLabel(image, x0, y0, o.number, colour);
    }
    return image;
}

}  // namespace qtool
