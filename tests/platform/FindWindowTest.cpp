// ctest-linux-only: finds windows of other processes through the Linux layer's published files
// ctest-labels: threads
#include "platform/Win32.h"
#include "platform/WindowDirectory.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A running "quorvan-window": a download manager's window in another process.
class QuorvanProcess {
public:
    QuorvanProcess()
    {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = QV_BINARY_DIR "/bin/quorvan-window";
        char* argv[] = {program.data(), nullptr};
        if (posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, argv, environ) != 0) m_Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_Out = out[0];
    }
    ~QuorvanProcess()
    {
        if (m_Pid > 0) Stop(SIGKILL);
        if (m_Out >= 0) close(m_Out);
    }

    // Waits, bounded, for the "ready" line.
    bool Ready()
    {
        std::string text;
        pollfd wait{m_Out, POLLIN, 0};
        while (text.find("ready\n") == std::string::npos && poll(&wait, 1, 10000) == 1) {
            char buffer[64];
            ssize_t n = read(m_Out, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text.find("ready\n") != std::string::npos;
    }

    // Sends `signal` and reaps the process; returns its wait status.
    int Stop(int signal)
    {
        kill(m_Pid, signal);
        int status = 0;
        waitpid(m_Pid, &status, 0);
        m_Pid = -1;
        return status;
    }

private:
    pid_t m_Pid = -1;
    int m_Out = -1;
};

class FindWindow : public ::testing::Test {
protected:
    std::vector<std::string> Published(const std::string& prefix)
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(m_Runtime / "qvupdate-windows", ignored)) {
            std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        return names;
    }

    ScratchFolder m_Runtime;
    ScopedEnv m_Env{"XDG_RUNTIME_DIR", m_Runtime.Path()};
};

TEST_F(FindWindow, SeesAnotherProcessWindowWhileItLives)
{
    EXPECT_EQ(FindWindowA("Quorvan", nullptr), nullptr);
    QuorvanProcess quorvan;
    ASSERT_TRUE(quorvan.Ready());
    HWND found = FindWindowA("Quorvan", nullptr);
    EXPECT_NE(found, nullptr);
    EXPECT_NE(FindWindowA("QUORVAN", nullptr), nullptr);
    EXPECT_EQ(FindWindowA("Quorvan2", nullptr), nullptr);
    EXPECT_FALSE(IsWindow(found));  // a token, never a window of ours

    int status = quorvan.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(FindWindowA("Quorvan", nullptr), nullptr);
    EXPECT_TRUE(Published("quorvan.").empty());
}

TEST_F(FindWindow, IgnoresAndRemovesTheFileOfAKilledProcess)
{
    QuorvanProcess quorvan;
    ASSERT_TRUE(quorvan.Ready());
    quorvan.Stop(SIGKILL);
    ASSERT_EQ(Published("quorvan.").size(), 1u);  // left behind, its lock gone
    EXPECT_EQ(FindWindowA("Quorvan", nullptr), nullptr);
    EXPECT_TRUE(Published("quorvan.").empty());
}

LRESULT PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(FindWindow, FindsThisProcessWindowsAndPublishesEachOne)
{
    WNDCLASSA windowClass;
    windowClass.lpfnWndProc = PlainProc;
    windowClass.lpszClassName = "Local.Class";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND first = CreateWindowExA(0, "Local.Class", "one", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExA(0, "Local.Class", "two", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    HWND found = FindWindowA("local.class", nullptr);
    EXPECT_TRUE(found == first || found == second);
    EXPECT_EQ(FindWindowA("Local.Class", "one"), first);

    // One file per window; the dot of the class name cannot be taken for the pid's.
    EXPECT_EQ(Published("local%2Eclass.").size(), 2u);
    EXPECT_FALSE(PublishedWindowExists("Local.Class"));  // this process's windows are found directly

    // Another process sees them until the last one is gone.
    auto seenElsewhere = [] {
        pid_t child = fork();
        if (child == 0) _exit(PublishedWindowExists("LOCAL.CLASS") ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_TRUE(seenElsewhere());
    EXPECT_TRUE(DestroyWindow(first));
    EXPECT_TRUE(seenElsewhere());
    EXPECT_TRUE(DestroyWindow(second));
    EXPECT_FALSE(seenElsewhere());
    EXPECT_EQ(FindWindowA("Local.Class", nullptr), nullptr);
    EXPECT_TRUE(UnregisterClassA("Local.Class", nullptr));
}

}  // namespace
