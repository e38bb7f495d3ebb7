// The one thread that watches every registered socket with epoll and
// posts its due events. It sleeps in epoll_wait while nothing happens.
#pragma once

#include "Library.h"

#include <memory>
#include <thread>

namespace wsock {

class EventLoop {
public:
    // Null when the system refuses the epoll set, the wake-up event or the thread.
    static std::unique_ptr<EventLoop> Create();
    // Stops and joins the thread; call without the library mutex.
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Library mutex held for both. Watch adds the socket or changes its
    // interest as UpdateWatch describes.
    void Watch(SocketEntry& entry, bool disarm);
    void Unwatch(SocketEntry& entry);

private:
    EventLoop() = default;
    void Run();

    int m_Epoll = -1;
    int m_Wake = -1;
    std::thread m_Thread;
};

}  // namespace wsock
