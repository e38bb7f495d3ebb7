// ctest-labels: threads
#include "support/TestWindow.h"
#include "support/WineQuirks.h"

#include "platform/Application.h"
#include "platform/Thread.h"
#ifndef _WIN32
#include "platform/WindowDirectory.h"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr UINT kFirst = WM_USER + 1;

void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

LRESULT IgnoreProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

TEST(Messages, PostedMessagesReachTheProcedureInPostingOrder)
{
    TTestWindow window;
    for (UINT i = 0; i < 5; ++i)
        ASSERT_TRUE(PostMessageA(window.Handle(), kFirst + i, i, -static_cast<LPARAM>(i)));
    DrainQueue();
    ASSERT_EQ(window.Received().size(), 5u);
    for (UINT i = 0; i < 5; ++i) {
        EXPECT_EQ(window.Received()[i].message, kFirst + i);
        EXPECT_EQ(window.Received()[i].wParam, i);
        EXPECT_EQ(window.Received()[i].lParam, -static_cast<LPARAM>(i));
    }
}

TEST(Messages, PeekFiltersByWindowAndRangeAndCanLeaveTheMessage)
{
    TTestWindow a;
    TTestWindow b;
    PostMessageA(a.Handle(), kFirst, 1, 0);
    PostMessageA(b.Handle(), kFirst + 5, 2, 0);
    PostThreadMessageA(GetCurrentThreadId(), kFirst + 9, 3, 0);

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, b.Handle(), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, kFirst + 5, kFirst + 9, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, b.Handle(), 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, a.Handle());
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(Messages, StaleHandlesAreRefusedAndNeverReused)
{
    HWND stale;
    {
        TTestWindow window;
        stale = window.Handle();
    }
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(stale, kFirst, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_EQ(GetWindowLongPtrA(stale, 0), 0);

    for (int i = 0; i < 50; ++i) {
        TTestWindow fresh;
        ASSERT_NE(fresh.Handle(), stale);
    }
}

TEST(Messages, MessageOfAWindowDestroyedBeforeDispatchIsDropped)
{
    TTestWindow survivor;
    auto doomed = std::make_unique<TTestWindow>();
    PostMessageA(doomed->Handle(), kFirst, 0, 0);
    PostMessageA(survivor.Handle(), kFirst + 1, 0, 0);
    doomed.reset();

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, survivor.Handle());
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(Messages, QuitComesOnceTheQueueIsOtherwiseEmpty)
{
    TTestWindow window;
    EXPECT_FALSE(ApplicationTerminated());
    PostQuitMessage(7);
    PostMessageA(window.Handle(), kFirst, 0, 0);
    EXPECT_TRUE(ApplicationTerminated());

    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, kFirst);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    // The application-wide pump leaves it for the thread's own loop, and
    // the application counts as ending until that loop has taken it.
    ApplicationProcessMessages();
    EXPECT_TRUE(ApplicationTerminated());
#ifndef _WIN32
    // Workers see the application end (Windows shows no thread another's queue).
    std::thread([] { EXPECT_TRUE(ApplicationTerminated()); }).join();
#endif
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(ApplicationTerminated());
}

TEST(Messages, PostsFromOtherThreadsArriveOnTheOwnersThreadInOrder)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    TTestWindow window;
    std::vector<DWORD> seenOn;
    window.OnMessage = [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        seenOn.push_back(GetCurrentThreadId());
        return 0;
    };
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                PostMessageA(window.Handle(), kFirst + static_cast<UINT>(t), static_cast<WPARAM>(i), 0);
        });
    }
    ASSERT_TRUE(PumpMessagesUntil([&] { return window.Received().size() == kThreads * kPerThread; }));
    for (auto& poster : posters)
        poster.join();

    std::vector<WPARAM> next(kThreads, 0);
    for (const MSG& msg : window.Received()) {
        const UINT t = msg.message - kFirst;
        ASSERT_LT(t, static_cast<UINT>(kThreads));
        EXPECT_EQ(msg.wParam, next[t]++);
    }
    for (DWORD id : seenOn)
        ASSERT_EQ(id, GetCurrentThreadId());
}

TEST(Messages, WindowOfAWorkerIsServedByTheWorkerOnly)
{
    std::atomic<HWND> workerWindow{nullptr};
    std::atomic<DWORD> workerId{0};
    std::atomic<DWORD> handledOn{0};
    std::atomic<DWORD> timerOn{0};
    std::atomic<int> result{-2};
    TTestWindow mainWindow;
    std::thread worker([&] {
        TTestWindow window;
        window.OnMessage = [&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == kFirst)
                handledOn = GetCurrentThreadId();
            if (message == WM_TIMER && wParam == 1 && !timerOn.exchange(GetCurrentThreadId()))
                PostMessageA(mainWindow.Handle(), kFirst + 1, 0, 0);
            return 0;
        };
        workerId = GetCurrentThreadId();
        workerWindow = window.Handle();
        PostMessageA(mainWindow.Handle(), kFirst, 0, 0);  // ready
        MSG msg;
        int got;
        while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0)
            DispatchMessageA(&msg);
        result = got;
    });

    EXPECT_TRUE(PumpMessagesUntil([&] { return !mainWindow.Received().empty(); }));
    EXPECT_EQ(GetWindowThreadProcessId(workerWindow, nullptr), workerId.load());
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(workerWindow));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Any thread may set a window's timer; it runs on the window's thread.
    EXPECT_EQ(SetTimer(workerWindow, 1, 10, nullptr), 1u);
    EXPECT_TRUE(PumpMessagesUntil([&] { return mainWindow.ReceivedNumbers().back() == kFirst + 1; }));
    EXPECT_EQ(timerOn.load(), workerId.load());
    EXPECT_TRUE(KillTimer(workerWindow, 1));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));

    EXPECT_TRUE(PostMessageA(workerWindow, kFirst, 0, 0));
    EXPECT_TRUE(PostThreadMessageA(workerId, WM_QUIT, 0, 0));
    worker.join();
    EXPECT_EQ(handledOn.load(), workerId.load());
    EXPECT_EQ(result.load(), 0);

    // Its windows and its queue ended with the thread.
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(workerWindow, kFirst, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(PostThreadMessageA(workerId, kFirst, 0, 0));
    // Wine takes an identifier of no thread for a bad parameter.
    EXPECT_EQ(GetLastError(), RunningUnderWine() ? ERROR_INVALID_PARAMETER : ERROR_INVALID_THREAD_ID);
}

TEST(Messages, WaitMessageWakesForAPostFromAnotherThread)
{
    TTestWindow window;
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // nothing is new now
    std::thread poster([&] { PostMessageA(window.Handle(), kFirst, 0, 0); });
    WaitMessage();
    poster.join();
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, kFirst);
}

TEST(WindowClasses, RegistrationRules)
{
    WNDCLASSA wndClass;
    wndClass.lpfnWndProc = IgnoreProc;
    wndClass.cbWndExtra = 16;
    wndClass.hInstance = GetModuleHandleA(nullptr);
    wndClass.lpszClassName = "RulesClass";
    ASSERT_NE(RegisterClassA(&wndClass), 0);

    wndClass.lpszClassName = "rulesCLASS";
    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&wndClass), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    WNDCLASSA info;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "RULESclass", &info));
    EXPECT_EQ(info.cbWndExtra, 16);
    EXPECT_EQ(info.lpfnWndProc, &IgnoreProc);
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "NoSuchClass", &info));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);

    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "RULESCLASS", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA("RulesClass", GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_TRUE(UnregisterClassA("RulesClass", GetModuleHandleA(nullptr)));
    EXPECT_FALSE(UnregisterClassA("RulesClass", GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);

    EXPECT_EQ(CreateWindowExA(0, "RulesClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr),
              nullptr);
    wndClass.lpszClassName = nullptr;  // refused; Windows names no error for it
    EXPECT_EQ(RegisterClassA(&wndClass), 0);
}

TEST(Windows, ExtraBytesHoldValuesWithinTheirBounds)
{
    TTestWindow window;  // one pointer of extra bytes, holding the object
    const LONG_PTR self = GetWindowLongPtrA(window.Handle(), 0);
    EXPECT_EQ(self, reinterpret_cast<LONG_PTR>(&window));

    SetLastError(0);
    EXPECT_EQ(SetWindowLongPtrA(window.Handle(), 1, 42), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    EXPECT_EQ(SetWindowLongPtrA(window.Handle(), -8, 42), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    EXPECT_EQ(GetWindowLongPtrA(window.Handle(), 0), self);  // nothing written past the end

    // Success leaves the last error alone: callers that must tell a previous 0
    // from a failure clear it first.
    EXPECT_EQ(SetWindowLongPtrA(window.Handle(), 0, self), self);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
}

TEST(Windows, DestroySendsWmDestroyAndWmNcDestroyWhileTheWindowIsStillValid)
{
    TTestWindow window;
    std::vector<LONG_PTR> seenDuringDestroy;
    window.OnMessage = [&](HWND hwnd, UINT, WPARAM, LPARAM) -> LRESULT {
        seenDuringDestroy.push_back(GetWindowLongPtrA(hwnd, 0));
        return 0;
    };
    const HWND handle = window.Handle();
    ASSERT_TRUE(DestroyWindow(handle));
    EXPECT_EQ(window.ReceivedNumbers(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    const auto self = reinterpret_cast<LONG_PTR>(&window);
    EXPECT_EQ(seenDuringDestroy, (std::vector<LONG_PTR>{self, self}));
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(DestroyWindow(handle));
}

TEST(Windows, ProcedureMayDestroyItsWindowPostAndPumpReentrantly)
{
    TTestWindow other;
    TTestWindow window;
    window.OnMessage = [&](HWND hwnd, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kFirst) {
            PostMessageA(other.Handle(), kFirst + 1, 0, 0);
            ApplicationProcessMessages();  // nested pump inside the procedure
        } else if (message == kFirst + 2) {
            DestroyWindow(hwnd);
            PostMessageA(other.Handle(), kFirst + 3, 0, 0);
        }
        return 0;
    };
    PostMessageA(window.Handle(), kFirst, 0, 0);
    PostMessageA(window.Handle(), kFirst + 2, 0, 0);
    PostMessageA(window.Handle(), kFirst + 4, 0, 0);  // dropped: the window is gone by then
    DrainQueue();
    EXPECT_EQ(window.ReceivedNumbers(), (std::vector<UINT>{kFirst, kFirst + 2, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(other.ReceivedNumbers(), (std::vector<UINT>{kFirst + 1, kFirst + 3}));
}

// How the stand-in finds its own windows; Windows has no such call.
#ifndef _WIN32
TEST(Windows, TopLevelWindowsAreFoundByClassAndTitle)
{
    TTestWindow tool(WS_EX_TOOLWINDOW, nullptr, "Tool Title");
    TTestWindow child(0, tool.Handle(), "Child Title");
    EXPECT_EQ(FindLocalTopLevelWindow("qvtestwindow", "tool title"), tool.Handle());
    EXPECT_EQ(FindLocalTopLevelWindow(TTestWindow::ClassName(), "Child Title"), nullptr);
    {
        TTestWindow main(0, nullptr, "Main");
        EXPECT_EQ(FindLocalTopLevelWindow(TTestWindow::ClassName(), nullptr), main.Handle());
    }
    EXPECT_EQ(FindLocalTopLevelWindow(TTestWindow::ClassName(), "Main"), nullptr);
    EXPECT_EQ(FindLocalTopLevelWindow("OtherClass", nullptr), nullptr);
}
#endif  // _WIN32
