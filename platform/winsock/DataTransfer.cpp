// send, sendto, recv and recvfrom, with the re-enabling of FD_WRITE and
// FD_READ that they cause.
#include "CallSupport.h"
#include "SystemCalls.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace wsock {

namespace {

// Lock held. The Windows error of a failed send.
int SendError(SocketEntry& entry, int error)
{
    if (error == EPIPE) {
        if (entry.sendShutdown)
            return win::WSAESHUTDOWN;
        if (entry.type == SOCK_STREAM && !entry.connected)
            return win::WSAENOTCONN;
        return entry.abortError != 0 ? entry.abortError : win::WSAECONNRESET;
    }
    return ErrorFromErrno(error);
}

}  // namespace

int Send(Handle s, const char* buffer, int length, int flags)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    int systemFlags;
    if (int error = CheckTransfer(buffer, length, flags, win::kMsgPeek, systemFlags))
        return Fail(error);
    ssize_t sent;
    int error;
    {
        BlockingCall call(*entry);
        sent = sys::send(entry->fd, buffer, static_cast<size_t>(length), systemFlags | MSG_NOSIGNAL);
        error = sent < 0 ? errno : 0;
    }
    Posts posts;
    int reported = 0;
    {
        std::lock_guard lock(LibraryMutex());
        if (sent < 0) {
            NoteAbortive(*entry, error);
            reported = SendError(*entry, error);
        }
        // Only a refused send arms FD_WRITE, as on Windows: after a partial
        // one the caller sends again and meets the refusal.
        if (sent < 0 && error == EAGAIN) {
            entry->writeEnabled = true;
            Evaluate(entry, posts);
        }
    }
    Deliver(posts);
    return reported == 0 ? static_cast<int>(sent) : Fail(reported);
}

int SendTo(Handle s, const char* buffer, int length, int flags, const void* to, int toLength)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    if (entry->type == SOCK_STREAM)
        return Send(s, buffer, length, flags);  // Windows ignores the address here
    int systemFlags;
    if (int error = CheckTransfer(buffer, length, flags, win::kMsgPeek, systemFlags))
        return Fail(error);
    sockaddr_in address;
    const sockaddr* target = nullptr;
    socklen_t targetLength = 0;
    if (to != nullptr) {
        if (int error = ReadAddress(to, toLength, address))
            return Fail(error);
        target = reinterpret_cast<const sockaddr*>(&address);
        targetLength = sizeof address;
    }
    ssize_t sent;
    int error;
    {
        BlockingCall call(*entry);
        sent = sys::sendto(entry->fd, buffer, static_cast<size_t>(length), systemFlags | MSG_NOSIGNAL, target,
                        targetLength);
        error = sent < 0 ? errno : 0;
    }
    if (sent < 0) {
        Posts posts;
        {
            std::lock_guard lock(LibraryMutex());
            if (error == EAGAIN) {
                entry->writeEnabled = true;
                Evaluate(entry, posts);
            }
        }
        Deliver(posts);
        return Fail(error == EDESTADDRREQ ? win::WSAENOTCONN : ErrorFromErrno(error));
    }
    return static_cast<int>(sent);
}

namespace {

// Re-enables FD_READ (or FD_OOB) after a receive call, as Windows does,
// and works out what a failed or empty receive means.
int FinishReceive(const EntryPtr& entry, int flags, int asked, ssize_t received, int error, int queued = -1)
{
    Posts posts;
    int reported = 0;
    {
        std::lock_guard lock(LibraryMutex());
        if (received < 0) {
            NoteAbortive(*entry, error);
            reported = error == ECONNRESET ? win::WSAECONNRESET : ErrorFromErrno(error);
        } else if (received == 0 && entry->type == SOCK_STREAM) {
            // The kernel reports a reset once; later calls would read it as
            // a graceful end of file.
            if (entry->abortError != 0)
                reported = entry->abortError;
            else if (entry->receiveShutdown)
                reported = win::WSAESHUTDOWN;
        }
        if (flags & win::kMsgOob)
            entry->oobEnabled = true;
        else
            entry->readEnabled = true;
        if (flags == 0)
            EvaluateReceived(entry, posts, {asked, received, error, queued});
        else
            Evaluate(entry, posts);
    }
    Deliver(posts);
    return reported;
}

// A stream receive that also learns how many bytes stay queued after it;
// -1 when the system does not say.
ssize_t ReceiveCounting(int fd, char* buffer, int length, int flags, int& queued)
{
    iovec piece{buffer, static_cast<size_t>(length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    queued = -1;
    const ssize_t received = ::recvmsg(fd, &message, flags);
    if (received < 0)
        return received;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_TCP && item->cmsg_type == TCP_CM_INQ)
            std::memcpy(&queued, CMSG_DATA(item), sizeof queued);
    }
    return received;
}

}  // namespace

int Recv(Handle s, char* buffer, int length, int flags)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    int systemFlags;
    if (int error = CheckTransfer(buffer, length, flags, win::kMsgDontRoute, systemFlags))
        return Fail(error);
    Posts due;
    bool connected;
    {
        std::lock_guard lock(LibraryMutex());
        if (entry->connectPending)
            Evaluate(entry, due);  // the connect may have ended unobserved
        connected = entry->type != SOCK_STREAM || entry->connected;
    }
    Deliver(due);
    if (!connected)
        return Fail(win::WSAENOTCONN);
    ssize_t received;
    int error;
    int queued = -1;
    {
        BlockingCall call(*entry);
        received = entry->type == SOCK_STREAM
                       ? ReceiveCounting(entry->fd, buffer, length, systemFlags, queued)
                       : sys::recv(entry->fd, buffer, static_cast<size_t>(length), systemFlags);
        error = received < 0 ? errno : 0;
    }
    if (int reported = FinishReceive(entry, flags, length, received, error, queued))
        return Fail(reported);
    return static_cast<int>(received);
}

int RecvFrom(Handle s, char* buffer, int length, int flags, void* from, int* fromLength)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    if (entry->type == SOCK_STREAM)
        return Recv(s, buffer, length, flags);  // Windows ignores the address here
    if (from != nullptr && !RoomForAddress(from, fromLength))
        return Fail(win::WSAEFAULT);
    int systemFlags;
    if (int error = CheckTransfer(buffer, length, flags, win::kMsgDontRoute, systemFlags))
        return Fail(error);
    sockaddr_in sender{};
    iovec piece{buffer, static_cast<size_t>(length)};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    ssize_t received;
    int error;
    {
        BlockingCall call(*entry);
        received = ::recvmsg(entry->fd, &message, systemFlags);
        error = received < 0 ? errno : 0;
    }
    if (int reported = FinishReceive(entry, flags, length, received, error))
        return Fail(reported);
    if (from != nullptr)
        WriteAddress(sender, from, fromLength);
    // Windows fills the buffer with what fits of a longer datagram and
    // fails with WSAEMSGSIZE; the rest is lost either way.
    if (message.msg_flags & MSG_TRUNC)
        return Fail(win::WSAEMSGSIZE);
    return static_cast<int>(received);
}

}  // namespace wsock
