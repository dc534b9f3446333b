// Image decoding from untrusted bytes, from a regular file (size known) and
// from a pipe (size unknown; memory when the input outgrows a pipe's buffer):
// both agree, and an image is whole, within the pixel limit, grey or RGB. The
// harness's memory limit stops an input that needs far more than its pixels.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <tuple>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "image_io.hpp"
#include "tool_error.hpp"

namespace {

// Small enough that an accepted image decodes in milliseconds.
constexpr uint64_t kMaxPixels = uint64_t(1) << 22;

void require(bool holds, const char* what)
{
    if (!holds) std::fprintf(stderr, "decode fuzzer: %s\n", what), std::abort();
}

std::optional<qtool::Image> decode(FILE* file)
{
    require(file != nullptr, "cannot open the input");
    std::optional<qtool::Image> image;
    try {
        image = qtool::decodeImage(file, "input", qtool::DecodeLimits{kMaxPixels});
    } catch (const qtool::ToolError&) {  // a refusal: no image
    }
    return std::fclose(file), image;
}

FILE* regularFile(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("decode-fuzzer", 0);
    require(fd >= 0 && write(fd, data, size) == ssize_t(size) && lseek(fd, 0, SEEK_SET) == 0, "no memory file");
    return fdopen(fd, "rb");
}

FILE* pipeOrMemory(const uint8_t* data, size_t size)
{
    int ends[2];
    require(pipe(ends) == 0, "no pipe");
    const int capacity = fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    if (capacity < 0 || size > size_t(capacity))
        return close(ends[0]), close(ends[1]), fmemopen(const_cast<uint8_t*>(data), size, "rb");
    require(write(ends[1], data, size) == ssize_t(size), "cannot fill the pipe");
    return close(ends[1]), fdopen(ends[0], "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    const std::optional<qtool::Image> fromFile = decode(regularFile(data, size));
    const std::optional<qtool::Image> fromPipe = decode(pipeOrMemory(data, size));
    require(fromFile.has_value() == fromPipe.has_value(), "a file and a pipe of the same bytes disagree");
    if (!fromFile) return 0;
    const qtool::Image& image = *fromFile;
    require(image.width > 0 && image.height > 0 && uint64_t(image.width) * image.height <= kMaxPixels,
            "an image of no pixels or beyond the limit");
    require(image.channels == 1 || image.channels == 3, "neither grey nor RGB");
    require(image.pixels.size() == size_t(image.width) * image.height * image.channels, "an image not whole");
    require(std::tie(fromPipe->width, fromPipe->height, fromPipe->channels, fromPipe->pixels) ==
                std::tie(image.width, image.height, image.channels, image.pixels),
            "a file and a pipe of the same bytes decode differently");
    return 0;
}
