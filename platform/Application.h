// The application-wide message processing of the GUI class library, and
// the hooks through which a GUI toolkit joins the main thread's queue.
#pragma once

#include "Win32.h"

// Processes every waiting message of the calling thread, the main thread's
// handed-over steps and, on the main thread of a GUI program, pending GUI
// events. Returns when nothing is left.
void ApplicationProcessMessages();

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
