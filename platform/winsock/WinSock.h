// Windows Sockets 1.1 as the socket layer sees it: types with the Windows
// layouts, the Windows numbers, and the signatures of the 30 functions that
// "wsock32.dll" exports. Never include the system's socket headers with it.
#pragma once

#include "../Win32.h"

#ifdef _WIN32
#include <winsock.h>
// Named by Windows Sockets 2 only; 1.1 takes the bare numbers.
#ifndef SD_RECEIVE
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
#endif
#else

#include <cstdint>
// glibc's <sys/types.h>, which <string> and most C++ headers pull in, has a
// 64-bit u_long of its own; the Windows one has 32 bits. The Windows one
// takes another name so that both headers can meet in one file.
#include <sys/types.h>
#define u_long wsock_u_long

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using u_long = std::uint32_t;  // 32 bits on Windows, 64-bit builds included
using SOCKET = UINT_PTR;

constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

struct in_addr {
    u_long s_addr;  // network byte order
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port;  // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

struct servent {
    char* s_name;
    char** s_aliases;
    char* s_proto;
    short s_port;  // network byte order
};

struct protoent {
    char* p_name;
    char** p_aliases;
    short p_proto;
};

struct linger {
    u_short l_onoff;
    u_short l_linger;
};

struct ip_mreq {
    in_addr imr_multiaddr;
    in_addr imr_interface;
};

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};

constexpr int MAXGETHOSTSTRUCT = 1024;

// Address families, socket types, protocols
constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int PF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int SOCK_RAW = 3;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_ICMP = 1;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;
constexpr u_long INADDR_ANY = 0x00000000u;
constexpr u_long INADDR_NONE = 0xFFFFFFFFu;
constexpr u_long INADDR_BROADCAST = 0xFFFFFFFFu;

// Options
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_ACCEPTCONN = 0x0002;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;
// Windows Sockets 1.1 numbers (2.0 renumbered them)
constexpr int IP_MULTICAST_IF = 2;
constexpr int IP_MULTICAST_TTL = 3;
constexpr int IP_MULTICAST_LOOP = 4;
constexpr int IP_ADD_MEMBERSHIP = 5;
constexpr int IP_DROP_MEMBERSHIP = 6;

// ioctlsocket commands
constexpr long FIONREAD = 0x4004667Fl;
constexpr long FIONBIO = static_cast<long>(0x8004667Eu);

// send/recv flags, shutdown directions
constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// WSAAsyncSelect events; lParam = event | (error << 16)
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

inline WORD WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<WORD>(lParam & 0xFFFF); }
inline WORD WSAGETSELECTERROR(LPARAM lParam) { return static_cast<WORD>((lParam >> 16) & 0xFFFF); }
inline WORD WSAGETASYNCBUFLEN(LPARAM lParam) { return static_cast<WORD>(lParam & 0xFFFF); }
inline WORD WSAGETASYNCERROR(LPARAM lParam) { return static_cast<WORD>((lParam >> 16) & 0xFFFF); }
inline LPARAM WSAMAKESELECTREPLY(WORD event, WORD error)
{
    return static_cast<LPARAM>(static_cast<DWORD>(event) | (static_cast<DWORD>(error) << 16));
}
inline LPARAM WSAMAKEASYNCREPLY(WORD bufLen, WORD error) { return WSAMAKESELECTREPLY(bufLen, error); }

// Error numbers
constexpr int WSABASEERR = 10000;
#include "WinsockErrors.inc"

#endif  // _WIN32

// Signatures of the exported functions, for GetProcAddress.
namespace WinsockProc {
using WSAStartup = int (*)(WORD versionRequested, WSADATA* data);
using WSACleanup = int (*)();
using WSASetLastError = void (*)(int error);
using WSAGetLastError = int (*)();
using WSAAsyncSelect = int (*)(SOCKET s, HWND window, UINT message, long events);
using WSAAsyncGetHostByName = HANDLE (*)(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
using WSAAsyncGetHostByAddr = HANDLE (*)(HWND window, UINT message, const char* addr, int length, int type,
                                         char* buffer, int bufferLength);
using WSACancelAsyncRequest = int (*)(HANDLE task);
using gethostbyname = hostent* (*)(const char* name);
using getservbyname = servent* (*)(const char* name, const char* proto);
using getprotobyname = protoent* (*)(const char* name);
using socket = SOCKET (*)(int af, int type, int protocol);
using bind = int (*)(SOCKET s, const sockaddr* name, int nameLength);
using connect = int (*)(SOCKET s, const sockaddr* name, int nameLength);
using listen = int (*)(SOCKET s, int backlog);
using accept = SOCKET (*)(SOCKET s, sockaddr* addr, int* addrLength);
using send = int (*)(SOCKET s, const char* buffer, int length, int flags);
using sendto = int (*)(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength);
using recv = int (*)(SOCKET s, char* buffer, int length, int flags);
using recvfrom = int (*)(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
using shutdown = int (*)(SOCKET s, int how);
using closesocket = int (*)(SOCKET s);
using setsockopt = int (*)(SOCKET s, int level, int name, const char* value, int length);
using ioctlsocket = int (*)(SOCKET s, long command, u_long* argument);
using getsockname = int (*)(SOCKET s, sockaddr* name, int* nameLength);
using getpeername = int (*)(SOCKET s, sockaddr* name, int* nameLength);
using htons = u_short (*)(u_short value);
using ntohs = u_short (*)(u_short value);
using inet_addr = u_long (*)(const char* text);
using inet_ntoa = char* (*)(in_addr address);
}  // namespace WinsockProc
