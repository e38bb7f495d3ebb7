// Kernel odds and ends: tick count, sleep, thread and process identifiers,
// interlocked counters, the per-thread last error, the code page and the
// user's decimal separator.
#include "Win32.h"
#include "ThreadIdentity.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <locale>
#include <stdexcept>
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

namespace {

char UserDecimalPoint()
{
    // Read per call and never installed as the process's locale: other
    // threads keep theirs.
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        name = std::getenv(variable);
        if (name && *name)
            break;
    }
    if (!name || !*name)
        return '.';
    try {
        const std::locale numeric(std::locale::classic(), name, std::locale::numeric);
        return std::use_facet<std::numpunct<char>>(numeric).decimal_point();
    } catch (const std::runtime_error&) {
        return '.';  // a locale that is not installed counts as none
    }
}

}  // namespace

int GetLocaleInfoA(LCID, LCTYPE type, char* data, int dataLength)
{
    if (type != LOCALE_SDECIMAL || dataLength < 0 || (dataLength > 0 && data == nullptr)) {
        SetLastError(type != LOCALE_SDECIMAL ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char separator[] = {UserDecimalPoint(), '\0'};
    if (dataLength == 0)
        return sizeof separator;
    if (dataLength < static_cast<int>(sizeof separator)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(std::begin(separator), std::end(separator), data);
    return sizeof separator;
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
