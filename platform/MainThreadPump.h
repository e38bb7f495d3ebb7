// How a GUI binding drives the main thread's queue from its own event loop.
#pragma once

#include <optional>

// Called by the binding when woken: runs the hand-overs and dispatches every
// waiting message of the main thread. Dispatches nothing while the main
// thread is inside a PeekMessageA or WaitMessage of its own (the caller of
// that call dispatches), but makes sure another wake-up follows if input is
// left when that call returns. Returns the exit code when a WM_QUIT was taken.
std::optional<int> ServeMainThreadWake();

// Milliseconds until the main thread's earliest timer is due (0 when one is
// due), or -1 when it has none.
long NextMainThreadTimerMs();
