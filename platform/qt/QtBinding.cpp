// Messages posted to the main thread and hand-overs from workers wake the Qt
// loop through an event counter that a socket notifier watches, the main
// thread's timers through one single-shot QTimer armed for the earliest
// deadline. Both then pump the main thread's queue. Workers only write the
// counter: no Qt object crosses threads.
#include "QtBinding.h"

#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/MainThreadPump.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// MB_ICON* of Windows, in the type's icon bits.
constexpr UINT kIconMask = 0x000000F0u;
constexpr UINT kIconQuestion = 0x00000020u;
constexpr UINT kIconWarning = 0x00000030u;
constexpr UINT kIconInformation = 0x00000040u;

class TWakeReceiver {
public:
    TWakeReceiver() : m_Counter(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (m_Counter < 0)
            throw std::runtime_error("Cannot create the main thread's wake-up counter");
        m_Notifier = std::make_unique<QSocketNotifier>(m_Counter, QSocketNotifier::Read);
        QObject::connect(m_Notifier.get(), &QSocketNotifier::activated, [this] { OnWake(); });
        m_Timer.setSingleShot(true);
        m_Timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { Serve(); });
    }

    ~TWakeReceiver()
    {
        m_Notifier.reset();
        close(m_Counter);
    }

    TWakeReceiver(const TWakeReceiver&) = delete;
    TWakeReceiver& operator=(const TWakeReceiver&) = delete;

    // Any thread. Coalesced: one wake-up is on its way at most.
    void Wake()
    {
        if (m_WakePending.exchange(true))
            return;
        const std::uint64_t one = 1;
        (void)!write(m_Counter, &one, sizeof one);  // cannot overflow: one write per wake-up
    }

    void ArmTimer()
    {
        const long delay = NextMainThreadTimerMs();
        if (delay < 0)
            m_Timer.stop();
        else
            m_Timer.start(static_cast<int>(std::min<long>(delay, INT_MAX)));
    }

private:
    void OnWake()
    {
        std::uint64_t count;
        (void)!read(m_Counter, &count, sizeof count);
        m_WakePending = false;  // before pumping, so a post during it wakes again
        Serve();
    }

    void Serve()
    {
        if (auto exitCode = ServeMainThreadWake())
            QCoreApplication::exit(*exitCode);
        ArmTimer();
    }

    const int m_Counter;
    std::unique_ptr<QSocketNotifier> m_Notifier;
    QTimer m_Timer;
    std::atomic<bool> m_WakePending{false};
};

// Guards the receiver against wake-ups from workers while the binding ends.
std::mutex g_ReceiverMutex;
TWakeReceiver* g_Receiver = nullptr;

void WakeMainThread()
{
    std::lock_guard lock(g_ReceiverMutex);
    if (g_Receiver)
        g_Receiver->Wake();
}

void ProcessGuiEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitGuiEvent()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

QMessageBox::Icon IconOf(UINT type)
{
    switch (type & kIconMask) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case kIconQuestion:
        return QMessageBox::Question;
    case kIconWarning:
        return QMessageBox::Warning;
    case kIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QString FromAnsi(const char* text)
{
    return QString::fromStdString(AnsiToUtf8(text ? text : ""));
}

int ShowMessageBox(HWND /*owner*/, const char* text, const char* caption, UINT type)
{
    // Windows' default caption when none is given.
    QMessageBox box(IconOf(type), caption ? FromAnsi(caption) : QStringLiteral("Error"),
                    FromAnsi(text), QMessageBox::Ok);
    box.exec();
    return IDOK;
}

const GuiHooks kQtHooks{
    .WakeMainThread = WakeMainThread,
    .ProcessGuiEvents = ProcessGuiEvents,
    .WaitGuiEvent = WaitGuiEvent,
    .MessageBox = ShowMessageBox,
};

}  // namespace

TQtBinding::TQtBinding(QApplication& /*application*/)
{
    auto* receiver = new TWakeReceiver;
    {
        std::lock_guard lock(g_ReceiverMutex);
        g_Receiver = receiver;
    }
    SetGuiHooks(&kQtHooks);
    // Whatever was posted or set before the binding existed.
    receiver->Wake();
    receiver->ArmTimer();
}

TQtBinding::~TQtBinding()
{
    SetGuiHooks(nullptr);
    TWakeReceiver* receiver;
    {
        std::lock_guard lock(g_ReceiverMutex);
        receiver = g_Receiver;
        g_Receiver = nullptr;
    }
    delete receiver;
}
