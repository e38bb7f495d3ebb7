// TThread, and the hand-over of steps to the main thread, which a post to
// the main thread's queue wakes.
#include "Thread.h"
#include "HandOvers.h"
#include "MessageQueue.h"
#include "ThreadIdentity.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

struct TThread::State {
    std::mutex StartMutex;
    std::thread Thread;
    bool Started = false;  // guarded by StartMutex
    bool CreateSuspended = false;
    const DWORD Id = AllocateThreadId();
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Finished{false};  // set under HandOverMutex()
    std::exception_ptr Fatal;           // written before Finished
};

TThread::TThread(bool createSuspended) : m_State(std::make_unique<State>())
{
    m_State->CreateSuspended = createSuspended;
}

TThread::~TThread()
{
    bool started;
    {
        std::lock_guard lock(m_State->StartMutex);
        started = m_State->Started;
    }
    if (!started)
        return;  // a body that never ran is not started now
    Terminate();
    if (GetCurrentThreadId() == m_State->Id) {
        m_State->Thread.detach();  // destroyed from its own body
        return;
    }
    WaitFor();
    m_State->Thread.join();
}

void TThread::Resume()
{
    std::lock_guard lock(m_State->StartMutex);
    if (m_State->Started)
        return;
    m_State->Started = true;
    m_State->Thread = std::thread([this, state = m_State.get()] {
        AdoptThreadId(state->Id);
        CurrentThreadQueue();  // posts to this thread work from its first moment
        try {
            Execute();
        } catch (...) {
            // An exception ends the thread, nothing more; it is kept for the owner.
            state->Fatal = std::current_exception();
        }
        MarkFinished(state->Finished);
        // The object may be gone from here on.
    });
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
    if (GetCurrentThreadId() == m_State->Id)
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
    HandOverAndWait(method, WakeMainThreadQueue);
}

bool CheckSynchronize()
{
    return IsMainThread() && RunHandOvers();
}

bool IsMainThread()
{
    return GetCurrentThreadId() == kMainThreadId;
}

DWORD MainThreadId()
{
    return kMainThreadId;
}
