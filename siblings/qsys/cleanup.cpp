// Execution of per-call cleanup lists: latest acquisition first, since
// later objects may depend on earlier ones.
#include <qsys/qsys.h>

extern "C" qsys_status qsys_cleanupExecute_(qsys_cleanupEntry* entries, uint32_t* countInOut,
                                            qsys_status* statusInOut)
{
    const bool callFailed = QSYS_FAILED(*statusInOut);
    for (uint32_t k = *countInOut; k-- > 0;) {
        const qsys_cleanupEntry& e = entries[k];
        const bool always = e.mode == QSYS_CLEANUP_OBJECT || e.mode == QSYS_CLEANUP_MEMORY;
        const bool onFailure = e.mode == QSYS_CLEANUP_MEMBER || e.mode == QSYS_CLEANUP_MEMBER_MEMORY;
        if (!(always || (onFailure && callFailed))) continue;
        qsys_status s = e.destroy(e.object);
        if (QSYS_FAILED(s) && !QSYS_FAILED(*statusInOut)) *statusInOut = s;
    }
    *countInOut = 0;
    return *statusInOut;
}
