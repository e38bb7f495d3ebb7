// ctest-linux-only: uses POSIX child processes and resource limits
#include "platform/Streams.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

TEST(MemoryStream, ReadWriteSeek)
{
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 6);
    stream.Seek(2, TStream::Origin::Beginning);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 8), 4);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_EQ(stream.Read(buffer, 8), 0);
    // A seek past the end leaves a gap of zeros once written.
    stream.Seek(2, TStream::Origin::End);
    stream.WriteBuffer("z", 1);
    EXPECT_EQ(stream.Bytes(), std::string("abcdef\0\0z", 9));
    EXPECT_THROW(stream.Seek(-1, TStream::Origin::Beginning), EStreamError);
}

TEST(FileStream, CreateEmptiesAndReadsBack)
{
    ScratchFolder folder;
    WriteFileText(folder / "out", "old contents");
    {
        TFileStream stream(folder.WinPath("out"), TFileStream::Mode::Create);
        stream.WriteBuffer("new", 3);
        EXPECT_EQ(stream.Size(), 3);
    }
    TFileStream reader(folder.WinPath("out"), TFileStream::Mode::OpenRead);
    char buffer[16] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "new");
}

TEST(FileStream, RefusalsAreClearErrors)
{
    ScratchFolder folder;
    std::string path = folder.WinPath("held");
    TFileStream holder(path, TFileStream::Mode::Create);
    holder.WriteBuffer("keep", 4);
    try {
        TFileStream second(path, TFileStream::Mode::Create);
        FAIL() << "a second exclusive holder was let in";
    } catch (const EStreamError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("used by another process"), std::string::npos) << e.what();
    }
    EXPECT_THROW(TFileStream(path, TFileStream::Mode::OpenReadWrite), EStreamError);
    EXPECT_EQ(ReadFileText(folder / "held"), "keep");
    EXPECT_THROW(TFileStream(folder.WinPath("no\\such"), TFileStream::Mode::Create), EStreamError);
    EXPECT_THROW(TFileStream(folder.WinPath("none"), TFileStream::Mode::OpenRead), EStreamError);
}

// A file size limit stands in for a full disk: the write must raise.
TEST(FileStream, FailedWriteRaisesAndNeverReportsSuccess)
{
    ScratchFolder folder;
    std::string path = folder.WinPath("big");
    pid_t child = fork();
    if (child == 0) {
        rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string block(4096, 'x');
        int outcome = 1;
        try {
            TFileStream stream(path, TFileStream::Mode::Create);
            stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
        } catch (const EStreamError& e) {
            outcome = std::string(e.what()).find("not enough space") != std::string::npos ? 0 : 3;
        }
        _exit(outcome);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
