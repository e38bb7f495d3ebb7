// The socket layer's binding of Windows Sockets 1.1: "wsock32.dll" is loaded
// and started on the first socket call, every function is resolved by name on
// its own first call, and the library is released again when the last socket
// component goes away. Nothing else in the socket layer calls the library.
#pragma once

#include "platform/winsock/WinSock.h"

#include <exception>
#include <string>

// The exception of the whole socket layer: a message text and nothing else.
class ESocketException : public std::exception {
public:
    explicit ESocketException(std::string message) : m_Message(std::move(message)) {}
    const char* what() const noexcept override { return m_Message.c_str(); }
    const std::string& Message() const { return m_Message; }

private:
    std::string m_Message;
};

// Loads and starts the library when needed, then resolves `name`. An empty
// name only loads and starts it and returns nullptr. Raises ESocketException.
FARPROC BindSocketProc(const std::string& name);

// Cleans up and unloads the library and forgets every resolved function.
// Safe when nothing is loaded.
void ReleaseSocketLibrary();

// True between a successful load and the next release.
bool SocketLibraryLoaded();

// English description of a Windows socket error number; never fails.
std::string SocketErrorText(int error);

// Count of live socket components, shared by all threads.
LONG LiveSocketCount();
void IncrementLiveSocketCount();
// Decrements the count; at 0 or below releases the library and sets it to 0.
// Returns the count afterwards.
LONG DecrementLiveSocketCount();

// One entry point per bound function: the library's result, untranslated.
namespace Winsock {
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
void WSASetLastError(int error);
int WSAGetLastError();
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events);
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
HANDLE WSAAsyncGetHostByAddr(HWND window, UINT message, const char* addr, int length, int type, char* buffer,
                             int bufferLength);
int WSACancelAsyncRequest(HANDLE task);
hostent* gethostbyname(const char* name);
servent* getservbyname(const char* name, const char* proto);
protoent* getprotobyname(const char* name);
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength);
int recv(SOCKET s, char* buffer, int length, int flags);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int ioctlsocket(SOCKET s, long command, u_long* argument);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);
u_short htons(u_short value);
u_short ntohs(u_short value);
u_long inet_addr(const char* text);
char* inet_ntoa(in_addr address);
}  // namespace Winsock
