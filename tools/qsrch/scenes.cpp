// The worker threads take the scenes in order from a shared counter, so
// every scene before a failing one has been searched when the failure is
// reported: the error shown does not depend on the number of threads.
#include "scenes.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include <unistd.h>

#include "draw.hpp"
#include "tool_error.hpp"

namespace qtool {
namespace {

namespace fs = std::filesystem;

// "searched K of N scenes", rewritten in place on a terminal once the work
// has taken a second, and wiped at the end.
class Progress {
public:
    explicit Progress(size_t total) : total_(total), enabled_(isatty(STDERR_FILENO) != 0) {}
    ~Progress()
    {
        if (width_ > 0) std::fprintf(stderr, "\r%*s\r", width_, "");
    }
    void show(size_t done)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!enabled_ || now - start_ < std::chrono::seconds(1) || now - shown_ < std::chrono::milliseconds(100))
            return;
        shown_ = now;
        width_ = std::fprintf(stderr, "\rqsrch: searched %zu of %zu scenes", done, total_) - 1;
        std::fflush(stderr);
    }

private:
    size_t total_;
    bool enabled_;
    int width_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), shown_;
};

void drawScene(const std::string& target, Image scene, const std::vector<Found>& found, int32_t width,
               int32_t height)
{
    std::vector<Outline> outlines;
    // The best result is drawn last, on top of the others.
    for (size_t i = found.size(); i-- > 0;)
        outlines.push_back(Outline{found[i].x, found[i].y, width, height, found[i].accepted, int(i) + 1});
    writePng(target, drawOutlines(std::move(scene), outlines));
}

}  // namespace

std::vector<std::string> drawTargets(const std::string& draw, const std::vector<std::string>& scenes)
{
    std::vector<std::string> targets(scenes.size());
    if (draw.empty()) return targets;
    std::error_code error;
    const bool folder = fs::is_directory(draw, error);
    if (scenes.size() == 1 && !folder) {
        targets[0] = draw;
        checkOutputPath(draw);
        return targets;
    }
    if (!folder) {
        if (fs::exists(draw, error)) throw ToolError("--draw " + draw + ": several scenes need a folder");
        if (!fs::create_directories(draw, error) && error)
            throw ToolError("--draw " + draw + ": cannot create the folder: " + error.message());
    }
    std::set<std::string> used;
    for (size_t i = 0; i < scenes.size(); ++i) {
        const std::string stem = scenes[i] == "-" ? "stdin" : fs::path(scenes[i]).stem().string();
        std::string name = stem + "-found.png";
        if (!used.insert(name).second) name = stem + "-" + std::to_string(i + 1) + "-found.png";
        used.insert(name);
        targets[i] = (fs::path(draw) / name).string();
    }
    for (const std::string& target : targets) checkOutputPath(target);
    return targets;
}

std::vector<SceneOutcome> searchScenes(const Searcher& searcher, const std::vector<std::string>& scenes,
                                       const std::vector<std::string>& draws, int jobs)
{
    const size_t n = scenes.size();
    std::vector<SceneOutcome> outcomes(n);
    std::vector<std::exception_ptr> errors(n);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable changed;
    size_t done = 0, running = 0;

    auto work = [&] {
        while (!failed) {
            const size_t i = next++;
            if (i >= n) break;
            try {
                Image scene = readImage(scenes[i], searcher.limits());
                outcomes[i].path = scenes[i];
                outcomes[i].found = searcher.search(scene, inputName(scenes[i]));
                // The search is done with the scene: the picture takes its pixels.
                if (!draws[i].empty())
                    drawScene(draws[i], std::move(scene), outcomes[i].found, searcher.patternWidth(),
                              searcher.patternHeight());
            } catch (...) {
                errors[i] = std::current_exception();
                failed = true;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            ++done;
            changed.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        changed.notify_all();
    };

    std::vector<std::thread> workers;
    const size_t threads = std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), n);
    {
        Progress progress(n);
        std::unique_lock<std::mutex> lock(mutex);
        try {
            for (size_t t = 0; t < threads; ++t) {
                workers.emplace_back(work);
                ++running;
            }
        } catch (const std::system_error&) {
            failed = true;  // the threads already started stop after their scene
        }
        while (running > 0) {
            changed.wait_for(lock, std::chrono::milliseconds(100));
            progress.show(done);
        }
    }
    for (std::thread& worker : workers) worker.join();
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
    if (failed) throw ToolError("cannot start the worker threads");
    return outcomes;
}

}  // namespace qtool
