// ctest-labels: threads
// ctest-linux-only: needs the system's SOCKS server
// TWSocket through the system's SOCKS server (danted) to an echo server,
// all on 127.0.0.1: SOCKS 4, 4A and 5, with and without username/password.
#include "socket/WSocket.h"
#include "socket/support/DanteServer.h"
#include "socket/support/EchoServer.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

class ThroughDante : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_Dante = std::make_unique<DanteServer>();
        if (!s_Dante->Start(s_Reason))
            s_Dante.reset();
    }
    static void TearDownTestSuite() { s_Dante.reset(); }

    void SetUp() override
    {
        if (!s_Dante)
            GTEST_SKIP() << s_Reason;
        socket.SetMultiThreaded(true);
        socket.SetLineMode(true);
        socket.OnSessionConnected = [this](TCustomWSocket* sender, WORD error) {
            log.Add("connected", error);
            if (error == 0)
                sender->SendText("ping through socks\r\n");
        };
        socket.OnSessionClosed = [this](TCustomWSocket*, WORD error) { log.Add("closed", error); };
        socket.OnSocksConnected = [this](TCustomWSocket*, WORD error) { log.Add("socksconnected", error); };
        socket.OnSocksError = [this](TCustomWSocket*, std::int32_t error, const std::string& msg) {
            log.Add("sockserror " + std::to_string(error) + " " + msg);
        };
        socket.OnSocksAuthState = [this](TCustomWSocket*, TSocksAuthState state) {
            log.Add("auth", static_cast<long>(state));
        };
        socket.OnDataAvailable = [this](TCustomWSocket* sender, WORD) { log.Add("line " + sender->ReceiveText()); };
    }

    void ConnectThrough(const std::string& level)
    {
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(echo.Port()));
        socket.SetSocksServer("127.0.0.1");
        socket.SetSocksPort(std::to_string(s_Dante->Port()));
        socket.SetSocksLevel(level);
        socket.Connect();
    }
    bool Echoed()
    {
        auto closed = [&] {
            return std::any_of(log.entries.begin(), log.entries.end(),
                               [](const std::string& entry) { return entry.rfind("closed", 0) == 0; });
        };
        return PumpUntil([&] { return log.Has("line ping through socks\r\n") || closed(); }, 10000) &&
               log.Has("line ping through socks\r\n");
    }

    static std::unique_ptr<DanteServer> s_Dante;
    static std::string s_Reason;
    EchoServer echo;
    EventLog log;
    TWSocket socket;
};

std::unique_ptr<DanteServer> ThroughDante::s_Dante;
std::string ThroughDante::s_Reason;

TEST_F(ThroughDante, EveryLevelWithoutAuthenticationReachesTheEchoServer)
{
    for (const char* level : {"5", "4"}) {
        SCOPED_TRACE(level);
        log.entries.clear();
        ConnectThrough(level);
        ASSERT_TRUE(Echoed()) << ::testing::PrintToString(log.entries);
        EXPECT_EQ(log.entries.front(), "socksconnected 0");
        EXPECT_EQ(log.entries.at(1), "connected 0");
        socket.Close();
        EXPECT_EQ(socket.SocksServer(), "");
    }

    // This server has no 4A: it answers the request with status 91.
    log.entries.clear();
    ConnectThrough("4A");
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 20016"); }, 10000)) << ::testing::PrintToString(log.entries);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"socksconnected 0", "sockserror 20016 request rejected or failed",
                                                     "connected 20016", "closed 20016"}));
}

TEST_F(ThroughDante, UsernameAndPassword)
{
    std::string user, password, reason;
    if (!DanteServer::EnsureTestUser(user, password, reason))
        GTEST_SKIP() << reason;
    socket.SetSocksAuthentication(TSocksAuthentication::socksAuthenticateUsercode);
    socket.SetSocksUsercode(user);
    socket.SetSocksPassword(password);
    ConnectThrough("5");
    ASSERT_TRUE(Echoed());
    EXPECT_EQ(log.From(0).at(1), "auth 0");  // started
    EXPECT_EQ(log.From(0).at(2), "auth 1");  // accepted
    socket.Close();

    log.entries.clear();
    socket.SetSocksPassword(password + "-wrong");
    ConnectThrough("5");
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 20015"); }, 10000));
    EXPECT_TRUE(log.Has("sockserror 20015 socks authentication failed"));
    EXPECT_TRUE(log.Has("connected 20015"));
    EXPECT_FALSE(log.Has("connected 0"));
}

}  // namespace
