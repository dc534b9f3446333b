#include "scene_queue.hpp"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

namespace qpy {

SceneQueue::SceneQueue(size_t count, std::function<qsrch_status(size_t)> searchOne)
    : searchOne_(std::move(searchOne)), statuses_(count, QSRCH_OK)
{
}

void SceneQueue::runReleased(size_t threads)
{
    const size_t wanted = std::min(threads, statuses_.size());
    if (wanted == 0) return;
    const bool mainThread = onMainThread();
    std::vector<std::thread> workers;
    {
        py::gil_scoped_release released;
        try {
            while (workers.size() < wanted) workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // The workers already started take every scene between them.
        }
        wait(workers.size(), mainThread);
        for (std::thread& worker : workers) worker.join();
    }
    request_.raiseIfInterrupted();
    if (workers.empty()) throw std::runtime_error("find_many: cannot start a thread");
}

void SceneQueue::work()
{
    {
        PollScope scope(request_, false);
        while (!request_.stopped() && !failed_) {
            const size_t i = next_++;
            if (i >= statuses_.size()) break;
            statuses_[i] = searchOne_(i);
            if (QSRCH_FAILED(statuses_[i])) failed_ = true;
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ++finishedWorkers_;
    finished_.notify_all();
}

void SceneQueue::wait(size_t workers, bool checksSignals)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (finishedWorkers_ < workers) {
        finished_.wait_for(lock, kSignalCheckInterval);
        if (!checksSignals || finishedWorkers_ == workers || request_.stopped()) continue;
        lock.unlock();
        {
            const py::gil_scoped_acquire gil;
            request_.checkSignals();
        }
        lock.lock();
    }
}

}  // namespace qpy
