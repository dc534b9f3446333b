// The attention poll: a per-thread handler that a client installs to ask
// running calls on its thread to stop.
#include <qsys/qsys.h>

namespace {
thread_local qsys_attentionHandler handler = nullptr;
thread_local void* handlerContext = nullptr;
}  // namespace

extern "C" {

void qsys_attention_setHandler(qsys_attentionHandler h, void* context)
{
    handler = h;
    handlerContext = context;
}

qsys_status qsys_attention_check(void) { return handler != nullptr ? handler(handlerContext) : QSYS_OK; }

}  // extern "C"
