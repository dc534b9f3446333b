// Image files of the tool: PNG (libpng), JPEG (libjpeg) and binary PGM/PPM,
// 8 bits per sample, read into grey or RGB pixels; PNG written atomically.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qtool {

// 8-bit samples, interleaved, rows packed: channels is 1 (grey) or 3 (RGB).
struct Image {
    int32_t width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;

    Image() = default;
    Image(int32_t w, int32_t h, int32_t c)
        : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * h * c, 0)
    {}
    uint8_t* at(int32_t x, int32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * channels]; }
    const uint8_t* at(int32_t x, int32_t y) const
    {
        return &pixels[(static_cast<size_t>(y) * width + x) * channels];
    }
};

// What a decoded image may cost. The default lets an ordinary 50-megapixel
// photograph pass (64 Mi pixels, 8192 x 8192).
struct DecodeLimits {
    uint64_t maxPixels = uint64_t(1) << 26;
};

// How messages name an input: "-" is standard input.
std::string inputName(const std::string& path);

// Reads a PNG, JPEG, PGM (P5) or PPM (P6) file, recognised by its first
// bytes; "-" reads standard input. Pipes work like files: the input is read
// front to back once. Palette PNGs become RGB, alpha is dropped. Anything
// else, any damage and an image of more than limits.maxPixels pixels throw
// ToolError("NAME: what is wrong") before its pixels are allocated.
Image readImage(const std::string& path, const DecodeLimits& limits);
// The same from an open stream, read from its current position; `name`
// names it in errors.
Image decodeImage(FILE* file, const std::string& name, const DecodeLimits& limits);

// Rec. 601 luma, (299 R + 587 G + 114 B + 500) / 1000; grey stays as it is
// (moved through when the caller moves it in).
Image toGrey(Image image);
// Grey samples repeated into three channels; RGB stays as it is.
Image toRgb(Image image);
// The luma of toGrey as a packed plane; a grey image gives its samples.
std::vector<uint8_t> lumaPlane(const Image& image);
// One channel as a packed plane; a grey image gives its samples for every c.
std::vector<uint8_t> channelPlane(const Image& image, int c);

// Throws ToolError unless `path` is free or a regular file: an existing
// device, folder, symbolic link or pipe is never replaced by a picture.
void checkOutputPath(const std::string& path);

// Writes a grey or RGB PNG to a temporary file beside `path` and renames it
// into place, so a failure never leaves a partial file; throws ToolError,
// also when checkOutputPath refuses `path`.
void writePng(const std::string& path, const Image& image);

}  // namespace qtool
