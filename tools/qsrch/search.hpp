// The search behind `qsrch find`: a pattern trained once, searched for in
// any number of scenes, from any number of threads at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image_io.hpp"
#include "options.hpp"

namespace qtool {

// One result: where the pattern's top-left pixel (of the --roi, if given)
// lies in the scene, and the library's numbers for it.
struct Found {
    double x, y;
    float score;
    bool accepted;
    double contrast, brightness;
};

class Searcher {
public:
    // Reads the pattern, its mask and the scene mask, and trains; throws
    // ToolError naming the file or option at fault.
    explicit Searcher(const FindSettings& settings);
    ~Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // At most --num results, best first; `name` names the scene in errors.
    std::vector<Found> search(const Image& scene, const std::string& name) const;
    // What a scene read for this search may cost.
    const DecodeLimits& limits() const;

    int32_t patternWidth() const;
    int32_t patternHeight() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qtool
