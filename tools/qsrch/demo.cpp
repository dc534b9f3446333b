// The samples are rendered by qsrch_make_samples: a board with five copies
// of a part, one turned and one partly covered, so the picture shows
// accepted and rejected results side by side.
#include "demo.hpp"

#include <filesystem>
#include <iostream>

#include "output.hpp"
#include "scenes.hpp"
#include "tool_error.hpp"

namespace qtool {

int runDemo(const DemoSettings& settings)
{
    namespace fs = std::filesystem;
    const fs::path samples(settings.samples);
    const std::string part = (samples / "part.png").string(), board = (samples / "board.png").string();
    std::error_code error;
    if (!fs::exists(part, error) || !fs::exists(board, error))
        throw ToolError("no sample images (part.png, board.png) in " + settings.samples +
                        "; give their folder with --samples DIR");
    if (!fs::is_directory(settings.out, error) && !fs::create_directories(settings.out, error) && error)
        throw ToolError("--out " + settings.out + ": cannot create the folder: " + error.message());
    const std::string picture = (fs::path(settings.out) / "qsrch-demo.png").string();

    FindSettings find = defaultFindSettings();
    find.pattern = part;
    find.scenes = {board};
    find.run.numToFind = 5;
    std::cout << "Finding " << part << "\nin " << board << ", the same as\n  qsrch find --num "
              << find.run.numToFind << " --draw " << picture << " " << part << " " << board << "\n\n";
    const Searcher searcher(find);
    const std::vector<SceneOutcome> outcomes = searchScenes(searcher, find.scenes, {picture}, 1);
    printResults(std::cout, Format::Table, outcomes);
    std::cout << "\nWrote " << picture << " (accepted results outlined in green, rejected in red).\n";
    return 0;
}

}  // namespace qtool
