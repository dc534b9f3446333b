#include "interrupt.hpp"

#include <pythread.h>

namespace qpy {
namespace {

unsigned long mainThreadId = 0;

// The innermost scope of this thread; the library's handler slot holds it.
thread_local PollScope* currentScope = nullptr;

}  // namespace

void noteMainThread()
{
    mainThreadId = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

bool onMainThread() { return PyThread_get_thread_ident() == mainThreadId; }

StopRequest::~StopRequest()
{
    // Only reached with an exception still kept when raising was skipped by
    // another exception; the GIL is held wherever a request ends.
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
}

bool StopRequest::signalCheckDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < nextCheck_) return false;
    nextCheck_ = now + kSignalCheckInterval;
    return true;
}

bool StopRequest::checkSignals()
{
    if (PyErr_CheckSignals() == 0) return false;
    PyErr_Fetch(&type_, &value_, &traceback_);
    stop();
    return true;
}

void StopRequest::raiseIfInterrupted()
{
    if (type_ == nullptr) return;
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
    throw py::error_already_set();
}

PollScope::PollScope(StopRequest& request, bool checksSignals)
    : request_(request), checksSignals_(checksSignals), enclosing_(currentScope)
{
    currentScope = this;
    qsys_attention_setHandler(&PollScope::poll, this);
}

PollScope::~PollScope()
{
    currentScope = enclosing_;
    if (enclosing_ != nullptr)
        qsys_attention_setHandler(&PollScope::poll, enclosing_);
    else
        qsys_attention_setHandler(nullptr, nullptr);
}

qsys_status PollScope::poll(void* context)
{
    PollScope& scope = *static_cast<PollScope*>(context);
    if (scope.request_.stopped()) return QSYS_E_ABORTED;
    if (scope.checksSignals_ && scope.request_.signalCheckDue()) {
        const py::gil_scoped_acquire gil;
        if (scope.request_.checkSignals()) return QSYS_E_ABORTED;
    }
    return QSYS_OK;
}

}  // namespace qpy
