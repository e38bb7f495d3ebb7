#include "CallSupport.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace wsock {

int ReadAddress(const void* name, int length, sockaddr_in& address)
{
    if (name == nullptr || length < static_cast<int>(win::kSockAddrInSize))
        return win::WSAEFAULT;
    const auto* bytes = static_cast<const unsigned char*>(name);
    std::uint16_t family;
    std::memcpy(&family, bytes + win::kSockAddrInFamily, sizeof family);
    if (family != win::kAfInet)
        return win::WSAEAFNOSUPPORT;
    address = {};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_port, bytes + win::kSockAddrInPort, sizeof address.sin_port);
    std::memcpy(&address.sin_addr.s_addr, bytes + win::kSockAddrInAddr, sizeof address.sin_addr.s_addr);
    return 0;
}

bool RoomForAddress(const void* name, const int* length)
{
    return name != nullptr && length != nullptr && *length >= static_cast<int>(win::kSockAddrInSize);
}

void WriteAddress(const sockaddr_in& address, void* name, int* length)
{
    unsigned char bytes[win::kSockAddrInSize] = {};
    const std::uint16_t family = win::kAfInet;
    std::memcpy(bytes + win::kSockAddrInFamily, &family, sizeof family);
    std::memcpy(bytes + win::kSockAddrInPort, &address.sin_port, sizeof address.sin_port);
    std::memcpy(bytes + win::kSockAddrInAddr, &address.sin_addr.s_addr, sizeof address.sin_addr.s_addr);
    std::memcpy(name, bytes, sizeof bytes);
    *length = static_cast<int>(sizeof bytes);
}

bool TranslateFlags(int flags, int& translated)
{
    if (flags & ~(win::kMsgOob | win::kMsgPeek | win::kMsgDontRoute))
        return false;
    translated = ((flags & win::kMsgOob) ? MSG_OOB : 0) | ((flags & win::kMsgPeek) ? MSG_PEEK : 0) |
                 ((flags & win::kMsgDontRoute) ? MSG_DONTROUTE : 0);
    return true;
}

bool IsAbortive(int error)
{
    return error == ECONNRESET || error == ECONNABORTED || error == ETIMEDOUT;
}

void NoteAbortive(SocketEntry& entry, int error)
{
    if (IsAbortive(error) && entry.abortError == 0)
        entry.abortError = error == ECONNRESET ? win::WSAECONNRESET : win::WSAECONNABORTED;
}

int CheckTransfer(const char* buffer, int length, int flags, int refused, int& systemFlags)
{
    if (length < 0 || (buffer == nullptr && length > 0))
        return win::WSAEFAULT;
    if (!TranslateFlags(flags & ~refused, systemFlags) || (flags & refused))
        return win::WSAEOPNOTSUPP;
    return 0;
}

}  // namespace wsock
