// Thread identifiers of our own: small numbers that are never reused, so a
// stale identifier can never address a newer thread. The process's initial
// thread is always kMainThreadId.
#pragma once

#include "Win32.h"

constexpr DWORD kMainThreadId = 1;

// A fresh identifier for a thread that is about to start.
DWORD AllocateThreadId();
// Makes `id` the calling thread's identifier; call first thing on a new thread.
void AdoptThreadId(DWORD id);
