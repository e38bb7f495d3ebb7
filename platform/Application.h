// The application-wide message processing of the GUI class library, and
// the hooks through which a GUI toolkit joins the main thread's queue.
#pragma once

#include "Win32.h"

// Processes every waiting message of the calling thread, the main thread's
// handed-over steps and, on the main thread of a GUI program, pending GUI
// events. Returns when nothing is left.
void ApplicationProcessMessages();

// True while a WM_QUIT waits in the calling thread's queue: posted there,
// or left there by ApplicationProcessMessages for the loop that owns the
// thread. The application (on another thread, that thread's loop) is then
// ending, so a loop that waits by calling ApplicationProcessMessages must
// give up instead of spinning. On Linux a WM_QUIT waiting for the main
// thread counts on every thread. Takes and runs nothing.
bool ApplicationTerminated();
// True while a WM_QUIT waits in the main thread's queue, whatever thread
// asks: the application is ending. Always false on Windows, where no
// thread sees another's queue.
bool MainThreadQuitPending();

// Installed by a GUI binding on the main thread. All members may be null.
struct GuiHooks {
    // Called from any thread when the main thread's queue gains a message,
    // a hand-over or a timer that is due earlier than before.
    void (*WakeMainThread)() = nullptr;
    // Processes pending GUI events once, without blocking.
    void (*ProcessGuiEvents)() = nullptr;
    // Blocks until GUI input or a wake-up arrives.
    void (*WaitGuiEvent)() = nullptr;
    // A modal message box; returns the button pressed.
    int (*MessageBox)(HWND owner, const char* text, const char* caption, UINT type) = nullptr;
};
void SetGuiHooks(const GuiHooks* hooks);  // nullptr removes them
const GuiHooks* CurrentGuiHooks();
