// The decoders behind readImage, one per format. libpng and libjpeg report
// errors by longjmp, so each decoder is a C-style function whose frame
// holds only plain data, malloc'ed memory and the libraries' own records:
// it decodes into an Image that lives in its caller's frame and reports a
// failure as a message, which the caller turns into a ToolError. Neither
// library prints: their messages are recorded instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_io.hpp"
#include "input.hpp"

namespace qtool {

constexpr size_t kMessageSize = 256;

// How many pixel bytes one byte of a compressed file may give before the
// image's room grows only with its rows. Photographs stay far below it
// (JPEG about 10, PNG about 2) and get all their room at once.
constexpr uint64_t kCompressedExpansion = 64;

// Each reads `input` from its first byte into *out and returns true, or
// returns false with `message` (kMessageSize bytes) set.
bool decodePng(Input& input, const DecodeLimits& limits, Image* out, char* message) noexcept;
bool decodeJpeg(Input& input, const DecodeLimits& limits, Image* out, char* message) noexcept;
// channels: 1 for PGM (P5), 3 for PPM (P6).
bool decodePnm(Input& input, int channels, const DecodeLimits& limits, Image* out, char* message) noexcept;

// False with `message` set when an image of width x height cannot be
// decoded: no pixels, more than limits.maxPixels, or too large for the
// library's 32-bit sizes.
bool sizeAllowed(uint64_t width, uint64_t height, const DecodeLimits& limits, char* message) noexcept;

// The message of a failed read: "truncated KIND file" at the end of the
// input, "cannot read: ..." on a read error.
void shortReadMessage(const Input& input, const char* kind, char* message) noexcept;

}  // namespace qtool
