// Posting, peeking, waiting and dispatching. The main thread also runs its
// handed-over steps and, with a GUI binding, its GUI events whenever it looks
// at its queue.
#include "Win32.h"
#include "Application.h"
#include "HandOvers.h"
#include "MainThreadPump.h"
#include "MessageQueue.h"
#include "Thread.h"
#include "WindowRecord.h"

namespace {

// Nesting of the main thread's own PeekMessageA and WaitMessage calls; a
// binding's wake-up must not dispatch underneath them.
int g_MainPumpDepth = 0;
// A wake-up was skipped for that reason: the outermost call makes sure
// another one follows if input is left.
bool g_MainWakeSkipped = false;

class TMainPumpScope {
public:
    TMainPumpScope() : m_Main(IsMainThread())
    {
        if (m_Main)
            ++g_MainPumpDepth;
    }
    ~TMainPumpScope()
    {
        if (!m_Main || --g_MainPumpDepth > 0 || !g_MainWakeSkipped)
            return;
        g_MainWakeSkipped = false;
        if (CurrentThreadQueue()->HasPendingInput() || HandOversPending()) {
            const GuiHooks* hooks = CurrentGuiHooks();
            if (hooks && hooks->WakeMainThread)
                hooks->WakeMainThread();
        }
    }
    TMainPumpScope(const TMainPumpScope&) = delete;
    TMainPumpScope& operator=(const TMainPumpScope&) = delete;

    bool Main() const { return m_Main; }

private:
    bool m_Main;
};

const GuiHooks* MainThreadHooks(const TMainPumpScope& scope)
{
    return scope.Main() ? CurrentGuiHooks() : nullptr;
}

}  // namespace

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    if (!window)  // no window: a message for the calling thread
        return CurrentThreadQueue()->Post(msg, nullptr) ? TRUE : FALSE;

    auto record = FindWindowRecord(window);
    if (!record || !record->Queue->Post(msg, record)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    auto queue = FindThreadQueue(threadId);
    if (!queue || !queue->Post(msg, nullptr)) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    CurrentThreadQueue()->PostQuit(exitCode);
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMsg)
{
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TMainPumpScope scope;
    if (scope.Main()) {
        CheckSynchronize();
        const GuiHooks* hooks = MainThreadHooks(scope);
        if (hooks && hooks->ProcessGuiEvents)
            hooks->ProcessGuiEvents();
    }
    auto queue = CurrentThreadQueue();
    const bool remove = (removeMsg & PM_REMOVE) != 0;
    // The thread's own sockets post when it looks at them: whenever it runs
    // out of messages, and now and then while it has plenty.
    if (queue->ReadinessLookDue())
        queue->LookAtReadiness();
    if (queue->Take(msg, window, filterMin, filterMax, remove))
        return TRUE;
    return queue->LookAtReadiness() && queue->Take(msg, window, filterMin, filterMax, remove) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax)
{
    const bool windowFilter = window && window != reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
    if (!msg || (windowFilter && !IsWindow(window))) {
        SetLastError(msg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    while (!PeekMessageA(msg, window, filterMin, filterMax, PM_REMOVE))
        WaitMessage();
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WaitMessage()
{
    TMainPumpScope scope;
    auto queue = CurrentThreadQueue();
    if (scope.Main()) {
        if (CheckSynchronize())
            return TRUE;
        const GuiHooks* hooks = MainThreadHooks(scope);
        if (hooks && hooks->WaitGuiEvent) {
            // The binding wakes the GUI loop for posts, hand-overs and timers,
            // so blocking there covers them all as well as GUI input.
            if (!queue->HasNewInput())
                hooks->WaitGuiEvent();
            CheckSynchronize();
            return TRUE;
        }
    }
    queue->WaitForNewInput();
    if (scope.Main())
        CheckSynchronize();
    return TRUE;
}

BOOL TranslateMessage(const MSG* /*msg*/)
{
    return FALSE;  // no keyboard input reaches these queues
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        // Only a procedure that a live timer of the process was set with is
        // called, never whatever a posted message carries.
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        if (IsLiveTimerProc(proc))
            proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd)
        return 0;  // thread messages have no procedure
    auto record = FindWindowRecord(msg->hwnd);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (record->ThreadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return record->Proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

std::optional<int> ServeMainThreadWake()
{
    if (!IsMainThread())
        return std::nullopt;
    // Hand-overs run wherever the main thread processes messages, so also
    // under a PeekMessageA of its own (a modal box opened there, say).
    CheckSynchronize();
    if (g_MainPumpDepth > 0) {
        g_MainWakeSkipped = true;
        return std::nullopt;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            return static_cast<int>(msg.wParam);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return std::nullopt;
}

long NextMainThreadTimerMs()
{
    auto queue = FindThreadQueue(MainThreadId());
    auto delay = queue ? queue->NextTimerDelay() : std::nullopt;
    if (!delay)
        return -1;
    // Rounded up, so a wake-up never comes before the timer is due.
    return static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(*delay).count());
}
