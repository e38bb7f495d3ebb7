#include "support/TestWindow.h"
#include "support/WineQuirks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace {

int CountTimerMessages(HWND window)
{
    int count = 0;
    MSG msg;
    while (PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE))
        ++count;
    return count;
}

size_t TimerCount(const TTestWindow& window)
{
    auto numbers = window.ReceivedNumbers();
    return static_cast<size_t>(std::count(numbers.begin(), numbers.end(), WM_TIMER));
}

std::atomic<int> g_ProcCalls{0};
void CountingProc(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_ProcCalls;
}

}  // namespace

TEST(Timers, FireRepeatedlyWithTheirIdentifier)
{
    TTestWindow window;
    ASSERT_NE(SetTimer(window.Handle(), 42, 15, nullptr), 0u);
    ASSERT_TRUE(PumpMessagesUntil([&] { return TimerCount(window) >= 3; }));
    for (const MSG& msg : window.Received())
        EXPECT_EQ(msg.wParam, 42u);
}

TEST(Timers, WaitMessageWakesWhenATimerFallsDue)
{
    TTestWindow window;
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    const DWORD start = GetTickCount();
    SetTimer(window.Handle(), 1, 40, nullptr);
    WaitMessage();
    EXPECT_GE(GetTickCount() - start, 39u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, window.Handle());
}

TEST(Timers, AtMostOnePendingMessagePerTimer)
{
    TTestWindow window;
    SetTimer(window.Handle(), 1, 100, nullptr);
    SetTimer(window.Handle(), 2, 100, nullptr);
    Sleep(350);  // several intervals pass without anyone looking
    EXPECT_EQ(CountTimerMessages(window.Handle()), 2);
    EXPECT_EQ(CountTimerMessages(window.Handle()), 0);  // the next ones are an interval away
}

TEST(Timers, KillResetAndDeathWithTheWindow)
{
    auto window = std::make_unique<TTestWindow>();
    const HWND handle = window->Handle();

    SetTimer(handle, 1, 10, nullptr);
    Sleep(20);
    ASSERT_TRUE(KillTimer(handle, 1));
    EXPECT_EQ(CountTimerMessages(handle), 0);
    EXPECT_FALSE(KillTimer(handle, 1));

    // Setting an existing identifier again restarts it with the new interval.
    SetTimer(handle, 2, 10, nullptr);
    Sleep(20);
    SetTimer(handle, 2, 10000, nullptr);
    EXPECT_EQ(CountTimerMessages(handle), 0);

    SetTimer(handle, 3, 10, nullptr);
    window.reset();
    Sleep(20);
    EXPECT_EQ(CountTimerMessages(nullptr), 0);
    EXPECT_FALSE(KillTimer(handle, 3));
    // Wine reports the destroyed window as a bad handle of any kind.
    EXPECT_EQ(GetLastError(), RunningUnderWine() ? ERROR_INVALID_HANDLE : ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SetTimer(handle, 3, 10, nullptr), 0u);
}

TEST(Timers, ThreadTimerCallsOnlyItsOwnProcedure)
{
    g_ProcCalls = 0;
    const UINT_PTR id = SetTimer(nullptr, 0, 10, CountingProc);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(PumpMessagesUntil([] { return g_ProcCalls >= 2; }));

    // A WM_TIMER posted with a procedure address calls it only while a timer
    // of the process was set with it, whatever identifier the message names.
    const auto postAndDispatch = [] {
        g_ProcCalls = 0;
        PostThreadMessageA(GetCurrentThreadId(), WM_TIMER, 0x7777, reinterpret_cast<LPARAM>(&CountingProc));
        MSG msg;
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 0x7777u);
        DispatchMessageA(&msg);
    };
    postAndDispatch();
    EXPECT_EQ(g_ProcCalls, 1);
    ASSERT_TRUE(KillTimer(nullptr, id));
    postAndDispatch();
    // Wine calls any address a WM_TIMER carries.
    EXPECT_EQ(g_ProcCalls, RunningUnderWine() ? 1 : 0);
}
