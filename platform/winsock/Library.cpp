// Start-up and clean-up, the socket table and the posting of events.
#include "EventLoop.h"
#include "SystemCalls.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <unordered_map>
#include <vector>

namespace wsock {

namespace {

std::mutex g_Mutex;
// Serialises posting with closesocket and WSAAsyncSelect (PostBarrier), so
// that no event of a closed or re-registered socket is posted once they
// have returned, and keeps the outbox's batches in order. Nothing is called
// under it but PostMessageA.
std::mutex g_PostMutex;
// Taken under the library mutex (Queue) or the post mutex (Deliver), and
// held only to append or take the whole outbox.
std::mutex g_OutboxMutex;
std::vector<PendingPost> g_Outbox;

std::atomic<int> g_StartCount{0};
std::unordered_map<Handle, EntryPtr> g_Sockets;
std::unique_ptr<EventLoop> g_Loop;

// Handles grow and wrap only after a billion sockets, so a new socket does
// not take the handle of one just closed, whose events may still wait in a
// queue. The module stays loaded (-z nodelete), so this survives unloading.
constexpr Handle kFirstHandle = 0x100;
constexpr Handle kHandleStep = 4;
constexpr Handle kLastHandle = 0x7FFFFFF0;
Handle g_NextHandle = kFirstHandle;

constexpr WORD kVersion10 = 0x0001;
constexpr WORD kVersion11 = 0x0101;

}  // namespace

SocketEntry::~SocketEntry()
{
    ::close(fd);
}

std::mutex& LibraryMutex()
{
    return g_Mutex;
}

int Fail(int error)
{
    SetLastError(error);
    return win::kSocketError;
}

bool RequireStarted()
{
    if (g_StartCount.load() > 0)
        return true;
    SetLastError(win::WSANOTINITIALISED);
    return false;
}

int Startup(WORD versionRequested, StartupInfo& info)
{
    const int major = versionRequested & 0xFF;
    const int minor = versionRequested >> 8;
    if (major < 1)
        return win::WSAVERNOTSUPPORTED;
    // 1.0 is served as such, any later version as 1.1, the highest here.
    info.version = major == 1 && minor == 0 ? kVersion10 : kVersion11;
    info.highVersion = kVersion11;
    info.maxSockets = 32767;
    info.maxUdpDatagram = 65467;
    info.description = "Windows Sockets 1.1 for Linux";
    info.systemStatus = "Running";

    std::lock_guard lock(g_Mutex);
    if (g_StartCount.load() == 0) {
        g_Loop = EventLoop::Create();
        if (!g_Loop)
            return win::WSASYSNOTREADY;
        SetReadyHandler(&ServeReady);
    }
    ++g_StartCount;
    return 0;
}

int Cleanup()
{
    std::unordered_map<Handle, EntryPtr> orphans;
    std::unique_ptr<EventLoop> loop;
    {
        std::lock_guard lock(g_Mutex);
        if (g_StartCount.load() == 0)
            return Fail(win::WSANOTINITIALISED);
        if (--g_StartCount > 0)
            return 0;
        // The last clean-up closes what the program left open.
        for (auto& [handle, entry] : g_Sockets) {
            entry->closed = true;
            ++entry->generation;
            g_Loop->Unwatch(*entry);
            if (entry->blockingCalls.load() > 0)
                sys::shutdown(entry->fd, SHUT_RDWR);
        }
        orphans.swap(g_Sockets);
        loop = std::move(g_Loop);
    }
    CancelAllLookups();
    PostBarrier();
    loop.reset();
    return 0;
}

EntryPtr FindSocketLocked(Handle s)
{
    auto found = g_Sockets.find(s);
    return found == g_Sockets.end() ? nullptr : found->second;
}

EntryPtr FindSocket(Handle s)
{
    if (!RequireStarted())
        return nullptr;
    std::lock_guard lock(g_Mutex);
    EntryPtr entry = FindSocketLocked(s);
    if (!entry)
        SetLastError(win::WSAENOTSOCK);
    return entry;
}

EntryPtr AddSocket(int fd, int type)
{
    for (Handle tried = 0; tried < (kLastHandle - kFirstHandle) / kHandleStep; ++tried) {
        Handle candidate = g_NextHandle;
        g_NextHandle = candidate >= kLastHandle ? kFirstHandle : candidate + kHandleStep;
        if (g_Sockets.count(candidate))
            continue;
        auto entry = std::make_shared<SocketEntry>(candidate, fd, type);
        g_Sockets.emplace(candidate, entry);
        if (type == SOCK_STREAM) {
            // Receives then say how much stays queued (ReceiveCounting).
            const int on = 1;
            sys::setsockopt(fd, IPPROTO_TCP, TCP_INQ, &on, sizeof on);
        }
        return entry;
    }
    return nullptr;
}

void RemoveSocketLocked(SocketEntry& entry)
{
    entry.closed = true;
    ++entry.generation;
    if (g_Loop)
        g_Loop->Unwatch(entry);
    g_Sockets.erase(entry.handle);
}

void UpdateWatch(SocketEntry& entry, bool disarm)
{
    if (!g_Loop)
        return;
    if (entry.events != 0 && !entry.closed)
        g_Loop->Watch(entry, disarm);
    else
        g_Loop->Unwatch(entry);
}

void Queue(PendingPost post, Posts& posts)
{
    std::lock_guard lock(g_OutboxMutex);
    g_Outbox.push_back(std::move(post));
    posts.queued = true;
}

void Deliver(Posts& posts)
{
    if (!posts.queued)
        return;
    posts.queued = false;
    // Whoever holds the post mutex sends all that is queued; a batch taken
    // by another thread is sent before we get the mutex, ours with it.
    std::vector<PendingPost> batch;
    std::lock_guard lock(g_PostMutex);
    {
        std::lock_guard outbox(g_OutboxMutex);
        batch.swap(g_Outbox);
    }
    for (const PendingPost& post : batch) {
        if (post.entry->closed || post.entry->generation.load() != post.generation)
            continue;
        PostMessageA(post.window, post.message, static_cast<WPARAM>(post.entry->handle), post.lParam);
    }
}

void PostBarrier()
{
    std::lock_guard lock(g_PostMutex);
}

}  // namespace wsock
