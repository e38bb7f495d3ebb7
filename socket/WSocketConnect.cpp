// TCustomWSocket: connecting, listening, accepting, closing and the address
// queries.
#include "socket/WSocket.h"

namespace {

constexpr long kConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr long kListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;                // 43
constexpr long kDupEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                  // 51
constexpr int kSockAddrLength = sizeof(sockaddr_in);                                      // 16
constexpr int kListenBacklog = 5;
constexpr u_long kAllOnes = 0xFFFFFFFFu;
constexpr int kOptionOn = -1;  // all bits set

bool SetIntOption(SOCKET s, int level, int name, int value)
{
    return Winsock::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

std::int32_t SocketTypeFor(std::int32_t protocol, bool allowRaw)
{
    if (protocol == IPPROTO_TCP)
        return SOCK_STREAM;
    if (protocol == IPPROTO_UDP)
        return SOCK_DGRAM;
    return allowRaw ? SOCK_RAW : SOCK_STREAM;
}

}  // namespace

// A handle left open by an operation that failed half-way (the state is
// still wsClosed) would otherwise leak when the next socket is created.
void TCustomWSocket::ReleaseStaleHandle()
{
    if (m_State != TSocketState::wsClosed || m_SocketHandle == INVALID_SOCKET)
        return;
    Winsock::closesocket(m_SocketHandle);
    m_SocketHandle = INVALID_SOCKET;
}

bool TCustomWSocket::ResolveSettings(bool forConnect, const char* operation)
{
    try {
        if (!m_ProtoResolved) {
            m_ProtocolNumber = WSocketResolveProto(m_Proto);
            m_SocketType = SocketTypeFor(m_ProtocolNumber, forConnect);
            m_ProtoResolved = true;
        }
        if (!m_PortResolved) {
            m_PortNumber = WSocketResolvePort(m_Port, m_Proto);
            m_SockAddr.sin_port = Winsock::htons(static_cast<u_short>(m_PortNumber));
            m_PortResolved = true;
        }
        // Only a connecting socket binds a local port of its choice.
        if (forConnect && !m_LocalPortResolved) {
            m_LocalPortNumber = WSocketResolvePort(m_LocalPort, m_Proto);
            m_LocalPortResolved = true;
        }
        if (!m_AddrResolved) {
            m_SockAddr.sin_addr.s_addr = WSocketResolveHost(m_Addr);
            m_AddrResolved = true;
        }
    } catch (const std::exception& e) {
        ReportError(std::string(operation) + ": " + e.what());
        return false;
    }
    return true;
}

void TCustomWSocket::Connect()
{
    if (m_SocketHandle != INVALID_SOCKET && m_State != TSocketState::wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!m_PortAssigned) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!m_AddrAssigned) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!m_ProtoAssigned) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    if (!ResolveSettings(true, "connect"))
        return;

    DiscardSendBuffer();
    ReleaseStaleHandle();
    m_SocketHandle = Winsock::socket(m_AddressFamily, m_SocketType, m_ProtocolNumber);
    if (m_SocketHandle == INVALID_SOCKET) {
        FailWithSocketError("Connect (socket)");
        return;
    }
    EnterState(TSocketState::wsOpened);
    if (m_State != TSocketState::wsOpened) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }

    if (m_SocketType == SOCK_DGRAM) {
        BindLocal();
        if (m_MultiCast) {
            if (m_MultiCastIpTTL != 1 &&
                !SetIntOption(m_SocketHandle, IPPROTO_IP, IP_MULTICAST_TTL, m_MultiCastIpTTL)) {
                FailWithSocketError("setsockopt(IP_MULTICAST_TTL)");
                return;
            }
            if (m_LocalAddr != "0.0.0.0") {
                in_addr interfaceAddr{};  // a union on some systems
                interfaceAddr.s_addr = WSocketResolveHost(m_LocalAddr);
                if (Winsock::setsockopt(m_SocketHandle, IPPROTO_IP, IP_MULTICAST_IF,
                                        reinterpret_cast<const char*>(&interfaceAddr), sizeof interfaceAddr) != 0) {
                    FailWithSocketError("setsockopt(IP_MULTICAST_IF)");
                    return;
                }
            }
        }
        if (m_SockAddr.sin_addr.s_addr == kAllOnes &&
            !SetIntOption(m_SocketHandle, SOL_SOCKET, SO_BROADCAST, 1)) {
            FailWithSocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    } else {
        // Address reuse for every stream connection, whatever ReuseAddr says.
        if (!SetIntOption(m_SocketHandle, SOL_SOCKET, SO_REUSEADDR, kOptionOn)) {
            FailWithSocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
        if (m_ComponentOptions.Contains(TWSocketOption::wsoTcpNoDelay) &&
            !SetIntOption(m_SocketHandle, IPPROTO_TCP, TCP_NODELAY, kOptionOn)) {
            FailWithSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
            return;
        }
        ApplyLinger();
        if (!SetIntOption(m_SocketHandle, SOL_SOCKET, SO_KEEPALIVE, kOptionOn)) {
            FailWithSocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (m_LocalPortNumber != 0 || m_LocalAddr != "0.0.0.0")
            BindLocal();
    }

    m_SelectEvents = kConnectEvents;
    if (Winsock::WSAAsyncSelect(m_SocketHandle, m_WindowHandle, MSG_SOCKET_EVENT, m_SelectEvents) != 0) {
        FailWithSocketError("WSAAsyncSelect");
        return;
    }
    if (m_SocketType == SOCK_DGRAM) {
        EnterState(TSocketState::wsConnected);
        FireSessionConnected(0);
        return;
    }
    if (Winsock::connect(m_SocketHandle, reinterpret_cast<const sockaddr*>(&m_SockAddr), kSockAddrLength) == 0) {
        EnterState(TSocketState::wsConnecting);
        return;
    }
    int error = Winsock::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        EnterState(TSocketState::wsConnecting);
        return;
    }
    m_LastError = error;
    FailWithSocketError("Connect");
}

void TCustomWSocket::BindLocal()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = Winsock::htons(static_cast<u_short>(m_LocalPortNumber));
    local.sin_addr.s_addr = WSocketResolveHost(m_LocalAddr);
    if (Winsock::bind(m_SocketHandle, reinterpret_cast<const sockaddr*>(&local), kSockAddrLength) != 0) {
        ReportErrorFmt("winsock.bind failed, error #%d", Winsock::WSAGetLastError());
        return;
    }
    int length = kSockAddrLength;
    if (Winsock::getsockname(m_SocketHandle, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        ReportErrorFmt("winsock.getsockname failed, error #%d", Winsock::WSAGetLastError());
        return;
    }
    // Binding to port 0 lets the system choose; show what it chose.
    m_LocalPortNumber = Winsock::ntohs(local.sin_port);
    m_LocalPort = std::to_string(m_LocalPortNumber);
}

void TCustomWSocket::ApplyLinger()
{
    if (m_LingerOnOff == TSocketLingerOnOff::wsLingerNoSet)
        return;
    if (m_SocketHandle == INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return;
    }
    const bool on = m_LingerOnOff == TSocketLingerOnOff::wsLingerOn;
    const bool timeoutFits = m_LingerTimeout >= 0 && m_LingerTimeout <= 65535;
    // The option holds 16 bits; a wider value would be cut silently. With
    // lingering off the time is not used, so Abort is never refused here.
    if (on && !timeoutFits) {
        ReportError("Invalid LingerTimeout");
        return;
    }
    linger option{static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(timeoutFits ? m_LingerTimeout : 0)};
    if (Winsock::setsockopt(m_SocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                            sizeof option) != 0)
        FailWithSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::Listen()
{
    // A second socket would leave the first one open and unreachable.
    if (m_SocketHandle != INVALID_SOCKET && m_State != TSocketState::wsClosed) {
        ReportError("Listen: Socket already in use");
        return;
    }
    if (!m_PortAssigned) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("listen: port not assigned");
        return;
    }
    if (!m_ProtoAssigned) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("listen: protocol not assigned");
        return;
    }
    if (!m_AddrAssigned) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("listen: address not assigned");
        return;
    }
    if (!ResolveSettings(false, "listen"))
        return;

    DiscardSendBuffer();
    ReleaseStaleHandle();
    m_SocketHandle = Winsock::socket(m_AddressFamily, m_SocketType, m_ProtocolNumber);
    if (m_SocketHandle == INVALID_SOCKET) {
        FailWithSocketError("socket");
        return;
    }
    if (m_SocketType == SOCK_DGRAM && m_ReuseAddr &&
        !SetIntOption(m_SocketHandle, SOL_SOCKET, SO_REUSEADDR, kOptionOn)) {
        FailWithSocketError("setsockopt(SO_REUSEADDR)");
        return;
    }
    if (Winsock::bind(m_SocketHandle, reinterpret_cast<const sockaddr*>(&m_SockAddr), kSockAddrLength) != 0) {
        // The socket is given back before the report, which may raise.
        int error = Winsock::WSAGetLastError();
        ReleaseStaleHandle();
        Winsock::WSASetLastError(error);
        FailWithSocketError("Bind");
        Close();
        return;
    }
    EnterState(TSocketState::wsBound);

    if (m_SocketType == SOCK_DGRAM && m_MultiCast) {
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = Winsock::inet_addr(m_MultiCastAddrStr.c_str());
        membership.imr_interface.s_addr = WSocketResolveHost(m_Addr);
        if (Winsock::setsockopt(m_SocketHandle, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                                reinterpret_cast<const char*>(&membership), sizeof membership) != 0) {
            FailWithSocketError("setsockopt(IP MULTICAST)");
            return;
        }
    }
    if (m_SocketType == SOCK_STREAM) {
        if (Winsock::listen(m_SocketHandle, kListenBacklog) != 0) {
            FailWithSocketError("Listen");
            return;
        }
        EnterState(TSocketState::wsListening);
    } else if (m_SocketType == SOCK_DGRAM || m_SocketType == SOCK_RAW) {
        EnterState(TSocketState::wsListening);
        EnterState(TSocketState::wsConnected);
        FireSessionConnected(0);
    } else {
        FailWithSocketError("Listen: unexpected protocol.");
        return;
    }
    m_SelectEvents = kListenEvents;
    if (Winsock::WSAAsyncSelect(m_SocketHandle, m_WindowHandle, MSG_SOCKET_EVENT, m_SelectEvents) != 0)
        FailWithSocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept()
{
    if (m_State != TSocketState::wsListening) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    int length = kSockAddrLength;
    m_AcceptedHandle = Winsock::accept(m_SocketHandle, reinterpret_cast<sockaddr*>(&m_SockAddr), &length);
    if (m_AcceptedHandle == INVALID_SOCKET) {
        FailWithSocketError("Accept");
        return INVALID_SOCKET;
    }
    return m_AcceptedHandle;
}

void TCustomWSocket::Dup(SOCKET handle)
{
    if (handle == 0 || handle == INVALID_SOCKET) {
        Winsock::WSASetLastError(WSAEINVAL);
        FailWithSocketError("Dup");
        return;
    }
    if (m_State != TSocketState::wsClosed) {
        int result = Winsock::closesocket(m_SocketHandle);
        m_SocketHandle = INVALID_SOCKET;
        ++m_HandlesClosed;
        if (result != 0) {
            FailWithSocketError("Dup (closesocket)");
            return;
        }
        EnterState(TSocketState::wsClosed);
    }
    ReleaseStaleHandle();
    m_SocketHandle = handle;
    ApplyLinger();
    m_SelectEvents = kDupEvents;
    if (Winsock::WSAAsyncSelect(m_SocketHandle, m_WindowHandle, MSG_SOCKET_EVENT, m_SelectEvents) != 0) {
        FailWithSocketError("WSAAsyncSelect");
        return;
    }
    EnterState(TSocketState::wsConnected);
}

// ---- closing ----------------------------------------------------------------

void TCustomWSocket::CloseConnection(bool shutdownFirst, WORD errorCode)
{
    if (m_SocketHandle == INVALID_SOCKET) {
        if (m_State != TSocketState::wsClosed) {
            EnterState(TSocketState::wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (m_State == TSocketState::wsClosed) {
        ReleaseStaleHandle();
        return;
    }
    if (shutdownFirst)
        Shutdown(SD_SEND);
    bool lingerDropped = false;
    while (Winsock::closesocket(m_SocketHandle) != 0) {
        m_LastError = Winsock::WSAGetLastError();
        if (m_LastError == WSAEWOULDBLOCK && !lingerDropped) {
            if (WaitAbandoned()) {
                // Nobody waits for a lingering close any more: close at once.
                lingerDropped = true;
                m_LingerOnOff = TSocketLingerOnOff::wsLingerOff;
                ApplyLinger();
                continue;
            }
            ServiceMessages();
            if (m_SocketHandle == INVALID_SOCKET)
                return;  // closed meanwhile by a handler
            continue;
        }
        m_SocketHandle = INVALID_SOCKET;
        ++m_HandlesClosed;
        if (m_LastError != WSANOTINITIALISED) {
            FailWithSocketError("Disconnect (closesocket)");
            return;
        }
        break;
    }
    if (m_SocketHandle != INVALID_SOCKET)
        ++m_HandlesClosed;
    m_SocketHandle = INVALID_SOCKET;
    EnterState(TSocketState::wsClosed);
    if (!m_Destroying && !m_SessionClosedFired) {
        m_SessionClosedFired = true;
        FireSessionClosed(errorCode);
    }
    // A handler that already opened the next connection keeps its settings.
    if (m_State != TSocketState::wsClosed || m_SocketHandle != INVALID_SOCKET)
        return;
    try {
        ResetToDefaults();
    } catch (...) {
        // A failing reset must not turn a finished close into an error.
    }
}

void TCustomWSocket::Close()
{
    CloseConnection(true, 0);
}

void TCustomWSocket::CloseLater()
{
    PostMessageA(m_WindowHandle, MSG_CLOSE_LATER, 0, 0);
}

void TCustomWSocket::FreeLater()
{
    PostMessageA(m_WindowHandle, MSG_FREE_LATER, 0, 0);
}

void TCustomWSocket::Abort()
{
    // An answer already on its way cannot be cancelled; the close goes on.
    try {
        CancelLookup();
    } catch (...) {
    }
    DiscardSendBuffer();
    if (m_State == TSocketState::wsConnected && m_ProtocolNumber == IPPROTO_TCP) {
        m_LingerOnOff = TSocketLingerOnOff::wsLingerOff;
        ApplyLinger();
    }
    CloseConnection(false, 0);
}

void TCustomWSocket::Shutdown(std::int32_t how)
{
    if (m_SocketHandle != INVALID_SOCKET)
        Winsock::shutdown(m_SocketHandle, how);
}

std::int32_t TCustomWSocket::SuspendEvents()
{
    m_Paused = true;
    return Winsock::WSAAsyncSelect(m_SocketHandle, m_WindowHandle, 0, 0);
}

std::int32_t TCustomWSocket::ResumeEvents()
{
    m_Paused = false;
    return Winsock::WSAAsyncSelect(m_SocketHandle, m_WindowHandle, MSG_SOCKET_EVENT, m_SelectEvents);
}

// ---- address queries --------------------------------------------------------

std::string TCustomWSocket::ReadPeerAddr()
{
    if (m_State != TSocketState::wsConnected)
        return "error";
    sockaddr_in peer{};
    int length = kSockAddrLength;
    if (Winsock::getpeername(m_SocketHandle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        FailWithSocketError("GetPeerName");
        return "error";
    }
    return Winsock::inet_ntoa(peer.sin_addr);
}

std::string TCustomWSocket::ReadPeerPort()
{
    if (m_State != TSocketState::wsConnected)
        return "error";
    sockaddr_in peer{};
    int length = kSockAddrLength;
    if (Winsock::getpeername(m_SocketHandle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        FailWithSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(Winsock::ntohs(peer.sin_port));
}

int TCustomWSocket::QueryPeerName(sockaddr* name, int nameLength)
{
    if (m_State != TSocketState::wsConnected)
        return -1;
    return Winsock::getpeername(m_SocketHandle, name, &nameLength);
}

int TCustomWSocket::QuerySockName(sockaddr* name, int* nameLength)
{
    return Winsock::getsockname(m_SocketHandle, name, nameLength);
}

namespace {
bool HasLocalAddress(TSocketState state)
{
    return state == TSocketState::wsBound || state == TSocketState::wsConnected ||
           state == TSocketState::wsListening;
}
}  // namespace

std::string TCustomWSocket::LocalPortText()
{
    sockaddr_in local{};
    int length = kSockAddrLength;
    if (!HasLocalAddress(m_State) ||
        Winsock::getsockname(m_SocketHandle, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return "error";
    return std::to_string(Winsock::ntohs(local.sin_port));
}

std::string TCustomWSocket::LocalAddrText()
{
    sockaddr_in local{};
    int length = kSockAddrLength;
    if (!HasLocalAddress(m_State) ||
        Winsock::getsockname(m_SocketHandle, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return "error";
    return Winsock::inet_ntoa(local.sin_addr);
}
