// Crops of bench/photos (SOURCES.md there) where the search once lost exhaustive correlation's best place.
#include <string>

#include "search/search_support.hpp"

TEST(Photographs, SearchFindsWhatExhaustiveCorrelationFinds)
{
    const std::tuple<const char*, double, double, float> cases[] = {  // data stem, place in the scene, confusion
        {"immunohistochemistry-16x16", 22.458, 29.068, 1.0f},  // refined peak fitted onto its region's edge
        {"camera-16x16", 14.0, 25.0, 1.0f},                    // reducer mixed the surroundings into the start level
        {"coffee-16x16", 9.143, 14.358, 1.0f},                 // detector kept the farther of two diagonal neighbours
        {"camera-32x32", 19.0, 46.0, 0.5f},                    // match half way between start-level positions
        {"coffee-32x32", 24.019, 15.891, 0.5f},                // top towards a diagonal, underrated by the axes
        {"retina-16x16", 17.305, 21.623, 0.5f},                // corners higher than the axes
    };
    const qsrch_trainParams train = qtest::topTrainParams();
    qsrch_runParams run = qtest::topRunParams();
    for (const auto& [stem, x, y, confusion] : cases) {
        const qtest::OwnedImage pattern(qtest::readTestPgm(std::string(stem) + "-pattern.pgm")),
            scene(qtest::readTestPgm(std::string(stem) + "-scene.pgm"));
        qtest::SearchModel model;
        qtest::ResultSet set;
        run.confusionThreshold = confusion;
        ASSERT_EQ(qsrch_model_train(model.get(), pattern.cget(), &train), QSRCH_OK) << stem;
        ASSERT_EQ(qsrch_run(model.get(), scene.cget(), &run, set.get()), QSRCH_OK) << stem;
        ASSERT_EQ(set->count, 1) << stem;
        EXPECT_LE(std::hypot(set->entries[0].point.x - x, set->entries[0].point.y - y), 1.0) << stem;
    }
}
