// 8-bit pixel operations on images and views. Only the width of each row
// is touched; the bytes between the width and the row stride belong to the
// image's owner.
#include "qip/internal.hpp"

#include <algorithm>
#include <cstdint>

namespace {

using qip_detail::check8;

// Image forms work on views of the whole image.
qimg_windowConst viewOf(const qimg_imageConst* image)
{
    qimg_windowConst view;
    qimg_windowConst_init(&view, image);
    return view;
}

qimg_window viewOf(qimg_image* image)
{
    qimg_window view;
    qimg_window_init(&view, image);
    return view;
}

template <class View>
bool sameSize(const qimg_windowConst& a, const View& b)
{
    return a.width == b.width && a.height == b.height;
}

const uint8_t* row(const qimg_windowConst& v, int32_t y)
{
    return static_cast<const uint8_t*>(v.firstPixel) + static_cast<ptrdiff_t>(y) * v.rowStride;
}

uint8_t* row(const qimg_window& v, int32_t y)
{
    return static_cast<uint8_t*>(v.firstPixel) + static_cast<ptrdiff_t>(y) * v.rowStride;
}

qsys_status setView(const qimg_window& d, uint8_t value)
{
    qsys_status s = check8(d);
    if (QSYS_FAILED(s)) return s;
    return qsys_memory_fillRect(value, static_cast<size_t>(d.width), static_cast<size_t>(d.height),
                                d.rowStride, d.firstPixel);
}

// Each output pixel depends only on the input pixels at its own position,
// so an operation may run in place.
qsys_status mapView(const qimg_windowConst& s, const uint8_t table[256], const qimg_window& d)
{
    qsys_status st = check8(s);
    if (!QSYS_FAILED(st)) st = check8(d);
    if (QSYS_FAILED(st)) return st;
    if (!sameSize(s, d)) return QIMG_E_SIZE_MISMATCH;
    for (int32_t y = 0; y < s.height; ++y) {
        const uint8_t* from = row(s, y);
        uint8_t* to = row(d, y);
        for (int32_t x = 0; x < s.width; ++x) to[x] = table[from[x]];
    }
    return QSYS_OK;
}

qsys_status minView(const qimg_windowConst& a, const qimg_windowConst& b, const qimg_window& d)
{
    qsys_status st = check8(a);
    if (!QSYS_FAILED(st)) st = check8(b);
    if (!QSYS_FAILED(st)) st = check8(d);
    if (QSYS_FAILED(st)) return st;
    if (!sameSize(a, b) || !sameSize(a, d)) return QIMG_E_SIZE_MISMATCH;
    for (int32_t y = 0; y < a.height; ++y) {
        const uint8_t* pa = row(a, y);
        const uint8_t* pb = row(b, y);
        uint8_t* to = row(d, y);
        for (int32_t x = 0; x < a.width; ++x) to[x] = std::min(pa[x], pb[x]);
    }
    return QSYS_OK;
}

}  // namespace

extern "C" {

qsys_status qip_pelCopy8(const qimg_imageConst* source, qimg_image* destination)
{
    qimg_windowConst from = viewOf(source);
    qsys_status s = check8(from);
    if (QSYS_FAILED(s)) return s;
    // Built aside and moved in last: a failure leaves the destination as it
    // was, and source may be the destination itself.
    qimg_image copy;
    s = qimg_image_construct(&copy, QIMG_DEPTH_8U, source->width, source->height);
    if (QSYS_FAILED(s)) return s;
    qsys_memory_copyRect(static_cast<size_t>(from.width), static_cast<size_t>(from.height), from.rowStride,
                         copy.rowStride, from.firstPixel, copy.firstPixel);
    copy.x = source->x;
    copy.y = source->y;
    qmath_xformPtrhConst_assign(&copy.clientFromImage, &source->clientFromImage);
    qimg_image_destruct(destination);
    *destination = copy;
    return QSYS_OK;
}

qsys_status qip_pelCopyWindow8(const qimg_windowConst* source, qimg_window* destination)
{
    qsys_status s = check8(*source);
    if (!QSYS_FAILED(s)) s = check8(*destination);
    if (QSYS_FAILED(s)) return s;
    // The overlap in the frame both origins are given in.
    int64_t x0 = std::max(source->x, destination->x), y0 = std::max(source->y, destination->y);
    int64_t x1 =
        std::min<int64_t>(int64_t{source->x} + source->width, int64_t{destination->x} + destination->width);
    int64_t y1 =
        std::min<int64_t>(int64_t{source->y} + source->height, int64_t{destination->y} + destination->height);
    if (x1 <= x0 || y1 <= y0) return QSYS_OK;
    const uint8_t* from = row(*source, static_cast<int32_t>(y0 - source->y)) + (x0 - source->x);
    uint8_t* to = row(*destination, static_cast<int32_t>(y0 - destination->y)) + (x0 - destination->x);
    ptrdiff_t fromStride = source->rowStride, toStride = destination->rowStride;
    int64_t rows = y1 - y0;
    // Two views of one image may overlap: copy rows bottom-up when the
    // destination lies after the source, so no row is overwritten unread.
    if (reinterpret_cast<uintptr_t>(to) > reinterpret_cast<uintptr_t>(from)) {
        from += (rows - 1) * fromStride;
        to += (rows - 1) * toStride;
        fromStride = -fromStride;
        toStride = -toStride;
    }
    return qsys_memory_copyRect(static_cast<size_t>(x1 - x0), static_cast<size_t>(rows), fromStride, toStride,
                                from, to);
}

qsys_status qip_pelSet8(qimg_image* destination, uint8_t value)
{
    return setView(viewOf(destination), value);
}

qsys_status qip_pelSetWindow8(qimg_window* destination, uint8_t value)
{
    return setView(*destination, value);
}

qsys_status qip_pelMap8(const qimg_imageConst* source, const uint8_t table[256], qimg_image* destination)
{
    return mapView(viewOf(source), table, viewOf(destination));
}

qsys_status qip_pelMapWindow8(const qimg_windowConst* source, const uint8_t table[256],
                              qimg_window* destination)
{
    return mapView(*source, table, *destination);
}

qsys_status qip_pelMin8(const qimg_imageConst* a, const qimg_imageConst* b, qimg_image* destination)
{
    return minView(viewOf(a), viewOf(b), viewOf(destination));
}

qsys_status qip_pelMinWindow8(const qimg_windowConst* a, const qimg_windowConst* b, qimg_window* destination)
{
    return minView(*a, *b, *destination);
}

}  // extern "C"
