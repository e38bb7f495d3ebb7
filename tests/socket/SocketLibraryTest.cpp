// ctest-labels: threads
#include "socket/SocketLibrary.h"
#include "socket/support/Failures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>

namespace {

// Makes "wsock32.dll" resolve to `target` (or to an unloadable file) for
// the life of the object.
class LibraryOverride {
public:
    explicit LibraryOverride(const std::string& target)
    {
        m_Folder = std::filesystem::temp_directory_path() /
                   ("qv-binding-" + std::to_string(::getpid()) + "-" + std::to_string(++s_Count));
        std::filesystem::create_directories(m_Folder);
        auto library = m_Folder / "libwsock32.so";
        if (target.empty())
            std::ofstream(library) << "not a shared library";
        else
            std::filesystem::create_symlink(target, library);
        setenv("QVUPDATE_MODULE_PATH", m_Folder.c_str(), 1);
    }
    ~LibraryOverride()
    {
        unsetenv("QVUPDATE_MODULE_PATH");
        std::filesystem::remove_all(m_Folder);
    }

private:
    static inline int s_Count = 0;
    std::filesystem::path m_Folder;
};

const std::string kFakeLibrary = std::string(QV_BINARY_DIR) + "/bin/libfakewsock_nostart.so";

}  // namespace
#endif  // _WIN32

TEST(SocketErrorText, KnownAndUnknownNumbers)
{
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorText(10004), "Interrupted system call");
    EXPECT_EQ(SocketErrorText(10035), "Operation would block");
    EXPECT_EQ(SocketErrorText(10047), "Address family not supported by protocol family");
    EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(SocketErrorText(10058), "Can't send after socket shutdown");
    EXPECT_EQ(SocketErrorText(10071), "Too many levels of remote in path");
    EXPECT_EQ(SocketErrorText(10092), "WinSock DLL cannot support this application");
    EXPECT_EQ(SocketErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
    EXPECT_EQ(SocketErrorText(11004), "No Data");
    for (int unknown : {10072, -1, 11005, 10000, 10090, 1, 12000})
        EXPECT_EQ(SocketErrorText(unknown), "Not a WinSock error") << unknown;
}

TEST(SocketBinding, LoadsOnFirstCallReleasesAndLoadsAgain)
{
    ASSERT_FALSE(SocketLibraryLoaded());
    EXPECT_EQ(BindSocketProc(""), nullptr);
    EXPECT_TRUE(SocketLibraryLoaded());
    EXPECT_NE(BindSocketProc("socket"), nullptr);

    ReleaseSocketLibrary();
    EXPECT_FALSE(SocketLibraryLoaded());
    ReleaseSocketLibrary();  // nothing loaded: harmless

    // The entry point resolves afresh through a new load and start-up.
    EXPECT_EQ(Winsock::htons(0x1234), 0x3412);
    EXPECT_TRUE(SocketLibraryLoaded());
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(Winsock::closesocket(s), 0);
    ReleaseSocketLibrary();
    EXPECT_FALSE(SocketLibraryLoaded());
}

// Windows loads its own socket library, which a test cannot swap for a
// broken or fake one: the failure paths are proven on Linux.
#ifndef _WIN32
TEST(SocketBinding, UnloadableLibraryIsTriedAgainOnTheNextCall)
{
    {
        LibraryOverride broken("");
        EXPECT_EQ(MessageOf([] { BindSocketProc("socket"); }), "Unable to load wsock32.dll Error #193");
        EXPECT_FALSE(SocketLibraryLoaded());
    }
    EXPECT_EQ(BindSocketProc(""), nullptr);
    EXPECT_TRUE(SocketLibraryLoaded());
    ReleaseSocketLibrary();
}

TEST(SocketBinding, FailedStartupKeepsTheLibraryAndMissingNamesAreReported)
{
    LibraryOverride fake(kFakeLibrary);
    EXPECT_EQ(MessageOf([] { BindSocketProc(""); }), "wsock32.dll: WSAStartup error #10091");
    EXPECT_TRUE(SocketLibraryLoaded());

    // No second load or start-up: the name is looked up directly.
    auto startupCalls = reinterpret_cast<int (*)()>(BindSocketProc("FakeStartupCalls"));
    ASSERT_NE(startupCalls, nullptr);
    EXPECT_EQ(startupCalls(), 1);

    EXPECT_EQ(MessageOf([] { BindSocketProc("socket"); }), "Procedure socket not found in wsock32.dll Error #127");
    EXPECT_EQ(MessageOf([] { Winsock::socket(AF_INET, SOCK_STREAM, 0); }),
              "Procedure socket not found in wsock32.dll Error #127");
    EXPECT_EQ(startupCalls(), 1);
    ReleaseSocketLibrary();
    EXPECT_FALSE(SocketLibraryLoaded());
}

TEST(SocketBinding, ConcurrentFirstCallsLoadAndStartOnce)
{
    LibraryOverride fake(kFakeLibrary);
    std::atomic<int> failures{0};
    auto firstCall = [&] {
        try {
            BindSocketProc("");
        } catch (const ESocketException&) {
            ++failures;
        }
    };
    std::thread a(firstCall), b(firstCall);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 1);
    auto startupCalls = reinterpret_cast<int (*)()>(BindSocketProc("FakeStartupCalls"));
    EXPECT_EQ(startupCalls(), 1);
    ReleaseSocketLibrary();
}
#endif  // _WIN32
