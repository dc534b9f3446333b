// Images and read-only handles: pixel storage shared by a count of shares,
// and the client-from-image transform each handle carries.
//
// The storage is one block from the q* heap: a 64-byte header holding the
// share count, then the rows, so pixel (0, 0) keeps the heap's 64-byte
// alignment and a new image costs exactly one allocation.
#include <qimg/qimg.h>
#include <qsys/qsys.h>

#include "qmath/xform_object.hpp"

#include <atomic>
#include <cstring>
#include <new>

struct qimg_pixels_ {
    std::atomic<int64_t> shares;
};

namespace {

constexpr size_t kHeaderBytes = 64;
static_assert(sizeof(qimg_pixels_) <= kHeaderBytes, "pixel header must fit before the rows");

bool validDepth(int32_t depth)
{
    return depth == QIMG_DEPTH_8U || depth == QIMG_DEPTH_16U || depth == QIMG_DEPTH_64F;
}

// The stride construct chooses: the width rounded up to 16 pixels.
int64_t chosenStride(int32_t width) { return (static_cast<int64_t>(width) + 15) / 16 * 16; }

void acquirePixels(qimg_pixels_* pixels)
{
    if (pixels != nullptr) pixels->shares.fetch_add(1, std::memory_order_relaxed);
}

void releasePixels(qimg_pixels_* pixels)
{
    if (pixels == nullptr || pixels->shares.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    void* block = pixels;
    qsys_memory_free_internal(&block);
}

// A handle of the whole of its pixels: the entire image is the handle's own.
template <class Handle>
void coverWhole(Handle* image)
{
    image->entire = qimg_imageExtent{0, 0, image->width, image->height, image->firstPixel};
}

template <class Handle>
void clearPixelFields(Handle* image)
{
    image->width = image->height = 0;
    image->depth = image->rowStride = 0;
    image->firstPixel = nullptr;
    image->pixels = nullptr;
    coverWhole(image);
}

template <class Handle>
void clearAll(Handle* image)
{
    clearPixelFields(image);
    image->x = image->y = 0;
    image->clientFromImage.xform = nullptr;
    coverWhole(image);
}

// Zeroes the bytes between the width and the row stride of every row.
void clearSlack(uint8_t* firstPixel, int32_t depth, int32_t width, int32_t height, int64_t rowStride)
{
    const size_t rowBytes = static_cast<size_t>(rowStride) * static_cast<size_t>(depth);
    const size_t usedBytes = static_cast<size_t>(width) * static_cast<size_t>(depth);
    if (rowBytes == usedBytes) return;
    for (int32_t y = 0; y < height; ++y) std::memset(firstPixel + y * rowBytes + usedBytes, 0, rowBytes - usedBytes);
}

// Gives the image fresh pixels, zero-filled unless the caller writes every
// one (then only the row slack is zeroed), releasing its old share only
// once the new block exists; origin and transform stay.
template <class Handle>
qsys_status bindNew(Handle* image, int32_t depth, int32_t width, int32_t height, int64_t rowStride,
                    bool clearPixels = true)
{
    if (!validDepth(depth)) return QIMG_E_BAD_DEPTH;
    if (width < 0 || height < 0 || rowStride < width || rowStride > INT32_MAX) return QIMG_E_BAD_SIZE;
    unsigned __int128 bytes = static_cast<unsigned __int128>(rowStride) * static_cast<uint64_t>(height) *
                              static_cast<uint64_t>(depth);
    if (bytes > SIZE_MAX - kHeaderBytes) return QSYS_E_NO_MEMORY;
    void* block = nullptr;
    const size_t blockBytes = kHeaderBytes + static_cast<size_t>(bytes);
    qsys_status s = clearPixels ? qsys_memory_allocClear64_internal(blockBytes, &block)
                                : qsys_memory_alloc_internal(blockBytes, &block);
    if (QSYS_FAILED(s)) return s;
    if (!clearPixels) clearSlack(static_cast<uint8_t*>(block) + kHeaderBytes, depth, width, height, rowStride);
    auto* pixels = new (block) qimg_pixels_{{1}};
    releasePixels(image->pixels);
    image->width = width;
    image->height = height;
    image->depth = depth;
    image->rowStride = static_cast<int32_t>(rowStride);
    image->pixels = pixels;
    image->firstPixel = static_cast<uint8_t*>(block) + kHeaderBytes;
    coverWhole(image);
    return QSYS_OK;
}

template <class Handle>
qsys_status dropPixels(Handle* image)
{
    releasePixels(image->pixels);
    clearPixelFields(image);
    return QSYS_OK;
}

template <class Handle>
qsys_status destructHandle(Handle* image)
{
    releasePixels(image->pixels);
    qmath_xformPtrhConst_destruct(&image->clientFromImage);
    clearAll(image);
    return QSYS_OK;
}

// The transform as a handle that is never empty: the shared identity
// stands in for an image without a transform of its own.
qmath_xformPtrhConst clientFromImageOf(const qmath_xformPtrhConst& held)
{
    return qmath_xformPtrhConst{held.xform != nullptr ? held.xform : qmath_detail::identityXform()};
}

qsys_status linearClientFromImage(const qmath_xformPtrhConst& held, qmath_xformLinear* out)
{
    if (held.xform == nullptr) return qmath_xformLinear_initIdentity(out);
    return qmath_xformPtrhConst_getLinear(&held, out);
}

}  // namespace

extern "C" {

// ---- Images -----------------------------------------------------------------

qsys_status qimg_image_construct(qimg_image* image, int32_t depth, int32_t width, int32_t height)
{
    clearAll(image);
    return bindNew(image, depth, width, height, chosenStride(width));
}

qsys_status qimg_image_constructAligned(qimg_image* image, int32_t depth, int32_t width, int32_t height,
                                        int32_t rowStride)
{
    clearAll(image);
    return bindNew(image, depth, width, height, rowStride);
}

qsys_status qimg_image_constructAlignedUncleared(qimg_image* image, int32_t depth, int32_t width, int32_t height,
                                                 int32_t rowStride)
{
    clearAll(image);
    return bindNew(image, depth, width, height, rowStride, false);
}

qsys_status qimg_image_constructUnbound(qimg_image* image)
{
    clearAll(image);
    return QSYS_OK;
}

qsys_status qimg_image_assignNew(qimg_image* image, int32_t depth, int32_t width, int32_t height)
{
    return bindNew(image, depth, width, height, chosenStride(width));
}

qsys_status qimg_image_assignNewRect(qimg_image* image, int32_t depth, const qstd_rect32* rect)
{
    return bindNew(image, depth, rect->width, rect->height, chosenStride(rect->width));
}

qsys_status qimg_image_setUnbound(qimg_image* image) { return dropPixels(image); }

qsys_status qimg_image_destruct(qimg_image* image) { return destructHandle(image); }

qsys_status qimg_image_getLinearClientFromImageXform(const qimg_image* image, qmath_xformLinear* out)
{
    return linearClientFromImage(image->clientFromImage, out);
}

qsys_status qimg_image_setLinearClientFromImageXform(qimg_image* image, const qmath_xformLinear* x)
{
    return qmath_xformPtrhConst_setLinear(&image->clientFromImage, x);
}

qsys_status qimg_image_setClientFromImageXform(qimg_image* image, const qmath_xformPtrhConst* x)
{
    return qmath_xformPtrhConst_assign(&image->clientFromImage, x);
}

// ---- Read-only handles --------------------------------------------------------

qsys_status qimg_imageConst_constructUnbound(qimg_imageConst* image)
{
    clearAll(image);
    return QSYS_OK;
}

qsys_status qimg_imageConst_constructCopy(qimg_imageConst* dst, const qimg_imageConst* src)
{
    *dst = *src;
    acquirePixels(src->pixels);
    qmath_detail::acquire(src->clientFromImage.xform);
    return QSYS_OK;
}

qsys_status qimg_imageConst_assign(qimg_imageConst* dst, const qimg_imageConst* src)
{
    if (dst == src) return QSYS_OK;
    // New shares first: src may be another handle on the same storage.
    acquirePixels(src->pixels);
    qmath_detail::acquire(src->clientFromImage.xform);
    releasePixels(dst->pixels);
    qmath_detail::release(dst->clientFromImage.xform);
    *dst = *src;
    return QSYS_OK;
}

qsys_status qimg_imageConst_setUnbound(qimg_imageConst* image) { return dropPixels(image); }

qsys_status qimg_imageConst_destruct(qimg_imageConst* image) { return destructHandle(image); }

qsys_status qimg_imageConst_getIsBound(const qimg_imageConst* image, uint32_t* flagOut)
{
    *flagOut = image->pixels != nullptr;
    return QSYS_OK;
}

qsys_status qimg_imageConst_constructRect(qimg_imageConst* dst, const qimg_imageConst* src,
                                          const qstd_rect32* rect, int32_t* clippedOut)
{
    // The rectangle is clipped as a view of src would be; the view's origin
    // is its place in the whole image.
    qimg_windowConst view;
    qsys_status s = qimg_windowConst_init(&view, src);
    if (!QSYS_FAILED(s)) s = qimg_windowConst_windowRect(&view, rect, clippedOut);
    if (QSYS_FAILED(s)) {
        clearAll(dst);
        return s;
    }
    qimg_imageConst_constructCopy(dst, src);
    if (src->pixels == nullptr) return QSYS_OK;
    dst->width = view.width;
    dst->height = view.height;
    dst->x = src->x + (view.x - src->entire.offsetX);
    dst->y = src->y + (view.y - src->entire.offsetY);
    dst->firstPixel = const_cast<void*>(view.firstPixel);
    dst->entire.offsetX = view.x;
    dst->entire.offsetY = view.y;
    return QSYS_OK;
}

qsys_status qimg_imageConst_setEntire(qimg_imageConst* image)
{
    image->x -= image->entire.offsetX;
    image->y -= image->entire.offsetY;
    image->width = image->entire.width;
    image->height = image->entire.height;
    image->firstPixel = image->entire.firstPixel;
    image->entire.offsetX = image->entire.offsetY = 0;
    return QSYS_OK;
}

qsys_status qimg_imageConst_getClientFromImageXform(const qimg_imageConst* image, qmath_xformPtrhConst* out)
{
    qmath_xformPtrhConst held = clientFromImageOf(image->clientFromImage);
    return qmath_xformPtrhConst_assign(out, &held);
}

qsys_status qimg_imageConst_getImageFromClientXform(const qimg_imageConst* image, qmath_xformPtrhConst* out)
{
    qmath_xformPtrhConst held = clientFromImageOf(image->clientFromImage);
    return qmath_xformPtrhConst_getInverseConst(&held, out);
}

qsys_status qimg_imageConst_getLinearImageFromClientXform(const qimg_imageConst* image,
                                                          qmath_xformLinear* out)
{
    qmath_xformLinear clientFromImage;
    qsys_status s = linearClientFromImage(image->clientFromImage, &clientFromImage);
    if (QSYS_FAILED(s)) return s;
    return qmath_xformLinear_getInverse(&clientFromImage, out);
}

qsys_status qimg_imageConst_setImageFromClientXform(qimg_imageConst* image, const qmath_xformPtrhConst* x)
{
    if (x->xform == nullptr) return qmath_xformPtrhConst_destruct(&image->clientFromImage);
    qmath_xformPtrhConst inverse;
    qmath_xformPtrhConst_construct(&inverse);
    qsys_status s = qmath_xformPtrhConst_getInverseConst(x, &inverse);
    if (QSYS_FAILED(s)) return s;  // inverse is still empty
    qmath_xformPtrhConst_destruct(&image->clientFromImage);
    image->clientFromImage = inverse;  // the handle's share moves over
    return QSYS_OK;
}

qsys_status qimg_imageConst_setLinearImageFromClientXform(qimg_imageConst* image, const qmath_xformLinear* x)
{
    qmath_xformLinear clientFromImage;
    qsys_status s = qmath_xformLinear_getInverse(x, &clientFromImage);
    if (QSYS_FAILED(s)) return s;
    return qmath_xformPtrhConst_setLinear(&image->clientFromImage, &clientFromImage);
}

}  // extern "C"
