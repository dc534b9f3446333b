// Result sets: a counted array of entries on the q* heap. The capacity is
// not recorded, so the array is reallocated to exactly the entries needed
// whenever more are needed than the set counts, and never shrunk.
#include <qsrch/search.h>

#include "frame/call_frame.hpp"
#include "search/search_internal.hpp"

namespace {

size_t entryBytes(int32_t count) { return static_cast<size_t>(count) * sizeof(qsrch_resultSetEntry); }

}  // namespace

namespace qsrch {

Status reserveResultEntries(qsrch_resultSet* set, int32_t needed)
{
    if (needed <= set->count) return QSRCH_OK;
    // The block holds at least count entries; only those are worth keeping.
    return qsys_memory_realloc_internal(entryBytes(needed), &set->entries, entryBytes(set->count));
}

}  // namespace qsrch

extern "C" {

qsrch_status qsrch_resultSet_construct(qsrch_resultSet* set)
{
    set->count = 0;
    set->entries = nullptr;
    return QSRCH_OK;
}

qsrch_status qsrch_resultSet_constructCopy(qsrch_resultSet* set, const qsrch_resultSet* source)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_resultSet_construct(set)));
    frame.releaseOnFailure<qsrch_resultSet_destruct>(0, set);
    if (set == source) return frame.finish();
    if (source->count > 0)
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch::reserveResultEntries(set, source->count)));
    set->count = source->count;
    return frame.finish(qsys_memory_copy(entryBytes(source->count), source->entries, set->entries));
}

qsrch_status qsrch_resultSet_assign(qsrch_resultSet* set, const qsrch_resultSet* source)
{
    if (set == source) return QSRCH_OK;
    QSRCH_RETURN_IF_ERROR(qsrch::reserveResultEntries(set, source->count));
    set->count = source->count;
    return qsys_memory_copy(entryBytes(source->count), source->entries, set->entries);
}

qsrch_status qsrch_resultSet_destruct(qsrch_resultSet* set)
{
    set->count = 0;
    return qsys_memory_free_internal(&set->entries);
}

}  // extern "C"
