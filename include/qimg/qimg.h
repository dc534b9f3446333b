/* qimg: images with shared, reference-counted pixels, and views (windows)
 * onto them. */
#ifndef QIMG_QIMG_H
#define QIMG_QIMG_H

#include "../qmath/qmath.h"
#include "../qstd/qstd.h"

QSIB_EXTERN_C_BEGIN

/* Depth codes: the size and kind of one pixel. */
#define QIMG_DEPTH_8U  1 /* 8-bit unsigned */
#define QIMG_DEPTH_16U 2 /* 16-bit unsigned */
#define QIMG_DEPTH_64F 8 /* double, for score spaces */

typedef struct qimg_pixels_ qimg_pixels_; /* shared pixel storage, reference counted */

/* An image handle. qimg_image owns (a share of) its pixels and may write
 * them; qimg_imageConst is the read-only handle. Both have the same layout,
 * so qimg_image_asConst converts a pointer for read-only use.
 *   width, height  size in pixels
 *   x, y           origin: where the image lies in the pixel frame of the
 *                  image or view it was made from
 *   depth          QIMG_DEPTH_*; 0 while unbound
 *   rowStride      distance between rows, in pixels
 *   firstPixel     pixel (0, 0); NULL while unbound
 *   pixels         the shared storage, NULL while unbound
 *   clientFromImage  image pixel coordinates to the client's coordinates;
 *                  an empty handle stands for the identity
 *   entire         the whole image the handle's pixels belong to: its size
 *                  and pixel (0, 0), and where the handle's pixel (0, 0)
 *                  lies in it. A handle made for a rectangle of an image
 *                  covers that rectangle alone; setEntire widens it back to
 *                  the whole image. */
typedef struct qimg_imageExtent {
    int32_t offsetX, offsetY;
    int32_t width, height;
    void* firstPixel;
} qimg_imageExtent;

#define QIMG_IMAGE_FIELDS_                                                                    \
    int32_t width, height;                                                                    \
    int32_t x, y;                                                                             \
    int32_t depth;                                                                            \
    int32_t rowStride;                                                                        \
    void* firstPixel;                                                                         \
    qimg_pixels_* pixels;                                                                     \
    qmath_xformPtrhConst clientFromImage;                                                     \
    qimg_imageExtent entire;

typedef struct qimg_image { QIMG_IMAGE_FIELDS_ } qimg_image;
typedef struct qimg_imageConst { QIMG_IMAGE_FIELDS_ } qimg_imageConst;

static inline const qimg_imageConst* qimg_image_asConst(const qimg_image* image)
{
    return (const qimg_imageConst*)(const void*)image;
}

/* A view of a rectangle of an image: a plain record, copied by value.
 *   width, height      size of the view
 *   x, y               the view's place in its image's pixel coordinates
 *   depth              depth code of the pixels (QIMG_DEPTH_*)
 *   imageWidth, imageHeight  size of the whole image
 *   rowStride          distance between rows, in pixels
 *   firstPixel         the view's pixel (0, 0); NULL for an absent plane or mask
 *   imageFirstPixel    the whole image's pixel (0, 0), for widening the view
 * A view does not own pixels and must not outlive its image. */
#define QIMG_WINDOW_FIELDS_(PTR)                                                              \
    int32_t width, height;                                                                    \
    int32_t x, y;                                                                             \
    int64_t depth;                                                                            \
    int32_t imageWidth, imageHeight;                                                          \
    int32_t rowStride;                                                                        \
    PTR firstPixel;                                                                           \
    PTR imageFirstPixel;

typedef struct qimg_window { QIMG_WINDOW_FIELDS_(void*) } qimg_window;
typedef struct qimg_windowConst { QIMG_WINDOW_FIELDS_(const void*) } qimg_windowConst;

static inline const qimg_windowConst* qimg_window_asConst(const qimg_window* window)
{
    return (const qimg_windowConst*)(const void*)window;
}

/* ---- Images ----------------------------------------------------------------
 * New pixels are zero-filled. construct chooses a row stride of its own
 * (width rounded up to 16 pixels); constructAligned takes the caller's,
 * which must be at least the width. Sizes may be 0; negative sizes give
 * QIMG_E_BAD_SIZE. A new image has origin (0, 0) and the identity transform.
 * A failed construct leaves an unbound image (safe to destruct). */
QSIB_API qsys_status qimg_image_construct(qimg_image* image, int32_t depth, int32_t width,
                                          int32_t height);
QSIB_API qsys_status qimg_image_constructAligned(qimg_image* image, int32_t depth, int32_t width,
                                                 int32_t height, int32_t rowStride);
/* The same as constructAligned for a caller that writes every pixel
 * inside the width at once: those are left as the heap gives them, saving
 * a pass over memory the caller overwrites anyway; the row slack is
 * zero-filled. */
QSIB_API qsys_status qimg_image_constructAlignedUncleared(qimg_image* image, int32_t depth, int32_t width,
                                                          int32_t height, int32_t rowStride);
QSIB_API qsys_status qimg_image_constructUnbound(qimg_image* image);
/* Gives an existing image new pixels (its old share is released); keeps
 * its origin and transform. assignNewRect takes the rectangle's size only.
 * A failed call leaves the image as it was. setUnbound releases the pixels
 * and keeps origin and transform. */
QSIB_API qsys_status qimg_image_assignNew(qimg_image* image, int32_t depth, int32_t width,
                                          int32_t height);
QSIB_API qsys_status qimg_image_assignNewRect(qimg_image* image, int32_t depth,
                                              const qstd_rect32* rect);
QSIB_API qsys_status qimg_image_setUnbound(qimg_image* image);
QSIB_API qsys_status qimg_image_destruct(qimg_image* image);
QSIB_API qsys_status qimg_image_getLinearClientFromImageXform(const qimg_image* image,
                                                              qmath_xformLinear* out);
QSIB_API qsys_status qimg_image_setLinearClientFromImageXform(qimg_image* image,
                                                              const qmath_xformLinear* x);
QSIB_API qsys_status qimg_image_setClientFromImageXform(qimg_image* image,
                                                        const qmath_xformPtrhConst* x);

/* ---- Read-only handles ------------------------------------------------------
 * Assignment shares the pixels and the transform; it never copies pixels. */
QSIB_API qsys_status qimg_imageConst_constructUnbound(qimg_imageConst* image);
QSIB_API qsys_status qimg_imageConst_constructCopy(qimg_imageConst* dst,
                                                   const qimg_imageConst* src);
QSIB_API qsys_status qimg_imageConst_assign(qimg_imageConst* dst, const qimg_imageConst* src);
QSIB_API qsys_status qimg_imageConst_setUnbound(qimg_imageConst* image);
QSIB_API qsys_status qimg_imageConst_destruct(qimg_imageConst* image);
QSIB_API qsys_status qimg_imageConst_getIsBound(const qimg_imageConst* image, uint32_t* flagOut);
/* constructRect makes dst a handle sharing src's pixels and transform that
 * covers the rectangle rect of src (in src's own pixel frame), clipped to
 * src as a view is; clippedOut (may be NULL) receives 1 when clipping
 * changed the rectangle. setEntire widens a handle to its whole image. */
QSIB_API qsys_status qimg_imageConst_constructRect(qimg_imageConst* dst, const qimg_imageConst* src,
                                                   const qstd_rect32* rect, int32_t* clippedOut);
QSIB_API qsys_status qimg_imageConst_setEntire(qimg_imageConst* image);
/* The handles filled by these getters are never empty: an image without a
 * transform of its own gives the identity (a linear transform). */
QSIB_API qsys_status qimg_imageConst_getClientFromImageXform(const qimg_imageConst* image,
                                                             qmath_xformPtrhConst* out);
QSIB_API qsys_status qimg_imageConst_getImageFromClientXform(const qimg_imageConst* image,
                                                             qmath_xformPtrhConst* out);
/* QMATH_E_NOT_LINEAR when the transform is not linear. */
QSIB_API qsys_status qimg_imageConst_getLinearImageFromClientXform(const qimg_imageConst* image,
                                                                   qmath_xformLinear* out);
QSIB_API qsys_status qimg_imageConst_setImageFromClientXform(qimg_imageConst* image,
                                                             const qmath_xformPtrhConst* x);
QSIB_API qsys_status qimg_imageConst_setLinearImageFromClientXform(qimg_imageConst* image,
                                                                   const qmath_xformLinear* x);

/* ---- Views ------------------------------------------------------------------
 * init makes a view of the handle's pixels (all zeros and NULL pixels for an
 * unbound image); its origin is the handle's place in its whole image,
 * (0, 0) for a handle of the whole image, and setEntire widens it to the
 * whole image. window narrows a view in place to a rectangle given in the
 * view's own pixel frame, clipped to the view; clippedOut (may be NULL)
 * receives 1 when clipping changed the rectangle, else 0. Each axis is
 * clipped on its own; a rectangle outside the view leaves an empty extent
 * at the nearest edge. Negative sizes give QIMG_E_BAD_SIZE. */
QSIB_API qsys_status qimg_window_init(qimg_window* window, qimg_image* image);
QSIB_API qsys_status qimg_window_window(qimg_window* window, int32_t x, int32_t y, int32_t width,
                                        int32_t height, int32_t* clippedOut);
QSIB_API qsys_status qimg_windowConst_init(qimg_windowConst* window, const qimg_imageConst* image);
QSIB_API qsys_status qimg_windowConst_window(qimg_windowConst* window, int32_t x, int32_t y,
                                             int32_t width, int32_t height, int32_t* clippedOut);
QSIB_API qsys_status qimg_windowConst_windowRect(qimg_windowConst* window,
                                                 const qstd_rect32* rect, int32_t* clippedOut);
/* The view's rectangle in its image's pixel coordinates. */
QSIB_API qsys_status qimg_windowConst_getWindow(const qimg_windowConst* window,
                                                qstd_rect32* rectOut);
QSIB_API qsys_status qimg_windowConst_setEntire(qimg_windowConst* window);

QSIB_EXTERN_C_END

#endif
