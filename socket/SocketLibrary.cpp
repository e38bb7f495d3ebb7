#include "socket/SocketLibrary.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kLibraryName = "wsock32.dll";

enum ProcIndex {
    kWSAStartup, kWSACleanup, kWSASetLastError, kWSAGetLastError,
    kWSAAsyncSelect, kWSAAsyncGetHostByName, kWSAAsyncGetHostByAddr, kWSACancelAsyncRequest,
    kgethostbyname, kgetservbyname, kgetprotobyname,
    ksocket, kbind, kconnect, klisten, kaccept, ksend, ksendto, krecv, krecvfrom, kshutdown,
    kclosesocket, ksetsockopt, kioctlsocket, kgetsockname, kgetpeername,
    khtons, kntohs, kinet_addr, kinet_ntoa,
    kProcCount
};

// Atomics only so that two threads resolving one entry at once stay
// well-defined; both store the same address.
std::atomic<HMODULE> g_Library{nullptr};
// Set once load and start-up have been tried; a failed start-up keeps the
// library, so that later calls go straight to the library.
std::atomic<bool> g_Ready{false};
std::array<std::atomic<FARPROC>, kProcCount> g_Procs{};
WSADATA g_StartupData{};
std::atomic<LONG> g_LiveSocketCount{0};
// Serialises load and release, so that two threads making the first socket
// call at once load and start the library once. Recursive because the
// start-up call resolves "WSAStartup" through BindSocketProc.
std::recursive_mutex g_LoadMutex;

// Releases the library at program end. Registered after each load, so that
// it runs before the loaded library's own static objects are destroyed.
void ReleaseAtExit()
{
    ReleaseSocketLibrary();
}

void LoadAndStart()
{
    std::lock_guard lock(g_LoadMutex);
    if (g_Library.load(std::memory_order_acquire))
        return;
    HMODULE library = LoadLibraryA(kLibraryName);
    if (!library)
        throw ESocketException(std::string("Unable to load ") + kLibraryName + " Error #" +
                               std::to_string(GetLastError()));
    // Recorded before the start-up, so that its own resolution finds it.
    g_Library.store(library, std::memory_order_release);
    std::atexit(ReleaseAtExit);
    int code = 0;
    try {
        code = Winsock::WSAStartup(0x0101, &g_StartupData);
    } catch (...) {
        g_Ready.store(true, std::memory_order_release);
        throw;
    }
    g_Ready.store(true, std::memory_order_release);
    if (code != 0) {
        char text[128];
        std::snprintf(text, sizeof text, "%s: WSAStartup error #%d", kLibraryName, code);
        throw ESocketException(text);
    }
}

template <typename Proc>
Proc Bound(ProcIndex index, const char* name)
{
    FARPROC proc = g_Procs[index].load(std::memory_order_acquire);
    if (!proc) {
        proc = BindSocketProc(name);
        g_Procs[index].store(proc, std::memory_order_release);
    }
    // Through the generic function pointer type, which may be cast to any other.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}


}  // namespace

FARPROC BindSocketProc(const std::string& name)
{
    if (!g_Ready.load(std::memory_order_acquire))
        LoadAndStart();
    if (name.empty())
        return nullptr;
    FARPROC proc = GetProcAddress(g_Library.load(std::memory_order_acquire), name.c_str());
    if (!proc)
        throw ESocketException("Procedure " + name + " not found in " + kLibraryName + " Error #" +
                               std::to_string(GetLastError()));
    return proc;
}

void ReleaseSocketLibrary()
{
    std::lock_guard lock(g_LoadMutex);
    HMODULE library = g_Library.load(std::memory_order_acquire);
    if (!library)
        return;
    try {
        Winsock::WSACleanup();
    } catch (const ESocketException&) {
        // A library without WSACleanup is still unloaded.
    }
    FreeLibrary(library);
    g_Library.store(nullptr, std::memory_order_release);
    g_Ready.store(false, std::memory_order_release);
    for (auto& proc : g_Procs)
        proc.store(nullptr, std::memory_order_release);
}

bool SocketLibraryLoaded()
{
    return g_Library.load(std::memory_order_acquire) != nullptr;
}

LONG LiveSocketCount()
{
    return g_LiveSocketCount.load();
}

void IncrementLiveSocketCount()
{
    ++g_LiveSocketCount;
}

LONG DecrementLiveSocketCount()
{
    LONG count = --g_LiveSocketCount;
    if (count <= 0) {
        ReleaseSocketLibrary();
        g_LiveSocketCount.store(0);
        count = 0;
    }
    return count;
}

std::string SocketErrorText(int error)
{
    switch (error) {
    case 0: return "No Error";
    case WSAEINTR: return "Interrupted system call";
    case WSAEBADF: return "Bad file number";
    case WSAEACCES: return "Permission denied";
    case WSAEFAULT: return "Bad address";
    case WSAEINVAL: return "Invalid argument";
    case WSAEMFILE: return "Too many open files";
    case WSAEWOULDBLOCK: return "Operation would block";
    case WSAEINPROGRESS: return "Operation now in progress";
    case WSAEALREADY: return "Operation already in progress";
    case WSAENOTSOCK: return "Socket operation on non-socket";
    case WSAEDESTADDRREQ: return "Destination address required";
    case WSAEMSGSIZE: return "Message too long";
    case WSAEPROTOTYPE: return "Protocol wrong type for socket";
    case WSAENOPROTOOPT: return "Protocol not available";
    case WSAEPROTONOSUPPORT: return "Protocol not supported";
    case WSAESOCKTNOSUPPORT: return "Socket type not supported";
    case WSAEOPNOTSUPP: return "Operation not supported on socket";
    case WSAEPFNOSUPPORT: return "Protocol family not supported";
    case WSAEAFNOSUPPORT: return "Address family not supported by protocol family";
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEADDRNOTAVAIL: return "Address not available";
    case WSAENETDOWN: return "Network is down";
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAENETRESET: return "Network dropped connection on reset";
    case WSAECONNABORTED: return "Connection aborted";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAENOBUFS: return "No buffer space available";
    case WSAEISCONN: return "Socket is already connected";
    case WSAENOTCONN: return "Socket is not connected";
    case WSAESHUTDOWN: return "Can't send after socket shutdown";
    case WSAETOOMANYREFS: return "Too many references: can't splice";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAECONNREFUSED: return "Connection refused";
    case WSAELOOP: return "Too many levels of symbolic links";
    case WSAENAMETOOLONG: return "File name too long";
    case WSAEHOSTDOWN: return "Host is down";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAENOTEMPTY: return "Directory not empty";
    case WSAEPROCLIM: return "Too many processes";
    case WSAEUSERS: return "Too many users";
    case WSAEDQUOT: return "Disc quota exceeded";
    case WSAESTALE: return "Stale NFS file handle";
    case WSAEREMOTE: return "Too many levels of remote in path";
    case WSASYSNOTREADY: return "Network sub-system is unusable";
    case WSAVERNOTSUPPORTED: return "WinSock DLL cannot support this application";
    case WSANOTINITIALISED: return "WinSock not initialized";
    case WSAHOST_NOT_FOUND: return "Host not found";
    case WSATRY_AGAIN: return "Non-authoritative host not found";
    case WSANO_RECOVERY: return "Non-recoverable error";
    case WSANO_DATA: return "No Data";
    default: return "Not a WinSock error";
    }
}

// ---- entry points --------------------------------------------------------

#define QV_BOUND(name) Bound<WinsockProc::name>(k##name, #name)

namespace Winsock {
int WSAStartup(WORD versionRequested, WSADATA* data) { return QV_BOUND(WSAStartup)(versionRequested, data); }
int WSACleanup() { return QV_BOUND(WSACleanup)(); }
void WSASetLastError(int error) { QV_BOUND(WSASetLastError)(error); }
int WSAGetLastError() { return QV_BOUND(WSAGetLastError)(); }
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events)
{
    return QV_BOUND(WSAAsyncSelect)(s, window, message, events);
}
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength)
{
    return QV_BOUND(WSAAsyncGetHostByName)(window, message, name, buffer, bufferLength);
}
HANDLE WSAAsyncGetHostByAddr(HWND window, UINT message, const char* addr, int length, int type, char* buffer,
                             int bufferLength)
{
    return QV_BOUND(WSAAsyncGetHostByAddr)(window, message, addr, length, type, buffer, bufferLength);
}
int WSACancelAsyncRequest(HANDLE task) { return QV_BOUND(WSACancelAsyncRequest)(task); }
hostent* gethostbyname(const char* name) { return QV_BOUND(gethostbyname)(name); }
servent* getservbyname(const char* name, const char* proto) { return QV_BOUND(getservbyname)(name, proto); }
protoent* getprotobyname(const char* name) { return QV_BOUND(getprotobyname)(name); }
SOCKET socket(int af, int type, int protocol) { return QV_BOUND(socket)(af, type, protocol); }
int bind(SOCKET s, const sockaddr* name, int nameLength) { return QV_BOUND(bind)(s, name, nameLength); }
int connect(SOCKET s, const sockaddr* name, int nameLength) { return QV_BOUND(connect)(s, name, nameLength); }
int listen(SOCKET s, int backlog) { return QV_BOUND(listen)(s, backlog); }
SOCKET accept(SOCKET s, sockaddr* addr, int* addrLength) { return QV_BOUND(accept)(s, addr, addrLength); }
int send(SOCKET s, const char* buffer, int length, int flags) { return QV_BOUND(send)(s, buffer, length, flags); }
int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength)
{
    return QV_BOUND(sendto)(s, buffer, length, flags, to, toLength);
}
int recv(SOCKET s, char* buffer, int length, int flags) { return QV_BOUND(recv)(s, buffer, length, flags); }
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength)
{
    return QV_BOUND(recvfrom)(s, buffer, length, flags, from, fromLength);
}
int shutdown(SOCKET s, int how) { return QV_BOUND(shutdown)(s, how); }
int closesocket(SOCKET s) { return QV_BOUND(closesocket)(s); }
int setsockopt(SOCKET s, int level, int name, const char* value, int length)
{
    return QV_BOUND(setsockopt)(s, level, name, value, length);
}
int ioctlsocket(SOCKET s, long command, u_long* argument) { return QV_BOUND(ioctlsocket)(s, command, argument); }
int getsockname(SOCKET s, sockaddr* name, int* nameLength) { return QV_BOUND(getsockname)(s, name, nameLength); }
int getpeername(SOCKET s, sockaddr* name, int* nameLength) { return QV_BOUND(getpeername)(s, name, nameLength); }
u_short htons(u_short value) { return QV_BOUND(htons)(value); }
u_short ntohs(u_short value) { return QV_BOUND(ntohs)(value); }
u_long inet_addr(const char* text) { return QV_BOUND(inet_addr)(text); }
char* inet_ntoa(in_addr address) { return QV_BOUND(inet_ntoa)(address); }
}  // namespace Winsock
