#include "TestWindow.h"

#include <mutex>

TTestWindow::TTestWindow(DWORD exStyle, HWND parent, const char* title)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA wndClass{};  // the system's structure has no defaults
        wndClass.lpfnWndProc = WindowProc;
        wndClass.cbWndExtra = sizeof(LONG_PTR);
        wndClass.hInstance = GetModuleHandleA(nullptr);
        wndClass.lpszClassName = ClassName();
        RegisterClassA(&wndClass);
    });
    m_Handle = CreateWindowExA(exStyle, ClassName(), title, WS_POPUP, 0, 0, 0, 0, parent, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(m_Handle, 0, reinterpret_cast<LONG_PTR>(this));
}

TTestWindow::~TTestWindow()
{
    if (IsWindow(m_Handle)) {
        SetWindowLongPtrA(m_Handle, 0, 0);
        DestroyWindow(m_Handle);
    }
}

std::vector<UINT> TTestWindow::ReceivedNumbers() const
{
    std::vector<UINT> numbers;
    for (const MSG& msg : m_Received)
        numbers.push_back(msg.message);
    return numbers;
}

const char* TTestWindow::ClassName()
{
    return "QvTestWindow";
}

LRESULT TTestWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TTestWindow*>(GetWindowLongPtrA(window, 0));
    if (!self)
        return DefWindowProcA(window, message, wParam, lParam);
    MSG msg;
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    self->m_Received.push_back(msg);
    if (self->OnMessage)
        return self->OnMessage(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const DWORD start = GetTickCount();
    const UINT_PTR guard = SetTimer(nullptr, 0, static_cast<UINT>(timeout.count()), nullptr);
    MSG msg;
    while (!done() && GetTickCount() - start < static_cast<DWORD>(timeout.count())) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done())
                break;
        }
        if (!done())
            WaitMessage();
    }
    KillTimer(nullptr, guard);
    return done();
}
