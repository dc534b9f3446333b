// Patterns cut from the photographs of bench/photos (origins and licences in
// its SOURCES.md), each with a small crop of its scene, where the search at
// default parameters once lost a match that exhaustive correlation finds as
// its unique best place. Each row says what lost it.
#include <cmath>
#include <string>

#include "search/search_support.hpp"

namespace {

using qtest::Image8;
using qtest::OwnedImage;
using qtest::ResultSet;
using qtest::SearchModel;

const struct PhotoCase {
    const char* lostBy;
    const char* stem;  // tests/data/<stem>-pattern.pgm and <stem>-scene.pgm
    double x, y;       // where the pattern lies in the scene
    float confusionThreshold;
} kCases[] = {
    {"a refined peak fitted beyond half a position, onto the edge of its region, where re-detection found none",
     "immunohistochemistry-16x16", 22.458, 29.068, 1.0f},
    {"the halving reducer mixed the pattern's surroundings into the start level, where the match then peaked a "
     "position away, outside the neighbourhood refined on the next level",
     "camera-16x16", 14.0, 25.0, 1.0f},
    {"the detector kept only the higher of two diagonal neighbours on the start level's ridge, the one farther "
     "from the match", "coffee-16x16", 9.143, 14.358, 1.0f},
    {"the match sat half way between start-level positions, sampled below its top and ranked behind a lesser "
     "peak, which reached the confusion threshold first", "camera-32x32", 19.0, 46.0, 0.5f},
    {"the match's top lay towards a diagonal between start-level positions, where the axes alone underrate it; "
     "a lesser peak ranked first and reached the confusion threshold", "coffee-32x32", 24.019, 15.891, 0.5f},
    {"likewise, a start-level peak whose corners showed it higher than its axes ranked behind a lesser one a few "
     "positions away", "retina-16x16", 17.305, 21.623, 0.5f},
};

}  // namespace

TEST(Photographs, SearchFindsWhatExhaustiveCorrelationFinds)
{
    for (const PhotoCase& c : kCases) {
        SCOPED_TRACE(std::string(c.stem) + ", once lost by " + c.lostBy);
        const Image8 pattern = qtest::readTestPgm(std::string(c.stem) + "-pattern.pgm");
        const Image8 scene = qtest::readTestPgm(std::string(c.stem) + "-scene.pgm");
        ASSERT_TRUE(pattern.width() > 0 && scene.width() > 0);
        OwnedImage patternImage(pattern), sceneImage(scene);
        SearchModel model;
        qsrch_trainParams train;
        qsrch_trainParams_init(&train);
        ASSERT_EQ(qsrch_model_train(model.get(), patternImage.cget(), &train), QSRCH_OK);
        qsrch_runParams run;
        qsrch_runParams_init(&run);
        run.confusionThreshold = c.confusionThreshold;
        ResultSet set;
        ASSERT_EQ(qsrch_run(model.get(), sceneImage.cget(), &run, set.get()), QSRCH_OK);
        EXPECT_EQ(set->count, 1);
        if (set->count < 1) continue;
        const qmath_vect found = set->entries[0].point;
        EXPECT_LE(std::hypot(found.x - c.x, found.y - c.y), 1.0) << "found at " << found.x << ", " << found.y;
    }
}
