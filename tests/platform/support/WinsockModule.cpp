#include "WinsockModule.h"

#include <cstring>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

template <typename Function>
void Bind(void* module, Function& function, const char* name)
{
#ifdef _WIN32
    function = reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)));
#else
    function = reinterpret_cast<Function>(dlsym(module, name));
#endif
}

TWinsock Load()
{
    TWinsock ws;
#ifdef _WIN32
    ws.Module = LoadLibraryA(WinsockModulePath());
#else
    ws.Module = dlopen(WinsockModulePath(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!ws.Module)
        return ws;
#define WS_BIND(name) Bind(ws.Module, ws.name, #name)
    WS_BIND(WSAStartup);
    WS_BIND(WSACleanup);
    WS_BIND(WSASetLastError);
    WS_BIND(WSAGetLastError);
    WS_BIND(WSAAsyncSelect);
    WS_BIND(WSAAsyncGetHostByName);
    WS_BIND(WSAAsyncGetHostByAddr);
    WS_BIND(WSACancelAsyncRequest);
    WS_BIND(gethostbyname);
    WS_BIND(getservbyname);
    WS_BIND(getprotobyname);
    WS_BIND(socket);
    WS_BIND(bind);
    WS_BIND(connect);
    WS_BIND(listen);
    WS_BIND(accept);
    WS_BIND(send);
    WS_BIND(sendto);
    WS_BIND(recv);
    WS_BIND(recvfrom);
    WS_BIND(shutdown);
    WS_BIND(closesocket);
    WS_BIND(setsockopt);
    WS_BIND(ioctlsocket);
    WS_BIND(getsockname);
    WS_BIND(getpeername);
    WS_BIND(htons);
    WS_BIND(ntohs);
    WS_BIND(inet_addr);
    WS_BIND(inet_ntoa);
#undef WS_BIND
    return ws;
}

}  // namespace

const char* WinsockModulePath()
{
#ifdef _WIN32
    return "wsock32.dll";  // the system's own
#else
    return QV_BINARY_DIR "/bin/libwsock32.so";
#endif
}

const TWinsock& Winsock()
{
    static const TWinsock loaded = Load();
    return loaded;
}

void* WinsockExport(const char* name)
{
    void (*function)() = nullptr;
    if (void* module = Winsock().Module)
        Bind(module, function, name);
    return reinterpret_cast<void*>(function);
}

sockaddr_in LoopbackAddress(u_short port)
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = Winsock().htons(port);
    const unsigned char loopback[4] = {127, 0, 0, 1};
    std::memcpy(&address.sin_addr.s_addr, loopback, 4);
    return address;
}
