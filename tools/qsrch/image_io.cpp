// Reading images: the format recognised from the first bytes of the input,
// which are read ahead so that a pipe need not be rewound, then its decoder
// (decode_*.cpp); and the conversions between grey and colour.
#include "image_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>

#include "decoders.hpp"
#include "tool_error.hpp"

namespace qtool {
namespace {

// Larger images would not fit the library's 32-bit sizes anyway.
constexpr uint64_t kMaxSamples = uint64_t(1) << 30;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool sizeAllowed(uint64_t width, uint64_t height, const DecodeLimits& limits, char* message) noexcept
{
    const unsigned long long w = width, h = height;
    if (width == 0 || height == 0)
        std::snprintf(message, kMessageSize, "image of no pixels (%llux%llu)", w, h);
    else if (width * height > limits.maxPixels)
        std::snprintf(message, kMessageSize, "%llux%llu pixels, more than --max-pixels allows (%llu)", w, h,
                      static_cast<unsigned long long>(limits.maxPixels));
    else if (width > INT32_MAX || height > INT32_MAX || width * height * 3 > kMaxSamples)
        std::snprintf(message, kMessageSize, "image too large (%llux%llu)", w, h);
    else
        return true;
    return false;
}

void shortReadMessage(const Input& input, const char* kind, char* message) noexcept
{
    if (input.failed())
        std::snprintf(message, kMessageSize, "cannot read: %s", std::strerror(input.error()));
    else
        std::snprintf(message, kMessageSize, "truncated %s file", kind);
}

std::string inputName(const std::string& path) { return path == "-" ? "standard input" : path; }

Image decodeImage(FILE* file, const std::string& name, const DecodeLimits& limits)
{
    Input input(file);
    if (input.failed()) throw ToolError(name + ": cannot read: " + std::strerror(input.error()));
    if (input.headSize() == 0) throw ToolError(name + ": empty file");
    const uint8_t* magic = input.head();
    const size_t got = input.headSize();
    Image image;
    char message[kMessageSize] = "";
    bool decoded = false;
    if (got == Input::kHeadSize && png_sig_cmp(magic, 0, Input::kHeadSize) == 0)
        decoded = decodePng(input, limits, &image, message);
    else if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        decoded = decodeJpeg(input, limits, &image, message);
    else if (got >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6'))
        decoded = decodePnm(input, magic[1] == '5' ? 1 : 3, limits, &image, message);
    else
        throw ToolError(name + ": not a PNG, JPEG, PGM or PPM image");
    if (!decoded) throw ToolError(name + ": " + message);
    return image;
}

Image readImage(const std::string& path, const DecodeLimits& limits)
{
    if (path == "-") return decodeImage(stdin, inputName(path), limits);
    errno = 0;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw ToolError(path + ": cannot open: " + std::strerror(errno));
    return decodeImage(file.get(), path, limits);
}

std::vector<uint8_t> lumaPlane(const Image& image)
{
    if (image.channels == 1) return image.pixels;
    std::vector<uint8_t> grey(size_t(image.width) * image.height);
    for (size_t i = 0; i < grey.size(); ++i) {
        const uint8_t* rgb = &image.pixels[3 * i];
        grey[i] = static_cast<uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
    }
    return grey;
}

Image toGrey(Image image)
{
    if (image.channels == 1) return image;
    Image grey;
    grey.width = image.width;
    grey.height = image.height;
    grey.channels = 1;
    grey.pixels = lumaPlane(image);
    return grey;
}

Image toRgb(Image image)
{
    if (image.channels == 3) return image;
    Image rgb(image.width, image.height, 3);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        rgb.pixels[3 * i] = rgb.pixels[3 * i + 1] = rgb.pixels[3 * i + 2] = image.pixels[i];
    return rgb;
}

std::vector<uint8_t> channelPlane(const Image& image, int c)
{
    if (image.channels == 1) return image.pixels;
    std::vector<uint8_t> plane(size_t(image.width) * image.height);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = image.pixels[i * image.channels + c];
    return plane;
}

}  // namespace qtool
