// Accuracy of the search on real photographs, against exhaustive correlation
// and the known truth.
//
// Each case cuts a pattern from a photograph of bench/photos (16 x 16,
// 32 x 32, 64 x 48 or 128 x 96 pixels, at an integer place or at a random
// sub-pixel place by bilinear interpolation), takes a scene around it from
// the same photograph and changes the scene by one variant: unchanged,
// brightness, contrast, noise, blur, a grey box over a fifth of the pattern
// (occlusion), or two more exact copies of the pattern pasted elsewhere
// (three copies). Cases are seeded by photograph, size, place kind and
// repetition, so the variants of one case share the pattern and its place.
//
// Three answers are compared with the truth, per case:
//   search        qsrch_model_train and qsrch_run at default parameters
//                 (numToFind 1, or 3 for three copies);
//   search c1.0   the same with confusionThreshold 1.0;
//   exhaustive    the full-resolution score space of this library's kernels,
//                 its peaks and the same sub-pixel fit
//                 (qsrch_DcomputeNormalizedCorrelationPeaks): its best peak,
//                 or its three best for three copies.
// An instance is found when a reported position lies within 1 pixel of it.
// "lost" counts the instances exhaustive correlation finds, as its unique
// best place (or among its three best), and the search misses. Errors are
// the distances of found positions from the truth, for integer and for
// sub-pixel places; time is per case, and the search's share of the
// exhaustive time anchors the figures across machines and runs.
//
// A second figure says how many of the default search's losses are scenes
// with another place, sharing no pixel with an instance, that exhaustive
// correlation scores at the default confusion threshold or more: there the
// search may stop at that place, as its certainty rule says.
//
//   accuracy [--photos DIR] [--reps N] [--list] [--dump DIR] [--results FILE]
//            [--neighbourhoods FILE] [--level-neighbourhoods FILE] [--start-peaks FILE]
// --list prints every lost instance, --dump writes its pattern and scene as
// binary PGM files, --results writes every answer of every case to FILE at
// full precision, so two builds can be compared for identical results. The
// other options write text tables for studies of the
// sub-pixel fit and of the start level's peaks (see the functions that
// write them).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qsrch/qsrch.h>

#include "photos.hpp"

namespace {

using bench::check;
using bench::Grey;

bool writePgm(const std::string& path, const Grey& g)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::fprintf(f, "P5\n%d %d\n255\n", g.width, g.height);
    const bool ok = std::fwrite(g.pixels.data(), 1, g.pixels.size(), f) == g.pixels.size();
    return std::fclose(f) == 0 && ok;
}

uint8_t toPixel(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

double bilinear(const Grey& g, double x, double y)
{
    const int32_t x0 = int32_t(std::floor(x)), y0 = int32_t(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    const int32_t x1 = std::min(x0 + 1, g.width - 1), y1 = std::min(y0 + 1, g.height - 1);
    return (1 - fy) * ((1 - fx) * g.at(x0, y0) + fx * g.at(x1, y0)) +
           fy * ((1 - fx) * g.at(x0, y1) + fx * g.at(x1, y1));
}

double deviation(const Grey& g)
{
    double sum = 0, sumSq = 0;
    for (uint8_t v : g.pixels) sum += v, sumSq += double(v) * v;
    const double n = double(g.pixels.size()), mean = sum / n;
    return std::sqrt(std::max(0.0, sumSq / n - mean * mean));
}

// ---- Cases -------------------------------------------------------------------

enum Variant { kUnchanged, kBrightness, kContrast, kNoise, kBlur, kOcclusion, kThreeCopies, kVariants };
const char* const kVariantNames[kVariants] = {"unchanged", "brightness", "contrast",   "noise",
                                              "blur",      "occlusion",  "three copies"};
struct Size {
    int32_t w, h;
};
const Size kSizes[] = {{16, 16}, {32, 32}, {64, 48}, {128, 96}};

struct Point {
    double x, y;
};

struct Case {
    std::string photo;
    Size size;
    bool subPixel;
    int rep;
    Grey pattern, scene;
    std::vector<Point> truth;
};

uint32_t seedOf(size_t photo, size_t size, bool subPixel, int rep, int variant)
{
    std::seed_seq seq{uint32_t(photo), uint32_t(size), uint32_t(subPixel), uint32_t(rep), uint32_t(variant)};
    uint32_t seed;
    seq.generate(&seed, &seed + 1);
    return seed;
}

// The pattern cut at (x, y) (bilinear between pixels), and a scene of the
// photograph around it; false when no textured place turned up.
bool cutPatternAndScene(const Grey& photo, Size size, bool subPixel, std::mt19937& rng, Case* c)
{
    const int32_t sw = std::min(photo.width, std::max(3 * size.w, 256));
    const int32_t sh = std::min(photo.height, std::max(3 * size.h, 192));
    std::uniform_int_distribution<int32_t> px(0, photo.width - size.w - 1), py(0, photo.height - size.h - 1);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (int tries = 0; tries < 100; ++tries) {
        const int32_t x = px(rng), y = py(rng);
        const double fx = subPixel ? fraction(rng) : 0.0, fy = subPixel ? fraction(rng) : 0.0;
        Grey pattern(size.w, size.h);
        for (int32_t v = 0; v < size.h; ++v)
            for (int32_t u = 0; u < size.w; ++u) pattern.at(u, v) = toPixel(bilinear(photo, x + fx + u, y + fy + v));
        // A user cuts a pattern of something, not of a flat wall.
        if (deviation(pattern) < 10.0) continue;
        std::uniform_int_distribution<int32_t> cx(std::max(0, x + size.w + 1 - sw), std::min(x, photo.width - sw));
        std::uniform_int_distribution<int32_t> cy(std::max(0, y + size.h + 1 - sh), std::min(y, photo.height - sh));
        const int32_t ox = cx(rng), oy = cy(rng);
        c->scene = Grey(sw, sh);
        for (int32_t v = 0; v < sh; ++v)
            for (int32_t u = 0; u < sw; ++u) c->scene.at(u, v) = photo.at(ox + u, oy + v);
        c->pattern = std::move(pattern);
        c->truth = {{x - ox + fx, y - oy + fy}};
        return true;
    }
    return false;
}

void pasteCopies(Case* c, std::mt19937& rng)
{
    const int32_t w = c->pattern.width, h = c->pattern.height;
    std::uniform_int_distribution<int32_t> qx(0, c->scene.width - w), qy(0, c->scene.height - h);
    for (int tries = 0; tries < 500 && c->truth.size() < 3; ++tries) {
        const int32_t x = qx(rng), y = qy(rng);
        bool apart = true;
        for (const Point& t : c->truth) apart &= std::fabs(t.x - x) >= w + 2 || std::fabs(t.y - y) >= h + 2;
        if (!apart) continue;
        for (int32_t v = 0; v < h; ++v)
            for (int32_t u = 0; u < w; ++u) c->scene.at(x + u, y + v) = c->pattern.at(u, v);
        c->truth.push_back({double(x), double(y)});
    }
}

// A separable Gaussian of sigma 1.2, renormalised at the borders.
void blur(Grey* g)
{
    constexpr int kRadius = 3;
    double taps[2 * kRadius + 1];
    for (int k = -kRadius; k <= kRadius; ++k) taps[k + kRadius] = std::exp(-0.5 * k * k / (1.2 * 1.2));
    std::vector<double> rows(g->pixels.size());
    auto filter = [&](auto get, int32_t at, int32_t n) {
        double sum = 0, weight = 0;
        for (int k = -kRadius; k <= kRadius; ++k)
            if (at + k >= 0 && at + k < n) sum += taps[k + kRadius] * get(at + k), weight += taps[k + kRadius];
        return sum / weight;
    };
    for (int32_t y = 0; y < g->height; ++y)
        for (int32_t x = 0; x < g->width; ++x)
            rows[size_t(y) * g->width + x] = filter([&](int32_t i) { return double(g->at(i, y)); }, x, g->width);
    for (int32_t y = 0; y < g->height; ++y)
        for (int32_t x = 0; x < g->width; ++x)
            g->at(x, y) = toPixel(filter([&](int32_t j) { return rows[size_t(j) * g->width + x]; }, y, g->height));
}

void applyVariant(Variant variant, Case* c, std::mt19937& rng)
{
    Grey& s = c->scene;
    std::bernoulli_distribution coin(0.5);
    switch (variant) {
    case kUnchanged: break;
    case kBrightness: {
        const int shift = coin(rng) ? 30 : -30;
        for (uint8_t& v : s.pixels) v = toPixel(v + shift);
        break;
    }
    case kContrast: {
        const double gain = coin(rng) ? 1.3 : 0.7;
        for (uint8_t& v : s.pixels) v = toPixel(128 + gain * (v - 128));
        break;
    }
    case kNoise: {
        std::normal_distribution<double> noise(0.0, 8.0);
        for (uint8_t& v : s.pixels) v = toPixel(v + noise(rng));
        break;
    }
    case kBlur: blur(&s); break;
    case kOcclusion: {
        const int32_t w = c->pattern.width, h = c->pattern.height, bw = w / 2, bh = (2 * h + 2) / 5;
        std::uniform_int_distribution<int32_t> bx(0, w - bw), by(0, h - bh);
        const int32_t x0 = int32_t(std::lround(c->truth[0].x)) + bx(rng);
        const int32_t y0 = int32_t(std::lround(c->truth[0].y)) + by(rng);
        for (int32_t y = y0; y < std::min(y0 + bh, s.height); ++y)
            for (int32_t x = x0; x < std::min(x0 + bw, s.width); ++x) s.at(x, y) = 128;
        break;
    }
    case kThreeCopies: pasteCopies(c, rng); break;
    default: break;
    }
}

// ---- The three answers ---------------------------------------------------------

enum Answer { kSearch, kSearchCertain, kExhaustive, kAnswers };
// The library's default confusion threshold: the search stops at the first
// refined candidate that reaches it.
constexpr float kDefaultConfusion = 0.5f;
const char* const kAnswerNames[kAnswers] = {"search", "search c1.0", "exhaustive"};

struct Found {
    Point at;
    double score;
    int32_t ix = 0, iy = 0;  // the integer position the fit started from (exhaustive only)
};

double now()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

qimg_image imageOf(const Grey& g)
{
    qimg_image image;
    check(qimg_image_construct(&image, QIMG_DEPTH_8U, g.width, g.height), "image");
    for (int32_t y = 0; y < g.height; ++y)
        std::memcpy(static_cast<uint8_t*>(image.firstPixel) + size_t(y) * size_t(image.rowStride),
                    &g.pixels[size_t(y) * g.width], size_t(g.width));
    return image;
}

// Default search of the case's scene; `ms` gets the time of the run alone.
std::vector<Found> search(const qsrch_model& model, const Case& c, float confusion, double* ms)
{
    qimg_image scene = imageOf(c.scene);
    qsrch_runParams rp;
    qsrch_runParams_init(&rp);
    rp.confusionThreshold = confusion;
    rp.numToFind = int32_t(c.truth.size());
    qsrch_resultSet set;
    qsrch_resultSet_construct(&set);
    const double t0 = now();
    check(qsrch_run(&model, qimg_image_asConst(&scene), &rp, &set), "run");
    *ms = now() - t0;
    std::vector<Found> found;
    for (int32_t k = 0; k < set.count; ++k) found.push_back({{set.entries[k].point.x, set.entries[k].point.y},
                                                             double(set.entries[k].score)});
    qsrch_resultSet_destruct(&set);
    qimg_image_destruct(&scene);
    return found;
}

double distance(const Point& a, const Point& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The best peaks of the full score space, at least 1 pixel apart, best
// first, as many as the case has instances; *unique is false when the last
// of them ties with the next best peak. *rival is the best score of a place
// that shares no pixel with any instance.
// Whether a placement at `at` shares pixels with one of the case's instances.
bool overlapsAnInstance(const Case& c, const Point& at)
{
    for (const Point& t : c.truth)
        if (std::fabs(at.x - t.x) < c.pattern.width && std::fabs(at.y - t.y) < c.pattern.height) return true;
    return false;
}

std::vector<Found> exhaustive(const Case& c, double* ms, bool* unique, double* rival)
{
    const qimg_windowConst pattern = c.pattern.window(), scene = c.scene.window();
    qsrch_normalizedCorrelationParams ncp;
    qsrch_normalizedCorrelationParams_init(&ncp);
    qstd_vector_qsrch_detectedPosePeak peaks;
    check(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&peaks), "peaks");
    const double t0 = now();
    check(qsrch_DcomputeNormalizedCorrelationPeaks(&pattern, nullptr, &scene, 0.05, &ncp, &peaks), "peaks");
    *ms = now() - t0;
    std::vector<Found> all;
    const auto* p = static_cast<const qsrch_detectedPosePeak*>(peaks.begin);
    for (size_t k = 0; k < peaks.size; ++k)
        all.push_back({{p[k].pose.trans.x, p[k].pose.trans.y}, p[k].score, p[k].integerPosition.first,
                       p[k].integerPosition.second});
    qstd_vector_qsrch_detectedPosePeak_destruct(&peaks);
    std::stable_sort(all.begin(), all.end(), [](const Found& a, const Found& b) { return a.score > b.score; });
    *rival = 0;
    for (const Found& f : all)
        if (!overlapsAnInstance(c, f.at)) {
            *rival = f.score;
            break;
        }
    std::vector<Found> best;
    *unique = true;
    for (const Found& f : all) {
        bool apart = true;
        for (const Found& b : best) apart &= distance(f.at, b.at) > 1.0;
        if (!apart) continue;
        if (best.size() == c.truth.size()) {
            *unique = f.score < best.back().score - 1e-9;
            break;
        }
        best.push_back(f);
    }
    return best;
}

// One line per single-instance case for studies of the sub-pixel fit: the
// case, the truth, the exhaustive best peak (fitted and integer position),
// the searches' nearest answers, and the scores of the 7 x 7 positions around
// the exhaustive best peak's integer position (nan outside the space).
void writeNeighbourhood(FILE* out, const Case& c, Variant v, const std::vector<Found> (&answers)[kAnswers])
{
    if (c.truth.size() != 1 || answers[kExhaustive].empty()) return;
    const Found& best = answers[kExhaustive][0];
    std::fprintf(out, "%s %d %d %d %d %d %.6f %.6f %.6f %.6f %d %d %.9f", c.photo.c_str(), c.size.w, c.size.h,
                 int(c.subPixel), c.rep, int(v), c.truth[0].x, c.truth[0].y, best.at.x, best.at.y, best.ix, best.iy,
                 best.score);
    for (int a : {kSearch, kSearchCertain}) {
        Point nearest{NAN, NAN};
        for (const Found& f : answers[a])
            if (std::isnan(nearest.x) || distance(f.at, c.truth[0]) < distance(nearest, c.truth[0])) nearest = f.at;
        std::fprintf(out, " %.9f %.9f", nearest.x, nearest.y);
    }
    qsrch_normalizedCorrelationParams ncp;
    qsrch_normalizedCorrelationParams_init(&ncp);
    const qimg_windowConst pattern = c.pattern.window();
    for (int32_t dy = -3; dy <= 3; ++dy)
        for (int32_t dx = -3; dx <= 3; ++dx) {
            const int32_t x = best.ix + dx, y = best.iy + dy;
            double score = NAN;
            if (x >= 0 && y >= 0 && x + c.pattern.width <= c.scene.width && y + c.pattern.height <= c.scene.height) {
                qimg_windowConst at = c.scene.window();
                at.firstPixel = &c.scene.pixels[size_t(y) * size_t(c.scene.width) + size_t(x)];
                at.width = c.pattern.width, at.height = c.pattern.height;
                check(qsrch_DcomputeNormalizedCorrelationSpace(&pattern, nullptr, &at, &ncp, &score, 1), "score");
            }
            std::fprintf(out, " %.17g", score);
        }
    std::fprintf(out, "\n");
}

// The score of pattern level `pattern` at position (x, y) of source level
// `source`; nan where the pattern does not fit.
double levelScore(const qsrch_normcorr_level_& pattern, const qsrch_normcorr_level_& source, int32_t x, int32_t y)
{
    const qimg_windowConst& p = pattern.planeWindow[0];
    qimg_windowConst at = source.planeWindow[0];
    if (x < 0 || y < 0 || x + p.width > at.width || y + p.height > at.height) return NAN;
    at.firstPixel = static_cast<const uint8_t*>(at.firstPixel) + size_t(y) * size_t(at.rowStride) + size_t(x);
    at.width = p.width, at.height = p.height;
    qsrch_normalizedCorrelationParams ncp;
    qsrch_normalizedCorrelationParams_init(&ncp);
    double score = NAN;
    check(qsrch_DcomputeNormalizedCorrelationSpace(&p, &pattern.maskWindow, &at, &ncp, &score, 1), "score");
    return score;
}

// One line per reduced level of a single-instance case, for studies of the
// fit on the levels the search starts and refines on: the level, the truth
// in its pixels, the local maximum (along the axes) nearest to it and the
// scores of the 7 x 7 positions around that maximum.
void writeLevelNeighbourhoods(FILE* out, const Case& c, Variant v, const qsrch_model& model)
{
    if (c.truth.size() != 1) return;
    const qsrch_normcorr_model& m = *model.normcorrModel;
    const auto* patterns = static_cast<const qsrch_normcorr_level_*>(m.levels.begin);
    const int32_t count = int32_t(m.levels.size);
    qstd_vector_qsrch_normcorr_level_ sources;
    check(qstd_vector_qsrch_normcorr_level__constructEmpty(&sources), "levels");
    const qimg_windowConst scene = c.scene.window();
    check(qsrch_normcorr_generateSrcLevels(&scene, &m.levels, count, &sources), "levels");
    const auto* source = static_cast<const qsrch_normcorr_level_*>(sources.begin);
    for (int32_t l = 1; l < count; ++l) {
        const double tx = c.truth[0].x / source[l].baseFromLevel.matrix.a11;
        const double ty = c.truth[0].y / source[l].baseFromLevel.matrix.a22;
        auto at = [&](int32_t x, int32_t y) { return levelScore(patterns[l], source[l], x, y); };
        int32_t bx = 0, by = 0;
        double best = 1e300;
        for (int32_t y = int32_t(std::lround(ty)) - 2; y <= int32_t(std::lround(ty)) + 2; ++y)
            for (int32_t x = int32_t(std::lround(tx)) - 2; x <= int32_t(std::lround(tx)) + 2; ++x) {
                const double s = at(x, y);
                if (!(s > at(x - 1, y)) || !(s > at(x + 1, y)) || !(s > at(x, y - 1)) || !(s > at(x, y + 1))) continue;
                if (std::hypot(x - tx, y - ty) < best) best = std::hypot(x - tx, y - ty), bx = x, by = y;
            }
        if (best > 1e299) continue;
        std::fprintf(out, "%s %d %d %d %d %d %d %.3f %.6f %.6f %d %d", c.photo.c_str(), c.size.w, c.size.h,
                     int(c.subPixel), c.rep, int(v), l, source[l].baseFromLevel.matrix.a11, tx, ty, bx, by);
        for (int32_t y = by - 3; y <= by + 3; ++y)
            for (int32_t x = bx - 3; x <= bx + 3; ++x) std::fprintf(out, " %.17g", at(x, y));
        std::fprintf(out, "\n");
    }
    check(qstd_vector_qsrch_normcorr_level__destruct(&sources), "levels");
}

// The best exhaustive score within two level pixels of a start-level peak
// at `at`, at full resolution.
double reachOf(const Point& at, double scale, const qstd_vector_qsrch_detectedPosePeak& exhaustive)
{
    const auto* e = static_cast<const qsrch_detectedPosePeak*>(exhaustive.begin);
    double reach = 0;
    for (size_t j = 0; j < exhaustive.size; ++j)
        if (std::fabs(e[j].pose.trans.x - at.x * scale) <= 2 * scale &&
            std::fabs(e[j].pose.trans.y - at.y * scale) <= 2 * scale)
            reach = std::max(reach, e[j].score);
    return reach;
}

// One line per peak of the start level of a single-instance case, in the
// detector's order, for studies of that order: its rank, integer and fitted
// position in level pixels, score, the scores of the 5 x 5 positions around
// its integer position (the fit may have stepped it from its maximum),
// its distance from the truth in level pixels, and the best exhaustive score
// within two level pixels of it at full resolution (what following it could
// reach, roughly).
void writeStartPeaks(FILE* out, const Case& c, Variant v, const qsrch_model& model)
{
    if (c.truth.size() != 1) return;
    const qsrch_normcorr_model& m = *model.normcorrModel;
    const int32_t count = int32_t(m.levels.size), l = count - 1;
    const auto& pattern = static_cast<const qsrch_normcorr_level_*>(m.levels.begin)[l];
    qstd_vector_qsrch_normcorr_level_ sources;
    check(qstd_vector_qsrch_normcorr_level__constructEmpty(&sources), "levels");
    const qimg_windowConst scene = c.scene.window(), full = c.pattern.window();
    check(qsrch_normcorr_generateSrcLevels(&scene, &m.levels, count, &sources), "levels");
    const auto& source = static_cast<const qsrch_normcorr_level_*>(sources.begin)[l];
    const double scale = source.baseFromLevel.matrix.a11;
    qsrch_normalizedCorrelationParams ncp;
    qsrch_normalizedCorrelationParams_init(&ncp);
    qstd_vector_qsrch_detectedPosePeak start, exhaustive;
    check(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&start), "peaks");
    check(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&exhaustive), "peaks");
    check(qsrch_DcomputeNormalizedCorrelationPeaks(&pattern.planeWindow[0], &pattern.maskWindow,
                                                   &source.planeWindow[0], 0.15, &ncp, &start), "peaks");
    check(qsrch_DcomputeNormalizedCorrelationPeaks(&full, nullptr, &scene, 0.05, &ncp, &exhaustive), "peaks");
    const auto* p = static_cast<const qsrch_detectedPosePeak*>(start.begin);
    for (size_t k = 0; k < start.size && k < 40; ++k) {
        const Point at{p[k].pose.trans.x, p[k].pose.trans.y};
        const qstd_pair32 i = p[k].integerPosition;
        std::fprintf(out, "%s %d %d %d %d %d %zu %d %d %.6f %.6f %.9f", c.photo.c_str(), c.size.w, c.size.h,
                     int(c.subPixel), c.rep, int(v), k, i.first, i.second, at.x, at.y, p[k].score);
        for (int32_t dy = -2; dy <= 2; ++dy)
            for (int32_t dx = -2; dx <= 2; ++dx)
                std::fprintf(out, " %.9g", levelScore(pattern, source, i.first + dx, i.second + dy));
        std::fprintf(out, " %.4f %.6f\n", std::hypot(at.x - c.truth[0].x / scale, at.y - c.truth[0].y / scale),
                     reachOf(at, scale, exhaustive));
    }
    check(qstd_vector_qsrch_detectedPosePeak_destruct(&start), "peaks");
    check(qstd_vector_qsrch_detectedPosePeak_destruct(&exhaustive), "peaks");
    check(qstd_vector_qsrch_normcorr_level__destruct(&sources), "levels");
}

// ---- Tallies ---------------------------------------------------------------------

constexpr double kFoundWithin = 1.0;

struct Tally {
    int instances = 0, found = 0, lost = 0;
    // Instances exhaustive correlation finds in scenes where no other place
    // scores the default confusion threshold, and those lost among them; and
    // the lost ones whose scenes have such a place.
    int unrivalled = 0, lostUnrivalled = 0, lostToRival = 0;
    std::vector<double> errors[2];  // integer places, sub-pixel places
    double ms = 0;
    void add(const std::vector<Found>& answer, const Point& truth, bool subPixel, bool exhaustiveFinds, bool rivalled,
             bool* hit)
    {
        ++instances;
        double nearest = 1e300;
        for (const Found& f : answer) nearest = std::min(nearest, distance(f.at, truth));
        *hit = nearest <= kFoundWithin;
        if (*hit) ++found, errors[subPixel].push_back(nearest);
        if (exhaustiveFinds && !rivalled) ++unrivalled, lostUnrivalled += !*hit;
        if (!*hit && exhaustiveFinds) ++lost, lostToRival += rivalled;
    }
};

double quantile(std::vector<double> v, double q)
{
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[size_t(std::floor(q * double(v.size() - 1) + 0.5))];
}


void printTable(const char* title, const Tally (&t)[kAnswers], int cases)
{
    std::printf("\n%s: %d cases, %d instances\n", title, cases, t[kExhaustive].instances);
    std::printf("  %-12s %7s %5s %9s %9s %9s %9s %9s\n", "", "found", "lost", "int med", "int p95", "sub med",
                "sub p95", "ms/case");
    for (int a = 0; a < kAnswers; ++a) {
        const Tally& r = t[a];
        char lost[16];
        std::snprintf(lost, sizeof lost, a == kExhaustive ? "-" : "%d", r.lost);
        std::printf("  %-12s %6.1f%% %5s %9.4f %9.4f %9.4f %9.4f %9.3f\n", kAnswerNames[a],
                    100.0 * r.found / std::max(1, r.instances), lost, quantile(r.errors[0], 0.5),
                    quantile(r.errors[0], 0.95), quantile(r.errors[1], 0.5), quantile(r.errors[1], 0.95),
                    r.ms / std::max(1, cases));
    }
    std::printf("  search time / exhaustive time: %.2f%% (c1.0: %.2f%%)\n", 100.0 * t[kSearch].ms / t[kExhaustive].ms,
                100.0 * t[kSearchCertain].ms / t[kExhaustive].ms);
    // A second figure: the first refined candidate that reaches the default
    // confusion threshold ends the search, so a scene with another place
    // scoring that much is confusable at the user's declared certainty.
    const Tally& d = t[kSearch];
    std::printf("  search, lost where another place (no pixel shared with an instance) scores %.1f or more: %d of %d;"
                " where none does: %.1f%% found, %d lost\n", double(kDefaultConfusion), d.lostToRival, d.lost,
                100.0 * (d.unrivalled - d.lostUnrivalled) / std::max(1, d.unrivalled), d.lostUnrivalled);
}

struct Options {
    std::string photos = QSRCH_ACCURACY_PHOTOS;
    int reps = 2;
    bool list = false;
    std::string dump;
    std::string results, neighbourhoods, levelNeighbourhoods, startPeaks;
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        const bool hasValue = k + 1 < argc;
        if (a == "--photos" && hasValue) o.photos = argv[++k];
        else if (a == "--reps" && hasValue) o.reps = std::max(1, std::atoi(argv[++k]));
        else if (a == "--list") o.list = true;
        else if (a == "--dump" && hasValue) o.dump = argv[++k];
        else if (a == "--results" && hasValue) o.results = argv[++k];
        else if (a == "--neighbourhoods" && hasValue) o.neighbourhoods = argv[++k];
        else if (a == "--level-neighbourhoods" && hasValue) o.levelNeighbourhoods = argv[++k];
        else if (a == "--start-peaks" && hasValue) o.startPeaks = argv[++k];
        else {
            std::fprintf(stderr, "usage: accuracy [--photos DIR] [--reps N] [--list] [--dump DIR] [--results FILE]\n"
                                 "                [--neighbourhoods FILE] [--level-neighbourhoods FILE] [--start-peaks FILE]\n");
            std::exit(2);
        }
    }
    return o;
}

void report(const Options& o, const Case& c, Variant v, size_t k, const std::vector<Found> (&answers)[kAnswers],
            int* dumped)
{
    const Point& t = c.truth[k];
    std::printf("  lost: %s %dx%d %s rep %d, %s, instance %zu at (%.3f, %.3f);", c.photo.c_str(), c.size.w,
                c.size.h, c.subPixel ? "sub-pixel" : "integer", c.rep, kVariantNames[v], k, t.x, t.y);
    for (int a = 0; a < kAnswers; ++a) {
        std::printf(" %s", kAnswerNames[a]);
        for (const Found& f : answers[a]) std::printf(" (%.3f, %.3f) %.4f", f.at.x, f.at.y, f.score);
        std::printf(a + 1 < kAnswers ? ";" : "\n");
    }
    if (o.dump.empty()) return;
    const std::string stem = o.dump + "/lost" + std::to_string((*dumped)++);
    if (!writePgm(stem + "-pattern.pgm", c.pattern) || !writePgm(stem + "-scene.pgm", c.scene))
        std::fprintf(stderr, "cannot write %s\n", stem.c_str());
}

// One line per case and answer: every position and score, exactly.
void writeAnswers(FILE* f, const Case& c, Variant v, const std::vector<Found> (&answers)[kAnswers])
{
    for (int a = 0; a < kAnswers; ++a) {
        std::fprintf(f, "%s %dx%d %s %d %s | %s:", c.photo.c_str(), c.size.w, c.size.h,
                     c.subPixel ? "sub" : "int", c.rep, kVariantNames[v], kAnswerNames[a]);
        for (const Found& found : answers[a]) std::fprintf(f, " %a %a %a", found.at.x, found.at.y, found.score);
        std::fputc('\n', f);
    }
}

// The tallies of the whole suite, by variant and answer.
struct Suite {
    explicit Suite(const Options& o) : options(o) {}
    const Options& options;
    FILE* results = nullptr;
    FILE* neighbourhoods = nullptr;
    FILE* levelNeighbourhoods = nullptr;
    FILE* startPeaks = nullptr;
    Tally tallies[kVariants][kAnswers];
    int cases[kVariants] = {};
    int dumped = 0;
};

// Every variant of one case, searched with the model trained on its pattern.
void runVariants(Suite* suite, const Case& base, const qsrch_model& model, const uint32_t (&seeds)[kVariants])
{
    for (int v = 0; v < kVariants; ++v) {
        Case c = base;
        std::mt19937 rng(seeds[v]);
        applyVariant(Variant(v), &c, rng);
        std::vector<Found> answers[kAnswers];
        double ms[kAnswers];
        bool unique = true;
        double rival = 0;
        answers[kSearch] = search(model, c, kDefaultConfusion, &ms[kSearch]);
        answers[kSearchCertain] = search(model, c, 1.0f, &ms[kSearchCertain]);
        answers[kExhaustive] = exhaustive(c, &ms[kExhaustive], &unique, &rival);
        const bool rivalled = rival >= kDefaultConfusion;
        if (suite->results != nullptr) writeAnswers(suite->results, c, Variant(v), answers);
        if (suite->neighbourhoods != nullptr) writeNeighbourhood(suite->neighbourhoods, c, Variant(v), answers);
        if (suite->levelNeighbourhoods != nullptr)
            writeLevelNeighbourhoods(suite->levelNeighbourhoods, c, Variant(v), model);
        if (suite->startPeaks != nullptr) writeStartPeaks(suite->startPeaks, c, Variant(v), model);
        Tally (&tallies)[kAnswers] = suite->tallies[v];
        ++suite->cases[v];
        for (int a = 0; a < kAnswers; ++a) tallies[a].ms += ms[a];
        for (size_t k = 0; k < c.truth.size(); ++k) {
            bool exhaustiveFinds = false, hit = false, lostHere = false;
            tallies[kExhaustive].add(answers[kExhaustive], c.truth[k], c.subPixel, false, false, &exhaustiveFinds);
            exhaustiveFinds = exhaustiveFinds && unique;
            for (int a : {kSearch, kSearchCertain}) {
                tallies[a].add(answers[a], c.truth[k], c.subPixel, exhaustiveFinds, rivalled, &hit);
                lostHere |= exhaustiveFinds && !hit;
            }
            if (lostHere && suite->options.list) report(suite->options, c, Variant(v), k, answers, &suite->dumped);
        }
    }
}

void printTables(const Suite& suite)
{
    Tally clean[kAnswers];
    int cleanCases = 0;
    for (int v = 0; v < kVariants; ++v) {
        printTable(kVariantNames[v], suite.tallies[v], suite.cases[v]);
        if (v > kBlur) continue;
        cleanCases += suite.cases[v];
        for (int a = 0; a < kAnswers; ++a) {
            Tally& s = clean[a];
            const Tally& t = suite.tallies[v][a];
            s.instances += t.instances, s.found += t.found, s.lost += t.lost, s.ms += t.ms;
            s.unrivalled += t.unrivalled, s.lostUnrivalled += t.lostUnrivalled, s.lostToRival += t.lostToRival;
            for (int k = 0; k < 2; ++k) s.errors[k].insert(s.errors[k].end(), t.errors[k].begin(), t.errors[k].end());
        }
    }
    printTable("single instance, unchanged to blur", clean, cleanCases);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    const auto photos = bench::loadPhotos(o.photos);
    std::printf("%zu photographs from %s, %d repetitions\n", photos.size(), o.photos.c_str(), o.reps);
    Suite suite(o);
    for (auto [path, file] : {std::pair{&o.results, &suite.results}, std::pair{&o.neighbourhoods, &suite.neighbourhoods},
                              std::pair{&o.levelNeighbourhoods, &suite.levelNeighbourhoods},
                              std::pair{&o.startPeaks, &suite.startPeaks}})
        if (!path->empty() && (*file = std::fopen(path->c_str(), "w")) == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", path->c_str());
            return 2;
        }
    for (size_t p = 0; p < photos.size(); ++p)
        for (size_t z = 0; z < std::size(kSizes); ++z)
            for (int sub = 0; sub < 2; ++sub)
                for (int rep = 0; rep < o.reps; ++rep) {
                    Case base{photos[p].first, kSizes[z], sub == 1, rep, {}, {}, {}};
                    std::mt19937 placeRng(seedOf(p, z, sub == 1, rep, kVariants));
                    if (!cutPatternAndScene(photos[p].second, kSizes[z], sub == 1, placeRng, &base)) continue;
                    qimg_image patternImage = imageOf(base.pattern);
                    qsrch_model model;
                    check(qsrch_model_construct(&model), "model");
                    qsrch_trainParams tp;
                    qsrch_trainParams_init(&tp);
                    check(qsrch_model_train(&model, qimg_image_asConst(&patternImage), &tp), "train");
                    uint32_t seeds[kVariants];
                    for (int v = 0; v < kVariants; ++v) seeds[v] = seedOf(p, z, sub == 1, rep, v);
                    runVariants(&suite, base, model, seeds);
                    qsrch_model_destruct(&model);
                    qimg_image_destruct(&patternImage);
                }
    printTables(suite);
    bool written = true;
    for (FILE* f : {suite.results, suite.neighbourhoods, suite.levelNeighbourhoods, suite.startPeaks})
        if (f != nullptr) written = std::fclose(f) == 0 && written;
    return written ? 0 : 2;
}
