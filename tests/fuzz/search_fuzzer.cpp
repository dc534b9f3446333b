// Training and searching with everything drawn from the input (sizes,
// pixels, masks, granularities, regions, run parameters, grey or colour,
// either interface, a failing allocation): every status is 0 or named,
// scores lie in [0, 1] at finite places, accepted follows the threshold,
// and every heap block is given back.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <qsrch/qsrch.h>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
// The level search takes the pattern's sum of squares rounded to single
// precision, which lifts an exact copy's score a few parts in 10^7 above 1.
constexpr double kSinglePrecisionSlack = 1e-6;

void require(bool holds, const char* what, qsrch_status s = QSRCH_OK)
{
    if (holds) return;
    std::fprintf(stderr, "search fuzzer: %s (status %s)\n", what, qsrch_statusName(s));
    std::abort();
}

void requireNamed(qsrch_status s)
{
    require(s == QSRCH_OK || (QSRCH_FAILED(s) && std::strcmp(qsrch_statusName(s), "unknown status") != 0),
            "a status that is neither 0 nor a named failure", s);
}

// The input read front to back; zeros once it is used up.
class Draw {
public:
    Draw(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t below(uint32_t n) { return byte() % n; }
    bool flag() { return (byte() & 1) != 0; }
    template <class T, size_t N>
    T pick(const T (&values)[N])
    {
        return values[below(uint32_t(N))];
    }

private:
    const uint8_t* data_;
    size_t size_, at_ = 0;
};

uint32_t mix(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    return h ^ (h >> 16);
}

// How a plane's pixels are made: smooth texture of a seed, the input's
// bytes, or two flat halves.
struct Painter {
    uint32_t kind, seed;
    uint8_t at(Draw& draw, int32_t x, int32_t y) const
    {
        switch (kind) {
        case 0: {
            const uint32_t cell = mix(seed ^ mix(uint32_t(x / 3) * 7919U + uint32_t(y / 3) * 104729U));
            return uint8_t((cell & 0xC0) + (mix(seed + uint32_t(x * 31 + y * 1009)) & 0x3F));
        }
        case 1: return draw.byte();
        default: return uint8_t(x < int32_t(seed % 16) ? 40 : 200);
        }
    }
};

// An 8-bit image with a band of `margin` pixels around the view searched or
// trained on, so that views do not start at their image's origin.
struct Plane {
    qimg_image image{};
    qimg_windowConst view{};
    bool made = false;

    Plane() = default;
    Plane(const Plane&) = delete;
    Plane& operator=(const Plane&) = delete;
    ~Plane()
    {
        if (made) (void)qimg_image_destruct(&image);
    }
    bool make(int32_t width, int32_t height, int32_t margin)
    {
        made = !QSRCH_FAILED(qimg_image_construct(&image, QIMG_DEPTH_8U, width + 2 * margin, height + 2 * margin));
        if (!made) return false;
        (void)qimg_windowConst_init(&view, qimg_image_asConst(&image));
        return !QSRCH_FAILED(qimg_windowConst_window(&view, margin, margin, width, height, nullptr));
    }
    uint8_t& at(int32_t x, int32_t y) const
    {
        return static_cast<uint8_t*>(image.firstPixel)[size_t(y) * image.rowStride + size_t(x)];
    }
    // Pixels below `cut` become 0: a mask's pixels that do not count.
    void paint(Draw& draw, const Painter& painter, uint8_t cut = 0) const
    {
        for (int32_t y = 0; y < image.height; ++y)
            for (int32_t x = 0; x < image.width; ++x) {
                const uint8_t v = painter.at(draw, x, y);
                at(x, y) = v < cut ? 0 : v;
            }
    }
};

struct Shape {
    bool colour, topLevel, patternMask, sceneMask;
    int32_t patternWidth, patternHeight, sceneWidth, sceneHeight, margin;
};

Shape drawShape(Draw& draw)
{
    Shape s{};
    s.colour = draw.below(4) == 0;
    s.topLevel = !s.colour && draw.below(3) == 0;
    s.patternWidth = 1 + int32_t(draw.below(40));
    s.patternHeight = 1 + int32_t(draw.below(40));
    s.sceneWidth = std::max(1, s.patternWidth + int32_t(draw.below(80)) - 8);
    s.sceneHeight = std::max(1, s.patternHeight + int32_t(draw.below(80)) - 8);
    s.margin = int32_t(draw.below(4));
    s.patternMask = draw.below(3) == 0;
    s.sceneMask = !s.colour && draw.below(3) == 0;
    return s;
}

// Pattern and scene planes, masks, and the pattern planted into the scene.
struct Images {
    Plane pattern[3], scene[3], patternMask, sceneMask;

    bool make(Draw& draw, const Shape& s)
    {
        const int planes = s.colour ? 3 : 1;
        for (int c = 0; c < planes; ++c) {
            if (!pattern[c].make(s.patternWidth, s.patternHeight, s.margin) ||
                !scene[c].make(s.sceneWidth, s.sceneHeight, s.margin))
                return false;
            pattern[c].paint(draw, Painter{draw.below(3), draw.byte()});
            scene[c].paint(draw, Painter{draw.below(3), draw.byte()});
        }
        if (s.patternMask && !patternMask.make(s.patternWidth, s.patternHeight, s.margin)) return false;
        if (s.sceneMask && !sceneMask.make(s.sceneWidth, s.sceneHeight, s.margin)) return false;
        const Painter care{draw.below(3), draw.byte()};
        const uint8_t cut = draw.byte();
        if (s.patternMask) patternMask.paint(draw, care, cut);
        if (s.sceneMask) sceneMask.paint(draw, care, cut);
        if (draw.flag()) plant(draw, s, planes);
        return true;
    }

    // A copy of the pattern, brightness and contrast changed, at a drawn place.
    void plant(Draw& draw, const Shape& s, int planes)
    {
        const int32_t x0 = int32_t(draw.below(80)), y0 = int32_t(draw.below(80));
        const int gain = 1 + int(draw.below(4)), offset = int(draw.below(64));
        for (int c = 0; c < planes; ++c)
            for (int32_t y = 0; y < s.patternHeight && y0 + y < s.sceneHeight; ++y)
                for (int32_t x = 0; x < s.patternWidth && x0 + x < s.sceneWidth; ++x) {
                    const int v = pattern[c].at(s.margin + x, s.margin + y) * gain / 2 + offset;
                    scene[c].at(s.margin + x0 + x, s.margin + y0 + y) = uint8_t(std::min(v, 255));
                }
    }
};

void drawTrainParams(Draw& draw, qsrch_normcorr_trainParams& t)
{
    const float coarse[] = {1, 2, 4, 8, 16, 1.5f, 3, 5.3f, 0.5f, kNaN, kInf};
    const int32_t fine[] = {1, 2, 4, 1, 8, 3, 0, -2};
    (void)qsrch_normcorr_trainParams_init(&t);
    t.autoSelectGranularity = draw.flag();
    t.autoSelectByTrial = draw.below(4) == 0;
    t.coarseGranularity = draw.pick(coarse);
    t.fineGranularity = draw.pick(fine);
    t.useSurround = draw.below(4) == 0;
    if (draw.below(4) == 0) t.trialThreshold = draw.byte() / 200.0f;
}

void drawRunParams(Draw& draw, qsrch_normcorr_runParams& r)
{
    const float thresholds[] = {0.3f, 0.5f, 0, 0.1f, 0.9f, 1, 0.7f, -0.1f, kNaN};
    const float overlaps[] = {1, 0.5f, 0, 0.25f, 0.99f, 1.5f, kNaN};
    const double limits[] = {0, kInf, 0.5, 1, 2, 0.9, -1, kNaN};
    const double weights[] = {1, 0, 2, 0.25};
    (void)qsrch_normcorr_runParams_init(&r);
    r.acceptThreshold = draw.pick(thresholds);
    r.confusionThreshold = draw.flag() ? r.acceptThreshold : draw.pick(thresholds);
    r.numToFind = int32_t(draw.below(9)) - (draw.below(8) == 0 ? 1 : 0);
    r.overlapFraction = draw.pick(overlaps);
    if (draw.below(3) == 0)
        r.searchRegion = {double(int(draw.below(64)) - 8), double(int(draw.below(64)) - 8),
                          double(draw.below(64)), draw.flag() ? double(draw.below(64)) : double(kInf)};
    r.adaptiveLevelThresholds = draw.flag();
    r.singlePositionScoring = draw.flag();
    r.limitLevelsToRegion = draw.flag();
    r.absoluteCorrelation = draw.flag();
    r.contrastMin = draw.pick(limits);
    r.contrastMax = draw.flag() ? kInf : draw.pick(limits);
    r.brightnessMin = draw.pick(limits);
    r.brightnessMax = draw.flag() ? kInf : draw.pick(limits);
    for (double& w : r.planeWeights) w = draw.pick(weights);
    r.shapeScoreOptimization = draw.below(4) == 0;
    r.shapeThreshold = draw.byte();
}

// scoredOnly: a scene of the pattern's size scored at its one position,
// whose result is its score alone.
void checkResult(double x, double y, float score, uint32_t accepted, float acceptThreshold, bool scoredOnly)
{
    require(std::isfinite(x) && std::isfinite(y), "a result at a place that is not finite");
    require(score >= 0 && score <= 1 + kSinglePrecisionSlack, "a score outside [0, 1]");
    require((accepted != 0) == (!scoredOnly && score >= acceptThreshold),
            "accepted does not follow the accept threshold");
}

bool scoredOnly(const Shape& s, const qsrch_normcorr_runParams& r)
{
    return r.singlePositionScoring != 0 && s.sceneWidth == s.patternWidth && s.sceneHeight == s.patternHeight;
}

// The allocation that fails, counted from the call it is armed before; -1: none.
struct Failure {
    int64_t inTraining = -1, inSearch = -1;
};

void searchNormcorr(Images& im, const Shape& s, const qsrch_normcorr_trainParams& t,
                    const qsrch_normcorr_runParams& r, const Failure& fail)
{
    qsrch_normcorr_model* model = nullptr;
    qsrch_status st = qsrch_normcorr_model_new(&model);
    require(!QSRCH_FAILED(st), "no model", st);
    qmath_xformLinear identity;
    (void)qmath_xformLinear_initIdentity(&identity);
    const qimg_windowConst* mask = s.patternMask ? &im.patternMask.view : nullptr;
    qsys_memory_failAfter(fail.inTraining);
    if (s.colour && mask != nullptr)
        st = qsrch_normcorr_model_trainMaskWindow3(model, &im.pattern[0].view, &im.pattern[1].view,
                                                   &im.pattern[2].view, mask, &identity, &t);
    else if (s.colour)
        st = qsrch_normcorr_model_trainWindow3(model, &im.pattern[0].view, &im.pattern[1].view,
                                               &im.pattern[2].view, &identity, &t);
    else if (mask != nullptr)
        st = qsrch_normcorr_model_trainMaskWindow(model, &im.pattern[0].view, mask, &identity, &t);
    else
        st = qsrch_normcorr_model_trainWindow(model, &im.pattern[0].view, &identity, &t);
    qsys_memory_failAfter(-1);
    requireNamed(st);
    qstd_vector_qsrch_normcorr_result results;
    require(!QSRCH_FAILED(qstd_vector_qsrch_normcorr_result_constructEmpty(&results)), "no result vector");
    if (!QSRCH_FAILED(st)) {
        qsys_memory_failAfter(fail.inSearch);
        if (s.colour)
            st = qsrch_normcorr_runWindow3(model, &im.scene[0].view, &im.scene[1].view, &im.scene[2].view,
                                           &identity, &r, &results);
        else if (s.sceneMask)
            st = qsrch_normcorr_runMaskWindow(model, &im.scene[0].view, &im.sceneMask.view, &identity, &r, &results);
        else
            st = qsrch_normcorr_runWindow(model, &im.scene[0].view, &identity, &r, &results);
        qsys_memory_failAfter(-1);
        requireNamed(st);
    }
    const qsrch_normcorr_result* first = nullptr;
    uint32_t count = 0;
    if (!QSRCH_FAILED(st)) (void)qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &first, &count);
    for (uint32_t i = 0; i < count; ++i)
        checkResult(first[i].pose.trans.x, first[i].pose.trans.y, first[i].score, first[i].accepted,
                    r.acceptThreshold, scoredOnly(s, r));
    (void)qstd_vector_qsrch_normcorr_result_destruct(&results);
    (void)qsrch_normcorr_model_delete(&model);
}

// The top-level interface takes power-of-two granularities only, as whole numbers.
void searchTopLevel(Images& im, const Shape& s, const qsrch_normcorr_trainParams& t,
                    const qsrch_normcorr_runParams& r, const Failure& fail)
{
    qsrch_trainParams train;
    qsrch_runParams run;
    (void)qsrch_trainParams_init(&train);
    (void)qsrch_runParams_init(&run);
    train.autoSelectGranularity = t.autoSelectGranularity;
    train.autoSelectByTrial = t.autoSelectByTrial;
    train.coarseGranularity = std::isfinite(t.coarseGranularity) ? int32_t(t.coarseGranularity) : 0;
    train.fineGranularity = t.fineGranularity;
    train.useSurround = t.useSurround;
    run.acceptThreshold = r.acceptThreshold;
    run.confusionThreshold = r.confusionThreshold;
    run.numToFind = r.numToFind;
    run.overlapFraction = r.overlapFraction;
    qsrch_model model;
    qsrch_status st = qsrch_model_construct(&model);
    require(!QSRCH_FAILED(st), "no model", st);
    qmath_xformPtrhConst identity;  // the images' own: the identity
    (void)qmath_xformPtrhConst_construct(&identity);
    st = qimg_imageConst_getImageFromClientXform(qimg_image_asConst(&im.pattern[0].image), &identity);
    require(!QSRCH_FAILED(st), "no transform", st);
    qsys_memory_failAfter(fail.inTraining);
    st = s.patternMask ? qsrch_model_trainMaskWindow(&model, &im.pattern[0].view, &im.patternMask.view, &identity,
                                                     &train)
                       : qsrch_model_trainWindow(&model, &im.pattern[0].view, &identity, &train);
    qsys_memory_failAfter(-1);
    requireNamed(st);
    qsrch_resultSet set;
    (void)qsrch_resultSet_construct(&set);
    if (!QSRCH_FAILED(st)) {
        qsys_memory_failAfter(fail.inSearch);
        st = s.sceneMask ? qsrch_runMaskWindow(&model, &im.scene[0].view, &im.sceneMask.view, &identity, &run, &set)
                         : qsrch_runWindow(&model, &im.scene[0].view, &identity, &run, &set);
        qsys_memory_failAfter(-1);
        requireNamed(st);
    }
    for (int32_t i = 0; !QSRCH_FAILED(st) && i < set.count; ++i)
        checkResult(set.entries[i].point.x, set.entries[i].point.y, set.entries[i].score, set.entries[i].accepted,
                    run.acceptThreshold, s.sceneWidth == s.patternWidth && s.sceneHeight == s.patternHeight);
    (void)qsrch_resultSet_destruct(&set);
    (void)qmath_xformPtrhConst_destruct(&identity);
    (void)qsrch_model_destruct(&model);
}

void trainAndSearch(Draw& draw)
{
    const Shape shape = drawShape(draw);
    qsrch_normcorr_trainParams train;
    qsrch_normcorr_runParams run;
    drawTrainParams(draw, train);
    drawRunParams(draw, run);
    Failure fail;
    const uint32_t failing = draw.below(8);
    if (failing == 1) fail.inTraining = draw.byte();
    if (failing == 2) fail.inSearch = draw.byte();
    Images images;
    require(images.make(draw, shape), "no images");
    if (shape.topLevel)
        searchTopLevel(images, shape, train, run, fail);
    else
        searchNormcorr(images, shape, train, run, fail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int64_t blocksBefore = qsys_memory_blocksInUse();
    Draw draw(data, size);
    trainAndSearch(draw);
    require(qsys_memory_blocksInUse() == blocksBefore, "a heap block of the q* libraries was not given back");
    return 0;
}
