// ctest-labels: threads
// A socket's events are computed on the library's event thread and on the
// threads that call it; whichever posts first, the window must see them in
// the order they happened. Many short connections to a server that sends a
// byte and closes at once make the connect's completion, the data and the
// close meet.
#include "support/PosixPeer.h"
#include "support/TestWindow.h"
#include "support/WinsockModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr int kClientThreads = 4;
constexpr int kConnectionsPerThread = 500;
constexpr long kClientEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

// What one connection saw, or why it could not be run.
struct Outcome {
    std::string failure;
    std::vector<WORD> events;
};

// One connection on the calling thread, in the order a client uses:
// register, connect, read what comes, then wait for the close.
Outcome OneConnection(const TWinsock& ws, std::uint16_t port)
{
    Outcome outcome;
    TTestWindow window;
    SOCKET s = ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        outcome.failure = "socket: " + std::to_string(ws.WSAGetLastError());
        return outcome;
    }
    sockaddr_in to = LoopbackAddress(port);
    // The close is reported once the data before it has been read.
    window.OnMessage = [&](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        char byte;
        if (message == kSocketMessage && WSAGETSELECTEVENT(lParam) == FD_READ)
            ws.recv(s, &byte, 1, 0);
        return 0;
    };
    if (ws.WSAAsyncSelect(s, window.Handle(), kSocketMessage, kClientEvents) != 0) {
        outcome.failure = "WSAAsyncSelect: " + std::to_string(ws.WSAGetLastError());
    } else if (ws.connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ||
               ws.WSAGetLastError() != WSAEWOULDBLOCK) {
        outcome.failure = "connect: " + std::to_string(ws.WSAGetLastError());
    } else {
        const auto posted = [&](long event) {
            for (const MSG& msg : window.Received())
                if (msg.message == kSocketMessage && WSAGETSELECTEVENT(msg.lParam) == event)
                    return true;
            return false;
        };
        // Both come whatever their order, which is judged afterwards.
        const bool sawBoth =
            PumpMessagesUntil([&] { return posted(FD_CONNECT) && posted(FD_CLOSE); }, std::chrono::seconds(5));
        for (const MSG& msg : window.Received())
            if (msg.message == kSocketMessage && msg.wParam == s)
                outcome.events.push_back(WSAGETSELECTEVENT(msg.lParam));
        if (!sawBoth)
            outcome.failure = "FD_CONNECT and FD_CLOSE not both posted within 5 s";
    }
    ws.closesocket(s);
    return outcome;
}

std::string Describe(const std::vector<WORD>& events)
{
    std::string text;
    for (WORD event : events)
        text += (text.empty() ? "" : " ") + std::to_string(event);
    return text;
}

}  // namespace

TEST(WinsockOrder, ConnectIsPostedBeforeTheCloseThatFollowsIt)
{
    const TWinsock& ws = Winsock();
    ASSERT_NE(ws.Module, nullptr);
    WSADATA data;
    ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);

    std::uint16_t port = 0;
    const int listener = posix::Listen(port);
    ASSERT_GE(listener, 0);
    constexpr int kConnections = kClientThreads * kConnectionsPerThread;
    // Accepts and closes at once; a missed accept (the clients stopped
    // early) ends it within one accept time-out.
    std::thread server([listener] {
        for (int served = 0; served < kConnections; ++served) {
            const int peer = posix::Accept(listener);
            if (peer < 0)
                return;
            posix::SendAll(peer, "x");
            posix::Close(peer);
        }
    });

    std::vector<std::vector<Outcome>> outcomes(kClientThreads);
    std::vector<std::thread> clients;
    for (int t = 0; t < kClientThreads; ++t)
        clients.emplace_back([&, t] {
            for (int i = 0; i < kConnectionsPerThread; ++i) {
                outcomes[t].push_back(OneConnection(ws, port));
                if (!outcomes[t].back().failure.empty())
                    return;
            }
        });
    for (std::thread& client : clients)
        client.join();
    server.join();
    posix::Close(listener);

    int run = 0;
    int misordered = 0;
    std::string example;
    for (const auto& ofThread : outcomes)
        for (const Outcome& outcome : ofThread) {
            ASSERT_EQ(outcome.failure, "") << "after " << run << " connections; events " << Describe(outcome.events);
            ++run;
            // FD_CONNECT comes first and FD_CLOSE last, the data between;
            // each of the three comes once.
            const auto& events = outcome.events;
            const auto count = [&](WORD event) { return std::count(events.begin(), events.end(), event); };
            const bool ordered = !events.empty() && events.front() == FD_CONNECT && events.back() == FD_CLOSE &&
                                 count(FD_CONNECT) == 1 && count(FD_READ) == 1 && count(FD_CLOSE) == 1;
            if (!ordered && misordered++ == 0)
                example = Describe(events);
        }
    EXPECT_EQ(run, kConnections);
    EXPECT_EQ(misordered, 0) << "of " << run << " connections, e.g. events " << example;
    EXPECT_EQ(ws.WSACleanup(), 0);
}
