// Steps handed over from workers to the main thread, and the wait for a
// thread's end. A waiting worker and the main thread meet on one lock and
// condition: a hand-over, a finished step and a finished thread all notify
// it. The systems differ only in how the main thread is woken.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

// Worker side: queues `method`, calls `wakeMainThread`, and waits until the
// main thread has run it; an exception raised there is raised again here.
void HandOverAndWait(const std::function<void()>& method, const std::function<void()>& wakeMainThread);

// Main thread only: runs every queued step; returns whether any ran.
bool RunHandOvers();

// Whether steps handed over to the main thread wait to run.
bool HandOversPending();

// The lock `finished` is set under: what a thread publishes before it
// reads as finished is read under it too.
std::mutex& HandOverMutex();

// Sets `finished` under the lock and wakes whoever waits for it.
void MarkFinished(std::atomic<bool>& finished);

// Waits until `finished`; on the main thread it runs hand-overs meanwhile,
// since the thread may be waiting for one.
void WaitUntilFinished(const std::atomic<bool>& finished, bool onMainThread);
