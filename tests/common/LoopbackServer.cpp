#include "LoopbackServer.h"

#include "common/PeerSockets.h"

#include <stdexcept>

namespace {
thread_local TLoopbackServer* t_Server = nullptr;
}

bool TServerConnection::WaitReadable()
{
    pollfd entry = PollEntry(m_Fd, POLLIN);
    return ::poll(&entry, 1, kServerWaitMs) > 0;
}

std::string TServerConnection::ReadHeader()
{
    std::string header = m_Pending;
    for (;;) {
        const std::size_t end = header.find("\r\n\r\n");
        if (end != std::string::npos) {
            m_Pending = header.substr(end + 4);
            header.resize(end + 4);
            break;
        }
        char buffer[4096];
        if (!WaitReadable())
            break;
        const ssize_t count = ::recv(m_Fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            break;
        header.append(buffer, static_cast<std::size_t>(count));
    }
    TLoopbackServer::Record(*this, header);
    return header;
}

std::string TServerConnection::ReadBytes(std::size_t count)
{
    std::string bytes = m_Pending.substr(0, count);
    m_Pending.erase(0, bytes.size());
    while (bytes.size() < count && WaitReadable()) {
        char buffer[4096];
        const ssize_t got = ::recv(m_Fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

void TServerConnection::Write(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(m_Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;  // the peer is gone; the test sees it from the client's side
        sent += static_cast<std::size_t>(count);
    }
}

bool TServerConnection::WaitForClose()
{
    char buffer[4096];
    while (WaitReadable()) {
        if (::recv(m_Fd, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

void TServerConnection::ResetOnClose()
{
    const linger abortive{1, 0};
    setsockopt(m_Fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

TLoopbackServer::TLoopbackServer(TScript script, TServing serving) : m_Script(std::move(script)), m_Serving(serving)
{
    m_ListenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_ListenFd < 0 || ::bind(m_ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_ListenFd, 8) != 0 ||
        ::getsockname(m_ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_Port = ntohs(address.sin_port);
    m_Thread = std::thread([this] { Serve(); });
}

TLoopbackServer::~TLoopbackServer()
{
    m_Stop = true;
    m_Thread.join();
    for (std::thread& thread : m_ConnectionThreads)
        thread.join();
    CloseSocket(m_ListenFd);
}

void TLoopbackServer::Serve()
{
    while (!m_Stop) {
        pollfd entry = PollEntry(m_ListenFd, POLLIN);
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const int fd = ::accept(m_ListenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        const int index = m_Connections++;
        if (m_Serving == TServing::AtOnce)
            m_ConnectionThreads.emplace_back([this, fd, index] { ServeConnection(fd, index); });
        else
            ServeConnection(fd, index);
    }
}

void TLoopbackServer::ServeConnection(int fd, int index)
{
    t_Server = this;
    TServerConnection connection(fd, index);
    m_Script(connection);
    CloseSocket(fd);
}

void TLoopbackServer::Record(TServerConnection&, const std::string& header)
{
    std::lock_guard lock(t_Server->m_Mutex);
    t_Server->m_Requests.push_back(header);
}

std::vector<std::string> TLoopbackServer::Requests() const
{
    std::lock_guard lock(m_Mutex);
    return m_Requests;
}
