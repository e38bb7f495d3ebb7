#include "socket/support/PosixPeer.h"

#include "common/PeerSockets.h"

#include <algorithm>
#include <cstring>

namespace peer {

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd entry = PollEntry(fd, POLLIN);
    return poll(&entry, 1, timeoutMs) > 0;
}

int IntOption(int fd, int level, int name)
{
    int value = 0;
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return value;
}

}  // namespace

int Listen(int& port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 5);
    port = BoundPort(fd);
    return fd;
}

int Accept(int listener, int timeoutMs)
{
    if (!WaitReadable(listener, timeoutMs))
        return -1;
    return accept(listener, nullptr, nullptr);
}

int Connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        CloseSocket(fd);
        return -1;
    }
    return fd;
}

int BindUdp(int& port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = BoundPort(fd);
    return fd;
}

bool SendAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string Receive(int fd, std::size_t count, int timeoutMs)
{
    std::string result;
    char buffer[65536];
    while (result.size() < count && WaitReadable(fd, timeoutMs)) {
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - result.size()), 0);
        if (n <= 0)
            break;
        result.append(buffer, static_cast<std::size_t>(n));
    }
    return result;
}

std::string ReceiveUrgent(int fd, int timeoutMs)
{
    char byte = 0;
#ifdef _WIN32
    // Windows signals urgent data as an exception, which its poll lacks.
    fd_set urgent;
    FD_ZERO(&urgent);
    FD_SET(static_cast<SOCKET>(fd), &urgent);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, nullptr, nullptr, &urgent, &limit) <= 0 || recv(fd, &byte, 1, MSG_OOB) != 1)
        return std::string();
#else
    pollfd entry = PollEntry(fd, POLLPRI);
    if (poll(&entry, 1, timeoutMs) <= 0 || recv(fd, &byte, 1, MSG_OOB) != 1)
        return std::string();
#endif
    return std::string(1, byte);
}

std::string ReceiveToEnd(int fd, int timeoutMs)
{
    std::string result;
    char buffer[65536];
    while (WaitReadable(fd, timeoutMs)) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        result.append(buffer, static_cast<std::size_t>(n));
    }
    return result;
}

std::string ReceiveDatagram(int fd, int& fromPort, int timeoutMs)
{
    if (!WaitReadable(fd, timeoutMs))
        return "(timeout)";
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    fromPort = ntohs(from.sin_port);
    return n < 0 ? std::string("(error)") : std::string(buffer, static_cast<std::size_t>(n));
}

void SendDatagram(int fd, int port, const std::string& data)
{
    sockaddr_in address = Loopback(port);
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

void Reset(int fd)
{
    ::linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    CloseSocket(fd);
}

void Close(int fd)
{
    if (fd >= 0)
        CloseSocket(fd);
}

bool SawOrderlyEnd(int fd, int timeoutMs)
{
    char buffer[4096];
    while (WaitReadable(fd, timeoutMs)) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

int FindByLocalPort(int port)
{
#ifdef _WIN32
    constexpr int kFirst = 4, kLast = 0x10000, kStep = 4;  // handles are multiples of four
#else
    constexpr int kFirst = 3, kLast = 4096, kStep = 1;
#endif
    for (int fd = kFirst; fd < kLast; fd += kStep) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET &&
            ntohs(address.sin_port) == port && IntOption(fd, SOL_SOCKET, SO_ACCEPTCONN) == 0)
            return fd;
    }
    return -1;
}

Options ReadOptions(int fd)
{
    Options options;
    options.reuseAddr = IntOption(fd, SOL_SOCKET, SO_REUSEADDR) != 0;
    options.keepAlive = IntOption(fd, SOL_SOCKET, SO_KEEPALIVE) != 0;
    options.broadcast = IntOption(fd, SOL_SOCKET, SO_BROADCAST) != 0;
    if (IntOption(fd, SOL_SOCKET, SO_TYPE) == SOCK_STREAM)
        options.noDelay = IntOption(fd, IPPROTO_TCP, TCP_NODELAY) != 0;
    ::linger value{};
    socklen_t length = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, SO_LINGER, &value, &length) == 0) {
        options.lingerOn = value.l_onoff != 0;
        options.lingerSeconds = value.l_linger;
    }
    return options;
}

int Type(int fd)
{
    return IntOption(fd, SOL_SOCKET, SO_TYPE);
}

}  // namespace peer
