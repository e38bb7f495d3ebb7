// Window classes and windows: the process's window table. Handles are
// numbers of our own that grow with every window, so a stale handle never
// addresses a newer window. No lock is held while a window procedure runs.
#include "Win32.h"
#include "MessageQueue.h"
#include "WindowDirectory.h"
#include "WindowRecord.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

// Generous for a few pointers; refuses sizes that only a bad argument gives.
constexpr int kMaxWindowExtraBytes = 4096;
constexpr ATOM kFirstClassAtom = 0xC000;
constexpr std::uintptr_t kHandleStep = 4;

struct TWindowTable {
    std::mutex Mutex;
    std::vector<std::shared_ptr<TWindowClass>> Classes;
    std::map<std::uintptr_t, std::shared_ptr<TWindowRecord>> Windows;
    std::uint32_t NextHandle = 0x10000;
    ATOM NextAtom = kFirstClassAtom;
};

TWindowTable& Table()
{
    static auto* table = new TWindowTable;  // outlives every thread's teardown
    return *table;
}

// A class name may also be an atom in the low word (MAKEINTATOM).
bool IsAtomName(const char* name)
{
    return reinterpret_cast<std::uintptr_t>(name) <= 0xFFFF;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTextIgnoringCase(const std::string& a, const char* b)
{
    const std::size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool ClassNamed(const TWindowClass& windowClass, const char* name)
{
    if (IsAtomName(name))
        return windowClass.Atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    return SameTextIgnoringCase(windowClass.Name, name);
}

HINSTANCE OrProgram(HINSTANCE instance)
{
    return instance ? instance : GetModuleHandleA(nullptr);
}

// Table lock held.
std::vector<std::shared_ptr<TWindowClass>>::iterator FindClassLocked(HINSTANCE instance, const char* name)
{
    auto& classes = Table().Classes;
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        if ((*it)->Info.hInstance == instance && ClassNamed(**it, name))
            return it;
    }
    return classes.end();
}

// Table lock held.
std::shared_ptr<TWindowRecord> FindWindowLocked(HWND window)
{
    auto found = Table().Windows.find(reinterpret_cast<std::uintptr_t>(window));
    return found == Table().Windows.end() ? nullptr : found->second;
}

// Table lock held.
ATOM AllocateAtomLocked()
{
    auto& table = Table();
    for (;;) {
        ATOM atom = table.NextAtom;
        table.NextAtom = atom == 0xFFFF ? kFirstClassAtom : static_cast<ATOM>(atom + 1);
        bool used = false;
        for (const auto& windowClass : table.Classes)
            used = used || windowClass->Atom == atom;
        if (!used)
            return atom;
    }
}

// Table lock held.
HWND AllocateHandleLocked()
{
    auto& table = Table();
    for (;;) {
        std::uintptr_t value = table.NextHandle;
        table.NextHandle += kHandleStep;
        if (table.NextHandle < 0x10000)  // wrapped after a billion windows
            table.NextHandle = 0x10000;
        if (!table.Windows.contains(value))
            return reinterpret_cast<HWND>(value);
    }
}

// Removes a window from the table; the caller unpublishes it and drops its
// queued messages and timers. Table lock held.
void RemoveWindowLocked(const std::shared_ptr<TWindowRecord>& record)
{
    Table().Windows.erase(reinterpret_cast<std::uintptr_t>(record->Handle));
    record->Destroyed.store(true, std::memory_order_release);
    --record->Class->WindowCount;
}

// Table lock held: where the window's LONG_PTR at `index` is kept, or null
// with the error set.
unsigned char* ExtraSlotLocked(HWND window, int index)
{
    auto record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > record->Extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return nullptr;
    }
    // The table keeps the record, and so its bytes, while the lock is held.
    return record->Extra.data() + index;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* wndClass)
{
    if (!wndClass || !wndClass->lpszClassName || IsAtomName(wndClass->lpszClassName) ||
        wndClass->lpszClassName[0] == '\0' || !wndClass->lpfnWndProc ||
        wndClass->cbWndExtra < 0 || wndClass->cbWndExtra > kMaxWindowExtraBytes ||
        wndClass->cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const HINSTANCE instance = OrProgram(wndClass->hInstance);
    std::lock_guard lock(Table().Mutex);
    if (FindClassLocked(instance, wndClass->lpszClassName) != Table().Classes.end()) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto windowClass = std::make_shared<TWindowClass>();
    windowClass->Name = wndClass->lpszClassName;
    windowClass->Atom = AllocateAtomLocked();
    windowClass->Info = *wndClass;
    windowClass->Info.hInstance = instance;
    windowClass->Info.lpszClassName = nullptr;
    windowClass->Info.lpszMenuName = nullptr;
    Table().Classes.push_back(windowClass);
    return windowClass->Atom;
}

BOOL GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wndClass)
{
    if (!className || !wndClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(Table().Mutex);
    auto found = FindClassLocked(OrProgram(instance), className);
    if (found == Table().Classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wndClass = (*found)->Info;
    wndClass->lpszClassName = className;
    return TRUE;
}

BOOL UnregisterClassA(const char* className, HINSTANCE instance)
{
    if (!className) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(Table().Mutex);
    auto found = FindClassLocked(OrProgram(instance), className);
    if (found == Table().Classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if ((*found)->WindowCount > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    Table().Classes.erase(found);
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD /*style*/,
                     int /*x*/, int /*y*/, int /*width*/, int /*height*/, HWND parent,
                     HMENU /*menu*/, HINSTANCE instance, void* /*param*/)
{
    if (!className) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto record = std::make_shared<TWindowRecord>();
    record->ThreadId = GetCurrentThreadId();
    record->Queue = CurrentThreadQueue();
    record->Parent = parent;
    record->ExStyle = exStyle;
    record->Name = windowName ? windowName : "";
    {
        std::lock_guard lock(Table().Mutex);
        if (parent && !FindWindowLocked(parent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        auto found = FindClassLocked(OrProgram(instance), className);
        if (found == Table().Classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        record->Class = *found;
        record->Proc = record->Class->Info.lpfnWndProc;
        record->Extra.assign(static_cast<std::size_t>(record->Class->Info.cbWndExtra), 0);
        record->Handle = AllocateHandleLocked();
        record->Published = !parent && !(exStyle & WS_EX_TOOLWINDOW);
        ++record->Class->WindowCount;
        Table().Windows.emplace(reinterpret_cast<std::uintptr_t>(record->Handle), record);
    }
    if (record->Published)
        PublishTopLevelWindow(record->Handle, record->Class->Name);
    return record->Handle;
}

BOOL DestroyWindow(HWND window)
{
    std::shared_ptr<TWindowRecord> record;
    {
        std::lock_guard lock(Table().Mutex);
        record = FindWindowLocked(window);
        if (!record || record->Destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (record->ThreadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        record->Destroying = true;
    }
    if (record->Published)
        UnpublishTopLevelWindow(window);

    // The procedure may post, pump or look at its extra bytes meanwhile.
    record->Proc(window, WM_DESTROY, 0, 0);

    std::vector<HWND> children;
    {
        std::lock_guard lock(Table().Mutex);
        for (const auto& [value, child] : Table().Windows) {
            if (child->Parent == window && child->ThreadId == record->ThreadId)
                children.push_back(child->Handle);
        }
    }
    for (HWND child : children)
        DestroyWindow(child);
    // The last message, once the children are gone; the window is still valid.
    record->Proc(window, WM_NCDESTROY, 0, 0);

    {
        std::lock_guard lock(Table().Mutex);
        RemoveWindowLocked(record);
    }
    record->Queue->ForgetWindow(window);
    return TRUE;
}

void ForgetThreadWindows(DWORD threadId)
{
    std::vector<std::shared_ptr<TWindowRecord>> forgotten;
    {
        std::lock_guard lock(Table().Mutex);
        for (const auto& [value, record] : Table().Windows) {
            if (record->ThreadId == threadId)
                forgotten.push_back(record);
        }
        for (const auto& record : forgotten)
            RemoveWindowLocked(record);
    }
    for (const auto& record : forgotten) {
        if (record->Published && !record->Destroying)
            UnpublishTopLevelWindow(record->Handle);
    }
}

std::shared_ptr<TWindowRecord> FindWindowRecord(HWND window)
{
    std::lock_guard lock(Table().Mutex);
    return FindWindowLocked(window);
}

BOOL IsWindow(HWND window)
{
    return FindWindowRecord(window) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId)
{
    auto record = FindWindowRecord(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId)
        *processId = GetCurrentProcessId();
    return record->ThreadId;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    std::lock_guard lock(Table().Mutex);
    unsigned char* slot = ExtraSlotLocked(window, index);
    if (!slot)
        return 0;
    LONG_PTR previous;
    std::memcpy(&previous, slot, sizeof previous);
    std::memcpy(slot, &value, sizeof value);
    // Success leaves the last error alone: to tell a previous 0 from a
    // failure, the caller clears it first.
    return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index)
{
    std::lock_guard lock(Table().Mutex);
    const unsigned char* slot = ExtraSlotLocked(window, index);
    if (!slot)
        return 0;
    LONG_PTR value;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

HWND FindLocalTopLevelWindow(const char* className, const char* windowName)
{
    std::lock_guard lock(Table().Mutex);
    // Newest first: the window most recently created is the one on top.
    for (auto it = Table().Windows.rbegin(); it != Table().Windows.rend(); ++it) {
        const TWindowRecord& record = *it->second;
        if (record.Parent || record.Destroying)
            continue;
        if (className && !ClassNamed(*record.Class, className))
            continue;
        if (windowName && !SameTextIgnoringCase(record.Name, windowName))
            continue;
        return record.Handle;
    }
    return nullptr;
}
