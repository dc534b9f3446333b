// Views: plain records over an image's rows, narrowed in place. Pixel
// pointers move by whole pixels (the depth code is the pixel's byte size).
#include <qimg/qimg.h>

#include <cstdint>
#include <type_traits>

namespace {

template <class View, class Handle>
void initView(View* view, const Handle* image)
{
    *view = View{};
    if (image->pixels == nullptr) return;
    // A handle of a rectangle gives a view of that rectangle placed in, and
    // widening to, the whole image; a handle of the whole image, origin (0, 0).
    view->width = image->width;
    view->height = image->height;
    view->x = image->entire.offsetX;
    view->y = image->entire.offsetY;
    view->imageWidth = image->entire.width;
    view->imageHeight = image->entire.height;
    view->depth = image->depth;
    view->rowStride = image->rowStride;
    view->firstPixel = image->firstPixel;
    view->imageFirstPixel = image->entire.firstPixel;
}

// The pixel at (x, y) of a view whose pixel (0, 0) is at first; a missing
// plane stays missing.
template <class Ptr>
Ptr pixelAt(Ptr first, int64_t depth, int32_t rowStride, int64_t x, int64_t y)
{
    if (first == nullptr) return first;
    using Byte = std::conditional_t<std::is_const_v<std::remove_pointer_t<Ptr>>, const uint8_t, uint8_t>;
    return static_cast<Byte*>(first) + (y * rowStride + x) * depth;
}

template <class View>
qsys_status narrow(View* view, int32_t x, int32_t y, int32_t width, int32_t height, int32_t* clippedOut)
{
    if (width < 0 || height < 0) return QIMG_E_BAD_SIZE;
    // Clip [x, x + width) x [y, y + height) to [0, view size), in 64 bits so
    // no sum overflows.
    int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int64_t x1 = static_cast<int64_t>(x) + width, y1 = static_cast<int64_t>(y) + height;
    if (x0 > view->width) x0 = view->width;
    if (y0 > view->height) y0 = view->height;
    if (x1 > view->width) x1 = view->width;
    if (y1 > view->height) y1 = view->height;
    // Each axis on its own: a request outside the view leaves an empty extent
    // at the nearest edge.
    int64_t w = x1 > x0 ? x1 - x0 : 0, h = y1 > y0 ? y1 - y0 : 0;
    if (clippedOut != nullptr) *clippedOut = x0 != x || y0 != y || w != width || h != height;
    view->firstPixel = pixelAt(view->firstPixel, view->depth, view->rowStride, x0, y0);
    view->x += static_cast<int32_t>(x0);
    view->y += static_cast<int32_t>(y0);
    view->width = static_cast<int32_t>(w);
    view->height = static_cast<int32_t>(h);
    return QSYS_OK;
}

}  // namespace

extern "C" {

qsys_status qimg_window_init(qimg_window* window, qimg_image* image)
{
    initView(window, image);
    return QSYS_OK;
}

qsys_status qimg_window_window(qimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                               int32_t* clippedOut)
{
    return narrow(window, x, y, width, height, clippedOut);
}

qsys_status qimg_windowConst_init(qimg_windowConst* window, const qimg_imageConst* image)
{
    initView(window, image);
    return QSYS_OK;
}

qsys_status qimg_windowConst_window(qimg_windowConst* window, int32_t x, int32_t y, int32_t width,
                                    int32_t height, int32_t* clippedOut)
{
    return narrow(window, x, y, width, height, clippedOut);
}

qsys_status qimg_windowConst_windowRect(qimg_windowConst* window, const qstd_rect32* rect,
                                        int32_t* clippedOut)
{
    return narrow(window, rect->x, rect->y, rect->width, rect->height, clippedOut);
}

qsys_status qimg_windowConst_getWindow(const qimg_windowConst* window, qstd_rect32* rectOut)
{
    *rectOut = qstd_rect32{window->x, window->y, window->width, window->height};
    return QSYS_OK;
}

qsys_status qimg_windowConst_setEntire(qimg_windowConst* window)
{
    window->x = window->y = 0;
    window->width = window->imageWidth;
    window->height = window->imageHeight;
    window->firstPixel = window->imageFirstPixel;
    return QSYS_OK;
}

}  // extern "C"
