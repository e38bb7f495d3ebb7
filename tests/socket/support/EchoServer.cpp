#include "socket/support/EchoServer.h"

#include "socket/support/PosixPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

EchoServer::EchoServer()
{
    m_Listener = peer::Listen(m_Port);
    if (pipe(m_StopPipe) != 0)
        m_StopPipe[0] = m_StopPipe[1] = -1;
    m_Thread = std::thread([this] { Run(); });
}

EchoServer::~EchoServer()
{
    char stop = 1;
    if (write(m_StopPipe[1], &stop, 1) != 1) {
        // The thread is then only stopped by the listener's close below.
    }
    m_Thread.join();
    close(m_StopPipe[0]);
    close(m_StopPipe[1]);
    close(m_Listener);
}

void EchoServer::Run()
{
    std::vector<pollfd> fds{{m_StopPipe[0], POLLIN, 0}, {m_Listener, POLLIN, 0}};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            return;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            int client = accept(m_Listener, nullptr, nullptr);
            if (client >= 0)
                fds.push_back({client, POLLIN, 0});
        }
        for (std::size_t i = 2; i < fds.size();) {
            if (!fds[i].revents) {
                ++i;
                continue;
            }
            char buffer[4096];
            ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n <= 0 || !peer::SendAll(fds[i].fd, std::string(buffer, static_cast<std::size_t>(n)))) {
                close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                continue;
            }
            fds[i].revents = 0;
            ++i;
        }
    }
    for (std::size_t i = 2; i < fds.size(); ++i)
        close(fds[i].fd);
}
