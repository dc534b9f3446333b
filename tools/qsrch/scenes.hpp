// Many scenes: searched on worker threads that share one trained pattern,
// reported in command-line order, each optionally drawn to a PNG.
#pragma once

#include <string>
#include <vector>

#include "search.hpp"

namespace qtool {

struct SceneOutcome {
    std::string path;
    std::vector<Found> found;
};

// Where --draw puts the picture of each scene: the file itself for one
// scene (or NAME-found.png inside it when it is a folder), NAME-found.png
// in the folder for several; empty strings without --draw.
std::vector<std::string> drawTargets(const std::string& draw, const std::vector<std::string>& scenes);

// Reads and searches each scene on up to `jobs` threads and writes its
// picture to draws[i] when that is not empty. Outcomes follow the scenes'
// order; after a failure no further scene is started and the failure of the
// first failing scene is thrown. On a terminal, a progress line shows on
// stderr while the work takes longer than a second.
std::vector<SceneOutcome> searchScenes(const Searcher& searcher, const std::vector<std::string>& scenes,
                                       const std::vector<std::string>& draws, int jobs);

}  // namespace qtool
