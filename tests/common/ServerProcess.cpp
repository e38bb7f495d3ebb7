#include "ServerProcess.h"

#include "common/PeerSockets.h"

// Starting server programs is for Linux only; the free port is for both.
#ifndef _WIN32
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Waits for the child to end, at most timeoutMs; true when it has.
bool Reap(pid_t pid, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        ::poll(nullptr, 0, 10);
    }
}

}  // namespace

#endif  // _WIN32

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    CloseSocket(fd);
    return ntohs(address.sin_port);
}

#ifndef _WIN32

std::string MakeScratchFolder(const std::string& name)
{
    std::string pattern = "/tmp/qvupdate-" + name + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return "";
    ::chmod(pattern.c_str(), 0755);  // servers drop to other users
    return pattern;
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string FindProgram(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return program;
    const char* path = std::getenv("PATH");
    // Servers live in the sbin folders, which a user's PATH may lack.
    const std::string folders = std::string("/usr/sbin:/sbin:") + (path ? path : "/usr/bin:/bin");
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

TServerProcess::TServerProcess(const std::vector<std::string>& argv, int port, const std::string& logPath)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const std::string program = FindProgram(argv.at(0));
    const int failed = posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        m_Pid = -1;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port)) {
            m_Ready = true;
            return;
        }
        if (::waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) {
            m_Pid = -1;  // ended at once: its log says why
            return;
        }
        ::poll(nullptr, 0, 20);
    }
}

TServerProcess::~TServerProcess()
{
    if (m_Pid <= 0)
        return;
    ::kill(m_Pid, SIGTERM);
    if (!Reap(m_Pid, 5000)) {
        ::kill(m_Pid, SIGKILL);
        Reap(m_Pid, 5000);
    }
}

#endif  // _WIN32
