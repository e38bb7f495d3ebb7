// ctest-linux-only: unloads the Linux socket library under POSIX child processes
// ctest-labels: threads
// ctest-link: -rdynamic
// How asynchronous host lookups end when the library is cleaned up under
// them. A name server that never answers cannot be had here, so this
// program stands in for the system's gethostbyname_r (exported with
// -rdynamic, it comes first for the library too) and holds every lookup of
// a name under ".stalled.invalid" until the test lets it go.
#include "support/TestWindow.h"
#include "support/WinsockModule.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kStalledSuffix = ".stalled.invalid";
constexpr int kHostNotFound = 1;  // netdb.h, which cannot sit beside WinSock.h

// Plain atomics: a held lookup may still read them while the program ends.
std::atomic<int> g_GateFd{-1};
std::atomic<int> g_Held{0};
std::atomic<pid_t> g_HeldThread{0};

bool IsStalledName(const char* name)
{
    const std::size_t length = std::strlen(name), suffix = std::strlen(kStalledSuffix);
    return length >= suffix && std::strcmp(name + length - suffix, kStalledSuffix) == 0;
}

}  // namespace

extern "C" int gethostbyname_r(const char* name, void* entry, char* buffer, std::size_t length, void** result,
                               int* hostError)
{
    if (name != nullptr && IsStalledName(name)) {
        ++g_Held;
        g_HeldThread = gettid();
        const int fd = g_GateFd.load();
        if (fd >= 0) {
            pollfd gate{fd, POLLIN, 0};
            ::poll(&gate, 1, 60000);
        }
        --g_Held;
        *result = nullptr;
        *hostError = kHostNotFound;
        return 0;
    }
    using Real = int (*)(const char*, void*, char*, std::size_t, void**, int*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "gethostbyname_r"));
    return real(name, entry, buffer, length, result, hostError);
}

namespace {

constexpr UINT kLookupMessage = WM_USER + 7;
constexpr const char* kChildVariable = "QV_LOOKUP_EXIT_CHILD";

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool ThreadExists(pid_t thread)
{
    return ::access(("/proc/self/task/" + std::to_string(thread)).c_str(), F_OK) == 0;
}

// Holds lookups of stalled names until Open() or its end.
class TLookupGate {
public:
    TLookupGate()
    {
        if (::pipe(m_Fds) == 0)
            g_GateFd = m_Fds[0];
    }
    ~TLookupGate()
    {
        g_GateFd = -1;
        Open();
        WaitFor([] { return g_Held.load() == 0; });
        ::close(m_Fds[0]);
    }
    void Open()
    {
        if (m_Fds[1] >= 0)
            ::close(m_Fds[1]);
        m_Fds[1] = -1;
    }

private:
    int m_Fds[2] = {-1, -1};
};

class WinsockLookupLifetime : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(ws.Module, nullptr) << dlerror();
        WSADATA data;
        ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
        std::memset(m_Buffer, 0x5A, sizeof m_Buffer);
    }

    // Starts a lookup that stays in the system call; returns its thread.
    pid_t StartStalled(HANDLE& task)
    {
        task = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "host.stalled.invalid", m_Buffer,
                                        sizeof m_Buffer);
        EXPECT_NE(task, nullptr);
        EXPECT_TRUE(WaitFor([] { return g_Held.load() == 1; }));
        return g_HeldThread.load();
    }

    int Completions(HANDLE task) const
    {
        int count = 0;
        for (const MSG& msg : window.Received())
            count += msg.message == kLookupMessage && msg.wParam == reinterpret_cast<WPARAM>(task);
        return count;
    }

    bool BufferUntouched() const
    {
        for (unsigned char byte : m_Buffer)
            if (byte != 0x5A)
                return false;
        return true;
    }

    const TWinsock& ws = Winsock();
    TTestWindow window;
    alignas(hostent) char m_Buffer[MAXGETHOSTSTRUCT];
};

TEST_F(WinsockLookupLifetime, CleanupAndCancelDoNotWaitForAStalledLookup)
{
    TLookupGate gate;
    HANDLE first = nullptr;
    const pid_t firstThread = StartStalled(first);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ws.WSACleanup(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));

    // Started again while that thread still waits: lookups work, and a
    // stalled one can be cancelled at once.
    WSADATA data;
    ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
    alignas(hostent) char other[MAXGETHOSTSTRUCT];
    HANDLE fresh = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "localhost", other, sizeof other);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(PumpMessagesUntil([&] { return Completions(fresh) == 1; }));
    HANDLE second = ws.WSAAsyncGetHostByName(window.Handle(), kLookupMessage, "other.stalled.invalid", m_Buffer,
                                             sizeof m_Buffer);
    ASSERT_TRUE(WaitFor([] { return g_Held.load() == 2; }));
    const pid_t secondThread = g_HeldThread.load();
    EXPECT_EQ(ws.WSACancelAsyncRequest(second), 0);

    // Let go, both end without a word and without touching the buffer.
    gate.Open();
    EXPECT_TRUE(WaitFor([&] { return !ThreadExists(firstThread) && !ThreadExists(secondThread); }));
    // Whatever they might have posted is queued by now.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_EQ(Completions(first), 0);
    EXPECT_EQ(Completions(second), 0);
    EXPECT_TRUE(BufferUntouched());
    EXPECT_EQ(ws.WSACleanup(), 0);
}

// Run in a child of its own (below): cleans up under a stalled lookup,
// lets it finish after that, and ends the program once its thread is gone.
// The library's static objects are destroyed then; the thread must not
// have touched them.
TEST_F(WinsockLookupLifetime, ProgramEndsCleanlyAfterALookupOutlivedCleanup)
{
    if (std::getenv(kChildVariable) != nullptr) {
        TLookupGate gate;
        HANDLE task = nullptr;
        const pid_t thread = StartStalled(task);
        EXPECT_EQ(ws.WSACleanup(), 0);
        gate.Open();
        EXPECT_TRUE(WaitFor([&] { return !ThreadExists(thread); }));
        return;
    }
    EXPECT_EQ(ws.WSACleanup(), 0);

    const std::string log = "/tmp/qv-lookup-exit-" + std::to_string(::getpid()) + ".log";
    const std::string filter =
        "--gtest_filter=" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
        "." + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable)
        environment.emplace_back(*variable);
    environment.push_back(std::string(kChildVariable) + "=1");
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string program = "/proc/self/exe";
    char* argv[] = {program.data(), const_cast<char*>(filter.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);

    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, std::chrono::seconds(60));
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    std::ifstream file(log);
    std::stringstream output;
    output << file.rdbuf();
    ::unlink(log.c_str());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output.str();
}

}  // namespace
