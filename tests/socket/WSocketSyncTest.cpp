// Waiting for a flag with TWSocket: the handlers that set it run inside the
// wait, and a WM_QUIT abandons it.
#include "socket/WSocket.h"
#include "socket/support/EventWait.h"
#include "socket/support/ScriptedPeer.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT kProbe = WM_USER + 0x200;

// Removes and counts the thread's queued probe messages.
int TakeProbes()
{
    int count = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, kProbe, kProbe, PM_REMOVE))
        ++count;
    return count;
}

TEST(SyncWait, FlagAlreadySetReturnsAtOnceButRunAndWaitClearsItFirst)
{
    TWSocket socket;
    socket.SetMultiThreaded(true);
    bool done = true;
    PostThreadMessageA(GetCurrentThreadId(), kProbe, 0, 0);
    EXPECT_EQ(socket.WaitForFlag(done), 0);
    EXPECT_EQ(TakeProbes(), 1);  // not a single message was processed

    // A Proc that sets the flag itself ends the wait without a message.
    PostThreadMessageA(GetCurrentThreadId(), kProbe, 0, 0);
    EXPECT_EQ(socket.RunAndWait([&] { done = true; }, done), 0);
    EXPECT_EQ(TakeProbes(), 1);
}

TEST(SyncWait, EventHandlersSetTheFlagDuringTheWait)
{
    ScriptedPeer peer;
    TWSocket socket;
    socket.SetMultiThreaded(true);
    bool connected = true;
    socket.OnSessionConnected = [&](TCustomWSocket*, WORD error) { connected = error == 0; };
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(peer.Port()));
    EXPECT_EQ(socket.RunAndWait([&] { socket.Connect(); }, connected), 0);
    EXPECT_EQ(socket.State(), TSocketState::wsConnected);

    bool gotData = false;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, WORD) { gotData = sender->ReceiveText() == "hi"; };
    ASSERT_TRUE(peer.Accept());
    peer.Send("hi");
    EXPECT_EQ(socket.RunAndWait(nullptr, gotData), 0);
}

TEST(SyncWait, QuitAbandonsTheWaitForGood)
{
    TWSocket socket;
    socket.SetMultiThreaded(true);
    bool never = false;
    PostQuitMessage(0);
    EXPECT_EQ(socket.WaitForFlag(never), kWaitAbandoned);
    EXPECT_TRUE(socket.QuitSeen());
    EXPECT_EQ(socket.RunAndWait(nullptr, never), kWaitAbandoned);
    bool set = true;
    EXPECT_EQ(socket.WaitForFlag(set), 0);

    // The application's pump leaves the quit for its own loop: the wait
    // ends all the same, and the quit stays queued.
    TWSocket shared;
    PostQuitMessage(0);
    EXPECT_EQ(shared.WaitForFlag(never), kWaitAbandoned);
    EXPECT_FALSE(shared.QuitSeen());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
