// Real servers from the system's packages, started by a test with a
// configuration of its own on 127.0.0.1 and stopped again.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A port on 127.0.0.1 that nobody listened on a moment ago.
int FreeLoopbackPort();
// A fresh folder under /tmp for a server's configuration and logs.
std::string MakeScratchFolder(const std::string& name);
void WriteTextFile(const std::string& path, const std::string& text);
// The path of program, looked up in PATH and the sbin folders; "" when
// there is none.
std::string FindProgram(const std::string& program);

class TServerProcess {
public:
    // Runs argv (argv[0] looked up in PATH) with its output in logPath, and
    // waits until 127.0.0.1:port accepts connections.
    TServerProcess(const std::vector<std::string>& argv, int port, const std::string& logPath);
    ~TServerProcess();
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    bool Ready() const { return m_Ready; }

private:
    pid_t m_Pid = -1;
    bool m_Ready = false;
};
