// The system's SOCKS server (danted) started for a test on 127.0.0.1 with a
// port chosen at run time and a configuration of its own. It offers SOCKS 4,
// 4A and 5, the latter without authentication or with a system user's name
// and password, and connects only to 127.0.0.1.
#pragma once

#include <string>
#include <sys/types.h>

class DanteServer {
public:
    DanteServer() = default;
    ~DanteServer();
    DanteServer(const DanteServer&) = delete;
    DanteServer& operator=(const DanteServer&) = delete;

    // False, with the reason, when the server cannot be started here.
    bool Start(std::string& reason);
    int Port() const { return m_Port; }

    // A system user for username/password authentication, created once per
    // process when running as root. False, with the reason, otherwise.
    static bool EnsureTestUser(std::string& user, std::string& password, std::string& reason);

private:
    pid_t m_Pid = -1;
    int m_Port = 0;
    std::string m_Folder;
};
