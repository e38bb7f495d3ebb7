// ctest-labels: threads
// The Windows Sockets library on real loopback sockets, its events
// delivered to a real window through the platform's queues. On Windows the
// system's own library passes the same tests.
#include "support/PosixPeer.h"
#include "support/TestWindow.h"
#include "support/WineQuirks.h"
#include "support/WinsockModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr UINT kOtherMessage = WM_USER + 7;
constexpr UINT kSentinelMessage = WM_USER + 50;
constexpr const char* kEventThread = "wsock32 events";
constexpr long kConnectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

struct Event {
    WORD event;
    WORD error;
};

// The Linux library's event thread; the system's library on Windows has
// none of its own to count.
void ExpectEventThreads([[maybe_unused]] int count)
{
#ifndef _WIN32
    EXPECT_EQ(posix::ThreadCount(kEventThread), count);
#endif
}

class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(ws.Module, nullptr) << "cannot load " << WinsockModulePath();
        WSADATA data;
        ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
        // A datagram socket whose FD_READ marks a point in the event stream:
        // once it is seen, every event due before it has been posted too.
        m_Sentinel = ws.socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any = LoopbackAddress(0);
        ASSERT_EQ(ws.bind(m_Sentinel, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
        m_SentinelPort = LocalPort(m_Sentinel);
        ASSERT_EQ(ws.WSAAsyncSelect(m_Sentinel, window.Handle(), kSentinelMessage, FD_READ), 0);
    }

    void TearDown() override { EXPECT_EQ(ws.WSACleanup(), 0); }

    u_short LocalPort(SOCKET s)
    {
        sockaddr_in bound;
        int length = sizeof bound;
        EXPECT_EQ(ws.getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length), 0);
        return ws.ntohs(bound.sin_port);
    }

    std::vector<Event> Events(SOCKET s, UINT message = kSocketMessage) const
    {
        std::vector<Event> events;
        for (const MSG& msg : window.Received())
            if (msg.message == message && msg.wParam == s)
                events.push_back({WSAGETSELECTEVENT(msg.lParam), WSAGETSELECTERROR(msg.lParam)});
        return events;
    }

    int Count(SOCKET s, long event, UINT message = kSocketMessage) const
    {
        auto events = Events(s, message);
        return static_cast<int>(std::count_if(events.begin(), events.end(), [&](Event e) { return e.event == event; }));
    }

    // Waits for one more `event` of `s` than had been seen; returns its error, or -1.
    int WaitEvent(SOCKET s, long event, int seen = 0, UINT message = kSocketMessage)
    {
        if (!PumpMessagesUntil([&] { return Count(s, event, message) > seen; }, std::chrono::seconds(5)))
            return -1;
        for (Event e : Events(s, message))
            if (e.event == event && seen-- == 0)
                return e.error;
        return -1;
    }

    // Returns once every event due before the call has been dispatched.
    void Settle()
    {
        const auto sentinels = [&] {
            return std::count_if(window.Received().begin(), window.Received().end(),
                                 [](const MSG& msg) { return msg.message == kSentinelMessage; });
        };
        const auto before = sentinels();
        ASSERT_TRUE(posix::SendUdp(m_SentinelPort, "x"));
        ASSERT_TRUE(PumpMessagesUntil([&] { return sentinels() > before; }, std::chrono::seconds(5)));
        char byte;
        ws.recvfrom(m_Sentinel, &byte, 1, 0, nullptr, nullptr);
    }

    // A stream socket of the library connected to a POSIX peer.
    std::pair<SOCKET, int> ConnectToPeer(long mask = kConnectMask)
    {
        std::uint16_t port = 0;
        int listener = posix::Listen(port);
        SOCKET s = ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(ws.WSAAsyncSelect(s, window.Handle(), kSocketMessage, mask), 0);
        sockaddr_in to = LoopbackAddress(port);
        EXPECT_EQ(ws.connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
        EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
        int peer = posix::Accept(listener);
        posix::Close(listener);
        EXPECT_GE(peer, 0);
        if (mask & FD_CONNECT) {
            EXPECT_EQ(WaitEvent(s, FD_CONNECT), 0);
        }
        return {s, peer};
    }

    int Recv(SOCKET s, std::string& into, int count)
    {
        std::string buffer(static_cast<std::size_t>(count), '\0');
        int got = ws.recv(s, buffer.data(), count, 0);
        if (got > 0)
            into.append(buffer.data(), static_cast<std::size_t>(got));
        return got;
    }

    const TWinsock& ws = Winsock();
    TTestWindow window;
    SOCKET m_Sentinel = INVALID_SOCKET;
    std::uint16_t m_SentinelPort = 0;
};

TEST(WinsockModule, ExportsWindowsNamesWithoutTakingThemFromTheProgram)
{
#ifndef _WIN32
    const void* programSocketBefore = posix::ProgramSocketFunction();
#endif
    const TWinsock& ws = Winsock();
    ASSERT_NE(ws.Module, nullptr) << "cannot load " << WinsockModulePath();
    for (const char* name :
         {"WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSAAsyncSelect", "WSAAsyncGetHostByName",
          "WSAAsyncGetHostByAddr", "WSACancelAsyncRequest", "gethostbyname", "getservbyname", "getprotobyname",
          "socket", "bind", "connect", "listen", "accept", "send", "sendto", "recv", "recvfrom", "shutdown",
          "closesocket", "setsockopt", "ioctlsocket", "getsockname", "getpeername", "htons", "ntohs", "inet_addr",
          "inet_ntoa"})
        EXPECT_NE(WinsockExport(name), nullptr) << name;
#ifndef _WIN32
    // Loaded with local scope, the module's socket() is not the program's.
    EXPECT_EQ(posix::ProgramSocketFunction(), programSocketBefore);
    EXPECT_NE(posix::ProgramSocketFunction(), reinterpret_cast<void*>(ws.socket));
    EXPECT_TRUE(posix::ProgramSocketWorks());
#endif
}

TEST(WinsockModule, CallsOutsideStartupFailAndErrorsArePerThread)
{
    const TWinsock& ws = Winsock();
    ASSERT_NE(ws.Module, nullptr);
#ifdef _WIN32
    posix::TPeerSocketsPause notStarted;
#endif
    EXPECT_EQ(ws.socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(ws.WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(ws.gethostbyname("localhost"), nullptr);
    EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);

    // Versions are major in the low byte, minor in the high one.
    WSADATA data;
    EXPECT_EQ(ws.WSAStartup(0x0100, &data), WSAVERNOTSUPPORTED);  // 0.1
    ASSERT_EQ(ws.WSAStartup(0x0001, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0001);
    EXPECT_EQ(ws.WSACleanup(), 0);
    ExpectEventThreads(0);
    ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
    ExpectEventThreads(1);
    EXPECT_EQ(data.wVersion, 0x0101);
    // A later version than the library's highest is served as that.
    ASSERT_EQ(ws.WSAStartup(0x0303, &data), 0);
    EXPECT_EQ(data.wVersion, data.wHighVersion);

    // Each thread its own error, read back before any other call could
    // change it (on Windows, thread start and join do).
    std::atomic<int> stage{0};
    int otherThread = 0;
    std::thread other([&] {
        ws.WSASetLastError(WSAEINTR);
        stage = 1;
        while (stage != 2) {
        }
        otherThread = ws.WSAGetLastError();
    });
    while (stage != 1) {
    }
    ws.WSASetLastError(WSAECONNRESET);
    const int mainThread = ws.WSAGetLastError();
    stage = 2;
    other.join();
    EXPECT_EQ(otherThread, WSAEINTR);
    EXPECT_EQ(mainThread, WSAECONNRESET);

    // Started twice: the first clean-up leaves it running.
    EXPECT_EQ(ws.WSACleanup(), 0);
    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    ExpectEventThreads(1);
    EXPECT_EQ(ws.WSACleanup(), 0);
    ExpectEventThreads(0);
    EXPECT_EQ(ws.closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(WinsockTest, ConnectAcceptReadWriteAndCloseFollowTheReenablingRules)
{
    SOCKET listener = ws.socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = LoopbackAddress(0);
    ASSERT_EQ(ws.bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws.listen(listener, 5), 0);
    ASSERT_EQ(ws.WSAAsyncSelect(listener, window.Handle(), kSocketMessage, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE),
              0);

    SOCKET client = ws.socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws.WSAAsyncSelect(client, window.Handle(), kSocketMessage, kConnectMask), 0);
    sockaddr_in to = LoopbackAddress(LocalPort(listener));
    ASSERT_EQ(ws.connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(WaitEvent(client, FD_CONNECT), 0);
    EXPECT_EQ(WaitEvent(client, FD_WRITE), 0);
    EXPECT_EQ(WaitEvent(listener, FD_ACCEPT), 0);

    // A second pending connection posts no second FD_ACCEPT until accept.
    int secondPeer = posix::Connect(LocalPort(listener));
    Settle();
    EXPECT_EQ(Count(listener, FD_ACCEPT), 1);

    sockaddr_in peer;
    int peerLength = sizeof peer;
    SOCKET server = ws.accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    ASSERT_NE(server, INVALID_SOCKET);
    EXPECT_EQ(peerLength, 16);
    EXPECT_EQ(ws.ntohs(peer.sin_port), LocalPort(client));
    // Accepted sockets take the listener's registration: their FD_WRITE comes at once.
    EXPECT_EQ(WaitEvent(server, FD_WRITE), 0);
    // accept re-enabled FD_ACCEPT, and a connection is still waiting.
    EXPECT_EQ(WaitEvent(listener, FD_ACCEPT, 1), 0);
    posix::Close(secondPeer);

    // FD_READ once per arrival until recv is called.
    ASSERT_EQ(ws.send(client, "hello", 5, 0), 5);
    EXPECT_EQ(WaitEvent(server, FD_READ), 0);
    ASSERT_EQ(ws.send(client, " world", 6, 0), 6);
    Settle();
    EXPECT_EQ(Count(server, FD_READ), 1);
    std::string received;
    ASSERT_EQ(Recv(server, received, 4), 4);  // data still waits: FD_READ again
    EXPECT_EQ(WaitEvent(server, FD_READ, 1), 0);
    u_long waiting = 0;
    ASSERT_EQ(ws.ioctlsocket(server, FIONREAD, &waiting), 0);
    ASSERT_EQ(Recv(server, received, static_cast<int>(waiting)), static_cast<int>(waiting));
    EXPECT_EQ(received, "hello world");
    Settle();
    EXPECT_EQ(Count(server, FD_READ), 2);
    // Once drained, the next arrival posts FD_READ again, and so does a
    // receive that leaves some of it.
    ASSERT_EQ(ws.send(client, "!?", 2, 0), 2);
    EXPECT_EQ(WaitEvent(server, FD_READ, 2), 0);
    EXPECT_EQ(Recv(server, received, 1), 1);
    EXPECT_EQ(WaitEvent(server, FD_READ, 3), 0);
    EXPECT_EQ(Recv(server, received, 1), 1);
    // FD_WRITE only once per connection while no send was refused.
    EXPECT_EQ(Count(client, FD_WRITE), 1);

    // Graceful close by the peer: FD_CLOSE once, error 0.
    ASSERT_EQ(ws.shutdown(client, SD_SEND), 0);
    EXPECT_EQ(WaitEvent(server, FD_CLOSE), 0);
    char byte;
    EXPECT_EQ(ws.recv(server, &byte, 1, 0), 0);
    Settle();
    EXPECT_EQ(Count(server, FD_CLOSE), 1);
    EXPECT_EQ(Count(server, FD_READ), 4);
    // The half-closed peer still receives.
    ASSERT_EQ(ws.send(server, "bye", 3, 0), 3);
    EXPECT_EQ(WaitEvent(client, FD_READ), 0);
    std::string reply;
    EXPECT_EQ(Recv(client, reply, 16), 3);
    EXPECT_EQ(reply, "bye");

    EXPECT_EQ(ws.closesocket(server), 0);
    EXPECT_EQ(ws.closesocket(client), 0);
    EXPECT_EQ(ws.closesocket(listener), 0);
}

TEST_F(WinsockTest, FailedConnectsAreReportedByFdConnectAlone)
{
    std::uint16_t refusing = 0;
    int reserved = posix::ReservePort(refusing);
    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws.WSAAsyncSelect(s, window.Handle(), kSocketMessage, kConnectMask), 0);
    sockaddr_in to = LoopbackAddress(refusing);
    ASSERT_EQ(ws.connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(WaitEvent(s, FD_CONNECT), WSAECONNREFUSED);
    Settle();
    EXPECT_EQ(Events(s).size(), 1u);
    EXPECT_EQ(ws.closesocket(s), 0);
    posix::Close(reserved);
}

TEST_F(WinsockTest, DataBeforeAGracefulCloseIsKeptAndAResetIsReportedAsSuch)
{
    auto [graceful, gracefulPeer] = ConnectToPeer();
    ASSERT_TRUE(posix::SendAll(gracefulPeer, "last words"));
    posix::HalfClose(gracefulPeer);
    EXPECT_EQ(WaitEvent(graceful, FD_READ), 0);
    // FD_CLOSE waits until the data before the end has been read.
    Settle();
    EXPECT_EQ(Count(graceful, FD_CLOSE), 0);
    std::string received;
    // Read up to the end, not past it: that alone lets FD_CLOSE come.
    while (received.size() < 10 && Recv(graceful, received, 4) > 0) {
    }
    EXPECT_EQ(received, "last words");
    EXPECT_EQ(WaitEvent(graceful, FD_CLOSE), 0);
    EXPECT_EQ(ws.recv(graceful, received.data(), 1, 0), 0);

    auto [reset, resetPeer] = ConnectToPeer();
    posix::ResetClose(resetPeer);
    // Wine's abortive close arrives as an orderly one.
    const bool resetArrives = !RunningUnderWine();
    EXPECT_EQ(WaitEvent(reset, FD_CLOSE), resetArrives ? WSAECONNRESET : 0);
    char byte;
    EXPECT_EQ(ws.recv(reset, &byte, 1, 0), resetArrives ? SOCKET_ERROR : 0);
    if (resetArrives) {
        EXPECT_EQ(ws.WSAGetLastError(), WSAECONNRESET);
    }
    // Sending into the reset connection fails; it raises no SIGPIPE.
    EXPECT_EQ(ws.send(reset, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAECONNRESET);
    Settle();
    EXPECT_EQ(Count(reset, FD_CLOSE), 1);

    posix::Close(gracefulPeer);
    EXPECT_EQ(ws.closesocket(graceful), 0);
    EXPECT_EQ(ws.closesocket(reset), 0);
}

TEST_F(WinsockTest, UnregisteredNonBlockingConnectStillCompletes)
{
    std::uint16_t port = 0;
    int listener = posix::Listen(port);
    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
    u_long nonBlocking = 1;
    ASSERT_EQ(ws.ioctlsocket(s, FIONBIO, &nonBlocking), 0);
    sockaddr_in to = LoopbackAddress(port);
    ASSERT_EQ(ws.connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    int peer = posix::Accept(listener);
    ASSERT_GE(peer, 0);
    char byte;
    EXPECT_EQ(ws.recv(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);  // connected, nothing sent yet
    EXPECT_EQ(ws.connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEISCONN);
    posix::Close(peer);
    posix::Close(listener);
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST_F(WinsockTest, FdWriteComesBackOnlyAfterAWouldBlock)
{
    auto [s, peer] = ConnectToPeer();
    EXPECT_EQ(WaitEvent(s, FD_WRITE), 0);
    posix::SetReceiveBuffer(peer, 4096);
    int small = 4096;
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small), 0);

    const std::string block(16384, 'q');
    std::size_t accepted = 0;
    int result;
    while ((result = ws.send(s, block.data(), static_cast<int>(block.size()), 0)) > 0)
        accepted += static_cast<std::size_t>(result);
    ASSERT_EQ(result, SOCKET_ERROR);
    ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    Settle();
    EXPECT_EQ(Count(s, FD_WRITE), 1);

    // Room comes back as the peer reads: one FD_WRITE.
    std::size_t drained = 0;
    std::thread reader([&, peer = peer] { drained = posix::Receive(peer, accepted).size(); });
    EXPECT_EQ(WaitEvent(s, FD_WRITE, 1), 0);
    reader.join();
    EXPECT_EQ(drained, accepted);
    Settle();
    EXPECT_EQ(Count(s, FD_WRITE), 2);

    posix::Close(peer);
    EXPECT_EQ(ws.closesocket(s), 0);
}

TEST_F(WinsockTest, ClosesocketEndsEventsAndHandlesAreNotReused)
{
    auto [s, peer] = ConnectToPeer();
    ASSERT_TRUE(posix::SendAll(peer, "unread"));
    EXPECT_EQ(WaitEvent(s, FD_READ), 0);
    // An event already in the queue when the socket is closed...
    ASSERT_TRUE(posix::SendAll(peer, "more"));
    std::string some;
    ASSERT_GT(Recv(s, some, 2), 0);
    EXPECT_EQ(ws.closesocket(s), 0);
    posix::ResetClose(peer);
    Settle();
    const std::size_t seen = Events(s).size();

    // ...can never be taken for an event of a newer socket.
    std::set<SOCKET> handles{s, m_Sentinel};
    for (int i = 0; i < 64; ++i) {
        SOCKET fresh = ws.socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_NE(fresh, INVALID_SOCKET);
#ifndef _WIN32  // Windows hands a closed socket's handle out again
        EXPECT_TRUE(handles.insert(fresh).second) << "handle " << fresh << " given out twice";
#endif
        EXPECT_EQ(ws.closesocket(fresh), 0);
    }
    Settle();
    EXPECT_EQ(Events(s).size(), seen);
    EXPECT_EQ(ws.closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, ANewRegistrationReplacesTheOldOneAndPostsWhatIsDue)
{
    auto [s, peer] = ConnectToPeer();
    EXPECT_EQ(WaitEvent(s, FD_WRITE), 0);
    ASSERT_EQ(ws.WSAAsyncSelect(s, window.Handle(), 0, 0), 0);
    ASSERT_TRUE(posix::SendAll(peer, "while paused"));
    Settle();
    EXPECT_EQ(Count(s, FD_READ), 0);
    // Unregistered, the socket may be made blocking again; registered, not.
    u_long blocking = 0;
    EXPECT_EQ(ws.ioctlsocket(s, FIONBIO, &blocking), 0);
    ASSERT_EQ(ws.WSAAsyncSelect(s, window.Handle(), kOtherMessage, FD_READ | FD_WRITE), 0);
    EXPECT_EQ(ws.ioctlsocket(s, FIONBIO, &blocking), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WaitEvent(s, FD_READ, 0, kOtherMessage), 0);
    EXPECT_EQ(WaitEvent(s, FD_WRITE, 0, kOtherMessage), 0);
    Settle();
    EXPECT_EQ(Count(s, FD_READ), 0);  // nothing under the old message
    EXPECT_EQ(Count(s, FD_WRITE), 1);

    posix::Close(peer);
    EXPECT_EQ(ws.closesocket(s), 0);
}

// How a thread takes its messages: waiting when it has none, only peeking,
// or never running out of them.
enum class TPump { Waits, PeeksOnly, NeverIdle };

TEST_F(WinsockTest, AWorkersSocketEventsReachItHoweverItPumpsAndOutliveIt)
{
    const auto readSeen = [](const TTestWindow& at, SOCKET s) {
        return std::any_of(at.Received().begin(), at.Received().end(), [&](const MSG& msg) {
            return msg.message == kSocketMessage && msg.wParam == s && WSAGETSELECTEVENT(msg.lParam) == FD_READ;
        });
    };
    for (TPump pump : {TPump::Waits, TPump::PeeksOnly, TPump::NeverIdle}) {
        SCOPED_TRACE(static_cast<int>(pump));
        auto [s, peer] = ConnectToPeer(0);  // watched by no one until the worker registers it
        std::atomic<bool> registered{false};
        bool seen = false;
        std::thread worker([&, s = s] {
            TTestWindow own;
            own.OnMessage = [&](HWND handle, UINT message, WPARAM, LPARAM) -> LRESULT {
                if (message == kOtherMessage)
                    PostMessageA(handle, kOtherMessage, 0, 0);
                return 0;
            };
            EXPECT_EQ(ws.WSAAsyncSelect(s, own.Handle(), kSocketMessage, FD_READ), 0);
            registered = true;
            const auto done = [&] { return readSeen(own, s); };
            if (pump == TPump::Waits) {
                seen = PumpMessagesUntil(done, std::chrono::seconds(5));
                return;
            }
            if (pump == TPump::NeverIdle)
                PostMessageA(own.Handle(), kOtherMessage, 0, 0);
            const DWORD start = GetTickCount();
            MSG msg;
            while (!done() && GetTickCount() - start < 5000) {
                if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
                else
                    std::this_thread::yield();
            }
            seen = done();
        });
        while (!registered)
            std::this_thread::yield();
        ASSERT_TRUE(posix::SendAll(peer, "for the worker"));
        worker.join();
        EXPECT_TRUE(seen);
        // The worker and its window are gone; a window of ours takes the
        // socket over, and hears of the data waiting and of what comes next.
        ASSERT_EQ(ws.WSAAsyncSelect(s, window.Handle(), kSocketMessage, FD_READ), 0);
        EXPECT_EQ(WaitEvent(s, FD_READ), 0);
        std::string got;
        EXPECT_EQ(Recv(s, got, 100), 14);
        ASSERT_TRUE(posix::SendAll(peer, "for us"));
        EXPECT_EQ(WaitEvent(s, FD_READ, 1), 0);
        posix::Close(peer);
        EXPECT_EQ(ws.closesocket(s), 0);
    }
}

TEST_F(WinsockTest, BadCallsFailWithTheirWindowsErrors)
{
    char byte = 0;
    EXPECT_EQ(ws.send(0x12345678, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
    constexpr u_short kNoFamily = 99;  // 23 would be IPv6, which Windows has
    EXPECT_EQ(ws.socket(kNoFamily, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);

    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(9);
    EXPECT_EQ(ws.connect(s, reinterpret_cast<sockaddr*>(&address), 8), SOCKET_ERROR);
    // Wine reads the short address as one of no host.
    EXPECT_EQ(ws.WSAGetLastError(), RunningUnderWine() ? WSAEADDRNOTAVAIL : WSAEFAULT);
    sockaddr_in wrongFamily = address;
    wrongFamily.sin_family = kNoFamily;
    EXPECT_EQ(ws.bind(s, reinterpret_cast<sockaddr*>(&wrongFamily), sizeof wrongFamily), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(ws.recv(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(ws.send(s, &byte, 1, 0), SOCKET_ERROR);
    // Wine reports a send on a socket never connected as a reset.
    EXPECT_EQ(ws.WSAGetLastError(), RunningUnderWine() ? WSAECONNRESET : WSAENOTCONN);
    EXPECT_EQ(ws.listen(s, 5), SOCKET_ERROR);  // not bound
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(ws.accept(s, nullptr, nullptr), INVALID_SOCKET);  // not listening
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
    sockaddr_in name;
    int nameLength = sizeof name;
    EXPECT_EQ(ws.getsockname(s, reinterpret_cast<sockaddr*>(&name), &nameLength), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(ws.getpeername(s, reinterpret_cast<sockaddr*>(&name), &nameLength), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAENOTCONN);

    int on = 1;
    EXPECT_EQ(ws.setsockopt(s, SOL_SOCKET, 0x7777, reinterpret_cast<const char*>(&on), sizeof on), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(ws.setsockopt(s, 0x1234, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
    // An on/off value may be a single byte, but not none.
    EXPECT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), 1), 0);
    EXPECT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), 0), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(ws.ioctlsocket(s, 0x12345, nullptr), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEOPNOTSUPP);
    EXPECT_EQ(ws.shutdown(s, 7), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);

    // The port is taken by a listener of ours.
    SOCKET listener = ws.socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = LoopbackAddress(0);
    ASSERT_EQ(ws.bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws.listen(listener, 5), 0);
    sockaddr_in taken = LoopbackAddress(LocalPort(listener));
    EXPECT_EQ(ws.bind(s, reinterpret_cast<sockaddr*>(&taken), sizeof taken), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEADDRINUSE);
    u_long nonBlocking = 1;
    ASSERT_EQ(ws.ioctlsocket(listener, FIONBIO, &nonBlocking), 0);
    EXPECT_EQ(ws.accept(listener, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    nameLength = 4;  // too short, even for a bound socket
    EXPECT_EQ(ws.getsockname(listener, reinterpret_cast<sockaddr*>(&name), &nameLength), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEFAULT);

    // INADDR_ANY names no host to connect to; Wine takes it for this one.
    std::uint16_t refusing = 0;
    int reserved = posix::ReservePort(refusing);
    SOCKET nowhere = ws.socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in anyHost = LoopbackAddress(refusing);
    anyHost.sin_addr.s_addr = INADDR_ANY;
    EXPECT_EQ(ws.connect(nowhere, reinterpret_cast<sockaddr*>(&anyHost), sizeof anyHost), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), RunningUnderWine() ? WSAECONNREFUSED : WSAEADDRNOTAVAIL);
    posix::Close(reserved);

    EXPECT_EQ(ws.closesocket(s), 0);
    EXPECT_EQ(ws.closesocket(listener), 0);
    EXPECT_EQ(ws.closesocket(nowhere), 0);
}

TEST_F(WinsockTest, OptionsAreTranslatedToTheSystemOnes)
{
    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = LoopbackAddress(0);
    ASSERT_EQ(ws.bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    int fd = posix::FindSocketByLocalPort(LocalPort(s), true);
    ASSERT_GE(fd, 0);

    const int allBits = -1;  // Windows takes any non-zero value as on
    const char* on = reinterpret_cast<const char*>(&allBits);
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_REUSEADDR, on, 4), 0);
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, on, 4), 0);
    ASSERT_EQ(ws.setsockopt(s, IPPROTO_TCP, TCP_NODELAY, on, 4), 0);
    EXPECT_EQ(posix::IntOption(fd, posix::kSolSocket, posix::kSoReuseAddr), 1);
    EXPECT_EQ(posix::IntOption(fd, posix::kSolSocket, posix::kSoKeepAlive), 1);
    EXPECT_EQ(posix::IntOption(fd, posix::kIpProtoTcp, posix::kTcpNoDelay), 1);

    linger lingering{1, 7};
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lingering), sizeof lingering),
              0);
    posix::LingerValue readBack = posix::LingerOption(fd);
    EXPECT_EQ(readBack.onOff, 1);
    EXPECT_EQ(readBack.seconds, 7);
    const int off = 0;
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&off), 4), 0);
    EXPECT_EQ(posix::IntOption(fd, posix::kSolSocket, posix::kSoKeepAlive), 0);

    SOCKET udp = ws.socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(ws.bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    int udpFd = posix::FindSocketByLocalPort(LocalPort(udp), false);
    ASSERT_GE(udpFd, 0);
    const int one = 1;
    const int ttl = 3;
    ASSERT_EQ(ws.setsockopt(udp, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), 4), 0);
    ASSERT_EQ(ws.setsockopt(udp, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), 4), 0);
    ASSERT_EQ(ws.setsockopt(udp, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&off), 4), 0);
    const u_long loopback = ws.inet_addr("127.0.0.1");
    ASSERT_EQ(ws.setsockopt(udp, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&loopback), 4), 0);
    EXPECT_EQ(posix::IntOption(udpFd, posix::kSolSocket, posix::kSoBroadcast), 1);
    EXPECT_EQ(posix::IntOption(udpFd, posix::kIpProtoIp, posix::kIpMulticastTtl), 3);
    EXPECT_EQ(posix::IntOption(udpFd, posix::kIpProtoIp, posix::kIpMulticastLoop), 0);
    EXPECT_EQ(posix::MulticastInterface(udpFd), loopback);

    EXPECT_EQ(ws.closesocket(s), 0);
    EXPECT_EQ(ws.closesocket(udp), 0);
}

TEST_F(WinsockTest, DatagramsTravelWithTheirSender)
{
    SOCKET a = ws.socket(AF_INET, SOCK_DGRAM, 0);
    SOCKET b = ws.socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = LoopbackAddress(0);
    ASSERT_EQ(ws.bind(a, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws.bind(b, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws.WSAAsyncSelect(b, window.Handle(), kSocketMessage, FD_READ | FD_WRITE), 0);
    EXPECT_EQ(WaitEvent(b, FD_WRITE), 0);

    sockaddr_in to = LoopbackAddress(LocalPort(b));
    ASSERT_EQ(ws.sendto(a, "datagram", 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 8);
    EXPECT_EQ(WaitEvent(b, FD_READ), 0);
    u_long waiting = 0;
    ASSERT_EQ(ws.ioctlsocket(b, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 8u);
    char buffer[4];
    sockaddr_in from;
    int fromLength = sizeof from;
    // Too small a buffer: what fits, and WSAEMSGSIZE.
    EXPECT_EQ(ws.recvfrom(b, buffer, 4, 0, reinterpret_cast<sockaddr*>(&from), &fromLength), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer, 4), "data");
    EXPECT_EQ(ws.ntohs(from.sin_port), LocalPort(a));
    EXPECT_EQ(from.sin_family, AF_INET);

    EXPECT_EQ(ws.closesocket(a), 0);
    EXPECT_EQ(ws.closesocket(b), 0);
}

TEST_F(WinsockTest, ConversionsFollowTheWindowsRules)
{
    EXPECT_EQ(ws.ntohs(ws.htons(0x1234)), 0x1234);
    const u_short network = ws.htons(0x1234);
    unsigned char bytes[2];
    std::memcpy(bytes, &network, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);

    const u_long address = ws.inet_addr("10.1.2.3");
    unsigned char quad[4];
    std::memcpy(quad, &address, 4);
    EXPECT_EQ(quad[0], 10);
    EXPECT_EQ(quad[3], 3);
    EXPECT_EQ(ws.inet_addr("1.2.3.09"), INADDR_NONE);  // a leading 0 reads octal
    EXPECT_EQ(ws.inet_addr("1.2.3.010"), ws.inet_addr("1.2.3.8"));
    EXPECT_EQ(ws.inet_addr("255.255.255.255"), INADDR_NONE);
    EXPECT_EQ(ws.inet_addr(""), INADDR_NONE);
    EXPECT_EQ(ws.inet_addr("host.example"), INADDR_NONE);
    in_addr back{};
    back.s_addr = address;
    EXPECT_STREQ(ws.inet_ntoa(back), "10.1.2.3");
}

}  // namespace
