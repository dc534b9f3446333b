// Searches of many scenes on worker threads. The workers take the scenes in
// order from a shared counter and start none after a failure, so every
// scene before the first failing one has been searched: the error reported
// does not depend on the number of threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include <qsrch/frame.h>

#include "interrupt.hpp"

namespace qpy {

class SceneQueue {
public:
    // searchOne(i) searches scene i and returns its status; it runs on the
    // workers, without the GIL, and must not throw.
    SceneQueue(size_t count, std::function<qsrch_status(size_t)> searchOne);

    // Called with the GIL: releases it, runs the searches on up to
    // `threads` workers and waits for them, watching for Ctrl-C meanwhile
    // when on the main thread (which stops every worker at its next poll).
    // Raises what a signal handler raised, or RuntimeError when no worker
    // thread could be started.
    void runReleased(size_t threads);
    qsrch_status status(size_t i) const { return statuses_[i]; }

private:
    void work();
    void wait(size_t workers, bool checksSignals);

    std::function<qsrch_status(size_t)> searchOne_;
    std::vector<qsrch_status> statuses_;
    StopRequest request_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::condition_variable finished_;
    size_t finishedWorkers_ = 0;
};

}  // namespace qpy
