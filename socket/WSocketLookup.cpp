// TCustomWSocket: asynchronous forward and reverse name lookups.
#include "socket/WSocket.h"

namespace {
// The result area offered to the system; the buffer itself is a little larger.
constexpr int kLookupAreaLength = 1025;
constexpr std::size_t kMaxHostLength = 256;
}  // namespace

void TCustomWSocket::ForgetLookup()
{
    if (m_LookupHandle) {
        Winsock::WSACancelAsyncRequest(m_LookupHandle);
        m_LookupHandle = nullptr;
    }
    m_DnsResult.clear();
    m_DnsResultList.clear();
}

void TCustomWSocket::DnsLookup(const std::string& hostName)
{
    if (hostName.empty()) {
        ReportError("DNS lookup: invalid host name.");
        FireDnsLookupDone(WSAEINVAL);
        return;
    }
    ForgetLookup();
    if (LooksLikeDottedQuad(hostName)) {
        in_addr address{};  // a union on some systems
        address.s_addr = Winsock::inet_addr(TrimSpaces(hostName).c_str());
        if (address.s_addr != INADDR_NONE) {
            m_DnsResult = Winsock::inet_ntoa(address);
            m_DnsResultList.push_back(m_DnsResult);
            FireDnsLookupDone(0);
            return;
        }
    }
    if (!m_WindowHandle) {
        ReportError("DnsLookup: Window not assigned");
        return;
    }
    m_LookupDoneEarly = false;
    m_LookupHandle = Winsock::WSAAsyncGetHostByName(m_WindowHandle, MSG_LOOKUP_DONE, hostName.c_str(),
                                                    m_LookupBuffer.data(), kLookupAreaLength);
    if (!m_LookupHandle) {
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", hostName.c_str(), Winsock::WSAGetLastError());
        return;
    }
    if (m_LookupDoneEarly) {
        m_LookupDoneEarly = false;
        HandleLookupDone(m_SavedLookupMessage);
    }
}

void TCustomWSocket::HandleLookupDone(const TSocketMessage& message)
{
    // Kept for DnsLookup to replay once it knows the handle.
    if (!m_LookupHandle) {
        m_SavedLookupMessage = message;
        m_LookupDoneEarly = true;
        return;
    }
    if (reinterpret_cast<HANDLE>(message.WParam) != m_LookupHandle)
        return;
    m_LookupHandle = nullptr;
    const WORD error = WSAGETASYNCERROR(message.LParam);
    if (error == 0) {
        CollectHostAddresses(reinterpret_cast<const hostent*>(m_LookupBuffer.data()), m_DnsResultList);
        m_DnsResult = m_DnsResultList.empty() ? std::string() : m_DnsResultList.front();
    }
    FireDnsLookupDone(error);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& addressText)
{
    if (addressText.empty() || addressText.size() > kMaxHostLength) {
        ReportError("ReverseDnsLookup: Invalid host name.");
        FireDnsLookupDone(WSAEINVAL);
        return;
    }
    ForgetLookup();
    in_addr address{};
    address.s_addr = Winsock::inet_addr(addressText.c_str());
    if (!m_WindowHandle) {
        ReportError("ReverseDnsLookup: Window not assigned");
        return;
    }
    m_LookupHandle = Winsock::WSAAsyncGetHostByAddr(m_WindowHandle, MSG_REVERSE_LOOKUP_DONE,
                                                    reinterpret_cast<const char*>(&address), sizeof address, PF_INET,
                                                    m_LookupBuffer.data(), kLookupAreaLength);
    if (!m_LookupHandle)
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", addressText.c_str(), Winsock::WSAGetLastError());
}

void TCustomWSocket::HandleReverseLookupDone(const TSocketMessage& message)
{
    if (!m_LookupHandle || reinterpret_cast<HANDLE>(message.WParam) != m_LookupHandle)
        return;
    m_LookupHandle = nullptr;
    const WORD error = WSAGETASYNCERROR(message.LParam);
    if (error == 0) {
        const auto* entry = reinterpret_cast<const hostent*>(m_LookupBuffer.data());
        m_DnsResult = entry->h_name ? entry->h_name : "";
        m_DnsResultList.push_back(m_DnsResult);
    }
    FireDnsLookupDone(error);
}

void TCustomWSocket::CancelLookup()
{
    if (!m_LookupHandle)
        return;
    HANDLE handle = m_LookupHandle;
    m_LookupHandle = nullptr;
    if (Winsock::WSACancelAsyncRequest(handle) != 0) {
        FailWithSocketError("WSACancelAsyncRequest");
        return;
    }
    if (!m_Destroying)
        FireDnsLookupDone(WSAEINTR);
}
