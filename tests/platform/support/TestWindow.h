// Test helpers for the message core: a hidden window that records what its
// procedure receives, and a message pump bounded by a deadline.
#pragma once

#include "platform/Win32.h"

#include <chrono>
#include <functional>
#include <vector>

class TTestWindow {
public:
    // A tool window on the calling thread, unless told otherwise.
    explicit TTestWindow(DWORD exStyle = WS_EX_TOOLWINDOW, HWND parent = nullptr,
                         const char* title = "");
    ~TTestWindow();  // destroys the window if it still exists
    TTestWindow(const TTestWindow&) = delete;
    TTestWindow& operator=(const TTestWindow&) = delete;

    HWND Handle() const { return m_Handle; }
    // Messages in the order the procedure saw them (the owner thread's view).
    const std::vector<MSG>& Received() const { return m_Received; }
    std::vector<UINT> ReceivedNumbers() const;
    // Runs after recording; its result is the procedure's result.
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> OnMessage;

    static const char* ClassName();

private:
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_Handle = nullptr;
    std::vector<MSG> m_Received;
};

// Dispatches the calling thread's messages until `done` holds or `timeout`
// has passed; a thread timer bounds each wait. Returns `done()`.
bool PumpMessagesUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
