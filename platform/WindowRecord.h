// What the window table keeps for each class and window.
#pragma once

#include "Win32.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class TThreadQueue;

struct TWindowClass {
    std::string Name;
    ATOM Atom = 0;
    WNDCLASSA Info;  // Info.lpszClassName and lpszMenuName are not kept
    int WindowCount = 0;
};

struct TWindowRecord {
    HWND Handle = nullptr;
    std::shared_ptr<TWindowClass> Class;
    WNDPROC Proc = nullptr;
    DWORD ThreadId = 0;
    std::shared_ptr<TThreadQueue> Queue;
    HWND Parent = nullptr;
    DWORD ExStyle = 0;
    std::string Name;
    std::vector<unsigned char> Extra;  // cbWndExtra bytes, guarded by the table's lock
    bool Published = false;
    bool Destroying = false;           // WM_DESTROY is on its way; guarded by the table's lock
    std::atomic<bool> Destroyed{false};  // read by queues without the table's lock
};

// The live window of that handle, or null.
std::shared_ptr<TWindowRecord> FindWindowRecord(HWND window);
// Invalidates every window of a thread that has ended; no WM_DESTROY is sent.
void ForgetThreadWindows(DWORD threadId);
