// ctest-labels: threads
#include "http/HttpProt.h"
#include "support/HttpTestSupport.h"
#include "common/LoopbackServer.h"
#include "common/ServerProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <thread>

namespace {

const char kDefaultAccept[] = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";

// Consecutive pieces of a document count as one: how a body is cut into
// reads is not the client's choice.
std::vector<std::string> Collapsed(std::vector<std::string> events)
{
    events.erase(std::unique(events.begin(), events.end(),
                             [](const std::string& a, const std::string& b) { return a == "DocData" && b == a; }),
                 events.end());
    return events;
}

TLoopbackServer::TScript Answer(const std::string& response)
{
    return [response](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write(response);
    };
}

struct THttpCliTest : ::testing::Test {
    THttpCliTest() { client.SetMultiThreaded(true); }
    THttpCli client;
    TMemoryStream document;
};

TEST_F(THttpCliTest, DefaultGetSendsFiveLinesAndRaisesEventsInOrder)
{
    TLoopbackServer server(Answer("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello world"));
    TEventLog log(client);
    client.SetURL(server.Url("/update/eng/update.ini"));
    client.SetReceiveStream(&document);
    EXPECT_EQ(BlockingGetResult(client), "");
    ASSERT_TRUE(PumpUntil([&] { return log.Done; }));

    EXPECT_EQ(server.Requests().at(0), std::string("GET /update/eng/update.ini HTTP/1.0\r\n") + kDefaultAccept +
                                           "User-Agent: Mozilla/3.0 (compatible)\r\n"
                                           "Connection: Keep-Alive\r\n"
                                           "Host: 127.0.0.1\r\n\r\n");
    const std::vector<std::string> expected = {
        "state 1", "state 3", "state 4", "state 2", "SessionConnected", "state 5", "RequestHeaderBegin",
        "BeforeHeaderSend GET", "Command GET /update/eng/update.ini HTTP/1.0",
        "Command Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*",
        "Command User-Agent: Mozilla/3.0 (compatible)", "Command Connection: Keep-Alive",
        "Command Host: 127.0.0.1", "RequestHeaderEnd", "Command ", "HeaderBegin", "HeaderData HTTP/1.0 200 OK",
        "HeaderData Content-Type: text/plain", "state 6", "HeaderEnd", "DocBegin", "DocData", "DocEnd", "state 0",
        "RequestDone 1 0"};
    EXPECT_EQ(Collapsed(log.Events), expected);
    EXPECT_EQ(document.Bytes(), "hello world");
    EXPECT_EQ(log.Document, "hello world");
    EXPECT_EQ(client.ReceivedCount(), 11);
    EXPECT_EQ(client.ResponseStatus(), 200);
    EXPECT_EQ(client.ResponseReason(), "OK");
    EXPECT_EQ(client.ContentType(), "text/plain");
    EXPECT_EQ(client.DocumentName(), "update.ini");
    EXPECT_EQ(client.Port(), server.Port());
}

TEST_F(THttpCliTest, ConditionalLinesAndTheirLifetime)
{
    TLoopbackServer server(Answer("HTTP/1.0 200 OK\r\n\r\n"));
    client.SetURL("http://joe:pw@127.0.0.1:" + server.Port() + "/x");
    client.SetContentRangeBegin("100");
    client.SetCookie("a=b");
    client.SetNoCache(true);
    client.SetBandwidth(64);
    client.SetAccept("");
    EXPECT_EQ(BlockingGetResult(client), "");
    // A range serves one request; credentials from a URL stay for the next.
    EXPECT_EQ(client.ContentRangeBegin(), "");
    client.SetURL(server.Url("/y"));
    client.SetMultiThreaded(false);  // the application's message loop waits
    EXPECT_EQ(BlockingGetResult(client), "");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /x HTTP/1.0\r\nUser-Agent: Mozilla/3.0 (compatible)\r\nBandwidth: 64\r\n"
                           "Connection: Keep-Alive\r\nHost: 127.0.0.1\r\nPragma: no-cache\r\n"
                           "Authorization: Basic am9lOnB3\r\nCookie: a=b\r\nRange: bytes=100-\r\n\r\n");
    EXPECT_EQ(requests[1], "GET /y HTTP/1.0\r\nUser-Agent: Mozilla/3.0 (compatible)\r\nBandwidth: 64\r\n"
                           "Connection: Keep-Alive\r\nHost: 127.0.0.1\r\nPragma: no-cache\r\n"
                           "Authorization: Basic am9lOnB3\r\nCookie: a=b\r\n\r\n");
}

// Signals every read of the socket, so that a server can hold back the rest
// of a response until the client has taken what came before.
class TSteppedClient : public THttpCli {
public:
    bool WaitForReadAfter(int count)
    {
        std::unique_lock lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(kServerWaitMs), [&] { return m_Reads > count; });
    }
    int Reads()
    {
        std::lock_guard lock(m_Mutex);
        return m_Reads;
    }

protected:
    void HandleDataAvailable(TCustomWSocket* sender, WORD error) override
    {
        THttpCli::HandleDataAvailable(sender, error);
        std::lock_guard lock(m_Mutex);
        ++m_Reads;
        m_Changed.notify_all();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    int m_Reads = 0;
};

TEST(HttpResponse, HeaderSplitAtEveryByteGivesTheSameLinesAndEvents)
{
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML\nSet-Cookie: id=7; path=/\r\n"
                                 "X-Odd: a\rb\r\nContent-Length: 5\r\n\r\nhello";
    TSteppedClient client;
    client.SetMultiThreaded(true);
    std::atomic<std::size_t> split{0};
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        const std::size_t at = split.load();
        const int reads = client.Reads();
        connection.Write(response.substr(0, at));
        if (at > 0)
            client.WaitForReadAfter(reads);
        connection.Write(response.substr(at));
        connection.WaitForClose();
    });
    client.SetURL(server.Url("/files/setup.exe"));

    std::vector<std::string> baseline;
    for (std::size_t at = 0; at < response.size(); ++at) {
        SCOPED_TRACE("split at " + std::to_string(at));
        split = at;
        TEventLog log(client);
        ASSERT_EQ(BlockingGetResult(client), "");
        ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
        const auto events = Collapsed(log.From("HeaderBegin"));
        EXPECT_EQ(log.Document, "hello");
        if (at == 0) {
            baseline = events;
            const std::vector<std::string> expected = {
                "HeaderBegin", "HeaderData HTTP/1.1 200 OK", "HeaderData Content-Type: Text/HTML",
                "Cookie id=7; path=/ accepted", "HeaderData Set-Cookie: id=7; path=/", "HeaderData X-Odd: a\rb",
                "HeaderData Content-Length: 5", "state 6", "HeaderEnd", "DocBegin", "DocData", "DocEnd", "state 0",
                "RequestDone 1 0"};
            EXPECT_EQ(events, expected);
            EXPECT_EQ(client.ContentType(), "text/html");
            EXPECT_EQ(client.DocumentName(), "setup.htm");
        } else {
            EXPECT_EQ(events, baseline);
        }
    }
    EXPECT_EQ(server.ConnectionCount(), static_cast<int>(response.size()));
    // Every split was read in two parts at least.
    EXPECT_GE(client.Reads(), 2 * static_cast<int>(response.size()) - 1);
}

TEST_F(THttpCliTest, StatusLinesAndRecognisedHeaders)
{
    const struct {
        const char* response;
        int status;
        const char* document;
    } cases[] = {
        {"ICY 200 OK\r\nicy-name: radio\r\n\r\ndata", 0, "data"},
        {"HTTP/1.2 200 OK\r\n\r\nabc", 0, "abc"},
        {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 100-199/1000\r\nAccept-Ranges: bytes\r\n"
         "Content-Length:   3\r\nContent-Length: x\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\nabc",
         206, "abc"},
        // A length that is no number does not stop the header (nor, above, erase a good one).
        {"HTTP/1.0 200 OK\r\nContent-Length: many\r\n\r\nxyz", 200, "xyz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        TLoopbackServer server(Answer(c.response));
        document.Clear();
        client.SetURL(server.Url("/f"));
        client.SetReceiveStream(&document);
        EXPECT_EQ(BlockingGetResult(client), "");
        EXPECT_EQ(client.ResponseStatus(), c.status);
        EXPECT_EQ(document.Bytes(), c.document);
        // A response's range never becomes the next request's.
        EXPECT_EQ(server.Requests().at(0).find("Range:"), std::string::npos);
        if (c.status == 206) {
            EXPECT_EQ(client.ContentRangeBegin(), "100");
            EXPECT_EQ(client.ContentRangeEnd(), "199");
            EXPECT_EQ(client.AcceptRanges(), "bytes");
            EXPECT_EQ(client.ContentLength(), 3);
            // One bound set after it asks for a range of its own.
            client.SetContentRangeBegin("200");
            // Its own range must not reach the next row's request.
            TLoopbackServer next(Answer("HTTP/1.0 206 Partial\r\nContent-Range: bytes 200-209/1000\r\n\r\n"));
            client.SetURL(next.Url("/f"));
            EXPECT_EQ(BlockingGetResult(client), "");
            EXPECT_NE(next.Requests().at(0).find("\r\nRange: bytes=200-\r\n"), std::string::npos);
        }
    }
    // The next request has cleared the range.
    EXPECT_EQ(client.ContentRangeBegin(), "");
    EXPECT_EQ(client.AcceptRanges(), "");
    EXPECT_EQ(client.WwwAuthenticate(), std::vector<std::string>{"Basic realm=\"r\""});
    EXPECT_EQ(client.ContentLength(), -1);
}

TEST_F(THttpCliTest, HeaderlessHtmlDocument)
{
    TLoopbackServer server(Answer("<html>\r\n<body>x</body>\r\n</html>"));
    client.SetURL(server.Url("/"));
    client.SetReceiveStream(&document);
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(client.ResponseStatus(), 0);
    EXPECT_EQ(client.ContentType(), "text/html");
    // Complete lines lose their line ends; the unfinished last one is kept.
    EXPECT_EQ(document.Bytes(), "<html><body>x</body></html>");
}

TEST_F(THttpCliTest, RelocationsDirect)
{
    TLoopbackServer other([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\n\r\nelsewhere");
    });
    const struct {
        const char* path;
        std::string location;
        const char* secondRequestLine;
        const char* document;
    } cases[] = {
        {"/old/file.ini", "/new/file.ini", "GET /new/file.ini HTTP/1.0", "moved"},
        {"/dir/page1.htm", "page2.htm", "GET /dir/page2.htm HTTP/1.0", "moved"},
        {"/a", "http://localhost:" + other.Port() + "/x", nullptr, "elsewhere"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        TLoopbackServer server([&](TServerConnection& connection) {
            connection.ReadHeader();
            if (connection.Index() == 0)
                connection.Write("HTTP/1.0 302 Found\r\nLocation: " + c.location + "\r\n\r\nnot read");
            else
                connection.Write("HTTP/1.0 200 OK\r\n\r\nmoved");
        });
        TEventLog log(client);
        document.Clear();
        client.SetReceiveStream(&document);
        client.SetURL(server.Url(c.path));
        EXPECT_EQ(BlockingGetResult(client), "");
        EXPECT_EQ(document.Bytes(), c.document);
        EXPECT_TRUE(log.Has("LocationChange"));
        if (c.secondRequestLine) {
            const auto second = server.Requests().at(1);
            EXPECT_EQ(second.substr(0, second.find('\r')), c.secondRequestLine);
        }
    }
    const auto moved = other.Requests().at(0);
    EXPECT_EQ(moved.substr(0, moved.find('\r')), "GET /x HTTP/1.0");
    EXPECT_NE(moved.find("\r\nHost: localhost\r\n"), std::string::npos);
    EXPECT_EQ(client.Port(), other.Port());
}

TEST_F(THttpCliTest, PostBodyInPiecesThenRelocatedAsGet)
{
    const std::string body(20000, 'b');
    std::string received;
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        if (connection.Index() == 0) {
            received = connection.ReadBytes(body.size());
            connection.Write("HTTP/1.0 302 Found\r\nLocation: /done\r\n\r\n");
        } else {
            connection.Write("HTTP/1.0 200 OK\r\n\r\nthanks");
        }
    });
    TMemoryStream upload;
    upload.WriteBuffer(body.data(), static_cast<std::int32_t>(body.size()));
    upload.Seek(0, TStream::Origin::Beginning);
    client.SetUploadStream(&upload);
    client.SetURL(server.Url("/form"));
    TEventLog log(client);
    client.RunRequest(THttpRequest::hrPost);
    ASSERT_TRUE(PumpUntil([&] { return log.Done; }));

    EXPECT_EQ(received, body);
    EXPECT_EQ(client.UploadedCount(), 20000);
    EXPECT_EQ(client.RequestKind(), THttpRequest::hrGet);
    EXPECT_EQ(log.From("SendBegin").at(1), "SendData 8193");
    EXPECT_TRUE(log.Has("SendData 3614"));
    EXPECT_TRUE(log.Has("SendEnd"));
    EXPECT_EQ(log.Events.back(), "RequestDone 1 0");
    const auto requests = server.Requests();
    EXPECT_NE(requests.at(0).find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos);
    EXPECT_NE(requests.at(0).find("\r\nContent-Length: 20000\r\n"), std::string::npos);
    EXPECT_EQ(requests.at(1).substr(0, 22), "GET /done HTTP/1.0\r\nAc");
    EXPECT_EQ(requests.at(1).find("Content-Length"), std::string::npos);
}

TEST_F(THttpCliTest, EndsOfTheDocument)
{
    // The client itself ends a document whose announced length has come,
    // although the server keeps the connection open.
    std::atomic<bool> closedByClient{false};
    TLoopbackServer keepAlive([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\nhello");
        closedByClient = connection.WaitForClose();
    });
    TEventLog log(client);
    client.SetURL(keepAlive.Url("/k"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(log.Document, "hello");
    EXPECT_TRUE(log.Has("DocEnd"));
    EXPECT_TRUE(PumpUntil([&] { return closedByClient.load(); }));

    // No body: ends at the header and leaves the connection to the server;
    // the next request does not trip over it.
    std::atomic<int> closes{0};
    TLoopbackServer empty([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
        if (connection.WaitForClose())
            ++closes;
    });
    TEventLog emptyLog(client);
    client.SetURL(empty.Url("/0"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_FALSE(emptyLog.Has("DocBegin"));
    EXPECT_FALSE(emptyLog.Has("DocEnd"));
    EXPECT_EQ(closes.load(), 0);
    EXPECT_EQ(BlockingGetResult(client), "");
    ASSERT_TRUE(PumpUntil([&] { return closes.load() == 1; }));
    // Abort on an idle client only closes what is still open.
    client.AbortRequest();
    ASSERT_TRUE(PumpUntil([&] { return closes.load() == 2; }));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(std::count_if(emptyLog.Events.begin(), emptyLog.Events.end(),
                            [](const std::string& e) { return e.rfind("RequestDone", 0) == 0; }),
              2);
    EXPECT_EQ(client.RequestState(), TRequestState::rsIdle);
}

TEST_F(THttpCliTest, ResponseEndsWhereItEnds)
{
    // What follows the end of a response is no part of it: it is dropped
    // and the connection, out of step, closed by the client.
    const struct {
        THttpRequest kind;
        const char* response;
        std::string later;
        int status;
    } cases[] = {
        {THttpRequest::hrGet, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nHTTP/1.0 500 Injected\r\n\r\n", "", 200},
        {THttpRequest::hrGet, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", std::string(9000, 'a'), 200},
        {THttpRequest::hrHead, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "", 200},
        {THttpRequest::hrGet, "HTTP/1.0 204 No Content\r\n\r\nhello", "", 204},
        {THttpRequest::hrGet, "HTTP/1.0 304 Not Modified\r\nContent-Length: 5\r\n\r\nhello", "", 304},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        std::atomic<bool> closedByClient{false};
        TLoopbackServer server([&](TServerConnection& connection) {
            connection.ReadHeader();
            connection.Write(c.response);
            connection.Write(c.later);
            closedByClient = connection.WaitForClose();
        });
        TEventLog log(client);
        document.Clear();
        client.SetReceiveStream(&document);
        client.SetURL(server.Url("/e"));
        EXPECT_EQ(BlockingGetResult(client, c.kind), "");
        ASSERT_TRUE(PumpUntil([&] { return closedByClient && log.Done; }));
        EXPECT_EQ(client.ResponseStatus(), c.status);
        EXPECT_EQ(client.ResponseReason().find("Injected"), std::string::npos);
        EXPECT_EQ(document.Bytes(), "");
        EXPECT_EQ(client.ReceivedCount(), 0);
        EXPECT_EQ(std::count(log.Events.begin(), log.Events.end(), "HeaderEnd"), 1);
        EXPECT_EQ(log.DoneError, 0);
    }
}

TEST_F(THttpCliTest, RequestsThatFail)
{
    const struct {
        std::string response;
        bool close;  // after the response; otherwise the server waits for the client
        const char* result;
        int doneError = 0;
        const char* document = "";
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n0123456789", true,
         "404 Document cut short: 10 of 100000 bytes", 10053, "0123456789"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2147483652\r\n\r\nhello", true,
         "404 Document cut short: 5 of 2147483652 bytes", 10053, "hello"},
        // Only the announced length is delivered, but it cannot be trusted.
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello and more", false, "404 Document longer than announced",
         0, "hello"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\nhello", false,
         "404 Conflicting Content-Length"},
        {"HTTP/1.0 302 Found\r\nLocation: /a\rX-Evil: 1\r\n\r\n", false, "404 Invalid location"},
        {"HTTP/1.0 302 Found\r\nLocation: /a\x7f\r\n\r\n", false, "404 Invalid location"},
        {"HTTP/1.0 200 OK\r\n" + [] {
             std::string flood;
             while (flood.size() < (1 << 20))
                 flood += "X-Flood: 1\r\n";
             return flood;
         }(),
         false, "404 HTTP header too long"},
    };
    client.SetTimeout(5);  // none of them may end by it
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response.substr(0, 60));
        TLoopbackServer server([&](TServerConnection& connection) {
            connection.ReadHeader();
            connection.Write(c.response);
            if (!c.close)
                connection.WaitForClose();
        });
        TEventLog log(client);
        document.Clear();
        client.SetReceiveStream(&document);
        client.SetURL(server.Url("/f"));
        EXPECT_EQ(BlockingGetResult(client), c.result);
        ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
        EXPECT_EQ(log.DoneError, c.doneError);
        EXPECT_EQ(document.Bytes(), c.document);
        EXPECT_EQ(client.ReceivedCount(), static_cast<std::int32_t>(document.Bytes().size()));
        EXPECT_EQ(server.ConnectionCount(), 1);
    }
}

TEST_F(THttpCliTest, PostRelocatedBeforeItsBodyIsSentSendsNoBodyWithTheGet)
{
    // More than the system buffers hold while the server reads none of it.
    const std::string body(32 << 20, 'b');
    std::promise<void> getServed;
    std::string afterGet = "not read";
    {
        TLoopbackServer server(
            [&](TServerConnection& connection) {
                connection.ReadHeader();
                if (connection.Index() == 0) {
                    connection.Write("HTTP/1.0 302 Found\r\nLocation: /done\r\n\r\n");
                    getServed.get_future().wait_for(std::chrono::milliseconds(kServerWaitMs));
                    return;
                }
                connection.Write("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
                afterGet = connection.ReadBytes(1);  // nothing, once the client has closed
                getServed.set_value();
            },
            TLoopbackServer::TServing::AtOnce);
        TMemoryStream upload;
        upload.WriteBuffer(body.data(), static_cast<std::int32_t>(body.size()));
        upload.Seek(0, TStream::Origin::Beginning);
        client.SetUploadStream(&upload);
        client.SetReceiveStream(&document);
        client.SetURL(server.Url("/form"));
        TEventLog log(client);
        EXPECT_EQ(BlockingGetResult(client, THttpRequest::hrPost), "");
        ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
        EXPECT_FALSE(log.Has("SendEnd"));
        EXPECT_EQ(document.Bytes(), "ok");
        const auto get = server.Requests().at(1);
        EXPECT_EQ(get.substr(0, get.find('\r')), "GET /done HTTP/1.0");
    }
    EXPECT_EQ(afterGet, "");
}

TEST_F(THttpCliTest, BadPortsAndBindsEndTheRequestAtOnce)
{
    TLoopbackServer server([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:99999/\r\n\r\n");
    });
    const struct {
        std::string url;
        const char* localAddr;
        std::string result;
    } cases[] = {
        {"http://127.0.0.1:99999/", "0.0.0.0", "404 can't connect: invalid port 99999"},
        {"http://127.0.0.1:abc/", "0.0.0.0", "404 can't connect: invalid port abc"},
        {"http://127.0.0.1:65536/", "0.0.0.0", "404 can't connect: invalid port 65536"},
        {server.Url("/moved"), "0.0.0.0", "404 can't connect: invalid port 99999"},
        // An address of no interface here (TEST-NET-1): the bind fails, and
        // no connection is made in spite of it.
        {server.Url("/"), "192.0.2.1", "404 can't connect: winsock.bind failed"},
    };
    client.SetTimeout(5);  // the faults hung without it
    int socketErrors = 0;
    client.OnSocketError = [&](THttpCli*) { ++socketErrors; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " from " + c.localAddr);
        TEventLog log(client);
        client.SetLocalAddr(c.localAddr);
        client.SetURL(c.url);
        const std::string result = BlockingGetResult(client);
        EXPECT_EQ(result.substr(0, c.result.size()), c.result);
        EXPECT_GT(result.size(), std::string("404 can't connect: ").size());
        ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
        EXPECT_NE(log.DoneError, 0);
    }
    // The socket's own failure is still reported as one (the bind's).
    EXPECT_EQ(socketErrors, 1);
}

TEST_F(THttpCliTest, ThroughAProxyExactlyAndAHostlessLocationKeepsThePort)
{
    TLoopbackServer proxy([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write(connection.Index() == 0 ? "HTTP/1.0 302 Found\r\nLocation: http:///y\r\n\r\n"
                                                 : "HTTP/1.0 200 OK\r\n\r\nproxied");
    });
    client.SetProxy("127.0.0.1:" + proxy.Port());
    client.SetURL("http://example.test:8080/x");
    client.SetReceiveStream(&document);
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(document.Bytes(), "proxied");
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], std::string("GET http://example.test:8080/x HTTP/1.0\r\n") + kDefaultAccept +
                               "User-Agent: Mozilla/3.0 (compatible)\r\nConnection: Keep-Alive\r\n"
                               "Host: example.test\r\n\r\n");
    EXPECT_EQ(requests[1].substr(0, requests[1].find('\r')), "GET http://example.test:8080/y HTTP/1.0");
}

TEST_F(THttpCliTest, CredentialsOfAUrlStayWithItsHost)
{
    TLoopbackServer other(Answer("HTTP/1.0 200 OK\r\n\r\nthere"));
    TLoopbackServer server(Answer("HTTP/1.0 302 Found\r\nLocation: http://localhost:" + other.Port() + "/b\r\n\r\n"));
    client.SetURL("http://joe:pw@127.0.0.1:" + server.Port() + "/a");
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_NE(server.Requests().at(0).find("\r\nAuthorization: Basic am9lOnB3\r\n"), std::string::npos);
    EXPECT_EQ(other.Requests().at(0).find("Authorization"), std::string::npos);
}

TEST_F(THttpCliTest, HandlersEditTheRequestLines)
{
    TLoopbackServer server(Answer("HTTP/1.0 200 OK\r\n\r\n"));
    client.OnBeforeHeaderSend = [](THttpCli*, const std::string&, std::vector<std::string>& lines) {
        lines.erase(lines.begin() + 1);  // Accept
        lines.push_back("X-Extra: 1");
    };
    client.OnCommand = [](THttpCli*, std::string& line) {
        if (line.rfind("User-Agent:", 0) == 0)
            line = "User-Agent: QV";
    };
    client.SetURL(server.Url("/e"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(server.Requests().at(0), "GET /e HTTP/1.0\r\nUser-Agent: QV\r\nConnection: Keep-Alive\r\n"
                                       "Host: 127.0.0.1\r\nX-Extra: 1\r\n\r\n");
}

TEST_F(THttpCliTest, RequestDoneReportsTheEndedRequest)
{
    // A handler of the idle state starts the next request at once.
    TLoopbackServer server(Answer("HTTP/1.0 200 OK\r\n\r\n"));
    std::vector<std::string> done;
    client.OnRequestDone = [&](THttpCli*, THttpRequest kind, WORD error) {
        done.push_back(std::to_string(static_cast<int>(kind)) + " " + std::to_string(error));
    };
    client.OnStateChange = [&](THttpCli* c) {
        if (c->RequestState() == TRequestState::rsIdle && c->RequestKind() == THttpRequest::hrGet) {
            c->SetURL(server.Url("/"));
            c->StartRequest(THttpRequest::hrHead);
        }
    };
    client.SetURL("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/");
    client.StartRequest(THttpRequest::hrGet);
    ASSERT_TRUE(PumpUntil([&] { return done.size() == 2; }));
    EXPECT_EQ(done, (std::vector<std::string>{"1 10061", "3 0"}));
}

// Posts a message to its own window for every piece, as the download
// worker does, and counts how many of them have not been taken yet.
class TPostingClient : public THttpCli {
public:
    static constexpr UINT kPieceMessage = WM_USER + 100;
    TPostingClient()
    {
        OnDocData = [this](THttpCli*, const void*, std::int32_t) {
            MostWaiting = std::max(MostWaiting, m_Posted - m_Taken);
            ++m_Posted;
            PostMessageA(WindowHandle(), kPieceMessage, 0, 0);
        };
    }
    int MostWaiting = 0;

protected:
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != kPieceMessage)
            return THttpCli::HandleWindowMessage(message, wParam, lParam);
        ++m_Taken;
        return 0;
    }

private:
    int m_Posted = 0;
    int m_Taken = 0;
};

TEST(HttpCliQueue, PiecesOfALongDocumentLetTheQueueRunBetweenThem)
{
    // A server far faster than the client: the thread must still take its
    // messages between pieces, or they pile up for the whole document. No
    // two neighbouring kibibytes alike: a piece lost, doubled or moved shows.
    std::string body(4 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>((i >> 10) * 7 + i);
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        connection.WaitForClose();
    });
    TPostingClient client;
    client.SetMultiThreaded(true);
    TMemoryStream document;
    client.SetReceiveStream(&document);
    client.SetURL(server.Url("/big.bin"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_TRUE(document.Bytes() == body);
    EXPECT_LE(client.MostWaiting, 1);
}

TEST(HttpCliLarge, DocumentsBeyondTwoGibibytesArriveWhole)
{
    // No length announced: the end is the close. The 32-bit count wraps.
    const std::string mebibyte(1 << 20, 'z');
    constexpr std::int64_t kMebibytes = 2049;
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\n\r\n");
        for (int i = 0; i < kMebibytes; ++i)
            connection.Write(mebibyte);
    });
    THttpCli client;
    std::int64_t delivered = 0;
    client.OnDocData = [&](THttpCli*, const void*, std::int32_t length) { delivered += length; };
    client.SetURL(server.Url("/large.bin"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(delivered, kMebibytes << 20);
    EXPECT_EQ(client.ReceivedCount(), static_cast<std::int32_t>(static_cast<std::uint32_t>(kMebibytes << 20)));
}

TEST_F(THttpCliTest, ErrorStatusDeliversOnlyWhatCameWithTheHeader)
{
    std::atomic<bool> closedByClient{false};
    const std::string firstPart(100, 'e');
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 404 Not Found\r\n\r\n" + firstPart);
        closedByClient = connection.WaitForClose();
        connection.Write(std::string(100000, 'x'));
    });
    client.SetURL(server.Url("/missing"));
    client.SetReceiveStream(&document);
    EXPECT_EQ(BlockingGetResult(client), "404 Not Found");
    // One small write arrives in one read.
    EXPECT_EQ(document.Bytes(), firstPart);
    EXPECT_TRUE(PumpUntil([&] { return closedByClient.load(); }));
}

TEST_F(THttpCliTest, LocalFailures)
{
    // A server that sends a little now and then, longer in all than the
    // time-out, and then falls silent: only the silence counts.
    TLoopbackServer slow([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\n\r\n");
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // pacing, not waiting
            connection.Write("x");
        }
        connection.WaitForClose();
    });
    TEventLog log(client);
    client.SetTimeout(1);
    client.SetURL(slow.Url("/"));
    EXPECT_EQ(BlockingGetResult(client), "404 Connection timed out");
    ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
    EXPECT_EQ(log.DoneError, 10060);
    EXPECT_EQ(log.Document, "xxxxxx");
    client.SetTimeout(0);

    TLoopbackServer loop([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n");
    });
    client.SetURL(loop.Url("/"));
    EXPECT_EQ(BlockingGetResult(client), "404 Too many relocations");
    EXPECT_EQ(loop.ConnectionCount(), 21);

    TLoopbackServer longLine([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write("HTTP/1.0 200 OK\r\nX-Long: " + std::string(9000, 'a'));
        connection.WaitForClose();
    });
    client.SetURL(longLine.Url("/"));
    EXPECT_EQ(BlockingGetResult(client), "404 HTTP line too long");

    // A port nobody listens on.
    client.SetURL("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/");
    EXPECT_EQ(BlockingGetResult(client), "404 " + SocketErrorText(10061) + " (Error #10061)");
}

TEST_F(THttpCliTest, AbortInEveryState)
{
    TLoopbackServer server([](TServerConnection& connection) {
        if (!connection.ReadHeader().empty())
            connection.Write("HTTP/1.0 200 OK\r\n\r\npartial");
        connection.WaitForClose();
    });
    client.SetURL(server.Url("/"));
    for (auto state : {TRequestState::rsStarting, TRequestState::rsResolving, TRequestState::rsConnecting,
                       TRequestState::rsConnected, TRequestState::rsAwaitingHeader,
                       TRequestState::rsReceivingBody}) {
        SCOPED_TRACE(static_cast<int>(state));
        TEventLog log(client);
        client.OnStateChange = [&, state](THttpCli* c) {
            log.Events.push_back("state " + std::to_string(static_cast<int>(c->RequestState())));
            if (c->RequestState() == state)
                c->AbortRequest();
        };
        EXPECT_EQ(BlockingGetResult(client), "404 Connection aborted on request");
        ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
        EXPECT_EQ(log.DoneError, 3);
        EXPECT_EQ(log.Events.back(), "RequestDone 1 3");
        EXPECT_EQ(client.RequestState(), TRequestState::rsIdle);
    }
}

TEST_F(THttpCliTest, AbortFromAnotherThread)
{
    std::promise<void> requested;
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        requested.set_value();
        connection.WaitForClose();
    });
    TLoopbackServer healthy(Answer("HTTP/1.0 200 OK\r\n\r\n"));
    // An abort asked for while idle reaches no later request.
    std::thread([&] { client.AbortRequest(); }).join();
    client.SetURL(healthy.Url("/"));
    EXPECT_EQ(BlockingGetResult(client), "");

    // The abort runs on the client's own thread.
    const DWORD owner = GetCurrentThreadId();
    std::atomic<bool> changedElsewhere{false};
    client.OnStateChange = [&](THttpCli*) { changedElsewhere = changedElsewhere || GetCurrentThreadId() != owner; };
    client.SetURL(server.Url("/"));
    std::thread aborter([&] {
        requested.get_future().wait();
        client.AbortRequest();
    });
    EXPECT_EQ(BlockingGetResult(client), "404 Connection aborted on request");
    aborter.join();
    EXPECT_FALSE(changedElsewhere);
}

TEST_F(THttpCliTest, BusyAndNothingToPost)
{
    auto code = [&](THttpRequest kind) {
        try {
            client.StartRequest(kind);
        } catch (const EHttpException& e) {
            return std::to_string(e.ErrorCode()) + " " + e.Message();
        }
        return std::string();
    };
    EXPECT_EQ(code(THttpRequest::hrPost), "2 HTTP component has nothing to post");
    EXPECT_EQ(client.RequestState(), TRequestState::rsIdle);

    TLoopbackServer silent([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.WaitForClose();
    });
    client.SetURL(silent.Url("/"));
    TEventLog log(client);
    EXPECT_EQ(code(THttpRequest::hrGet), "");
    EXPECT_EQ(BlockingGetResult(client), "1 HTTP component is busy");
    EXPECT_NE(client.RequestState(), TRequestState::rsIdle);
    client.AbortRequest();
    ASSERT_TRUE(PumpUntil([&] { return log.Done; }));
    EXPECT_EQ(log.DoneError, 3);
}

}  // namespace
