// Top-level runs: points in client coordinates, check order, result growth.
#include <functional>

#include "search/search_support.hpp"

namespace {

using qtest::Image8, qtest::OwnedImage, qtest::ResultSet, qtest::SearchModel, qtest::Xform;
using RunForm = std::function<qsrch_status(qsrch_resultSet*)>;

void setClient(OwnedImage& image, int kind, Xform& client, Xform& fromClient)
{
    if (kind == 0) qtest::scaleShift(client, 0.5, 0.75, 10.0, -4.0);
    if (kind == 1) qtest::scaleShift(client, 1.5, 1.25, -20.0, 7.5);
    EXPECT_EQ(kind == 2 ? qmath_xformPtrhConst_setRadial(client.get(), 90.0, 70.0, 1.5e-5) : QSRCH_OK, QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), client.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
}

// A pattern planted in another image: every run form maps the origin through both.
TEST(SearchRun, ReportsTheOriginWhereTheClientTransformsPutIt)
{
    const int32_t w = 48, h = 40;
    for (auto [trainKind, searchKind] : {std::pair{0, 1}, {0, 2}, {2, 0}, {1, 2}})
        for (unsigned seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(testing::Message() << trainKind << searchKind << " seed " << seed);
            std::mt19937 rng(seed);
            auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
            const Image8 trainPixels = qtest::smoothTexture(rng, 120, 100);
            Image8 searchPixels = qtest::smoothTexture(rng, 180, 140);
            const int32_t x0 = pick(3, 120 - w - 3), y0 = pick(3, 100 - h - 3), u = pick(0, 180 - w),
                          v = pick(0, 140 - h);
            qtest::paste(searchPixels, trainPixels, x0, y0, w, h, u, v);
            OwnedImage trainImage(trainPixels), searchImage(searchPixels);  // also a mask caring everywhere
            Xform trainClient, searchClient, trainFromClient, searchFromClient;
            setClient(trainImage, trainKind, trainClient, trainFromClient);
            setClient(searchImage, searchKind, searchClient, searchFromClient);
            SearchModel model;  // a short pyramid: only where points land matters
            const qimg_windowConst pattern = qtest::viewOf(trainImage.cget(), x0, y0, w, h);
            const qsrch_trainParams trainParams = qtest::topTrainParams(2);
            ASSERT_EQ(qsrch_model_trainWindow(model.get(), &pattern, trainFromClient.get(), &trainParams), QSRCH_OK);
            const qmath_vect origin = qtest::map(trainClient, {x0 + 10.25, y0 + 7.5});
            const qmath_vect want = qtest::map(searchClient, {u + 10.25, v + 7.5});
            ASSERT_EQ(qsrch_model_setOrigin(model.get(), &origin), QSRCH_OK);
            const int32_t ox = std::max(0, u - 9), oy = std::max(0, v - 5);
            const qimg_windowConst around = qtest::viewOf(searchImage.cget(), ox, oy, w + 20, h + 11);
            const qsrch_runParams params = qtest::topRunParams();
            const qsrch_model* m = model.get();
            const qmath_xformPtrhConst* x = searchFromClient.get();
            for (const RunForm& run : std::initializer_list<RunForm>{
                     [&](auto* s) { return qsrch_run(m, searchImage.cget(), &params, s); },
                     [&](auto* s) { return qsrch_runMask(m, searchImage.cget(), searchImage.cget(), &params, s); },
                     [&](auto* s) { return qsrch_runWindow(m, &around, x, &params, s); },
                     [&](auto* s) { return qsrch_runMaskWindow(m, &around, &around, x, &params, s); },
                     [&](auto* s) { return qsrch_runMaskWindow_usingNormcorr(m, &around, &around, x, &params, s); }}) {
                ResultSet set;
                ASSERT_TRUE(run(set.get()) == QSRCH_OK && set->count == 1);
                const qsrch_resultSetEntry& e = set->entries[0];
                EXPECT_TRUE(e.accepted == 1 && e.score > 0.95f) << e.score;
                EXPECT_LT(std::hypot(e.point.x - want.x, e.point.y - want.y), 0.1) << e.point.x << ", " << e.point.y;
            }
        }
}

// A 24 x 20 pattern cut at (30, 20) of a texture, its origin at its corner.
struct Trained {
    Image8 pixels;
    SearchModel model;
    explicit Trained(std::mt19937& rng) : pixels(qtest::smoothTexture(rng, 100, 80))
    {
        qtest::Identity identity;
        const qimg_windowConst pattern = pixels.window(30, 20, 24, 20);
        const qsrch_trainParams params = qtest::topTrainParams(2);
        const qmath_vect corner{30, 20};
        EXPECT_EQ(qsrch_model_trainWindow(model.get(), &pattern, identity.get(), &params), QSRCH_OK);
        EXPECT_EQ(qsrch_model_setOrigin(model.get(), &corner), QSRCH_OK);
    }
};

// Image, then parameters, then model; an unbound mask is no mask.
TEST(SearchRun, ChecksComeInTheirOrder)
{
    std::mt19937 rng(11);
    Trained trained(rng);
    SearchModel untrained;
    OwnedImage image(trained.pixels), unbound, small(qtest::smoothTexture(rng, 23, 30));
    qtest::Identity id;
    const qimg_windowConst view = qtest::viewOf(image.cget(), 5, 5, 60, 50),
                           narrow = qtest::viewOf(image.cget(), 5, 5, 23, 50);
    const qsrch_runParams good = qtest::topRunParams();
    qsrch_runParams accept = good, algo = good, count = good;
    accept.acceptThreshold = 2.0f, algo.algorithm = 2, count.numToFind = 0;
    const qsrch_model *none = untrained.get(), *model = trained.model.get();
    const std::pair<RunForm, qsrch_status> cases[] = {
        {[&](auto* s) { return qsrch_run(none, unbound.cget(), &accept, s); }, QSRCH_E_IMAGE_UNBOUND},
        {[&](auto* s) { return qsrch_runMask(none, unbound.cget(), image.cget(), &accept, s); }, QSRCH_E_IMAGE_UNBOUND},
        {[&](auto* s) { return qsrch_run(none, image.cget(), &accept, s); }, QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {[&](auto* s) { return qsrch_runMask(none, image.cget(), unbound.cget(), &algo, s); }, QSRCH_E_BAD_ALGORITHM},
        {[&](auto* s) { return qsrch_run(none, image.cget(), &good, s); }, QSRCH_E_NOT_TRAINED},
        {[&](auto* s) { return qsrch_runWindow(none, &view, id.get(), &count, s); }, QSRCH_E_BAD_NUM_TO_FIND},
        {[&](auto* s) { return qsrch_runWindow(none, &view, id.get(), &good, s); }, QSRCH_E_NOT_TRAINED},
        {[&](auto* s) { return qsrch_runMaskWindow(none, &view, &view, id.get(), &accept, s); },
         QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {[&](auto* s) { return qsrch_runMaskWindow(none, &view, &view, id.get(), &good, s); }, QSRCH_E_NOT_TRAINED},
        {[&](auto* s) { return qsrch_run(model, small.cget(), &good, s); }, QSRCH_E_IMAGE_TOO_SMALL},
        {[&](auto* s) { return qsrch_runWindow(model, &narrow, id.get(), &good, s); }, QSRCH_E_IMAGE_TOO_SMALL},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        ResultSet set;
        EXPECT_EQ(cases[k].first(set.get()), cases[k].second) << k;
    }
    ResultSet plain, masked;
    ASSERT_EQ(qsrch_run(model, image.cget(), &good, plain.get()), QSRCH_OK);
    ASSERT_EQ(qsrch_runMask(model, image.cget(), unbound.cget(), &good, masked.get()), QSRCH_OK);
    ASSERT_TRUE(plain->count == 1 && masked->count == 1);
    EXPECT_TRUE(qtest::sameEntry(plain->entries[0], masked->entries[0]));
}

// A set of 10 takes 3 results in place (the capacity is not recorded) and needs a new array for 5.
TEST(SearchRun, ResultSetGrowsOnlyWhenMoreEntriesAreFoundAndFailuresLeakNothing)
{
    std::mt19937 rng(12);
    Trained trained(rng);
    Image8 scene = qtest::smoothTexture(rng, 200, 160);
    const std::pair<int32_t, int32_t> places[] = {{10, 10}, {110, 12}, {60, 60}, {15, 110}, {150, 115}};
    for (auto [x, y] : places) qtest::paste(scene, trained.pixels, 30, 20, 24, 20, x, y);
    OwnedImage image(scene);
    ResultSet set, untouched;
    qsrch_resultSet source{10, nullptr};  // each field tells the entries apart
    ASSERT_EQ(qsys_memory_alloc_internal(sizeof(qsrch_resultSetEntry) * 10, &source.entries), QSRCH_OK);
    for (int32_t i = 0; i < 10; ++i) source.entries[i] = {uint32_t(i % 2), {i + 0.25, -i - 0.5}, float(i), 0xF00u + i};
    ASSERT_EQ(qsrch_resultSet_assign(set.get(), &source), QSRCH_OK);
    ASSERT_EQ(qsrch_resultSet_assign(untouched.get(), &source), QSRCH_OK);
    qsrch_resultSet_destruct(&source);
    const qsrch_resultSetEntry* const ten = set->entries;
    const qsrch_runParams three = qtest::topRunParams(3), five = qtest::topRunParams(5);
    ASSERT_EQ(qsrch_run(trained.model.get(), image.cget(), &three, set.get()), QSRCH_OK);
    EXPECT_TRUE(set->count == 3 && set->entries == ten);
    for (int32_t i = 3; i < 10; ++i) EXPECT_TRUE(qtest::sameEntry(set->entries[i], untouched->entries[i])) << i;
    ASSERT_EQ(qsrch_run(trained.model.get(), image.cget(), &five, set.get()), QSRCH_OK);
    ASSERT_EQ(set->count, 5);
    EXPECT_NE(set->entries, ten);
    for (int32_t i = 0; i < 5; ++i) {
        const qsrch_resultSetEntry& e = set->entries[i];
        EXPECT_TRUE(e.accepted == 1 && e.score > 0.95f && (i == 0 || e.score <= set->entries[i - 1].score)) << i;
        auto near = [&](auto p) { return std::hypot(e.point.x - p.first, e.point.y - p.second) < 0.1; };
        EXPECT_TRUE(std::any_of(std::begin(places), std::end(places), near)) << e.point.x << ", " << e.point.y;
    }
    const qsrch_resultSetEntry* const grown = set->entries, last = grown[4];
    ASSERT_EQ(qsrch_resultSet_assign(set.get(), set.get()), QSRCH_OK);
    qsys_memory_failAfter(0);
    EXPECT_EQ(qsrch_resultSet_assign(set.get(), untouched.get()), QSYS_E_NO_MEMORY);
    qsys_memory_failAfter(-1);
    EXPECT_TRUE(set->count == 5 && set->entries == grown && qtest::sameEntry(grown[4], last));
    qsrch_resultSet copy;
    qtest::expectAllocationFailuresClean([&] {
        const qsrch_status s = qsrch_resultSet_constructCopy(&copy, set.get());
        if (QSRCH_FAILED(s)) return s;
        EXPECT_TRUE(copy.entries != grown && copy.count == 5 && qtest::sameEntry(copy.entries[4], last));
        return qsrch_resultSet_destruct(&copy);
    });
    EXPECT_TRUE(copy.count == 0 && copy.entries == nullptr);
    Xform radial, fromClient;
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(radial.get(), 45, 35, 1e-5), QSRCH_OK);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), radial.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
    const qimg_windowConst view = qtest::viewOf(image.cget(), 40, 30, 60, 50);
    const qsrch_runParams two = qtest::topRunParams(2);
    for (bool whole : {true, false})
        qtest::expectAllocationFailuresClean([&] {
            ResultSet s;
            return whole ? qsrch_runMask(trained.model.get(), image.cget(), image.cget(), &two, s.get())
                         : qsrch_runWindow(trained.model.get(), &view, fromClient.get(), &two, s.get());
        });
}

}  // namespace
