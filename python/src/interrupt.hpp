// Library calls run without the GIL, so that other Python threads go on
// meanwhile, and stop on Ctrl-C through the library's attention poll.
//
// Python delivers signals to the main thread only, and learning of one
// (PyErr_CheckSignals) needs the GIL. So the poll of a call running on the
// main thread takes the GIL for the check at most once per
// kSignalCheckInterval, and answers every other poll from an atomic flag;
// polls on other threads read only the flag, which the main thread sets
// when it finds a signal while it waits for them. Whatever exception the
// signal handler raised (KeyboardInterrupt for Ctrl-C) is raised by the
// interrupted call once it has unwound.
#pragma once

#include <atomic>
#include <chrono>

#include <pybind11/pybind11.h>

#include <qsrch/frame.h>

namespace qpy {

namespace py = pybind11;

constexpr std::chrono::milliseconds kSignalCheckInterval{50};

// Remembers the main thread; called once when the module is imported.
void noteMainThread();
// Whether the calling thread is the one Python runs signal handlers on.
bool onMainThread();

// A stop request shared by the threads of one call, and the Python
// exception that caused it.
class StopRequest {
public:
    StopRequest() = default;
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;
    ~StopRequest();

    bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
    void stop() { stopped_.store(true, std::memory_order_relaxed); }
    // Whether the signal check is due; only the main thread asks.
    bool signalCheckDue();
    // With the GIL: runs Python's signal handlers; when one raised, keeps
    // its exception, stops the request and answers true.
    bool checkSignals();
    // With the GIL: raises the kept exception, if any.
    void raiseIfInterrupted();

private:
    std::atomic<bool> stopped_{false};
    std::chrono::steady_clock::time_point nextCheck_ = std::chrono::steady_clock::now() + kSignalCheckInterval;
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

// While alive, the calling thread's attention poll answers QSYS_E_ABORTED
// once the request is stopped, and on the main thread also checks for
// signals when due. Scopes nest (a signal handler may search too).
class PollScope {
public:
    PollScope(StopRequest& request, bool checksSignals);
    PollScope(const PollScope&) = delete;
    PollScope& operator=(const PollScope&) = delete;
    ~PollScope();

private:
    static qsys_status poll(void* context);

    StopRequest& request_;
    const bool checksSignals_;
    PollScope* const enclosing_;
};

// Runs call() (which calls the library and returns its status) with the
// GIL released and the poll in place; raises what a signal handler raised
// meanwhile, else returns the status.
template <class Call>
qsrch_status callReleased(Call&& call)
{
    StopRequest request;
    qsrch_status status;
    {
        const bool mainThread = onMainThread();
        py::gil_scoped_release released;
        PollScope scope(request, mainThread);
        status = call();
    }
    request.raiseIfInterrupted();
    return status;
}

}  // namespace qpy
