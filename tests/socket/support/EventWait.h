// Waiting for socket events in tests: pumps the calling thread's messages
// until a condition holds or a time limit passes.
#pragma once

#include <functional>

// True when `done` became true within `timeoutMs`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Dispatches every message that is already queued for this thread (a marker
// is posted behind them), so that a posted message that must have no effect
// has had its chance.
void PumpQueued();
// Like PumpUntil, but tests `done` after every single message.
bool PumpSinglyUntil(const std::function<bool()>& done, int timeoutMs = 5000);
