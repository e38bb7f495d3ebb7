// The Windows Sockets library as its users see it: loaded at run time with
// local symbol scope, every function looked up by its Windows name.
#pragma once

#include "platform/winsock/WinSock.h"

struct TWinsock {
    void* Module = nullptr;
    WinsockProc::WSAStartup WSAStartup = nullptr;
    WinsockProc::WSACleanup WSACleanup = nullptr;
    WinsockProc::WSASetLastError WSASetLastError = nullptr;
    WinsockProc::WSAGetLastError WSAGetLastError = nullptr;
    WinsockProc::WSAAsyncSelect WSAAsyncSelect = nullptr;
    WinsockProc::WSAAsyncGetHostByName WSAAsyncGetHostByName = nullptr;
    WinsockProc::WSAAsyncGetHostByAddr WSAAsyncGetHostByAddr = nullptr;
    WinsockProc::WSACancelAsyncRequest WSACancelAsyncRequest = nullptr;
    WinsockProc::gethostbyname gethostbyname = nullptr;
    WinsockProc::getservbyname getservbyname = nullptr;
    WinsockProc::getprotobyname getprotobyname = nullptr;
    WinsockProc::socket socket = nullptr;
    WinsockProc::bind bind = nullptr;
    WinsockProc::connect connect = nullptr;
    WinsockProc::listen listen = nullptr;
    WinsockProc::accept accept = nullptr;
    WinsockProc::send send = nullptr;
    WinsockProc::sendto sendto = nullptr;
    WinsockProc::recv recv = nullptr;
    WinsockProc::recvfrom recvfrom = nullptr;
    WinsockProc::shutdown shutdown = nullptr;
    WinsockProc::closesocket closesocket = nullptr;
    WinsockProc::setsockopt setsockopt = nullptr;
    WinsockProc::ioctlsocket ioctlsocket = nullptr;
    WinsockProc::getsockname getsockname = nullptr;
    WinsockProc::getpeername getpeername = nullptr;
    WinsockProc::htons htons = nullptr;
    WinsockProc::ntohs ntohs = nullptr;
    WinsockProc::inet_addr inet_addr = nullptr;
    WinsockProc::inet_ntoa inet_ntoa = nullptr;
};

// Loads the library once per process; every entry is null if that failed.
const TWinsock& Winsock();
// The loaded library's export of that name, or null.
void* WinsockExport(const char* name);
// The path the library is loaded from.
const char* WinsockModulePath();

// A loopback address record.
sockaddr_in LoopbackAddress(u_short port);
