// Plain sockets for test peers under one set of names on both systems: the
// POSIX calls, and on Windows the same calls over Windows Sockets 2. Include
// it only in files that stay apart from the updater's view of sockets.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // Windows raises no signal on a broken connection
#endif

// Starts Windows Sockets 2 for this process once; the test's own peers
// use it next to the updater's library.
inline bool StartPeerSockets()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Before any test's first socket.
inline const bool g_PeerSocketsStarted = StartPeerSockets();

// Socket handles are small numbers here too; the helpers keep them as int.
inline int getsockopt(int fd, int level, int name, void* value, socklen_t* length)
{
    return ::getsockopt(static_cast<SOCKET>(fd), level, name, static_cast<char*>(value), length);
}
inline int setsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
    return ::setsockopt(static_cast<SOCKET>(fd), level, name, static_cast<const char*>(value), length);
}
inline int poll(pollfd* entries, unsigned long count, int timeoutMs)
{
    return WSAPoll(entries, count, timeoutMs);
}
inline int CloseSocket(int fd)
{
    return closesocket(static_cast<SOCKET>(fd));
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

inline bool StartPeerSockets()
{
    return true;
}
inline int CloseSocket(int fd)
{
    return close(fd);
}
#endif

inline pollfd PollEntry(int fd, short events)
{
    pollfd entry{};
    entry.fd = fd;
    entry.events = events;
    return entry;
}
