// TCustomWSocket: a non-blocking IPv4 socket component (stream, datagram or
// raw) whose network events arrive as window messages at a hidden window of
// its own, on the thread that created it, and come out as its events.
#pragma once

#include "platform/Win32.h"
#include "platform/winsock/WinSock.h"
#include "socket/NameResolution.h"
#include "socket/SocketLibrary.h"
#include "socket/WSockBuf.h"

#include <array>
#include <deque>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Transitions (anything else is refused):
//   construction, any close   -> wsClosed (ResetToDefaults, no OnChangeState)
//   wsClosed     --Connect created the socket-->      wsOpened
//   wsOpened     --stream connect issued/pending-->   wsConnecting
//   wsOpened     --datagram socket ready-->           wsConnected
//   not wsConnected --FD_CONNECT or FD_READ-->        wsConnected
//   wsClosed     --Listen bound the socket-->         wsBound
//   wsBound      --stream listen succeeded-->         wsListening
//   wsBound      --datagram/raw-->                    wsListening, then wsConnected
//   any          --Dup-->                             (wsClosed if open), wsConnected
//   not wsClosed --Close/Abort/FD_CLOSE/close later--> wsClosed
//   any          --socket error 10054 or 10057-->     wsClosed
enum class TSocketState : std::uint8_t {
    wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum class TSocketSendFlags : std::uint8_t { wsSendNormal, wsSendUrgent };
enum class TSocketLingerOnOff : std::uint8_t { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum class TWSocketOption : std::uint8_t { wsoNoReceiveLoop, wsoTcpNoDelay };

// A set of TWSocketOption: bit n for ordinal n.
class TWSocketOptions {
public:
    constexpr TWSocketOptions() = default;
    constexpr TWSocketOptions(std::initializer_list<TWSocketOption> options)
    {
        for (TWSocketOption option : options)
            m_Bits |= Bit(option);
    }
    constexpr bool Contains(TWSocketOption option) const { return (m_Bits & Bit(option)) != 0; }
    constexpr TWSocketOptions With(TWSocketOption option) const { return FromBits(m_Bits | Bit(option)); }
    constexpr TWSocketOptions Without(TWSocketOption option) const { return FromBits(m_Bits & ~Bit(option)); }
    constexpr std::uint8_t Bits() const { return m_Bits; }
    constexpr bool operator==(const TWSocketOptions&) const = default;

private:
    static constexpr std::uint8_t Bit(TWSocketOption option) { return std::uint8_t(1u << unsigned(option)); }
    static constexpr TWSocketOptions FromBits(unsigned bits)
    {
        TWSocketOptions options;
        options.m_Bits = std::uint8_t(bits);
        return options;
    }
    std::uint8_t m_Bits = 0;
};

// Messages of the hidden window.
constexpr UINT MSG_SOCKET_EVENT = WM_USER + 1;
constexpr UINT MSG_LOOKUP_DONE = WM_USER + 2;
constexpr UINT MSG_REVERSE_LOOKUP_DONE = WM_USER + 3;
constexpr UINT MSG_CLOSE_LATER = WM_USER + 4;
constexpr UINT MSG_FREE_LATER = WM_USER + 5;
constexpr UINT MSG_TEST_EXCEPTION = WM_USER + 6;

constexpr const char* kSocketWindowClassName = "XSocketWindowClass";

struct TSocketMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

struct TTimeval {
    LONG Seconds = 0;
    LONG Microseconds = 0;
};

LRESULT SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class TCustomWSocket {
public:
    TCustomWSocket();
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // ---- properties ----------------------------------------------------
    const std::string& Addr() const { return m_Addr; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return m_Port; }
    void SetPort(const std::string& value) { AssignPort(value); }
    const std::string& Proto() const { return m_Proto; }
    void SetProto(const std::string& value) { AssignProto(value); }
    const std::string& LocalAddr() const { return m_LocalAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return m_LocalPort; }
    void SetLocalPort(const std::string& value);
    std::string PeerAddr() { return ReadPeerAddr(); }
    std::string PeerPort() { return ReadPeerPort(); }
    const std::string& DnsResult() const { return m_DnsResult; }
    const std::vector<std::string>& DnsResultList() const { return m_DnsResultList; }
    TSocketState State() const { return m_State; }
    std::int32_t ReadCount() const { return m_ReadCount; }
    std::int32_t RcvdCount() { return PendingByteCount(); }
    std::int32_t LastError() const { return m_LastError; }
    bool MultiThreaded() const { return m_MultiThreaded; }
    void SetMultiThreaded(bool value) { m_MultiThreaded = value; }
    bool MultiCast() const { return m_MultiCast; }
    void SetMultiCast(bool value) { m_MultiCast = value; }
    const std::string& MultiCastAddrStr() const { return m_MultiCastAddrStr; }
    void SetMultiCastAddrStr(const std::string& value) { m_MultiCastAddrStr = value; }
    std::int32_t MultiCastIpTTL() const { return m_MultiCastIpTTL; }
    void SetMultiCastIpTTL(std::int32_t value) { m_MultiCastIpTTL = value; }
    bool ReuseAddr() const { return m_ReuseAddr; }
    void SetReuseAddr(bool value) { m_ReuseAddr = value; }
    TWSocketOptions ComponentOptions() const { return m_ComponentOptions; }
    void SetComponentOptions(TWSocketOptions value) { m_ComponentOptions = value; }
    std::int32_t FlushTimeout() const { return m_FlushTimeout; }
    void SetFlushTimeout(std::int32_t value) { m_FlushTimeout = value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags value);
    TSocketLingerOnOff LingerOnOff() const { return m_LingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_LingerOnOff = value; }
    std::int32_t LingerTimeout() const { return m_LingerTimeout; }
    void SetLingerTimeout(std::int32_t value) { m_LingerTimeout = value; }
    SOCKET SocketHandle() const { return m_SocketHandle; }
    HWND WindowHandle() const { return m_WindowHandle; }
    bool AllSent() const { return m_AllSent; }
    bool Paused() const { return m_Paused; }
    bool QuitSeen() const { return m_QuitSeen; }
    std::int32_t SelectEvents() const { return m_SelectEvents; }
    std::int32_t SendBlockSize() const { return m_SendBlockSize; }
    std::size_t SendQueueBlockCount() const { return m_SendQueue.size(); }
    const sockaddr_in& SockAddr() const { return m_SockAddr; }
    SOCKET AcceptedHandle() const { return m_AcceptedHandle; }

    // ---- events (sender first) -------------------------------------------
    std::function<void(TCustomWSocket* sender, WORD error)> OnSessionAvailable;
    std::function<void(TCustomWSocket* sender, WORD error)> OnSessionConnected;
    std::function<void(TCustomWSocket* sender, WORD error)> OnSessionClosed;
    std::function<void(TCustomWSocket* sender, TSocketState oldState, TSocketState newState)> OnChangeState;
    std::function<void(TCustomWSocket* sender, WORD error)> OnDataAvailable;
    std::function<void(TCustomWSocket* sender, WORD error)> OnDataSent;
    std::function<void(TCustomWSocket* sender, std::int32_t bytesSent)> OnSendData;
    std::function<void(TCustomWSocket* sender, WORD error)> OnDnsLookupDone;
    std::function<void(TCustomWSocket* sender)> OnError;
    std::function<void(TCustomWSocket* sender, const std::exception& e, bool& canClose)> OnBgException;

    // ---- virtual operations ----------------------------------------------
    // Declared in the one order that the protocol layers build on; access
    // changes inside the list rather than the order.
    virtual void DispatchSocketMessage(TSocketMessage& message);
protected:
    virtual void CreateMessageWindow();
    virtual void DestroyMessageWindow();
    virtual void ResetToDefaults();
public:
    virtual void CloseConnection(bool shutdownFirst, WORD errorCode);
protected:
    virtual void AssignPort(const std::string& value);
    virtual void AssignProto(const std::string& value);
public:
    virtual std::int32_t PendingByteCount();
    virtual void BindLocal();
    virtual std::int32_t TransmitBlock(const void* data, std::int32_t length);
    virtual void ReportErrorFmt(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual void ReportError(const std::string& text);
    virtual void ProcessBgException(const std::exception& e);
protected:
    virtual bool FireDataAvailable(WORD error);
    virtual void FireSessionAvailable(WORD error);
    virtual void FireSessionConnected(WORD error);
    virtual void FireSessionClosed(WORD error);
    virtual void FireDataSent(WORD error);
    virtual void FireChangeState(TSocketState oldState, TSocketState newState);
    virtual void FireDnsLookupDone(WORD error);
    virtual void FireError();
    virtual std::int32_t LowRecv(void* buffer, std::int32_t size, std::int32_t flags);
    virtual std::int32_t LowRecvFrom(SOCKET s, void* buffer, std::int32_t size, std::int32_t flags, sockaddr* from,
                                     int* fromLength);
public:
    virtual void Connect();
    virtual void Close();
    virtual void CloseLater();
    virtual void FreeLater();
    virtual void Abort();
    virtual void Flush();
    virtual void DrainUntilClosed();
    virtual void Listen();
    virtual SOCKET Accept();
    virtual std::int32_t Receive(void* buffer, std::int32_t size);
    virtual std::string ReceiveText();
    virtual std::int32_t ReceiveDatagram(void* buffer, std::int32_t size, sockaddr* from, int* fromLength);
    virtual std::int32_t Send(const void* data, std::int32_t length);
    virtual std::int32_t SendDatagram(const sockaddr* destination, int destinationLength, const void* data,
                                      std::int32_t length);
    virtual std::int32_t SendText(const std::string& text);
    virtual void DnsLookup(const std::string& hostName);
    virtual void ReverseDnsLookup(const std::string& addressText);
    virtual void CancelLookup();
    virtual std::string ReadPeerAddr();
    virtual std::string ReadPeerPort();
    virtual int QueryPeerName(sockaddr* name, int nameLength);
    virtual std::string LocalPortText();
    virtual std::string LocalAddrText();
    virtual bool TimevalIsSet(const TTimeval& value);
    virtual void TimevalClear(TTimeval& value);
    virtual bool TimevalCompare(const TTimeval& a, const TTimeval& b, bool wantEqual);
    virtual int QuerySockName(sockaddr* name, int* nameLength);
    virtual void Dup(SOCKET handle);
    virtual void Shutdown(std::int32_t how);
    virtual std::int32_t SuspendEvents();
    virtual std::int32_t ResumeEvents();
    virtual void ServiceMessages();
protected:
    // Received bytes that a layer holds above the socket and hands out
    // before the socket's; the receive loop counts them as waiting.
    virtual std::int32_t HeldByteCount();
public:

    // ---- non-virtual operations ------------------------------------------
    void ApplyLinger();
    void TryToSend();
    void DiscardSendBuffer();
    bool PumpOneMessage();
    void PumpMessages();

protected:
    // A loop that waits through ServiceMessages gives up: the own pump took
    // a WM_QUIT, or the application that the other pump serves is ending.
    bool WaitAbandoned() const;
    void EnterState(TSocketState newState);
    void FailWithSocketError(const std::string& functionName);
    void FireSendData(std::int32_t bytesSent);
    void AppendToSendBuffer(const void* data, std::int32_t length);
    void ReceiveLoop(WORD error, TWSocketOptions options);
    // A stream with no byte waiting, in the system or held by a layer.
    bool NothingWaits();
    void HandleSocketEvent(const TSocketMessage& message);
    void HandleLookupDone(const TSocketMessage& message);
    void HandleReverseLookupDone(const TSocketMessage& message);
    void ReleaseStaleHandle();
    // The guarded setters of Addr, Port and Proto: one setting's text and flags.
    void AssignSetting(const char* name, const std::string& value, std::string& text, bool& assigned,
                       bool& resolved);
    // Turns the settings not resolved yet into numbers, for Connect (true) or
    // Listen; false when one is refused (reported with `operation`).
    bool ResolveSettings(bool forConnect, const char* operation);
    // A new lookup replaces the running one, which then never reports.
    void ForgetLookup();

    std::string m_DnsResult;
    std::vector<std::string> m_DnsResultList;
    SOCKET m_AcceptedHandle = INVALID_SOCKET;
    std::deque<std::unique_ptr<TBuffer>> m_SendQueue;
    std::int32_t m_SendBlockSize = 1460;
    std::int32_t m_SendFlagsWord = 0;  // 0 or MSG_OOB
    std::int32_t m_LastError = 0;
    HWND m_WindowHandle = nullptr;
    // The system writes a host entry here, pointers included.
    alignas(alignof(std::max_align_t)) std::array<char, 1028> m_LookupBuffer{};
    HANDLE m_LookupHandle = nullptr;
    // A completion dispatched before the lookup handle was known.
    bool m_LookupDoneEarly = false;
    TSocketMessage m_SavedLookupMessage;
    SOCKET m_SocketHandle = INVALID_SOCKET;
    std::string m_Addr;
    bool m_AddrResolved = false;
    std::int32_t m_AddressFamily = AF_INET;
    bool m_AddrAssigned = false;
    std::int32_t m_ProtocolNumber = IPPROTO_TCP;
    bool m_ProtoAssigned = true;
    bool m_ProtoResolved = false;
    bool m_LocalPortResolved = false;
    std::string m_Proto = "tcp";
    std::string m_Port;
    bool m_PortAssigned = false;
    bool m_PortResolved = false;
    std::int32_t m_PortNumber = 0;
    std::string m_LocalPort = "0";
    std::int32_t m_LocalPortNumber = 0;
    std::string m_LocalAddr = "0.0.0.0";
    std::int32_t m_SocketType = SOCK_STREAM;
    TSocketLingerOnOff m_LingerOnOff = TSocketLingerOnOff::wsLingerOn;
    std::int32_t m_LingerTimeout = 0;
    bool m_AllSent = true;
    std::int32_t m_ReadCount = 0;
    bool m_Paused = false;
    bool m_SessionClosedFired = false;
    std::int32_t m_FlushTimeout = 60;
    bool m_MultiThreaded = false;
    bool m_MultiCast = false;
    std::string m_MultiCastAddrStr;
    std::int32_t m_MultiCastIpTTL = 1;
    bool m_ReuseAddr = false;
    TWSocketOptions m_ComponentOptions;
    TSocketState m_State = TSocketState::wsClosed;
    bool m_QuitSeen = false;
    std::int32_t m_SelectEvents = 0;
    sockaddr_in m_SockAddr{};
    bool m_Destroying = false;
    DWORD m_CreatorThreadId = 0;
    // Grows with every handle closed: a handler's close is seen even when
    // the system gives the next socket the same handle value.
    std::uint32_t m_HandlesClosed = 0;
};

// =============================================================================
// SOCKS client: TCustomSocksWSocket
// =============================================================================

enum class TSocksAuthentication : std::uint8_t { socksNoAuthentication, socksAuthenticateUsercode };
enum class TSocksAuthState : std::uint8_t { socksAuthStarted, socksAuthAccepted, socksAuthAborted, socksAuthSkipped };
// Where the exchange stands:
//   snIdle --Connect through a server--> snAwaitMethod
//   snAwaitMethod --connected, level 4/4A--> snAwaitReply
//   snAwaitMethod --method 0--> snAwaitReply;  --method 2--> snAwaitAuth --status 0--> snAwaitReply
//   snAwaitReply --granted--> snIdle (user data flows); any failure or close --> snIdle
enum class TSocksNegotiationState : std::uint8_t { snIdle, snAwaitMethod, snAwaitAuth, snAwaitReply };

// A value that does not fit the request, or a reply too long to hold.
constexpr std::int32_t kSocksErrorTooLong = 20014;

class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket() = default;

    // ---- properties ----------------------------------------------------
    const std::string& SocksServer() const { return m_SocksServer; }
    void SetSocksServer(const std::string& value) { AssignSocksServer(value); }
    const std::string& SocksLevel() const { return m_SocksLevel; }
    void SetSocksLevel(const std::string& value) { AssignSocksLevel(value); }
    const std::string& SocksPort() const { return m_SocksPort; }
    void SetSocksPort(const std::string& value) { AssignSocksPort(value); }
    const std::string& SocksUsercode() const { return m_SocksUsercode; }
    void SetSocksUsercode(const std::string& value) { m_SocksUsercode = value; }
    const std::string& SocksPassword() const { return m_SocksPassword; }
    void SetSocksPassword(const std::string& value) { m_SocksPassword = value; }
    TSocksAuthentication SocksAuthentication() const { return m_SocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication value) { m_SocksAuthentication = value; }
    TSocksNegotiationState NegotiationState() const { return m_NegotiationState; }

    // ---- events ----------------------------------------------------------
    std::function<void(TCustomWSocket* sender, std::int32_t error, const std::string& msg)> OnSocksError;
    std::function<void(TCustomWSocket* sender, WORD error)> OnSocksConnected;
    std::function<void(TCustomWSocket* sender, TSocksAuthState authState)> OnSocksAuthState;

    // ---- overrides -------------------------------------------------------
protected:
    void ResetToDefaults() override;
public:
    std::int32_t PendingByteCount() override;
protected:
    bool FireDataAvailable(WORD error) override;
    void FireSessionConnected(WORD error) override;
    void FireSessionClosed(WORD error) override;
    std::int32_t LowRecv(void* buffer, std::int32_t size, std::int32_t flags) override;
    std::int32_t HeldByteCount() override;
public:
    void Connect() override;
    void Listen() override;

    // ---- added virtual operations ----------------------------------------
protected:
    virtual void FireSocksConnected(WORD error);
    virtual void AssignSocksPort(const std::string& value);
    virtual void AssignSocksServer(const std::string& value);
    virtual void FireSocksError(std::int32_t error, const std::string& msg);

    // ---- non-virtual -----------------------------------------------------
    void AssignSocksLevel(const std::string& value);
    void FireSocksAuthState(TSocksAuthState authState);
    void SendSocksRequest();
    void SendSocksCredentials();
    void FailSocks(std::int32_t error, const std::string& msg);

private:
    static constexpr std::int32_t kSocksBufferSize = 128;

    // Reads into the reply buffer up to `limit` bytes held; false when
    // nothing could be read.
    bool ReadSocksReply(std::int32_t limit);
    void ReceiveMethodReply();
    void ReceiveAuthReply();
    bool ReceiveSocks4Reply();
    bool ReceiveSocks5Reply();
    // Empty when the request (and, for a user name, the credentials) fit
    // their buffers; otherwise the refusal text.
    std::string SocksValuesProblem() const;
    std::string SocksRequestProblem() const;
    std::string SocksCredentialsProblem() const;
    bool SocksLevel4() const { return !m_SocksLevel.empty() && m_SocksLevel[0] == '4'; }

    TSocksNegotiationState m_NegotiationState = TSocksNegotiationState::snIdle;
    std::string m_SocksServer;
    std::string m_SocksLevel = "5";
    std::string m_SocksPort;
    bool m_SocksServerAssigned = false;
    std::string m_SocksUsercode;
    std::string m_SocksPassword;
    TSocksAuthentication m_SocksAuthentication = TSocksAuthentication::socksNoAuthentication;
    std::uint8_t m_SocksOfferedMethod = 0;
    // Never more than kSocksBufferSize - 1 bytes are stored.
    std::array<std::uint8_t, kSocksBufferSize> m_SocksReplyBuffer{};
    std::int32_t m_SocksReplyCount = 0;
    // User data that followed a SOCKS 5 reply in the same read.
    std::int32_t m_SocksLeftoverCount = 0;
    std::int32_t m_SocksLeftoverPos = 0;
};

// =============================================================================
// Line mode: TCustomLineWSocket
// =============================================================================

constexpr UINT MSG_REDELIVER_DATA = WM_USER + 20;

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket() = default;
    ~TCustomLineWSocket() override = default;

    // ---- properties ----------------------------------------------------
    bool LineMode() const { return m_LineMode; }
    void SetLineMode(bool value) { AssignLineMode(value); }
    std::int32_t LineLimit() const { return m_LineLimit; }
    void SetLineLimit(std::int32_t value) { m_LineLimit = value; }
    const std::string& LineEnd() const { return m_LineEnd; }
    void SetLineEnd(const std::string& value) { m_LineEnd = value; }
    bool LineEcho() const { return m_LineEcho; }
    void SetLineEcho(bool value) { m_LineEcho = value; }
    bool LineEdit() const { return m_LineEdit; }
    void SetLineEdit(bool value) { m_LineEdit = value; }
    // Bytes received but not yet handed out.
    std::int32_t LineBufferCount() const { return m_LineBufferCount; }

    // ---- events ----------------------------------------------------------
    std::function<void(TCustomWSocket* sender, std::int32_t rcvdLength, bool& clearData)> OnLineLimitExceeded;

    // ---- overrides -------------------------------------------------------
    void DispatchSocketMessage(TSocketMessage& message) override;
    std::int32_t PendingByteCount() override;
protected:
    bool FireDataAvailable(WORD error) override;
    void FireSessionClosed(WORD error) override;
    std::int32_t LowRecv(void* buffer, std::int32_t size, std::int32_t flags) override;
    std::int32_t HeldByteCount() override;

    // ---- added virtual operations ----------------------------------------
    virtual void FireLineLimitExceeded(std::int32_t rcvdLength, bool& clearData);
public:
    virtual void AssignLineMode(bool value);
protected:
    virtual void EditReceivedBytes(std::int32_t& count);

    // ---- non-virtual -----------------------------------------------------
    void RedeliverBuffered();

private:
    // Steps the held bytes from `searchFrom` on, one complete line per
    // delivery. False when the session closed underneath (the buffer is gone).
    bool DeliverHeldLines(std::int32_t searchFrom);
    // Hands out the pending line until read, dropped or line mode is off.
    void DeliverPendingLine();
    void DeliverHeldAtClose();
    void EnsureLineBufferSize(std::int32_t size);
    void ConsumeHeld(std::int32_t count);
    void CompactHeld();
    std::int32_t ReceiveNewBytes(char* buffer, std::int32_t size);
    char* HeldBytes() { return m_LineBuffer.data() + m_LineBufferStart; }
    bool LineCutting() const { return m_LineMode && !m_LineEnd.empty(); }

    // Bytes held in m_LineBuffer from m_LineBufferStart on; the byte after
    // them is always 0, so the buffer's size (m_LineBufferSize) always
    // exceeds start plus count once allocated.
    std::vector<char> m_LineBuffer;
    std::int32_t m_LineBufferSize = 0;
    std::int32_t m_LineBufferStart = 0;
    std::int32_t m_LineBufferCount = 0;
    std::string m_LineEnd = "\r\n";
    bool m_LineMode = false;
    // Length of the complete line being handed out (terminator included).
    std::int32_t m_PendingLineLength = 0;
    // A handler raised during the deliveries: the held bytes may still hold
    // complete lines, which the next delivery searches for from the start.
    bool m_DeliveryCutShort = false;
    std::int32_t m_LineLimit = 65536;
    bool m_ClearDataFlag = false;
    bool m_LineEcho = false;
    bool m_LineEdit = false;
    // Counts freed line buffers, so a delivery sees a close by its handler.
    std::uint32_t m_LineSession = 0;
};

// =============================================================================
// Synchronous waiting: TCustomSyncWSocket, and the final class TWSocket
// =============================================================================

// Result of a wait abandoned because the thread or application is quitting.
constexpr std::int32_t kWaitAbandoned = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    TCustomSyncWSocket() = default;

    // Clears doneFlag, runs proc (if any) and waits for the flag: 0, or
    // kWaitAbandoned.
    virtual std::int32_t RunAndWait(const std::function<void()>& proc, bool& doneFlag);
    // Services messages until doneFlag is true (0) or the wait is abandoned
    // (kWaitAbandoned) by a WM_QUIT.
    virtual std::int32_t WaitForFlag(bool& doneFlag);
};

// The socket class that users create: all layers, nothing added but the
// component's name and tag.
class TWSocket : public TCustomSyncWSocket {
public:
    TWSocket() = default;

    const std::string& Name() const { return m_Name; }
    void SetName(const std::string& value) { m_Name = value; }
    std::intptr_t Tag() const { return m_Tag; }
    void SetTag(std::intptr_t value) { m_Tag = value; }

private:
    std::string m_Name;
    std::intptr_t m_Tag = 0;
};
