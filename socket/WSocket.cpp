#include "socket/WSocket.h"

#include "platform/Application.h"
#include "platform/Thread.h"
#include "platform/WrappingCount.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSockAddrLength = sizeof(sockaddr_in);  // 16
constexpr int kDiscardChunk = 1024;

}  // namespace

// ---- construction and destruction -------------------------------------------

TCustomWSocket::TCustomWSocket()
{
    CreateMessageWindow();
    m_CreatorThreadId = GetCurrentThreadId();
    ResetToDefaults();
    IncrementLiveSocketCount();
}

TCustomWSocket::~TCustomWSocket()
{
    m_Destroying = true;
    // A destructor must not throw: failures here have nobody to go to.
    try {
        CancelLookup();
    } catch (...) {
    }
    try {
        if (m_State != TSocketState::wsClosed)
            Close();
        else if (m_SocketHandle != INVALID_SOCKET)
            Winsock::closesocket(m_SocketHandle);
    } catch (...) {
    }
    LONG remaining = DecrementLiveSocketCount();
    DiscardSendBuffer();
    DestroyMessageWindow();
    if (remaining <= 0)
        UnregisterClassA(kSocketWindowClassName, GetModuleHandleA(nullptr));
}

// ---- hidden window ----------------------------------------------------------

void TCustomWSocket::CreateMessageWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass;
    bool registered = GetClassInfoA(instance, kSocketWindowClassName, &windowClass) != FALSE;
    if (!registered) {
        windowClass = WNDCLASSA{};
        windowClass.lpfnWndProc = SocketWindowProc;
        // Room for the component pointer.
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kSocketWindowClassName;
        // Another thread may have registered it in the meantime.
        registered = RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }
    if (registered)
        m_WindowHandle = CreateWindowExA(WS_EX_TOOLWINDOW, kSocketWindowClassName, "", WS_POPUP, 0, 0, 0, 0,
                                         nullptr, nullptr, instance, nullptr);
    if (!m_WindowHandle) {
        ReportError("Cannot create a hidden window for TWSocket");
        return;
    }
    SetWindowLongPtrA(m_WindowHandle, 0, reinterpret_cast<LONG_PTR>(this));
}

void TCustomWSocket::DestroyMessageWindow()
{
    if (!m_WindowHandle)
        return;
    // Late messages go to the default procedure from now on.
    SetWindowLongPtrA(m_WindowHandle, 0, 0);
    if (DestroyWindow(m_WindowHandle))
        m_WindowHandle = nullptr;
}

LRESULT SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* socket = reinterpret_cast<TCustomWSocket*>(GetWindowLongPtrA(window, 0));
    if (!socket)
        return DefWindowProcA(window, message, wParam, lParam);
    TSocketMessage record{message, wParam, lParam, 0};
    socket->DispatchSocketMessage(record);
    return record.Result;
}

void TCustomWSocket::DispatchSocketMessage(TSocketMessage& message)
{
    try {
        switch (message.Msg) {
        case MSG_SOCKET_EVENT:
            HandleSocketEvent(message);
            break;
        case MSG_LOOKUP_DONE:
            HandleLookupDone(message);
            break;
        case MSG_REVERSE_LOOKUP_DONE:
            HandleReverseLookupDone(message);
            break;
        case MSG_CLOSE_LATER:
            Close();
            break;
        case MSG_FREE_LATER:
            delete this;
            return;
        case MSG_TEST_EXCEPTION:
            throw ESocketException("Test exception in WSocket");
        default:
            message.Result = DefWindowProcA(m_WindowHandle, message.Msg, message.WParam, message.LParam);
            break;
        }
    } catch (const std::exception& e) {
        ProcessBgException(e);
    } catch (...) {
        // Nothing may escape into the message loop.
        ProcessBgException(ESocketException("Unknown exception"));
    }
}

// ---- socket events ----------------------------------------------------------

void TCustomWSocket::HandleSocketEvent(const TSocketMessage& message)
{
    const SOCKET handle = static_cast<SOCKET>(message.WParam);
    if (handle != m_SocketHandle || m_Paused)
        return;
    const WORD events = WSAGETSELECTEVENT(message.LParam);
    const WORD error = WSAGETSELECTERROR(message.LParam);
    // A handler may close (or even reopen) the socket; the rest of the
    // message then belongs to a connection that is gone.
    const std::uint32_t closed = m_HandlesClosed;
    auto stale = [&] { return handle != m_SocketHandle || m_HandlesClosed != closed; };

    if (events & FD_CONNECT) {
        if (m_State != TSocketState::wsConnected) {
            EnterState(TSocketState::wsConnected);
            FireSessionConnected(error);
        }
        if (error != 0 && m_State != TSocketState::wsClosed && !stale())
            Close();
        if (stale())
            return;
    }
    if (events & FD_READ) {
        if (m_State != TSocketState::wsConnected) {
            EnterState(TSocketState::wsConnected);
            FireSessionConnected(error);
            if (stale())
                return;
        }
        // Each receive that leaves data makes the system post another
        // FD_READ, whose data the loop then takes at once: such an event
        // finds nothing, and raises nothing.
        if (error != 0 || !NothingWaits())
            ReceiveLoop(error, m_ComponentOptions);
        if (stale())
            return;
    }
    if (events & FD_WRITE) {
        TryToSend();
        if (stale())
            return;
        if (m_AllSent)
            FireDataSent(error);
        if (stale())
            return;
    }
    if (events & FD_ACCEPT) {
        FireSessionAvailable(error);
        if (stale())
            return;
    }
    // A failed connection is reported by FD_CONNECT alone.
    if ((events & FD_CLOSE) && m_State != TSocketState::wsConnecting) {
        ReceiveLoop(0, m_ComponentOptions.Without(TWSocketOption::wsoNoReceiveLoop));
        if (stale())
            return;
        if (!m_SessionClosedFired) {
            m_SessionClosedFired = true;
            FireSessionClosed(error);
            if (stale())
                return;
        }
        if (m_State != TSocketState::wsClosed)
            Close();
    }
}

void TCustomWSocket::EnterState(TSocketState newState)
{
    TSocketState oldState = m_State;
    m_State = newState;
    FireChangeState(oldState, newState);
}

// ---- defaults and guarded setters -----------------------------------------

void TCustomWSocket::ResetToDefaults()
{
    m_SocketHandle = INVALID_SOCKET;
    m_AddrResolved = false;
    m_AddressFamily = AF_INET;
    m_AddrAssigned = false;
    m_ProtocolNumber = IPPROTO_TCP;
    m_ProtoAssigned = true;
    m_ProtoResolved = false;
    m_LocalPortResolved = false;
    m_Proto = "tcp";
    m_PortAssigned = false;
    m_PortResolved = false;
    m_LocalPort = "0";
    m_LocalAddr = "0.0.0.0";
    m_SocketType = SOCK_STREAM;
    m_LingerOnOff = TSocketLingerOnOff::wsLingerOn;
    m_LingerTimeout = 0;
    m_AllSent = true;
    m_ReadCount = 0;
    m_Paused = false;
    m_SessionClosedFired = false;
    m_FlushTimeout = 60;
    m_State = TSocketState::wsClosed;
    m_SelectEvents = 0;
    m_SockAddr = sockaddr_in{};
    m_SockAddr.sin_family = AF_INET;
}

void TCustomWSocket::AssignSetting(const char* name, const std::string& value, std::string& text, bool& assigned,
                                   bool& resolved)
{
    if (assigned && value == text)
        return;
    if (m_State != TSocketState::wsClosed) {
        ReportError(std::string("Cannot change ") + name + " if not closed");
        return;
    }
    text = TrimSpaces(value);
    assigned = !text.empty();
    if (assigned)
        resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& value)
{
    AssignSetting("Addr", value, m_Addr, m_AddrAssigned, m_AddrResolved);
}

void TCustomWSocket::AssignPort(const std::string& value)
{
    AssignSetting("Port", value, m_Port, m_PortAssigned, m_PortResolved);
}

void TCustomWSocket::AssignProto(const std::string& value)
{
    AssignSetting("Proto", value, m_Proto, m_ProtoAssigned, m_ProtoResolved);
}

void TCustomWSocket::SetLocalPort(const std::string& value)
{
    if (m_State != TSocketState::wsClosed) {
        ReportError("Cannot change LocalPort if not closed");
        return;
    }
    m_LocalPort = value;
    m_LocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value)
{
    if (m_State != TSocketState::wsClosed) {
        ReportError("Cannot change LocalAddr if not closed");
        return;
    }
    m_LocalAddr = value.empty() ? "0.0.0.0" : value;
}

TSocketSendFlags TCustomWSocket::SendFlags()
{
    switch (m_SendFlagsWord) {
    case 0: return TSocketSendFlags::wsSendNormal;
    case MSG_OOB: return TSocketSendFlags::wsSendUrgent;
    default:
        ReportError("Invalid internal SendFlags");
        return TSocketSendFlags::wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value)
{
    switch (value) {
    case TSocketSendFlags::wsSendNormal: m_SendFlagsWord = 0; break;
    case TSocketSendFlags::wsSendUrgent: m_SendFlagsWord = MSG_OOB; break;
    default: ReportError("Invalid SendFlags"); break;
    }
}

// ---- error reporting --------------------------------------------------------

void TCustomWSocket::ReportError(const std::string& text)
{
    if (OnError) {
        FireError();
        return;
    }
    throw ESocketException(text);
}

void TCustomWSocket::ReportErrorFmt(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    ReportError(text);
}

void TCustomWSocket::FailWithSocketError(const std::string& functionName)
{
    const int error = Winsock::WSAGetLastError();
    std::string text = "Error " + std::to_string(error) + " in function " + functionName + "\r\n" +
                       SocketErrorText(error);
    if (error == WSAECONNRESET || error == WSAENOTCONN) {
        if (m_SocketHandle != INVALID_SOCKET) {
            Winsock::closesocket(m_SocketHandle);
            ++m_HandlesClosed;
        }
        m_SocketHandle = INVALID_SOCKET;
        if (m_State != TSocketState::wsClosed)
            FireSessionClosed(static_cast<WORD>(error));
        EnterState(TSocketState::wsClosed);
    }
    m_LastError = error;
    ReportError(text);
}

void TCustomWSocket::ProcessBgException(const std::exception& e)
{
    bool canClose = true;
    if (OnBgException) {
        // The handler's own failure has nowhere left to go.
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

// ---- fire operations --------------------------------------------------------

bool TCustomWSocket::FireDataAvailable(WORD error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::FireSessionAvailable(WORD error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}

void TCustomWSocket::FireSessionConnected(WORD error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomWSocket::FireSessionClosed(WORD error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomWSocket::FireDataSent(WORD error)
{
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomWSocket::FireChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

void TCustomWSocket::FireDnsLookupDone(WORD error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TCustomWSocket::FireError()
{
    if (OnError)
        OnError(this);
}

void TCustomWSocket::FireSendData(std::int32_t bytesSent)
{
    if (OnSendData)
        OnSendData(this, bytesSent);
}

// ---- message pumping --------------------------------------------------------

bool TCustomWSocket::PumpOneMessage()
{
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (msg.message == WM_QUIT) {
        m_QuitSeen = true;
    } else {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void TCustomWSocket::PumpMessages()
{
    while (PumpOneMessage()) {
    }
}

void TCustomWSocket::ServiceMessages()
{
    if (m_MultiThreaded)
        PumpMessages();
    else
        ApplicationProcessMessages();
}

bool TCustomWSocket::WaitAbandoned() const
{
    if (m_QuitSeen)
        return true;
    // The own pump takes its thread's quit itself (QuitSeen); the main
    // thread's quit ends a worker's wait with either pump.
    if (m_MultiThreaded)
        return !IsMainThread() && MainThreadQuitPending();
    return ApplicationTerminated();
}

// ---- sending ----------------------------------------------------------------

std::int32_t TCustomWSocket::Send(const void* data, std::int32_t length)
{
    if (m_State != TSocketState::wsConnected) {
        Winsock::WSASetLastError(WSAENOTCONN);
        FailWithSocketError("Send");
        return -1;
    }
    m_AllSent = false;
    std::int32_t result = 0;
    if (data && length > 0) {
        result = length;
        AppendToSendBuffer(data, length);
    }
    TryToSend();
    // OnDataSent always comes from the message loop, never from inside Send.
    if (m_AllSent && m_SocketHandle != INVALID_SOCKET)
        PostMessageA(m_WindowHandle, MSG_SOCKET_EVENT, m_SocketHandle, WSAMAKESELECTREPLY(FD_WRITE, 0));
    return result;
}

std::int32_t TCustomWSocket::SendText(const std::string& text)
{
    if (text.empty())
        return 0;
    return Send(text.data(), static_cast<std::int32_t>(text.size()));
}

void TCustomWSocket::AppendToSendBuffer(const void* data, std::int32_t length)
{
    if (!data || length <= 0)
        return;
    if (m_SendQueue.empty())
        m_SendQueue.push_back(std::make_unique<TBuffer>(m_SendBlockSize));
    const char* bytes = static_cast<const char*>(data);
    TBuffer* block = m_SendQueue.back().get();
    for (;;) {
        std::int32_t appended = block->Append(bytes, length);
        bytes += appended;
        length -= appended;
        if (length <= 0)
            return;
        m_SendQueue.push_back(std::make_unique<TBuffer>(m_SendBlockSize));
        block = m_SendQueue.back().get();
    }
}

void TCustomWSocket::DiscardSendBuffer()
{
    m_SendQueue.clear();
}

void TCustomWSocket::TryToSend()
{
    if (m_SocketHandle == INVALID_SOCKET)
        return;
    // An empty queue has nothing left to send; otherwise a Send of no bytes
    // would leave AllSent clear for good and Flush would never end.
    if (m_SendQueue.empty()) {
        m_AllSent = true;
        return;
    }
    // An OnSendData handler may close (or reopen) the socket: what is left
    // belongs to a connection that is gone.
    const std::uint32_t closed = m_HandlesClosed;
    for (;;) {
        TBuffer* block = m_SendQueue.front().get();
        std::int32_t unread = 0;
        const char* data = block->PeekUnread(unread);
        if (unread == 0) {
            if (m_SendQueue.size() == 1) {
                m_AllSent = true;  // the last block stays for reuse
                return;
            }
            m_SendQueue.pop_front();
            continue;
        }
        std::int32_t sent = TransmitBlock(data, unread);
        if (sent == 0)
            return;
        if (sent == SOCKET_ERROR) {
            int error = Winsock::WSAGetLastError();
            switch (error) {
            case WSAECONNRESET:
            case WSAENOTSOCK:
            case WSAENOTCONN:
            case WSAEINVAL:
            case WSAECONNABORTED:
                m_SessionClosedFired = true;
                Close();
                FireSessionClosed(static_cast<WORD>(error));
                return;
            case WSAEWOULDBLOCK:
                return;  // the next FD_WRITE resumes
            default:
                FailWithSocketError("TryToSend failed");
                return;
            }
        }
        // An OnSendData handler that aborted has freed the block.
        if (m_HandlesClosed != closed || m_SendQueue.empty() || m_SendQueue.front().get() != block)
            return;
        // After a partial send the rest is tried at once: only a refused
        // send brings the FD_WRITE that would resume it.
        block->Consume(sent);
    }
}

std::int32_t TCustomWSocket::TransmitBlock(const void* data, std::int32_t length)
{
    const char* bytes = static_cast<const char*>(data);
    std::int32_t result;
    if (m_SocketType == SOCK_DGRAM)
        result = Winsock::sendto(m_SocketHandle, bytes, length, m_SendFlagsWord,
                                 reinterpret_cast<const sockaddr*>(&m_SockAddr), kSockAddrLength);
    else
        result = Winsock::send(m_SocketHandle, bytes, length, m_SendFlagsWord);
    if (result > 0)
        FireSendData(result);
    return result;
}

std::int32_t TCustomWSocket::SendDatagram(const sockaddr* destination, int destinationLength, const void* data,
                                          std::int32_t length)
{
    std::int32_t result = Winsock::sendto(m_SocketHandle, static_cast<const char*>(data), length, m_SendFlagsWord,
                                          destination, destinationLength);
    if (result > 0)
        FireSendData(result);
    return result;
}

void TCustomWSocket::Flush()
{
    // What is left stays queued when the wait is abandoned.
    while (m_SocketHandle != INVALID_SOCKET && !m_AllSent && !WaitAbandoned()) {
        TryToSend();
        ServiceMessages();
    }
}

// ---- receiving --------------------------------------------------------------

void TCustomWSocket::ReceiveLoop(WORD error, TWSocketOptions options)
{
    const std::uint32_t closed = m_HandlesClosed;
    std::int32_t heldBefore = -1;
    for (;;) {
        // Whatever a handler raises ends the loop unreported; the connection
        // stays as it is.
        try {
            m_LastError = 0;
            if (!FireDataAvailable(error)) {
                char discard[kDiscardChunk];
                if (LowRecv(discard, sizeof discard, 0) < 0) {
                    m_LastError = Winsock::WSAGetLastError();
                    if (m_LastError == WSAEWOULDBLOCK) {
                        m_LastError = 0;
                        return;
                    }
                }
            }
            // A handler that closed (or reopened) ends it: the rest is gone.
            if (options.Contains(TWSocketOption::wsoNoReceiveLoop) || m_LastError != 0 || m_HandlesClosed != closed)
                return;
            u_long waiting = 0;
            if (Winsock::ioctlsocket(m_SocketHandle, FIONREAD, &waiting) == SOCKET_ERROR) {
                m_LastError = Winsock::WSAGetLastError();
                return;
            }
            // Bytes that a layer holds above the socket wait just the same,
            // as long as the passes take some: no socket event renews them.
            const std::int32_t held = HeldByteCount();
            if (waiting == 0 && (held == 0 || held == heldBefore))
                return;
            heldBefore = held;
        } catch (...) {
            return;
        }
    }
}

bool TCustomWSocket::NothingWaits()
{
    // A datagram may be empty, and still be one.
    if (m_SocketType != SOCK_STREAM)
        return false;
    u_long waiting = 0;
    if (Winsock::ioctlsocket(m_SocketHandle, FIONREAD, &waiting) == SOCKET_ERROR)
        return false;
    return waiting == 0 && HeldByteCount() == 0;
}

std::int32_t TCustomWSocket::LowRecv(void* buffer, std::int32_t size, std::int32_t flags)
{
    return Winsock::recv(m_SocketHandle, static_cast<char*>(buffer), size, flags);
}

std::int32_t TCustomWSocket::LowRecvFrom(SOCKET s, void* buffer, std::int32_t size, std::int32_t flags,
                                         sockaddr* from, int* fromLength)
{
    return Winsock::recvfrom(s, static_cast<char*>(buffer), size, flags, from, fromLength);
}

std::int32_t TCustomWSocket::Receive(void* buffer, std::int32_t size)
{
    std::int32_t count = LowRecv(buffer, size, 0);
    if (count < 0)
        m_LastError = Winsock::WSAGetLastError();
    else
        AddWrapping(m_ReadCount, count);
    return count;
}

std::string TCustomWSocket::ReceiveText()
{
    std::int32_t waiting = PendingByteCount();
    if (waiting < 0)
        return std::string();
    if (waiting == 0)
        waiting = 255;
    std::string text(static_cast<std::size_t>(waiting), '\0');
    std::int32_t count = Receive(text.data(), waiting);
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return text;
}

std::int32_t TCustomWSocket::ReceiveDatagram(void* buffer, std::int32_t size, sockaddr* from, int* fromLength)
{
    std::int32_t count = LowRecvFrom(m_SocketHandle, buffer, size, 0, from, fromLength);
    if (count < 0)
        m_LastError = Winsock::WSAGetLastError();
    else
        AddWrapping(m_ReadCount, count);
    return count;
}

std::int32_t TCustomWSocket::HeldByteCount()
{
    return 0;
}

std::int32_t TCustomWSocket::PendingByteCount()
{
    u_long waiting = 0;
    if (Winsock::ioctlsocket(m_SocketHandle, FIONREAD, &waiting) == SOCKET_ERROR) {
        FailWithSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<std::int32_t>(waiting);
}

void TCustomWSocket::DrainUntilClosed()
{
    // Ends when the peer has closed (its FD_CLOSE closes the component, or a
    // peek sees the end of the stream), when the socket is closed here, on a
    // socket error, or when the wait is abandoned.
    while (m_SocketHandle != INVALID_SOCKET && m_State != TSocketState::wsClosed && !WaitAbandoned()) {
        ServiceMessages();
        if (m_SocketHandle == INVALID_SOCKET || m_State == TSocketState::wsClosed || WaitAbandoned())
            return;
        u_long waiting = 0;
        if (Winsock::ioctlsocket(m_SocketHandle, FIONREAD, &waiting) == SOCKET_ERROR)
            return;
        if (waiting > 0 || HeldByteCount() > 0) {
            if (!FireDataAvailable(0)) {
                char discard[kDiscardChunk];
                LowRecv(discard, sizeof discard, 0);
            }
            continue;
        }
        char probe;
        int result = Winsock::recv(m_SocketHandle, &probe, 1, MSG_PEEK);
        if (result == 0)
            return;
        if (result < 0) {
            m_LastError = Winsock::WSAGetLastError();
            if (m_LastError != WSAEWOULDBLOCK)
                return;
        }
        ServiceMessages();
    }
}

// ---- time values ------------------------------------------------------------

bool TCustomWSocket::TimevalIsSet(const TTimeval& value)
{
    return value.Seconds != 0 || value.Microseconds != 0;
}

void TCustomWSocket::TimevalClear(TTimeval& value)
{
    value = TTimeval{};
}

bool TCustomWSocket::TimevalCompare(const TTimeval& a, const TTimeval& b, bool wantEqual)
{
    bool equal = a.Seconds == b.Seconds && a.Microseconds == b.Microseconds;
    return equal == wantEqual;
}
