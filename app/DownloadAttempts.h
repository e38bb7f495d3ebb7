// How often a check or a download is tried: a connection lost, refused or
// timed out is tried again up to three more times, after pauses of one,
// two and four times the first pause.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class THttpCli;

inline constexpr int kMoreTries = 3;
inline constexpr std::int32_t kFirstRetryPauseMs = 1000;

// The pause before retry `retry` (1 to kMoreTries).
std::int32_t RetryPauseMs(int retry, std::int32_t firstPauseMs);

// The request failed on its way, not by the server's answer: worth another try.
bool LostConnection(const THttpCli& client);

// Main thread: waits `ms` serving messages; false as soon as `stop` holds.
bool PauseOnMainThread(std::int32_t ms, const std::function<bool()>& stop);

// A worker's pause, which another thread can end at once.
class TRetryPause {
public:
    // False when cancelled, before or during the wait.
    bool Wait(std::int32_t ms);
    void Cancel();

private:
    std::mutex m_Mutex;
    std::condition_variable m_Woken;
    bool m_Cancelled = false;
};
