// The library's inside, in types that neither WinSock.h nor the system's
// socket headers define, so that Exports.cpp (Windows view) and the POSIX
// implementation files can share it. Arguments and results carry Windows
// numbers and record layouts; the implementation translates them.
#pragma once

#include "../Win32.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace wsock {

using Handle = std::uintptr_t;

// ---- start-up, per-thread error number ------------------------------
struct StartupInfo {
    WORD version = 0;
    WORD highVersion = 0;
    unsigned short maxSockets = 0;
    unsigned short maxUdpDatagram = 0;
    std::string description;
    std::string systemStatus;
};
int Startup(WORD versionRequested, StartupInfo& info);  // 0 or an error number
int Cleanup();                                         // 0 or SOCKET_ERROR
void SetLastError(int error);
int LastError();
// True when started; otherwise sets WSANOTINITIALISED.
bool RequireStarted();
// Windows error number for an errno value.
int ErrorFromErrno(int error);

// ---- sockets ---------------------------------------------------------
Handle Socket(int family, int type, int protocol);
int Bind(Handle s, const void* name, int nameLength);
int Connect(Handle s, const void* name, int nameLength);
int Listen(Handle s, int backlog);
Handle Accept(Handle s, void* address, int* addressLength);
int Send(Handle s, const char* buffer, int length, int flags);
int SendTo(Handle s, const char* buffer, int length, int flags, const void* to, int toLength);
int Recv(Handle s, char* buffer, int length, int flags);
int RecvFrom(Handle s, char* buffer, int length, int flags, void* from, int* fromLength);
int Shutdown(Handle s, int how);
int CloseSocket(Handle s);
int SetSockOpt(Handle s, int level, int name, const char* value, int length);
int IoctlSocket(Handle s, long command, std::uint32_t* argument);
int GetSockName(Handle s, void* name, int* nameLength);
int GetPeerName(Handle s, void* name, int* nameLength);
int AsyncSelect(Handle s, HWND window, UINT message, long events);

// ---- databases and lookups ------------------------------------------
struct HostRecord {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::array<unsigned char, 4>> addresses;  // network order
};
struct ServiceRecord {
    std::string name;
    std::vector<std::string> aliases;
    std::string protocol;
    std::uint16_t port = 0;  // network order
};
struct ProtocolRecord {
    std::string name;
    std::vector<std::string> aliases;
    int number = 0;
};
// Each returns 0 or a Windows error number (WSAHOST_NOT_FOUND, ...).
int LookUpHostByName(const char* name, HostRecord& host);
int LookUpHostByAddr(const char* address, int length, int type, HostRecord& host);
int LookUpService(const char* name, const char* protocol, ServiceRecord& service);
int LookUpProtocol(const char* name, ProtocolRecord& protocol);

// Lays a Windows hostent and everything it points to out in `buffer`,
// starting at its first byte, with every pointer inside the buffer.
// Returns the length needed; writes nothing when that exceeds
// `bufferLength`. (HostEntLayout.cpp, which sees WinSock.h.)
int LayOutHostEnt(const HostRecord& host, char* buffer, int bufferLength);

HANDLE AsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
HANDLE AsyncGetHostByAddr(HWND window, UINT message, const char* address, int length, int type,
                          char* buffer, int bufferLength);
int CancelAsyncRequest(HANDLE task);
// Forgets every pending lookup; none of them posts or writes afterwards,
// and every lookup thread has ended or touches nothing but its own record.
void CancelAllLookups();

// ---- conversions -----------------------------------------------------
std::uint32_t InetAddr(const char* text);  // INADDR_NONE when refused

}  // namespace wsock
