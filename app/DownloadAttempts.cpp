#include "app/DownloadAttempts.h"

#include "http/HttpProt.h"
#include "platform/Application.h"
#include "platform/Win32.h"

#include <chrono>

std::int32_t RetryPauseMs(int retry, std::int32_t firstPauseMs)
{
    return firstPauseMs << (retry - 1);
}

bool LostConnection(const THttpCli& client)
{
    // A server's own answer, an error status included, leaves no socket error.
    return client.DoneError() != 0;
}

bool PauseOnMainThread(std::int32_t ms, const std::function<bool()>& stop)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        ApplicationProcessMessages();
        if (stop() || ApplicationTerminated())
            return false;
        Sleep(5);
    }
    return !stop();
}

bool TRetryPause::Wait(std::int32_t ms)
{
    std::unique_lock lock(m_Mutex);
    m_Woken.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_Cancelled; });
    return !m_Cancelled;
}

void TRetryPause::Cancel()
{
    {
        std::lock_guard lock(m_Mutex);
        m_Cancelled = true;
    }
    m_Woken.notify_all();
}
