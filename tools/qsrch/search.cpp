// One search path for grey and colour: the normalized-correlation interface,
// with its parameters made from the top-level records by the library's own
// converters, exactly as the top-level model and run make them. That path
// alone reports contrast and brightness, takes the options the top-level
// lacks (search region, limits, plane weights, the surrounding band of a
// --roi), and with those left alone gives the top-level run's answers.
#include "search.hpp"

#include <algorithm>
#include <cmath>

#include "tool_error.hpp"

namespace qtool {

namespace {

// The search merges a new result only with the nearest result it overlaps,
// so two results it keeps may still share more than the overlap fraction of
// the pattern (both overlap a third that was replaced); the tool promises a
// user asking for several results that no match comes twice, so it drops,
// best first, every result that shares more than that with a better one.
void dropOverlapping(std::vector<Found>* found, int32_t width, int32_t height, double overlapFraction)
{
    if (!(overlapFraction < 1.0)) return;
    const double limit = overlapFraction * double(width) * double(height);
    std::vector<Found> kept;
    for (const Found& f : *found) {
        bool apart = true;
        for (const Found& k : kept) {
            const double sharedX = std::max(0.0, width - std::fabs(f.x - k.x));
            const double sharedY = std::max(0.0, height - std::fabs(f.y - k.y));
            apart = apart && sharedX * sharedY <= limit;
        }
        if (apart) kept.push_back(f);
    }
    found->swap(kept);
}

std::string sizeText(int32_t width, int32_t height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

void check(qsrch_status s, const std::string& what)
{
    if (QSRCH_FAILED(s)) throw ToolError(what + ": " + qsrch_statusName(s));
}

class NormcorrModel {
public:
    NormcorrModel() { check(qsrch_normcorr_model_new(&model_), "model"); }
    ~NormcorrModel() { (void)qsrch_normcorr_model_delete(&model_); }
    NormcorrModel(const NormcorrModel&) = delete;
    NormcorrModel& operator=(const NormcorrModel&) = delete;
    qsrch_normcorr_model* get() const { return model_; }

private:
    qsrch_normcorr_model* model_ = nullptr;
};

class ResultVector {
public:
    ResultVector() { check(qstd_vector_qsrch_normcorr_result_constructEmpty(&results_), "results"); }
    ~ResultVector() { (void)qstd_vector_qsrch_normcorr_result_destruct(&results_); }
    ResultVector(const ResultVector&) = delete;
    ResultVector& operator=(const ResultVector&) = delete;
    qstd_vector_qsrch_normcorr_result* get() { return &results_; }

private:
    qstd_vector_qsrch_normcorr_result results_;
};

// The planes searched: three for colour search, else the grey one. A grey
// image is searched in its own pixels (one plane standing for all three in
// colour search); only an RGB image is split or turned to luma, into planes
// owned here. The image must outlive its Planes.
struct Planes {
    int32_t width = 0, height = 0;
    const uint8_t* data[3] = {};

    Planes(const Image& image, bool colour) : width(image.width), height(image.height)
    {
        const int count = colour ? 3 : 1;
        for (int c = 0; c < count; ++c) {
            if (image.channels == 1) {
                data[c] = image.pixels.data();
            } else {
                owned_[c] = colour ? channelPlane(image, c) : lumaPlane(image);
                data[c] = owned_[c].data();
            }
        }
    }
    // data[] may point into owned_.
    Planes(const Planes&) = delete;
    Planes& operator=(const Planes&) = delete;

    qimg_windowConst view(int c) const
    {
        qimg_windowConst v{};
        v.width = v.imageWidth = width;
        v.height = v.imageHeight = height;
        v.depth = QIMG_DEPTH_8U;
        v.rowStride = width;
        v.firstPixel = v.imageFirstPixel = data[c];
        return v;
    }
    // Narrowed to rect and moved to origin (0, 0): the model then works in
    // the pattern's own pixels, so a result's translation is where the
    // rectangle's top-left pixel lies in the scene.
    qimg_windowConst view(int c, const Rect32& rect) const
    {
        qimg_windowConst v = view(c);
        check(qimg_windowConst_window(&v, rect.x, rect.y, rect.width, rect.height, nullptr), "pattern view");
        v.x = v.y = 0;
        return v;
    }

private:
    std::vector<uint8_t> owned_[3];
};

Image readMask(const std::string& path, const DecodeLimits& limits, int32_t width, int32_t height,
               const std::string& ofWhat)
{
    Image mask = toGrey(readImage(path, limits));
    if (mask.width != width || mask.height != height)
        throw ToolError(inputName(path) + ": mask is " + sizeText(mask.width, mask.height) + ", " + ofWhat +
                        " is " + sizeText(width, height));
    return mask;
}

}  // namespace

struct Searcher::State {
    NormcorrModel model;
    qsrch_normcorr_runParams runParams;
    DecodeLimits limits;
    bool colour = false;
    Rect32 rect{};
    Image sceneMask;
};

Searcher::Searcher(const FindSettings& settings) : state_(std::make_unique<State>())
{
    State& st = *state_;
    st.colour = settings.colour;
    st.limits = settings.limits;
    const std::string patternName = inputName(settings.pattern);
    const Image pattern = readImage(settings.pattern, st.limits);
    st.rect = settings.roi.value_or(Rect32{0, 0, pattern.width, pattern.height});
    const Rect32& r = st.rect;
    const int64_t right = int64_t(r.x) + r.width, bottom = int64_t(r.y) + r.height;
    if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || right > pattern.width || bottom > pattern.height)
        throw ToolError("--roi " + std::to_string(r.x) + "," + std::to_string(r.y) + "," +
                        std::to_string(r.width) + "," + std::to_string(r.height) + ": not inside " +
                        patternName + " (" + sizeText(pattern.width, pattern.height) + ")");
    if (settings.train.useSurround &&
        (r.x < 2 || r.y < 2 || right + 2 > pattern.width || bottom + 2 > pattern.height))
        throw ToolError("--surround: the --roi needs 2 pixels of " + patternName + " on every side");

    qsrch_normcorr_trainParams trainParams;
    check(qsrch_normcorr_trainParams_initFromTrainParams(&trainParams, &settings.train), "--granularity");
    qmath_xformLinear identity;
    check(qmath_xformLinear_initIdentity(&identity), "transform");

    const Planes planes(pattern, st.colour);
    const qimg_windowConst p0 = planes.view(0, r);
    qsrch_status s;
    if (!settings.patternMask.empty()) {
        const Image mask =
            readMask(settings.patternMask, st.limits, pattern.width, pattern.height, "the pattern");
        const Planes maskPlane(mask, false);
        const qimg_windowConst m = maskPlane.view(0, r);
        if (st.colour) {
            const qimg_windowConst p1 = planes.view(1, r), p2 = planes.view(2, r);
            s = qsrch_normcorr_model_trainMaskWindow3(st.model.get(), &p0, &p1, &p2, &m, &identity,
                                                      &trainParams);
        } else {
            s = qsrch_normcorr_model_trainMaskWindow(st.model.get(), &p0, &m, &identity, &trainParams);
        }
    } else if (st.colour) {
        const qimg_windowConst p1 = planes.view(1, r), p2 = planes.view(2, r);
        s = qsrch_normcorr_model_trainWindow3(st.model.get(), &p0, &p1, &p2, &identity, &trainParams);
    } else {
        s = qsrch_normcorr_model_trainWindow(st.model.get(), &p0, &identity, &trainParams);
    }
    check(s, patternName + ": cannot train");

    if (!settings.sceneMask.empty()) st.sceneMask = toGrey(readImage(settings.sceneMask, st.limits));

    st.runParams = searchRunParams(settings);
}

Searcher::~Searcher() = default;

int32_t Searcher::patternWidth() const { return state_->rect.width; }
int32_t Searcher::patternHeight() const { return state_->rect.height; }
const DecodeLimits& Searcher::limits() const { return state_->limits; }

std::vector<Found> Searcher::search(const Image& scene, const std::string& name) const
{
    const State& st = *state_;
    const Planes planes(scene, st.colour);
    qmath_xformLinear identity;
    check(qmath_xformLinear_initIdentity(&identity), "transform");
    ResultVector results;
    const qimg_windowConst v0 = planes.view(0);
    qsrch_status s;
    if (st.colour) {
        const qimg_windowConst v1 = planes.view(1), v2 = planes.view(2);
        s = qsrch_normcorr_runWindow3(st.model.get(), &v0, &v1, &v2, &identity, &st.runParams, results.get());
    } else if (!st.sceneMask.pixels.empty()) {
        if (st.sceneMask.width != scene.width || st.sceneMask.height != scene.height)
            throw ToolError(name + ": scene is " + sizeText(scene.width, scene.height) +
                            ", the scene mask is " + sizeText(st.sceneMask.width, st.sceneMask.height));
        const Planes maskPlane(st.sceneMask, false);
        const qimg_windowConst m = maskPlane.view(0);
        s = qsrch_normcorr_runMaskWindow(st.model.get(), &v0, &m, &identity, &st.runParams, results.get());
    } else {
        s = qsrch_normcorr_runWindow(st.model.get(), &v0, &identity, &st.runParams, results.get());
    }
    if (s == QSRCH_E_IMAGE_TOO_SMALL)
        throw ToolError(name + ": scene of " + sizeText(scene.width, scene.height) +
                        " is not larger than the pattern of " + sizeText(st.rect.width, st.rect.height));
    check(s, name + ": search failed");

    const qsrch_normcorr_result* first = nullptr;
    uint32_t count = 0;
    check(qstd_vector_qsrch_normcorr_result_getBeginSizeConst(results.get(), &first, &count), "results");
    std::vector<Found> found;
    found.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const qsrch_normcorr_result& r = first[i];
        found.push_back(
            Found{r.pose.trans.x, r.pose.trans.y, r.score, r.accepted != 0, r.contrast, r.brightness});
    }
    // A search that starts at full resolution with the overlap test off
    // reports every peak of the scene, unsorted; the tool's answer is the
    // best --num, as on every other path.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.score > b.score; });
    dropOverlapping(&found, st.rect.width, st.rect.height, st.runParams.overlapFraction);
    if (found.size() > size_t(st.runParams.numToFind)) found.resize(size_t(st.runParams.numToFind));
    return found;
}

}  // namespace qtool
