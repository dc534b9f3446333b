// The whole search on photographs, against the pyramid search a user would
// write with OpenCV and against the least any pyramid search pays.
//
// Scenes of 640 x 480, 1280 x 1024 and 2592 x 1944 pixels are mosaics of the
// photographs of bench/photos: the scene is cut into cells of at most
// 432 x 324 pixels, each a centred crop of one photograph in one of its
// eight mirror and transpose orientations, no photograph twice in the same
// orientation, nothing scaled. A square pattern (32, 64, 128 or 256 pixels)
// is cut from a textured place inside one cell, so the scene holds exactly
// one instance. Benchmarks per case, one thread, CPU time:
//   Search              qsrch_run at default parameters (the model trained
//                       at default parameters beforehand), in a heap that
//                       holds only the scenes and models: these run first;
//   SearchAfterAllocs   the same search once the process has allocated and
//                       freed much else (a fragmented heap): these run last;
//                       (the closing table adds the most memory one search
//                       holds above the model and images, in KiB);
//   SourcePyramid       the search's source pyramid alone, for the model's
//                       levels (qsrch_normcorr_generateSrcLevels);
// and, when built with OpenCV:
//   PyrDown             one cv::pyrDown of the scene;
//   Floor               one cv::pyrDown and one memcpy of the scene: the
//                       least a search that looks at every pixel and reduces
//                       the scene once can cost;
//   CvPyramid<16|8>     the pyramid search a user would write: pyrDown of the
//                       scene k times (the pattern pyramid is made
//                       beforehand), matchTemplate (TM_CCOEFF_NORMED) and
//                       minMaxLoc on level k, matchTemplate again at full
//                       resolution in a window of +-2^k positions around the
//                       hit, a parabola through the peak and its neighbours
//                       in x and in y; k is the largest number of halvings
//                       that leaves the pattern 16 (or 8) pixels wide;
//   MatchTemplate       cv::matchTemplate over the whole scene and minMaxLoc.
// A closing table gives the best time of each (over --benchmark_repetitions)
// and the ratios the search is judged by: the OpenCV pyramid search (the
// faster of its two rules that finds the pattern) over the search, the
// search over the floor, the source pyramid over one pyrDown, and the
// search in the fragmented heap over the search in the fresh one. Before
// the runs every method's place is checked against the truth.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <qsrch/qsrch.h>

#if defined(QSRCH_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "photos.hpp"

namespace {

using bench::check;
using bench::Grey;

// ---- Scenes ------------------------------------------------------------------------

// Photograph p in orientation o: bit 0 mirrors x, bit 1 mirrors y, bit 2
// transposes.
Grey oriented(const Grey& p, int o)
{
    const bool transpose = (o & 4) != 0;
    Grey g(transpose ? p.height : p.width, transpose ? p.width : p.height);
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x) {
            int32_t u = transpose ? y : x, v = transpose ? x : y;
            if (o & 1) u = p.width - 1 - u;
            if (o & 2) v = p.height - 1 - v;
            g.at(x, y) = p.at(u, v);
        }
    return g;
}

struct Mosaic {
    Grey scene;
    int32_t cellW = 0, cellH = 0;
};

Mosaic mosaic(const std::vector<std::pair<std::string, Grey>>& photos, int32_t width, int32_t height)
{
    Mosaic m;
    m.scene = Grey(width, height);
    const int32_t cols = (width + 431) / 432, rows = (height + 323) / 324;
    m.cellW = (width + cols - 1) / cols;
    m.cellH = (height + rows - 1) / rows;
    std::vector<Grey> tiles;
    for (int o = 0; o < 8 && int32_t(tiles.size()) < cols * rows; ++o)
        for (const auto& photo : photos) {
            Grey g = oriented(photo.second, o);
            if (g.width >= m.cellW && g.height >= m.cellH && int32_t(tiles.size()) < cols * rows)
                tiles.push_back(std::move(g));
        }
    if (int32_t(tiles.size()) < cols * rows) {
        std::fprintf(stderr, "too few photographs for a %dx%d mosaic\n", width, height);
        std::exit(2);
    }
    for (int32_t c = 0; c < cols * rows; ++c) {
        const Grey& t = tiles[size_t(c)];
        const int32_t x0 = (c % cols) * m.cellW, y0 = (c / cols) * m.cellH;
        const int32_t dx = (t.width - m.cellW) / 2, dy = (t.height - m.cellH) / 2;
        for (int32_t y = y0; y < std::min(y0 + m.cellH, height); ++y)
            for (int32_t x = x0; x < std::min(x0 + m.cellW, width); ++x) m.scene.at(x, y) = t.at(x - x0 + dx, y - y0 + dy);
    }
    return m;
}

double deviation(const Grey& g, int32_t x0, int32_t y0, int32_t size)
{
    double sum = 0, sumSq = 0;
    for (int32_t y = y0; y < y0 + size; ++y)
        for (int32_t x = x0; x < x0 + size; ++x) sum += g.at(x, y), sumSq += double(g.at(x, y)) * g.at(x, y);
    const double n = double(size) * size, mean = sum / n;
    return std::sqrt(std::max(0.0, sumSq / n - mean * mean));
}

// ---- Cases ---------------------------------------------------------------------------

struct Case {
    int32_t width, height, size;
    std::string name;
    Grey scene, pattern;
    int32_t truthX = 0, truthY = 0;
    qimg_image sceneImage{}, patternImage{};
    qsrch_model model{};
#if defined(QSRCH_BENCH_OPENCV)
    cv::Mat sceneMat;
    std::vector<cv::Mat> patternLevels;  // the pattern and its pyrDowns
#endif
};

qimg_image imageOf(const Grey& g)
{
    qimg_image image;
    check(qimg_image_construct(&image, QIMG_DEPTH_8U, g.width, g.height), "image");
    for (int32_t y = 0; y < g.height; ++y)
        std::memcpy(static_cast<uint8_t*>(image.firstPixel) + size_t(y) * size_t(image.rowStride),
                    &g.pixels[size_t(y) * size_t(g.width)], size_t(g.width));
    return image;
}

// A textured place inside one cell, seeded by the case.
void cutPattern(const Mosaic& m, Case* c)
{
    std::mt19937 rng(uint32_t(c->width * 7 + c->size));
    std::uniform_int_distribution<int32_t> x(0, c->width - c->size), y(0, c->height - c->size);
    for (int tries = 0;; ++tries) {
        const int32_t px = x(rng), py = y(rng);
        const bool inCell = c->size > m.cellW || c->size > m.cellH ||
                            (px / m.cellW == (px + c->size - 1) / m.cellW &&
                             py / m.cellH == (py + c->size - 1) / m.cellH);
        if (!inCell || (deviation(m.scene, px, py, c->size) < 30.0 && tries < 10000)) continue;
        c->truthX = px, c->truthY = py;
        break;
    }
    c->pattern = Grey(c->size, c->size);
    for (int32_t v = 0; v < c->size; ++v)
        for (int32_t u = 0; u < c->size; ++u) c->pattern.at(u, v) = m.scene.at(c->truthX + u, c->truthY + v);
}

std::vector<std::unique_ptr<Case>> makeCases(const std::string& folder)
{
    const auto photos = bench::loadPhotos(folder);
    const int32_t list[][3] = {{640, 480, 32},    {640, 480, 64},    {640, 480, 128},
                               {1280, 1024, 64},  {1280, 1024, 256}, {2592, 1944, 128}};
    std::map<int32_t, Mosaic> scenes;
    std::vector<std::unique_ptr<Case>> cases;
    for (const auto& l : list) {
        auto c = std::make_unique<Case>();
        c->width = l[0], c->height = l[1], c->size = l[2];
        c->name = std::to_string(l[0]) + "x" + std::to_string(l[1]) + "/" + std::to_string(l[2]);
        auto found = scenes.find(l[0]);
        if (found == scenes.end()) found = scenes.emplace(l[0], mosaic(photos, l[0], l[1])).first;
        c->scene = found->second.scene;
        cutPattern(found->second, c.get());
        c->sceneImage = imageOf(c->scene);
        c->patternImage = imageOf(c->pattern);
        check(qsrch_model_construct(&c->model), "model");
        qsrch_trainParams tp;
        qsrch_trainParams_init(&tp);
        check(qsrch_model_train(&c->model, qimg_image_asConst(&c->patternImage), &tp), "train");
#if defined(QSRCH_BENCH_OPENCV)
        c->sceneMat = cv::Mat(c->height, c->width, CV_8UC1, c->scene.pixels.data());
        c->patternLevels.push_back(cv::Mat(c->size, c->size, CV_8UC1, c->pattern.pixels.data()));
        while (c->patternLevels.back().cols >= 16) {
            cv::Mat next;
            cv::pyrDown(c->patternLevels.back(), next);
            c->patternLevels.push_back(next);
        }
#endif
        cases.push_back(std::move(c));
    }
    return cases;
}

// ---- The methods ---------------------------------------------------------------------

struct Place {
    double x = -1, y = -1;
};

Place search(const Case& c, qsrch_resultSet* set)
{
    qsrch_runParams rp;
    qsrch_runParams_init(&rp);
    check(qsrch_run(&c.model, qimg_image_asConst(&c.sceneImage), &rp, set), "run");
    return set->count > 0 ? Place{set->entries[0].point.x, set->entries[0].point.y} : Place{};
}

#if defined(QSRCH_BENCH_OPENCV)
// Halvings that leave the pattern at least `keep` pixels wide.
int halvingsKeeping(int32_t size, int32_t keep)
{
    int k = 0;
    while ((size >> (k + 1)) >= keep) ++k;
    return k;
}

// The vertex of the parabola through (-1, a), (0, b), (1, c).
double vertex(float a, float b, float c)
{
    const double d = double(a) - 2.0 * b + c;
    return d < 0 ? 0.5 * (double(a) - c) / d : 0.0;
}

struct CvScratch {
    std::vector<cv::Mat> levels;
    cv::Mat coarse, fine;
};

Place cvPyramid(const Case& c, int k, CvScratch* s)
{
    s->levels.resize(size_t(k) + 1);
    s->levels[0] = c.sceneMat;
    for (int i = 1; i <= k; ++i) cv::pyrDown(s->levels[size_t(i) - 1], s->levels[size_t(i)]);
    cv::matchTemplate(s->levels[size_t(k)], c.patternLevels[size_t(k)], s->coarse, cv::TM_CCOEFF_NORMED);
    cv::Point hit;
    cv::minMaxLoc(s->coarse, nullptr, nullptr, nullptr, &hit);
    const int32_t margin = 1 << k, last[2] = {c.width - c.size, c.height - c.size};
    const int32_t x0 = std::clamp((hit.x << k) - margin, 0, last[0]), x1 = std::clamp((hit.x << k) + margin, 0, last[0]);
    const int32_t y0 = std::clamp((hit.y << k) - margin, 0, last[1]), y1 = std::clamp((hit.y << k) + margin, 0, last[1]);
    const cv::Mat window = c.sceneMat(cv::Rect(x0, y0, x1 - x0 + c.size, y1 - y0 + c.size));
    cv::matchTemplate(window, c.patternLevels[0], s->fine, cv::TM_CCOEFF_NORMED);
    cv::minMaxLoc(s->fine, nullptr, nullptr, nullptr, &hit);
    const cv::Mat& f = s->fine;
    double dx = 0, dy = 0;
    if (hit.x > 0 && hit.x + 1 < f.cols)
        dx = vertex(f.at<float>(hit.y, hit.x - 1), f.at<float>(hit.y, hit.x), f.at<float>(hit.y, hit.x + 1));
    if (hit.y > 0 && hit.y + 1 < f.rows)
        dy = vertex(f.at<float>(hit.y - 1, hit.x), f.at<float>(hit.y, hit.x), f.at<float>(hit.y + 1, hit.x));
    return {x0 + hit.x + dx, y0 + hit.y + dy};
}

Place matchAll(const Case& c, cv::Mat* result)
{
    cv::matchTemplate(c.sceneMat, c.patternLevels[0], *result, cv::TM_CCOEFF_NORMED);
    cv::Point hit;
    cv::minMaxLoc(*result, nullptr, nullptr, nullptr, &hit);
    return {double(hit.x), double(hit.y)};
}
#endif

bool near(const Case& c, const Place& p) { return std::fabs(p.x - c.truthX) <= 1 && std::fabs(p.y - c.truthY) <= 1; }

// Where each method found the pattern, by benchmark name, noted by its
// first run (so the checks allocate nothing before the fresh searches).
std::map<std::string, Place> places;

void note(const std::string& method, const Case& c, const Place& p) { places.emplace(method + "/" + c.name, p); }

// ---- Benchmarks ------------------------------------------------------------------------

// The most memory one search holds at once above what was held before it
// (the model, the images and the result set), in KiB.
std::map<std::string, double> peaks;

void Search(benchmark::State& state, const Case* c)
{
    qsrch_resultSet set;
    qsrch_resultSet_construct(&set);
    for (auto _ : state) benchmark::DoNotOptimize(search(*c, &set));
    const int64_t held = qsys_memory_bytesInUse();
    qsys_memory_resetPeakBytesInUse();
    note("Search", *c, search(*c, &set));
    peaks.emplace(c->name, double(qsys_memory_peakBytesInUse() - held) / 1024.0);
    qsrch_resultSet_destruct(&set);
}

// Blocks of 16 bytes to 4 MB, every other one freed again, the rest kept
// to the end of the process: holes below and live blocks above whatever
// the searches allocate next.
void fragmentHeap()
{
    static std::vector<std::unique_ptr<char[]>> kept;
    if (!kept.empty()) return;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> logSize(std::log(16.0), std::log(4.0 * 1024 * 1024));
    for (int i = 0; i < 400; ++i) {
        const size_t bytes = size_t(std::exp(logSize(rng)));
        auto block = std::make_unique<char[]>(bytes);
        block[bytes - 1] = 1;
        if (i % 2 == 0) kept.push_back(std::move(block));
    }
}

void SearchAfterAllocs(benchmark::State& state, const Case* c)
{
    fragmentHeap();
    Search(state, c);
}

void SourcePyramid(benchmark::State& state, const Case* c)
{
    const qsrch_normcorr_model* inner = c->model.normcorrModel;
    qimg_windowConst view;
    check(qimg_windowConst_init(&view, qimg_image_asConst(&c->sceneImage)), "view");
    qstd_vector_qsrch_normcorr_level_ levels;
    check(qstd_vector_qsrch_normcorr_level__constructEmpty(&levels), "levels");
    const int32_t count = int32_t(inner->levels.size);
    for (auto _ : state) check(qsrch_normcorr_generateSrcLevels(&view, &inner->levels, count, &levels), "pyramid");
    state.counters["levels"] = count;
    qstd_vector_qsrch_normcorr_level__destruct(&levels);
}

#if defined(QSRCH_BENCH_OPENCV)
void PyrDown(benchmark::State& state, const Case* c)
{
    cv::Mat reduced;
    for (auto _ : state) {
        cv::pyrDown(c->sceneMat, reduced);
        benchmark::DoNotOptimize(reduced.data);
    }
}

void Floor(benchmark::State& state, const Case* c)
{
    cv::Mat reduced;
    std::vector<uint8_t> copy(c->scene.pixels.size());
    for (auto _ : state) {
        cv::pyrDown(c->sceneMat, reduced);
        std::memcpy(copy.data(), c->scene.pixels.data(), copy.size());
        benchmark::DoNotOptimize(reduced.data);
        benchmark::ClobberMemory();
    }
}

void CvPyramid(benchmark::State& state, const Case* c, int keep)
{
    const int k = halvingsKeeping(c->size, keep);
    CvScratch scratch;
    for (auto _ : state) benchmark::DoNotOptimize(cvPyramid(*c, k, &scratch));
    note("CvPyramid" + std::to_string(keep), *c, cvPyramid(*c, k, &scratch));
    state.counters["k"] = k;
}

void MatchTemplate(benchmark::State& state, const Case* c)
{
    cv::Mat result;
    for (auto _ : state) benchmark::DoNotOptimize(matchAll(*c, &result));
    note("MatchTemplate", *c, matchAll(*c, &result));
}
#endif

// The console report, then one line per case: best CPU times in ms and the
// ratios the search is judged by (0 where a figure is missing).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(const std::vector<std::unique_ptr<Case>>& cases) : cases_(cases) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
            const double ms = 1e3 * run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto [entry, fresh] = best_.emplace(run.run_name.str(), ms);
            if (!fresh) entry->second = std::min(entry->second, ms);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nPlaces found (truth: the pattern's top-left pixel)\n");
        std::map<std::string, bool> finds;
        for (const auto& c : cases_) {
            std::printf("%-14s truth (%d, %d)", c->name.c_str(), c->truthX, c->truthY);
            for (const char* method : {"Search", "CvPyramid16", "CvPyramid8", "MatchTemplate"})
                finds[std::string(method) + "/" + c->name] = printPlace(*c, method);
            std::printf("\n");
        }
        std::printf("\n%-14s %8s %8s %8s %8s %8s %8s %8s | %9s %9s %9s %9s | %8s\n", "case (ms)", "search",
                    "s.after", "cv pyr", "floor", "matchT", "pyramid", "pyrDown", "cv/search", "srch/flr", "pyr/pyrD",
                    "aft/fresh", "peak KiB");
        for (const auto& c : cases_) {
            const std::string& n = c->name;
            const double s = get("Search/" + n), after = get("SearchAfterAllocs/" + n);
            // The faster rule of the OpenCV pyramid search among those that find the pattern.
            double cv = 0;
            for (const char* rule : {"CvPyramid16/", "CvPyramid8/"}) {
                const double t = get(rule + n);
                if (t > 0 && finds[rule + n] && (cv == 0 || t < cv)) cv = t;
            }
            const double floor = get("Floor/" + n), pyramid = get("SourcePyramid/" + n), down = get("PyrDown/" + n);
            const auto peak = peaks.find(n);
            std::printf("%-14s %8.3f %8.3f %8.3f %8.3f %8.1f %8.3f %8.3f | %9.2f %9.2f %9.2f %9.2f | %8.0f\n",
                        n.c_str(), s, after, cv, floor, get("MatchTemplate/" + n), pyramid, down, ratio(cv, s),
                        ratio(s, floor), ratio(pyramid, down), ratio(after, s),
                        peak == peaks.end() ? 0.0 : peak->second);
        }
    }

private:
    double get(const std::string& name) const
    {
        const auto found = best_.find(name);
        return found == best_.end() ? 0.0 : found->second;
    }
    static double ratio(double a, double b) { return a > 0 && b > 0 ? a / b : 0.0; }

    // Each method's place against the truth; true when it is near.
    bool printPlace(const Case& c, const std::string& method) const
    {
        const auto found = places.find(method + "/" + c.name);
        if (found == places.end()) return false;
        const bool ok = near(c, found->second);
        std::printf("  %s (%.2f, %.2f)%s", method.c_str(), found->second.x, found->second.y, ok ? "" : " MISSED");
        return ok;
    }

    const std::vector<std::unique_ptr<Case>>& cases_;
    std::map<std::string, double> best_;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string photos = QSRCH_BENCH_PHOTOS;
    if (argc == 3 && std::strcmp(argv[1], "--photos") == 0) photos = argv[2];
#if defined(QSRCH_BENCH_OPENCV)
    cv::setNumThreads(1);
#endif
    const auto cases = makeCases(photos);

    auto add = [](const std::string& name, auto f) {
        return benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMillisecond);
    };
    for (const auto& c : cases) add("Search/" + c->name, [p = c.get()](benchmark::State& s) { Search(s, p); });
    for (const auto& c : cases) {
        const Case* p = c.get();
        add("SourcePyramid/" + c->name, [p](benchmark::State& s) { SourcePyramid(s, p); });
#if defined(QSRCH_BENCH_OPENCV)
        add("PyrDown/" + c->name, [p](benchmark::State& s) { PyrDown(s, p); });
        add("Floor/" + c->name, [p](benchmark::State& s) { Floor(s, p); });
        for (int keep : {16, 8})
            add("CvPyramid" + std::to_string(keep) + "/" + c->name,
                [p, keep](benchmark::State& s) { CvPyramid(s, p, keep); });
        add("MatchTemplate/" + c->name, [p](benchmark::State& s) { MatchTemplate(s, p); });
#endif
    }
    for (const auto& c : cases)
        add("SearchAfterAllocs/" + c->name, [p = c.get()](benchmark::State& s) { SearchAfterAllocs(s, p); });

    RatioReporter reporter(cases);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& c : cases) {
        qsrch_model_destruct(&c->model);
        qimg_image_destruct(&c->patternImage);
        qimg_image_destruct(&c->sceneImage);
    }
    return 0;
}
