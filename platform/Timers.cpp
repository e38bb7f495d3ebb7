// SetTimer and KillTimer: a window's timers live in the queue of the thread
// that owns the window, whichever thread of the process sets them; a thread
// timer in the caller's queue. The queue produces WM_TIMER when its thread
// looks for input and nothing is posted.
#include "Win32.h"
#include "MessageQueue.h"
#include "WindowRecord.h"

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    if (!window)
        return CurrentThreadQueue()->SetTimer(nullptr, id, elapseMs, proc);
    auto record = FindWindowRecord(window);
    const UINT_PTR timer = record ? record->Queue->SetTimer(record, id, elapseMs, proc) : 0;
    if (timer == 0)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return timer;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    std::shared_ptr<TThreadQueue> queue;
    if (window) {
        auto record = FindWindowRecord(window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = record->Queue;
    } else {
        queue = CurrentThreadQueue();
    }
    if (!queue->KillTimer(window, id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
