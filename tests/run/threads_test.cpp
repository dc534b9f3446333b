// A search reads its model and writes only its own results and scratch:
// threads sharing a model give exactly what one thread gives, and a stop at
// any poll comes back unchanged and leaves nothing allocated.
#include <cstring>
#include <memory>
#include <thread>

#include "run/run_support.hpp"

namespace {

using qtest::Image8;
using qtest::Model;
using qtest::OwnedImage;

struct Outcome {
    qsys_status status = QSYS_OK;
    std::vector<qsrch_normcorr_result> results;
    int polls = 0;
};

// The attention handler is the calling thread's: each thread counts its own polls.
Outcome search(const qsrch_normcorr_model* model, const qimg_imageConst* scene)
{
    const qsrch_normcorr_runParams params = qtest::runParams(2, 1.0f, 0.5f);
    Outcome o;
    qtest::AttentionCounter attention;
    qtest::Results results;
    o.status = qsrch_normcorr_run(model, scene, &params, results.get());
    for (size_t i = 0; i < results.size(); ++i) o.results.push_back(results[i]);
    o.polls = attention.polls();
    return o;
}

// Bit for bit the same status, poll count and results.
bool identical(const Outcome& a, const Outcome& b)
{
    bool same = a.status == b.status && a.polls == b.polls && a.results.size() == b.results.size();
    for (size_t i = 0; same && i < a.results.size(); ++i) {
        const qsrch_normcorr_result &x = a.results[i], &y = b.results[i];
        same = x.accepted == y.accepted && x.flags == y.flags && qtest::sameXform(x.pose, y.pose) &&
               std::memcmp(&x.score, &y.score, sizeof x.score) == 0 &&
               std::memcmp(&x.contrast, &y.contrast, sizeof x.contrast) == 0 &&
               std::memcmp(&x.brightness, &y.brightness, sizeof x.brightness) == 0;
    }
    return same;
}

// Scene A holds the pattern at (37, 29); scene B two copies elsewhere.
struct Fixture {
    Image8 sceneA, sceneB, pattern;
    Fixture()
    {
        std::mt19937 rng(7);
        sceneA = qtest::gridTexture(rng, 160, 120);
        pattern = qtest::crop(sceneA, 37, 29, 48, 40);
        sceneB = qtest::gridTexture(rng, 160, 120);
        qtest::paste(sceneB, pattern, 90, 61);
        qtest::paste(sceneB, pattern, 5, 70);
    }
    void train(Model& model, float coarse) const
    {
        const OwnedImage image(pattern);
        const qsrch_normcorr_trainParams tp = qtest::trainParams(0, coarse);
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
    }
};

TEST(Threads, ConcurrentSearchesWithOneModelMatchASequentialRun)
{
    const Fixture f;
    OwnedImage a(f.sceneA), b(f.sceneB);
    const qimg_imageConst* scenes[2] = {a.cget(), b.cget()};
    for (float coarse : {1.0f, 4.0f}) {
        SCOPED_TRACE("coarse " + std::to_string(coarse));
        Model model;
        f.train(model, coarse);
        const Outcome expected[2] = {search(model.get(), scenes[0]), search(model.get(), scenes[1])};
        for (const Outcome& e : expected) ASSERT_TRUE(e.status == QSRCH_OK && !e.results.empty());
        const qmath_vect found = expected[0].results[0].pose.trans;
        EXPECT_LT(std::hypot(found.x - 37, found.y - 29), 0.5);
        constexpr int kThreads = 4, kSearches = 6;
        std::vector<std::vector<Outcome>> got(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                // Threads start on different scenes so that both are searched at once.
                for (int k = 0; k < kSearches; ++k) got[t].push_back(search(model.get(), scenes[(k + t) % 2]));
            });
        for (std::thread& th : threads) th.join();
        for (int t = 0; t < kThreads; ++t)
            for (int k = 0; k < kSearches; ++k)
                EXPECT_TRUE(identical(got[t][k], expected[(k + t) % 2])) << "thread " << t << ", search " << k;
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
        return ++static_cast<StopAtPoll*>(self)->polls_ == static_cast<StopAtPoll*>(self)->n_ ? QSYS_E_ABORTED : QSYS_OK;
    }
    int n_, polls_ = 0;
};

TEST(Threads, AttentionStopsASearchAtAnyPollAndLeaksNothing)
{
    const Fixture f;
    Image8 mask(160, 120);
    mask.fill(200);
    OwnedImage scene(f.sceneB), maskImage(mask);
    const qsrch_normcorr_runParams params = qtest::runParams(2, 1.0f, 0.5f);
    for (float coarse : {1.0f, 4.0f})
        for (bool masked : {false, true}) {
            SCOPED_TRACE("coarse " + std::to_string(coarse) + (masked ? ", masked" : ""));
            Model model;
            f.train(model, coarse);
            auto runOnce = [&] {
                qtest::Results results;
                return masked ? qsrch_normcorr_runMask(model.get(), scene.cget(), maskImage.cget(), &params,
                                                       results.get())
                              : qsrch_normcorr_run(model.get(), scene.cget(), &params, results.get());
            };
            auto counter = std::make_unique<qtest::AttentionCounter>();
            ASSERT_EQ(runOnce(), QSRCH_OK);
            const int polls = counter->polls();
            counter.reset();
            ASSERT_GT(polls, 1);
            for (int n = 1; n <= polls; ++n) {
                const int64_t before = qsys_memory_blocksInUse();
                StopAtPoll stop(n);
                EXPECT_EQ(runOnce(), QSYS_E_ABORTED) << "stop at poll " << n << " of " << polls;
                EXPECT_EQ(qsys_memory_blocksInUse(), before) << "stop at poll " << n << " of " << polls;
            }
        }
}

}  // namespace
