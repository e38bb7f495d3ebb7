// ctest-linux-only: checks the Linux file rules with POSIX child processes
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition)
{
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Files, PathsUseBackslashesAndReportWhatIsMissing)
{
    ScratchFolder folder;
    WriteFileText(folder / "file", "x");
    std::filesystem::create_directory(folder / "dir");

    EXPECT_EQ(GetFileAttributesA(folder.WinPath("dir").c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA((folder.Path() + "\\\\file").c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA((folder / "file").c_str()), FILE_ATTRIBUTE_NORMAL);

    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(folder.WinPath("none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(folder.WinPath("none\\file").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    EXPECT_TRUE(FileExists(folder.WinPath("file")));
    EXPECT_FALSE(FileExists(folder.WinPath("dir")));
    EXPECT_TRUE(DirectoryExists(folder.WinPath("dir") + "\\"));
    EXPECT_FALSE(DirectoryExists(folder.WinPath("file")));

    EXPECT_EQ(Open(folder.WinPath("none\\new"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open(folder.WinPath("none"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(folder.WinPath("dir"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Files, ReadWriteSeekAndClose)
{
    ScratchFolder folder;
    std::string path = folder.WinPath("data");
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(file, "hello world", 11, &count, nullptr));
    EXPECT_EQ(count, 11u);
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "world");
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);  // end of file is success with nothing read
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), 0xFFFFFFFFu);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // success, but it was there
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadFileText(folder / "data"), "");
}

TEST(Files, RenameNeverOverwrites)
{
    ScratchFolder folder;
    WriteFileText(folder / "old", "old");
    WriteFileText(folder / "new", "new");

    EXPECT_FALSE(MoveFileA(folder.WinPath("new").c_str(), folder.WinPath("old").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadFileText(folder / "old"), "old");
    EXPECT_EQ(ReadFileText(folder / "new"), "new");

    EXPECT_TRUE(RenameFile(folder.WinPath("old"), folder.WinPath("old.bak")));
    EXPECT_TRUE(RenameFile(folder.WinPath("new"), folder.WinPath("old")));
    EXPECT_EQ(ReadFileText(folder / "old"), "new");
    EXPECT_EQ(ReadFileText(folder / "old.bak"), "old");

    EXPECT_FALSE(MoveFileA(folder.WinPath("gone").c_str(), folder.WinPath("x").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFileA(folder.WinPath("old").c_str(), folder.WinPath("sub\\old").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFileText(folder / "old"), "new");
}

TEST(Files, DeleteReportsWhatStopsIt)
{
    ScratchFolder folder;
    WriteFileText(folder / "file", "x");
    std::filesystem::create_directory(folder / "dir");
    EXPECT_TRUE(DeleteFile(folder.WinPath("file")));
    EXPECT_FALSE(PathExists(folder / "file"));
    EXPECT_FALSE(DeleteFileA(folder.WinPath("file").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(folder.WinPath("dir").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// A child process holds the file exclusively until the parent lets go.
TEST(Files, ExclusiveHolderRefusesOtherProcessesAndKeepsItsData)
{
    ScratchFolder folder;
    std::string path = folder.WinPath("held");
    WriteFileText(folder / "held", "");
    int held[2];
    int release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        close(held[0]);
        close(release[1]);  // else the child would wait on its own end
        HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
        DWORD count = 0;
        bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, "precious", 8, &count, nullptr);
        char byte = ok ? '1' : '0';
        (void)!write(held[1], &byte, 1);
        pollfd wait{release[0], POLLIN, 0};
        poll(&wait, 1, 10000);  // released, or the parent gave up
        _exit(ok ? 0 : 1);
    }
    close(held[1]);
    close(release[0]);
    char byte = 0;
    ASSERT_EQ(read(held[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');

    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileA(path.c_str(), folder.WinPath("moved").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadFileText(folder / "held"), "precious");  // the refused open did not empty it

    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    close(held[0]);
}

TEST(Files, ReadersShareButExcludeAWriter)
{
    ScratchFolder folder;
    std::string path = folder.WinPath("shared");
    WriteFileText(folder / "shared", "x");
    HANDLE first = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE second = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(first);
    CloseHandle(second);
}

}  // namespace
