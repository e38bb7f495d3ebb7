// TCustomLineWSocket: cuts the received stream into lines, with optional echo
// and terminal-style editing.
#include "socket/WSocket.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr std::int32_t kTabStop = 8;
constexpr std::int32_t kEditCopyStep = 256;
// Read size when the socket cannot tell how much is waiting.
constexpr std::int32_t kDefaultReadSize = 255;

}  // namespace

// ---- properties and messages ------------------------------------------------

void TCustomLineWSocket::AssignLineMode(bool value)
{
    if (value == m_LineMode)
        return;
    m_LineMode = value;
    if (m_LineBufferCount > 0 || m_PendingLineLength > 0)
        PostMessageA(m_WindowHandle, MSG_REDELIVER_DATA, 0, 0);
}

void TCustomLineWSocket::DispatchSocketMessage(TSocketMessage& message)
{
    if (message.Msg != MSG_REDELIVER_DATA) {
        TCustomSocksWSocket::DispatchSocketMessage(message);
        return;
    }
    try {
        RedeliverBuffered();
    } catch (const std::exception& e) {
        ProcessBgException(e);
    } catch (...) {
        // Nothing may escape into the message loop.
        ProcessBgException(ESocketException("Unknown exception"));
    }
}

// Hands out what is held after a switch of line mode. A pass that takes
// nothing ends it: a raw handler that does not read, or an unfinished line.
// Complete lines already held are cut and delivered at once in line mode,
// without waiting for new bytes to arrive.
void TCustomLineWSocket::RedeliverBuffered()
{
    while (m_LineBufferCount > 0) {
        const std::int32_t before = m_LineBufferCount;
        const std::uint32_t session = m_LineSession;
        if (LineCutting() && NegotiationState() == TSocksNegotiationState::snIdle) {
            if (!DeliverHeldLines(0))
                return;
        } else if (!FireDataAvailable(0)) {
            // Without a handler held data is dropped, as the socket's is.
            char discard[kDefaultReadSize];
            while (m_LineBufferCount > 0 && !LineCutting())
                LowRecv(discard, sizeof discard, 0);
        }
        if (session != m_LineSession || m_LineBufferCount >= before)
            return;
    }
}

void TCustomLineWSocket::FireLineLimitExceeded(std::int32_t rcvdLength, bool& clearData)
{
    if (OnLineLimitExceeded)
        OnLineLimitExceeded(this, rcvdLength, clearData);
}

// ---- receiving --------------------------------------------------------------

std::int32_t TCustomLineWSocket::PendingByteCount()
{
    if (m_LineMode)
        return m_PendingLineLength;
    // Held bytes are what the next Receive returns.
    if (m_LineBufferCount > 0)
        return m_LineBufferCount;
    return TCustomSocksWSocket::PendingByteCount();
}

// The one place where held bytes leave the layer. The buffer stays
// contiguous: what is read is removed from its start at once.
std::int32_t TCustomLineWSocket::LowRecv(void* buffer, std::int32_t size, std::int32_t flags)
{
    std::int32_t limit = 0;
    if (m_LineMode && m_PendingLineLength > 0)
        limit = m_PendingLineLength;
    else if (!LineCutting() && m_LineBufferCount > 0)
        limit = m_LineBufferCount;
    else
        return TCustomSocksWSocket::LowRecv(buffer, size, flags);
    const std::int32_t count = std::max(std::min(size, limit), 0);
    std::memcpy(buffer, m_LineBuffer.data(), static_cast<std::size_t>(count));
    std::memmove(m_LineBuffer.data(), m_LineBuffer.data() + count,
                 static_cast<std::size_t>(m_LineBufferCount - count));
    m_LineBufferCount -= count;
    m_LineBuffer[static_cast<std::size_t>(m_LineBufferCount)] = 0;
    m_PendingLineLength = std::max(m_PendingLineLength - count, 0);
    return count;
}

void TCustomLineWSocket::EnsureLineBufferSize(std::int32_t size)
{
    if (m_LineBufferSize >= size)
        return;
    m_LineBuffer.resize(static_cast<std::size_t>(size));
    m_LineBufferSize = size;
}

bool TCustomLineWSocket::FireDataAvailable(WORD error)
{
    if (!LineCutting() || NegotiationState() != TSocksNegotiationState::snIdle)
        return TCustomSocksWSocket::FireDataAvailable(error);

    std::int32_t count = TCustomSocksWSocket::PendingByteCount();
    if (count < 0)
        return true;
    if (count == 0)
        count = kDefaultReadSize;
    EnsureLineBufferSize(m_LineBufferCount + count + 1);
    std::int32_t received = Receive(m_LineBuffer.data() + m_LineBufferCount, count);
    if (received <= 0)
        return true;
    m_LineBuffer[static_cast<std::size_t>(m_LineBufferCount + received)] = 0;
    const std::uint32_t session = m_LineSession;
    if (m_LineEdit)
        EditReceivedBytes(received);
    else if (m_LineEcho)
        Send(m_LineBuffer.data() + m_LineBufferCount, received);
    if (session != m_LineSession)
        return true;  // the echo ended the session

    // Back by the terminator's length, so one split across reads is found.
    const std::int32_t searchFrom = std::max(m_LineBufferCount - static_cast<std::int32_t>(m_LineEnd.size()), 0);
    m_LineBufferCount += received;
    if (!DeliverHeldLines(searchFrom))
        return true;

    if (!m_LineMode || m_LineLimit <= 0 || m_LineBufferCount <= m_LineLimit)
        return true;
    m_ClearDataFlag = true;
    FireLineLimitExceeded(m_LineBufferCount, m_ClearDataFlag);
    if (m_ClearDataFlag) {
        m_PendingLineLength = 0;
        m_LineBufferCount = 0;
        m_ClearDataFlag = false;
        if (!m_LineBuffer.empty())
            m_LineBuffer[0] = 0;
    }
    return true;
}

bool TCustomLineWSocket::DeliverHeldLines(std::int32_t searchFrom)
{
    const std::uint32_t session = m_LineSession;
    while (LineCutting()) {
        // A handler may change LineEnd; each search uses the current one.
        const std::string lineEnd = m_LineEnd;
        const auto endLength = static_cast<std::int32_t>(lineEnd.size());
        const char* held = m_LineBuffer.data();
        std::int32_t found = -1;
        for (std::int32_t i = searchFrom; i + endLength <= m_LineBufferCount; ++i) {
            if (std::memcmp(held + i, lineEnd.data(), static_cast<std::size_t>(endLength)) == 0) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return true;
        m_PendingLineLength = found + endLength;
        DeliverPendingLine();
        if (session != m_LineSession)
            return false;
        // Line mode went off with part of the line unread: that rest simply
        // stays held, ahead of the bytes that followed the line.
        m_PendingLineLength = 0;
        searchFrom = 0;
    }
    return true;
}

void TCustomLineWSocket::DeliverPendingLine()
{
    const std::uint32_t session = m_LineSession;
    while (m_LineMode && m_PendingLineLength > 0) {
        if (!TCustomSocksWSocket::FireDataAvailable(0)) {
            // No handler: the line is dropped.
            const std::int32_t line = m_PendingLineLength;
            std::memmove(m_LineBuffer.data(), m_LineBuffer.data() + line,
                         static_cast<std::size_t>(m_LineBufferCount - line));
            m_LineBufferCount -= line;
            m_LineBuffer[static_cast<std::size_t>(m_LineBufferCount)] = 0;
            m_PendingLineLength = 0;
        }
        if (session != m_LineSession)
            return;
    }
}

// ---- editing ----------------------------------------------------------------

void TCustomLineWSocket::EditReceivedBytes(std::int32_t& count)
{
    const std::int32_t start = m_LineBufferCount;
    const std::int32_t end = start + count;
    std::int32_t write = start;
    std::int32_t low = start;
    std::vector<char> edit;  // empty until the first backspace or tab
    auto makeEditCopy = [&](std::int32_t read) {
        if (!edit.empty())
            return;
        const std::int32_t capacity = (end / kEditCopyStep + 1) * kEditCopyStep;
        edit.assign(static_cast<std::size_t>(capacity), 0);
        std::memcpy(edit.data(), m_LineBuffer.data(), static_cast<std::size_t>(read));
    };
    auto store = [&](char byte) {
        if (static_cast<std::size_t>(write) >= edit.size())
            edit.resize(edit.size() + kEditCopyStep);
        edit[static_cast<std::size_t>(write)] = byte;
    };

    // An echo that fails can close the session and free the buffer.
    const std::uint32_t session = m_LineSession;
    auto echo = [&](const std::string& bytes) {
        if (!m_LineEcho)
            return true;
        SendText(bytes);
        return session == m_LineSession;
    };

    for (std::int32_t read = start; read < end; ++read) {
        const char byte = m_LineBuffer[static_cast<std::size_t>(read)];
        if (byte == kBackspace) {
            if (write > 0 && !echo(std::string{kBackspace, ' ', kBackspace})) {
                count = 0;
                return;
            }
            makeEditCopy(read);
            if (write > 0) {
                --write;
                low = std::min(low, write);
            }
        } else if (byte == kTab) {
            makeEditCopy(read);
            do {
                if (!echo(" ")) {
                    count = 0;
                    return;
                }
                store(' ');
                ++write;
            } while (write % kTabStop != 0);
        } else {
            if (!echo(std::string(1, byte))) {
                count = 0;
                return;
            }
            if (!edit.empty())
                store(byte);
            ++write;
        }
    }
    if (edit.empty())
        return;
    EnsureLineBufferSize(write + 1);
    std::memcpy(m_LineBuffer.data(), edit.data(), static_cast<std::size_t>(write));
    m_LineBuffer[static_cast<std::size_t>(write)] = 0;
    m_LineBufferCount = low;
    count = write - low;
}

// ---- closing ----------------------------------------------------------------

void TCustomLineWSocket::FireSessionClosed(WORD error)
{
    if (!m_LineBuffer.empty()) {
        // The held bytes go out as a last line although they lack a terminator.
        if (m_LineMode && m_LineBufferCount > 0 && !m_ClearDataFlag) {
            m_PendingLineLength = m_LineBufferCount;
            DeliverPendingLine();
        }
        m_LineBuffer.clear();
        m_LineBuffer.shrink_to_fit();
        m_LineBufferSize = 0;
        m_LineBufferCount = 0;
        m_PendingLineLength = 0;
        ++m_LineSession;
    }
    TCustomSocksWSocket::FireSessionClosed(error);
}
