#include "ThreadReadiness.h"

#include "MessageQueue.h"
#include "ThreadIdentity.h"

#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

std::atomic<TReadyHandler> g_Handler{nullptr};

constexpr int kMaxEvents = 64;

}  // namespace

std::shared_ptr<TReadinessSet> TReadinessSet::Create()
{
    std::shared_ptr<TReadinessSet> set(new TReadinessSet);
    set->m_Epoll = ::epoll_create1(EPOLL_CLOEXEC);
    set->m_Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (set->m_Epoll < 0 || set->m_Wake < 0)
        return nullptr;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = kOwnTag;
    if (::epoll_ctl(set->m_Epoll, EPOLL_CTL_ADD, set->m_Wake, &wake) != 0)
        return nullptr;
    return set;
}

TReadinessSet::~TReadinessSet()
{
    if (m_Epoll >= 0)
        ::close(m_Epoll);
    if (m_Wake >= 0)
        ::close(m_Wake);
}

void TReadinessSet::Wake()
{
    const std::uint64_t one = 1;
    while (::write(m_Wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool TReadinessSet::Wait(int timeoutMs, std::atomic<bool>* sleeping)
{
    epoll_event events[kMaxEvents];
    const int count = ::epoll_wait(m_Epoll, events, kMaxEvents, timeoutMs);
    // Posts made by the handler below need not wake us.
    if (sleeping)
        *sleeping = false;
    if (count <= 0)
        return false;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == kOwnTag) {
            std::uint64_t ignored;
            while (::read(m_Wake, &ignored, sizeof ignored) < 0 && errno == EINTR) {
            }
        } else {
            events[kept++] = events[i];
        }
    }
    if (kept == 0)
        return false;
    if (TReadyHandler handler = g_Handler.load())
        handler(m_Epoll, events, kept);
    return true;
}

void SetReadyHandler(TReadyHandler handler)
{
    g_Handler.store(handler);
}

std::shared_ptr<TReadinessSet> ThreadReadinessSet(DWORD threadId)
{
    if (threadId == kMainThreadId)
        return nullptr;
    auto queue = FindThreadQueue(threadId);
    return queue ? queue->ReadinessSet() : nullptr;
}
