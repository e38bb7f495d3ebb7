// The thread that watches the registered sockets with epoll and posts
// their due events, but for those of a window whose thread waits for them
// itself (ThreadReadiness.h). It sleeps in epoll_wait while nothing happens.
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

    // Library mutex held for both. Watch adds the socket, to the set of the
    // thread that waits for it or else to ours, or changes its interest as
    // UpdateWatch describes.
    void Watch(SocketEntry& entry, bool disarm);
    void Unwatch(SocketEntry& entry);

private:
    EventLoop() = default;
    void Run();

    // Its own tag wakes the thread to end.
    std::shared_ptr<TReadinessSet> m_Set;
    std::thread m_Thread;
};

}  // namespace wsock
