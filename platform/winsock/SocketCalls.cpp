// The socket calls that make, connect, name and end sockets: Windows
// arguments in, Windows results and error numbers out.
#include "CallSupport.h"
#include "SystemCalls.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wsock {

namespace {

// Connect failures that Windows reports through FD_CONNECT on a
// non-blocking socket rather than from connect itself.
bool IsDeferredConnectError(int error)
{
    return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH || error == EHOSTUNREACH ||
           error == ECONNRESET;
}


}  // namespace

Handle Socket(int family, int type, int protocol)
{
    if (!RequireStarted())
        return win::kInvalidSocket;
    if (family != win::kAfInet) {
        Fail(win::WSAEAFNOSUPPORT);
        return win::kInvalidSocket;
    }
    int systemType;
    switch (type) {
    case win::kSockStream: systemType = SOCK_STREAM; break;
    case win::kSockDgram: systemType = SOCK_DGRAM; break;
    case win::kSockRaw: systemType = SOCK_RAW; break;
    default: Fail(win::WSAESOCKTNOSUPPORT); return win::kInvalidSocket;
    }
    int fd = sys::socket(AF_INET, systemType | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail(ErrorFromErrno(errno));
        return win::kInvalidSocket;
    }
    std::lock_guard lock(LibraryMutex());
    EntryPtr entry = AddSocket(fd, systemType);
    if (!entry) {
        ::close(fd);
        Fail(win::WSAEMFILE);
        return win::kInvalidSocket;
    }
    return entry->handle;
}

int Bind(Handle s, const void* name, int nameLength)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    sockaddr_in address;
    if (int error = ReadAddress(name, nameLength, address))
        return Fail(error);
    if (sys::bind(entry->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fail(ErrorFromErrno(errno));
    return 0;
}

int Connect(Handle s, const void* name, int nameLength)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    sockaddr_in address;
    if (int error = ReadAddress(name, nameLength, address))
        return Fail(error);
    const bool stream = entry->type == SOCK_STREAM;
    bool nonBlocking;
    {
        std::lock_guard lock(LibraryMutex());
        if (entry->listening)
            return Fail(win::WSAEINVAL);
        if (stream) {
            // Linux would take these to mean this host; Windows refuses them.
            if (address.sin_addr.s_addr == INADDR_ANY || address.sin_port == 0)
                return Fail(win::WSAEADDRNOTAVAIL);
            if (entry->connected)
                return Fail(win::WSAEISCONN);
            if (entry->connectPending)
                return Fail(win::WSAEALREADY);
            if (entry->connectFailed)
                return Fail(win::WSAEINVAL);
        }
        nonBlocking = entry->nonBlocking;
    }

    int result;
    int error;
    {
        BlockingCall call(*entry);
        result = sys::connect(entry->fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        error = result == 0 ? 0 : errno;
    }

    Posts posts;
    int reported = 0;
    {
        std::lock_guard lock(LibraryMutex());
        if (stream && nonBlocking) {
            // Windows: a non-blocking connect always completes with FD_CONNECT.
            // Pending only from here: before the call, the socket's state
            // (closed, hence "writable") would pass for a completed connect.
            // A completion seen meanwhile is picked up by Evaluate below.
            if (result == 0 || error == EINPROGRESS || error == EINTR || IsDeferredConnectError(error)) {
                entry->connectPending = true;
                entry->connectError = result == 0 || !IsDeferredConnectError(error) ? 0 : ErrorFromErrno(error);
                reported = win::WSAEWOULDBLOCK;
            } else {
                reported = ErrorFromErrno(error);
            }
        } else if (result == 0) {
            if (stream) {
                entry->connected = true;
                entry->writeEnabled = true;
            }
        } else {
            reported = ErrorFromErrno(error);
        }
        Evaluate(entry, posts);
    }
    Deliver(posts);
    return reported == 0 ? 0 : Fail(reported);
}

int Listen(Handle s, int backlog)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    Posts posts;
    {
        std::lock_guard lock(LibraryMutex());
        if (entry->type != SOCK_STREAM)
            return Fail(win::WSAEOPNOTSUPP);
        if (entry->connected || entry->connectPending)
            return Fail(win::WSAEISCONN);
        // Linux would bind an unbound socket to a port of its choice;
        // Windows wants bind first.
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        if (sys::getsockname(entry->fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0 || bound.sin_port == 0)
            return Fail(win::WSAEINVAL);
        if (sys::listen(entry->fd, std::clamp(backlog, 1, SOMAXCONN)) != 0)
            return Fail(ErrorFromErrno(errno));
        entry->listening = true;
        entry->acceptEnabled = true;
        Evaluate(entry, posts);
    }
    Deliver(posts);
    return 0;
}

Handle Accept(Handle s, void* address, int* addressLength)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kInvalidSocket;
    bool nonBlocking;
    {
        std::lock_guard lock(LibraryMutex());
        if (!entry->listening) {
            Fail(win::WSAEINVAL);
            return win::kInvalidSocket;
        }
        nonBlocking = entry->nonBlocking;
    }
    if (address != nullptr && !RoomForAddress(address, addressLength)) {
        Fail(win::WSAEFAULT);
        return win::kInvalidSocket;
    }
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    int fd;
    int error;
    {
        BlockingCall call(*entry);
        fd = ::accept4(entry->fd, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                       SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
        error = fd < 0 ? errno : 0;
    }

    Posts posts;
    EntryPtr accepted;
    {
        std::lock_guard lock(LibraryMutex());
        // Any accept call lets FD_ACCEPT come again.
        entry->acceptEnabled = true;
        if (fd >= 0) {
            accepted = AddSocket(fd, SOCK_STREAM);
            if (!accepted) {
                ::close(fd);
                error = EMFILE;
            }
        }
        if (accepted) {
            // The new socket has the listening socket's properties, its
            // registration included.
            accepted->nonBlocking = nonBlocking;
            accepted->connected = true;
            accepted->writeEnabled = true;
            accepted->window = entry->window;
            accepted->message = entry->message;
            accepted->events = entry->events;
            accepted->waitSet = entry->waitSet;
            Evaluate(accepted, posts);
        }
        Evaluate(entry, posts);
    }
    Deliver(posts);
    if (!accepted) {
        Fail(ErrorFromErrno(error));
        return win::kInvalidSocket;
    }
    if (address != nullptr)
        WriteAddress(peer, address, addressLength);
    return accepted->handle;
}

int Shutdown(Handle s, int how)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    int systemHow;
    switch (how) {
    case win::kSdReceive: systemHow = SHUT_RD; break;
    case win::kSdSend: systemHow = SHUT_WR; break;
    case win::kSdBoth: systemHow = SHUT_RDWR; break;
    default: return Fail(win::WSAEINVAL);
    }
    std::lock_guard lock(LibraryMutex());
    if (sys::shutdown(entry->fd, systemHow) != 0)
        return Fail(ErrorFromErrno(errno));
    if (how != win::kSdSend)
        entry->receiveShutdown = true;
    if (how != win::kSdReceive)
        entry->sendShutdown = true;
    return 0;
}

int CloseSocket(Handle s)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    {
        std::lock_guard lock(LibraryMutex());
        if (entry->closed)
            return Fail(win::WSAENOTSOCK);
        RemoveSocketLocked(*entry);
        if (entry->blockingCalls.load() > 0 && !entry->nonBlocking)
            sys::shutdown(entry->fd, SHUT_RDWR);
    }
    PostBarrier();
    return 0;  // the descriptor closes with its last reference, normally this one
}

namespace {

// getsockname or getpeername, the address written the Windows way.
int QueryAddress(Handle s, void* name, int* nameLength, bool local)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    if (!RoomForAddress(name, nameLength))
        return Fail(win::WSAEFAULT);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const int result = local ? sys::getsockname(entry->fd, reinterpret_cast<sockaddr*>(&address), &length)
                             : sys::getpeername(entry->fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (result != 0)
        return Fail(ErrorFromErrno(errno));
    if (local && address.sin_port == 0 && address.sin_addr.s_addr == INADDR_ANY)
        return Fail(win::WSAEINVAL);  // not bound yet
    WriteAddress(address, name, nameLength);
    return 0;
}

}  // namespace

int GetSockName(Handle s, void* name, int* nameLength)
{
    return QueryAddress(s, name, nameLength, true);
}

int GetPeerName(Handle s, void* name, int* nameLength)
{
    return QueryAddress(s, name, nameLength, false);
}

}  // namespace wsock
