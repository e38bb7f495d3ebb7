// Linux: a thread's message wait can also wait for descriptors. The socket
// library watches a socket in the set of the thread that owns the socket's
// window, so data arriving wakes that thread itself, with no thread of the
// library between; the thread hands what is ready to the library, which
// posts the socket's events to the thread's own queue.
#pragma once

#include "Win32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <sys/epoll.h>

class TReadinessSet {
public:
    // Null when the system refuses the epoll set or its wake-up event.
    static std::shared_ptr<TReadinessSet> Create();
    ~TReadinessSet();
    TReadinessSet(const TReadinessSet&) = delete;
    TReadinessSet& operator=(const TReadinessSet&) = delete;

    // The tag of the set's own wake-up; a descriptor added must use another.
    static constexpr std::uint64_t kOwnTag = 0;

    // Where the library adds its descriptors.
    int Epoll() const { return m_Epoll; }
    // Any thread: ends a Wait in progress, or the next one.
    void Wake();
    // Owner thread: waits up to `timeoutMs` (-1: no limit) for a descriptor
    // or a Wake, clears `sleeping` once awake, and hands what is ready to
    // the handler. True when some descriptor was ready.
    bool Wait(int timeoutMs, std::atomic<bool>* sleeping = nullptr);

private:
    TReadinessSet() = default;

    int m_Epoll = -1;
    int m_Wake = -1;
};

// Called on the waiting thread, with `epoll` the set that reported.
using TReadyHandler = void (*)(int epoll, const epoll_event* events, int count);
void SetReadyHandler(TReadyHandler handler);

// The set that the thread's message wait includes, made on first use.
// Null for the main thread, whose GUI loop may wait elsewhere, and for a
// thread that has no queue.
std::shared_ptr<TReadinessSet> ThreadReadinessSet(DWORD threadId);
