// TCustomSyncWSocket: waiting for a flag that an event handler sets, while
// the thread's messages keep flowing.
#include "socket/WSocket.h"

std::int32_t TCustomSyncWSocket::RunAndWait(const std::function<void()>& proc, bool& doneFlag)
{
    doneFlag = false;
    if (proc)
        proc();
    return WaitForFlag(doneFlag);
}

std::int32_t TCustomSyncWSocket::WaitForFlag(bool& doneFlag)
{
    for (;;) {
        // Read afresh: the handlers that set it run inside ServiceMessages.
        if (doneFlag)
            return 0;
        if (WaitAbandoned())
            return kWaitAbandoned;
        ServiceMessages();
        Sleep(0);
    }
}
