#include "EventLoop.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace wsock {

namespace {

constexpr char kThreadName[] = "wsock32 events";

LPARAM SelectReply(long event, int error)
{
    return static_cast<LPARAM>(static_cast<DWORD>(event) | (static_cast<DWORD>(error & 0xFFFF) << 16));
}

int PendingSocketError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

// Edge-triggered: an edge only wakes the thread, which then looks at the
// socket's present state, so a socket that stays readable or broken never
// keeps it spinning. Errors and hang-ups are always reported, and the
// peer's end is watched throughout; data and room to send only while the
// event they are for is armed, so that data arriving after FD_READ has
// been posted does not wake the thread for nothing. Arming again changes
// the interest, and epoll then reports what is already there.
std::uint32_t Interest(const SocketEntry& entry)
{
    std::uint32_t mask = EPOLLRDHUP | EPOLLET;
    const bool readArmed = entry.listening ? entry.acceptEnabled && (entry.events & win::kFdAccept)
                                           : entry.readEnabled && (entry.events & win::kFdRead);
    if (readArmed)
        mask |= EPOLLIN;
    if (entry.oobEnabled && (entry.events & win::kFdOob))
        mask |= EPOLLPRI;
    if (entry.connectPending || (entry.writeEnabled && (entry.events & win::kFdWrite)))
        mask |= EPOLLOUT;
    return mask;
}

constexpr std::uint32_t kArmable = EPOLLIN | EPOLLOUT | EPOLLPRI;

bool EpollControl(int epoll, int operation, const SocketEntry& entry, std::uint32_t mask)
{
    epoll_event event{};
    event.events = mask;
    event.data.u64 = entry.handle;
    return ::epoll_ctl(epoll, operation, entry.fd, &event) == 0;
}

// Of the bytes a receive left queued, the peer's FIN may be one and an
// urgent byte that normal reads skip another; fewer than three say
// nothing for sure, and FIONREAD tells.
bool DataWaitsAfter(const SocketEntry& entry, int queued)
{
    if (queued > 2 || queued == 0)
        return queued > 2;
    int waiting = 0;
    return ::ioctl(entry.fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

int AbortErrorFrom(int error)
{
    return error == ECONNRESET || error == EPIPE ? win::WSAECONNRESET : win::WSAECONNABORTED;
}

}  // namespace

std::unique_ptr<EventLoop> EventLoop::Create()
{
    std::unique_ptr<EventLoop> loop(new EventLoop);
    loop->m_Set = TReadinessSet::Create();
    if (!loop->m_Set)
        return nullptr;
    try {
        loop->m_Thread = std::thread([raw = loop.get()] { raw->Run(); });
        ::pthread_setname_np(loop->m_Thread.native_handle(), kThreadName);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return loop;
}

EventLoop::~EventLoop()
{
    if (m_Thread.joinable()) {
        m_Set->Wake();
        m_Thread.join();
    }
}

void EventLoop::Watch(SocketEntry& entry, bool disarm)
{
    const std::shared_ptr<TReadinessSet>& set = entry.waitSet ? entry.waitSet : m_Set;
    if (entry.watchMask != 0 && entry.watchSet != set)
        Unwatch(entry);  // registered for a window of another thread since
    const std::uint32_t wanted = Interest(entry);
    if (entry.watchMask == 0) {
        if (EpollControl(set->Epoll(), EPOLL_CTL_ADD, entry, wanted)) {
            entry.watchMask = wanted;
            entry.watchSet = set;
        }
        return;
    }
    const bool arm = (wanted & ~entry.watchMask) != 0;
    if ((arm || (disarm && wanted != entry.watchMask)) && EpollControl(set->Epoll(), EPOLL_CTL_MOD, entry, wanted))
        entry.watchMask = wanted;
}

void EventLoop::Unwatch(SocketEntry& entry)
{
    if (entry.watchMask == 0)
        return;
    ::epoll_ctl(entry.watchSet->Epoll(), EPOLL_CTL_DEL, entry.fd, nullptr);
    entry.watchMask = 0;
    entry.watchSet.reset();
}

void EventLoop::Run()
{
    epoll_event events[64];
    for (;;) {
        int count = ::epoll_wait(m_Set->Epoll(), events, 64, -1);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 == TReadinessSet::kOwnTag)
                return;  // only the destructor wakes us
        }
        ServeReady(m_Set->Epoll(), events, count);
    }
}

void ServeReady(int epoll, const epoll_event* events, int count)
{
    Posts posts;
    {
        std::lock_guard lock(LibraryMutex());
        for (int i = 0; i < count; ++i) {
            EntryPtr entry = FindSocketLocked(static_cast<Handle>(events[i].data.u64));
            if (!entry || !entry->watchSet || entry->watchSet->Epoll() != epoll)
                continue;
            const std::uint32_t armed = Interest(*entry) & kArmable;
            Evaluate(entry, posts);
            // Woken for nothing that is armed: stop watching it until
            // it is armed again.
            if ((events[i].events & armed) == 0)
                UpdateWatch(*entry, true);
        }
    }
    Deliver(posts);
}

namespace {

void QueueDue(const EntryPtr& shared, Posts& posts)
{
    SocketEntry& entry = *shared;
    if (entry.closed)
        return;
    pollfd level{entry.fd, POLLIN | POLLOUT | POLLPRI | POLLRDHUP, 0};
    if (::poll(&level, 1, 0) < 0)
        return;
    const short ready = level.revents;
    const bool registered = entry.events != 0 && entry.window != nullptr;
    auto post = [&](long event, int error) {
        if (registered && (entry.events & event))
            Queue({shared, entry.generation.load(), entry.window, entry.message, SelectReply(event, error)}, posts);
    };

    // A connect ends whether or not anyone listens for FD_CONNECT, so that
    // recv and send see the socket's true state.
    if (entry.connectPending) {
        int error = entry.connectError;
        if (error == 0) {
            if (!(ready & (POLLOUT | POLLERR | POLLHUP)))
                return;
            if (int pending = PendingSocketError(entry.fd))
                error = ErrorFromErrno(pending);
        }
        entry.connectPending = false;
        entry.connectError = 0;
        if (error != 0) {
            // A failed connect is reported by FD_CONNECT alone.
            entry.connectFailed = true;
            post(win::kFdConnect, error);
            return;
        }
        entry.connected = true;
        entry.writeEnabled = true;
        post(win::kFdConnect, 0);
    }
    if (!registered)
        return;

    if (entry.listening) {
        if (entry.acceptEnabled && (ready & POLLIN) && (entry.events & win::kFdAccept)) {
            entry.acceptEnabled = false;
            post(win::kFdAccept, 0);
        }
    } else if (!entry.connectFailed && (entry.type != SOCK_STREAM || entry.connected)) {
        const bool stream = entry.type == SOCK_STREAM;
        // Readable alone does not mean data waits, even with no end in
        // sight: the kernel counts a peer's FIN as readable a moment before
        // it reports the end, so only FIONREAD tells.
        int waiting = 0;
        const bool dataWaits = (ready & POLLIN) && ::ioctl(entry.fd, FIONREAD, &waiting) == 0 && waiting > 0;
        if (entry.readEnabled && (ready & POLLIN) && (entry.events & win::kFdRead)) {
            // A stream at end of file is readable without data: that is
            // FD_CLOSE's business, not FD_READ's.
            if (!stream || dataWaits) {
                entry.readEnabled = false;
                post(win::kFdRead, 0);
            }
        }
        if (entry.oobEnabled && (ready & POLLPRI) && (entry.events & win::kFdOob)) {
            entry.oobEnabled = false;
            post(win::kFdOob, 0);
        }
        if (stream && (ready & POLLERR) && entry.abortError == 0) {
            if (int pending = PendingSocketError(entry.fd))
                entry.abortError = AbortErrorFrom(pending);
        }
        const bool peerClosed = (ready & POLLRDHUP) && !entry.receiveShutdown;
        const bool ownShutdown = entry.receiveShutdown && entry.sendShutdown;
        // A peer that only stopped sending can still be written to.
        const bool broken = stream && (entry.abortError != 0 || ((ready & POLLHUP) && !ownShutdown));
        const bool gone = broken || (stream && peerClosed);
        entry.peerGone = entry.peerGone || gone;
        if (entry.writeEnabled && (ready & POLLOUT) && !broken && (entry.events & win::kFdWrite)) {
            entry.writeEnabled = false;
            post(win::kFdWrite, 0);
        }
        // After an orderly end, FD_CLOSE waits until the data before it has
        // been read, as on Windows; a broken connection reports at once.
        if (gone && (broken || !dataWaits) && !entry.closeReported && (entry.events & win::kFdClose)) {
            entry.closeReported = true;
            post(win::kFdClose, entry.abortError);
        }
    }
}

}  // namespace

void Evaluate(const EntryPtr& entry, Posts& posts)
{
    QueueDue(entry, posts);
    UpdateWatch(*entry);
}

void EvaluateReceived(const EntryPtr& shared, Posts& posts, const Receipt& receipt)
{
    SocketEntry& entry = *shared;
    const bool plain = entry.type == SOCK_STREAM && entry.connected && !entry.connectFailed && !entry.peerGone &&
                       (receipt.received > 0 || receipt.error == EAGAIN);
    if (!plain) {
        Evaluate(shared, posts);
        return;
    }
    // A receive that took less than asked, or nothing, left the queue empty
    // at that moment, and what arrives later wakes the event thread. Only
    // FD_READ can have become due: the other events keep their own watch.
    if (receipt.received == receipt.asked && entry.readEnabled && (entry.events & win::kFdRead) &&
        entry.window != nullptr && DataWaitsAfter(entry, receipt.queued)) {
        entry.readEnabled = false;
        Queue({shared, entry.generation.load(), entry.window, entry.message, SelectReply(win::kFdRead, 0)}, posts);
    }
    UpdateWatch(entry);
}

}  // namespace wsock
