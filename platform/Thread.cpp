// TThread and the hand-over of steps to the main thread. A waiting worker
// and the main thread meet on one lock and condition: a hand-over, a
// finished step and a finished thread all notify it.
#include "Thread.h"
#include "MainThreadPump.h"
#include "MessageQueue.h"
#include "ThreadIdentity.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

struct THandOver {
    const std::function<void()>* Method = nullptr;
    std::exception_ptr Error;
    bool Done = false;  // guarded by TSyncState::Mutex
};

struct TSyncState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<THandOver*> Pending;  // the workers wait while theirs are here
};

TSyncState& Sync()
{
    static auto* state = new TSyncState;  // workers may outlive static teardown
    return *state;
}

}  // namespace

struct TThread::State {
    std::mutex StartMutex;
    std::thread Thread;
    bool Started = false;  // guarded by StartMutex
    bool CreateSuspended = false;
    const DWORD Id = AllocateThreadId();
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Finished{false};  // set under Sync().Mutex
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
        {
            std::lock_guard syncLock(Sync().Mutex);
            state->Finished = true;
        }
        Sync().Changed.notify_all();
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
    std::lock_guard lock(Sync().Mutex);
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

    const bool main = IsMainThread();
    std::unique_lock lock(Sync().Mutex);
    while (!m_State->Finished) {
        // The thread may be waiting for the main thread right now.
        if (main && !Sync().Pending.empty()) {
            lock.unlock();
            CheckSynchronize();
            lock.lock();
            continue;
        }
        Sync().Changed.wait(lock);
    }
    return static_cast<DWORD>(ReturnValue);
}

void TThread::Synchronize(const std::function<void()>& method)
{
    if (IsMainThread()) {
        method();
        return;
    }
    THandOver handOver;
    handOver.Method = &method;
    {
        std::lock_guard lock(Sync().Mutex);
        Sync().Pending.push_back(&handOver);
    }
    Sync().Changed.notify_all();
    WakeMainThreadQueue();
    {
        std::unique_lock lock(Sync().Mutex);
        Sync().Changed.wait(lock, [&] { return handOver.Done; });
    }
    if (handOver.Error)
        std::rethrow_exception(handOver.Error);
}

bool CheckSynchronize()
{
    if (!IsMainThread())
        return false;
    bool ran = false;
    for (;;) {
        THandOver* handOver;
        {
            std::lock_guard lock(Sync().Mutex);
            if (Sync().Pending.empty())
                break;
            handOver = Sync().Pending.front();
            Sync().Pending.pop_front();
        }
        std::exception_ptr error;
        try {
            (*handOver->Method)();
        } catch (...) {
            error = std::current_exception();  // raised again in the worker
        }
        {
            std::lock_guard lock(Sync().Mutex);
            handOver->Error = std::move(error);  // nothing of it is left here once Done is seen
            handOver->Done = true;  // the worker may return and free it now
        }
        Sync().Changed.notify_all();
        ran = true;
    }
    return ran;
}

bool HandOversPending()
{
    std::lock_guard lock(Sync().Mutex);
    return !Sync().Pending.empty();
}

bool IsMainThread()
{
    return GetCurrentThreadId() == kMainThreadId;
}

DWORD MainThreadId()
{
    return kMainThreadId;
}
