// Where the image decoders read from and decode into: an input read front
// to back and never sought, so that a pipe or standard input works like a
// file, and the pixels of an image that grow as its rows arrive, so that a
// header claiming far more pixels than its file holds costs no more than
// the rows that really come.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image_io.hpp"

namespace qtool {

// An open file or pipe read from its current position. The first bytes are
// read ahead on construction for recognising the format; the decoders then
// read everything, those bytes first. No member but the constructor throws.
class Input {
public:
    static constexpr size_t kHeadSize = 8;

    // Reads ahead the first bytes; throws std::bad_alloc only.
    explicit Input(FILE* file);
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // The first bytes of the input (fewer than kHeadSize in a shorter one),
    // until something is read.
    const uint8_t* head() const noexcept { return ahead_.data(); }
    size_t headSize() const noexcept { return headSize_; }

    // Up to n bytes; fewer only at the end of the input or on a read error.
    size_t read(void* buffer, size_t n) noexcept;
    // The next byte, or EOF.
    int get() noexcept;
    // True when n more bytes can be read: a regular file knows from its
    // size; a pipe reads them ahead (kept for the readers that follow).
    bool hasAtLeast(uint64_t n) noexcept;
    // Bytes left in a regular file, counting those read ahead; -1 when the
    // input's size is unknown (a pipe, a terminal).
    int64_t remaining() const noexcept;

    bool ended() const noexcept { return ended_; }   // a read came back short at the end
    bool failed() const noexcept { return failed_; }  // a read error, error() tells which
    int error() const noexcept { return error_; }      // the errno of the read error

private:
    size_t fill(uint8_t* buffer, size_t n) noexcept;

    FILE* file_;
    std::vector<uint8_t> ahead_;  // read ahead and not yet taken, from aheadPos_
    size_t aheadPos_ = 0, headSize_ = 0;
    int64_t fileLeft_ = -1;  // bytes the file still holds past what was read from it
    bool ended_ = false, failed_ = false;
    int error_ = 0;
};

// The rows of an image being decoded, in its pixel vector. Room is reserved
// at once for as many rows as the input's remaining bytes can plausibly
// fill, `expansion` pixel bytes per input byte; beyond that the vector grows
// (doubling) only as rows are asked for. A plain record with no destructor,
// so that it can live in a decoder's frame that the codecs' errors jump out of.
class PixelRows {
public:
    // Sizes `image` to width x height x channels with no rows yet; false when
    // memory runs out.
    bool begin(Image* image, uint32_t width, uint32_t height, int channels, int64_t remainingBytes,
               uint64_t expansion) noexcept;
    // Row y, and every row above it, made part of the image; nullptr when
    // memory runs out. Earlier row pointers are invalid afterwards.
    uint8_t* row(uint32_t y) noexcept;

private:
    bool reserve(size_t bytes) noexcept;

    Image* image_ = nullptr;
    size_t stride_ = 0, total_ = 0;
};

}  // namespace qtool
