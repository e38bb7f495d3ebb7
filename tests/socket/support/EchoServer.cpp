#include "socket/support/EchoServer.h"

#include "common/PeerSockets.h"
#include "socket/support/PosixPeer.h"

#include <vector>

namespace {

// How long the server may take to notice that it is to stop.
constexpr int kStopCheckMs = 50;

}  // namespace

EchoServer::EchoServer()
{
    m_Listener = peer::Listen(m_Port);
    m_Thread = std::thread([this] { Run(); });
}

EchoServer::~EchoServer()
{
    m_Stop = true;
    m_Thread.join();
    peer::Close(m_Listener);
}

void EchoServer::Run()
{
    std::vector<pollfd> fds{PollEntry(m_Listener, POLLIN)};
    while (!m_Stop) {
        int ready = poll(fds.data(), static_cast<unsigned long>(fds.size()), kStopCheckMs);
        if (ready < 0)
            return;
        if (ready == 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int client = accept(m_Listener, nullptr, nullptr);
            if (client >= 0)
                fds.push_back(PollEntry(client, POLLIN));
        }
        for (std::size_t i = 1; i < fds.size();) {
            if (!fds[i].revents) {
                ++i;
                continue;
            }
            char buffer[4096];
            auto fd = static_cast<int>(fds[i].fd);
            auto n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0 || !peer::SendAll(fd, std::string(buffer, static_cast<std::size_t>(n)))) {
                peer::Close(fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                continue;
            }
            fds[i].revents = 0;
            ++i;
        }
    }
    for (std::size_t i = 1; i < fds.size(); ++i)
        peer::Close(static_cast<int>(fds[i].fd));
}
