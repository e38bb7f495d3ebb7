// Runs this thread's window messages while a fuzz case plays out.
#pragma once

#include <functional>

// Dispatches messages until done() holds; false after timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
