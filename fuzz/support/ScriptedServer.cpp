#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Reads what is waiting for up to timeoutMs; the count read, -1 at close.
long ReadWaiting(int fd, int timeoutMs)
{
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0)
        return 0;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? n : -1;
}

}  // namespace

TScriptedServer& TScriptedServer::Shared()
{
    static auto* server = new TScriptedServer();
    return *server;
}

TScriptedServer::TScriptedServer()
{
    m_Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_Listener < 0 || ::bind(m_Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_Listener, 16) != 0 ||
        ::getsockname(m_Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_Port = ntohs(address.sin_port);
    m_Thread = std::thread([this] { Serve(); });
}

TScriptedServer::~TScriptedServer()
{
    m_Stopping = true;
    ::shutdown(m_Listener, SHUT_RDWR);
    m_Thread.join();
    ::close(m_Listener);
}

void TScriptedServer::Script(std::vector<TStep> steps)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Steps = std::move(steps);
}

void TScriptedServer::Serve()
{
    while (!m_Stopping) {
        pollfd entry{m_Listener, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        const int connection = ::accept4(m_Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        Answer(connection);
        ::close(connection);
    }
}

void TScriptedServer::Answer(int connection)
{
    std::vector<TStep> steps;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        steps = m_Steps;
    }
    const int one = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::size_t received = 0;
    bool clientDone = false;
    for (const TStep& step : steps) {
        // A client that stops sending for a while is answered anyway.
        while (!clientDone && received < step.AwaitTotal) {
            const long n = ReadWaiting(connection, 50);
            if (n <= 0)
                clientDone = true;
            else
                received += static_cast<std::size_t>(n);
        }
        if (::send(connection, step.Bytes.data(), step.Bytes.size(), MSG_NOSIGNAL) < 0)
            return;
    }
    ::shutdown(connection, SHUT_WR);
    // Until the client closes, so that it reads everything first.
    for (int i = 0; i < 20 && ReadWaiting(connection, 100) >= 0; ++i) {
    }
}
