// ctest-labels: threads
// Loops that wait through ServiceMessages end once the thread is told to
// quit, with either pump, instead of spinning for good; the application's
// pump leaves the quit for the thread's own loop.
#include "platform/Application.h"
#include "socket/WSocket.h"
#include "socket/support/EventWait.h"
#include "socket/support/PosixPeer.h"
#include "socket/support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using S = TSocketState;

struct QuitCase {
    bool multiThreaded;
    int listener = -1;
    int port = 0;
    int peer = -1;
    TCustomWSocket client;

    explicit QuitCase(bool ownPump) : multiThreaded(ownPump)
    {
        listener = peer::Listen(port);
        client.SetMultiThreaded(ownPump);
        client.SetAddr("127.0.0.1");
        client.SetPort(std::to_string(port));
        client.Connect();
        peer = peer::Accept(listener);
        EXPECT_TRUE(PumpUntil([&] { return client.State() == S::wsConnected; }));
    }
    // Resets the peer, which ends the connection.
    std::function<void()> ResetPeer()
    {
        return [this] {
            peer::Reset(peer);
            peer = -1;
        };
    }
    ~QuitCase()
    {
        peer::Close(peer);
        peer::Close(listener);
        // Whatever quit is left belongs to this test only.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    // The own pump takes the quit; the application's leaves it queued.
    void ExpectQuitAccountedFor()
    {
        MSG msg;
        const bool queued = PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        EXPECT_EQ(client.QuitSeen(), multiThreaded);
        EXPECT_EQ(queued, !multiThreaded);
        EXPECT_FALSE(ApplicationTerminated());
    }
};

TEST(WSocketQuit, FlushGivesUpAndKeepsWhatIsUnsent)
{
    for (bool ownPump : {false, true}) {
        SCOPED_TRACE(ownPump ? "own pump" : "application's pump");
        QuitCase c(ownPump);
        // The peer reads nothing, so this cannot all go out.
        std::string big(16 * 1024 * 1024, 'x');
        c.client.Send(big.data(), static_cast<std::int32_t>(big.size()));
        ASSERT_FALSE(c.client.AllSent());
        PostQuitMessage(4);
        TWatchdog watchdog(c.ResetPeer());
        try {
            c.client.Flush();
        } catch (const ESocketException&) {
        }
        EXPECT_FALSE(watchdog.Stop()) << "Flush waited on after the quit";
        EXPECT_FALSE(c.client.AllSent());
        EXPECT_EQ(c.client.State(), S::wsConnected);
        c.ExpectQuitAccountedFor();
    }
}

TEST(WSocketQuit, DrainUntilClosedGivesUpOnASilentPeer)
{
    for (bool ownPump : {false, true}) {
        SCOPED_TRACE(ownPump ? "own pump" : "application's pump");
        QuitCase c(ownPump);
        PostQuitMessage(5);
        TWatchdog watchdog(c.ResetPeer());
        c.client.DrainUntilClosed();
        EXPECT_FALSE(watchdog.Stop()) << "DrainUntilClosed waited on after the quit";
        EXPECT_EQ(c.client.State(), S::wsConnected);
        c.ExpectQuitAccountedFor();
    }
}

// A worker's wait, with either pump, ends when the application's main
// thread is told to quit. A wait that missed it is ended by a quit for the
// worker itself, and that counts as a failure.
TEST(WSocketQuit, WorkersSeeTheApplicationEnd)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows shows no thread another's queue";
#endif
    TCustomWSocket keeper;  // keeps the window class and library for all
    for (bool ownPump : {false, true}) {
        SCOPED_TRACE(ownPump ? "own pump" : "application's pump");
        PostQuitMessage(6);
        std::atomic<DWORD> workerId{0};
        std::atomic<std::int32_t> result{-1};
        std::thread worker([&] {
            TWSocket socket;
            socket.SetMultiThreaded(ownPump);
            workerId = GetCurrentThreadId();
            bool never = false;
            result = socket.WaitForFlag(never);
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (result == -1 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        const bool rescued = result == -1;
        while (result == -1) {
            if (workerId != 0)
                PostThreadMessageA(workerId, WM_QUIT, 0, 0);
            std::this_thread::yield();
        }
        worker.join();
        EXPECT_FALSE(rescued) << "the worker waited on after the application's quit";
        EXPECT_EQ(result, kWaitAbandoned);
        MSG msg;
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
}

}  // namespace
