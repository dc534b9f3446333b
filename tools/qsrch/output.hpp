// The printed results: a table for people, JSON or CSV for programs.
#pragma once

#include <ostream>
#include <vector>

#include "options.hpp"
#include "scenes.hpp"

namespace qtool {

// Table: a row per result (number, x, y, score, accepted, contrast,
// brightness), under a heading line per scene when there are several.
// JSON: one array, {"scene": PATH, "results": [{"x", "y", "score",
// "accepted", "contrast", "brightness"}, ...]} per scene, results best first.
// CSV: a header row, then scene,index,x,y,score,accepted,contrast,brightness.
void printResults(std::ostream& out, Format format, const std::vector<SceneOutcome>& outcomes);

}  // namespace qtool
