#include "input.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include <sys/stat.h>

namespace qtool {
namespace {

// The least room reserved for an image, so that a small image or a pipe
// does not grow its pixels a row at a time.
constexpr size_t kMinReserve = size_t(4) << 20;

}  // namespace

Input::Input(FILE* file) : file_(file)
{
    struct stat info;
    const int fd = fileno(file);
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const off_t at = ftello(file);  // standard input may start anywhere in its file
        if (at >= 0 && at <= info.st_size) fileLeft_ = info.st_size - at;
    }
    ahead_.resize(kHeadSize);
    headSize_ = fill(ahead_.data(), kHeadSize);
    ahead_.resize(headSize_);
}

size_t Input::fill(uint8_t* buffer, size_t n) noexcept
{
    size_t got = 0;
    while (got < n && !ended_ && !failed_) {
        const size_t part = std::fread(buffer + got, 1, n - got, file_);
        got += part;
        if (part == 0) {
            if (std::ferror(file_)) {
                failed_ = true;
                error_ = errno;
            } else {
                ended_ = true;
            }
        }
    }
    if (fileLeft_ >= 0) fileLeft_ = std::max<int64_t>(fileLeft_ - int64_t(got), 0);
    return got;
}

size_t Input::read(void* buffer, size_t n) noexcept
{
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const size_t taken = std::min(n, ahead_.size() - aheadPos_);
    if (taken != 0) std::memcpy(out, ahead_.data() + aheadPos_, taken);
    aheadPos_ += taken;
    if (aheadPos_ == ahead_.size()) {
        ahead_.clear();
        aheadPos_ = 0;
    }
    return taken + (n > taken ? fill(out + taken, n - taken) : 0);
}

int Input::get() noexcept
{
    uint8_t byte = 0;
    return read(&byte, 1) == 1 ? byte : EOF;
}

bool Input::hasAtLeast(uint64_t n) noexcept
{
    const size_t held = ahead_.size() - aheadPos_;
    if (held >= n) return true;
    if (fileLeft_ >= 0) return uint64_t(fileLeft_) >= n - held;
    try {
        ahead_.erase(ahead_.begin(), ahead_.begin() + std::ptrdiff_t(aheadPos_));
        aheadPos_ = 0;
        ahead_.resize(size_t(n));
    } catch (const std::exception&) {
        ahead_.resize(held);
        return false;
    }
    ahead_.resize(held + fill(ahead_.data() + held, size_t(n) - held));
    return ahead_.size() >= n;
}

int64_t Input::remaining() const noexcept
{
    return fileLeft_ < 0 ? -1 : fileLeft_ + int64_t(ahead_.size() - aheadPos_);
}

bool PixelRows::begin(Image* image, uint32_t width, uint32_t height, int channels, int64_t remainingBytes,
                      uint64_t expansion) noexcept
{
    image_ = image;
    stride_ = size_t(width) * channels;
    total_ = stride_ * height;
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->channels = channels;
    image->pixels.clear();
    uint64_t plausible = 0;
    if (remainingBytes > 0)
        plausible = uint64_t(remainingBytes) > UINT64_MAX / expansion ? UINT64_MAX
                                                                       : uint64_t(remainingBytes) * expansion;
    return reserve(size_t(std::min<uint64_t>(total_, std::max<uint64_t>(kMinReserve, plausible))));
}

uint8_t* PixelRows::row(uint32_t y) noexcept
{
    std::vector<uint8_t>& pixels = image_->pixels;
    const size_t end = (size_t(y) + 1) * stride_;
    if (end > pixels.size()) {
        if (end > pixels.capacity() && !reserve(std::min(total_, std::max(end, 2 * pixels.capacity()))))
            return nullptr;
        pixels.resize(end);  // within the capacity: no allocation
    }
    return pixels.data() + size_t(y) * stride_;
}

bool PixelRows::reserve(size_t bytes) noexcept
{
    try {
        image_->pixels.reserve(bytes);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace qtool
