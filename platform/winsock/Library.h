// The POSIX side of the library: the socket table, the registrations of
// WSAAsyncSelect and the event thread that serves them. Only files that
// include the system's socket headers include this one.
#pragma once

#include "Backend.h"
#include "WinsockNumbers.h"
#include "../ThreadReadiness.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace wsock {

// One socket of ours. `handle`, `fd` and `type` never change; every other
// field is guarded by LibraryMutex(). The descriptor is closed when the last
// reference goes, so a call still running on another thread never works on
// a descriptor number that has been handed out again.
struct SocketEntry {
    SocketEntry(Handle h, int descriptor, int socketType) : handle(h), fd(descriptor), type(socketType) {}
    ~SocketEntry();
    SocketEntry(const SocketEntry&) = delete;
    SocketEntry& operator=(const SocketEntry&) = delete;

    const Handle handle;
    const int fd;
    const int type;  // SOCK_STREAM, SOCK_DGRAM or SOCK_RAW

    bool nonBlocking = false;
    bool listening = false;
    bool connected = false;       // stream: the connection is established
    bool connectPending = false;  // non-blocking connect awaiting FD_CONNECT
    int connectError = 0;         // failure known at once, reported by FD_CONNECT
    bool connectFailed = false;
    bool sendShutdown = false;
    bool receiveShutdown = false;
    int abortError = 0;  // error of an abortive close once seen; the kernel reports it only once

    // WSAAsyncSelect registration; events == 0 means none.
    HWND window = nullptr;
    UINT message = 0;
    long events = 0;
    // The readiness set of the thread that owns `window`: that thread
    // watches the socket in its message wait. Null: the event thread does.
    std::shared_ptr<TReadinessSet> waitSet;
    // The epoll interest last set, 0 while not watched, and the set it was
    // set in, kept so that its descriptor is not handed out again while the
    // socket is in it.
    std::uint32_t watchMask = 0;
    std::shared_ptr<TReadinessSet> watchSet;
    // Each event is posted once, then waits for the call that re-enables it.
    bool readEnabled = true;
    bool writeEnabled = false;
    bool acceptEnabled = true;
    bool oobEnabled = true;
    bool closeReported = false;
    // The peer's end or a broken connection has been seen; from then on
    // every receive is followed by a full evaluation, which tells when
    // FD_CLOSE is due.
    bool peerGone = false;

    // Read without the library mutex when a message is about to be posted:
    // a post computed under an older registration, or after closesocket, is
    // dropped.
    std::atomic<unsigned> generation{0};
    std::atomic<bool> closed{false};
    std::atomic<int> blockingCalls{0};
};

using EntryPtr = std::shared_ptr<SocketEntry>;

struct PendingPost {
    EntryPtr entry;
    unsigned generation;
    HWND window;
    UINT message;
    LPARAM lParam;
};

// Every thread that computes events (the event thread, and calls such as
// connect or recv) queues them in the library's one outbox under the
// library mutex, and the outbox is sent in that order. So a socket's
// messages never overtake each other, though they are computed on
// different threads and posted once the mutex is released.
struct Posts {
    bool queued = false;  // this thread queued some, and must Deliver
};

std::mutex& LibraryMutex();

// Sets WSANOTINITIALISED / WSAENOTSOCK and returns null when not usable.
EntryPtr FindSocket(Handle s);
// Lock held: the entry of a handle, or null.
EntryPtr FindSocketLocked(Handle s);
// Lock held. Gives the descriptor a fresh handle; null when none is free.
EntryPtr AddSocket(int fd, int type);
// Lock held: takes the entry out of the table; no event of it is posted
// once PostBarrier has run.
void RemoveSocketLocked(SocketEntry& entry);

// Sets the thread's error number and returns SOCKET_ERROR.
int Fail(int error);

// Lock held: works out which events of `entry` are due, queues them, and
// watches what stays armed.
void Evaluate(const EntryPtr& entry, Posts& posts);
// What a receive without flags saw: it asked for `asked` bytes and took
// `received`, or failed with the errno `error`; `queued` bytes stayed
// behind, the peer's FIN counting as one (-1: not known).
struct Receipt {
    int asked;
    long received;
    int error;
    int queued;
};
// Lock held: Evaluate after such a receive; cheaper on a connected stream
// whose peer has not ended.
void EvaluateReceived(const EntryPtr& entry, Posts& posts, const Receipt& receipt);
// Lock held: appends one message to the outbox.
void Queue(PendingPost post, Posts& posts);
// Lock held: brings the epoll registration in line with the registration
// and the events armed. An event just armed is watched at once; one no
// longer armed stays watched unless `disarm`, since it is usually armed
// again soon and each change costs a system call.
void UpdateWatch(SocketEntry& entry, bool disarm = false);
// Lock not held: evaluates the sockets that the epoll set `epoll` reported
// ready and posts what is due; sockets watched elsewhere by now are left.
void ServeReady(int epoll, const epoll_event* events, int count);
// Lock not held: posts the queued messages that are still wanted, own
// and others', in queue order; returns once the caller's are posted.
void Deliver(Posts& posts);
// Returns once no message computed before the call can still be posted.
void PostBarrier();

}  // namespace wsock
