// SetTimer and KillTimer: timers live in the owning thread's queue, which
// produces WM_TIMER when the thread looks for input and nothing is posted.
#include "Win32.h"
#include "MessageQueue.h"
#include "WindowRecord.h"

namespace {

// A window timer belongs to the window's thread, which must be the caller.
bool CheckOwnWindow(HWND window)
{
    auto record = FindWindowRecord(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (record->ThreadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

}  // namespace

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    if (window && !CheckOwnWindow(window))
        return 0;
    return CurrentThreadQueue()->SetTimer(window, id, elapseMs, proc);
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    if (window && !CheckOwnWindow(window))
        return FALSE;
    if (!CurrentThreadQueue()->KillTimer(window, id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
