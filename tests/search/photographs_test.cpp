// Crops of bench/photos (see its SOURCES.md) where the search once lost the
// unique best place of exhaustive correlation.
#include <string>

#include "search/search_support.hpp"

TEST(Photographs, SearchFindsWhatExhaustiveCorrelationFinds)
{
    const struct {
        const char* stem;  // tests/data/<stem>-pattern.pgm and <stem>-scene.pgm
        double x, y;       // where the pattern lies in the scene
        float confusionThreshold;
    } cases[] = {
        {"immunohistochemistry-16x16", 22.458, 29.068, 1.0f},  // refined peak fitted onto its region's edge
        {"camera-16x16", 14.0, 25.0, 1.0f},                    // reducer mixed the surroundings into the start level
        {"coffee-16x16", 9.143, 14.358, 1.0f},                 // detector kept the farther of two diagonal neighbours
        {"camera-32x32", 19.0, 46.0, 0.5f},                    // match half way between start-level positions
        {"coffee-32x32", 24.019, 15.891, 0.5f},                // top towards a diagonal, underrated by the axes
        {"retina-16x16", 17.305, 21.623, 0.5f},                // corners higher than the axes
    };
    const qsrch_trainParams train = qtest::topTrainParams();
    qsrch_runParams run = qtest::topRunParams();
    for (const auto& c : cases) {
        const qtest::OwnedImage pattern(qtest::readTestPgm(std::string(c.stem) + "-pattern.pgm")),
            scene(qtest::readTestPgm(std::string(c.stem) + "-scene.pgm"));
        qtest::SearchModel model;
        qtest::ResultSet set;
        run.confusionThreshold = c.confusionThreshold;
        ASSERT_EQ(qsrch_model_train(model.get(), pattern.cget(), &train), QSRCH_OK) << c.stem;
        ASSERT_EQ(qsrch_run(model.get(), scene.cget(), &run, set.get()), QSRCH_OK) << c.stem;
        ASSERT_EQ(set->count, 1) << c.stem;
        const qmath_vect found = set->entries[0].point;
        EXPECT_LE(std::hypot(found.x - c.x, found.y - c.y), 1.0) << c.stem << " at " << found.x << ", " << found.y;
    }
}
