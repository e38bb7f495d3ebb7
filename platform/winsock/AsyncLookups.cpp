// WSAAsyncGetHostByName / ByAddr: each lookup runs on a thread of its own
// and ends with one message, unless it was cancelled first.
//
// A system lookup cannot be interrupted and may take long (a name server
// that does not answer), so a thread is never waited for while it is in
// one. Instead the thread touches nothing but its own Lookup record until
// it knows it is still wanted: a cancelled thread may outlive clean-up and
// the library's own static objects. A thread that has finished is joined.
#include "Library.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>

namespace wsock {

namespace {

constexpr std::uintptr_t kLastTask = 0x7FFFFFFF;

// Shared by the lookup's thread and the table of lookups.
struct Lookup {
    std::uintptr_t task = 0;
    HWND window = nullptr;
    UINT message = 0;
    char* buffer = nullptr;  // the caller's
    int bufferLength = 0;
    bool byAddress = false;
    std::string name;
    std::array<char, 4> address{};
    int length = 0;
    int type = 0;

    // The buffer is written and the message posted under this lock, and
    // only while not cancelled; a successful cancel takes it too.
    std::mutex mutex;
    bool cancelled = false;
    bool finished = false;
};

struct Entry {
    std::shared_ptr<Lookup> lookup;
    std::thread thread;
};

// Lookups that may still be cancelled or joined. Its destruction at
// program end lets go of the threads like the last WSACleanup does.
class LookupTable {
public:
    ~LookupTable() { CancelAll(); }

    std::mutex mutex;
    std::map<std::uintptr_t, Entry> entries;
    std::uintptr_t nextTask = 1;

    void CancelAll()
    {
        std::map<std::uintptr_t, Entry> taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(entries);
        }
        for (auto& [task, entry] : taken)
            Release(entry);
    }

    // Cancels the lookup unless it has finished, then lets go of its
    // thread: joined when finished, else left to end on its own. Returns
    // whether it was cancelled.
    static bool Release(Entry& entry)
    {
        bool finished;
        {
            std::lock_guard lock(entry.lookup->mutex);
            finished = entry.lookup->finished;
            entry.lookup->cancelled = !finished;
        }
        if (!entry.thread.joinable())
            return !finished;
        if (finished)
            entry.thread.join();
        else
            entry.thread.detach();
        return !finished;
    }
};

LookupTable g_Table;

void Run(std::shared_ptr<Lookup> lookup)
{
    HostRecord host;
    int error = lookup->byAddress ? LookUpHostByAddr(lookup->address.data(), lookup->length, lookup->type, host)
                                  : LookUpHostByName(lookup->name.c_str(), host);
    std::lock_guard lock(lookup->mutex);
    if (lookup->cancelled)
        return;
    int needed = 0;
    if (error == 0) {
        needed = LayOutHostEnt(host, lookup->buffer, lookup->bufferLength);
        if (needed > lookup->bufferLength)
            error = win::WSAENOBUFS;
    }
    const LPARAM reply =
        static_cast<LPARAM>(static_cast<DWORD>(needed & 0xFFFF) | (static_cast<DWORD>(error & 0xFFFF) << 16));
    PostMessageA(lookup->window, lookup->message, static_cast<WPARAM>(lookup->task), reply);
    lookup->finished = true;
}

// Lock held: takes the finished lookups out of the table, for joining.
std::vector<Entry> TakeFinishedLocked()
{
    std::vector<Entry> finished;
    for (auto it = g_Table.entries.begin(); it != g_Table.entries.end();) {
        bool done;
        {
            std::lock_guard lock(it->second.lookup->mutex);
            done = it->second.lookup->finished;
        }
        if (done) {
            finished.push_back(std::move(it->second));
            it = g_Table.entries.erase(it);
        } else {
            ++it;
        }
    }
    return finished;
}

HANDLE Start(std::shared_ptr<Lookup> lookup)
{
    if (!RequireStarted())
        return nullptr;
    std::vector<Entry> finished;
    std::uintptr_t task;
    {
        std::lock_guard lock(g_Table.mutex);
        finished = TakeFinishedLocked();
        task = g_Table.nextTask;
        while (g_Table.entries.count(task))
            task = task >= kLastTask ? 1 : task + 1;
        g_Table.nextTask = task >= kLastTask ? 1 : task + 1;
        lookup->task = task;
        try {
            Entry entry;
            entry.lookup = lookup;
            entry.thread = std::thread(Run, lookup);
            g_Table.entries.emplace(task, std::move(entry));
        } catch (const std::system_error&) {
            task = 0;
        }
    }
    for (Entry& entry : finished)
        LookupTable::Release(entry);
    if (task == 0) {
        SetLastError(win::WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(task);
}

std::shared_ptr<Lookup> NewLookup(HWND window, UINT message, char* buffer, int bufferLength)
{
    auto lookup = std::make_shared<Lookup>();
    lookup->window = window;
    lookup->message = message;
    // A missing or empty buffer is no error yet: the lookup ends with
    // WSAENOBUFS and the length it would have needed.
    lookup->buffer = buffer;
    lookup->bufferLength = buffer ? std::max(bufferLength, 0) : 0;
    return lookup;
}

}  // namespace

HANDLE AsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength)
{
    if (name == nullptr) {
        if (RequireStarted())
            SetLastError(win::WSAEFAULT);
        return nullptr;
    }
    auto lookup = NewLookup(window, message, buffer, bufferLength);
    lookup->name = name;
    return Start(std::move(lookup));
}

HANDLE AsyncGetHostByAddr(HWND window, UINT message, const char* address, int length, int type, char* buffer,
                          int bufferLength)
{
    if (address == nullptr || length < 0 || length > 4) {
        if (RequireStarted())
            SetLastError(win::WSAEFAULT);
        return nullptr;
    }
    auto lookup = NewLookup(window, message, buffer, bufferLength);
    lookup->byAddress = true;
    std::memcpy(lookup->address.data(), address, static_cast<std::size_t>(length));
    lookup->length = length;
    lookup->type = type;
    return Start(std::move(lookup));
}

int CancelAsyncRequest(HANDLE task)
{
    if (!RequireStarted())
        return win::kSocketError;
    const auto id = reinterpret_cast<std::uintptr_t>(task);
    Entry entry;
    bool issued;
    {
        std::lock_guard lock(g_Table.mutex);
        auto found = g_Table.entries.find(id);
        if (found != g_Table.entries.end()) {
            entry = std::move(found->second);
            g_Table.entries.erase(found);
        }
        issued = id != 0 && id < g_Table.nextTask;
    }
    if (entry.lookup && LookupTable::Release(entry))
        return 0;
    // Issued and finished: its message is on its way or delivered.
    return Fail(issued ? win::WSAEALREADY : win::WSAEINVAL);
}

void CancelAllLookups()
{
    g_Table.CancelAll();
}

}  // namespace wsock
