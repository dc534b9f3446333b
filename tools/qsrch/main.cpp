// qsrch: find a trained pattern in images from the command line. Exit
// status as grep's: 0 when some scene has an accepted result, 1 when none
// has, 2 on any error, which is reported as one line on stderr.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "demo.hpp"
#include "options.hpp"
#include "output.hpp"
#include "scenes.hpp"
#include "tool_error.hpp"

namespace {

int runFind(const qtool::FindSettings& settings)
{
    const qtool::Searcher searcher(settings);
    const std::vector<std::string> draws = qtool::drawTargets(settings.draw, settings.scenes);
    const std::vector<qtool::SceneOutcome> outcomes =
        qtool::searchScenes(searcher, settings.scenes, draws, settings.jobs);
    qtool::printResults(std::cout, settings.format, outcomes);
    for (const qtool::SceneOutcome& outcome : outcomes)
        for (const qtool::Found& found : outcome.found)
            if (found.accepted) return 0;
    return 1;
}

int run(int argc, char** argv)
{
    const qtool::Command command = qtool::parseCommandLine(argc, argv);
    switch (command.kind) {
    case qtool::Command::Find: return runFind(command.find);
    case qtool::Command::Demo: return qtool::runDemo(command.demo);
    case qtool::Command::Exit: break;
    }
    return command.exitStatus;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 2;
    try {
        status = run(argc, argv);
        std::cout.flush();
        if (!std::cout)
            throw qtool::ToolError(std::string("cannot write the results: ") + std::strerror(errno));
    } catch (const qtool::ToolError& e) {
        std::fprintf(stderr, "qsrch: %s\n", e.what());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "qsrch: out of memory\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qsrch: %s\n", e.what());
        return 2;
    }
    return status;
}
