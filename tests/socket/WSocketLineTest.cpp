// Line mode of TWSocket on real loopback connections: the peer's bytes are
// fed in reads of their own, and the lines the handler sees are compared.
#include "socket/WSocket.h"
#include "socket/support/EventLog.h"
#include "socket/support/EventWait.h"
#include "socket/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

struct LineSession {
    ScriptedPeer peer;
    EventLog log;
    Lines lines;                // what each OnDataAvailable read
    std::vector<int> counts;    // RcvdCount at each OnDataAvailable
    int chunk = 0;              // 0: ReceiveText, else Receive of this size
    std::function<void()> afterRead;
    TWSocket socket;

    LineSession()
    {
        socket.SetMultiThreaded(true);
        socket.SetLineMode(true);
        socket.OnSessionClosed = [this](TCustomWSocket*, WORD error) { log.Add("closed", error); };
        socket.OnDataAvailable = [this](TCustomWSocket* sender, WORD error) {
            counts.push_back(sender->RcvdCount());
            EXPECT_EQ(error, 0);
            std::string text;
            if (chunk == 0) {
                text = sender->ReceiveText();
            } else {
                text.resize(static_cast<std::size_t>(chunk));
                int n = sender->Receive(text.data(), chunk);
                text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            lines.push_back(text);
            log.Add("line " + text);
            if (afterRead)
                afterRead();
        };
    }
    void Open()
    {
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(peer.Port()));
        socket.Connect();
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(PumpUntil([&] { return socket.State() == TSocketState::wsConnected; }));
    }
    // The bytes reach the component in a read of their own.
    void Feed(const std::string& bytes)
    {
        const int before = socket.ReadCount();
        ASSERT_TRUE(peer.Send(bytes));
        ASSERT_TRUE(PumpUntil([&] { return socket.ReadCount() >= before + static_cast<int>(bytes.size()); }));
        PumpQueued();
    }
};

std::string Joined(const Lines& lines)
{
    std::string all;
    for (const std::string& piece : lines)
        all += piece;
    return all;
}

TEST(LineMode, CutsLinesWhereverTheReadsEnd)
{
    LineSession s;
    s.Open();
    s.Feed("abc\r\nde");
    EXPECT_EQ(s.lines, (Lines{"abc\r\n"}));
    EXPECT_EQ(s.counts, (std::vector<int>{5}));
    EXPECT_EQ(s.socket.LineBufferCount(), 2);
    s.Feed("f\r\n");
    EXPECT_EQ(s.lines, (Lines{"abc\r\n", "def\r\n"}));

    // A terminator split across reads, then several lines in one read.
    s.Feed("gh\r");
    EXPECT_EQ(s.lines.size(), 2u);
    s.Feed("\nij\r\nkl\r\nmn\r\n");
    EXPECT_EQ(s.lines, (Lines{"abc\r\n", "def\r\n", "gh\r\n", "ij\r\n", "kl\r\n", "mn\r\n"}));
    EXPECT_EQ(s.socket.LineBufferCount(), 0);
}

TEST(LineMode, HandlerReadingInSmallPiecesGetsEachLineWhole)
{
    LineSession s;
    s.chunk = 2;
    s.Open();
    s.Feed("hello\r\nxy\r\n");
    EXPECT_EQ(s.lines, (Lines{"he", "ll", "o\r", "\n", "xy", "\r\n"}));
    EXPECT_EQ(s.counts, (std::vector<int>{7, 5, 3, 1, 4, 2}));
}

TEST(LineMode, SingleByteAndEmptyLineEnd)
{
    LineSession s;
    s.socket.SetLineEnd("\n");
    s.Open();
    s.Feed("a\r\nb\nc");
    EXPECT_EQ(s.lines, (Lines{"a\r\n", "b\n"}));

    LineSession raw;
    raw.socket.SetLineEnd("");
    raw.Open();
    raw.Feed("x\r\ny");
    EXPECT_EQ(raw.lines, (Lines{"x\r\ny"}));
}

TEST(LineMode, LineLimitClearsOrKeepsAsTheHandlerSays)
{
    LineSession s;
    s.socket.SetLineLimit(10);
    std::vector<int> reported;
    bool clear = true;
    s.socket.OnLineLimitExceeded = [&](TCustomWSocket*, std::int32_t length, bool& clearData) {
        EXPECT_TRUE(clearData);
        reported.push_back(length);
        clearData = clear;
    };
    s.Open();
    s.Feed("0123456789");
    EXPECT_TRUE(reported.empty());
    s.Feed("A");
    EXPECT_EQ(reported, (std::vector<int>{11}));
    EXPECT_EQ(s.socket.LineBufferCount(), 0);
    s.Feed("z\r\n");
    EXPECT_EQ(s.lines, (Lines{"z\r\n"}));

    clear = false;
    s.Feed("0123456789A");
    s.Feed("BC");
    EXPECT_EQ(reported, (std::vector<int>{11, 11, 13}));
    s.Feed("\r\n");
    EXPECT_EQ(s.lines, (Lines{"z\r\n", "0123456789ABC\r\n"}));
}

TEST(LineMode, EditingAndEcho)
{
    LineSession s;
    s.socket.SetLineEdit(true);
    s.Open();
    s.Feed("ab\bc\r\n");
    s.Feed("x\ty\r\n");
    s.Feed("\bq\r\n");
    // A backspace reaches back into an earlier read of the same line.
    s.Feed("mn");
    s.Feed("\b\bo\r\n");
    EXPECT_EQ(s.lines, (Lines{"ac\r\n", "x       y\r\n", "q\r\n", "o\r\n"}));

    LineSession echo;
    echo.socket.SetLineEcho(true);
    echo.socket.SetLineEdit(true);
    echo.Open();
    echo.Feed("\bab\bc\t\r\n");
    // The tab at column 2 reaches the next stop with six spaces.
    const std::string expected = "ab\b \bc"s + std::string(6, ' ') + "\r\n";
    EXPECT_EQ(echo.peer.Expect(expected.size()), expected);
    EXPECT_EQ(echo.lines, (Lines{"ac" + std::string(6, ' ') + "\r\n"}));

    LineSession plain;
    plain.socket.SetLineEcho(true);
    plain.Open();
    plain.Feed("h\bi\r\n");
    EXPECT_EQ(plain.peer.Expect(5), "h\bi\r\n"s);
    EXPECT_EQ(plain.lines, (Lines{"h\bi\r\n"}));
}

TEST(LineMode, LastUnterminatedLineComesBeforeTheClose)
{
    LineSession s;
    s.Open();
    s.Feed("one\r\ntail");
    s.peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return s.log.Has("closed 0"); }));
    EXPECT_EQ(s.log.entries, (Lines{"line one\r\n", "line tail", "closed 0"}));
    EXPECT_EQ(s.counts.back(), 4);
}

// The second delivery raises, before or after reading part of its line: the
// rest of that line still comes first, with the next read, and a raise at
// close still closes and leaves nothing for the next connection.
TEST(LineMode, RaisingHandlerLosesNoLine)
{
    // Raised before reading a line, after part of one, after a whole one
    // with more complete lines held behind it.
    for (const auto& [chunk, before] : std::initializer_list<std::pair<int, bool>>{{0, true}, {3, false}, {0, false}}) {
        SCOPED_TRACE(std::to_string(chunk) + (before ? " before" : " after"));
        LineSession s;
        s.chunk = chunk;
        int calls = 0;
        auto read = s.socket.OnDataAvailable;
        s.socket.OnDataAvailable = [&, read](TCustomWSocket* sender, WORD error) {
            if (++calls == 2 && before)
                throw std::runtime_error("before reading");
            read(sender, error);
            if (calls == 2)
                throw std::runtime_error("after reading");
        };
        s.Open();
        s.Feed("one\r\nBAD\r\nab\r\ncd\r\n");
        s.Feed("xyz\r\n");
        EXPECT_EQ(Joined(s.lines), "one\r\nBAD\r\nab\r\ncd\r\nxyz\r\n");
        if (chunk == 0) {
            EXPECT_EQ(s.lines, (Lines{"one\r\n", "BAD\r\n", "ab\r\n", "cd\r\n", "xyz\r\n"}));
        }

        calls = 1;
        s.Feed("tail");
        s.peer.Close();
        ASSERT_TRUE(PumpUntil([&] { return s.log.Has("closed 0"); }));
        s.lines.clear();
        s.Open();
        s.Feed("fresh\r\n");
        EXPECT_EQ(Joined(s.lines), "fresh\r\n");
        EXPECT_EQ(s.log.Count("closed 0"), 1);
    }
}

// One read takes at most 64 KB, however much waits, so a fast peer cannot
// make the thread cut lines out of megabytes at a time.
TEST(LineMode, OneReadIsCapped)
{
    LineSession s;
    int mostHeld = 0;
    s.afterRead = [&] { mostHeld = std::max(mostHeld, s.socket.LineBufferCount()); };
    s.Open();
    std::string sent;
    for (int i = 0; i < 96 * 1024 / 8; ++i)
        sent += "line" + std::to_string(1000 + i % 1000).substr(1) + "\n";
    s.socket.SetLineEnd("\n");
    ASSERT_TRUE(s.peer.Send(sent));
    ASSERT_TRUE(PumpUntil([&] { return s.lines.size() == sent.size() / 8; }));
    EXPECT_LE(mostHeld, 64 * 1024);
    EXPECT_EQ(Joined(s.lines), sent);
}

TEST(LineMode, SwitchingOffMidLineLosesAndRepeatsNothing)
{
    // Off inside the handler: the rest comes with the next deliveries.
    LineSession s;
    s.chunk = 3;
    s.afterRead = [&] {
        if (s.lines.size() == 1)
            s.socket.SetLineMode(false);
    };
    s.Open();
    s.Feed("hello\r\nworld\r\nmore");
    ASSERT_TRUE(PumpUntil([&] { return s.socket.LineBufferCount() == 0; }));
    EXPECT_EQ(Joined(s.lines), "hello\r\nworld\r\nmore");
    s.Feed("!");
    EXPECT_EQ(s.lines.back(), "!");

    // Read on in the same handler right after switching off.
    LineSession same;
    same.afterRead = [&] {
        if (same.lines.size() != 1)
            return;
        same.socket.SetLineMode(false);
        char rest[64];
        int n = same.socket.Receive(rest, sizeof rest);
        same.lines.push_back(std::string(rest, static_cast<std::size_t>(std::max(n, 0))));
    };
    same.chunk = 2;
    same.Open();
    same.Feed("abcd\r\nef");
    EXPECT_EQ(same.lines.at(0), "ab");
    EXPECT_EQ(same.lines.at(1), "cd\r\nef");
    EXPECT_EQ(same.socket.LineBufferCount(), 0);

    // Off after a header line, the body read raw in pieces while the peer
    // closes: all of it comes before the close.
    LineSession body;
    body.afterRead = [&] {
        body.socket.SetLineMode(false);
        body.chunk = 1024;
    };
    body.Open();
    const std::string payload(10000, 'b');
    body.peer.Send("header\r\n" + payload);
    body.peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return body.log.Has("closed 0"); }));
    EXPECT_EQ(Joined(body.lines).size(), 8 + payload.size());
    EXPECT_TRUE(Joined(body.lines) == "header\r\n" + payload);
    EXPECT_EQ(body.log.entries.back(), "closed 0");
}

TEST(LineMode, HeldCompleteLinesAreDeliveredWhenLineModeReturns)
{
    LineSession s;
    int rawCalls = 0;
    s.socket.OnDataAvailable = [&](TCustomWSocket* sender, WORD) {
        if (!s.socket.LineMode()) {
            ++rawCalls;  // a raw handler that reads nothing
            return;
        }
        s.lines.push_back(sender->ReceiveText());
        if (s.lines.size() == 1)
            s.socket.SetLineMode(false);
    };
    s.Open();
    s.Feed("one\r\ntwo\r\nthree\r\npart");
    PumpQueued();
    EXPECT_EQ(s.lines, (Lines{"one\r\n"}));
    // Offered by the receive loop, then by the redelivery: each stops when
    // nothing was taken.
    EXPECT_EQ(rawCalls, 2);
    EXPECT_EQ(s.socket.LineBufferCount(), 16);
    EXPECT_EQ(s.socket.RcvdCount(), 16);

    s.socket.SetLineMode(true);
    PumpQueued();
    EXPECT_EQ(s.lines, (Lines{"one\r\n", "two\r\n", "three\r\n"}));
    EXPECT_EQ(s.socket.LineBufferCount(), 4);
}

TEST(LineMode, LinesFollowingASocksReplyInTheSameRead)
{
    LineSession s;
    s.socket.SetAddr("far.test");
    s.socket.SetPort("7");
    s.socket.SetSocksServer("127.0.0.1");
    s.socket.SetSocksPort(std::to_string(s.peer.Port()));
    s.socket.Connect();
    ASSERT_TRUE(s.peer.Accept());
    EXPECT_EQ(s.peer.Expect(3), "\x05\x01\x00"s);
    s.peer.Send("\x05\x00"s);
    s.peer.Expect(4 + 1 + 8 + 2);
    s.Feed("\x05\x00\x00\x01\x7F\x00\x00\x01\x00\x07line1\r\nli"s);
    s.Feed("ne2\r\n");
    EXPECT_EQ(s.lines, (Lines{"line1\r\n", "line2\r\n"}));
}

}  // namespace
