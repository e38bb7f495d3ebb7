// setsockopt and ioctlsocket: Windows levels, names, values and commands
// translated to Linux.
#include "Library.h"
#include "SystemCalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace wsock {

namespace {

enum class ValueKind { Boolean, Integer, Linger, Address, Membership };

struct OptionRule {
    int level;
    int name;
    int systemLevel;
    int systemName;
    ValueKind kind;
};

constexpr OptionRule kOptions[] = {
    {win::kSolSocket, win::kSoDebug, SOL_SOCKET, SO_DEBUG, ValueKind::Boolean},
    {win::kSolSocket, win::kSoReuseAddr, SOL_SOCKET, SO_REUSEADDR, ValueKind::Boolean},
    {win::kSolSocket, win::kSoKeepAlive, SOL_SOCKET, SO_KEEPALIVE, ValueKind::Boolean},
    {win::kSolSocket, win::kSoDontRoute, SOL_SOCKET, SO_DONTROUTE, ValueKind::Boolean},
    {win::kSolSocket, win::kSoBroadcast, SOL_SOCKET, SO_BROADCAST, ValueKind::Boolean},
    {win::kSolSocket, win::kSoLinger, SOL_SOCKET, SO_LINGER, ValueKind::Linger},
    {win::kSolSocket, win::kSoOobInline, SOL_SOCKET, SO_OOBINLINE, ValueKind::Boolean},
    {win::kSolSocket, win::kSoSndBuf, SOL_SOCKET, SO_SNDBUF, ValueKind::Integer},
    {win::kSolSocket, win::kSoRcvBuf, SOL_SOCKET, SO_RCVBUF, ValueKind::Integer},
    {win::kIpProtoTcp, win::kTcpNoDelay, IPPROTO_TCP, TCP_NODELAY, ValueKind::Boolean},
    {win::kIpProtoIp, win::kIpMulticastIf, IPPROTO_IP, IP_MULTICAST_IF, ValueKind::Address},
    {win::kIpProtoIp, win::kIpMulticastTtl, IPPROTO_IP, IP_MULTICAST_TTL, ValueKind::Integer},
    {win::kIpProtoIp, win::kIpMulticastLoop, IPPROTO_IP, IP_MULTICAST_LOOP, ValueKind::Boolean},
    {win::kIpProtoIp, win::kIpAddMembership, IPPROTO_IP, IP_ADD_MEMBERSHIP, ValueKind::Membership},
    {win::kIpProtoIp, win::kIpDropMembership, IPPROTO_IP, IP_DROP_MEMBERSHIP, ValueKind::Membership},
};

const OptionRule* FindOption(int level, int name, bool& levelKnown)
{
    levelKnown = false;
    for (const OptionRule& rule : kOptions) {
        if (rule.level != level)
            continue;
        levelKnown = true;
        if (rule.name == name)
            return &rule;
    }
    return nullptr;
}

int ReadInt(const char* value)
{
    int result;
    std::memcpy(&result, value, sizeof result);
    return result;
}

}  // namespace

int SetSockOpt(Handle s, int level, int name, const char* value, int length)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    bool levelKnown;
    const OptionRule* rule = FindOption(level, name, levelKnown);
    if (rule == nullptr)
        return Fail(levelKnown ? win::WSAENOPROTOOPT : win::WSAEINVAL);
    if (value == nullptr)
        return Fail(win::WSAEFAULT);

    int result;
    switch (rule->kind) {
    case ValueKind::Boolean:
    case ValueKind::Integer: {
        // Windows also takes an on/off value shorter than an int: its first byte.
        const bool shortBoolean =
            rule->kind == ValueKind::Boolean && length >= 1 && length < static_cast<int>(sizeof(int));
        if (length < static_cast<int>(sizeof(int)) && !shortBoolean)
            return Fail(win::WSAEFAULT);
        int number = shortBoolean ? static_cast<unsigned char>(value[0]) : ReadInt(value);
        // Windows takes any non-zero value as true (the callers pass -1).
        if (rule->kind == ValueKind::Boolean)
            number = number != 0 ? 1 : 0;
        result = sys::setsockopt(entry->fd, rule->systemLevel, rule->systemName, &number, sizeof number);
        break;
    }
    case ValueKind::Linger: {
        if (length < static_cast<int>(win::kLingerSize))
            return Fail(win::WSAEFAULT);
        std::uint16_t onOff;
        std::uint16_t seconds;
        std::memcpy(&onOff, value + win::kLingerOnOff, sizeof onOff);
        std::memcpy(&seconds, value + win::kLingerSeconds, sizeof seconds);
        ::linger systemLinger{onOff != 0 ? 1 : 0, seconds};
        result = sys::setsockopt(entry->fd, SOL_SOCKET, SO_LINGER, &systemLinger, sizeof systemLinger);
        break;
    }
    case ValueKind::Address: {
        if (length < static_cast<int>(sizeof(in_addr)))
            return Fail(win::WSAEFAULT);
        in_addr address;
        std::memcpy(&address.s_addr, value, sizeof address.s_addr);
        result = sys::setsockopt(entry->fd, IPPROTO_IP, rule->systemName, &address, sizeof address);
        break;
    }
    case ValueKind::Membership: {
        if (length < static_cast<int>(win::kIpMreqSize))
            return Fail(win::WSAEFAULT);
        ip_mreq request;
        std::memcpy(&request.imr_multiaddr.s_addr, value, 4);
        std::memcpy(&request.imr_interface.s_addr, value + 4, 4);
        result = sys::setsockopt(entry->fd, IPPROTO_IP, rule->systemName, &request, sizeof request);
        break;
    }
    default:
        return Fail(win::WSAENOPROTOOPT);
    }
    return result == 0 ? 0 : Fail(ErrorFromErrno(errno));
}

int IoctlSocket(Handle s, long command, std::uint32_t* argument)
{
    EntryPtr entry = FindSocket(s);
    if (!entry)
        return win::kSocketError;
    if (command != win::kFionRead && command != win::kFionBio)
        return Fail(win::WSAEOPNOTSUPP);
    if (argument == nullptr)
        return Fail(win::WSAEFAULT);
    if (command == win::kFionRead) {
        int waiting = 0;
        if (::ioctl(entry->fd, FIONREAD, &waiting) != 0) {
            // A listening socket has nothing to read; Windows says 0.
            if (errno != EINVAL)
                return Fail(ErrorFromErrno(errno));
            waiting = 0;
        }
        *argument = static_cast<std::uint32_t>(waiting);
        return 0;
    }
    // FIONBIO
    const bool wanted = *argument != 0;
    std::lock_guard lock(LibraryMutex());
    // A socket registered with WSAAsyncSelect stays non-blocking.
    if (!wanted && entry->events != 0)
        return Fail(win::WSAEINVAL);
    int flags = ::fcntl(entry->fd, F_GETFL);
    if (flags < 0 || ::fcntl(entry->fd, F_SETFL, wanted ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) != 0)
        return Fail(ErrorFromErrno(errno));
    entry->nonBlocking = wanted;
    return 0;
}

}  // namespace wsock
