// Choosing the coarse granularity by experiment. Starting from the
// size-based guess, each trial trains two models on the pattern and searches
// the pattern's own image with them at every sampling phase of the coarse
// grid: the model that refines to full resolution must find the pattern where
// it was cut from, and the model that stops at the coarse level must accept
// it there. The first granularity whose trial passes is kept.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include <qsrch/model.h>
#include <qsrch/pyramid.h>
#include <qsrch/run.h>

#include "frame/call_frame.hpp"
#include "granularity/granularity_internal.hpp"
#include "model/model_internal.hpp"
#include "pyramid/pyramid_internal.hpp"
#include "run/run_internal.hpp"

namespace {

// What the caller asked of every trial.
struct TrialOptions {
    float trialThreshold;
    uint32_t shapeScoreOptimization;
    uint8_t shapeThreshold;
};

// The records one trial works with. trialModel refines to the fine
// granularity; coarseOnlyModel stops at the coarse level.
struct Trial {
    int planeCount;
    qsrch_normcorr_model trialModel, coarseOnlyModel;
    qstd_vector_qsrch_normcorr_level_ sourceLevels;
    qstd_vector_qsrch_normcorr_result results;
    qsrch_normcorr_runParams trialRun, coarseOnlyRun;
};

bool isLibraryCode(qsrch_status s) { return qsrch::statusFamily(s) == 0xA00u; }

// Constructs the trial's records and lists them in frame; ordinals from first on.
template <std::size_t N>
qsrch::Status constructTrial(qsrch::CallFrame<N>& frame, uint32_t first, Trial* trial, int planeCount,
                             const TrialOptions& options)
{
    trial->planeCount = planeCount;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_construct(&trial->trialModel)));
    frame.template release<qsrch_normcorr_model_destruct>(first, &trial->trialModel);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_construct(&trial->coarseOnlyModel)));
    frame.template release<qsrch_normcorr_model_destruct>(first + 1, &trial->coarseOnlyModel);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_level__construct(&trial->sourceLevels, 0)));
    frame.template release<qstd_vector_qsrch_normcorr_level__destruct>(first + 2, &trial->sourceLevels);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_result_construct(&trial->results, 0)));
    frame.template release<qstd_vector_qsrch_normcorr_result_destruct>(first + 3, &trial->results);

    // A trial asks for the best match only: nothing stops the search early.
    for (qsrch_normcorr_runParams* run : {&trial->trialRun, &trial->coarseOnlyRun}) {
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_runParams_init(run)));
        run->confusionThreshold = 1.0f;
        run->shapeScoreOptimization = options.shapeScoreOptimization;
        run->shapeThreshold = options.shapeThreshold;
    }
    trial->trialRun.acceptThreshold = 0.5f;
    // The shape score of a two-valued pattern runs lower than r²: a looser bar.
    trial->coarseOnlyRun.acceptThreshold =
        options.trialThreshold *
        (options.shapeScoreOptimization != 0 ? static_cast<float>(qsrch::kShapeScoreAllowance) : 1.0f);
    return frame.status;
}

// Trains both models with coarse granularity cg. *trained is false when a
// training failed in a way that rejects cg; that model is untrained again.
qsrch::Status trainModels(Trial* trial, const qimg_windowConst* const planes[3], const qimg_windowConst* mask,
                          float cg, int32_t fine, bool* trained)
{
    *trained = false;
    qsrch_normcorr_model* models[2] = {&trial->trialModel, &trial->coarseOnlyModel};
    const int32_t fines[2] = {
        fine, cg == std::trunc(cg) && std::fabs(cg) < 2147483648.0f ? static_cast<int32_t>(cg)
                                                                     : qsrch_largestPowerOfTwoNotAbove(cg)};
    for (int k = 0; k < 2; ++k) {
        qsrch_normcorr_trainParams params;
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_trainParams_init(&params));
        params.autoSelectGranularity = 0;
        params.autoSelectByTrial = 0;
        params.useSurround = 0;
        params.trialThreshold = 0.25f;
        params.coarseGranularity = cg;
        params.fineGranularity = fines[k];
        const qsrch_status s = trial->planeCount == 1
                                   ? qsrch_normcorr_model_trainInternal(models[k], &params, planes[0], mask)
                                   : qsrch_normcorr_model_trainInternal3(models[k], &params, planes[0],
                                                                         planes[1], planes[2], mask);
        if (QSRCH_FAILED(s)) {
            // Three-plane trials reject only on the library's own refusals
            // (a pattern uniform at this level); any other failure is real.
            if (trial->planeCount == 3 && !isLibraryCode(s)) return s;
            return qsrch_normcorr_model_untrain(models[k]);
        }
        // The trials search in plain pixel coordinates.
        qmath_xformLinear identity;
        QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&identity));
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_model_setPatFromClientXform(models[k], &identity));
    }
    *trained = true;
    return QSRCH_OK;
}

// Searches one phase: the pyramid of views, then both models on it. The
// refining model must find the pattern within (toleranceX, toleranceY) of
// where it was cut from; the coarse-only model must accept its best match.
qsrch::Status searchPhase(Trial* trial, const qimg_windowConst* const views[3], double toleranceX,
                          double toleranceY, bool* passed)
{
    *passed = false;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__resize(&trial->sourceLevels, 0));
    uint32_t numLevels = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getSize32(&trial->trialModel.levels, &numLevels));
    QSRCH_RETURN_IF_ERROR(
        trial->planeCount == 1
            ? qsrch_normcorr_generateSrcLevelsMask(views[0], nullptr, &trial->trialModel.levels,
                                                   static_cast<int32_t>(numLevels), &trial->sourceLevels)
            : qsrch_normcorr_generateSrcLevelsMask3(views[0], views[1], views[2], nullptr,
                                                    &trial->trialModel.levels,
                                                    static_cast<int32_t>(numLevels), &trial->sourceLevels));
    qmath_xformLinear identity;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&identity));

    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_runInternalLevels(&trial->trialModel, &trial->sourceLevels,
                                                           &trial->trialRun, &identity, &trial->results));
    const qsrch_normcorr_result* best = nullptr;
    uint32_t count = 0;
    QSRCH_RETURN_IF_ERROR(
        qstd_vector_qsrch_normcorr_result_getBeginSize32Const(&trial->results, &best, &count));
    if (count == 0 || !qmath_double_epsilonEqual(best->pose.trans.x, 0.0, toleranceX) ||
        !qmath_double_epsilonEqual(best->pose.trans.y, 0.0, toleranceY))
        return QSRCH_OK;

    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_runInternalLevels(
        &trial->coarseOnlyModel, &trial->sourceLevels, &trial->coarseOnlyRun, &identity, &trial->results));
    QSRCH_RETURN_IF_ERROR(
        qstd_vector_qsrch_normcorr_result_getBeginSize32Const(&trial->results, &best, &count));
    *passed = count != 0 && best->accepted != 0;
    return QSRCH_OK;
}

// A view of the whole image, placed at the image's origin. Making a view
// reads the handle's fields and cannot fail.
qimg_windowConst placedView(const qimg_image& image)
{
    qimg_windowConst view;
    (void)qimg_windowConst_init(&view, qimg_image_asConst(&image));
    view.x = image.x;
    view.y = image.y;
    return view;
}

// image receives pattern mapped to 0 below shapeThreshold and 255 from it
// on, at the pattern's place.
qsrch::Status twoValuedPattern(const qimg_windowConst& pattern, uint8_t shapeThreshold, qimg_image* image)
{
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = v < shapeThreshold ? 0 : 255;
    QSRCH_RETURN_IF_ERROR(qimg_image_assignNew(image, QIMG_DEPTH_8U, pattern.width, pattern.height));
    image->x = pattern.x;
    image->y = pattern.y;
    qimg_window view;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(&view, image));
    return qip_pelMapWindow8(&pattern, table, &view);
}

// image receives view reduced by two, placed at half the view's origin.
qsrch::Status reduceByTwo(const qimg_windowConst& view, qimg_image* image)
{
    QSRCH_RETURN_IF_ERROR(qimg_image_assignNew(image, QIMG_DEPTH_8U, view.width >> 1, view.height >> 1));
    image->x = view.x >> 1;
    image->y = view.y >> 1;
    qimg_window reduced;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(&reduced, image));
    qmath_xformLinear identity, reducedTransform;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&identity));
    return qip_gauss2_smoothWindow8_8(&view, &identity, &reduced, &reducedTransform);
}

// The whole image's view placed in the pattern view's frame, so that the
// pattern is found at its own origin wherever the caller put that.
void placeWholeImage(const qimg_windowConst& pattern, qimg_windowConst* entire)
{
    int64_t column = 0, row = 0;
    if (!qsrch::placeInImage(pattern, &column, &row)) return;
    entire->x = pattern.x - static_cast<int32_t>(column);
    entire->y = pattern.y - static_cast<int32_t>(row);
}

// The images searched by a trial: each plane's whole image, or, when plane
// 0's pattern fills more than half of its image in either direction, an
// image twice the pattern's size centred on it, the image's own pixels where
// they reach and its mean grey level elsewhere, so that every phase of the
// coarse grid still sees the whole pattern and some surround.
qsrch::Status searchImages(const qimg_windowConst* const patterns[3], int planeCount, qimg_image enlarged[3],
                           qimg_windowConst views[3])
{
    const qimg_windowConst& pattern = *patterns[0];
    const int32_t w = pattern.width, h = pattern.height;
    const bool enlarge = 2 * int64_t{w} > pattern.imageWidth || 2 * int64_t{h} > pattern.imageHeight;
    for (int plane = 0; plane < planeCount; ++plane) {
        views[plane] = *patterns[plane];
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_setEntire(&views[plane]));
        placeWholeImage(*patterns[plane], &views[plane]);
        if (!enlarge) continue;
        uint32_t histogram[256];
        QSRCH_RETURN_IF_ERROR(qsys_memory_fill(0, sizeof histogram, histogram));
        QSRCH_RETURN_IF_ERROR(qip_pelHistogramWindow8(&views[plane], histogram));
        double mean = 0.0;
        QSRCH_RETURN_IF_ERROR(qip_pelHistogramStat_std(histogram, 256, &mean, nullptr, nullptr));
        qimg_image* image = &enlarged[plane];
        QSRCH_RETURN_IF_ERROR(qimg_image_assignNew(image, QIMG_DEPTH_8U, 2 * w, 2 * h));
        image->x = pattern.x - w / 2;
        image->y = pattern.y - h / 2;
        QSRCH_RETURN_IF_ERROR(qip_pelSet8(image, static_cast<uint8_t>(mean)));
        qimg_window target;
        QSRCH_RETURN_IF_ERROR(qimg_window_init(&target, image));
        target.x = image->x;
        target.y = image->y;
        QSRCH_RETURN_IF_ERROR(qip_pelCopyWindow8(&views[plane], &target));
        views[plane] = placedView(*image);
    }
    return QSRCH_OK;
}

// Every phase (i, j) below phases of views, narrowed alike.
qsrch::Status searchPhases(Trial* trial, const qimg_windowConst views[3], double phases, double toleranceX,
                           double toleranceY, uint32_t* accepted)
{
    for (int32_t i = 0; i < phases; ++i) {
        for (int32_t j = 0; j < phases; ++j) {
            qimg_windowConst narrowed[3];
            const qimg_windowConst* planes[3] = {nullptr, nullptr, nullptr};
            for (int plane = 0; plane < trial->planeCount; ++plane) {
                narrowed[plane] = views[plane];
                QSRCH_RETURN_IF_ERROR(qimg_windowConst_window(&narrowed[plane], i, j, views[plane].width - i,
                                                              views[plane].height - j, nullptr));
                planes[plane] = &narrowed[plane];
            }
            bool passed = false;
            QSRCH_RETURN_IF_ERROR(searchPhase(trial, planes, toleranceX, toleranceY, &passed));
            if (!passed) return QSRCH_OK;
        }
    }
    *accepted = 1;
    return QSRCH_OK;
}

// The trial at full resolution, one plane or three.
qsrch::Status tryFull(const qimg_windowConst* const patterns[3], int planeCount, const qimg_windowConst* mask,
                      float cg, int32_t fine, const TrialOptions& options, uint32_t* accepted)
{
    *accepted = 0;
    qsrch::CallFrame<8> frame;
    Trial trial;
    QSRCH_RETURN_IF_ERROR(constructTrial(frame, 0, &trial, planeCount, options));
    qimg_image images[4];
    for (uint32_t k = 0; k < 4; ++k) {
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructUnbound(&images[k])));
        frame.release<qimg_image_destruct>(4 + k, &images[k]);
    }

    // A grey shape trial trains on the pattern made two-valued.
    qimg_windowConst shapeView;
    const qimg_windowConst* planes[3] = {patterns[0], patterns[1], patterns[2]};
    if (planeCount == 1 && options.shapeScoreOptimization != 0) {
        QSRCH_RETURN_IF_ERROR(
            frame.track(twoValuedPattern(*patterns[0], options.shapeThreshold, &images[3])));
        shapeView = placedView(images[3]);
        planes[0] = &shapeView;
    }
    bool trained = false;
    QSRCH_RETURN_IF_ERROR(frame.track(trainModels(&trial, planes, mask, cg, fine, &trained)));
    if (!trained) return frame.finish();

    qimg_windowConst views[3];
    QSRCH_RETURN_IF_ERROR(frame.track(searchImages(patterns, planeCount, images, views)));
    // Phases run over a whole period of the coarse grid: 1.5 repeats every 3 pixels.
    double period = cg;
    while (std::fabs(period - qmath_double_round(period)) > 0.001) period *= 2.0;
    return frame.finish(searchPhases(&trial, views, period, 1.0, 1.0, accepted));
}

// The selection loop for one plane or three.
qsrch::Status selectGranularities(const qimg_windowConst* const patterns[3], int planeCount,
                                  const qimg_windowConst* mask, const TrialOptions& options, float* coarseOut,
                                  int32_t* fineOut)
{
    const qimg_windowConst& pattern = *patterns[0];
    *fineOut = 1;
    float cg = qsrch_normcorr_defaultCoarseGranularity(pattern.width < pattern.height ? pattern.width
                                                                                       : pattern.height);
    *coarseOut = cg;
    const float lowest = options.shapeScoreOptimization != 0 ? 1.0f : 2.0f;
    qsrch_status s = QSRCH_OK;
    while (cg >= lowest) {
        uint32_t accepted = 0;
        if (planeCount == 3) {
            s = qsrch_normcorr_tryGranularities3(patterns[0], patterns[1], patterns[2], mask, cg, 1,
                                                 options.trialThreshold, options.shapeScoreOptimization,
                                                 options.shapeThreshold, &accepted);
        } else if (cg == std::trunc(cg) && static_cast<int64_t>(cg) % 2 == 0) {
            s = qsrch_normcorr_tryGranularitiesHalf(&pattern, mask, cg, 1, options.trialThreshold,
                                                    options.shapeScoreOptimization, options.shapeThreshold,
                                                    &accepted);
        } else {
            s = qsrch_normcorr_tryGranularities(&pattern, mask, cg, 1, options.trialThreshold,
                                                options.shapeScoreOptimization, options.shapeThreshold,
                                                &accepted);
        }
        QSRCH_RETURN_IF_ERROR(s);
        if (accepted != 0) return s;
        // Down by two pixels while that is less than halving, then by halves.
        cg = cg * 0.5f > cg - 2.0f ? cg * 0.5f : cg - 2.0f;
        *coarseOut = cg;
    }
    return cg < 1.0f ? QSRCH_E_NO_GRANULARITY : s;
}

}  // namespace

extern "C" {

int32_t qsrch_largestPowerOfTwoNotAbove(float x)
{
    if (!(x >= 2.0f)) return 1;
    // Granularities stay far below 2^31; larger x saturate at 2^30.
    if (!(x < 2147483648.0f)) return int32_t{1} << 30;
    int exponent = 0;
    std::frexp(x, &exponent);  // x = m * 2^exponent with m in [0.5, 1), so exponent <= 31
    return static_cast<int32_t>(int64_t{1} << (exponent - 1));
}

qsrch_status qsrch_normcorr_tryGranularities(const qimg_windowConst* pattern, const qimg_windowConst* mask,
                                             float cg, int32_t fine, float trialThreshold,
                                             uint32_t shapeScoreOptimization, uint8_t shapeThreshold,
                                             uint32_t* acceptedOut)
{
    const qimg_windowConst* patterns[3] = {pattern, nullptr, nullptr};
    return tryFull(patterns, 1, mask, cg, fine, {trialThreshold, shapeScoreOptimization, shapeThreshold},
                   acceptedOut);
}

qsrch_status qsrch_normcorr_tryGranularities3(const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
                                              const qimg_windowConst* pattern2, const qimg_windowConst* mask,
                                              float cg, int32_t fine, float trialThreshold,
                                              uint32_t shapeScoreOptimization, uint8_t shapeThreshold,
                                              uint32_t* acceptedOut)
{
    const qimg_windowConst* patterns[3] = {pattern0, pattern1, pattern2};
    return tryFull(patterns, 3, mask, cg, fine, {trialThreshold, shapeScoreOptimization, shapeThreshold},
                   acceptedOut);
}

qsrch_status qsrch_normcorr_tryGranularitiesHalf(const qimg_windowConst* pattern, const qimg_windowConst* mask,
                                                 float cg, int32_t fine, float trialThreshold,
                                                 uint32_t shapeScoreOptimization, uint8_t shapeThreshold,
                                                 uint32_t* acceptedOut)
{
    *acceptedOut = 0;
    const TrialOptions options{trialThreshold, shapeScoreOptimization, shapeThreshold};
    qsrch::CallFrame<10> frame;
    Trial trial;
    QSRCH_RETURN_IF_ERROR(constructTrial(frame, 0, &trial, 1, options));
    // The two-valued pattern, the reduced pattern, two-valued pattern and
    // mask, the enlarged search image and the reduced search image.
    enum { kShape, kPattern, kShapeHalf, kMaskHalf, kEnlarged, kSearchHalf, kImageCount };
    qimg_image images[kImageCount];
    for (uint32_t k = 0; k < kImageCount; ++k) {
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructUnbound(&images[k])));
        frame.release<qimg_image_destruct>(4 + k, &images[k]);
    }

    // Everything is trained and searched at half resolution with cg / 2.
    QSRCH_RETURN_IF_ERROR(frame.track(twoValuedPattern(*pattern, shapeThreshold, &images[kShape])));
    QSRCH_RETURN_IF_ERROR(frame.track(reduceByTwo(*pattern, &images[kPattern])));
    QSRCH_RETURN_IF_ERROR(frame.track(reduceByTwo(placedView(images[kShape]), &images[kShapeHalf])));
    qimg_windowConst halfMask = *mask;
    if (mask->firstPixel != nullptr) {
        // The mask lines up with the pattern pixel for pixel, as training
        // takes it; only the pattern's extent of it is reduced.
        qimg_windowConst cut = *mask;
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_windowConst_window(&cut, 0, 0, pattern->width, pattern->height, nullptr)));
        QSRCH_RETURN_IF_ERROR(frame.track(reduceByTwo(cut, &images[kMaskHalf])));
        halfMask = placedView(images[kMaskHalf]);
    }
    const qimg_windowConst halfPattern =
        placedView(images[shapeScoreOptimization != 0 ? kShapeHalf : kPattern]);
    const qimg_windowConst* planes[3] = {&halfPattern, nullptr, nullptr};
    bool trained = false;
    QSRCH_RETURN_IF_ERROR(frame.track(trainModels(&trial, planes, &halfMask, cg * 0.5f, fine, &trained)));
    if (!trained) return frame.finish();

    const qimg_windowConst* patterns[3] = {pattern, nullptr, nullptr};
    qimg_windowConst views[3];
    QSRCH_RETURN_IF_ERROR(frame.track(searchImages(patterns, 1, &images[kEnlarged], views)));
    // Each of the four phases of the reduction, then every phase of the
    // reduced coarse grid; the reduction moves the pattern by up to a pixel.
    for (int32_t px = 0; px < 2; ++px) {
        for (int32_t py = 0; py < 2; ++py) {
            qimg_windowConst phase = views[0];
            QSRCH_RETURN_IF_ERROR(frame.track(
                qimg_windowConst_window(&phase, px, py, views[0].width - px, views[0].height - py, nullptr)));
            QSRCH_RETURN_IF_ERROR(frame.track(reduceByTwo(phase, &images[kSearchHalf])));
            const qimg_windowConst reduced[3] = {placedView(images[kSearchHalf]), {}, {}};
            uint32_t accepted = 0;
            QSRCH_RETURN_IF_ERROR(
                frame.track(searchPhases(&trial, reduced, cg * 0.5, px + 1.0, py + 1.0, &accepted)));
            if (accepted == 0) return frame.finish();
        }
    }
    *acceptedOut = 1;
    return frame.finish();
}

qsrch_status qsrch_normcorr_computeGranularitiesMaskWindow(const qimg_windowConst* pattern,
                                                           const qimg_windowConst* mask, float trialThreshold,
                                                           uint32_t shapeScoreOptimization,
                                                           uint8_t shapeThreshold, float* coarseOut,
                                                           int32_t* fineOut)
{
    if (mask == nullptr) return QSYS_E_BAD_ARGUMENT;
    const qimg_windowConst* patterns[3] = {pattern, nullptr, nullptr};
    return selectGranularities(patterns, 1, mask, {trialThreshold, shapeScoreOptimization, shapeThreshold},
                               coarseOut, fineOut);
}

qsrch_status qsrch_normcorr_computeGranularitiesMaskWindow3(const qimg_windowConst* pattern0,
                                                            const qimg_windowConst* pattern1,
                                                            const qimg_windowConst* pattern2,
                                                            const qimg_windowConst* mask, float trialThreshold,
                                                            uint32_t shapeScoreOptimization,
                                                            uint8_t shapeThreshold, float* coarseOut,
                                                            int32_t* fineOut)
{
    const qimg_windowConst* patterns[3] = {pattern0, pattern1, pattern2};
    return selectGranularities(patterns, 3, mask, {trialThreshold, shapeScoreOptimization, shapeThreshold},
                               coarseOut, fineOut);
}

qsrch_status qsrch_normcorr_computeGranularitiesWindow(const qimg_windowConst* pattern, float trialThreshold,
                                                       uint32_t shapeScoreOptimization, uint8_t shapeThreshold,
                                                       float* coarseOut, int32_t* fineOut)
{
    const qimg_windowConst noMask{};
    return qsrch_normcorr_computeGranularitiesMaskWindow(pattern, &noMask, trialThreshold, shapeScoreOptimization,
                                                         shapeThreshold, coarseOut, fineOut);
}

qsrch_status qsrch_normcorr_computeGranularitiesMask(const qimg_imageConst* pattern, const qimg_imageConst* mask,
                                                     float trialThreshold, uint32_t shapeScoreOptimization,
                                                     uint8_t shapeThreshold, float* coarseOut, int32_t* fineOut)
{
    qimg_windowConst view, maskView{};
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&view, pattern));
    if (mask != nullptr) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&maskView, mask));
    return qsrch_normcorr_computeGranularitiesMaskWindow(&view, &maskView, trialThreshold, shapeScoreOptimization,
                                                         shapeThreshold, coarseOut, fineOut);
}

qsrch_status qsrch_normcorr_computeGranularitiesMask3(const qimg_imageConst* pattern0,
                                                      const qimg_imageConst* pattern1,
                                                      const qimg_imageConst* pattern2, const qimg_imageConst* mask,
                                                      float trialThreshold, uint32_t shapeScoreOptimization,
                                                      uint8_t shapeThreshold, float* coarseOut, int32_t* fineOut)
{
    qimg_windowConst views[3], maskView{};
    const qimg_imageConst* images[3] = {pattern0, pattern1, pattern2};
    for (int plane = 0; plane < 3; ++plane) {
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&views[plane], images[plane]));
    }
    if (mask != nullptr) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&maskView, mask));
    return qsrch_normcorr_computeGranularitiesMaskWindow3(&views[0], &views[1], &views[2], &maskView,
                                                          trialThreshold, shapeScoreOptimization, shapeThreshold,
                                                          coarseOut, fineOut);
}

}  // extern "C"
