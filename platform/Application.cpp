// The application-wide message processing and the GUI binding's hooks.
#include "Application.h"

#ifndef _WIN32
#include "MessageQueue.h"
#include "ThreadIdentity.h"
#endif

#include <atomic>

namespace {

std::atomic<const GuiHooks*> g_GuiHooks{nullptr};

}  // namespace

void SetGuiHooks(const GuiHooks* hooks)
{
    g_GuiHooks.store(hooks, std::memory_order_release);
}

const GuiHooks* CurrentGuiHooks()
{
    return g_GuiHooks.load(std::memory_order_acquire);
}

void ApplicationProcessMessages()
{
    // On the main thread each PeekMessageA also runs the hand-overs and the
    // pending GUI events.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Left for the loop that owns the thread.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool ApplicationTerminated()
{
#ifdef _WIN32
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
#else
    // Not through PeekMessageA, which would also run the main thread's
    // hand-overs and GUI events.
    return CurrentThreadQueue()->QuitPending() || MainThreadQuitPending();
#endif
}

bool MainThreadQuitPending()
{
#ifdef _WIN32
    return false;  // no thread sees another's queue
#else
    const std::shared_ptr<TThreadQueue> main = FindThreadQueue(kMainThreadId);
    return main && main->QuitPending();
#endif
}
