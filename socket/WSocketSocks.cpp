// TCustomSocksWSocket: the client side of SOCKS 4, 4A (by its memo) and 5
// (RFC 1928, username/password by RFC 1929) for stream connections.
#include "socket/WSocket.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace {

using NS = TSocksNegotiationState;

constexpr std::uint8_t kSocks4Version = 4;
constexpr std::uint8_t kSocks4ReplyVersion = 0;
constexpr std::uint8_t kSocks5Version = 5;
constexpr std::uint8_t kAuthVersion = 1;
constexpr std::uint8_t kCommandConnect = 1;
constexpr std::uint8_t kMethodNone = 0;
constexpr std::uint8_t kMethodUserPassword = 2;
constexpr std::uint8_t kAddressIPv4 = 1;
constexpr std::uint8_t kAddressDomain = 3;
constexpr std::int32_t kSocks4ReplyLength = 8;
constexpr std::int32_t kMaxLengthByte = 255;

const char* const kSocks5ReplyTexts[] = {
    "general SOCKS server failure", "connection not allowed by ruleset", "network unreachable",
    "host unreachable",             "connection refused",                "time to live expired",
    "command not supported",        "address type not supported",
};

// Appends bytes to a fixed request buffer; the callers check the sizes first,
// and the writer refuses anything past the end all the same.
class TRequestWriter {
public:
    TRequestWriter(std::uint8_t* buffer, std::int32_t capacity) : m_Buffer(buffer), m_Capacity(capacity) {}
    void Byte(std::uint8_t value) { Bytes(&value, 1); }
    void Bytes(const void* data, std::size_t length)
    {
        if (length > static_cast<std::size_t>(m_Capacity - m_Length))
            throw std::length_error("socks request too long");
        std::memcpy(m_Buffer + m_Length, data, length);
        m_Length += static_cast<std::int32_t>(length);
    }
    void Text(const std::string& text) { Bytes(text.data(), text.size()); }
    void Port(std::int32_t port)
    {
        Byte(static_cast<std::uint8_t>((port >> 8) & 0xFF));
        Byte(static_cast<std::uint8_t>(port & 0xFF));
    }
    std::int32_t Length() const { return m_Length; }

private:
    std::uint8_t* m_Buffer;
    std::int32_t m_Capacity;
    std::int32_t m_Length = 0;
};

bool HasZeroByte(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

}  // namespace

// ---- setters ----------------------------------------------------------------

void TCustomSocksWSocket::AssignSocksLevel(const std::string& value)
{
    if (m_State != TSocketState::wsClosed) {
        ReportError("Can't change socks level if not closed");
        return;
    }
    if (value != "4" && value != "5" && value != "4A" && value != "4a") {
        ReportError("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    m_SocksLevel = value == "4a" ? "4A" : value;
}

void TCustomSocksWSocket::AssignSocksPort(const std::string& value)
{
    if (m_State != TSocketState::wsClosed) {
        ReportError("Can't change socks port if not closed");
        return;
    }
    m_SocksPort = TrimSpaces(value);
}

void TCustomSocksWSocket::AssignSocksServer(const std::string& value)
{
    if (m_State != TSocketState::wsClosed) {
        ReportError("Can't change socks server if not closed");
        return;
    }
    m_SocksServer = TrimSpaces(value);
    m_SocksServerAssigned = !m_SocksServer.empty();
}

void TCustomSocksWSocket::ResetToDefaults()
{
    TCustomWSocket::ResetToDefaults();
    m_NegotiationState = NS::snIdle;
    m_SocksServer.clear();
    m_SocksPort.clear();
    m_SocksLevel = "5";
    m_SocksLeftoverCount = 0;
    m_SocksServerAssigned = false;
}

// ---- connecting and listening -----------------------------------------------

void TCustomSocksWSocket::Connect()
{
    // The core refuses a second Connect on a live connection; nothing of the
    // running exchange may change before it does.
    if (!m_SocksServerAssigned || (m_SocketHandle != INVALID_SOCKET && m_State != TSocketState::wsClosed)) {
        // A SOCKS attempt that failed before its socket existed must not make
        // a direct connection talk SOCKS.
        if (m_State == TSocketState::wsClosed)
            m_NegotiationState = NS::snIdle;
        TCustomWSocket::Connect();
        return;
    }
    std::string proto = m_Proto;
    std::transform(proto.begin(), proto.end(), proto.begin(), [](unsigned char c) { return std::tolower(c); });
    if (proto != "tcp") {
        ReportError("tcp is the only protocol supported thru socks server");
        return;
    }
    try {
        if (!m_PortResolved) {
            m_SockAddr.sin_port = Winsock::htons(WSocketResolvePort(m_SocksPort, m_Proto));
            m_PortResolved = true;
        }
        if (!m_AddrResolved) {
            m_SockAddr.sin_addr.s_addr = WSocketResolveHost(m_SocksServer);
            m_AddrResolved = true;
        }
        // The destination port; SockAddr now names the SOCKS server.
        m_PortNumber = WSocketResolvePort(m_Port, m_Proto);
    } catch (const std::exception& e) {
        ReportError(std::string("connect: ") + e.what());
        return;
    }
    m_NegotiationState = NS::snAwaitMethod;
    m_SocksReplyCount = 0;
    try {
        TCustomWSocket::Connect();
    } catch (...) {
        if (m_State == TSocketState::wsClosed)
            m_NegotiationState = NS::snIdle;
        throw;
    }
    if (m_State == TSocketState::wsClosed)
        m_NegotiationState = NS::snIdle;
}

void TCustomSocksWSocket::Listen()
{
    if (m_SocksServerAssigned) {
        ReportError("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

// ---- the exchange -----------------------------------------------------------

void TCustomSocksWSocket::FireSessionConnected(WORD error)
{
    if (m_NegotiationState != NS::snAwaitMethod) {
        TCustomWSocket::FireSessionConnected(error);
        return;
    }
    FireSocksConnected(error);
    if (error != 0) {
        TCustomWSocket::FireSessionConnected(error);
        return;
    }
    // A handler of OnSocksConnected may have closed the connection.
    if (m_NegotiationState != NS::snAwaitMethod)
        return;
    // Refused before a single byte goes out.
    std::string problem = SocksValuesProblem();
    if (!problem.empty()) {
        FailSocks(kSocksErrorTooLong, problem);
        return;
    }
    if (SocksLevel4()) {
        SendSocksRequest();
        return;
    }
    m_SocksOfferedMethod =
        m_SocksAuthentication == TSocksAuthentication::socksNoAuthentication ? kMethodNone : kMethodUserPassword;
    const std::uint8_t greeting[3] = {kSocks5Version, 1, m_SocksOfferedMethod};
    Send(greeting, sizeof greeting);
}

bool TCustomSocksWSocket::FireDataAvailable(WORD error)
{
    if (m_NegotiationState == NS::snIdle)
        return TCustomWSocket::FireDataAvailable(error);
    if (error != 0) {
        FailSocks(error, "data receive error");
        return false;
    }
    switch (m_NegotiationState) {
    case NS::snAwaitMethod:
        ReceiveMethodReply();
        return true;
    case NS::snAwaitAuth:
        ReceiveAuthReply();
        return true;
    case NS::snAwaitReply:
        return SocksLevel4() ? ReceiveSocks4Reply() : ReceiveSocks5Reply();
    default:
        FailSocks(20013, "internal error");
        return false;
    }
}

bool TCustomSocksWSocket::ReadSocksReply(std::int32_t limit)
{
    std::int32_t room = std::min(limit, kSocksBufferSize - 1) - m_SocksReplyCount;
    if (room <= 0)
        return false;
    std::int32_t count = Receive(m_SocksReplyBuffer.data() + m_SocksReplyCount, room);
    if (count < 0)
        return false;
    m_SocksReplyCount += count;
    return true;
}

void TCustomSocksWSocket::ReceiveMethodReply()
{
    if (!ReadSocksReply(kSocksBufferSize - 1))
        return;
    if (SocksLevel4()) {
        FailSocks(20001, "TWSocket logic error");
        return;
    }
    if (m_SocksReplyCount < 2)
        return;
    m_SocksReplyCount = 0;
    if (m_SocksReplyBuffer[0] != kSocks5Version) {
        FailSocks(20002, "socks version error");
        return;
    }
    switch (m_SocksReplyBuffer[1]) {
    case kMethodNone:
        if (m_SocksOfferedMethod != kMethodNone)
            FireSocksAuthState(TSocksAuthState::socksAuthSkipped);
        SendSocksRequest();
        break;
    case kMethodUserPassword:
        SendSocksCredentials();
        break;
    default:
        FailSocks(20003, "authentification method not acceptable");
        break;
    }
}

void TCustomSocksWSocket::ReceiveAuthReply()
{
    if (!ReadSocksReply(kSocksBufferSize - 1))
        return;
    if (m_SocksReplyCount >= 1 && m_SocksReplyBuffer[0] != kAuthVersion) {
        FailSocks(20002, "socks version error");
        return;
    }
    if (m_SocksReplyCount > 2) {
        FailSocks(20001, "too much data availaible");
        return;
    }
    if (m_SocksReplyCount < 2)
        return;
    if (m_SocksReplyBuffer[1] != 0) {
        FailSocks(20015, "socks authentication failed");
        return;
    }
    m_SocksReplyCount = 0;
    FireSocksAuthState(TSocksAuthState::socksAuthAccepted);
    // A handler may have closed the connection.
    if (m_NegotiationState == NS::snAwaitAuth)
        SendSocksRequest();
}

bool TCustomSocksWSocket::ReceiveSocks4Reply()
{
    // Never read past the 8 bytes: what follows belongs to the user.
    if (!ReadSocksReply(kSocks4ReplyLength) || m_SocksReplyCount < kSocks4ReplyLength)
        return true;
    m_SocksReplyCount = 0;
    if (m_SocksReplyBuffer[0] != kSocks4ReplyVersion) {
        FailSocks(20002, "socks version error");
        return true;
    }
    const std::uint8_t status = m_SocksReplyBuffer[1];
    switch (status) {
    case 90:
        break;
    case 91:
        FailSocks(20016, "request rejected or failed");
        return true;
    case 92:
        FailSocks(20008, "connection refused");
        return true;
    case 93:
        FailSocks(20015, "authentification failed");
        return true;
    default:
        FailSocks(20012, "unassigned error #" + std::to_string(status));
        return true;
    }
    m_NegotiationState = NS::snIdle;
    FireSessionConnected(0);
    // The user is offered data at once, unless the handler closed.
    if (m_State != TSocketState::wsConnected)
        return true;
    return FireDataAvailable(0);
}

bool TCustomSocksWSocket::ReceiveSocks5Reply()
{
    if (!ReadSocksReply(kSocksBufferSize - 1))
        return true;
    const std::int32_t held = m_SocksReplyCount;
    if (held >= 1 && m_SocksReplyBuffer[0] != kSocks5Version) {
        FailSocks(20002, "socks version error");
        return true;
    }
    if (held >= 2 && m_SocksReplyBuffer[1] != 0) {
        const std::uint8_t code = m_SocksReplyBuffer[1];
        if (code <= 8)
            FailSocks(20003 + code, kSocks5ReplyTexts[code - 1]);
        else
            FailSocks(20012, "unassigned error #" + std::to_string(code));
        return true;
    }
    if (held < 5)
        return true;
    const std::uint8_t addressType = m_SocksReplyBuffer[3];
    std::int32_t needed = 5;
    if (addressType == kAddressIPv4)
        needed = 10;
    else if (addressType == kAddressDomain)
        needed = 7 + m_SocksReplyBuffer[4];
    // A bound host name this long would never fit the reply buffer.
    if (needed > kSocksBufferSize - 1) {
        FailSocks(kSocksErrorTooLong, "socks reply too long");
        return true;
    }
    if (held < needed)
        return true;
    if (addressType != kAddressIPv4 && addressType != kAddressDomain) {
        FailSocks(20011, "address type not supported");
        return true;
    }
    // Set before the event: a handler that closes resets them.
    m_SocksLeftoverCount = std::max(held - needed, 0);
    m_SocksLeftoverPos = needed;
    m_SocksReplyCount = 0;
    m_NegotiationState = NS::snIdle;
    FireSessionConnected(0);
    if (m_State != TSocketState::wsConnected)
        return true;
    return FireDataAvailable(0);
}

void TCustomSocksWSocket::SendSocksRequest()
{
    m_NegotiationState = NS::snAwaitReply;
    std::string problem = SocksRequestProblem();
    if (!problem.empty()) {
        FailSocks(kSocksErrorTooLong, problem);
        return;
    }
    std::uint8_t request[kSocksBufferSize];
    TRequestWriter writer(request, kSocksBufferSize);
    if (SocksLevel4()) {
        const bool level4A = m_SocksLevel == "4A";
        u_long address;
        try {
            address = WSocketResolveHost(level4A ? std::string("0.0.0.1") : m_Addr);
        } catch (const ESocketException& e) {
            FireSocksError(20017, "ESocketException " + e.Message());
            CloseConnection(true, 20017);
            return;
        } catch (const std::exception& e) {
            FireSocksError(20017, std::string("Exception ") + e.what());
            CloseConnection(true, 20017);
            return;
        }
        writer.Byte(kSocks4Version);
        writer.Byte(kCommandConnect);
        writer.Port(m_PortNumber);
        writer.Bytes(&address, 4);  // already in network order
        writer.Text(m_SocksUsercode);
        writer.Byte(0);
        if (level4A) {
            writer.Text(m_Addr);
            writer.Byte(0);
        }
    } else {
        writer.Byte(kSocks5Version);
        writer.Byte(kCommandConnect);
        writer.Byte(0);
        writer.Byte(kAddressDomain);
        writer.Byte(static_cast<std::uint8_t>(m_Addr.size()));
        writer.Text(m_Addr);
        writer.Port(m_PortNumber);
    }
    // A failed send ends the connection on its own; nothing to add here.
    try {
        Send(request, writer.Length());
    } catch (...) {
    }
}

void TCustomSocksWSocket::SendSocksCredentials()
{
    m_NegotiationState = NS::snAwaitAuth;
    FireSocksAuthState(TSocksAuthState::socksAuthStarted);
    if (m_NegotiationState != NS::snAwaitAuth)
        return;  // closed by the handler
    std::string problem = SocksCredentialsProblem();
    if (!problem.empty()) {
        FailSocks(kSocksErrorTooLong, problem);
        return;
    }
    std::uint8_t request[kSocksBufferSize];
    TRequestWriter writer(request, kSocksBufferSize);
    writer.Byte(kAuthVersion);
    writer.Byte(static_cast<std::uint8_t>(m_SocksUsercode.size()));
    writer.Text(m_SocksUsercode);
    writer.Byte(static_cast<std::uint8_t>(m_SocksPassword.size()));
    writer.Text(m_SocksPassword);
    try {
        Send(request, writer.Length());
    } catch (...) {
    }
}

std::string TCustomSocksWSocket::SocksValuesProblem() const
{
    std::string problem = SocksRequestProblem();
    if (problem.empty() && !SocksLevel4() &&
        m_SocksAuthentication != TSocksAuthentication::socksNoAuthentication)
        problem = SocksCredentialsProblem();
    return problem;
}

std::string TCustomSocksWSocket::SocksRequestProblem() const
{
    const auto user = static_cast<std::int32_t>(std::min<std::size_t>(m_SocksUsercode.size(), kSocksBufferSize));
    const auto host = static_cast<std::int32_t>(std::min<std::size_t>(m_Addr.size(), kSocksBufferSize));
    if (m_SocksLevel == "4A") {
        // The server reads both up to their zero bytes.
        if (HasZeroByte(m_SocksUsercode) || HasZeroByte(m_Addr))
            return "socks user code or host name contains a zero byte";
        if (10 + user + host > kSocksBufferSize)
            return "socks user code and host name too long";
        return std::string();
    }
    if (SocksLevel4()) {
        if (HasZeroByte(m_SocksUsercode))
            return "socks user code contains a zero byte";
        if (9 + user > kSocksBufferSize)
            return "socks user code too long";
        return std::string();
    }
    if (host > kMaxLengthByte || 7 + host > kSocksBufferSize)
        return "socks host name too long";
    return std::string();
}

std::string TCustomSocksWSocket::SocksCredentialsProblem() const
{
    const std::size_t user = m_SocksUsercode.size();
    const std::size_t password = m_SocksPassword.size();
    if (user > kMaxLengthByte || password > kMaxLengthByte || 3 + user + password > kSocksBufferSize)
        return "socks user name and password too long";
    return std::string();
}

void TCustomSocksWSocket::FailSocks(std::int32_t error, const std::string& msg)
{
    const std::uint32_t closed = m_HandlesClosed;
    FireSocksError(error, msg);
    m_NegotiationState = NS::snIdle;
    FireSessionConnected(static_cast<WORD>(error));
    // A handler that closed, or already opened the next connection, keeps it.
    if (m_HandlesClosed == closed)
        CloseConnection(true, static_cast<WORD>(error));
}

// ---- events -----------------------------------------------------------------

void TCustomSocksWSocket::FireSessionClosed(WORD error)
{
    if (m_NegotiationState == NS::snAwaitAuth)
        FireSocksAuthState(TSocksAuthState::socksAuthAborted);
    TCustomWSocket::FireSessionClosed(error);
}

void TCustomSocksWSocket::FireSocksConnected(WORD error)
{
    if (OnSocksConnected)
        OnSocksConnected(this, error);
}

void TCustomSocksWSocket::FireSocksError(std::int32_t error, const std::string& msg)
{
    if (OnSocksError)
        OnSocksError(this, error, msg);
}

void TCustomSocksWSocket::FireSocksAuthState(TSocksAuthState authState)
{
    if (OnSocksAuthState)
        OnSocksAuthState(this, authState);
}

// ---- receiving --------------------------------------------------------------

std::int32_t TCustomSocksWSocket::PendingByteCount()
{
    if (m_SocksLeftoverCount > 0)
        return m_SocksLeftoverCount;
    return TCustomWSocket::PendingByteCount();
}

std::int32_t TCustomSocksWSocket::HeldByteCount()
{
    return std::max(m_SocksLeftoverCount, 0) + TCustomWSocket::HeldByteCount();
}

std::int32_t TCustomSocksWSocket::LowRecv(void* buffer, std::int32_t size, std::int32_t flags)
{
    if (m_SocksLeftoverCount <= 0)
        return TCustomWSocket::LowRecv(buffer, size, flags);
    const std::int32_t count = std::min(size, m_SocksLeftoverCount);
    if (count <= 0)
        return 0;
    std::memcpy(buffer, m_SocksReplyBuffer.data() + m_SocksLeftoverPos, static_cast<std::size_t>(count));
    m_SocksLeftoverPos += count;
    m_SocksLeftoverCount -= count;
    return count;
}
