// One trained model shared by concurrent searches, and searches stopped part
// way by the attention handler. A search reads the model and writes only its
// own results and scratch, so threads running the same model over the same
// scenes must give exactly what one thread gives; a stop at any poll must
// come back unchanged and leave nothing allocated.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "model/model_support.hpp"

namespace {

using qtest::Image8;
using qtest::Model;
using qtest::OwnedImage;

constexpr int32_t kSceneW = 160, kSceneH = 120, kPatW = 48, kPatH = 40;

// Random values on a grid four pixels apart, interpolated bilinearly, plus a
// little pixel noise: smooth enough to survive reduction, detailed enough to
// have one clear match.
Image8 smoothScene(std::mt19937& rng, int32_t w, int32_t h)
{
    const int32_t gw = w / 4 + 2, gh = h / 4 + 2;
    std::uniform_real_distribution<double> value(20, 235);
    std::vector<double> grid(size_t(gw) * gh);
    for (double& g : grid) g = value(rng);
    std::uniform_int_distribution<int> noise(-3, 3);
    Image8 image(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t gx = x / 4, gy = y / 4;
            const double fx = (x % 4) / 4.0, fy = (y % 4) / 4.0;
            auto g = [&](int32_t i, int32_t j) { return grid[size_t(gy + j) * gw + gx + i]; };
            const double v = (1 - fy) * ((1 - fx) * g(0, 0) + fx * g(1, 0)) +
                             fy * ((1 - fx) * g(0, 1) + fx * g(1, 1));
            image.at(x, y) = static_cast<uint8_t>(std::clamp(std::lround(v) + noise(rng), 0L, 255L));
        }
    return image;
}

Image8 crop(const Image8& from, int32_t x0, int32_t y0, int32_t w, int32_t h)
{
    Image8 out(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) out.at(x, y) = from.at(x0 + x, y0 + y);
    return out;
}

void paste(Image8& into, const Image8& patch, int32_t x0, int32_t y0)
{
    for (int32_t y = 0; y < patch.height(); ++y)
        for (int32_t x = 0; x < patch.width(); ++x) into.at(x0 + x, y0 + y) = patch.at(x, y);
}

struct Outcome {
    qsys_status status = QSYS_OK;
    std::vector<qsrch_normcorr_result> results;
    int polls = 0;
};

qsrch_normcorr_runParams runParams(int32_t numToFind, float overlap)
{
    qsrch_normcorr_runParams p;
    EXPECT_EQ(qsrch_normcorr_runParams_init(&p), QSRCH_OK);
    p.numToFind = numToFind, p.overlapFraction = overlap, p.confusionThreshold = 1.0f;
    return p;
}

// A search into a results vector of its own; the attention handler is the
// calling thread's, so each thread counts its own polls.
Outcome search(const qsrch_normcorr_model* model, const qimg_imageConst* scene,
               const qsrch_normcorr_runParams& params)
{
    Outcome o;
    qtest::AttentionCounter attention;
    qstd_vector_qsrch_normcorr_result v;
    o.status = qstd_vector_qsrch_normcorr_result_constructEmpty(&v);
    if (!QSYS_FAILED(o.status)) o.status = qsrch_normcorr_run(model, scene, &params, &v);
    const auto* r = static_cast<const qsrch_normcorr_result*>(v.begin);
    if (!QSYS_FAILED(o.status)) o.results.assign(r, r + v.size);
    qstd_vector_qsrch_normcorr_result_destruct(&v);
    o.polls = attention.polls();
    return o;
}

bool sameBits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

bool identical(const Outcome& a, const Outcome& b)
{
    if (a.status != b.status || a.polls != b.polls || a.results.size() != b.results.size()) return false;
    for (size_t i = 0; i < a.results.size(); ++i) {
        const qsrch_normcorr_result &x = a.results[i], &y = b.results[i];
        if (x.accepted != y.accepted || x.flags != y.flags || !qtest::sameXform(x.pose, y.pose) ||
            !sameBits(&x.score, &y.score, sizeof x.score) ||
            !sameBits(&x.contrast, &y.contrast, sizeof x.contrast) ||
            !sameBits(&x.brightness, &y.brightness, sizeof x.brightness))
            return false;
    }
    return true;
}

struct Fixture {
    Image8 sceneA, sceneB, pattern;
    Fixture()
    {
        std::mt19937 rng(7);
        sceneA = smoothScene(rng, kSceneW, kSceneH);
        pattern = crop(sceneA, 37, 29, kPatW, kPatH);
        sceneB = smoothScene(rng, kSceneW, kSceneH);
        paste(sceneB, pattern, 90, 61);
        paste(sceneB, pattern, 5, 70);
    }
};

TEST(Threads, ConcurrentSearchesWithOneModelMatchASequentialRun)
{
    const Fixture f;
    OwnedImage patternImage(f.pattern), a(f.sceneA), b(f.sceneB);
    for (float coarse : {1.0f, 4.0f}) {
        SCOPED_TRACE("coarse " + std::to_string(coarse));
        Model model;
        const qsrch_normcorr_trainParams tp = qtest::trainParams(0, coarse);
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), patternImage.cget(), &tp), QSRCH_OK);
        const qsrch_normcorr_runParams params = runParams(2, 0.5f);
        const qimg_imageConst* scenes[2] = {a.cget(), b.cget()};
        Outcome expected[2];
        for (int s = 0; s < 2; ++s) {
            expected[s] = search(model.get(), scenes[s], params);
            ASSERT_EQ(expected[s].status, QSRCH_OK);
            ASSERT_GE(expected[s].results.size(), 1u);
        }
        const qmath_vect found = expected[0].results[0].pose.trans;
        EXPECT_LT(std::hypot(found.x - 37, found.y - 29), 0.5);
        constexpr int kThreads = 4, kRounds = 3;
        std::vector<std::vector<Outcome>> got(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                // Threads start on different scenes so that both are searched at once.
                for (int k = 0; k < 2 * kRounds; ++k)
                    got[t].push_back(search(model.get(), scenes[(k + t) % 2], params));
            });
        for (std::thread& th : threads) th.join();
        for (int t = 0; t < kThreads; ++t)
            for (int k = 0; k < 2 * kRounds; ++k) {
                SCOPED_TRACE("thread " + std::to_string(t) + ", search " + std::to_string(k));
                EXPECT_TRUE(identical(got[t][k], expected[(k + t) % 2]));
            }
    }
}

// Answers QSYS_E_ABORTED on its Nth poll and QSYS_OK before.
class StopAtPoll {
public:
    explicit StopAtPoll(int n) : n_(n) { qsys_attention_setHandler(&StopAtPoll::handle, this); }
    ~StopAtPoll() { qsys_attention_setHandler(nullptr, nullptr); }
    StopAtPoll(const StopAtPoll&) = delete;

private:
    static qsys_status handle(void* self)
    {
        auto* s = static_cast<StopAtPoll*>(self);
        return ++s->polls_ == s->n_ ? QSYS_E_ABORTED : QSYS_OK;
    }
    int n_, polls_ = 0;
};

TEST(Threads, AttentionStopsASearchAtAnyPollAndLeaksNothing)
{
    const Fixture f;
    OwnedImage patternImage(f.pattern), scene(f.sceneB);
    Image8 mask(kSceneW, kSceneH);
    mask.fill(200);
    OwnedImage maskImage(mask);
    for (float coarse : {1.0f, 4.0f})
        for (bool masked : {false, true}) {
            SCOPED_TRACE("coarse " + std::to_string(coarse) + (masked ? ", masked" : ""));
            Model model;
            const qsrch_normcorr_trainParams tp = qtest::trainParams(0, coarse);
            ASSERT_EQ(qsrch_normcorr_model_train(model.get(), patternImage.cget(), &tp), QSRCH_OK);
            const qsrch_normcorr_runParams params = runParams(2, 0.5f);
            auto runOnce = [&] {
                qstd_vector_qsrch_normcorr_result v;
                qsys_status s = qstd_vector_qsrch_normcorr_result_constructEmpty(&v);
                if (!QSYS_FAILED(s))
                    s = masked ? qsrch_normcorr_runMask(model.get(), scene.cget(), maskImage.cget(), &params,
                                                        &v)
                               : qsrch_normcorr_run(model.get(), scene.cget(), &params, &v);
                qstd_vector_qsrch_normcorr_result_destruct(&v);
                return s;
            };
            int polls = 0;
            {
                qtest::AttentionCounter counter;
                ASSERT_EQ(runOnce(), QSRCH_OK);
                polls = counter.polls();
            }
            ASSERT_GT(polls, 1);
            for (int n = 1; n <= polls; ++n) {
                SCOPED_TRACE("stop at poll " + std::to_string(n) + " of " + std::to_string(polls));
                const int64_t before = qsys_memory_blocksInUse();
                StopAtPoll stop(n);
                EXPECT_EQ(runOnce(), QSYS_E_ABORTED);
                EXPECT_EQ(qsys_memory_blocksInUse(), before);
            }
        }
}

}  // namespace
