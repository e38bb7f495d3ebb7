// WSAAsyncGetHostByName / ByAddr: each lookup runs on a thread of its own
// and ends with one message, unless it was cancelled first.
#include "Library.h"

#include <cstring>
#include <set>
#include <thread>

namespace wsock {

namespace {

std::mutex g_TaskMutex;
std::set<std::uintptr_t> g_Pending;
std::uintptr_t g_NextTask = 1;
// Raised by CancelAllLookups: a lookup that finished under an older epoch
// does not post.
std::atomic<unsigned> g_Epoch{0};

constexpr std::uintptr_t kLastTask = 0x7FFFFFFF;

struct Request {
    std::uintptr_t task = 0;
    HWND window = nullptr;
    UINT message = 0;
    char* buffer = nullptr;
    int bufferLength = 0;
    bool byAddress = false;
    std::string name;
    std::array<char, 4> address{};
    int length = 0;
    int type = 0;
};

void Run(Request request)
{
    HostRecord host;
    int error = request.byAddress
                    ? LookUpHostByAddr(request.address.data(), request.length, request.type, host)
                    : LookUpHostByName(request.name.c_str(), host);
    int needed = 0;
    unsigned epoch;
    {
        // The buffer is the caller's: it is written only while the lookup
        // still counts as pending, never after a successful cancel.
        std::lock_guard lock(g_TaskMutex);
        if (g_Pending.erase(request.task) == 0)
            return;
        epoch = g_Epoch.load();
        if (error == 0) {
            needed = LayOutHostEnt(host, request.buffer, request.bufferLength);
            if (needed > request.bufferLength)
                error = win::WSAENOBUFS;
        }
    }
    const LPARAM reply =
        static_cast<LPARAM>(static_cast<DWORD>(needed & 0xFFFF) | (static_cast<DWORD>(error & 0xFFFF) << 16));
    // Posting holds the post lock, so that WSACleanup can wait it out.
    {
        std::lock_guard barrier(PostMutex());
        if (g_Epoch.load() == epoch)
            PostMessageA(request.window, request.message, static_cast<WPARAM>(request.task), reply);
    }
}

HANDLE Start(Request request)
{
    if (!RequireStarted())
        return nullptr;
    if (request.buffer == nullptr || request.bufferLength <= 0) {
        SetLastError(win::WSAEFAULT);
        return nullptr;
    }
    {
        std::lock_guard lock(g_TaskMutex);
        std::uintptr_t task = g_NextTask;
        while (g_Pending.count(task))
            task = task >= kLastTask ? 1 : task + 1;
        g_NextTask = task >= kLastTask ? 1 : task + 1;
        g_Pending.insert(task);
        request.task = task;
    }
    const std::uintptr_t task = request.task;
    try {
        std::thread(Run, std::move(request)).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(g_TaskMutex);
        g_Pending.erase(task);
        SetLastError(win::WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(task);
}

}  // namespace

HANDLE AsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength)
{
    if (name == nullptr) {
        if (RequireStarted())
            SetLastError(win::WSAEFAULT);
        return nullptr;
    }
    Request request;
    request.window = window;
    request.message = message;
    request.buffer = buffer;
    request.bufferLength = bufferLength;
    request.name = name;
    return Start(std::move(request));
}

HANDLE AsyncGetHostByAddr(HWND window, UINT message, const char* address, int length, int type, char* buffer,
                          int bufferLength)
{
    if (address == nullptr || length < 0 || length > 4) {
        if (RequireStarted())
            SetLastError(win::WSAEFAULT);
        return nullptr;
    }
    Request request;
    request.window = window;
    request.message = message;
    request.buffer = buffer;
    request.bufferLength = bufferLength;
    request.byAddress = true;
    std::memcpy(request.address.data(), address, static_cast<std::size_t>(length));
    request.length = length;
    request.type = type;
    return Start(std::move(request));
}

int CancelAsyncRequest(HANDLE task)
{
    if (!RequireStarted())
        return win::kSocketError;
    const auto id = reinterpret_cast<std::uintptr_t>(task);
    std::lock_guard lock(g_TaskMutex);
    if (g_Pending.erase(id) != 0)
        return 0;
    // Issued and finished: its message is on its way or delivered.
    const bool issued = id != 0 && id < g_NextTask;
    return Fail(issued ? win::WSAEALREADY : win::WSAEINVAL);
}

void CancelAllLookups()
{
    {
        std::lock_guard lock(g_TaskMutex);
        g_Pending.clear();
        ++g_Epoch;
    }
    PostBarrier();
}

}  // namespace wsock
