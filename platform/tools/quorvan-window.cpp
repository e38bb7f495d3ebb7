// Stands in for a running download manager: a top-level window of class
// "Quorvan" that lives until SIGTERM or SIGINT. Prints "ready" once the
// window exists.
#include "platform/Win32.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

namespace {

LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int main()
{
    // The signals are taken by a thread of their own: a handler may not post messages.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    WNDCLASSA windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.lpszClassName = "Quorvan";
    if (!RegisterClassA(&windowClass)) {
        std::fprintf(stderr, "quorvan-window: RegisterClassA failed, error %u\n", GetLastError());
        return 1;
    }
    HWND window = CreateWindowExA(0, "Quorvan", "Quorvan", WS_OVERLAPPED, 0, 0, 400, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    if (!window) {
        std::fprintf(stderr, "quorvan-window: CreateWindowExA failed, error %u\n", GetLastError());
        return 1;
    }
    std::thread([stopSignals, window] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }).detach();

    std::printf("ready\n");
    std::fflush(stdout);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
