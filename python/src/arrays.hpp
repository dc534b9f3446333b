// Numpy arrays as the library's views. A plane whose rows are runs of
// adjacent bytes (a C-contiguous array, a crop of a larger one) is viewed
// where it lies; any other layout (every other column, a flipped axis, the
// interleaved planes of an H x W x 3 array) is copied once. Arguments that
// cannot be pixels raise TypeError (not an array, wrong dtype) or
// ValueError (wrong rank, empty, mismatched sizes) with a one-line message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include <qimg/qimg.h>

namespace qpy {

namespace py = pybind11;

// One plane of 8-bit pixels, borrowed from an array or owned.
class Plane {
public:
    Plane() = default;
    // Moves keep the owned pixels where they are; a copy would not.
    Plane(Plane&&) = default;
    Plane& operator=(Plane&&) = default;
    Plane(const Plane&) = delete;
    Plane& operator=(const Plane&) = delete;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const uint8_t* row(int32_t y) const { return first_ + std::ptrdiff_t(y) * stride_; }
    bool borrowed() const { return owned_.empty(); }
    qimg_windowConst view() const;

    // Views the pixels (keep holds them alive) when the rows are contiguous
    // and ordered, copies them otherwise. Steps are in bytes.
    static Plane of(py::object keep, const uint8_t* first, int64_t height, int64_t width, int64_t rowStep,
                    int64_t columnStep);
    // An owned copy in which every pixel where mask is 0 is 0.
    Plane zeroedOutside(const Plane& mask) const;
    // Made two-valued in place: 0 stays 0, anything else becomes 255.
    void makeTwoValued();

private:
    py::object keep_;
    std::vector<uint8_t> owned_;
    const uint8_t* first_ = nullptr;
    int32_t width_ = 0, height_ = 0, stride_ = 0;
};

// A grey (one plane) or colour (three planes) image.
struct Pixels {
    int planes = 0;
    Plane plane[3];
    int32_t height() const { return plane[0].height(); }
    int32_t width() const { return plane[0].width(); }
};

// `name` labels the argument in error messages.
// An H x W (grey) or H x W x 3 (colour) array of uint8.
Pixels pixelsArg(py::handle array, const std::string& name);
// An H x W array of uint8.
Plane greyArg(py::handle array, const std::string& name);
// An H x W array of uint8 or bool of the given size, made two-valued:
// 255 where the pixel counts (non-zero, True), 0 where it does not.
Plane maskArg(py::handle array, const std::string& name, int32_t height, int32_t width, const char* ofWhat);

}  // namespace qpy
