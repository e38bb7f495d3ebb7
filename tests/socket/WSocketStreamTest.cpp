// ctest-labels: threads
// Stream connections of TCustomWSocket against real peers on 127.0.0.1:
// a listening component of the same class, or plain POSIX sockets where the
// peer must misbehave on purpose.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/PosixPeer.h"
#include "socket/support/Failures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using S = TSocketState;

// A component connected to a plain peer socket.
struct PeerConnection {
    int listener = -1;
    int port = 0;
    int peer = -1;
    EventLog log;  // outlives the component, whose destruction still logs
    TCustomWSocket client;

    PeerConnection()
    {
        listener = peer::Listen(port);
        client.SetMultiThreaded(true);
        log.Attach(client);
    }
    ~PeerConnection()
    {
        peer::Close(peer);
        peer::Close(listener);
    }
    void Open()
    {
        client.SetAddr("127.0.0.1");
        client.SetPort(std::to_string(port));
        client.Connect();
        peer = peer::Accept(listener);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(PumpUntil([&] { return client.State() == S::wsConnected; })) << Events();
    }
    std::string Events() const
    {
        std::string text;
        for (const std::string& entry : log.entries)
            text += entry + "; ";
        return text;
    }
};

// Reads `chunk` bytes per OnDataAvailable call and remembers each count.
struct Reader {
    std::string data;
    std::vector<int> calls;
    int chunk = 4096;

    void Attach(TCustomWSocket& socket, EventLog* log = nullptr)
    {
        socket.OnDataAvailable = [this, log](TCustomWSocket* sender, WORD) {
            std::string buffer(static_cast<std::size_t>(chunk), '\0');
            int n = sender->Receive(buffer.data(), chunk);
            calls.push_back(n);
            if (n > 0)
                data.append(buffer, 0, static_cast<std::size_t>(n));
            if (log)
                log->Add("data", n);
        };
    }
};

std::string Pattern(std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

}  // namespace

TEST(WSocketStream, ConversationEventsInOrder)
{
    TCustomWSocket listener;
    listener.SetMultiThreaded(true);
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.Listen();
    ASSERT_EQ(listener.State(), S::wsListening);
    std::string port = listener.LocalPortText();

    std::unique_ptr<TCustomWSocket> served;
    Reader serverReader;
    // A server ignores an announcement that finds nothing to accept.
    listener.OnError = [](TCustomWSocket*) {};
    listener.OnSessionAvailable = [&](TCustomWSocket* sender, WORD error) {
        EXPECT_EQ(error, 0);
        SOCKET handle = sender->Accept();
        if (handle == INVALID_SOCKET)
            return;
        served = std::make_unique<TCustomWSocket>();
        served->SetMultiThreaded(true);
        serverReader.Attach(*served);
        served->Dup(handle);
    };

    EventLog log;
    Reader clientReader;
    TCustomWSocket client;
    client.SetMultiThreaded(true);
    log.Attach(client);
    clientReader.Attach(client, &log);
    TSocketState stateAtClose = S::wsInvalidState;
    client.OnSessionClosed = [&](TCustomWSocket* sender, WORD error) {
        stateAtClose = sender->State();
        log.Add("closed", error);
    };

    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"state Closed->Opened", "state Opened->Connecting"}));
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0") && served; }));
    EXPECT_EQ(log.entries[2], "state Connecting->Connected");
    EXPECT_EQ(log.entries[3], "connected 0");
    EXPECT_EQ(served->State(), S::wsConnected);
    EXPECT_EQ(served->PeerAddr(), "127.0.0.1");
    EXPECT_EQ(served->PeerPort(), client.LocalPortText());
    EXPECT_EQ(listener.SockAddr().sin_port, Winsock::htons(std::stoi(client.LocalPortText())));
    EXPECT_EQ(client.PeerPort(), port);

    // OnSendData inside Send, OnDataSent later from the message loop.
    std::size_t mark = log.entries.size();
    EXPECT_EQ(client.SendText("hello"), 5);
    EXPECT_EQ(log.From(mark), (std::vector<std::string>{"senddata 5"}));
    ASSERT_TRUE(PumpUntil([&] { return log.From(mark).size() == 2 && serverReader.data == "hello"; }));
    PumpQueued();
    EXPECT_EQ(log.From(mark), (std::vector<std::string>{"senddata 5", "sent 0"}));

    // The server ends the conversation in order after a last reply.
    served->SetLingerOnOff(TSocketLingerOnOff::wsLingerOff);
    served->ApplyLinger();
    served->SendText("bye");
    served->Flush();
    served->Close();
    ASSERT_TRUE(PumpUntil([&] { return client.State() == S::wsClosed; }));
    EXPECT_EQ(clientReader.data, "bye");
    EXPECT_EQ(stateAtClose, S::wsConnected);
    std::vector<std::string> tail(log.entries.end() - 2, log.entries.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"closed 0", "state Connected->Closed"}));
    EXPECT_EQ(client.ReadCount(), 0) << "reset at close";
}

TEST(WSocketStream, RefusedConnectionClosesItself)
{
    int port = 0;
    peer::Close(peer::Listen(port));  // nobody listens there any more

    EventLog log;
    TCustomWSocket client;
    client.SetMultiThreaded(true);
    log.Attach(client);
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(port));
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"state Closed->Opened", "state Opened->Connecting",
                                                     "state Connecting->Connected", "connected 10061",
                                                     "state Connected->Closed", "closed 0"}));
    EXPECT_EQ(client.SocketHandle(), INVALID_SOCKET);
}

TEST(WSocketStream, PeerClosingDeliversAllWaitingDataFirst)
{
    for (bool noLoop : {false, true}) {
        PeerConnection c;
        if (noLoop)
            c.client.SetComponentOptions({TWSocketOption::wsoNoReceiveLoop});
        Reader reader;
        reader.Attach(c.client, &c.log);
        c.Open();
        std::string payload = Pattern(200000);
        std::thread writer([&] {
            peer::SendAll(c.peer, payload);
            peer::Close(c.peer);
            c.peer = -1;
        });
        bool closed = PumpUntil([&] { return c.client.State() == S::wsClosed; }, 10000);
        writer.join();
        ASSERT_TRUE(closed);
        EXPECT_EQ(reader.data.size(), payload.size()) << "noLoop " << noLoop;
        EXPECT_TRUE(reader.data == payload);
        auto closedAt = std::find(c.log.entries.begin(), c.log.entries.end(), "closed 0");
        ASSERT_NE(closedAt, c.log.entries.end());
        // Nothing but the end-of-stream read after the close event.
        for (auto it = closedAt; it != c.log.entries.end(); ++it)
            EXPECT_TRUE(it->rfind("data", 0) != 0 || *it == "data 0") << *it;
    }
}

TEST(WSocketStream, ReceiveLoopOfferedUntilNothingWaits)
{
    PeerConnection c;
    Reader reader;
    reader.Attach(c.client);
    c.Open();
    // With events paused the bytes pile up; one FD_READ then delivers them.
    c.client.SuspendEvents();
    peer::SendAll(c.peer, Pattern(10000));
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 10000; }));
    c.client.ResumeEvents();
    // One message gives all three calls.
    ASSERT_TRUE(PumpSinglyUntil([&] { return !reader.calls.empty(); }));
    EXPECT_EQ(reader.calls, (std::vector<int>{4096, 4096, 1808}));
    EXPECT_EQ(c.client.ReadCount(), 10000);
    // The FD_READs that the loop's receives left behind find nothing and
    // raise nothing: the next call is the next data's.
    peer::SendAll(c.peer, Pattern(100));
    ASSERT_TRUE(PumpUntil([&] { return c.client.ReadCount() == 10100; }));
    EXPECT_EQ(reader.calls, (std::vector<int>{4096, 4096, 1808, 100}));
}

TEST(WSocketStream, NoReceiveLoopGivesOneCallPerEvent)
{
    PeerConnection c;
    c.client.SetComponentOptions({TWSocketOption::wsoNoReceiveLoop});
    Reader reader;
    reader.Attach(c.client);
    c.Open();
    c.client.SuspendEvents();
    peer::SendAll(c.peer, Pattern(10000));
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 10000; }));
    c.client.ResumeEvents();
    // Message by message: the first event gives exactly one call.
    ASSERT_TRUE(PumpSinglyUntil([&] { return !reader.calls.empty(); }));
    ASSERT_EQ(reader.calls.size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return reader.data.size() == 10000; }));
    std::vector<int> reads;
    std::copy_if(reader.calls.begin(), reader.calls.end(), std::back_inserter(reads), [](int n) { return n > 0; });
    EXPECT_EQ(reads, (std::vector<int>{4096, 4096, 1808}));
}

TEST(WSocketStream, WithoutHandlerDataIsDiscarded)
{
    PeerConnection c;
    c.Open();
    c.client.SuspendEvents();
    peer::SendAll(c.peer, Pattern(5000));
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 5000; }));
    c.client.ResumeEvents();
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 0; }));
    EXPECT_EQ(c.client.ReadCount(), 0);
    EXPECT_EQ(c.client.State(), S::wsConnected);
}

TEST(WSocketStream, RaisingDataHandlerEndsTheLoopSilently)
{
    PeerConnection c;
    int calls = 0;
    int bgExceptions = 0;
    c.client.OnDataAvailable = [&](TCustomWSocket* sender, WORD) {
        char buffer[100];
        sender->Receive(buffer, sizeof buffer);
        ++calls;
        throw std::runtime_error("handler failed");
    };
    c.client.OnBgException = [&](TCustomWSocket*, const std::exception&, bool&) { ++bgExceptions; };
    c.Open();
    c.client.SuspendEvents();
    peer::SendAll(c.peer, Pattern(1000));
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 1000; }));
    c.client.ResumeEvents();
    // The event's loop stops at the exception although data still waits.
    ASSERT_TRUE(PumpSinglyUntil([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(c.client.RcvdCount(), 900);
    // Later events go on offering the rest; nothing is reported.
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 0; }));
    EXPECT_EQ(bgExceptions, 0);
    EXPECT_EQ(c.client.State(), S::wsConnected);
}

TEST(WSocketStream, SendsInBlocksAndResumesOnWriteEvents)
{
    PeerConnection c;
    c.Open();
    ASSERT_TRUE(PumpUntil([&] { return c.log.Has("sent 0"); }));  // the first FD_WRITE

    // A send that the system takes at once: three blocks, three reports.
    std::size_t mark = c.log.entries.size();
    EXPECT_EQ(c.client.Send(Pattern(3000).data(), 3000), 3000);
    EXPECT_EQ(c.log.From(mark), (std::vector<std::string>{"senddata 1460", "senddata 1460", "senddata 80"}));
    EXPECT_EQ(peer::Receive(c.peer, 3000), Pattern(3000));
    ASSERT_TRUE(PumpUntil([&] { return c.log.From(mark).size() == 4; }));
    EXPECT_EQ(c.log.entries.back(), "sent 0");

    // A send larger than the system takes: the rest goes out on FD_WRITE.
    const std::size_t size = 8 * 1024 * 1024;
    std::string payload = Pattern(size);
    long long reported = 0;
    c.client.OnSendData = [&](TCustomWSocket*, std::int32_t n) { reported += n; };
    mark = c.log.entries.size();
    EXPECT_EQ(c.client.Send(payload.data(), static_cast<std::int32_t>(size)), static_cast<std::int32_t>(size));
    EXPECT_FALSE(c.client.AllSent());
    EXPECT_LT(reported, static_cast<long long>(size));
    std::string received;
    std::thread reader([&] { received = peer::Receive(c.peer, size, 10000); });
    bool sent = PumpUntil([&] { return c.log.Has("sent 0") && c.log.From(mark).size() == 1; }, 15000);
    reader.join();
    ASSERT_TRUE(sent) << ::testing::PrintToString(c.log.From(mark)) << ", " << reported << " bytes taken, "
                      << received.size() << " received";
    EXPECT_EQ(reported, static_cast<long long>(size));
    EXPECT_EQ(c.log.From(mark), (std::vector<std::string>{"sent 0"}));
    EXPECT_TRUE(received == payload);
}

TEST(WSocketStream, SendDataHandlerThatClosesEndsTheSend)
{
    PeerConnection c;
    c.Open();
    c.client.OnSendData = [](TCustomWSocket* sender, std::int32_t) { sender->Close(); };
    // Two blocks: the second must not go out on the closed handle.
    const std::string data = Pattern(3000);
    c.client.Send(data.data(), static_cast<std::int32_t>(data.size()));
    PumpQueued();
    std::vector<std::string> closes;
    std::copy_if(c.log.entries.begin(), c.log.entries.end(), std::back_inserter(closes),
                 [](const std::string& entry) { return entry.rfind("closed", 0) == 0; });
    EXPECT_EQ(closes, (std::vector<std::string>{"closed 0"}));
    EXPECT_EQ(c.client.State(), S::wsClosed);
}

TEST(WSocketStream, UrgentSendFlagsGoOutOfBand)
{
    PeerConnection c;
    c.Open();
    c.client.SetSendFlags(TSocketSendFlags::wsSendUrgent);
    c.client.SendText("!");
    EXPECT_EQ(peer::ReceiveUrgent(c.peer), "!");
    c.client.SetSendFlags(TSocketSendFlags::wsSendNormal);
    c.client.SendText("ok");
    EXPECT_EQ(peer::Receive(c.peer, 2), "ok");
}

TEST(WSocketStream, FlushWaitsForTheQueueAndEndsOnAnEmptySend)
{
    PeerConnection c;
    c.Open();
    // A zero-byte send queues nothing; Flush must not wait for it.
    EXPECT_EQ(c.client.Send(nullptr, 0), 0);
    c.client.Flush();
    EXPECT_TRUE(c.client.AllSent());

    // Both pumps: this thread's own, and the application-wide one.
    for (bool multiThreaded : {true, false}) {
        c.client.SetMultiThreaded(multiThreaded);
        const std::size_t size = 4 * 1024 * 1024;
        std::string payload = Pattern(size);
        std::string received;
        std::thread reader([&] { received = peer::Receive(c.peer, size, 10000); });
        c.client.Send(payload.data(), static_cast<std::int32_t>(size));
        c.client.Flush();
        EXPECT_TRUE(c.client.AllSent());
        reader.join();
        EXPECT_TRUE(received == payload);
    }
}

TEST(WSocketStream, CloseKeepsQueuedDataAndAbortDropsIt)
{
    const std::size_t size = 16 * 1024 * 1024;  // more than the system takes at once
    std::string payload = Pattern(size);
    {
        PeerConnection c;
        c.Open();
        c.client.Send(payload.data(), static_cast<std::int32_t>(size));
        ASSERT_GT(c.client.SendQueueBlockCount(), 1u);
        std::size_t mark = c.log.entries.size();
        c.client.Close();
        EXPECT_EQ(c.log.From(mark), (std::vector<std::string>{"state Connected->Closed", "closed 0"}));
        EXPECT_GT(c.client.SendQueueBlockCount(), 1u);
        c.client.Close();  // a second close fires nothing
        EXPECT_EQ(c.log.From(mark).size(), 2u);
    }
    {
        PeerConnection c;
        c.Open();
        c.client.Send(payload.data(), static_cast<std::int32_t>(size));
        std::size_t mark = c.log.entries.size();
        c.client.SetLingerTimeout(70000);  // unusable, but unused by an orderly close
        c.client.Abort();
        EXPECT_EQ(c.log.From(mark), (std::vector<std::string>{"state Connected->Closed", "closed 0"}));
        EXPECT_EQ(c.client.SendQueueBlockCount(), 0u);
        std::string received = peer::ReceiveToEnd(c.peer);
        EXPECT_LT(received.size(), size);
    }
}

TEST(WSocketStream, ResetValuesAfterClose)
{
    PeerConnection c;
    c.client.SetComponentOptions({TWSocketOption::wsoTcpNoDelay});
    c.client.SetLocalPort("0");
    c.client.SetLingerTimeout(3);
    c.client.SetFlushTimeout(5);
    c.client.SetSendFlags(TSocketSendFlags::wsSendUrgent);
    c.Open();
    c.client.Close();
    EXPECT_EQ(c.client.Proto(), "tcp");
    EXPECT_EQ(c.client.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(c.client.LocalPort(), "0");
    EXPECT_EQ(c.client.LingerOnOff(), TSocketLingerOnOff::wsLingerOn);
    EXPECT_EQ(c.client.LingerTimeout(), 0);
    EXPECT_EQ(c.client.FlushTimeout(), 60);
    EXPECT_EQ(c.client.SelectEvents(), 0);
    EXPECT_TRUE(c.client.AllSent());
    EXPECT_FALSE(c.client.Paused());
    // Kept: texts, options, pump choice, send flags.
    EXPECT_EQ(c.client.Addr(), "127.0.0.1");
    EXPECT_EQ(c.client.Port(), std::to_string(c.port));
    EXPECT_TRUE(c.client.MultiThreaded());
    EXPECT_TRUE(c.client.ComponentOptions().Contains(TWSocketOption::wsoTcpNoDelay));
    EXPECT_EQ(c.client.SendFlags(), TSocketSendFlags::wsSendUrgent);
    // Addr and Port must be given again.
    EXPECT_EQ(MessageOf([&] { c.client.Connect(); }), "Connect: No Port Specified");
    c.client.SetPort(std::to_string(c.port));
    EXPECT_EQ(MessageOf([&] { c.client.Connect(); }), "Connect: No IP Address Specified");
}

TEST(WSocketStream, OptionsAsTheSystemSeesThem)
{
    PeerConnection c;
    c.client.SetComponentOptions({TWSocketOption::wsoTcpNoDelay});
    c.Open();
    int fd = peer::FindByLocalPort(std::stoi(c.client.LocalPortText()));
    ASSERT_GE(fd, 0);
    peer::Options options = peer::ReadOptions(fd);
    EXPECT_TRUE(options.reuseAddr);
    EXPECT_TRUE(options.keepAlive);
    EXPECT_TRUE(options.noDelay);
    EXPECT_TRUE(options.lingerOn);
    EXPECT_EQ(options.lingerSeconds, 0);

    PeerConnection plain;
    plain.client.SetLingerOnOff(TSocketLingerOnOff::wsLingerNoSet);
    plain.Open();
    fd = peer::FindByLocalPort(std::stoi(plain.client.LocalPortText()));
    ASSERT_GE(fd, 0);
    options = peer::ReadOptions(fd);
    EXPECT_FALSE(options.noDelay);
    EXPECT_FALSE(options.lingerOn);
}

TEST(WSocketStream, BindsOnlyWhenALocalAddressOrPortIsGiven)
{
    PeerConnection c;
    c.client.SetLocalAddr("127.0.0.1");
    c.Open();
    EXPECT_NE(c.client.LocalPort(), "0");
    EXPECT_EQ(c.client.LocalPort(), c.client.LocalPortText());
    EXPECT_EQ(c.client.LocalAddrText(), "127.0.0.1");
}

TEST(WSocketStream, StaleAndPausedEventsAreIgnored)
{
    PeerConnection c;
    c.Open();
    SOCKET first = c.client.SocketHandle();
    auto post = [&](SOCKET handle, long event) {
        PostMessageA(c.client.WindowHandle(), MSG_SOCKET_EVENT, handle, WSAMAKESELECTREPLY(WORD(event), 0));
        PumpQueued();
    };
    post(first + 1000, FD_CLOSE);
    EXPECT_EQ(c.client.State(), S::wsConnected);

    c.client.SuspendEvents();
    post(first, FD_CLOSE);
    EXPECT_EQ(c.client.State(), S::wsConnected);
    c.client.ResumeEvents();

    // After a close and a new connection the old handle's events are stale.
    c.client.Close();
    peer::Close(c.peer);
    c.peer = -1;
    // Windows hands a closed socket's number out again at once: held by
    // another socket, it cannot become the new connection's number.
    int holderPort = 0;
    int holder = peer::BindUdp(holderPort);
    c.Open();
    ASSERT_NE(c.client.SocketHandle(), first);
    post(first, FD_CLOSE);
    EXPECT_EQ(c.client.State(), S::wsConnected);
    peer::Close(holder);

    post(c.client.SocketHandle(), FD_CLOSE);
    EXPECT_EQ(c.client.State(), S::wsClosed);
}

TEST(WSocketStream, CloseEventWhileConnectingIsIgnored)
{
    PeerConnection c;
    c.client.SetAddr("127.0.0.1");
    c.client.SetPort(std::to_string(c.port));
    c.client.Connect();
    ASSERT_EQ(c.client.State(), S::wsConnecting);
    // Handled at once, before the connection's own events.
    SocketWindowProc(c.client.WindowHandle(), MSG_SOCKET_EVENT, c.client.SocketHandle(),
                     WSAMAKESELECTREPLY(FD_CLOSE, 0));
    EXPECT_EQ(c.client.State(), S::wsConnecting);
    ASSERT_TRUE(PumpUntil([&] { return c.log.Has("connected 0"); }));
    EXPECT_FALSE(c.log.Has("closed 0"));
    EXPECT_EQ(c.client.State(), S::wsConnected);
}

TEST(WSocketStream, BackgroundExceptionsAbortUnlessDeclined)
{
    for (bool decline : {false, true}) {
        PeerConnection c;
        std::string seen;
        c.client.OnSessionConnected = [&](TCustomWSocket*, WORD) { throw ESocketException("connected handler"); };
        c.client.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
            seen = e.what();
            if (decline)
                canClose = false;
        };
        c.client.SetAddr("127.0.0.1");
        c.client.SetPort(std::to_string(c.port));
        c.client.Connect();
        ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
        EXPECT_EQ(seen, "connected handler");
        EXPECT_EQ(c.client.State(), decline ? S::wsConnected : S::wsClosed);
    }
}

TEST(WSocketStream, TestMessageAndRaisingBgHandlerStillAbort)
{
    PeerConnection c;
    c.Open();
    std::string seen;
    c.client.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool&) {
        seen = e.what();
        throw std::runtime_error("handler failed too");
    };
    PostMessageA(c.client.WindowHandle(), MSG_TEST_EXCEPTION, 0, 0);
    PumpQueued();
    EXPECT_EQ(seen, "Test exception in WSocket");
    EXPECT_EQ(c.client.State(), S::wsClosed);
    EXPECT_TRUE(c.log.Has("closed 0"));
    EXPECT_TRUE(peer::SawOrderlyEnd(c.peer)) << "Abort ends in order";
}

TEST(WSocketStream, DrainUntilClosedEndsWhenThePeerHasClosed)
{
    PeerConnection c;
    Reader reader;
    reader.Attach(c.client);
    c.Open();
    peer::SendAll(c.peer, "last words");
    peer::Close(c.peer);
    c.peer = -1;
    c.client.DrainUntilClosed();
    EXPECT_EQ(reader.data, "last words");
}

TEST(WSocketStream, ReceiveTextAndEndOfStream)
{
    PeerConnection c;
    c.Open();
    EXPECT_EQ(c.client.ReceiveText(), "");
    EXPECT_EQ(c.client.LastError(), WSAEWOULDBLOCK);
    c.client.SuspendEvents();
    peer::SendAll(c.peer, "abc");
    ASSERT_TRUE(PumpUntil([&] { return c.client.RcvdCount() == 3; }));
    EXPECT_EQ(c.client.ReceiveText(), "abc");
    peer::Close(c.peer);
    c.peer = -1;
    char buffer[8];
    ASSERT_TRUE(PumpUntil([&] { return c.client.Receive(buffer, sizeof buffer) == 0; }));
    EXPECT_EQ(c.client.ReadCount(), 3);
}

TEST(WSocketStream, SendOutsideAConnectionClosesAndReports)
{
    EventLog log;
    TCustomWSocket idle;
    log.Attach(idle);
    EXPECT_EQ(MessageOf([&] { idle.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"state Closed->Closed"}));

    PeerConnection c;
    int errors = 0;
    c.client.OnError = [&](TCustomWSocket*) { ++errors; };
    c.client.SetAddr("127.0.0.1");
    c.client.SetPort(std::to_string(c.port));
    c.client.Connect();
    ASSERT_EQ(c.client.State(), S::wsConnecting);
    EXPECT_EQ(c.client.Send("x", 1), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(c.client.LastError(), WSAENOTCONN);
    EXPECT_EQ(c.client.State(), S::wsClosed);
    EXPECT_TRUE(c.log.Has("closed 10057"));
    EXPECT_EQ(c.client.SocketHandle(), INVALID_SOCKET);
}

TEST(WSocketStream, ConnectRefusals)
{
    TCustomWSocket socket;
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No Port Specified");
    socket.SetPort("80");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No IP Address Specified");
    socket.SetAddr("127.0.0.1");
    socket.SetProto("");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No Protocol Specified");
    socket.SetProto("nosuchproto");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); })
                  .rfind("connect: WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #", 0),
              0u);
    EXPECT_EQ(socket.SocketHandle(), INVALID_SOCKET);
    socket.SetLingerTimeout(70000);
    socket.SetProto("tcp");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Invalid LingerTimeout");
    socket.Abort();

    PeerConnection c;
    c.Open();
    EXPECT_EQ(MessageOf([&] { c.client.Connect(); }), "Connect: Socket already in use");

    // A handler that closes the socket while Connect opens it.
    TCustomWSocket meddled;
    meddled.OnChangeState = [](TCustomWSocket* sender, TSocketState, TSocketState to) {
        if (to == S::wsOpened)
            sender->Close();
    };
    meddled.SetAddr("127.0.0.1");
    meddled.SetPort(std::to_string(c.port));
    EXPECT_EQ(MessageOf([&] { meddled.Connect(); }),
              "Error 10022 in function Connect (Invalid operation in OnChangeState)\r\nInvalid argument");
    EXPECT_EQ(meddled.State(), S::wsClosed);
    EXPECT_EQ(meddled.SocketHandle(), INVALID_SOCKET);
}
