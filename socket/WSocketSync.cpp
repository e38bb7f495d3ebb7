// TCustomSyncWSocket: waiting for a flag that an event handler sets, while
// the thread's messages keep flowing.
#include "socket/WSocket.h"

namespace {

// ApplicationProcessMessages leaves a WM_QUIT in the queue for the loop that
// owns the thread: one waiting there means the application is ending.
bool ApplicationTerminating()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

}  // namespace

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
        // The own pump takes a WM_QUIT (QuitSeen); the application's leaves it
        // queued, so that is where the application's end shows.
        if (QuitSeen() || (!MultiThreaded() && ApplicationTerminating()))
            return kWaitAbandoned;
        ServiceMessages();
        Sleep(0);
    }
}
