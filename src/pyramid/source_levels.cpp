// Source pyramids: the image to be searched, reduced level by level with the
// factors of the pattern pyramid so that level k of both has the same scale.
// Level 0 looks at the caller's pixels; a care mask is applied to plane 0
// only after every level has been reduced from the unmasked planes.
#include "frame/call_frame.hpp"
#include "pyramid/pyramid_internal.hpp"

namespace {

// Replaces plane 0 of every level by its minimum with the level's mask.
// Each level gets pixels of its own; planes 1 and 2 are left as they are.
qsrch_status maskPlane0(qstd_vector_qsrch_normcorr_level_* levels, int32_t numLevels)
{
    qsrch::CallFrame<1> frame;
    qimg_image masked;
    if (frame.step(qimg_image_constructUnbound(&masked))) return frame.finish();
    frame.release<qimg_image_destruct>(0, &masked);
    qsrch_normcorr_level_* level = nullptr;
    if (frame.step(qstd_vector_qsrch_normcorr_level__getBegin(levels, &level))) return frame.finish();
    for (int32_t i = 0; i < numLevels; ++i, ++level) {
        const qimg_windowConst& plane0 = level->planeWindow[0];
        if (frame.step(qimg_image_assignNew(&masked, QIMG_DEPTH_8U, plane0.width, plane0.height)))
            return frame.finish();
        masked.x = plane0.x;
        masked.y = plane0.y;
        qimg_window maskedView;
        if (frame.step(qimg_window_init(&maskedView, &masked))) return frame.finish();
        if (frame.step(qip_pelMinWindow8(&plane0, &level->maskWindow, &maskedView))) return frame.finish();
        if (frame.step(qimg_imageConst_assign(&level->planeImage[0], qimg_image_asConst(&masked))))
            return frame.finish();
        if (frame.step(qimg_windowConst_init(&level->planeWindow[0], &level->planeImage[0])))
            return frame.finish();
    }
    return frame.finish();
}

// Whether every level below the first halves the one above it.
bool halvingsOnly(const qsrch_normcorr_level_* pattern, int32_t numLevels)
{
    if (numLevels - 1 > QIP_GAUSS2_MAX_LEVELS) return false;
    for (int32_t i = 1; i < numLevels; ++i)
        if (pattern[i].factor != 2.0f) return false;
    return true;
}

// Levels 1 .. numLevels - 1 after the base level, each the one before
// reduced by the factor of the pattern level of its index; when every factor
// is 2, in one pass over the source.
qsrch_status reduceLevels(const qsrch_normcorr_level_* pattern, int32_t numLevels,
                          qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    qsrch_normcorr_level_* levels = nullptr;
    qsrch_status s = QSRCH_OK;
    if (halvingsOnly(pattern, numLevels)) {
        if (QSRCH_FAILED(s = qstd_vector_qsrch_normcorr_level__resize(sourceLevels, static_cast<size_t>(numLevels))))
            return s;
        if (QSRCH_FAILED(s = qstd_vector_qsrch_normcorr_level__getBegin(sourceLevels, &levels))) return s;
        return qsrch_normcorr_levels__initHalved(levels, numLevels, 0);
    }
    for (int32_t i = 1; i < numLevels; ++i) {
        uint32_t n = 0;
        if (QSRCH_FAILED(s = qstd_vector_qsrch_normcorr_level__getSize32(sourceLevels, &n))) return s;
        if (QSRCH_FAILED(s = qstd_vector_qsrch_normcorr_level__resize(sourceLevels, n + 1))) return s;
        if (QSRCH_FAILED(s = qstd_vector_qsrch_normcorr_level__getBegin(sourceLevels, &levels))) return s;
        // Source pyramids are only read inside their views: the slack stays as it comes.
        if (QSRCH_FAILED(s = qsrch_normcorr_level__initReduced(&levels[n], &levels[n - 1], 0, pattern[n].factor)))
            return s;
    }
    return s;
}

// The body shared by the grey and three-plane forms: planes 1 and 2 are
// NULL for grey sources.
qsrch_status generateSourceLevels(const qimg_windowConst* plane0, const qimg_windowConst* plane1,
                                  const qimg_windowConst* plane2, const qimg_windowConst* mask,
                                  const qstd_vector_qsrch_normcorr_level_* patternLevels, int32_t numLevels,
                                  qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    qsrch::CallFrame<1> frame;
    const qsrch_normcorr_level_* pattern = nullptr;
    if (frame.step(qstd_vector__getBeginConst(patternLevels, &pattern))) return frame.finish();
    if (frame.step(qstd_vector_qsrch_normcorr_level__resize(sourceLevels, 0))) return frame.finish();
    size_t wanted = numLevels > 0 ? static_cast<size_t>(numLevels) : 0;
    if (frame.step(qstd_vector_qsrch_normcorr_level__reserve(sourceLevels, wanted))) return frame.finish();

    qsrch_normcorr_level_ base;
    if (plane1 == nullptr) {
        if (frame.step(qsrch_normcorr_level__constructFromWindow(&base, plane0, mask))) return frame.finish();
    } else {
        if (frame.step(qsrch_normcorr_level__constructFromWindow3(&base, plane0, plane1, plane2, mask)))
            return frame.finish();
    }
    frame.release<qsrch_normcorr_level__destruct>(0, &base);
    if (frame.step(qstd_vector_qsrch_normcorr_level__pushBack(sourceLevels, &base))) return frame.finish();

    if (frame.step(reduceLevels(pattern, numLevels, sourceLevels))) return frame.finish();
    if (mask != nullptr && frame.step(maskPlane0(sourceLevels, numLevels))) return frame.finish();
    return frame.finish();
}

}  // namespace

extern "C" {

qsrch_status qsrch_normcorr_level__constructFromWindow(qsrch_normcorr_level_* level, const qimg_windowConst* view,
                                                       const qimg_windowConst* mask)
{
    qsrch_status status = qsrch_normcorr_level__construct(level);
    if (QSRCH_FAILED(status)) return status;
    level->origin = qstd_pair32{view->x, view->y};
    level->planeWindow[0] = qsrch::atPixelOrigin(*view);
    if (mask != nullptr) {
        level->maskWindow = qsrch::atPixelOrigin(*mask);
    } else {
        level->maskWindow = level->planeWindow[0];
        level->maskWindow.firstPixel = nullptr;
    }
    return status;
}

qsrch_status qsrch_normcorr_level__constructFromWindow3(qsrch_normcorr_level_* level, const qimg_windowConst* view0,
                                                        const qimg_windowConst* view1,
                                                        const qimg_windowConst* view2,
                                                        const qimg_windowConst* mask)
{
    qsrch_status status = qsrch_normcorr_level__constructFromWindow(level, view0, mask);
    if (QSRCH_FAILED(status)) return status;
    level->planeWindow[1] = qsrch::atPixelOrigin(*view1);
    level->planeWindow[2] = qsrch::atPixelOrigin(*view2);
    return status;
}

qsrch_status qsrch_normcorr_generateSrcLevels(const qimg_windowConst* source,
                                              const qstd_vector_qsrch_normcorr_level_* patternLevels,
                                              int32_t numLevels, qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    return generateSourceLevels(source, nullptr, nullptr, nullptr, patternLevels, numLevels, sourceLevels);
}

qsrch_status qsrch_normcorr_generateSrcLevelsMask(const qimg_windowConst* source, const qimg_windowConst* mask,
                                                  const qstd_vector_qsrch_normcorr_level_* patternLevels,
                                                  int32_t numLevels, qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    return generateSourceLevels(source, nullptr, nullptr, mask, patternLevels, numLevels, sourceLevels);
}

qsrch_status qsrch_normcorr_generateSrcLevels3(const qimg_windowConst* plane0, const qimg_windowConst* plane1,
                                               const qimg_windowConst* plane2,
                                               const qstd_vector_qsrch_normcorr_level_* patternLevels,
                                               int32_t numLevels, qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    return generateSourceLevels(plane0, plane1, plane2, nullptr, patternLevels, numLevels, sourceLevels);
}

qsrch_status qsrch_normcorr_generateSrcLevelsMask3(const qimg_windowConst* plane0, const qimg_windowConst* plane1,
                                                   const qimg_windowConst* plane2, const qimg_windowConst* mask,
                                                   const qstd_vector_qsrch_normcorr_level_* patternLevels,
                                                   int32_t numLevels,
                                                   qstd_vector_qsrch_normcorr_level_* sourceLevels)
{
    return generateSourceLevels(plane0, plane1, plane2, mask, patternLevels, numLevels, sourceLevels);
}

}  // extern "C"
