// Kernel odds and ends: tick count, sleep, thread and process identifiers,
// interlocked counters, the per-thread last error and the code page.
#include "Win32.h"
#include "ThreadIdentity.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/types.h>
#include <unistd.h>

namespace {

std::atomic<DWORD> g_NextThreadId{kMainThreadId + 1};
thread_local DWORD t_ThreadId = 0;
thread_local DWORD t_LastError = ERROR_SUCCESS;

// Stands for the program's own module; only its address is used.
char g_ProgramInstance;

}  // namespace

DWORD AllocateThreadId()
{
    DWORD id = g_NextThreadId.fetch_add(1, std::memory_order_relaxed);
    // After 2^32 - 2 threads the counter would wrap onto 0 and the main thread.
    while (id == 0 || id == kMainThreadId)
        id = g_NextThreadId.fetch_add(1, std::memory_order_relaxed);
    return id;
}

void AdoptThreadId(DWORD id)
{
    t_ThreadId = id;
}

DWORD GetCurrentThreadId()
{
    if (t_ThreadId == 0)
        t_ThreadId = gettid() == getpid() ? kMainThreadId : AllocateThreadId();
    return t_ThreadId;
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

DWORD GetTickCount()
{
    using namespace std::chrono;
    auto sinceBoot = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<DWORD>(sinceBoot.count());  // wraps after 49.7 days, as on Windows
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LONG InterlockedIncrement(volatile LONG* target)
{
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* target)
{
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

DWORD GetLastError()
{
    return t_LastError;
}

void SetLastError(DWORD error)
{
    t_LastError = error;
}

UINT GetACP()
{
    return 936;
}

HMODULE GetModuleHandleA(const char* moduleName)
{
    if (moduleName == nullptr)
        return reinterpret_cast<HMODULE>(&g_ProgramInstance);
    // Libraries are loaded under their own handles (LoadLibraryA); asking for
    // one by name is not supported here.
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
