// ctest-linux-only: finds windows of other processes through the Linux layer's published files
// ctest-labels: threads
#include "platform/Win32.h"
#include "platform/WindowDirectory.h"
#include "platform/support/ScratchFolder.h"
#include "common/QuorvanProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

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
    TQuorvanProcess quorvan;
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
    TQuorvanProcess quorvan;
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
