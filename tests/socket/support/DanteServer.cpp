#include "socket/support/DanteServer.h"

// The SOCKS server runs on Linux only.
#ifndef _WIN32

#include "socket/support/PosixPeer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr const char* kDaemon = "/usr/sbin/danted";
constexpr const char* kTestUser = "qvsockstest";
constexpr const char* kTestPassword = "qv-Socks-5ecret";

int FreePort()
{
    int port = 0;
    int fd = peer::Listen(port);
    peer::Close(fd);
    return port;
}

}  // namespace

DanteServer::~DanteServer()
{
    if (m_Pid > 0) {
        kill(m_Pid, SIGTERM);
        int status = 0;
        waitpid(m_Pid, &status, 0);
    }
    if (!m_Folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_Folder, ignored);
    }
}

bool DanteServer::Start(std::string& reason)
{
    if (access(kDaemon, X_OK) != 0) {
        reason = std::string(kDaemon) + " is not installed (package dante-server)";
        return false;
    }
    char folder[] = "/tmp/qvdanteXXXXXX";
    if (!mkdtemp(folder)) {
        reason = "cannot create a temporary folder";
        return false;
    }
    m_Folder = folder;
    const std::string config = m_Folder + "/danted.conf";
    // The port may be taken between choosing and binding: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_Port = FreePort();
        {
            std::ofstream out(config);
            out << "logoutput: " << m_Folder << "/danted.log\n"
                << "internal: 127.0.0.1 port = " << m_Port << "\n"
                << "external: 127.0.0.1\n"
                << "clientmethod: none\n";
            // Checking system passwords needs root; a normal user's server
            // offers no authentication (and the tests that need it skip).
            if (geteuid() == 0)
                out << "socksmethod: username none\nuser.privileged: root\nuser.unprivileged: nobody\n";
            else
                out << "socksmethod: none\n";
            out << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n}\n";
        }
        const std::string pidFile = m_Folder + "/danted.pid";
        m_Pid = fork();
        if (m_Pid == 0) {
            execl(kDaemon, kDaemon, "-f", config.c_str(), "-N", "1", "-p", pidFile.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        if (m_Pid < 0) {
            reason = "fork failed";
            return false;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
                m_Pid = -1;
                break;  // it ended: the port was taken, or the configuration refused
            }
            int fd = peer::Connect(m_Port);
            if (fd >= 0) {
                peer::Close(fd);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
            m_Pid = -1;
        }
    }
    reason = "danted did not start; see its log in " + m_Folder;
    m_Folder.clear();  // kept for inspection
    return false;
}

bool DanteServer::EnsureTestUser(std::string& user, std::string& password, std::string& reason)
{
    user = kTestUser;
    password = kTestPassword;
    if (geteuid() != 0) {
        reason = "username/password needs a system user, which only root may create";
        return false;
    }
    static const bool created = [] {
        std::string command = std::string("id -u ") + kTestUser + " >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin " +
                              kTestUser;
        if (std::system(command.c_str()) != 0)
            return false;
        command = std::string("echo '") + kTestUser + ":" + kTestPassword + "' | chpasswd";
        return std::system(command.c_str()) == 0;
    }();
    if (!created)
        reason = "useradd or chpasswd failed";
    return created;
}

#endif  // _WIN32
