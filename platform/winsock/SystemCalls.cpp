#include "SystemCalls.h"

#include <cerrno>
#include <dlfcn.h>

namespace wsock::sys {

namespace {

// Resolved once, from the global scope (the program and the libraries it
// was linked with), where the C library or a sanitizer's interceptor
// stands; never from this module.
template <typename Function>
Function* Resolve(const char* name)
{
    return reinterpret_cast<Function*>(::dlsym(RTLD_DEFAULT, name));
}

#define WSOCK_SYSTEM_CALL(name, failure, ...)                                        \
    static auto* const function = Resolve<decltype(::name)>(#name);                    \
    if (function == nullptr) {                                                       \
        errno = ENOSYS;                                                              \
        return failure;                                                              \
    }                                                                                \
    return function(__VA_ARGS__)

}  // namespace

int socket(int domain, int type, int protocol)
{
    WSOCK_SYSTEM_CALL(socket, -1, domain, type, protocol);
}

int bind(int fd, const sockaddr* address, socklen_t length)
{
    WSOCK_SYSTEM_CALL(bind, -1, fd, address, length);
}

int connect(int fd, const sockaddr* address, socklen_t length)
{
    WSOCK_SYSTEM_CALL(connect, -1, fd, address, length);
}

int listen(int fd, int backlog)
{
    WSOCK_SYSTEM_CALL(listen, -1, fd, backlog);
}

ssize_t send(int fd, const void* buffer, size_t length, int flags)
{
    WSOCK_SYSTEM_CALL(send, -1, fd, buffer, length, flags);
}

ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength)
{
    WSOCK_SYSTEM_CALL(sendto, -1, fd, buffer, length, flags, to, toLength);
}

ssize_t recv(int fd, void* buffer, size_t length, int flags)
{
    WSOCK_SYSTEM_CALL(recv, -1, fd, buffer, length, flags);
}

int shutdown(int fd, int how)
{
    WSOCK_SYSTEM_CALL(shutdown, -1, fd, how);
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
    WSOCK_SYSTEM_CALL(setsockopt, -1, fd, level, name, value, length);
}

int getsockname(int fd, sockaddr* address, socklen_t* length)
{
    WSOCK_SYSTEM_CALL(getsockname, -1, fd, address, length);
}

int getpeername(int fd, sockaddr* address, socklen_t* length)
{
    WSOCK_SYSTEM_CALL(getpeername, -1, fd, address, length);
}

}  // namespace wsock::sys
