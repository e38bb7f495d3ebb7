// ctest-labels: threads
// Listening, accepting and datagrams with TCustomWSocket on 127.0.0.1.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/PosixPeer.h"
#include "socket/support/Failures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using S = TSocketState;

}  // namespace

TEST(WSocketListen, StreamListenAcceptAndDup)
{
    EventLog log;
    TCustomWSocket server;
    server.SetMultiThreaded(true);
    log.Attach(server);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"state Closed->Bound", "state Bound->Listening"}));
    EXPECT_EQ(server.SelectEvents(), 43);
    EXPECT_EQ(MessageOf([&] { server.Listen(); }), "Listen: Socket already in use");
    EXPECT_EQ(server.LocalAddrText(), "127.0.0.1");
    int port = std::stoi(server.LocalPortText());

    EventLog servedLog;
    std::unique_ptr<TCustomWSocket> served;
    // A server ignores an announcement that finds nothing to accept.
    server.OnError = [](TCustomWSocket*) {};
    server.OnSessionAvailable = [&](TCustomWSocket* sender, WORD) {
        SOCKET handle = sender->Accept();
        if (handle == INVALID_SOCKET)
            return;
        served = std::make_unique<TCustomWSocket>();
        servedLog.Attach(*served);
        served->Dup(handle);
    };
    int client = peer::Connect(port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(PumpUntil([&] { return served && served->State() == S::wsConnected; }));
    EXPECT_EQ(servedLog.entries.front(), "state Closed->Connected");
    EXPECT_EQ(served->SelectEvents(), 51);
    EXPECT_EQ(served->PeerAddr(), "127.0.0.1");
    EXPECT_EQ(served->AcceptedHandle(), INVALID_SOCKET);
    EXPECT_EQ(server.AcceptedHandle(), served->SocketHandle());

    served->SendText("welcome");
    EXPECT_EQ(peer::Receive(client, 7), "welcome");
    // The adopted socket carries the default linger: an abortive close.
    int fd = peer::FindByLocalPort(port);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(peer::ReadOptions(fd).lingerOn);
    EXPECT_EQ(peer::ReadOptions(fd).lingerSeconds, 0);
    served->Close();
    peer::Close(client);

    // Dup on an open component closes its socket first, without a session end.
    EventLog adopterLog;
    TCustomWSocket adopter;
    adopterLog.Attach(adopter);
    server.OnSessionAvailable = [&](TCustomWSocket* sender, WORD) {
        SOCKET handle = sender->Accept();
        if (handle != INVALID_SOCKET)
            adopter.Dup(handle);
    };
    int second = peer::Connect(port);
    ASSERT_TRUE(PumpUntil([&] { return adopter.State() == S::wsConnected; }));
    adopterLog.entries.clear();
    int third = peer::Connect(port);
    ASSERT_TRUE(PumpUntil([&] { return adopterLog.entries.size() >= 2; }));
    std::vector<std::string> states(adopterLog.entries.begin(), adopterLog.entries.begin() + 2);
    EXPECT_EQ(states, (std::vector<std::string>{"state Connected->Closed", "state Closed->Connected"}));
    EXPECT_FALSE(adopterLog.Has("closed 0"));
    peer::Close(second);
    peer::Close(third);
}

TEST(WSocketListen, ListenRefusals)
{
    TCustomWSocket socket;
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    socket.SetPort("0");
    socket.SetProto("");
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    socket.SetProto("tcp");
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    socket.SetAddr("no-such-host.invalid");
    EXPECT_EQ(MessageOf([&] { socket.Listen(); })
                  .rfind("listen: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'", 0),
              0u);

    // A port that is taken: "Bind", and the socket is given back.
    int port = 0;
    int taken = peer::Listen(port);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(port));
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(socket.State(), S::wsClosed);
    EXPECT_EQ(socket.SocketHandle(), INVALID_SOCKET);
    peer::Close(taken);
}

TEST(WSocketListen, DatagramExchange)
{
    EventLog serverLog;
    TCustomWSocket server;
    server.SetMultiThreaded(true);
    serverLog.Attach(server);
    server.SetProto("udp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(serverLog.entries, (std::vector<std::string>{"state Closed->Bound", "state Bound->Listening",
                                                           "state Listening->Connected", "connected 0"}));
    int port = std::stoi(server.LocalPortText());

    std::string request;
    sockaddr_in from{};
    server.OnDataAvailable = [&](TCustomWSocket* sender, WORD) {
        char buffer[100];
        int length = sizeof from;
        int n = sender->ReceiveDatagram(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&from), &length);
        if (n > 0) {
            request.assign(buffer, static_cast<std::size_t>(n));
            sender->SendDatagram(reinterpret_cast<sockaddr*>(&from), length, "pong", 4);
        }
    };

    EventLog clientLog;
    TCustomWSocket client;
    client.SetMultiThreaded(true);
    clientLog.Attach(client);
    std::string reply;
    client.OnDataAvailable = [&](TCustomWSocket* sender, WORD) { reply += sender->ReceiveText(); };
    client.SetProto("udp");
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(port));
    client.Connect();
    EXPECT_EQ(clientLog.entries, (std::vector<std::string>{"state Closed->Opened", "state Opened->Connected",
                                                           "connected 0"}));
    EXPECT_NE(client.LocalPort(), "0") << "a datagram socket is bound, so the port is known";

    client.SendText("ping");
    ASSERT_TRUE(PumpUntil([&] { return reply == "pong"; }));
    EXPECT_EQ(request, "ping");
    EXPECT_EQ(Winsock::ntohs(from.sin_port), std::stoi(client.LocalPort()));
    EXPECT_EQ(server.ReadCount(), 4);
}

TEST(WSocketListen, BroadcastConnectTurnsBroadcastOn)
{
    EventLog log;
    TCustomWSocket socket;
    log.Attach(socket);
    socket.SetProto("udp");
    socket.SetAddr("255.255.255.255");
    socket.SetPort("9");
    socket.Connect();
    EXPECT_EQ(log.entries.back(), "connected 0");
    int fd = peer::FindByLocalPort(std::stoi(socket.LocalPort()));
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(peer::ReadOptions(fd).broadcast);
    EXPECT_FALSE(peer::ReadOptions(fd).reuseAddr);
}
