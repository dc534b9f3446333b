// Binary PGM and PPM: a text header, then the samples. A regular file too
// short for its header's size is refused before any pixel is allocated; a
// pipe's rows are stored as they arrive.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "decoders.hpp"

namespace qtool {
namespace {

// The next header number, past white space and # comments; -1 if none.
int64_t pnmNumber(Input& input)
{
    int c = input.get();
    while (c != EOF && (std::isspace(c) || c == '#')) {
        if (c == '#')
            while (c != EOF && c != '\n') c = input.get();
        c = input.get();
    }
    if (c == EOF || !std::isdigit(c)) return -1;
    int64_t value = 0;
    while (c != EOF && std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return -1;
        c = input.get();
    }
    // Exactly one white-space character ends the header's last number.
    if (c != EOF && !std::isspace(c)) return -1;
    return value;
}

}  // namespace

bool decodePnm(Input& input, int channels, const DecodeLimits& limits, Image* out, char* message) noexcept
{
    const char* kind = channels == 1 ? "PGM" : "PPM";
    char magic[2];
    (void)input.read(magic, sizeof magic);
    const int64_t width = pnmNumber(input), height = pnmNumber(input), maxval = pnmNumber(input);
    if (width < 1 || height < 1 || maxval < 1 || maxval > 65535) {
        std::snprintf(message, kMessageSize, "damaged %s header", kind);
        return false;
    }
    if (maxval > 255) {
        std::snprintf(message, kMessageSize, "16-bit %s is not supported (8 bits per sample only)", kind);
        return false;
    }
    if (!sizeAllowed(uint64_t(width), uint64_t(height), limits, message)) return false;
    const size_t stride = size_t(width) * channels;
    if (input.remaining() >= 0 && uint64_t(input.remaining()) < stride * uint64_t(height)) {
        std::snprintf(message, kMessageSize, "truncated %s file", kind);
        return false;
    }
    PixelRows rows;
    if (!rows.begin(out, uint32_t(width), uint32_t(height), channels, input.remaining(), 1)) {
        std::snprintf(message, kMessageSize, "out of memory");
        return false;
    }
    for (uint32_t y = 0; y < uint32_t(height); ++y) {
        uint8_t* row = rows.row(y);
        if (row == nullptr) {
            std::snprintf(message, kMessageSize, "out of memory");
            return false;
        }
        if (input.read(row, stride) != stride) {
            shortReadMessage(input, kind, message);
            return false;
        }
    }
    // Samples below a smaller maxval are stretched to the full 8 bits.
    if (maxval != 255)
        for (uint8_t& v : out->pixels)
            v = static_cast<uint8_t>((std::min<int64_t>(v, maxval) * 255 + maxval / 2) / maxval);
    return true;
}

}  // namespace qtool
