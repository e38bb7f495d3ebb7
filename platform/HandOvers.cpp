#include "HandOvers.h"

#include <condition_variable>
#include <deque>
#include <exception>

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

void HandOverAndWait(const std::function<void()>& method, const std::function<void()>& wakeMainThread)
{
    THandOver handOver;
    handOver.Method = &method;
    {
        std::lock_guard lock(Sync().Mutex);
        Sync().Pending.push_back(&handOver);
    }
    Sync().Changed.notify_all();
    wakeMainThread();
    {
        std::unique_lock lock(Sync().Mutex);
        Sync().Changed.wait(lock, [&] { return handOver.Done; });
    }
    if (handOver.Error)
        std::rethrow_exception(handOver.Error);
}

bool RunHandOvers()
{
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
            handOver->Done = true;               // the worker may return and free it now
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

std::mutex& HandOverMutex()
{
    return Sync().Mutex;
}

void MarkFinished(std::atomic<bool>& finished)
{
    {
        std::lock_guard lock(Sync().Mutex);
        finished = true;
    }
    Sync().Changed.notify_all();
}

void WaitUntilFinished(const std::atomic<bool>& finished, bool onMainThread)
{
    std::unique_lock lock(Sync().Mutex);
    while (!finished) {
        if (onMainThread && !Sync().Pending.empty()) {
            lock.unlock();
            RunHandOvers();
            lock.lock();
            continue;
        }
        Sync().Changed.wait(lock);
    }
}
