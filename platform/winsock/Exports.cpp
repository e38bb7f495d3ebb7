// The 30 functions of "wsock32.dll", by their Windows names with C linkage.
// This file sees only the Windows view (WinSock.h); the work is done on
// the POSIX side (Backend.h), so no call here can reach the C library's
// functions of the same names, nor they ours. wsock32.map exports these
// names and nothing else.
#include "Backend.h"
#include "WinSock.h"
#include "WinsockNumbers.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

// The POSIX side works with its own copies of the numbers and layouts.
static_assert(win::kInvalidSocket == INVALID_SOCKET && win::kSocketError == SOCKET_ERROR);
static_assert(win::kAfInet == AF_INET && win::kSockStream == SOCK_STREAM && win::kSockDgram == SOCK_DGRAM &&
              win::kSockRaw == SOCK_RAW);
static_assert(win::kSolSocket == SOL_SOCKET && win::kSoDebug == SO_DEBUG && win::kSoReuseAddr == SO_REUSEADDR &&
              win::kSoKeepAlive == SO_KEEPALIVE && win::kSoDontRoute == SO_DONTROUTE &&
              win::kSoBroadcast == SO_BROADCAST && win::kSoLinger == SO_LINGER && win::kSoOobInline == SO_OOBINLINE &&
              win::kSoSndBuf == SO_SNDBUF && win::kSoRcvBuf == SO_RCVBUF);
static_assert(win::kIpProtoIp == IPPROTO_IP && win::kIpProtoTcp == IPPROTO_TCP && win::kTcpNoDelay == TCP_NODELAY &&
              win::kIpMulticastIf == IP_MULTICAST_IF && win::kIpMulticastTtl == IP_MULTICAST_TTL &&
              win::kIpMulticastLoop == IP_MULTICAST_LOOP && win::kIpAddMembership == IP_ADD_MEMBERSHIP &&
              win::kIpDropMembership == IP_DROP_MEMBERSHIP);
static_assert(win::kFionRead == FIONREAD && win::kFionBio == FIONBIO);
static_assert(win::kMsgOob == MSG_OOB && win::kMsgPeek == MSG_PEEK && win::kSdReceive == SD_RECEIVE &&
              win::kSdSend == SD_SEND && win::kSdBoth == SD_BOTH);
static_assert(win::kFdRead == FD_READ && win::kFdWrite == FD_WRITE && win::kFdOob == FD_OOB &&
              win::kFdAccept == FD_ACCEPT && win::kFdConnect == FD_CONNECT && win::kFdClose == FD_CLOSE);
static_assert(sizeof(sockaddr_in) == win::kSockAddrInSize && offsetof(sockaddr_in, sin_family) == win::kSockAddrInFamily &&
              offsetof(sockaddr_in, sin_port) == win::kSockAddrInPort &&
              offsetof(sockaddr_in, sin_addr) == win::kSockAddrInAddr);
static_assert(sizeof(linger) == win::kLingerSize && offsetof(linger, l_onoff) == win::kLingerOnOff &&
              offsetof(linger, l_linger) == win::kLingerSeconds);
static_assert(sizeof(ip_mreq) == win::kIpMreqSize);

namespace {

// Results of the database calls live until the same thread's next call,
// as on Windows.
struct HostStorage {
    std::unique_ptr<std::max_align_t[]> block;
    std::size_t size = 0;
};

struct ServiceStorage {
    wsock::ServiceRecord record;
    std::vector<char*> aliases;
    servent entry{};
};

struct ProtocolStorage {
    wsock::ProtocolRecord record;
    std::vector<char*> aliases;
    protoent entry{};
};

thread_local HostStorage t_Host;
thread_local ServiceStorage t_Service;
thread_local ProtocolStorage t_Protocol;
thread_local char t_DottedAddress[16];

char** AliasPointers(std::vector<std::string>& names, std::vector<char*>& pointers)
{
    pointers.clear();
    for (std::string& name : names)
        pointers.push_back(name.data());
    pointers.push_back(nullptr);
    return pointers.data();
}

}  // namespace

#define WSOCK_EXPORT extern "C" __attribute__((visibility("default")))

WSOCK_EXPORT int WSAStartup(WORD versionRequested, WSADATA* data)
{
    if (data == nullptr)
        return WSAEFAULT;
    wsock::StartupInfo info;
    int result = wsock::Startup(versionRequested, info);
    if (result != 0)
        return result;
    std::memset(data, 0, sizeof *data);
    data->wVersion = info.version;
    data->wHighVersion = info.highVersion;
    data->iMaxSockets = info.maxSockets;
    data->iMaxUdpDg = info.maxUdpDatagram;
    data->lpVendorInfo = nullptr;
    std::snprintf(data->szDescription, sizeof data->szDescription, "%s", info.description.c_str());
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "%s", info.systemStatus.c_str());
    return 0;
}

WSOCK_EXPORT int WSACleanup()
{
    return wsock::Cleanup();
}

WSOCK_EXPORT void WSASetLastError(int error)
{
    wsock::SetLastError(error);
}

WSOCK_EXPORT int WSAGetLastError()
{
    return wsock::LastError();
}

WSOCK_EXPORT int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events)
{
    return wsock::AsyncSelect(s, window, message, events);
}

WSOCK_EXPORT HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                                          int bufferLength)
{
    return wsock::AsyncGetHostByName(window, message, name, buffer, bufferLength);
}

WSOCK_EXPORT HANDLE WSAAsyncGetHostByAddr(HWND window, UINT message, const char* addr, int length, int type,
                                          char* buffer, int bufferLength)
{
    return wsock::AsyncGetHostByAddr(window, message, addr, length, type, buffer, bufferLength);
}

WSOCK_EXPORT int WSACancelAsyncRequest(HANDLE task)
{
    return wsock::CancelAsyncRequest(task);
}

WSOCK_EXPORT hostent* gethostbyname(const char* name)
{
    if (!wsock::RequireStarted())
        return nullptr;
    wsock::HostRecord host;
    if (int error = wsock::LookUpHostByName(name, host)) {
        wsock::SetLastError(error);
        return nullptr;
    }
    const auto needed = static_cast<std::size_t>(wsock::LayOutHostEnt(host, nullptr, 0));
    if (needed > t_Host.size) {
        const std::size_t units = (needed + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        t_Host.block = std::make_unique<std::max_align_t[]>(units);
        t_Host.size = units * sizeof(std::max_align_t);
    }
    char* buffer = reinterpret_cast<char*>(t_Host.block.get());
    wsock::LayOutHostEnt(host, buffer, static_cast<int>(t_Host.size));
    return reinterpret_cast<hostent*>(buffer);
}

WSOCK_EXPORT servent* getservbyname(const char* name, const char* proto)
{
    if (!wsock::RequireStarted())
        return nullptr;
    ServiceStorage& storage = t_Service;
    if (int error = wsock::LookUpService(name, proto, storage.record)) {
        wsock::SetLastError(error);
        return nullptr;
    }
    storage.entry.s_name = storage.record.name.data();
    storage.entry.s_aliases = AliasPointers(storage.record.aliases, storage.aliases);
    storage.entry.s_proto = storage.record.protocol.data();
    storage.entry.s_port = static_cast<short>(storage.record.port);
    return &storage.entry;
}

WSOCK_EXPORT protoent* getprotobyname(const char* name)
{
    if (!wsock::RequireStarted())
        return nullptr;
    ProtocolStorage& storage = t_Protocol;
    if (int error = wsock::LookUpProtocol(name, storage.record)) {
        wsock::SetLastError(error);
        return nullptr;
    }
    storage.entry.p_name = storage.record.name.data();
    storage.entry.p_aliases = AliasPointers(storage.record.aliases, storage.aliases);
    storage.entry.p_proto = static_cast<short>(storage.record.number);
    return &storage.entry;
}

WSOCK_EXPORT SOCKET socket(int af, int type, int protocol)
{
    return wsock::Socket(af, type, protocol);
}

WSOCK_EXPORT int bind(SOCKET s, const sockaddr* name, int nameLength)
{
    return wsock::Bind(s, name, nameLength);
}

WSOCK_EXPORT int connect(SOCKET s, const sockaddr* name, int nameLength)
{
    return wsock::Connect(s, name, nameLength);
}

WSOCK_EXPORT int listen(SOCKET s, int backlog)
{
    return wsock::Listen(s, backlog);
}

WSOCK_EXPORT SOCKET accept(SOCKET s, sockaddr* addr, int* addrLength)
{
    return wsock::Accept(s, addr, addrLength);
}

WSOCK_EXPORT int send(SOCKET s, const char* buffer, int length, int flags)
{
    return wsock::Send(s, buffer, length, flags);
}

WSOCK_EXPORT int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength)
{
    return wsock::SendTo(s, buffer, length, flags, to, toLength);
}

WSOCK_EXPORT int recv(SOCKET s, char* buffer, int length, int flags)
{
    return wsock::Recv(s, buffer, length, flags);
}

WSOCK_EXPORT int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength)
{
    return wsock::RecvFrom(s, buffer, length, flags, from, fromLength);
}

WSOCK_EXPORT int shutdown(SOCKET s, int how)
{
    return wsock::Shutdown(s, how);
}

WSOCK_EXPORT int closesocket(SOCKET s)
{
    return wsock::CloseSocket(s);
}

WSOCK_EXPORT int setsockopt(SOCKET s, int level, int name, const char* value, int length)
{
    return wsock::SetSockOpt(s, level, name, value, length);
}

WSOCK_EXPORT int ioctlsocket(SOCKET s, long command, u_long* argument)
{
    return wsock::IoctlSocket(s, command, argument);
}

WSOCK_EXPORT int getsockname(SOCKET s, sockaddr* name, int* nameLength)
{
    return wsock::GetSockName(s, name, nameLength);
}

WSOCK_EXPORT int getpeername(SOCKET s, sockaddr* name, int* nameLength)
{
    return wsock::GetPeerName(s, name, nameLength);
}

// Conversions are pure and work before WSAStartup too.
WSOCK_EXPORT u_short htons(u_short value)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    u_short result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

WSOCK_EXPORT u_short ntohs(u_short value)
{
    unsigned char bytes[2];
    std::memcpy(bytes, &value, sizeof value);
    return static_cast<u_short>((bytes[0] << 8) | bytes[1]);
}

WSOCK_EXPORT u_long inet_addr(const char* text)
{
    return wsock::InetAddr(text);
}

WSOCK_EXPORT char* inet_ntoa(in_addr address)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &address.s_addr, sizeof bytes);
    std::snprintf(t_DottedAddress, sizeof t_DottedAddress, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return t_DottedAddress;
}
