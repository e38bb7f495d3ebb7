// ctest-labels: threads
// ctest-link: qvplatform_qt
#include "support/TestWindow.h"

#include "platform/Application.h"
#include "platform/Thread.h"
#include "platform/qt/QtBinding.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QApplication& Application()
{
    // Tests never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "QtBindingTest";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

class QtBinding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application(); }  // before any fixture's event loop
    void SetUp() override { m_Binding = std::make_unique<TQtBinding>(Application()); }
    void TearDown() override { m_Binding.reset(); }

    // Runs the Qt loop until `quit` is called or the bound runs out;
    // returns whether it was quit.
    bool RunQtLoopUntilQuit(int timeoutMs = 10000)
    {
        bool timedOut = false;
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [&] {
            timedOut = true;
            m_Loop.quit();
        });
        bound.start(timeoutMs);
        m_Loop.exec();
        return !timedOut;
    }
    void QuitQtLoop() { m_Loop.quit(); }

private:
    std::unique_ptr<TQtBinding> m_Binding;
    QEventLoop m_Loop;
};

class TStepThread : public TThread {
public:
    explicit TStepThread(std::function<void(TStepThread&)> body) : TThread(true), m_Body(std::move(body)) {}
    ~TStepThread() override { WaitFor(); }

protected:
    void Execute() override { m_Body(*this); }

private:
    std::function<void(TStepThread&)> m_Body;
};

}  // namespace

TEST_F(QtBinding, MessagePostedByAWorkerIsDispatchedByTheQtLoop)
{
    TTestWindow window;
    window.OnMessage = [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_USER)
            QuitQtLoop();
        return 0;
    };
    std::thread poster([&] { PostMessageA(window.Handle(), WM_USER, 0, 0); });
    EXPECT_TRUE(RunQtLoopUntilQuit());
    poster.join();
    EXPECT_EQ(window.ReceivedNumbers(), std::vector<UINT>{WM_USER});
}

TEST_F(QtBinding, HandOverRunsInTheQtLoop)
{
    bool ranOnMain = false;
    TStepThread worker([&](TStepThread& self) {
        self.Synchronize([&] {
            ranOnMain = IsMainThread();
            QuitQtLoop();
        });
    });
    worker.Resume();
    EXPECT_TRUE(RunQtLoopUntilQuit());
    EXPECT_TRUE(ranOnMain);
}

TEST_F(QtBinding, TimerOfTheMainThreadFiresThroughTheQtLoop)
{
    TTestWindow window;
    window.OnMessage = [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_TIMER && window.ReceivedNumbers().size() == 2)
            QuitQtLoop();
        return 0;
    };
    const DWORD start = GetTickCount();
    SetTimer(window.Handle(), 9, 30, nullptr);
    EXPECT_TRUE(RunQtLoopUntilQuit());
    EXPECT_GE(GetTickCount() - start, 59u);
    EXPECT_EQ(window.ReceivedNumbers(), (std::vector<UINT>{WM_TIMER, WM_TIMER}));
}

TEST_F(QtBinding, WaitMessageReturnsForAPostedMessage)
{
    TTestWindow window;
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    std::thread poster([&] { PostMessageA(window.Handle(), WM_USER + 3, 0, 0); });
    bool got = false;
    QTimer::singleShot(10000, [] {});  // bounds a wait that is never woken
    const DWORD start = GetTickCount();
    while (!got && GetTickCount() - start < 10000) {
        WaitMessage();
        got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0;
    }
    poster.join();
    ASSERT_TRUE(got);
    EXPECT_EQ(msg.message, UINT{WM_USER + 3});
    EXPECT_TRUE(window.Received().empty());  // taking it was the caller's job
}

TEST_F(QtBinding, WaitMessageProcessesAQueuedGuiEvent)
{
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    bool ran = false;
    QMetaObject::invokeMethod(&Application(), [&] { ran = true; }, Qt::QueuedConnection);
    QTimer::singleShot(10000, [] {});  // bounds a wait that is never woken
    const DWORD start = GetTickCount();
    while (!ran && GetTickCount() - start < 10000)
        WaitMessage();
    EXPECT_TRUE(ran);
}

TEST_F(QtBinding, WakeInsideAPeekDoesNotDispatchButIsNotLost)
{
    TTestWindow window;
    PostMessageA(window.Handle(), WM_USER, 0, 0);
    MSG msg;
    // The wake-up event is handled inside this call; dispatching stays the caller's choice.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(window.Received().empty());

    window.OnMessage = [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        QuitQtLoop();
        return 0;
    };
    EXPECT_TRUE(RunQtLoopUntilQuit());
    EXPECT_EQ(window.ReceivedNumbers(), std::vector<UINT>{WM_USER});
}

TEST_F(QtBinding, BlockingWaitOnTheMainThreadStillServesGuiInput)
{
    // The shape of a blocking request on the main thread: WaitMessage and
    // pump until a worker's message arrives, while a GUI event is handled.
    TTestWindow window;
    bool guiHandled = false;
    QTimer::singleShot(0, [&] { guiHandled = true; });
    TStepThread worker([&](TStepThread& self) {
        self.Synchronize([] {});
        PostMessageA(window.Handle(), WM_USER, 0, 0);
    });
    worker.Resume();
    EXPECT_TRUE(PumpMessagesUntil([&] { return !window.Received().empty(); }));
    EXPECT_TRUE(guiHandled);
}

TEST_F(QtBinding, MessageBoxShowsTheAnsiTextAsUnicode)
{
    QString shownText;
    QString shownCaption;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownCaption = box->windowTitle();
        box->accept();
    });
    // "运行" in GBK.
    EXPECT_EQ(MessageBoxA(nullptr, "Quorvan\xD4\xCB\xD0\xD0", "Update", MB_OK), IDOK);
    EXPECT_EQ(shownText, QString::fromUtf8("Quorvan运行"));
    EXPECT_EQ(shownCaption, QStringLiteral("Update"));
}

TEST_F(QtBinding, HandOverRunsWhileAModalBoxIsOpenUnderAPeek)
{
    // A GUI event handled inside PeekMessageA opens a modal box; a worker's
    // step must still run meanwhile, or the worker and the box wait forever.
    bool stepRan = false;
    bool boxWasOpen = false;
    TStepThread worker([&](TStepThread& self) {
        self.Synchronize([&] {
            stepRan = true;
            if (auto* box = QApplication::activeModalWidget()) {
                boxWasOpen = true;
                box->close();
            }
        });
    });
    QTimer::singleShot(0, [&] {
        worker.Resume();
        MessageBoxA(nullptr, "waiting", "Update", MB_OK);
    });
    QTimer bound;  // closes the box if the step never comes
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] {
        if (auto* box = QApplication::activeModalWidget())
            box->close();
    });
    bound.start(10000);
    MSG msg;
    const DWORD start = GetTickCount();
    while (!stepRan && GetTickCount() - start < 10000)
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_TRUE(stepRan);
    EXPECT_TRUE(boxWasOpen);
}

TEST_F(QtBinding, PostQuitMessageEndsTheQtLoop)
{
    QTimer::singleShot(0, [] { PostQuitMessage(5); });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    bound.start(10000);
    EXPECT_EQ(Application().exec(), 5);
}
