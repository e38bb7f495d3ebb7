// ctest-labels: threads
// Asynchronous name lookups of TCustomWSocket, answered through its window.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/Failures.h"
#include "socket/support/ScriptedPeer.h"
#include "platform/support/WineQuirks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace {

struct Lookup : ::testing::Test {
    EventLog log;
    TCustomWSocket socket;
    Lookup()
    {
        socket.SetMultiThreaded(true);
        log.Attach(socket);
    }
    // Waits, dispatching nothing, until the system has queued the answer.
    bool AnswerQueued()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        MSG msg;
        while (!PeekMessageA(&msg, socket.WindowHandle(), MSG_LOOKUP_DONE, MSG_LOOKUP_DONE, PM_NOREMOVE)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }
};

}  // namespace

TEST_F(Lookup, DottedAddressAnswersAtOnce)
{
    socket.DnsLookup(" 10.0.0.1 ");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 0"}));
    EXPECT_EQ(socket.DnsResult(), "10.0.0.1");
    EXPECT_EQ(socket.DnsResultList(), (std::vector<std::string>{"10.0.0.1"}));
}

TEST_F(Lookup, HostNameAnswersLater)
{
    socket.DnsLookup("localhost");
    EXPECT_TRUE(log.entries.empty());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("dns 0"); }, 20000));
    EXPECT_EQ(log.entries.size(), 1u);
    const auto& list = socket.DnsResultList();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(socket.DnsResult(), list.front());
    std::string all;
    for (const std::string& address : list)
        all += address + " ";
    EXPECT_NE(std::find(list.begin(), list.end(), "127.0.0.1"), list.end()) << all;

    // "255.255.255.255" is no shortcut: it goes to the system.
    socket.DnsLookup("255.255.255.255");
    EXPECT_EQ(log.entries.size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return log.entries.size() == 2; }, 20000));
}

TEST_F(Lookup, UnknownNameReportsTheSystemsError)
{
    socket.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !log.entries.empty(); }, 20000));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 11001"}));
    EXPECT_EQ(socket.DnsResult(), "");
    EXPECT_TRUE(socket.DnsResultList().empty());
}

TEST_F(Lookup, CancelAndReplacement)
{
    socket.CancelLookup();  // nothing pending: nothing happens
    EXPECT_TRUE(log.entries.empty());

    // Already answered by the system: the cancel fails, and the answer is
    // not delivered either.
    socket.DnsLookup("localhost");
    ASSERT_TRUE(AnswerQueued());
    if (RunningUnderWine()) {
        // Its cancel cancels nothing and always succeeds.
        EXPECT_EQ(MessageOf([&] { socket.CancelLookup(); }), "(no exception)");
        EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 10004"}));
    } else {
        EXPECT_EQ(MessageOf([&] { socket.CancelLookup(); }),
                  "Error 10037 in function WSACancelAsyncRequest\r\nOperation already in progress");
        EXPECT_TRUE(log.entries.empty());
    }
    std::size_t reported = log.entries.size();
    PumpQueued();
    EXPECT_EQ(log.entries.size(), reported);

    // A second lookup replaces the first, which never reports.
    log.entries.clear();
    socket.DnsLookup("localhost");
    socket.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !log.entries.empty(); }, 20000));
    PumpQueued();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 0"}));
    EXPECT_FALSE(socket.DnsResult().empty());

    // A completion that arrives with no lookup pending is kept aside and
    // dropped by the next lookup.
    log.entries.clear();
    PostMessageA(socket.WindowHandle(), MSG_LOOKUP_DONE, 1234, WSAMAKEASYNCREPLY(0, 0));
    PumpQueued();
    socket.DnsLookup("1.2.3.4");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 0"}));
}

TEST_F(Lookup, AbortClosesWhileAnAnswerIsQueued)
{
    ScriptedPeer peer;
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(peer.Port()));
    socket.Connect();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == TSocketState::wsConnected; }));
    socket.DnsLookup("localhost");
    ASSERT_TRUE(AnswerQueued());
    EXPECT_EQ(MessageOf([&] { socket.Abort(); }), "(no exception)");
    EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(Lookup, EmptyNameIsRefused)
{
    EXPECT_EQ(MessageOf([&] { socket.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_TRUE(log.entries.empty());
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { log.Add("error"); ++errors; };
    socket.DnsLookup("");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"error", "dns 10022"}));

    log.entries.clear();
    socket.ReverseDnsLookup("");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"error", "dns 10022"}));
}

TEST_F(Lookup, ReverseLookupGivesTheName)
{
    socket.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !log.entries.empty(); }, 20000));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"dns 0"}));
    EXPECT_FALSE(socket.DnsResult().empty());
    EXPECT_EQ(socket.DnsResultList(), (std::vector<std::string>{socket.DnsResult()}));
}
