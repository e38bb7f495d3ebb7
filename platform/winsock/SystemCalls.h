// The C library's socket functions whose names this library exports too.
// Calling them by name from inside the library would bind to our own
// exports wherever the loader lets a module see itself first (-Bsymbolic,
// RTLD_DEEPBIND), so they are taken from the program's global scope, which
// a module loaded with local scope is not part of.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

namespace wsock::sys {

int socket(int domain, int type, int protocol);
int bind(int fd, const sockaddr* address, socklen_t length);
int connect(int fd, const sockaddr* address, socklen_t length);
int listen(int fd, int backlog);
ssize_t send(int fd, const void* buffer, size_t length, int flags);
ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength);
ssize_t recv(int fd, void* buffer, size_t length, int flags);
int shutdown(int fd, int how);
int setsockopt(int fd, int level, int name, const void* value, socklen_t length);
int getsockname(int fd, sockaddr* address, socklen_t* length);
int getpeername(int fd, sockaddr* address, socklen_t* length);

}  // namespace wsock::sys
