// Unblocks a wait that does not end by itself: after the time limit it runs
// `rescue` on its own thread (resetting the peer, say, which ends the
// connection), so a failing test fails instead of hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TWatchdog {
public:
    explicit TWatchdog(std::function<void()> rescue, std::chrono::seconds limit = std::chrono::seconds(10));
    ~TWatchdog();
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    // True when it had to step in.
    bool Stop();

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    bool m_Stopped = false;
    bool m_Fired = false;
    std::thread m_Thread;
};
