#include "arrays.hpp"

#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include <pybind11/numpy.h>

namespace qpy {
namespace {

constexpr int64_t kMaxExtent = std::numeric_limits<int32_t>::max();

std::string shapeText(const py::array& a)
{
    std::string text = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        text += (d > 0 ? ", " : "") + std::to_string(a.shape(d));
    return text + (a.ndim() == 1 ? ",)" : ")");
}

py::array arrayArg(py::handle object, const std::string& name)
{
    if (!py::isinstance<py::array>(object))
        throw py::type_error(name + ": expected a numpy array, got " +
                             py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    return py::reinterpret_borrow<py::array>(object);
}

bool isUint8(const py::array& a) { return a.dtype().kind() == 'u' && a.itemsize() == 1; }
bool isBool(const py::array& a) { return a.dtype().kind() == 'b'; }

void requireUint8(const py::array& a, const std::string& name)
{
    if (!isUint8(a))
        throw py::type_error(name + ": expected uint8 pixels, got " +
                             py::str(a.dtype()).cast<std::string>());
}

// Not empty, and each side within the library's 32-bit sizes.
void requireExtent(const py::array& a, const std::string& name)
{
    if (a.size() == 0) throw py::value_error(name + ": empty array of shape " + shapeText(a));
    if (a.shape(0) > kMaxExtent || a.shape(1) > kMaxExtent)
        throw py::value_error(name + ": too large, shape " + shapeText(a));
}

const uint8_t* firstByte(const py::array& a) { return static_cast<const uint8_t*>(a.data()); }

Plane planeOf(const py::array& a, py::ssize_t offset = 0)
{
    return Plane::of(a, firstByte(a) + offset, a.shape(0), a.shape(1), a.strides(0), a.strides(1));
}

}  // namespace

qimg_windowConst Plane::view() const
{
    qimg_windowConst v{};
    v.width = v.imageWidth = width_;
    v.height = v.imageHeight = height_;
    v.depth = QIMG_DEPTH_8U;
    v.rowStride = stride_;
    v.firstPixel = v.imageFirstPixel = first_;
    return v;
}

Plane Plane::of(py::object keep, const uint8_t* first, int64_t height, int64_t width, int64_t rowStep,
                int64_t columnStep)
{
    // The step along an axis of length 1 is never taken, whatever numpy says.
    if (width == 1) columnStep = 1;
    if (height == 1) rowStep = width;
    Plane p;
    p.width_ = static_cast<int32_t>(width);
    p.height_ = static_cast<int32_t>(height);
    if (columnStep == 1 && rowStep >= width && rowStep <= kMaxExtent) {
        p.keep_ = std::move(keep);
        p.first_ = first;
        p.stride_ = static_cast<int32_t>(rowStep);
        return p;
    }
    p.owned_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* from = first + y * rowStep;
        uint8_t* to = p.owned_.data() + y * width;
        if (columnStep == 1) {
            std::memcpy(to, from, static_cast<size_t>(width));
        } else {
            for (int64_t x = 0; x < width; ++x) to[x] = from[x * columnStep];
        }
    }
    p.first_ = p.owned_.data();
    p.stride_ = p.width_;
    return p;
}

Plane Plane::zeroedOutside(const Plane& mask) const
{
    Plane p;
    p.width_ = width_;
    p.height_ = height_;
    p.stride_ = width_;
    p.owned_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    p.first_ = p.owned_.data();
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t *from = row(y), *care = mask.row(y);
        uint8_t* to = p.owned_.data() + std::ptrdiff_t(y) * width_;
        for (int32_t x = 0; x < width_; ++x) to[x] = care[x] != 0 ? from[x] : 0;
    }
    return p;
}

void Plane::makeTwoValued()
{
    bool twoValued = true;
    for (int32_t y = 0; y < height_ && twoValued; ++y)
        for (int32_t x = 0; x < width_; ++x)
            if (row(y)[x] != 0 && row(y)[x] != 255) {
                twoValued = false;
                break;
            }
    if (twoValued) return;
    if (borrowed()) *this = zeroedOutside(*this);
    for (uint8_t& value : owned_) value = value != 0 ? 255 : 0;
}

Pixels pixelsArg(py::handle object, const std::string& name)
{
    const py::array a = arrayArg(object, name);
    requireUint8(a, name);
    const bool colour = a.ndim() == 3 && a.shape(2) == 3;
    if (a.ndim() != 2 && !colour)
        throw py::value_error(name + ": expected an H x W or H x W x 3 array, got shape " +
                              shapeText(a));
    requireExtent(a, name);
    Pixels p;
    p.planes = colour ? 3 : 1;
    for (int c = 0; c < p.planes; ++c) p.plane[c] = planeOf(a, colour ? c * a.strides(2) : 0);
    return p;
}

Plane greyArg(py::handle object, const std::string& name)
{
    const py::array a = arrayArg(object, name);
    requireUint8(a, name);
    if (a.ndim() != 2)
        throw py::value_error(name + ": expected an H x W array, got shape " + shapeText(a));
    requireExtent(a, name);
    return planeOf(a);
}

Plane maskArg(py::handle object, const std::string& name, int32_t height, int32_t width, const char* ofWhat)
{
    const py::array a = arrayArg(object, name);
    if (!isUint8(a) && !isBool(a))
        throw py::type_error(name + ": expected uint8 or bool, got " +
                             py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 2 || a.shape(0) != height || a.shape(1) != width)
        throw py::value_error(name + ": shape " + shapeText(a) + " differs from " + ofWhat +
                              " (" + std::to_string(height) + ", " + std::to_string(width) + ")");
    Plane mask = planeOf(a);
    mask.makeTwoValued();
    return mask;
}

}  // namespace qpy
