// ctest-linux-only: needs the system's web, proxy and SOCKS servers
// The client against real servers from the system's packages: a web
// server, an HTTP proxy in front of it and a SOCKS 5 server.
#include "http/HttpProt.h"
#include "support/HttpTestSupport.h"
#include "common/ServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace {

struct TServers {
    std::string Folder;
    int WebPort = 0;
    int ProxyPort = 0;
    int SocksPort = 0;
    std::string BigFile;
    std::unique_ptr<TServerProcess> Web;
    std::unique_ptr<TServerProcess> Proxy;
    std::unique_ptr<TServerProcess> Socks;
};

TServers* g_Servers = nullptr;

std::string WebConfig(const std::string& folder, int port)
{
    const std::string p = std::to_string(port);
    return "worker_processes 1;\ndaemon off;\nmaster_process off;\n"
           "error_log " + folder + "/nginx.log;\npid " + folder + "/nginx.pid;\n"
           "events { worker_connections 64; }\n"
           "http {\n  access_log off;\n  keepalive_timeout 60;\n"
           "  client_body_temp_path " + folder + "/tmp;\n  proxy_temp_path " + folder + "/tmp;\n"
           "  fastcgi_temp_path " + folder + "/tmp;\n  uwsgi_temp_path " + folder + "/tmp;\n"
           "  scgi_temp_path " + folder + "/tmp;\n"
           "  server {\n    listen 127.0.0.1:" + p + ";\n    root " + folder + "/www;\n"
           "    location = /old { return 301 /big.bin; }\n"
           "    location = /temp { return 302 /small.txt; }\n  }\n}\n";
}

class RealServers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto servers = std::make_unique<TServers>();
        servers->Folder = MakeScratchFolder("http");
        const std::string& folder = servers->Folder;
        ::mkdir((folder + "/www").c_str(), 0755);
        ::mkdir((folder + "/tmp").c_str(), 0755);
        for (int i = 0; i < 300000; ++i)
            servers->BigFile += static_cast<char>((i * 7 + i / 251) & 0xFF);
        WriteTextFile(folder + "/www/big.bin", servers->BigFile);
        WriteTextFile(folder + "/www/small.txt", "small\n");

        servers->WebPort = FreeLoopbackPort();
        WriteTextFile(folder + "/nginx.conf", WebConfig(folder, servers->WebPort));
        if (!FindProgram("nginx").empty())
            servers->Web = std::make_unique<TServerProcess>(
                std::vector<std::string>{"nginx", "-c", folder + "/nginx.conf", "-p", folder}, servers->WebPort,
                folder + "/nginx.out");

        servers->ProxyPort = FreeLoopbackPort();
        WriteTextFile(folder + "/tinyproxy.conf", "Port " + std::to_string(servers->ProxyPort) +
                                                      "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
                                                      "MaxClients 10\nLogLevel Error\n");
        if (!FindProgram("tinyproxy").empty())
            servers->Proxy = std::make_unique<TServerProcess>(
                std::vector<std::string>{"tinyproxy", "-d", "-c", folder + "/tinyproxy.conf"}, servers->ProxyPort,
                folder + "/tinyproxy.out");

        servers->SocksPort = FreeLoopbackPort();
        WriteTextFile(folder + "/danted.conf", "logoutput: stderr\ninternal: 127.0.0.1 port = " +
                                                   std::to_string(servers->SocksPort) +
                                                   "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
                                                   "user.privileged: root\nuser.unprivileged: nobody\n"
                                                   "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n"
                                                   "socks pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n");
        if (!FindProgram("danted").empty())
            servers->Socks = std::make_unique<TServerProcess>(
                std::vector<std::string>{"danted", "-f", folder + "/danted.conf"}, servers->SocksPort,
                folder + "/danted.out");
        g_Servers = servers.release();
    }

    static void TearDownTestSuite()
    {
        const std::string folder = g_Servers->Folder;
        delete g_Servers;  // stops the servers first
        g_Servers = nullptr;
        if (!::testing::UnitTest::GetInstance()->Failed())
            std::filesystem::remove_all(folder);
    }

    void SetUp() override
    {
        if (!g_Servers->Web || !g_Servers->Web->Ready())
            GTEST_SKIP() << "nginx did not start; see " << g_Servers->Folder;
        client.SetMultiThreaded(true);
        client.SetReceiveStream(&document);
    }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(g_Servers->WebPort) + path;
    }

    THttpCli client;
    TMemoryStream document;
};

TEST_F(RealServers, LargeFileEndsPromptlyOnAKeptAliveConnection)
{
    TEventLog log(client);
    client.SetURL(Url("/big.bin"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(BlockingGetResult(client), "");
    // nginx would hold the connection for its keep-alive time of a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(client.ResponseStatus(), 200);
    EXPECT_EQ(client.ContentLength(), 300000);
    EXPECT_EQ(client.ReceivedCount(), 300000);
    EXPECT_TRUE(document.Bytes() == g_Servers->BigFile);
    EXPECT_TRUE(log.Has("DocEnd"));
}

TEST_F(RealServers, NotFoundAndRelocations)
{
    client.SetURL(Url("/nothing-here"));
    EXPECT_EQ(BlockingGetResult(client), "404 Not Found");

    for (const char* path : {"/old", "/temp"}) {
        SCOPED_TRACE(path);
        document.Clear();
        TEventLog log(client);
        client.SetURL(Url(path));
        EXPECT_EQ(BlockingGetResult(client), "");
        EXPECT_TRUE(log.Has("LocationChange"));
        EXPECT_EQ(client.ResponseStatus(), 200);
    }
    EXPECT_EQ(document.Bytes(), "small\n");
    EXPECT_EQ(client.DocumentName(), "small.txt");
}

TEST_F(RealServers, ThroughAnHttpProxy)
{
    if (!g_Servers->Proxy || !g_Servers->Proxy->Ready())
        GTEST_SKIP() << "tinyproxy did not start; see " << g_Servers->Folder;
    client.SetProxy("127.0.0.1:" + std::to_string(g_Servers->ProxyPort));
    client.SetURL(Url("/small.txt"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(document.Bytes(), "small\n");
    EXPECT_EQ(client.Port(), std::to_string(g_Servers->ProxyPort));

    // A relocation goes back to the proxy at the port that Proxy names.
    document.Clear();
    client.SetURL(Url("/temp"));
    EXPECT_EQ(BlockingGetResult(client), "");
    EXPECT_EQ(document.Bytes(), "small\n");
    EXPECT_EQ(client.Port(), std::to_string(g_Servers->ProxyPort));
}

TEST_F(RealServers, ThroughASocks5Server)
{
    if (!g_Servers->Socks || !g_Servers->Socks->Ready())
        GTEST_SKIP() << "danted did not start; see " << g_Servers->Folder;
    for (const char* path : {"/small.txt", "/temp"}) {
        SCOPED_TRACE(path);
        document.Clear();
        int socksConnected = 0;
        client.OnSocksConnected = [&](auto&&...) { ++socksConnected; };
        client.SetSocksServer("127.0.0.1");
        client.SetSocksPort(std::to_string(g_Servers->SocksPort));
        client.SetSocksLevel("5");
        client.SetURL(Url(path));
        EXPECT_EQ(BlockingGetResult(client), "");
        EXPECT_EQ(document.Bytes(), "small\n");
        // A relocation's connection goes through the SOCKS server as well.
        EXPECT_EQ(socksConnected, std::string(path) == "/temp" ? 2 : 1);
    }
}

}  // namespace
