// Renders the demo's sample images into the folder given (samples/ of the
// source tree): part.png, a 40 x 40 colour part, and board.png, a 400 x 300
// circuit board holding five copies of it: three placed straight (one at a
// sub-pixel place, one with lower contrast and a brighter light), one turned
// by 20 degrees and one half hidden under a cable, so that not every
// candidate is accepted. Everything is computed from closed-form shapes, so
// the output is the same on every machine.
//     qsrch_make_samples samples/
#include <cmath>
#include <cstdio>
#include <string>

#include "image_io.hpp"
#include "tool_error.hpp"

namespace {

using qtool::Image;

constexpr int kPart = 40;
constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// The part at (u, v) in [0, 40)^2: a light plate with a dark ring, an
// orange L, a notch in one corner, a row of pads and fine hatching, so that
// it has one orientation only and detail at several scales.
Colour partAt(double u, double v)
{
    const Colour plate{176, 174, 166}, dark{38, 36, 40}, orange{235, 140, 30}, pad{222, 205, 120};
    if (u + v < 7) return dark;  // the notch
    const double r = std::hypot(u - 24, v - 22);
    if (r > 8 && r < 12) return dark;
    if ((u >= 5 && u < 9 && v >= 8 && v < 34) || (u >= 5 && u < 17 && v >= 30 && v < 34)) return orange;
    for (int k = 0; k < 4; ++k)
        if (std::fabs(u - (15 + 6 * k)) < 1.6 && std::fabs(v - 4) < 2.0) return pad;
    if (r <= 8) return mix(plate, dark, 0.35 + 0.3 * std::sin(u * 0.9) * std::cos(v * 0.7));
    // Fine hatching, which a turned copy no longer lines up with.
    return mix(plate, dark, 0.3 + 0.3 * std::sin(u * 1.7) * std::sin(v * 1.7));
}

// The board beneath: green with slow shading, a grid of traces and vias.
Colour boardAt(double x, double y)
{
    const Colour green{28, 92, 52}, trace{60, 140, 70}, via{190, 170, 90};
    const double shade = 0.85 + 0.15 * std::sin(x * 0.021 + 0.6) * std::cos(y * 0.027);
    Colour c{green.r * shade, green.g * shade, green.b * shade};
    if (std::fmod(y, 37.0) < 2.0 || std::fmod(x + 11, 53.0) < 2.0) c = trace;
    if (std::hypot(std::fmod(x + 11, 53.0) - 1, std::fmod(y, 37.0) - 1) < 3.5) c = via;
    return c;
}

struct Placement {
    double x, y;          // where the part's top-left corner lies
    double degrees;       // turned about its centre
    double gain, offset;  // lighting: colour * gain + offset
};

uint8_t clamp8(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// Each pixel is the mean of 4 x 4 samples, so straight copies at whole-pixel
// places equal the part image and the turned copy has smooth edges.
void render(Image& image, const Placement* parts, int count, bool withBoard, bool withCable)
{
    constexpr int kSub = 4;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            Colour sum{0, 0, 0};
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx) {
                    const double px = x + (sx + 0.5) / kSub, py = y + (sy + 0.5) / kSub;
                    Colour c = withBoard ? boardAt(px, py) : Colour{0, 0, 0};
                    for (int k = 0; k < count; ++k) {
                        const Placement& p = parts[k];
                        const double a = p.degrees * kPi / 180, cx = p.x + kPart / 2.0, cy = p.y + kPart / 2.0;
                        const double u = std::cos(a) * (px - cx) + std::sin(a) * (py - cy) + kPart / 2.0;
                        const double v = -std::sin(a) * (px - cx) + std::cos(a) * (py - cy) + kPart / 2.0;
                        if (u >= 0 && u < kPart && v >= 0 && v < kPart) {
                            const Colour q = partAt(u, v);
                            c = {q.r * p.gain + p.offset, q.g * p.gain + p.offset, q.b * p.gain + p.offset};
                        }
                    }
                    // A grey cable lying across the fifth copy.
                    if (withCable && std::fabs((py - 212) - 0.35 * (px - 230)) < 14) c = {92, 92, 98};
                    sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                }
            uint8_t* out = image.at(x, y);
            out[0] = clamp8(sum.r / (kSub * kSub));
            out[1] = clamp8(sum.g / (kSub * kSub));
            out[2] = clamp8(sum.b / (kSub * kSub));
        }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qsrch_make_samples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        Image part(kPart, kPart, 3);
        const Placement alone{0, 0, 0, 1, 0};
        render(part, &alone, 1, false, false);
        qtool::writePng(folder + "/part.png", part);

        const Placement copies[] = {
            {32, 36, 0, 1, 0},        // straight
            {176.5, 30.25, 0, 1, 0},  // at a sub-pixel place
            {312, 70, 0, 0.7, 45},    // lower contrast, brighter light
            {78, 186, 20, 1, 0},      // turned
            {236, 196, 0, 1, 0},      // under the cable
        };
        Image board(400, 300, 3);
        render(board, copies, 5, true, true);
        qtool::writePng(folder + "/board.png", board);
    } catch (const qtool::ToolError& e) {
        std::fprintf(stderr, "qsrch_make_samples: %s\n", e.what());
        return 2;
    }
    return 0;
}
