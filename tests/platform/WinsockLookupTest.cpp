// ctest-labels: threads
// Host, service and protocol lookups of the Windows Sockets library, the
// asynchronous ones answered through a real window.
#include "support/TestWindow.h"
#include "support/WinsockModule.h"
#include "support/WineQuirks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kLookupMessage = WM_USER + 2;

class WinsockLookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(ws.Module, nullptr) << "cannot load " << WinsockModulePath();
        WSADATA data;
        ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override { EXPECT_EQ(ws.WSACleanup(), 0); }

    // Waits for the completion of `task`; returns its lParam, or -1.
    LPARAM WaitCompletion(HANDLE task)
    {
        const MSG* found = nullptr;
        PumpMessagesUntil([&] {
            for (const MSG& msg : window.Received())
                if (msg.message == kLookupMessage && msg.wParam == reinterpret_cast<WPARAM>(task))
                    found = &msg;
            return found != nullptr;
        });
        return found ? found->lParam : -1;
    }

    int Completions(HANDLE task) const
    {
        int count = 0;
        for (const MSG& msg : window.Received())
            count += msg.message == kLookupMessage && msg.wParam == reinterpret_cast<WPARAM>(task);
        return count;
    }

    // Every pointer of the entry must point into the buffer.
    void ExpectInside(const void* pointer, std::size_t length = 1)
    {
        const char* p = static_cast<const char*>(pointer);
        EXPECT_GE(p, m_Buffer);
        EXPECT_LE(p + length, m_Buffer + sizeof m_Buffer);
    }

    std::vector<std::string> CheckedAddresses(const hostent* entry)
    {
        std::vector<std::string> addresses;
        ExpectInside(entry->h_addr_list, sizeof(char*));
        for (char** item = entry->h_addr_list; *item != nullptr; ++item) {
            ExpectInside(*item, 4);
            in_addr address;
            std::memcpy(&address.s_addr, *item, 4);
            addresses.emplace_back(ws.inet_ntoa(address));
        }
        return addresses;
    }

    const TWinsock& ws = Winsock();
    TTestWindow window;
    alignas(hostent) char m_Buffer[MAXGETHOSTSTRUCT];
};

TEST_F(WinsockLookupTest, ForwardLookupsLayTheEntryOutInTheCallersBuffer)
{
    HANDLE task = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "localhost", m_Buffer, sizeof m_Buffer);
    ASSERT_NE(task, nullptr);
    LPARAM reply = WaitCompletion(task);
    ASSERT_NE(reply, -1);
    EXPECT_EQ(WSAGETASYNCERROR(reply), 0);
    EXPECT_GT(WSAGETASYNCBUFLEN(reply), sizeof(hostent));
    EXPECT_LE(WSAGETASYNCBUFLEN(reply), sizeof m_Buffer);

    const auto* entry = reinterpret_cast<const hostent*>(m_Buffer);
    ExpectInside(entry->h_name);
    EXPECT_STREQ(entry->h_name, "localhost");
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ExpectInside(entry->h_aliases, sizeof(char*));
    for (char** alias = entry->h_aliases; *alias != nullptr; ++alias)
        ExpectInside(*alias);
    std::vector<std::string> addresses = CheckedAddresses(entry);
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.front(), "127.0.0.1");

    HANDLE dotted = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "127.0.0.1", m_Buffer, sizeof m_Buffer);
    ASSERT_NE(dotted, nullptr);
    EXPECT_NE(dotted, task);
    reply = WaitCompletion(dotted);
    EXPECT_EQ(WSAGETASYNCERROR(reply), 0);
    EXPECT_EQ(CheckedAddresses(entry), std::vector<std::string>{"127.0.0.1"});
}

TEST_F(WinsockLookupTest, ReverseLookupFindsTheHostName)
{
    const u_long loopback = ws.inet_addr("127.0.0.1");
    HANDLE task = ws.WSAAsyncGetHostByAddr(window.Handle(), kLookupMessage, reinterpret_cast<const char*>(&loopback),
                                           4, PF_INET, m_Buffer, sizeof m_Buffer);
    ASSERT_NE(task, nullptr);
    LPARAM reply = WaitCompletion(task);
    ASSERT_EQ(WSAGETASYNCERROR(reply), 0);
    const auto* entry = reinterpret_cast<const hostent*>(m_Buffer);
    ExpectInside(entry->h_name);
    EXPECT_STRNE(entry->h_name, "");
    EXPECT_EQ(CheckedAddresses(entry), std::vector<std::string>{"127.0.0.1"});
}

TEST_F(WinsockLookupTest, FailuresArriveAsTheirErrorsAndLeaveTheBufferAlone)
{
    std::memset(m_Buffer, 0x5A, sizeof m_Buffer);
    HANDLE missing =
        ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "no-such-host.invalid", m_Buffer, sizeof m_Buffer);
    ASSERT_NE(missing, nullptr);
    LPARAM reply = WaitCompletion(missing);
    EXPECT_EQ(WSAGETASYNCERROR(reply), WSAHOST_NOT_FOUND);

    HANDLE cramped = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "localhost", m_Buffer, 16);
    ASSERT_NE(cramped, nullptr);
    reply = WaitCompletion(cramped);
    EXPECT_EQ(WSAGETASYNCERROR(reply), WSAENOBUFS);
    EXPECT_GT(WSAGETASYNCBUFLEN(reply), 16);  // the length it would need
    for (unsigned char byte : m_Buffer)
        ASSERT_EQ(byte, 0x5A);

    // No buffer at all is only found out when the answer is there.
    const u_long loopback = ws.inet_addr("127.0.0.1");
    HANDLE unbuffered = ws.WSAAsyncGetHostByAddr(window.Handle(), kLookupMessage,
                                                 reinterpret_cast<const char*>(&loopback), 4, PF_INET, nullptr, 0);
    ASSERT_NE(unbuffered, nullptr);
    reply = WaitCompletion(unbuffered);
    EXPECT_EQ(WSAGETASYNCERROR(reply), WSAENOBUFS);
    EXPECT_GT(WSAGETASYNCBUFLEN(reply), sizeof(hostent));
}

TEST_F(WinsockLookupTest, CancelStopsAPendingLookupAndRefusesOthers)
{
    std::memset(m_Buffer, 0x5A, sizeof m_Buffer);
    HANDLE task = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "localhost", m_Buffer, sizeof m_Buffer);
    ASSERT_NE(task, nullptr);
    const int cancelled = ws.WSACancelAsyncRequest(task);
    // A later lookup has finished; a cancelled one never posts nor writes.
    alignas(hostent) char other[MAXGETHOSTSTRUCT];
    HANDLE later = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "localhost", other, sizeof other);
    ASSERT_NE(WaitCompletion(later), -1);
    if (RunningUnderWine()) {
        WaitCompletion(task);  // still runs, and writes into the buffer
        GTEST_SKIP() << "Wine's WSACancelAsyncRequest cancels nothing and always succeeds";
    }
    if (cancelled == 0) {
        PumpMessagesUntil([&] { return Completions(task) > 0; }, std::chrono::milliseconds(300));
        EXPECT_EQ(Completions(task), 0);
        for (unsigned char byte : m_Buffer)
            ASSERT_EQ(byte, 0x5A);
    } else {
        // It had finished already: the cancel fails and the message comes.
        EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY);
        EXPECT_NE(WaitCompletion(task), -1);
    }

    // Finished and unknown tasks cannot be cancelled.
    EXPECT_EQ(ws.WSACancelAsyncRequest(later), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY);
    EXPECT_EQ(ws.WSACancelAsyncRequest(reinterpret_cast<HANDLE>(0x7FFFFF00)), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
}

TEST_F(WinsockLookupTest, DatabasesAnswerTheStandardNames)
{
    const hostent* host = ws.gethostbyname("localhost");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->h_length, 4);
    in_addr first;
    std::memcpy(&first.s_addr, host->h_addr_list[0], 4);
    EXPECT_STREQ(ws.inet_ntoa(first), "127.0.0.1");
    EXPECT_EQ(ws.gethostbyname("no-such-host.invalid"), nullptr);
    EXPECT_EQ(ws.WSAGetLastError(), WSAHOST_NOT_FOUND);

    const servent* http = ws.getservbyname("http", "tcp");
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(ws.ntohs(static_cast<u_short>(http->s_port)), 80);
    EXPECT_STREQ(http->s_proto, "tcp");
    const servent* anyProtocol = ws.getservbyname("ftp", nullptr);
    ASSERT_NE(anyProtocol, nullptr);
    EXPECT_EQ(ws.ntohs(static_cast<u_short>(anyProtocol->s_port)), 21);
    EXPECT_EQ(ws.getservbyname("no-such-service", "tcp"), nullptr);

    const protoent* tcp = ws.getprotobyname("tcp");
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->p_proto, 6);
    const protoent* udp = ws.getprotobyname("udp");
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->p_proto, 17);
    EXPECT_EQ(ws.getprotobyname("no-such-protocol"), nullptr);
}

}  // namespace
