// Training and searching with all drawn from the input (sizes, pixels, masks, parameters, grey or
// colour, either interface, a failing allocation): every status is 0 or named, scores lie in [0, 1]
// at finite places, accepted follows the threshold, no heap block is kept. Keep the order of the
// draws: the corpus depends on it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <qsrch/qsrch.h>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
// The level search takes the pattern's sum of squares rounded to single
// precision, which lifts an exact copy's score a few parts in 10^7 above 1.
constexpr double kSinglePrecisionSlack = 1e-6;

void require(bool holds, const char* what, qsrch_status s = QSRCH_OK)
{
    if (!holds) std::fprintf(stderr, "search fuzzer: %s (status %s)\n", what, qsrch_statusName(s)), std::abort();
}

// The input read front to back; zeros once it is used up.
struct Draw {
    const uint8_t* data;
    size_t size, at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t below(uint32_t n) { return byte() % n; }
    bool flag() { return (byte() & 1) != 0; }
    template <class T, size_t N> T pick(const T (&values)[N]) { return values[below(uint32_t(N))]; }
};

uint32_t mix(uint32_t h)
{
    h = (h ^ (h >> 16)) * 0x7feb352dU, h = (h ^ (h >> 15)) * 0x846ca68bU;
    return h ^ (h >> 16);
}

// An 8-bit image with a band of `margin` pixels around the view searched or
// trained on, so that views do not start at their image's origin.
struct Plane {
    qimg_image image{};
    qimg_windowConst view{};
    bool made = false;
    ~Plane() { if (made) (void)qimg_image_destruct(&image); }
    bool make(int32_t width, int32_t height, int32_t margin)
    {
        made = !QSRCH_FAILED(qimg_image_construct(&image, QIMG_DEPTH_8U, width + 2 * margin, height + 2 * margin));
        if (made) (void)qimg_windowConst_init(&view, qimg_image_asConst(&image));
        return made && !QSRCH_FAILED(qimg_windowConst_window(&view, margin, margin, width, height, nullptr));
    }
    uint8_t& at(int32_t x, int32_t y) const { return static_cast<uint8_t*>(image.firstPixel)[y * image.rowStride + x]; }
    // Smooth texture of a seed, the input's bytes, or two flat halves; pixels
    // below `cut` become 0: a mask's pixels that do not count.
    void paint(Draw& draw, const uint32_t (&look)[2], uint8_t cut = 0) const
    {
        const uint32_t kind = look[0], seed = look[1];
        for (int32_t y = 0; y < image.height; ++y)
            for (int32_t x = 0; x < image.width; ++x) {
                const uint32_t cell = mix(seed ^ mix(uint32_t(x / 3) * 7919U + uint32_t(y / 3) * 104729U));
                const uint32_t fine = mix(seed + uint32_t(x * 31 + y * 1009)) & 0x3F;
                const uint8_t v = kind == 0   ? uint8_t((cell & 0xC0) + fine)
                                  : kind == 1 ? draw.byte()
                                              : uint8_t(x < int32_t(seed % 16) ? 40 : 200);
                at(x, y) = v < cut ? 0 : v;
            }
    }
};

// Pattern and scene planes, masks, and the pattern planted into the scene.
struct Images {
    bool colour, topLevel, patternMask, sceneMask;
    int32_t pw, ph, sw, sh, margin;
    Plane pattern[3], scene[3], patternMaskPlane, sceneMaskPlane;

    explicit Images(Draw& draw)
    {
        colour = draw.below(4) == 0, topLevel = !colour && draw.below(3) == 0;
        pw = 1 + int32_t(draw.below(40)), ph = 1 + int32_t(draw.below(40));
        sw = std::max(1, pw + int32_t(draw.below(80)) - 8), sh = std::max(1, ph + int32_t(draw.below(80)) - 8);
        margin = int32_t(draw.below(4)), patternMask = draw.below(3) == 0, sceneMask = !colour && draw.below(3) == 0;
    }
    int planes() const { return colour ? 3 : 1; }
    bool patternSized() const { return sw == pw && sh == ph; }

    bool make(Draw& draw)
    {
        for (int c = 0; c < planes(); ++c) {
            if (!pattern[c].make(pw, ph, margin) || !scene[c].make(sw, sh, margin)) return false;
            pattern[c].paint(draw, {draw.below(3), draw.byte()});  // a braced list is read in order
            scene[c].paint(draw, {draw.below(3), draw.byte()});
        }
        if (patternMask && !patternMaskPlane.make(pw, ph, margin)) return false;
        if (sceneMask && !sceneMaskPlane.make(sw, sh, margin)) return false;
        const uint32_t care[2] = {draw.below(3), draw.byte()};
        const uint8_t cut = draw.byte();
        if (patternMask) patternMaskPlane.paint(draw, care, cut);
        if (sceneMask) sceneMaskPlane.paint(draw, care, cut);
        if (!draw.flag()) return true;
        // A copy of the pattern, brightness and contrast changed, at a drawn place.
        const int32_t x0 = int32_t(draw.below(80)), y0 = int32_t(draw.below(80));
        const int gain = 1 + int(draw.below(4)), offset = int(draw.below(64));
        for (int c = 0; c < planes(); ++c)
            for (int32_t y = 0; y < ph && y0 + y < sh; ++y)
                for (int32_t x = 0; x < pw && x0 + x < sw; ++x)
                    scene[c].at(margin + x0 + x, margin + y0 + y) =
                        uint8_t(std::min(pattern[c].at(margin + x, margin + y) * gain / 2 + offset, 255));
        return true;
    }
};

void drawParams(Draw& draw, qsrch_normcorr_trainParams& t, qsrch_normcorr_runParams& r)
{
    const float coarse[] = {1, 2, 4, 8, 16, 1.5f, 3, 5.3f, 0.5f, kNaN, kInf};
    const int32_t fine[] = {1, 2, 4, 1, 8, 3, 0, -2};
    (void)qsrch_normcorr_trainParams_init(&t), (void)qsrch_normcorr_runParams_init(&r);
    t.autoSelectGranularity = draw.flag(), t.autoSelectByTrial = draw.below(4) == 0;
    t.coarseGranularity = draw.pick(coarse), t.fineGranularity = draw.pick(fine), t.useSurround = draw.below(4) == 0;
    if (draw.below(4) == 0) t.trialThreshold = draw.byte() / 200.0f;
    const float thresholds[] = {0.3f, 0.5f, 0, 0.1f, 0.9f, 1, 0.7f, -0.1f, kNaN};
    const float overlaps[] = {1, 0.5f, 0, 0.25f, 0.99f, 1.5f, kNaN};
    const double limits[] = {0, kInf, 0.5, 1, 2, 0.9, -1, kNaN}, weights[] = {1, 0, 2, 0.25};
    r.acceptThreshold = draw.pick(thresholds);
    r.confusionThreshold = draw.flag() ? r.acceptThreshold : draw.pick(thresholds);
    r.numToFind = int32_t(draw.below(9)) - (draw.below(8) == 0 ? 1 : 0);
    r.overlapFraction = draw.pick(overlaps);
    if (draw.below(3) == 0)
        r.searchRegion = {double(int(draw.below(64)) - 8), double(int(draw.below(64)) - 8),
                          double(draw.below(64)), draw.flag() ? double(draw.below(64)) : double(kInf)};
    r.adaptiveLevelThresholds = draw.flag(), r.singlePositionScoring = draw.flag();
    r.limitLevelsToRegion = draw.flag(), r.absoluteCorrelation = draw.flag();
    r.contrastMin = draw.pick(limits), r.contrastMax = draw.flag() ? kInf : draw.pick(limits);
    r.brightnessMin = draw.pick(limits), r.brightnessMax = draw.flag() ? kInf : draw.pick(limits);
    for (double& w : r.planeWeights) w = draw.pick(weights);
    r.shapeScoreOptimization = draw.below(4) == 0, r.shapeThreshold = draw.byte();
}

// A scene scored at its one position has its score alone, never accepted.
void checkResult(const qmath_vect& at, float score, uint32_t accepted, float acceptThreshold, bool scoredOnly)
{
    require(std::isfinite(at.x) && std::isfinite(at.y), "a result at a place that is not finite");
    require(score >= 0 && score <= 1 + kSinglePrecisionSlack, "a score outside [0, 1]");
    require((accepted != 0) == (!scoredOnly && score >= acceptThreshold), "accepted does not follow the threshold");
}

// Runs `call` with its allocation number `failing` failing (-1: none); the
// status must be 0 or a named failure.
template <class Call> qsrch_status failing(int64_t failing, Call call)
{
    qsys_memory_failAfter(failing);
    const qsrch_status s = call();
    qsys_memory_failAfter(-1);
    require(s == QSRCH_OK || (QSRCH_FAILED(s) && std::strcmp(qsrch_statusName(s), "unknown status") != 0),
            "a status that is neither 0 nor a named failure", s);
    return s;
}

void searchNormcorr(Images& im, const qsrch_normcorr_trainParams& t, const qsrch_normcorr_runParams& r,
                    const int64_t (&fail)[2])
{
    qsrch_normcorr_model* model = nullptr;
    qstd_vector_qsrch_normcorr_result results;
    require(!QSRCH_FAILED(qsrch_normcorr_model_new(&model)), "no model");
    require(!QSRCH_FAILED(qstd_vector_qsrch_normcorr_result_constructEmpty(&results)), "no result vector");
    qmath_xformLinear id;
    (void)qmath_xformLinear_initIdentity(&id);
    const qimg_windowConst *p = &im.pattern[0].view, *p1 = &im.pattern[1].view, *p2 = &im.pattern[2].view;
    const qimg_windowConst *s = &im.scene[0].view, *mask = &im.patternMaskPlane.view;
    qsrch_status st = failing(fail[0], [&] {
        if (im.colour && im.patternMask) return qsrch_normcorr_model_trainMaskWindow3(model, p, p1, p2, mask, &id, &t);
        if (im.colour) return qsrch_normcorr_model_trainWindow3(model, p, p1, p2, &id, &t);
        return im.patternMask ? qsrch_normcorr_model_trainMaskWindow(model, p, mask, &id, &t)
                              : qsrch_normcorr_model_trainWindow(model, p, &id, &t);
    });
    if (!QSRCH_FAILED(st))
        st = failing(fail[1], [&] {
            if (im.colour)
                return qsrch_normcorr_runWindow3(model, s, &im.scene[1].view, &im.scene[2].view, &id, &r, &results);
            return im.sceneMask ? qsrch_normcorr_runMaskWindow(model, s, &im.sceneMaskPlane.view, &id, &r, &results)
                                : qsrch_normcorr_runWindow(model, s, &id, &r, &results);
        });
    const qsrch_normcorr_result* first = nullptr;
    uint32_t count = 0;
    if (!QSRCH_FAILED(st)) (void)qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &first, &count);
    for (uint32_t i = 0; i < count; ++i)
        checkResult(first[i].pose.trans, first[i].score, first[i].accepted, r.acceptThreshold,
                    r.singlePositionScoring != 0 && im.patternSized());
    (void)qstd_vector_qsrch_normcorr_result_destruct(&results), (void)qsrch_normcorr_model_delete(&model);
}

// The top-level interface takes power-of-two granularities only, as whole numbers.
void searchTopLevel(Images& im, const qsrch_normcorr_trainParams& t, const qsrch_normcorr_runParams& r,
                    const int64_t (&fail)[2])
{
    qsrch_trainParams train;
    qsrch_runParams run;
    (void)qsrch_trainParams_init(&train), (void)qsrch_runParams_init(&run);
    train.autoSelectGranularity = t.autoSelectGranularity, train.autoSelectByTrial = t.autoSelectByTrial;
    train.coarseGranularity = std::isfinite(t.coarseGranularity) ? int32_t(t.coarseGranularity) : 0;
    train.fineGranularity = t.fineGranularity, train.useSurround = t.useSurround;
    run.acceptThreshold = r.acceptThreshold, run.confusionThreshold = r.confusionThreshold;
    run.numToFind = r.numToFind, run.overlapFraction = r.overlapFraction;
    qsrch_model model;
    qsrch_resultSet set;
    qmath_xformPtrhConst id;  // the images' own: the identity
    require(!QSRCH_FAILED(qsrch_model_construct(&model)), "no model");
    (void)qsrch_resultSet_construct(&set), (void)qmath_xformPtrhConst_construct(&id);
    require(!QSRCH_FAILED(qimg_imageConst_getImageFromClientXform(qimg_image_asConst(&im.pattern[0].image), &id)),
            "no transform");
    const qimg_windowConst *p = &im.pattern[0].view, *s = &im.scene[0].view;
    qsrch_status st = failing(fail[0], [&] {
        return im.patternMask ? qsrch_model_trainMaskWindow(&model, p, &im.patternMaskPlane.view, &id, &train)
                              : qsrch_model_trainWindow(&model, p, &id, &train);
    });
    if (!QSRCH_FAILED(st))
        st = failing(fail[1], [&] {
            return im.sceneMask ? qsrch_runMaskWindow(&model, s, &im.sceneMaskPlane.view, &id, &run, &set)
                                : qsrch_runWindow(&model, s, &id, &run, &set);
        });
    for (int32_t i = 0; !QSRCH_FAILED(st) && i < set.count; ++i)
        checkResult(set.entries[i].point, set.entries[i].score, set.entries[i].accepted, run.acceptThreshold,
                    im.patternSized());
    (void)qsrch_resultSet_destruct(&set), (void)qmath_xformPtrhConst_destruct(&id), (void)qsrch_model_destruct(&model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int64_t blocksBefore = qsys_memory_blocksInUse();
    Draw draw{data, size};
    {
        Images images(draw);
        qsrch_normcorr_trainParams train;
        qsrch_normcorr_runParams run;
        drawParams(draw, train, run);
        int64_t fail[2] = {-1, -1};  // the allocation failing in training, in the search
        const uint32_t failingCall = draw.below(8);
        if (failingCall == 1 || failingCall == 2) fail[failingCall - 1] = draw.byte();
        require(images.make(draw), "no images");
        images.topLevel ? searchTopLevel(images, train, run, fail) : searchNormcorr(images, train, run, fail);
    }
    require(qsys_memory_blocksInUse() == blocksBefore, "a heap block of the q* libraries was not given back");
    return 0;
}
