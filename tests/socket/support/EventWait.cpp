#include "socket/support/EventWait.h"

#include "platform/Win32.h"

#include <chrono>
#include <thread>

namespace {

constexpr UINT kMarker = WM_USER + 0x3F0;

// Returns true when the marker was taken.
bool PumpWaiting()
{
    bool marker = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!msg.hwnd && msg.message == kMarker) {
            marker = true;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return marker;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpWaiting();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PumpQueued()
{
    PostThreadMessageA(GetCurrentThreadId(), kMarker, 0, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!PumpWaiting() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool PumpSinglyUntil(const std::function<bool()>& done, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (msg.hwnd || msg.message != kMarker) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}
