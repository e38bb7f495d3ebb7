// ctest-linux-only: starts programs through the Linux layer with POSIX child processes
#include "platform/Application.h"
#include "platform/Win32.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

namespace {

ULONG_PTR Result(HINSTANCE instance)
{
    return reinterpret_cast<ULONG_PTR>(instance);
}

void WriteScript(const std::string& path, const std::string& body)
{
    WriteFileText(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

TEST(ShellExecute, StartsAProgramDetached)
{
    ScratchFolder folder;
    // Written under another name and moved, so the test never reads half a file.
    WriteScript(folder / "Quorvan.exe", "pwd > \"$1.tmp\"; echo \"$2\" >> \"$1.tmp\"; mv \"$1.tmp\" \"$1\"\n");
    std::string out = folder / "out";
    std::string parameters = out + " \"two words\"";
    HINSTANCE result = ShellExecuteA(nullptr, "open", folder.WinPath("Quorvan.exe").c_str(), parameters.c_str(),
                                     "/", SW_SHOWNORMAL);
    EXPECT_GT(Result(result), 32u);
    ASSERT_TRUE(WaitUntil([&] { return PathExists(out); }));
    EXPECT_EQ(ReadFileText(out), "/\ntwo words\n");
    // The starter was reaped and the program is not our child: nothing to wait for.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ShellExecute, OpensDocumentsWithTheDesktopOpener)
{
    ScratchFolder folder;
    WriteScript(folder / "xdg-open", "echo \"$1\" > \"" + (folder / "opened.tmp") + "\"; mv \"" + (folder / "opened.tmp")
                                         + "\" \"" + (folder / "opened") + "\"\n");
    WriteFileText(folder / "notes.txt", "text");
    ScopedEnv path("PATH", folder.Path() + ":/usr/bin:/bin");
    EXPECT_GT(Result(ShellExecuteA(nullptr, nullptr, folder.WinPath("notes.txt").c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL)),
              32u);
    ASSERT_TRUE(WaitUntil([&] { return PathExists(folder / "opened"); }));
    EXPECT_EQ(ReadFileText(folder / "opened"), (folder / "notes.txt") + "\n");
}

TEST(ShellExecute, FailuresAreSmallNumbers)
{
    ScratchFolder folder;
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", folder.WinPath("Quorvan.exe").c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL)),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", folder.WinPath("none\\Quorvan.exe").c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL)),
              ERROR_PATH_NOT_FOUND);
    // An error number above 32 must not read as success.
    EXPECT_LE(Result(ShellExecuteA(nullptr, "open", folder.WinPath(std::string(300, 'x')).c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL)),
              32u);
    WriteScript(folder / "tool", "exit 0\n");
    EXPECT_LE(Result(ShellExecuteA(nullptr, "print", folder.WinPath("tool").c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL)),
              32u);
    // A working folder that does not exist stops the start and says so.
    EXPECT_LE(Result(ShellExecuteA(nullptr, "open", folder.WinPath("tool").c_str(), nullptr,
                                   folder.WinPath("none").c_str(), SW_SHOWNORMAL)),
              32u);
}

TEST(MessageBox, GoesToTheGuiOrToStandardError)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Quorvan install fail, please reinstall", "QVUpdate", MB_OK), IDOK);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("QVUpdate"), std::string::npos) << written;
    EXPECT_NE(written.find("Quorvan install fail, please reinstall"), std::string::npos) << written;

    static std::string shown;
    GuiHooks hooks;
    hooks.MessageBox = [](HWND, const char* text, const char* caption, UINT) {
        shown = std::string(caption) + "|" + text;
        return 7;
    };
    SetGuiHooks(&hooks);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    SetGuiHooks(nullptr);
    EXPECT_EQ(shown, "caption|text");
}

}  // namespace
