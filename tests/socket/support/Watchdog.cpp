#include "socket/support/Watchdog.h"

TWatchdog::TWatchdog(std::function<void()> rescue, std::chrono::seconds limit)
    : m_Thread([this, rescue = std::move(rescue), limit] {
          std::unique_lock lock(m_Mutex);
          if (!m_Changed.wait_for(lock, limit, [this] { return m_Stopped; })) {
              m_Fired = true;
              rescue();
          }
      })
{
}

TWatchdog::~TWatchdog()
{
    Stop();
}

bool TWatchdog::Stop()
{
    {
        std::lock_guard lock(m_Mutex);
        m_Stopped = true;
    }
    m_Changed.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
    return m_Fired;
}
