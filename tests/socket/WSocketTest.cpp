// ctest-labels: threads
// TCustomWSocket without a conversation: its guarded settings, its hidden
// window, error reporting, the library's life with the components', and
// destruction in each phase.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/PosixPeer.h"
#include "socket/support/Failures.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using S = TSocketState;

// A datagram "connection" is established inside Connect, which is all that
// the guarded setters need.
void ConnectDatagram(TCustomWSocket& socket, int port)
{
    socket.SetProto("udp");
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(port));
    socket.Connect();
    ASSERT_EQ(socket.State(), S::wsConnected);
}

}  // namespace

TEST(WSocket, GuardedSettersRefuseChangesOutsideTheClosedState)
{
    int port = 0;
    int sink = peer::BindUdp(port);
    EventLog log;
    TCustomWSocket socket;
    ConnectDatagram(socket, port);

    // The same value is accepted silently, even while connected.
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(port));
    socket.SetProto("udp");
    EXPECT_EQ(MessageOf([&] { socket.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(MessageOf([&] { socket.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(MessageOf([&] { socket.SetProto("tcp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(MessageOf([&] { socket.SetLocalPort("0"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(MessageOf([&] { socket.SetLocalAddr("0.0.0.0"); }), "Cannot change LocalAddr if not closed");

    // With OnError the error is a notification and the value stays.
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    socket.SetAddr("127.0.0.2");
    socket.SetLocalAddr("127.0.0.1");
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(socket.Addr(), "127.0.0.1");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    socket.Close();
    peer::Close(sink);
}

TEST(WSocket, SettersStoreTheirTexts)
{
    TCustomWSocket socket;
    socket.SetAddr("  example.invalid ");
    EXPECT_EQ(socket.Addr(), "example.invalid");
    socket.SetPort(" 80 ");
    EXPECT_EQ(socket.Port(), "80");
    socket.SetLocalPort(" 5 ");
    EXPECT_EQ(socket.LocalPort(), " 5 ");
    socket.SetLocalAddr("");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    socket.SetSendFlags(TSocketSendFlags::wsSendUrgent);
    EXPECT_EQ(socket.SendFlags(), TSocketSendFlags::wsSendUrgent);
    EXPECT_EQ(MessageOf([&] { socket.SetSendFlags(static_cast<TSocketSendFlags>(7)); }), "Invalid SendFlags");
    EXPECT_EQ(socket.SendFlags(), TSocketSendFlags::wsSendUrgent);
    EXPECT_EQ(socket.PeerAddr(), "error");
    EXPECT_EQ(socket.PeerPort(), "error");
    EXPECT_EQ(socket.LocalPortText(), "error");
}

TEST(WSocket, HiddenWindowAnswersOtherMessagesByDefault)
{
    TCustomWSocket socket;
    WNDCLASSA windowClass;
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), kSocketWindowClassName, &windowClass));
    // The default answer to WM_CLOSE destroys the window.
    const HWND window = socket.WindowHandle();
    ASSERT_TRUE(IsWindow(window));
    SocketWindowProc(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST(WSocket, SocketErrorsCloseOnResetAndNotConnected)
{
    EventLog log;
    TCustomWSocket socket;
    log.Attach(socket);
    EXPECT_EQ(MessageOf([&] { socket.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(MessageOf([&] { socket.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(MessageOf([&] { socket.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_TRUE(log.entries.empty()) << "10022 closes nothing";
    EXPECT_EQ(socket.LastError(), WSAEINVAL);
    EXPECT_EQ(MessageOf([&] { socket.RcvdCount(); }),
              "Error 10038 in function ioctlSocket\r\nSocket operation on non-socket");
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
}

TEST(WSocket, LibraryLivesWithTheComponents)
{
    ASSERT_EQ(LiveSocketCount(), 0);
    {
        TCustomWSocket first;
        TCustomWSocket second;
        EXPECT_EQ(LiveSocketCount(), 2);
    }
    EXPECT_EQ(LiveSocketCount(), 0);
    EXPECT_FALSE(SocketLibraryLoaded()) << "no socket call, no load";
    {
        TCustomWSocket first;
        auto second = std::make_unique<TCustomWSocket>();
        first.DnsLookup("127.0.0.1");
        EXPECT_TRUE(SocketLibraryLoaded());
        second.reset();
        EXPECT_TRUE(SocketLibraryLoaded());
    }
    EXPECT_FALSE(SocketLibraryLoaded());
    EXPECT_EQ(LiveSocketCount(), 0);
    {
        // Loaded again by the next call, after a release.
        TCustomWSocket again;
        again.DnsLookup("10.1.2.3");
        EXPECT_EQ(again.DnsResult(), "10.1.2.3");
    }
    EXPECT_FALSE(SocketLibraryLoaded());
}

TEST(WSocket, DestructionInEachPhase)
{
    // Keeps the library loaded: its release is tested above, and reloading
    // it under a running lookup thread confuses ThreadSanitizer.
    TCustomWSocket keeper;
    int port = 0;
    int listener = peer::Listen(port);
    EventLog log;
    auto open = [&](bool wait) {
        auto socket = std::make_unique<TCustomWSocket>();
        socket->SetMultiThreaded(true);
        log.Attach(*socket);
        socket->SetAddr("127.0.0.1");
        socket->SetPort(std::to_string(port));
        socket->Connect();
        if (wait) {
            EXPECT_TRUE(PumpUntil([&] { return socket->State() == S::wsConnected; }));
        }
        return socket;
    };
    // Connecting, connected, connected with data queued: OnChangeState
    // fires, OnSessionClosed never does.
    for (int phase = 0; phase < 3; ++phase) {
        auto socket = open(phase > 0);
        if (phase == 2) {
            std::string big(16 * 1024 * 1024, 'x');
            socket->Send(big.data(), static_cast<std::int32_t>(big.size()));
        }
        log.entries.clear();
        socket.reset();
        ASSERT_EQ(log.entries.size(), 1u) << phase;
        EXPECT_EQ(log.entries[0].rfind("state ", 0), 0u);
        EXPECT_FALSE(log.Has("closed 0"));
        PumpQueued();  // late events reach no component
    }
    {
        auto server = std::make_unique<TCustomWSocket>();
        server->SetAddr("127.0.0.1");
        server->SetPort("0");
        server->Listen();
        EXPECT_EQ(server->State(), S::wsListening);
        server.reset();
    }
    {
        auto pending = std::make_unique<TCustomWSocket>();
        log.Attach(*pending);
        log.entries.clear();
        pending->DnsLookup("localhost");
        pending.reset();
        PumpQueued();
        EXPECT_TRUE(log.entries.empty());
    }
    EXPECT_EQ(LiveSocketCount(), 1);
    peer::Close(listener);
}

TEST(WSocket, FreeLaterAndCloseLaterActFromTheMessageLoop)
{
    int port = 0;
    int listener = peer::Listen(port);
    EventLog log;
    auto* socket = new TCustomWSocket;
    socket->SetMultiThreaded(true);
    log.Attach(*socket);
    socket->OnSessionClosed = [&](TCustomWSocket* sender, WORD error) {
        log.Add("closed", error);
        sender->FreeLater();
    };
    socket->SetAddr("127.0.0.1");
    socket->SetPort(std::to_string(port));
    socket->Connect();
    ASSERT_TRUE(PumpUntil([&] { return socket->State() == S::wsConnected; }));
    socket->CloseLater();
    EXPECT_EQ(socket->State(), S::wsConnected);
    ASSERT_TRUE(PumpUntil([&] { return LiveSocketCount() == 0; }));
    peer::Close(listener);
}

TEST(WSocket, ComponentsOnWorkerThreadsGetTheirEventsThere)
{
    TCustomWSocket keeper;  // keeps the window class and library for all
    int port = 0;
    int listener = peer::Listen(port);
    auto worker = [port](DWORD& eventThread, DWORD& ownThread) {
        ownThread = GetCurrentThreadId();
        TCustomWSocket socket;
        socket.SetMultiThreaded(true);
        socket.OnSessionConnected = [&](TCustomWSocket*, WORD) { eventThread = GetCurrentThreadId(); };
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(port));
        socket.Connect();
        PumpUntil([&] { return eventThread != 0; });
        socket.Close();
    };
    DWORD events1 = 0, own1 = 0, events2 = 0, own2 = 0;
    std::thread a(worker, std::ref(events1), std::ref(own1));
    std::thread b(worker, std::ref(events2), std::ref(own2));
    a.join();
    b.join();
    EXPECT_EQ(events1, own1);
    EXPECT_EQ(events2, own2);
    EXPECT_NE(own1, own2);
    peer::Close(listener);
}
