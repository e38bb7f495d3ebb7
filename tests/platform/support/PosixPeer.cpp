#include "PosixPeer.h"

#include "common/PeerSockets.h"

#include <algorithm>

#ifdef _WIN32
#define SHUT_WR SD_SEND
#else
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>

#include <fstream>
#endif

namespace posix {

const int kSolSocket = SOL_SOCKET, kSoReuseAddr = SO_REUSEADDR, kSoKeepAlive = SO_KEEPALIVE,
          kSoBroadcast = SO_BROADCAST, kSoSndBuf = SO_SNDBUF, kSoRcvBuf = SO_RCVBUF;
const int kIpProtoTcp = IPPROTO_TCP, kTcpNoDelay = TCP_NODELAY, kIpProtoIp = IPPROTO_IP,
          kIpMulticastTtl = IP_MULTICAST_TTL, kIpMulticastLoop = IP_MULTICAST_LOOP;

namespace {

#ifdef _WIN32
constexpr int kNoInherit = 0;   // handles are not inherited unless asked for
constexpr int kHandleStep = 4;  // handles are multiples of four
#else
constexpr int kNoInherit = SOCK_CLOEXEC;
constexpr int kHandleStep = 1;
#endif

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
    pollfd p = PollEntry(fd, POLLIN);
    return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

int Listen(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM | kNoInherit, 0);
    sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        CloseSocket(fd);
        return -1;
    }
    port = LocalPort(fd);
    return fd;
}

int Accept(int listener, int timeoutMs)
{
    if (!WaitReadable(listener, timeoutMs))
        return -1;
#ifdef _WIN32
    return static_cast<int>(accept(listener, nullptr, nullptr));
#else
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

int Connect(std::uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | kNoInherit, 0);
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        CloseSocket(fd);
        return -1;
    }
    return fd;
}

int BoundUdp(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | kNoInherit, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = LocalPort(fd);
    return fd;
}

bool SendUdp(std::uint16_t port, const std::string& data)
{
    int fd = socket(AF_INET, SOCK_DGRAM | kNoInherit, 0);
    sockaddr_in address = Loopback(port);
    auto sent = sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    CloseSocket(fd);
    return sent == static_cast<decltype(sent)>(data.size());
}

int ReservePort(std::uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM | kNoInherit, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = LocalPort(fd);
    return fd;
}

bool SendAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        auto sent = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
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
        auto got = recv(fd, buffer, std::min(sizeof buffer, count - data.size()), 0);
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
    while (WaitReadable(fd, 0)) {
        auto got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
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
    CloseSocket(fd);
}

void Close(int fd)
{
    CloseSocket(fd);
}

int FindSocketByLocalPort(std::uint16_t port, bool stream)
{
    for (int fd = kHandleStep; fd < 0x10000; fd += kHandleStep) {
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

#ifdef _WIN32
TPeerSocketsPause::TPeerSocketsPause()
{
    WSACleanup();
}

TPeerSocketsPause::~TPeerSocketsPause()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
#else
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
#endif  // _WIN32

}  // namespace posix
