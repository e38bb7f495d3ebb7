#include "MessageQueue.h"

#include "Application.h"
#include "ThreadIdentity.h"
#include "ThreadReadiness.h"
#include "WindowRecord.h"

#include <algorithm>
#include <map>

namespace {

// USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM of Windows.
constexpr UINT kTimerMinimumMs = 10;
constexpr UINT kTimerMaximumMs = 0x7FFFFFFF;
// A thread that keeps finding messages looks at its sockets every so many.
constexpr unsigned kTakesBetweenReadinessLooks = 64;

bool InRange(UINT message, UINT filterMin, UINT filterMax)
{
    if (filterMin == 0 && filterMax == 0)
        return true;
    if (filterMin > filterMax)  // an empty range admits everything, as on Windows
        return true;
    return filterMin <= message && message <= filterMax;
}

// A null filter takes any window's messages, -1 only thread messages.
bool WindowAdmitted(HWND message, HWND filter)
{
    if (filter == nullptr)
        return true;
    if (filter == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)))
        return message == nullptr;
    return message == filter;
}

bool WindowGone(const std::shared_ptr<TWindowRecord>& window)
{
    return window && window->Destroyed.load(std::memory_order_acquire);
}

struct TQueueRegistry {
    std::mutex Mutex;
    std::map<DWORD, std::shared_ptr<TThreadQueue>> Queues;
};

TQueueRegistry& Registry()
{
    static auto* registry = new TQueueRegistry;  // outlives every thread's teardown
    return *registry;
}

// Owns the calling thread's queue; its end is the thread's end.
struct TQueueOwner {
    std::shared_ptr<TThreadQueue> Queue;

    ~TQueueOwner()
    {
        if (!Queue)
            return;
        Queue->Close();
        ForgetThreadWindows(Queue->ThreadId());
        std::lock_guard lock(Registry().Mutex);
        Registry().Queues.erase(Queue->ThreadId());
    }
};

thread_local TQueueOwner t_QueueOwner;

// The main thread's queue exists from load on, so hand-overs can wake it.
[[maybe_unused]] const bool g_MainQueueCreated = GetCurrentThreadId() == kMainThreadId && CurrentThreadQueue();

}  // namespace

std::shared_ptr<TThreadQueue> CurrentThreadQueue()
{
    if (!t_QueueOwner.Queue) {
        auto queue = std::make_shared<TThreadQueue>(GetCurrentThreadId());
        {
            std::lock_guard lock(Registry().Mutex);
            Registry().Queues[queue->ThreadId()] = queue;
        }
        t_QueueOwner.Queue = std::move(queue);
    }
    return t_QueueOwner.Queue;
}

std::shared_ptr<TThreadQueue> FindThreadQueue(DWORD threadId)
{
    std::lock_guard lock(Registry().Mutex);
    auto found = Registry().Queues.find(threadId);
    return found == Registry().Queues.end() ? nullptr : found->second;
}

bool IsLiveTimerProc(TIMERPROC proc)
{
    std::vector<std::shared_ptr<TThreadQueue>> queues;
    {
        std::lock_guard lock(Registry().Mutex);
        for (const auto& [threadId, queue] : Registry().Queues)
            queues.push_back(queue);
    }
    return std::any_of(queues.begin(), queues.end(), [&](const auto& queue) { return queue->HasTimerProc(proc); });
}

void WakeMainThreadQueue()
{
    if (auto queue = FindThreadQueue(kMainThreadId)) {
        queue->Wake();
        return;
    }
    const GuiHooks* hooks = CurrentGuiHooks();
    if (hooks && hooks->WakeMainThread)
        hooks->WakeMainThread();
}

bool TThreadQueue::Post(const MSG& msg, std::shared_ptr<TWindowRecord> window)
{
    {
        std::lock_guard lock(m_Mutex);
        if (m_Closed)
            return false;
        m_Posted.push_back({msg, std::move(window)});
        ++m_InputSerial;
    }
    Notify();
    return true;
}

void TThreadQueue::PostQuit(int exitCode)
{
    {
        std::lock_guard lock(m_Mutex);
        m_QuitPending = true;
        m_QuitCode = exitCode;
        ++m_InputSerial;
    }
    Notify();
}

void TThreadQueue::Wake()
{
    {
        std::lock_guard lock(m_Mutex);
        ++m_InputSerial;
    }
    Notify();
}

void TThreadQueue::Close()
{
    std::deque<TEntry> dropped;  // released outside the lock: they hold windows
    {
        std::lock_guard lock(m_Mutex);
        m_Closed = true;
        dropped.swap(m_Posted);
        m_Timers.clear();
    }
}

bool TThreadQueue::Take(MSG* msg, HWND window, UINT filterMin, UINT filterMax, bool remove)
{
    std::vector<TEntry> dropped;  // messages of destroyed windows, released unlocked
    bool timerReset = false;
    bool found = false;
    {
        std::lock_guard lock(m_Mutex);
        const auto now = Clock::now();
        m_SeenSerial = m_InputSerial;
        m_SeenTime = now;

        for (auto entry = m_Posted.begin(); entry != m_Posted.end();) {
            if (WindowGone(entry->Window)) {
                dropped.push_back(std::move(*entry));
                entry = m_Posted.erase(entry);
                continue;
            }
            if (WindowAdmitted(entry->Msg.hwnd, window) &&
                InRange(entry->Msg.message, filterMin, filterMax)) {
                *msg = entry->Msg;
                if (remove) {
                    dropped.push_back(std::move(*entry));
                    m_Posted.erase(entry);
                }
                found = true;
                break;
            }
            ++entry;
        }

        // The quit flag comes once nothing is posted, before timers.
        if (!found && m_QuitPending && InRange(WM_QUIT, filterMin, filterMax) &&
            WindowAdmitted(nullptr, window)) {
            *msg = MSG{};
            msg->message = WM_QUIT;
            msg->wParam = static_cast<WPARAM>(m_QuitCode);
            msg->time = GetTickCount();
            if (remove)
                m_QuitPending = false;
            found = true;
        }

        if (!found && InRange(WM_TIMER, filterMin, filterMax)) {
            TTimer* due = nullptr;
            for (auto& timer : m_Timers) {
                if (timer.Due <= now && WindowAdmitted(timer.Window, window) &&
                    (!due || timer.Due < due->Due))
                    due = &timer;
            }
            if (due) {
                *msg = MSG{};
                msg->hwnd = due->Window;
                msg->message = WM_TIMER;
                msg->wParam = due->Id;
                msg->lParam = reinterpret_cast<LPARAM>(due->Proc);
                msg->time = GetTickCount();
                // One WM_TIMER per timer at a time: the next one is produced
                // an interval after this one was taken.
                if (remove) {
                    due->Due = now + due->Interval;
                    timerReset = true;
                }
                found = true;
            }
        }
    }
    if (timerReset)
        NotifyGui();  // the GUI loop re-arms its wake-up for the new deadline
    return found;
}

bool TThreadQueue::HasNewInputLocked(Clock::time_point now) const
{
    if (m_InputSerial != m_SeenSerial)
        return true;
    return std::any_of(m_Timers.begin(), m_Timers.end(), [&](const TTimer& timer) {
        return timer.Due > m_SeenTime && timer.Due <= now;
    });
}

std::optional<TThreadQueue::Clock::time_point> TThreadQueue::NextNewDeadlineLocked() const
{
    std::optional<Clock::time_point> next;
    for (const auto& timer : m_Timers) {
        if (timer.Due > m_SeenTime && (!next || timer.Due < *next))
            next = timer.Due;
    }
    return next;
}

bool TThreadQueue::HasNewInput()
{
    std::lock_guard lock(m_Mutex);
    return HasNewInputLocked(Clock::now());
}

void TThreadQueue::WaitForNewInput()
{
    std::unique_lock lock(m_Mutex);
    while (!HasNewInputLocked(Clock::now())) {
        // Another thread that sets a timer here wakes this wait, which
        // then takes the new deadline into account.
        const auto deadline = NextNewDeadlineLocked();
        if (m_ReadinessHolder) {
            // Sockets that become ready post to this queue from inside Wait.
            std::shared_ptr<TReadinessSet> set = m_ReadinessHolder;
            int timeoutMs = -1;
            if (deadline) {
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, kTimerMaximumMs));
            }
            m_Waiting = true;
            lock.unlock();
            set->Wait(timeoutMs, &m_Waiting);  // clears m_Waiting once awake
            lock.lock();
        } else if (deadline) {
            m_Changed.wait_until(lock, *deadline);
        } else {
            m_Changed.wait(lock);
        }
    }
}

bool TThreadQueue::LookAtReadiness()
{
    m_TakesSinceLook = 0;
    TReadinessSet* set = m_Readiness.load();
    return set && set->Wait(0);
}

bool TThreadQueue::ReadinessLookDue()
{
    return m_Readiness.load() && ++m_TakesSinceLook >= kTakesBetweenReadinessLooks;
}

std::shared_ptr<TReadinessSet> TThreadQueue::ReadinessSet()
{
    std::lock_guard lock(m_Mutex);
    if (m_Closed)
        return nullptr;
    if (!m_ReadinessHolder) {
        m_ReadinessHolder = TReadinessSet::Create();
        m_Readiness = m_ReadinessHolder.get();
    }
    return m_ReadinessHolder;
}

bool TThreadQueue::HasPendingInput()
{
    std::lock_guard lock(m_Mutex);
    if (m_QuitPending)
        return true;
    if (std::any_of(m_Posted.begin(), m_Posted.end(),
                    [](const TEntry& entry) { return !WindowGone(entry.Window); }))
        return true;
    const auto now = Clock::now();
    return std::any_of(m_Timers.begin(), m_Timers.end(),
                       [&](const TTimer& timer) { return timer.Due <= now; });
}

bool TThreadQueue::QuitPending()
{
    std::lock_guard lock(m_Mutex);
    return m_QuitPending;
}

UINT_PTR TThreadQueue::SetTimer(const std::shared_ptr<TWindowRecord>& windowRecord, UINT_PTR id, UINT elapseMs,
                                TIMERPROC proc)
{
    const UINT elapse = std::clamp(elapseMs, kTimerMinimumMs, kTimerMaximumMs);
    const HWND window = windowRecord ? windowRecord->Handle : nullptr;
    {
        std::lock_guard lock(m_Mutex);
        // DestroyWindow marks the window before it drops the window's timers
        // under this lock, so no timer outlives its window.
        if (m_Closed || WindowGone(windowRecord))
            return 0;
        if (window == nullptr) {
            // A thread timer gets a fresh identifier unless it names one of
            // this thread's timers.
            auto existing = std::find_if(m_Timers.begin(), m_Timers.end(), [&](const TTimer& t) {
                return t.Window == nullptr && t.Id == id;
            });
            if (id == 0 || existing == m_Timers.end()) {
                do {
                    id = m_NextThreadTimerId++;
                } while (id == 0 || std::any_of(m_Timers.begin(), m_Timers.end(), [&](const TTimer& t) {
                             return t.Window == nullptr && t.Id == id;
                         }));
            }
        }
        auto timer = std::find_if(m_Timers.begin(), m_Timers.end(), [&](const TTimer& t) {
            return t.Window == window && t.Id == id;
        });
        if (timer == m_Timers.end())
            timer = m_Timers.insert(m_Timers.end(), TTimer{window, id});
        timer->Proc = proc;
        timer->Interval = std::chrono::milliseconds(elapse);
        timer->Due = Clock::now() + timer->Interval;
    }
    Notify();  // the owner may be waiting for an earlier deadline
    return window == nullptr ? id : (id != 0 ? id : 1);
}

bool TThreadQueue::KillTimer(HWND window, UINT_PTR id)
{
    bool killed = false;
    {
        std::lock_guard lock(m_Mutex);
        auto timer = std::find_if(m_Timers.begin(), m_Timers.end(), [&](const TTimer& t) {
            return t.Window == window && t.Id == id;
        });
        if (timer != m_Timers.end()) {
            m_Timers.erase(timer);
            killed = true;
        }
    }
    if (killed)
        NotifyGui();
    return killed;
}

bool TThreadQueue::HasTimerProc(TIMERPROC proc)
{
    std::lock_guard lock(m_Mutex);
    return std::any_of(m_Timers.begin(), m_Timers.end(), [&](const TTimer& t) { return t.Proc == proc; });
}

std::optional<TThreadQueue::Clock::duration> TThreadQueue::NextTimerDelay()
{
    std::lock_guard lock(m_Mutex);
    if (m_Timers.empty())
        return std::nullopt;
    auto earliest = std::min_element(m_Timers.begin(), m_Timers.end(),
                                     [](const TTimer& a, const TTimer& b) { return a.Due < b.Due; });
    return std::max(earliest->Due - Clock::now(), Clock::duration::zero());
}

void TThreadQueue::ForgetWindow(HWND window)
{
    std::vector<TEntry> dropped;
    {
        std::lock_guard lock(m_Mutex);
        std::erase_if(m_Timers, [&](const TTimer& t) { return t.Window == window; });
        for (auto entry = m_Posted.begin(); entry != m_Posted.end();) {
            if (entry->Msg.hwnd == window) {
                dropped.push_back(std::move(*entry));
                entry = m_Posted.erase(entry);
            } else {
                ++entry;
            }
        }
    }
}

void TThreadQueue::Notify()
{
    m_Changed.notify_all();
    if (m_Waiting.load())
        if (TReadinessSet* set = m_Readiness.load())
            set->Wake();
    NotifyGui();
}

void TThreadQueue::NotifyGui() const
{
    if (m_ThreadId != kMainThreadId)
        return;
    const GuiHooks* hooks = CurrentGuiHooks();
    if (hooks && hooks->WakeMainThread)
        hooks->WakeMainThread();
}
