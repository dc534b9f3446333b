// The per-call cleanup list. Every function that acquires resources keeps
// one CallFrame in its own stack frame, passes each step's status through
// track() (QSRCH_RETURN_IF_ERROR(frame.track(step))), lists each acquisition
// right after it succeeds, and leaves a successful path through finish(),
// which releases the list and returns the status as it stands after the
// release. A failed step returns at once; the frame's destructor releases
// the list for it (a release never replaces a failure).
#pragma once

#include <cstddef>
#include <cstdint>

#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch {

template <std::size_t Capacity>
class CallFrame {
public:
    qsys_status status = QSYS_OK;

    CallFrame() = default;
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;
    // A frame left without finish() (a failed step) still releases its list.
    ~CallFrame()
    {
        if (count_ != 0) (void)finish();
    }

    // Records the status of a step and passes it on.
    Status track(qsys_status s)
    {
        status = s;
        return s;
    }
    // Records the status of a step; true when the step failed.
    [[nodiscard]] bool step(qsys_status s) { return failed(track(s)); }

    // An object local to the call, released by Destroy(object) at every exit.
    template <auto Destroy, class T>
    void release(uint32_t ordinal, T* object)
    {
        add(ordinal, QSYS_CLEANUP_OBJECT, object, &thunk<Destroy, T>);
    }
    // A memory block local to the call; blockVariable holds its pointer.
    void releaseMemory(uint32_t ordinal, void* blockVariable)
    {
        add(ordinal, QSYS_CLEANUP_MEMORY, blockVariable, &qsys_memory_free_internal);
    }
    // A member of the record under construction: released only on failure.
    template <auto Destroy, class T>
    void releaseOnFailure(uint32_t ordinal, T* member)
    {
        add(ordinal, QSYS_CLEANUP_MEMBER, member, &thunk<Destroy, T>);
    }
    // A heap block owned by the record under construction: freed only on failure.
    void releaseMemoryOnFailure(uint32_t ordinal, void* blockVariable)
    {
        add(ordinal, QSYS_CLEANUP_MEMBER_MEMORY, blockVariable, &qsys_memory_free_internal);
    }
    // The same for a heap record that needs its own teardown: Destroy takes
    // the variable holding the record's pointer (a model's delete).
    template <auto Destroy, class T>
    void releaseHeapRecordOnFailure(uint32_t ordinal, T** blockVariable)
    {
        add(ordinal, QSYS_CLEANUP_MEMBER_MEMORY, blockVariable, &thunk<Destroy, T*>);
    }

    Status finish()
    {
        (void)qsys_cleanupExecute_(entries_, &count_, &status);  // it leaves its verdict in status
        count_ = 0;
        return status;
    }
    // The last step's status, after the release.
    Status finish(qsys_status last)
    {
        status = last;
        return finish();
    }

private:
    template <auto Destroy, class T>
    static qsys_status thunk(void* object)
    {
        return Destroy(static_cast<T*>(object));
    }

    void add(uint32_t ordinal, uint32_t mode, void* object, qsys_destroyFunc destroy)
    {
        // Capacity is the most acquisitions the function makes; more is a bug.
        if (count_ >= Capacity) __builtin_trap();
        entries_[count_++] = qsys_cleanupEntry{ordinal, mode, object, destroy};
    }

    qsys_cleanupEntry entries_[Capacity];
    uint32_t count_ = 0;
};

}  // namespace qsrch
