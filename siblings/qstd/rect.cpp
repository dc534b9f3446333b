// Rectangles of integers and of doubles, and pairs. Integer edges are
// summed in 64 bits so rectangles near the int32 limits do not overflow.
#include <qstd/qstd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

int32_t clamp32(double v)
{
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

bool unordered(double a, double b) { return !(a < b) && !(a > b); }

}  // namespace

extern "C" {

qsys_status qstd_rect32_init(qstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height)
{
    *rect = qstd_rect32{x, y, width, height};
    return QSYS_OK;
}

qsys_status qstd_rect32_intersect(qstd_rect32* a, const qstd_rect32* b)
{
    int64_t x0 = std::max(a->x, b->x), y0 = std::max(a->y, b->y);
    int64_t x1 = std::min(int64_t{a->x} + a->width, int64_t{b->x} + b->width);
    int64_t y1 = std::min(int64_t{a->y} + a->height, int64_t{b->y} + b->height);
    if (x1 <= x0 || y1 <= y0) x1 = x0, y1 = y0;
    *a = qstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                     static_cast<int32_t>(y1 - y0)};
    return QSYS_OK;
}

qsys_status qstd_rect32_compareEqual(const qstd_rect32* a, const qstd_rect32* b, uint32_t* equalOut)
{
    *equalOut = a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height;
    return QSYS_OK;
}

qsys_status qstd_rect32_dilate(const qstd_rect32* a, const qstd_rect32* b, qstd_rect32* out)
{
    *out =
        qstd_rect32{clamp32(int64_t{a->x} + b->x), clamp32(int64_t{a->y} + b->y),
                    clamp32(int64_t{a->width} + b->width - 1), clamp32(int64_t{a->height} + b->height - 1)};
    return QSYS_OK;
}

qsys_status qstd_rect32_initMinEnclosingRect(qstd_rect32* out, const qstd_rectD* rect)
{
    double x0 = std::floor(rect->x), y0 = std::floor(rect->y);
    double x1 = std::ceil(rect->x + rect->width), y1 = std::ceil(rect->y + rect->height);
    // A rectangle of negative extent encloses nothing: width and height 0.
    *out = qstd_rect32{clamp32(x0), clamp32(y0), clamp32(std::max(x1 - x0, 0.0)),
                       clamp32(std::max(y1 - y0, 0.0))};
    return QSYS_OK;
}

qsys_status qstd_rectD_init(qstd_rectD* rect, double x, double y, double width, double height)
{
    *rect = qstd_rectD{x, y, width, height};
    return QSYS_OK;
}

qsys_status qstd_rectD_intersect(qstd_rectD* a, const qstd_rectD* b)
{
    double x0 = std::max(a->x, b->x), y0 = std::max(a->y, b->y);
    double x1 = std::min(a->x + a->width, b->x + b->width), y1 = std::min(a->y + a->height, b->y + b->height);
    if (!(x1 > x0) || !(y1 > y0)) x1 = x0, y1 = y0;
    *a = qstd_rectD{x0, y0, x1 - x0, y1 - y0};
    return QSYS_OK;
}

qsys_status qstd_rectD_compareEqual(const qstd_rectD* a, const qstd_rectD* b, uint32_t* equalOut)
{
    *equalOut = unordered(a->x, b->x) && unordered(a->y, b->y) && unordered(a->width, b->width) &&
                unordered(a->height, b->height);
    return QSYS_OK;
}

qsys_status qstd_pair32_init(qstd_pair32* pair, int32_t first, int32_t second)
{
    *pair = qstd_pair32{first, second};
    return QSYS_OK;
}

}  // extern "C"
