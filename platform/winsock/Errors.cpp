// The per-thread error number and the translation of errno values.
#include "Library.h"

#include <cerrno>

namespace wsock {

namespace {
thread_local int t_LastError = 0;
}

void SetLastError(int error)
{
    t_LastError = error;
}

int LastError()
{
    return t_LastError;
}

int ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case EINTR: return win::WSAEINTR;
    case EBADF: return win::WSAENOTSOCK;
    case EACCES:
    case EPERM: return win::WSAEACCES;
    case EFAULT: return win::WSAEFAULT;
    case EINVAL: return win::WSAEINVAL;
    case EMFILE:
    case ENFILE: return win::WSAEMFILE;
    case EAGAIN: return win::WSAEWOULDBLOCK;
    case EINPROGRESS: return win::WSAEINPROGRESS;
    case EALREADY: return win::WSAEALREADY;
    case ENOTSOCK: return win::WSAENOTSOCK;
    case EDESTADDRREQ: return win::WSAEDESTADDRREQ;
    case EMSGSIZE: return win::WSAEMSGSIZE;
    case EPROTOTYPE: return win::WSAEPROTOTYPE;
    case ENOPROTOOPT: return win::WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return win::WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return win::WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return win::WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return win::WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return win::WSAEAFNOSUPPORT;
    case EADDRINUSE: return win::WSAEADDRINUSE;
    case EADDRNOTAVAIL: return win::WSAEADDRNOTAVAIL;
    case ENETDOWN: return win::WSAENETDOWN;
    case ENETUNREACH: return win::WSAENETUNREACH;
    case ENETRESET: return win::WSAENETRESET;
    case ECONNABORTED: return win::WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return win::WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return win::WSAENOBUFS;
    case EISCONN: return win::WSAEISCONN;
    case ENOTCONN: return win::WSAENOTCONN;
    case ESHUTDOWN: return win::WSAESHUTDOWN;
    case ETOOMANYREFS: return win::WSAETOOMANYREFS;
    case ETIMEDOUT: return win::WSAETIMEDOUT;
    case ECONNREFUSED: return win::WSAECONNREFUSED;
    case ELOOP: return win::WSAELOOP;
    case ENAMETOOLONG: return win::WSAENAMETOOLONG;
    case EHOSTDOWN: return win::WSAEHOSTDOWN;
    case EHOSTUNREACH: return win::WSAEHOSTUNREACH;
    case ENOTEMPTY: return win::WSAENOTEMPTY;
    case EUSERS: return win::WSAEUSERS;
    case EDQUOT: return win::WSAEDQUOT;
    case ESTALE: return win::WSAESTALE;
    case EREMOTE: return win::WSAEREMOTE;
    default: return win::WSAEINVAL;
    }
}

}  // namespace wsock
