// A thread's message queue: its posted messages in posting order, its quit
// flag and its timers. Any thread may post; only the owner takes and waits.
#pragma once

#include "Win32.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct TWindowRecord;
class TReadinessSet;

class TThreadQueue {
public:
    using Clock = std::chrono::steady_clock;

    explicit TThreadQueue(DWORD threadId) : m_ThreadId(threadId) {}
    DWORD ThreadId() const { return m_ThreadId; }

    // Any thread. False once the owning thread has ended.
    bool Post(const MSG& msg, std::shared_ptr<TWindowRecord> window);
    void PostQuit(int exitCode);
    // New input without a message (a hand-over for the main thread).
    void Wake();
    // Posts fail from now on; what is queued is dropped.
    void Close();

    // Owner thread only. `window` filters as PeekMessageA does.
    bool Take(MSG* msg, HWND window, UINT filterMin, UINT filterMax, bool remove);
    // Input that arrived after the last Take, or a timer that fell due since.
    bool HasNewInput();
    // Blocks until HasNewInput().
    void WaitForNewInput();
    // Serves the sockets that the thread's readiness set reports now; true
    // when there were some (their events may have been posted).
    bool LookAtReadiness();
    // Whether a thread that keeps finding messages should look at its
    // sockets before the next Take, so that none waits for ever.
    bool ReadinessLookDue();
    // Anything an unfiltered Take would return now.
    bool HasPendingInput();
    // A WM_QUIT waits, whatever is posted before it. Changes nothing.
    bool QuitPending();

    // Any thread. A null window gets a thread timer with an identifier of
    // our choosing. 0 once the window is destroyed or the thread has ended.
    UINT_PTR SetTimer(const std::shared_ptr<TWindowRecord>& window, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
    bool KillTimer(HWND window, UINT_PTR id);
    bool HasTimerProc(TIMERPROC proc);
    // Time until the earliest timer is due, zero when one is due already.
    std::optional<Clock::duration> NextTimerDelay();
    // Drops the window's timers and the messages waiting for it.
    void ForgetWindow(HWND window);

    // Any thread: the set that WaitForNewInput also waits on, made on first
    // use; null once the thread has ended.
    std::shared_ptr<TReadinessSet> ReadinessSet();

private:
    struct TEntry {
        MSG Msg;
        std::shared_ptr<TWindowRecord> Window;  // null for thread messages
    };
    struct TTimer {
        HWND Window = nullptr;
        UINT_PTR Id = 0;
        TIMERPROC Proc = nullptr;
        Clock::duration Interval{};
        Clock::time_point Due{};
    };

    bool HasNewInputLocked(Clock::time_point now) const;
    std::optional<Clock::time_point> NextNewDeadlineLocked() const;
    // Wakes a waiting owner; for the main thread also the GUI loop.
    void Notify();
    void NotifyGui() const;

    const DWORD m_ThreadId;
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::deque<TEntry> m_Posted;
    bool m_Closed = false;
    bool m_QuitPending = false;
    int m_QuitCode = 0;
    std::vector<TTimer> m_Timers;
    UINT_PTR m_NextThreadTimerId = 1;
    // Input counts as new when it arrived after the owner last looked:
    // m_InputSerial grows with every arrival, m_SeenSerial and m_SeenTime
    // record the last Take.
    unsigned long long m_InputSerial = 0;
    unsigned long long m_SeenSerial = 0;
    Clock::time_point m_SeenTime{};
    // Made under m_Mutex, published in m_Readiness and kept for the queue's
    // life. m_Waiting is set, under m_Mutex, while the owner sleeps in it, so
    // that new input wakes the set too.
    std::shared_ptr<TReadinessSet> m_ReadinessHolder;
    std::atomic<TReadinessSet*> m_Readiness{nullptr};
    std::atomic<bool> m_Waiting{false};
    unsigned m_TakesSinceLook = 0;  // owner only
};

// The calling thread's queue, created on first use; torn down with the
// thread together with the thread's windows.
std::shared_ptr<TThreadQueue> CurrentThreadQueue();
// The queue of a live thread that has one, or null.
std::shared_ptr<TThreadQueue> FindThreadQueue(DWORD threadId);
// Tells the main thread that it has new input: a hand-over, for instance.
void WakeMainThreadQueue();
// Whether a live timer of any thread was set with that procedure.
bool IsLiveTimerProc(TIMERPROC proc);
