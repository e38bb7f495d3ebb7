#include "PosixPeer.h"

// Its checks read Linux descriptors; the tests that use it are Linux-only.
#ifndef _WIN32

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace posix {

const int kSolSocket = SOL_SOCKET, kSoReuseAddr = SO_REUSEADDR, kSoKeepAlive = SO_KEEPALIVE,
          kSoBroadcast = SO_BROADCAST, kSoSndBuf = SO_SNDBUF, kSoRcvBuf = SO_RCVBUF;
const int kIpProtoTcp = IPPROTO_TCP, kTcpNoDelay = TCP_NODELAY, kIpProtoIp = IPPROTO_IP,
          kIpMulticastTtl = IP_MULTICAST_TTL, kIpMulticastLoop = IP_MULTICAST_LOOP;

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET)
        return 0;
    return ntohs(address.sin_port);
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

int Listen(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    port = LocalPort(fd);
    return fd;
}

int Accept(int listener, int timeoutMs)
{
    if (!WaitReadable(listener, timeoutMs))
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int Connect(std::uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int BoundUdp(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = LocalPort(fd);
    return fd;
}

bool SendUdp(std::uint16_t port, const std::string& data)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    ssize_t sent = sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
    return sent == static_cast<ssize_t>(data.size());
}

int ReservePort(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = LocalPort(fd);
    return fd;
}

bool SendAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t sent = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

std::string Receive(int fd, std::size_t count, int timeoutMs)
{
    std::string data;
    char buffer[4096];
    while (data.size() < count && WaitReadable(fd, timeoutMs)) {
        ssize_t got = recv(fd, buffer, std::min(sizeof buffer, count - data.size()), 0);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

std::size_t Drain(int fd)
{
    std::size_t total = 0;
    char buffer[65536];
    for (;;) {
        ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            return total;
        total += static_cast<std::size_t>(got);
    }
}

void SetReceiveBuffer(int fd, int bytes)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void HalfClose(int fd)
{
    shutdown(fd, SHUT_WR);
}

void ResetClose(int fd)
{
    linger abortive{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(fd);
}

void Close(int fd)
{
    close(fd);
}

int FindSocketByLocalPort(std::uint16_t port, bool stream)
{
    for (int fd = 0; fd < 4096; ++fd) {
        if (fcntl(fd, F_GETFD) < 0)
            continue;
        int type = 0;
        socklen_t length = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
            continue;
        if (type == (stream ? SOCK_STREAM : SOCK_DGRAM) && LocalPort(fd) == port)
            return fd;
    }
    return -1;
}

int IntOption(int fd, int level, int name)
{
    int value = 0;
    socklen_t length = sizeof value;
    if (getsockopt(fd, level, name, &value, &length) != 0)
        return -1;
    if (length == 1)
        return *reinterpret_cast<unsigned char*>(&value);
    return value;
}

LingerValue LingerOption(int fd)
{
    linger value{};
    socklen_t length = sizeof value;
    getsockopt(fd, SOL_SOCKET, SO_LINGER, &value, &length);
    return {value.l_onoff, value.l_linger};
}

std::uint32_t MulticastInterface(int fd)
{
    in_addr value{};
    socklen_t length = sizeof value;
    getsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &value, &length);
    return value.s_addr;
}

int ThreadCount(const char* name)
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string threadName;
        std::getline(comm, threadName);
        count += threadName == name;
    }
    closedir(tasks);
    return count;
}

void* ProgramSocketFunction()
{
    return dlsym(RTLD_DEFAULT, "socket");
}

bool ProgramSocketWorks()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool real = fcntl(fd, F_GETFD) >= 0;
    close(fd);
    return real;
}

}  // namespace posix

#endif  // _WIN32
