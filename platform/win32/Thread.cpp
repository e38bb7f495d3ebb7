// TThread and the hand-over of steps to the main thread on Windows. A
// waiting worker posts a message to a hidden window of the main thread, so
// that any message loop there runs the step, as the runtime's application
// window does.
#include "platform/Thread.h"
#include "platform/HandOvers.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

constexpr UINT kRunHandOvers = WM_USER + 0x7F00;
constexpr const char* kHandOverClass = "QvHandOverWindow";

struct TSyncState {
    DWORD MainThreadId = 0;
    HWND HandOverWindow = nullptr;
};

LRESULT CALLBACK HandOverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunHandOvers) {
        CheckSynchronize();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TSyncState* CreateSyncState()
{
    auto* state = new TSyncState;  // workers may outlive static teardown
    state->MainThreadId = ::GetCurrentThreadId();
    WNDCLASSA wndClass{};
    wndClass.lpfnWndProc = HandOverProc;
    wndClass.hInstance = GetModuleHandleA(nullptr);
    wndClass.lpszClassName = kHandOverClass;
    RegisterClassA(&wndClass);
    state->HandOverWindow = CreateWindowExA(0, kHandOverClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                            wndClass.hInstance, nullptr);
    return state;
}

TSyncState& Sync()
{
    static TSyncState* const state = CreateSyncState();
    return *state;
}

// Made during static initialisation, on the main thread, which thereby owns
// the window and is known as the main thread.
const bool g_SyncReady = (Sync(), true);

}  // namespace

struct TThread::State {
    std::mutex StartMutex;
    HANDLE Handle = nullptr;
    DWORD Id = 0;
    HANDLE QueueReady = nullptr;
    bool Started = false;  // guarded by StartMutex
    bool CreateSuspended = false;
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Finished{false};  // set under HandOverMutex()
    std::exception_ptr Fatal;           // written before Finished
};

TThread::TThread(bool createSuspended) : m_State(std::make_unique<State>())
{
    m_State->CreateSuspended = createSuspended;
    m_State->QueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    LPTHREAD_START_ROUTINE body = [](void* parameter) -> DWORD {
        auto* self = static_cast<TThread*>(parameter);
        State* state = self->m_State.get();
        // Gives the thread its message queue before anyone may post to it.
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(state->QueueReady);
        try {
            self->Execute();
        } catch (...) {
            // An exception ends the thread, nothing more; it is kept for the owner.
            state->Fatal = std::current_exception();
        }
        MarkFinished(state->Finished);
        return 0;  // the object may be gone from here on
    };
    // Suspended until Resume in any case, so that the identifier is known at once.
    m_State->Handle = CreateThread(nullptr, 0, body, this, CREATE_SUSPENDED, &m_State->Id);
    if (!m_State->Handle)
        throw std::runtime_error("Cannot create a thread: system error " + std::to_string(GetLastError()));
}

TThread::~TThread()
{
    bool started;
    {
        std::lock_guard lock(m_State->StartMutex);
        started = m_State->Started;
    }
    if (!started) {
        TerminateThread(m_State->Handle, 0);  // it never ran an instruction of ours
    } else {
        Terminate();
        if (::GetCurrentThreadId() == m_State->Id) {
            // Destroyed from its own body, which still uses the state.
            CloseHandle(m_State->Handle);
            CloseHandle(m_State->QueueReady);
            (void)m_State.release();
            return;
        }
        WaitFor();
        WaitForSingleObject(m_State->Handle, INFINITE);
    }
    CloseHandle(m_State->Handle);
    CloseHandle(m_State->QueueReady);
}

void TThread::Resume()
{
    std::lock_guard lock(m_State->StartMutex);
    if (m_State->Started)
        return;
    m_State->Started = true;
    ResumeThread(m_State->Handle);
    WaitForSingleObject(m_State->QueueReady, INFINITE);
}

void TThread::Terminate()
{
    m_State->Terminated = true;
}

bool TThread::Terminated() const
{
    return m_State->Terminated;
}

bool TThread::Finished() const
{
    return m_State->Finished;
}

DWORD TThread::ThreadID() const
{
    return m_State->Id;
}

std::exception_ptr TThread::FatalException() const
{
    std::lock_guard lock(HandOverMutex());
    return m_State->Finished ? m_State->Fatal : nullptr;
}

DWORD TThread::WaitFor()
{
    if (::GetCurrentThreadId() == m_State->Id)
        throw std::logic_error("A thread cannot wait for itself");
    {
        std::lock_guard lock(m_State->StartMutex);
        if (!m_State->Started && m_State->CreateSuspended)
            throw std::logic_error("WaitFor on a thread that was never resumed");
    }
    Resume();

    WaitUntilFinished(m_State->Finished, IsMainThread());
    return static_cast<DWORD>(ReturnValue);
}

void TThread::Synchronize(const std::function<void()>& method)
{
    if (IsMainThread()) {
        method();
        return;
    }
    HandOverAndWait(method, [] { PostMessageA(Sync().HandOverWindow, kRunHandOvers, 0, 0); });
}

bool CheckSynchronize()
{
    return IsMainThread() && RunHandOvers();
}

bool IsMainThread()
{
    return ::GetCurrentThreadId() == Sync().MainThreadId;
}

DWORD MainThreadId()
{
    return Sync().MainThreadId;
}
