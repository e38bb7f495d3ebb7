// The SOCKS client of TWSocket against a scripted server on 127.0.0.1: the
// exact bytes the client must send, the server's replies (whole, in pieces,
// followed by user data) and every failure the server can report.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/ScriptedPeer.h"
#include "socket/support/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using S = TSocketState;

constexpr const char* kTarget = "target.test";
constexpr int kTargetPort = 8080;  // 0x1F90

std::string MessageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

std::string Socks5Request(const std::string& host)
{
    return "\x05\x01\x00\x03"s + char(host.size()) + host + "\x1F\x90"s;
}

const std::string kIPv4Reply = "\x05\x00\x00\x01\x7F\x00\x00\x01\x04\x38"s;

// A TWSocket that goes through the scripted server, with its events logged.
struct SocksSession {
    ScriptedPeer server;
    EventLog log;
    std::string data;
    std::vector<int> rcvdCounts;
    int chunk = 0;  // 0: ReceiveText, else Receive of this size
    TWSocket socket;

    explicit SocksSession(const std::string& level = "5", const std::string& host = kTarget)
    {
        socket.SetMultiThreaded(true);
        log.Attach(socket);
        socket.OnChangeState = nullptr;
        socket.OnSendData = nullptr;
        socket.OnDataSent = nullptr;
        socket.OnSocksConnected = [this](TCustomWSocket*, WORD error) { log.Add("socksconnected", error); };
        socket.OnSocksError = [this](TCustomWSocket*, std::int32_t error, const std::string& msg) {
            log.Add("sockserror " + std::to_string(error) + " " + msg);
        };
        socket.OnSocksAuthState = [this](TCustomWSocket*, TSocksAuthState state) {
            static const char* const names[] = {"started", "accepted", "aborted", "skipped"};
            log.Add(std::string("auth ") + names[static_cast<int>(state)]);
        };
        socket.OnDataAvailable = [this](TCustomWSocket* sender, WORD) {
            rcvdCounts.push_back(sender->RcvdCount());
            std::string text;
            if (chunk == 0) {
                text = sender->ReceiveText();
            } else {
                text.resize(static_cast<std::size_t>(chunk));
                text.resize(static_cast<std::size_t>(std::max(sender->Receive(text.data(), chunk), 0)));
            }
            if (!text.empty()) {
                data += text;
                log.Add("data " + text);
            }
        };
        socket.SetAddr(host);
        socket.SetPort(std::to_string(kTargetPort));
        socket.SetSocksServer(" 127.0.0.1 ");
        socket.SetSocksPort(std::to_string(server.Port()));
        socket.SetSocksLevel(level);
    }
    void Connect()
    {
        socket.Connect();
        ASSERT_TRUE(server.Accept());
    }
    // Through the greeting and the request, up to the reply.
    void Negotiate()
    {
        Connect();
        server.Expect(3);
        server.Send("\x05\x00"s);
        server.Expect(Socks5Request(kTarget).size());
    }
    // Sends the bytes one at a time, each in a read of its own.
    void Trickle(const std::string& bytes)
    {
        for (char byte : bytes) {
            int before = socket.ReadCount();
            ASSERT_TRUE(server.Send(std::string(1, byte)));
            ASSERT_TRUE(PumpUntil([&] { return socket.ReadCount() > before || socket.State() == S::wsClosed; }));
        }
    }
    bool WaitFor(const std::string& entry) { return PumpUntil([&] { return log.Has(entry); }); }
};

TEST(SocksSettings, LevelPortAndServerAreCheckedAndResetAtClose)
{
    TWSocket socket;
    EXPECT_EQ(socket.SocksLevel(), "5");
    socket.SetSocksLevel("4a");
    EXPECT_EQ(socket.SocksLevel(), "4A");
    for (const char* bad : {"5 ", "6", "", "4b"}) {
        EXPECT_EQ(MessageOf([&] { socket.SetSocksLevel(bad); }), "Invalid socks level. Must be 4, 4A or 5.");
        EXPECT_EQ(socket.SocksLevel(), "4A");
    }
    socket.SetSocksServer("  ");
    EXPECT_EQ(socket.SocksServer(), "");

    SocksSession session;
    session.Connect();
    ASSERT_TRUE(session.WaitFor("socksconnected 0"));
    TWSocket& busy = session.socket;
    EXPECT_EQ(MessageOf([&] { busy.SetSocksLevel("4"); }), "Can't change socks level if not closed");
    EXPECT_EQ(MessageOf([&] { busy.SetSocksPort("1"); }), "Can't change socks port if not closed");
    EXPECT_EQ(MessageOf([&] { busy.SetSocksServer("x"); }), "Can't change socks server if not closed");
    EXPECT_EQ(busy.SocksServer(), "127.0.0.1");
    busy.SetSocksUsercode("kept");
    busy.Close();
    EXPECT_EQ(busy.SocksServer(), "");
    EXPECT_EQ(busy.SocksPort(), "");
    EXPECT_EQ(busy.SocksLevel(), "5");
    EXPECT_EQ(busy.SocksUsercode(), "kept");
    EXPECT_EQ(busy.NegotiationState(), TSocksNegotiationState::snIdle);
}

TEST(SocksSettings, ListeningAndNonTcpAreRefused)
{
    TWSocket socket;
    socket.SetAddr("127.0.0.1");
    socket.SetPort("0");
    socket.SetSocksServer("127.0.0.1");
    EXPECT_EQ(MessageOf([&] { socket.Listen(); }), "Listening is not supported thru socks server");
    socket.SetProto("udp");
    socket.SetSocksPort("1080");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "tcp is the only protocol supported thru socks server");
    EXPECT_EQ(socket.State(), S::wsClosed);
}

TEST(Socks5, GreetingRequestAndReplyWithUserDataInTheSameRead)
{
    SocksSession session;
    session.Connect();
    EXPECT_EQ(session.server.Expect(3), "\x05\x01\x00"s);
    session.server.Send("\x05\x00"s);
    // Always a domain name, also for a dotted host.
    EXPECT_EQ(session.server.Expect(Socks5Request(kTarget).size()), Socks5Request(kTarget));
    EXPECT_EQ(session.socket.State(), S::wsConnected);
    EXPECT_TRUE(session.log.Has("socksconnected 0"));
    EXPECT_FALSE(session.log.Has("connected 0"));

    session.server.Send(kIPv4Reply + "hello");
    ASSERT_TRUE(PumpUntil([&] { return session.data == "hello"; }));
    EXPECT_EQ(session.log.entries,
              (std::vector<std::string>{"socksconnected 0", "connected 0", "data hello"}));
    // The bytes after the reply are counted before the socket is asked.
    EXPECT_EQ(session.rcvdCounts.front(), 5);

    session.server.Send(" world");
    ASSERT_TRUE(PumpUntil([&] { return session.data == "hello world"; }));
}

// Read 2 bytes at a time, the bytes after the reply all come at once, also
// when the server closes right after them.
TEST(Socks5, UserDataAfterTheReplyComesWholeInSmallReads)
{
    for (bool serverCloses : {false, true}) {
        SCOPED_TRACE(serverCloses);
        SocksSession session;
        session.chunk = 2;
        session.Negotiate();
        session.server.Send(kIPv4Reply + "hello world");
        if (serverCloses)
            session.server.Close();
        ASSERT_TRUE(PumpUntil([&] { return session.data == "hello world"; }));
        if (serverCloses) {
            ASSERT_TRUE(session.WaitFor("closed 0"));
            EXPECT_EQ(session.log.entries.back(), "closed 0");
        }
    }

    // One read per event, and the server says nothing more: DrainUntilClosed
    // hands out the rest, to a reader that closes once it has it all.
    SocksSession drained;
    drained.chunk = 2;
    drained.socket.SetComponentOptions({TWSocketOption::wsoNoReceiveLoop});
    const auto read = drained.socket.OnDataAvailable;
    drained.socket.OnDataAvailable = [&](TCustomWSocket* sender, WORD error) {
        read(sender, error);
        if (drained.data == "hello world")
            sender->Close();
    };
    drained.Negotiate();
    drained.server.Send(kIPv4Reply + "hello world");
    ASSERT_TRUE(PumpUntil([&] { return drained.data == "he"; }));
    TWatchdog watchdog([&] { drained.server.Reset(); });
    drained.socket.DrainUntilClosed();
    EXPECT_FALSE(watchdog.Stop()) << "the rest waited for the server's next event";
    EXPECT_EQ(drained.data, "hello world");
}

// A second Connect on a live connection is refused and changes nothing; a
// handler that reconnects after a SOCKS failure keeps its new connection.
TEST(Socks5, ConnectsThatMustNotBreakAConnection)
{
    SocksSession session;
    session.Negotiate();
    session.server.Send(kIPv4Reply);
    ASSERT_TRUE(session.WaitFor("connected 0"));
    EXPECT_EQ(MessageOf([&] { session.socket.Connect(); }), "Connect: Socket already in use");
    session.server.Send("data");
    ASSERT_TRUE(PumpUntil([&] { return session.data == "data"; }));
    EXPECT_EQ(session.socket.State(), S::wsConnected);

    SocksSession failing;
    ScriptedPeer direct;
    failing.socket.OnSessionConnected = [&](TCustomWSocket* sender, WORD error) {
        failing.log.Add("connected", error);
        if (error == 0)
            return;
        sender->Close();
        sender->SetAddr("127.0.0.1");
        sender->SetPort(std::to_string(direct.Port()));
        sender->Connect();
    };
    failing.Connect();
    failing.server.Expect(3);
    failing.server.Send("\x05\xFF"s);
    ASSERT_TRUE(direct.Accept());
    ASSERT_TRUE(failing.WaitFor("connected 0"));
    direct.Send("direct");
    ASSERT_TRUE(PumpUntil([&] { return failing.data == "direct"; }));
    EXPECT_EQ(failing.socket.State(), S::wsConnected);
}

TEST(Socks5, ReplyOfAddressTypeThreeArrivingByteByByte)
{
    SocksSession session;
    session.Connect();
    session.server.Expect(3);
    session.Trickle("\x05\x00"s);
    session.server.Expect(Socks5Request(kTarget).size());
    const std::string reply = "\x05\x00\x00\x03\x04host\x00\x50"s;  // 11 bytes
    session.Trickle(reply.substr(0, reply.size() - 1));
    EXPECT_FALSE(session.log.Has("connected 0"));
    session.Trickle(reply.substr(reply.size() - 1));
    ASSERT_TRUE(session.WaitFor("connected 0"));
    EXPECT_EQ(session.log.Count("connected 0"), 1);
    session.server.Send("ok");
    ASSERT_TRUE(PumpUntil([&] { return session.data == "ok"; }));
}

TEST(Socks5, UsernamePasswordInPiecesAndTheSkippedCase)
{
    SocksSession session;
    session.socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
    session.socket.SetSocksUsercode("user");
    session.socket.SetSocksPassword("secret");
    session.Connect();
    EXPECT_EQ(session.server.Expect(3), "\x05\x01\x02"s);
    session.server.Send("\x05\x02"s);
    EXPECT_EQ(session.server.Expect(13), "\x01\x04user\x06secret"s);
    session.Trickle("\x01\x00"s);
    EXPECT_EQ(session.server.Expect(Socks5Request(kTarget).size()), Socks5Request(kTarget));
    session.server.Send(kIPv4Reply);
    ASSERT_TRUE(session.WaitFor("connected 0"));
    EXPECT_EQ(session.log.entries, (std::vector<std::string>{"socksconnected 0", "auth started", "auth accepted",
                                                             "connected 0"}));

    SocksSession skipped;
    skipped.socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
    skipped.Connect();
    EXPECT_EQ(skipped.server.Expect(3), "\x05\x01\x02"s);
    skipped.server.Send("\x05\x00"s);
    EXPECT_EQ(skipped.server.Expect(Socks5Request(kTarget).size()), Socks5Request(kTarget));
    EXPECT_TRUE(skipped.log.Has("auth skipped"));
}

TEST(Socks5, ServerClosingDuringTheSubNegotiationAbortsIt)
{
    SocksSession session;
    session.socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
    session.Connect();
    session.server.Expect(3);
    session.server.Send("\x05\x02"s);
    EXPECT_EQ(session.server.Expect(3), "\x01\x00\x00"s);
    session.server.Close();
    ASSERT_TRUE(session.WaitFor("closed 0"));
    EXPECT_EQ(session.log.From(1), (std::vector<std::string>{"auth started", "auth aborted", "closed 0"}));
    EXPECT_EQ(session.socket.SocksServer(), "");
}

struct FailureCase {
    std::string level;
    std::string offeredAuth;  // "" or "user"
    std::vector<std::string> replies;
    int code;
    std::string text;
};

TEST(SocksFailures, EveryServerReportEndsTheConnectionWithItsCode)
{
    const std::string granted = "\x05\x00"s;
    auto reply5 = [](int code) { return "\x05"s + char(code) + "\x00\x01\x7F\x00\x00\x01\x00\x50"s; };
    auto reply4 = [](int version, int status) { return std::string{char(version), char(status)} + "\x00\x50\x7F\x00\x00\x01"s; };
    const std::vector<FailureCase> cases = {
        {"5", "", {"\x04\x00"s}, 20002, "socks version error"},
        {"5", "", {"\x05\xFF"s}, 20003, "authentification method not acceptable"},
        {"5", "", {"\x05\x01"s}, 20003, "authentification method not acceptable"},
        {"5", "", {granted, reply5(1)}, 20004, "general SOCKS server failure"},
        {"5", "", {granted, reply5(2)}, 20005, "connection not allowed by ruleset"},
        {"5", "", {granted, reply5(3)}, 20006, "network unreachable"},
        {"5", "", {granted, reply5(4)}, 20007, "host unreachable"},
        {"5", "", {granted, reply5(5)}, 20008, "connection refused"},
        {"5", "", {granted, reply5(6)}, 20009, "time to live expired"},
        {"5", "", {granted, reply5(7)}, 20010, "command not supported"},
        {"5", "", {granted, reply5(8)}, 20011, "address type not supported"},
        {"5", "", {granted, reply5(9)}, 20012, "unassigned error #9"},
        {"5", "", {granted, "\x04\x00"s}, 20002, "socks version error"},
        {"5", "", {granted, "\x05\x00\x00\x04\x00"s}, 20011, "address type not supported"},
        {"5", "", {granted, "\x05\x00\x00\x03\x79"s}, 20014, "socks reply too long"},
        {"5", "user", {"\x05\x02"s, "\x02\x00"s}, 20002, "socks version error"},
        {"5", "user", {"\x05\x02"s, "\x01\x01"s}, 20015, "socks authentication failed"},
        {"5", "user", {"\x05\x02"s, "\x01\x00\x00"s}, 20001, "too much data availaible"},
        {"4", "", {reply4(1, 90)}, 20002, "socks version error"},
        {"4", "", {reply4(0, 91)}, 20016, "request rejected or failed"},
        {"4", "", {reply4(0, 92)}, 20008, "connection refused"},
        {"4A", "", {reply4(0, 93)}, 20015, "authentification failed"},
        {"4A", "", {reply4(0, 94)}, 20012, "unassigned error #94"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.text + " at level " + c.level);
        SocksSession session(c.level, c.level == "5" ? kTarget : "127.0.0.1");
        if (!c.offeredAuth.empty())
            session.socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
        session.Connect();
        for (const std::string& reply : c.replies) {
            session.server.Expect(c.level == "5" ? 3 : 9);  // greeting, credentials or request
            session.server.Send(reply);
        }
        const std::string code = std::to_string(c.code);
        ASSERT_TRUE(session.WaitFor("closed " + code));
        std::vector<std::string> tail = {"sockserror " + code + " " + c.text, "connected " + code, "closed " + code};
        EXPECT_EQ(session.log.From(session.log.entries.size() - 3), tail);
        EXPECT_EQ(session.socket.State(), S::wsClosed);
        EXPECT_EQ(session.socket.SocksServer(), "");
        EXPECT_EQ(session.socket.SocksLevel(), "5");
    }
}

TEST(SocksFailures, ValuesTooLongAreRefusedBeforeAnythingIsSent)
{
    struct Case {
        std::string level, host, user, password;
        bool auth;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"5", std::string(122, 'h'), "", "", false, "socks host name too long"},
        {"5", kTarget, std::string(100, 'u'), std::string(26, 'p'), true, "socks user name and password too long"},
        {"4", "127.0.0.1", std::string(120, 'u'), "", false, "socks user code too long"},
        {"4A", std::string(60, 'h'), std::string(59, 'u'), "", false, "socks user code and host name too long"},
        {"4A", "a.test", "bob\0x"s, "", false, "socks user code or host name contains a zero byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SocksSession session(c.level, c.host);
        session.socket.SetSocksUsercode(c.user);
        session.socket.SetSocksPassword(c.password);
        if (c.auth)
            session.socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
        session.Connect();
        EXPECT_EQ(session.server.ExpectEnd(), "");
        ASSERT_TRUE(session.WaitFor("closed 20014"));
        EXPECT_TRUE(session.log.Has("sockserror 20014 " + c.text));
    }

    // The largest values that fit still go out whole.
    SocksSession fits("5", std::string(121, 'h'));
    fits.Connect();
    fits.server.Expect(3);
    fits.server.Send("\x05\x00"s);
    EXPECT_EQ(fits.server.Expect(128), Socks5Request(std::string(121, 'h')));
}

TEST(Socks4, RequestLayoutsAndUserDataAfterTheReply)
{
    SocksSession four("4", "127.0.0.1");
    four.socket.SetSocksUsercode("bob");
    four.Connect();
    EXPECT_EQ(four.server.Expect(12), "\x04\x01\x1F\x90\x7F\x00\x00\x01" "bob\x00"s);
    // The 8-byte reply is never over-read: "xy" reaches the user.
    four.server.Send("\x00\x5A\x00\x00\x00\x00\x00\x00xy"s);
    ASSERT_TRUE(PumpUntil([&] { return four.data == "xy"; }));
    EXPECT_EQ(four.log.entries, (std::vector<std::string>{"socksconnected 0", "connected 0", "data xy"}));

    SocksSession fourA("4a", "far.test");
    fourA.socket.SetSocksUsercode("bob");
    fourA.Connect();
    EXPECT_EQ(fourA.server.Expect(21), "\x04\x01\x1F\x90\x00\x00\x00\x01" "bob\x00" "far.test\x00"s);
    fourA.Trickle("\x00\x5A\x00\x00\x00\x00\x00\x00"s);
    EXPECT_TRUE(fourA.WaitFor("connected 0"));
}

TEST(Socks4, UnresolvableHostFailsLocallyWithoutConnectedEvent)
{
    SocksSession session("4", "no-such-host.invalid");
    session.Connect();
    ASSERT_TRUE(session.WaitFor("closed 20017"));
    ASSERT_EQ(session.log.entries.size(), 3u);
    EXPECT_EQ(session.log.entries[0], "socksconnected 0");
    EXPECT_EQ(session.log.entries[1].rfind("sockserror 20017 ESocketException ", 0), 0u) << session.log.entries[1];
    EXPECT_EQ(session.server.ExpectEnd(), "");
}

TEST(SocksTransparent, WithoutServerTheConnectionIsDirect)
{
    ScriptedPeer target;
    EventLog log;  // outlives the component, whose destruction still logs
    TWSocket socket;
    socket.SetMultiThreaded(true);
    log.Attach(socket);
    std::string data;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, WORD) { data += sender->ReceiveText(); };
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(target.Port()));
    socket.Connect();
    ASSERT_TRUE(target.Accept());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    target.Send("raw");
    ASSERT_TRUE(PumpUntil([&] { return data == "raw"; }));
    socket.SendText("back");
    EXPECT_EQ(target.Expect(4), "back");
}

}  // namespace
