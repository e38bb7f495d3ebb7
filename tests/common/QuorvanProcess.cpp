#include "QuorvanProcess.h"

#ifndef _WIN32
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

extern char** environ;

TQuorvanProcess::TQuorvanProcess()
{
    int out[2];
    if (pipe(out) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = QV_BINARY_DIR "/bin/quorvan-window";
    char* argv[] = {program.data(), nullptr};
    if (posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
        m_Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_Out = out[0];
}

TQuorvanProcess::~TQuorvanProcess()
{
    if (m_Pid > 0)
        Stop(SIGTERM);
    if (m_Out >= 0)
        close(m_Out);
}

bool TQuorvanProcess::Ready()
{
    std::string text;
    pollfd wait{m_Out, POLLIN, 0};
    while (text.find("ready\n") == std::string::npos && poll(&wait, 1, 10000) == 1) {
        char buffer[64];
        const ssize_t n = read(m_Out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text.find("ready\n") != std::string::npos;
}

int TQuorvanProcess::Stop(int signal)
{
    kill(m_Pid, signal);
    int status = 0;
    waitpid(m_Pid, &status, 0);
    m_Pid = -1;
    return status;
}
#endif  // _WIN32
