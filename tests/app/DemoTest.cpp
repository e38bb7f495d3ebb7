// The README's first command, minus set-up and build: the demo script with
// its nginx server and the headless driver, end to end, as CI sees it.
// ctest-labels: threads
// ctest-linux-only: runs a shell script and nginx
// ctest-link: qvapp_test_qt
#include "app/support/UpdateTestSupport.h"
#include "common/ServerProcess.h"

#include <QImage>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Holds a port of 127.0.0.1 busy for as long as it lives.
class TBusyPort {
public:
    TBusyPort()
    {
        m_Fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_Fd < 0 || ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_Fd, 1) != 0 || ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "no loopback port to listen on";
        m_Port = ntohs(address.sin_port);
    }
    ~TBusyPort()
    {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    int Port() const { return m_Port; }

private:
    int m_Fd = -1;
    int m_Port = 0;
};

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

struct TDemoRun {
    int ExitCode = -1;
    std::string Output;
    fs::path Folder;
};

TDemoRun RunDemo(const std::string& name, int port, const std::string& options)
{
    TDemoRun run;
    run.Folder = fs::path(QV_BINARY_DIR) / ("demo-test-" + name);
    const std::string command = "QVUPDATE_DEMO_PORT=" + std::to_string(port) + " QVUPDATE_DEMO_DIR='" +
                                run.Folder.string() + "' '" QV_SOURCE_DIR "/scripts/demo/run-demo.sh' '" QV_BINARY_DIR
                                "' --headless --timeout 120 " + options + " 2>&1";
    const TCommandResult result = RunCommand(command);
    run.Output = result.Output;
    run.ExitCode = WIFEXITED(result.Status) ? WEXITSTATUS(result.Status) : -1;
    return run;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The status texts the driver printed for the row of `file`.
std::string StatusLine(const std::string& output, const std::string& file)
{
    const std::size_t row = output.find("] " + file);
    if (row == std::string::npos)
        return "";
    const std::size_t start = output.find("status: ", row);
    if (start == std::string::npos)
        return "";
    return output.substr(start + 8, output.find('\n', start) - start - 8);
}

const std::vector<std::pair<std::string, std::string>> kReleaseFiles = {
    {"Quorvan.exe", "Quorvan.exe"},
    {"QVHelp.txt", "QVHelp.txt"},
    {"Chinese.lng", "Language/Chinese.lng"},
    {"Whatsnew.txt", "Whatsnew.txt"},
};

void ExpectReleaseInstalled(const fs::path& folder)
{
    const fs::path release = fs::path(QV_SOURCE_DIR) / "demo/server/release";
    for (const auto& [file, installed] : kReleaseFiles) {
        const fs::path target = folder / "installation" / installed;
        EXPECT_EQ(ReadFile(target), ReadFile(release / file)) << target;
        EXPECT_FALSE(fs::exists(target.string() + "_")) << target;
        EXPECT_FALSE(fs::exists(target.string() + ".bak")) << target;
    }
    EXPECT_FALSE(fs::exists(folder / "installation/update.ini"));
}

}  // namespace

TEST(Demo, EnglishCheckAndRunInstallTheRelease)
{
    const int port = FreeLoopbackPort();
    // Signed with the demo's key, which the demo preset builds in.
    std::istringstream demoKey(ReadFile(fs::path(QV_SOURCE_DIR) / "demo/signing/demo-only.pub"));
    std::string keyLine;
    std::getline(demoKey, keyLine);
    std::getline(demoKey, keyLine);
    const TDemoRun run = RunDemo("english", port, "--update-key " + keyLine);
    if (Listening(port)) {
        ADD_FAILURE() << "the demo's server outlived the command";
        ::kill(std::stoi(ReadFile(run.Folder / "nginx/nginx.pid")), SIGTERM);
    }
    ASSERT_EQ(run.ExitCode, 0) << run.Output;

    for (const char* line : {"start to get newest version infomation ....", "Loading...",
                             "update.ini: signature verified (key 8749934023C3BA40)",
                             "Get newest version infomation", "Newest version : 1.15",
                             "Quorvan 1.15 (demo release)", "- New: a list of changes, Whatsnew.txt."})
        EXPECT_NE(run.Output.find(std::string("  ") + line + "\n"), std::string::npos) << line << "\n" << run.Output;

    for (const auto& [file, installed] : kReleaseFiles) {
        const std::string statuses = StatusLine(run.Output, file);
        EXPECT_EQ(statuses.rfind("Connect server ...", 0), 0u) << file << ": " << statuses;
        EXPECT_TRUE(statuses.ends_with("| Update Success")) << file << ": " << statuses;
    }
    // The large files arrive in several pieces, each shown in per cent.
    EXPECT_NE(StatusLine(run.Output, "Quorvan.exe").find("% | "), std::string::npos) << run.Output;
    EXPECT_NE(StatusLine(run.Output, "Quorvan.exe").find("| 100% |"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("] Chinese.lng (copy to Language\\)\n"), std::string::npos) << run.Output;
    const std::string access = ReadFile(run.Folder / "nginx/access.log");
    EXPECT_NE(access.find("GET /update/eng/Quorvan.exe.minisig "), std::string::npos) << access;

    ExpectReleaseInstalled(run.Folder);
    const QImage screenshot(QString::fromStdString((run.Folder / "qvupdate-demo.png").string()));
    EXPECT_EQ(screenshot.size(), QSize(639, 356));
}

TEST(Demo, ChineseChannelOnTheSecondServer)
{
    // Nothing listens on server 1: all that arrives comes from server 2.
    const int port = FreeLoopbackPort();
    int nowhere = FreeLoopbackPort();
    while (nowhere == port)
        nowhere = FreeLoopbackPort();
    const TDemoRun run =
        RunDemo("chinese", port, "--chinese --server2 --host1 127.0.0.1:" + std::to_string(nowhere));
    ASSERT_EQ(run.ExitCode, 0) << run.Output;

    // The GBK notes reach the log intact, and the statuses are Chinese.
    EXPECT_NE(run.Output.find("  Quorvan 1.15 (\xe6\xbc\x94\xe7\xa4\xba\xe7\x89\x88\xe6\x9c\xac)\n"), std::string::npos)
        << run.Output;
    for (const auto& [file, installed] : kReleaseFiles)
        EXPECT_TRUE(StatusLine(run.Output, file).ends_with("| \xe5\x8d\x87\xe7\xba\xa7\xe6\x88\x90\xe5\x8a\x9f"))
            << file << ": " << StatusLine(run.Output, file);

    // Every request went to the Chinese channel.
    const std::string access = ReadFile(run.Folder / "nginx/access.log");
    EXPECT_NE(access.find("GET /update/chs/update.ini "), std::string::npos) << access;
    EXPECT_NE(access.find("GET /update/chs/Chinese.lng "), std::string::npos) << access;
    EXPECT_EQ(access.find("/update/eng/"), std::string::npos) << access;
    // The dev build has no key: no signature is asked for.
    EXPECT_EQ(access.find(".minisig"), std::string::npos) << access;
    ExpectReleaseInstalled(run.Folder);
}

TEST(Demo, ABusyPortIsReportedAndNothingRuns)
{
    TBusyPort busy;
    const TDemoRun run = RunDemo("busy", busy.Port(), "");
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_NE(run.Output.find("Port " + std::to_string(busy.Port()) + " on 127.0.0.1 is in use"), std::string::npos)
        << run.Output;
    EXPECT_EQ(run.Output.find("Check"), std::string::npos) << run.Output;
}
