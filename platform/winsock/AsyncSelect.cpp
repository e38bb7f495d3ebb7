// WSAAsyncSelect: registers a socket's events for a window.
#include "Library.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>

namespace wsock {

int AsyncSelect(Handle s, HWND window, UINT message, long events)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    if ((events & ~win::kFdAll) != 0 || (events != 0 && window == nullptr))
        return Fail(win::WSAEINVAL);
    // A window's thread other than the main one waits for the socket
    // itself; looked up before the library's lock, which the window and
    // queue tables must never wait behind.
    std::shared_ptr<TReadinessSet> waitSet;
    if (events != 0)
        waitSet = ThreadReadinessSet(GetWindowThreadProcessId(window, nullptr));
    Posts posts;
    {
        std::lock_guard lock(LibraryMutex());
        if (entry->closed)
            return Fail(win::WSAENOTSOCK);
        if (!entry->nonBlocking) {
            int flags = ::fcntl(entry->fd, F_GETFL);
            if (flags < 0 || ::fcntl(entry->fd, F_SETFL, flags | O_NONBLOCK) != 0)
                return Fail(ErrorFromErrno(errno));
            entry->nonBlocking = true;
        }
        // Replaces the old registration: what it computed is dropped, and
        // every event is armed again, so what is due now is posted now.
        ++entry->generation;
        entry->window = events != 0 ? window : nullptr;
        entry->message = events != 0 ? message : 0;
        entry->events = events;
        entry->waitSet = std::move(waitSet);
        entry->readEnabled = true;
        entry->acceptEnabled = true;
        entry->oobEnabled = true;
        entry->closeReported = false;
        entry->writeEnabled = entry->type != SOCK_STREAM || entry->connected;
        Evaluate(entry, posts);
    }
    PostBarrier();
    Deliver(posts);
    return 0;
}

}  // namespace wsock
