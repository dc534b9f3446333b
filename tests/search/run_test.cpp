// Top-level runs: points in client coordinates, check order, result growth.
#include <functional>
#include <string>

#include "search/search_support.hpp"

namespace {

using qtest::Image8, qtest::OwnedImage, qtest::ResultSet, qtest::SearchModel, qtest::Xform;

// Two linear client transforms and a radial one, with their inverses.
void setClient(OwnedImage& image, int kind, Xform& client, Xform& fromClient)
{
    if (kind == 0) Xform::scaleShift(client, 0.5, 0.75, 10.0, -4.0);
    if (kind == 1) Xform::scaleShift(client, 1.5, 1.25, -20.0, 7.5);
    if (kind == 2) Xform::radial(client, 90.0, 70.0, 1.5e-5);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), client.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
}

// A pattern planted in another image: every run form maps the origin through both.
TEST(SearchRun, ReportsTheOriginWhereTheClientTransformsPutIt)
{
    const int32_t w = 48, h = 40;
    for (auto [trainKind, searchKind] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{2, 0}, std::pair{1, 2}})
        for (unsigned seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(std::to_string(trainKind) + std::to_string(searchKind) + " seed " + std::to_string(seed));
            std::mt19937 rng(seed);
            auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
            const Image8 trainPixels = qtest::smoothTexture(rng, 120, 100);
            Image8 searchPixels = qtest::smoothTexture(rng, 180, 140), careEverywhere(180, 140, 190);
            const int32_t x0 = pick(3, 120 - w - 3), y0 = pick(3, 100 - h - 3), u = pick(0, 180 - w),
                          v = pick(0, 140 - h);
            qtest::paste(searchPixels, trainPixels, x0, y0, w, h, u, v);
            careEverywhere.fill(200);
            OwnedImage trainImage(trainPixels), searchImage(searchPixels), mask(careEverywhere);
            Xform trainClient, searchClient, trainFromClient, searchFromClient;
            setClient(trainImage, trainKind, trainClient, trainFromClient);
            setClient(searchImage, searchKind, searchClient, searchFromClient);
            SearchModel model;  // a short pyramid: only where points land matters
            const qimg_windowConst pattern = qtest::viewOf(trainImage.cget(), x0, y0, w, h);
            const qsrch_trainParams trainParams = qtest::fixedTrainParams(2);
            ASSERT_EQ(qsrch_model_trainWindow(model.get(), &pattern, trainFromClient.get(), &trainParams), QSRCH_OK);
            const qmath_vect origin = trainClient.map({x0 + 10.25, y0 + 7.5});
            const qmath_vect want = searchClient.map({u + 10.25, v + 7.5});
            ASSERT_EQ(qsrch_model_setOrigin(model.get(), &origin), QSRCH_OK);

            const int32_t ox = std::max(0, u - 9), oy = std::max(0, v - 5);
            const qimg_windowConst around = qtest::viewOf(searchImage.cget(), ox, oy, w + 20, h + 11);
            const qimg_windowConst maskAround = qtest::viewOf(mask.cget(), ox, oy, w + 20, h + 11);
            const qsrch_runParams params = qtest::topRunParams();
            const qsrch_model* m = model.get();
            const std::pair<const char*, std::function<qsrch_status(qsrch_resultSet*)>> forms[] = {
                {"image", [&](auto* s) { return qsrch_run(m, searchImage.cget(), &params, s); }},
                {"masked image",
                 [&](auto* s) { return qsrch_runMask(m, searchImage.cget(), mask.cget(), &params, s); }},
                {"view", [&](auto* s) { return qsrch_runWindow(m, &around, searchFromClient.get(), &params, s); }},
                {"masked view",
                 [&](auto* s) {
                     return qsrch_runMaskWindow(m, &around, &maskAround, searchFromClient.get(), &params, s);
                 }},
                {"masked view, normalized-correlation run",
                 [&](auto* s) {
                     return qsrch_runMaskWindow_usingNormcorr(m, &around, &maskAround, searchFromClient.get(),
                                                              &params, s);
                 }},
            };
            for (const auto& [name, run] : forms) {
                SCOPED_TRACE(name);
                ResultSet set;
                ASSERT_EQ(run(set.get()), QSRCH_OK);
                ASSERT_EQ(set->count, 1);
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
        Xform identity;
        Xform::scaleShift(identity, 1, 1, 0, 0);
        const qimg_windowConst pattern = pixels.window(30, 20, 24, 20);
        const qsrch_trainParams params = qtest::fixedTrainParams(2);
        EXPECT_EQ(qsrch_model_trainWindow(model.get(), &pattern, identity.get(), &params), QSRCH_OK);
        const qmath_vect corner{30, 20};
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
    Xform id;
    Xform::scaleShift(id, 1, 1, 0, 0);
    const qimg_windowConst view = qtest::viewOf(image.cget(), 5, 5, 60, 50),
                           narrow = qtest::viewOf(image.cget(), 5, 5, 23, 50);
    const qsrch_runParams good = qtest::topRunParams();
    qsrch_runParams accept = good, algorithm = good, count = good;
    accept.acceptThreshold = 2.0f;
    algorithm.algorithm = 2;
    count.numToFind = 0;
    const qsrch_model *none = untrained.get(), *model = trained.model.get();
    const std::tuple<const char*, std::function<qsrch_status(qsrch_resultSet*)>, qsrch_status> cases[] = {
        {"unbound", [&](auto* s) { return qsrch_run(none, unbound.cget(), &accept, s); }, QSRCH_E_IMAGE_UNBOUND},
        {"unbound, mask", [&](auto* s) { return qsrch_runMask(none, unbound.cget(), image.cget(), &accept, s); },
         QSRCH_E_IMAGE_UNBOUND},
        {"accept", [&](auto* s) { return qsrch_run(none, image.cget(), &accept, s); }, QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {"algorithm", [&](auto* s) { return qsrch_runMask(none, image.cget(), unbound.cget(), &algorithm, s); },
         QSRCH_E_BAD_ALGORITHM},
        {"untrained", [&](auto* s) { return qsrch_run(none, image.cget(), &good, s); }, QSRCH_E_NOT_TRAINED},
        {"view, count", [&](auto* s) { return qsrch_runWindow(none, &view, id.get(), &count, s); },
         QSRCH_E_BAD_NUM_TO_FIND},
        {"view", [&](auto* s) { return qsrch_runWindow(none, &view, id.get(), &good, s); }, QSRCH_E_NOT_TRAINED},
        {"masked view, accept", [&](auto* s) { return qsrch_runMaskWindow(none, &view, &view, id.get(), &accept, s); },
         QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {"masked view", [&](auto* s) { return qsrch_runMaskWindow(none, &view, &view, id.get(), &good, s); },
         QSRCH_E_NOT_TRAINED},
        {"small image", [&](auto* s) { return qsrch_run(model, small.cget(), &good, s); }, QSRCH_E_IMAGE_TOO_SMALL},
        {"narrow view", [&](auto* s) { return qsrch_runWindow(model, &narrow, id.get(), &good, s); },
         QSRCH_E_IMAGE_TOO_SMALL},
    };
    for (const auto& [name, run, want] : cases) {
        ResultSet set;
        EXPECT_EQ(run(set.get()), want) << name;
    }

    ResultSet plain, masked;
    ASSERT_EQ(qsrch_run(model, image.cget(), &good, plain.get()), QSRCH_OK);
    ASSERT_EQ(qsrch_runMask(model, image.cget(), unbound.cget(), &good, masked.get()), QSRCH_OK);
    ASSERT_TRUE(plain->count == 1 && masked->count == 1);
    EXPECT_TRUE(qtest::sameEntry(plain->entries[0], masked->entries[0]));
    EXPECT_TRUE(std::hypot(plain->entries[0].point.x - 30, plain->entries[0].point.y - 20) < 0.1);
}

// A set of 10 takes 3 results in place, then needs a new array for 5.
TEST(SearchRun, ResultSetGrowsOnlyWhenMoreEntriesAreFound)
{
    std::mt19937 rng(12);
    Trained trained(rng);
    Image8 scene = qtest::smoothTexture(rng, 200, 160);
    const std::pair<int32_t, int32_t> places[] = {{10, 10}, {110, 12}, {60, 60}, {15, 110}, {150, 115}};
    for (auto [x, y] : places) qtest::paste(scene, trained.pixels, 30, 20, 24, 20, x, y);
    OwnedImage image(scene);

    ResultSet set, untouched;
    qtest::fillSet(set.get(), 10);
    qtest::fillSet(untouched.get(), 10);
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
        EXPECT_TRUE(std::any_of(std::begin(places), std::end(places), [&](auto p) {
            return std::abs(e.point.x - p.first) < 0.1 && std::abs(e.point.y - p.second) < 0.1;
        })) << e.point.x << ", " << e.point.y;
    }
}

TEST(SearchRun, AllocationFailuresLeakNothing)
{
    std::mt19937 rng(13);
    Trained trained(rng);
    Image8 scene = qtest::smoothTexture(rng, 90, 70);
    qtest::paste(scene, trained.pixels, 30, 20, 24, 20, 41, 33);
    OwnedImage image(scene), mask(scene);
    Xform radial, fromClient;
    Xform::radial(radial, 45, 35, 1e-5);
    ASSERT_EQ(qimg_image_setClientFromImageXform(image.get(), radial.get()), QSRCH_OK);
    ASSERT_EQ(qimg_imageConst_getImageFromClientXform(image.cget(), fromClient.get()), QSRCH_OK);
    const qimg_windowConst view = qtest::viewOf(image.cget(), 20, 10, 60, 50);
    const qsrch_runParams params = qtest::topRunParams(2);
    for (bool whole : {true, false})
        qtest::expectAllocationFailuresClean([&] {
            qsrch_resultSet set;
            qsrch_resultSet_construct(&set);
            const qsrch_status s = whole ? qsrch_runMask(trained.model.get(), image.cget(), mask.cget(), &params, &set)
                                         : qsrch_runWindow(trained.model.get(), &view, fromClient.get(), &params, &set);
            qsrch_resultSet_destruct(&set);
            return s;
        });
}

}  // namespace
