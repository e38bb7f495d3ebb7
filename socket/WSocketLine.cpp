// TCustomLineWSocket: cuts the received stream into lines, with optional echo
// and terminal-style editing.
#include "socket/WSocket.h"

#include "platform/WrappingCount.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr std::int32_t kTabStop = 8;
constexpr std::int32_t kEditCopyStep = 256;
// Read size when the socket cannot tell how much is waiting.
constexpr std::int32_t kDefaultReadSize = 255;
// The most one read takes, however much waits: lines are cut per read.
constexpr std::int32_t kLargestRead = 64 * 1024;

}  // namespace

// ---- properties and messages ------------------------------------------------

void TCustomLineWSocket::AssignLineMode(bool value)
{
    if (value == m_LineMode)
        return;
    m_LineMode = value;
    const bool held = m_LineBufferCount > 0 || m_PendingLineLength > 0;
    // Raw reads take held bytes as they come; the next line is cut afresh.
    if (!value)
        m_PendingLineLength = 0;
    if (held)
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

// What the next delivery can hand out without new bytes: in line mode only
// the lines of deliveries that a raising handler cut short.
std::int32_t TCustomLineWSocket::HeldByteCount()
{
    const std::int32_t held = !LineCutting() || m_DeliveryCutShort ? m_LineBufferCount : 0;
    return held + TCustomSocksWSocket::HeldByteCount();
}

// The one place where held bytes leave the layer. What is read is removed
// from the front at once, so the held bytes stay contiguous.
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
    if (count == 0)
        return 0;
    std::memcpy(buffer, HeldBytes(), static_cast<std::size_t>(count));
    ConsumeHeld(count);
    m_PendingLineLength = std::max(m_PendingLineLength - count, 0);
    return count;
}

// Moves the start instead of the bytes: reading a line costs its length only.
void TCustomLineWSocket::ConsumeHeld(std::int32_t count)
{
    m_LineBufferStart += count;
    m_LineBufferCount -= count;
    if (m_LineBufferCount == 0) {
        m_LineBufferStart = 0;
        m_LineBuffer[0] = 0;
    }
}

// Once per read, before new bytes are appended: the held bytes, and the
// zero byte after them, go back to the start of the buffer.
void TCustomLineWSocket::CompactHeld()
{
    if (m_LineBufferStart == 0)
        return;
    std::memmove(m_LineBuffer.data(), HeldBytes(), static_cast<std::size_t>(m_LineBufferCount) + 1);
    m_LineBufferStart = 0;
}

// New bytes come from below this layer: LowRecv here would serve held ones.
// Counted like Receive's; a read that would block is no error of anybody's.
std::int32_t TCustomLineWSocket::ReceiveNewBytes(char* buffer, std::int32_t size)
{
    const std::int32_t count = TCustomSocksWSocket::LowRecv(buffer, size, 0);
    if (count > 0) {
        AddWrapping(m_ReadCount, count);
    } else if (count < 0) {
        const int error = Winsock::WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            m_LastError = error;
    }
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

    // A handler that raised left its line, and those after it, undelivered.
    const bool interrupted = m_DeliveryCutShort;
    std::int32_t count = TCustomSocksWSocket::PendingByteCount();
    if (count < 0)
        return true;
    if (count == 0)
        count = kDefaultReadSize;
    count = std::min(count, kLargestRead);
    CompactHeld();
    EnsureLineBufferSize(m_LineBufferCount + count + 1);
    std::int32_t received = ReceiveNewBytes(m_LineBuffer.data() + m_LineBufferCount, count);
    if (received <= 0 && !interrupted)
        return true;
    std::int32_t searchFrom = 0;
    if (received > 0) {
        m_LineBuffer[static_cast<std::size_t>(m_LineBufferCount + received)] = 0;
        const std::uint32_t session = m_LineSession;
        if (m_LineEdit)
            EditReceivedBytes(received);
        else if (m_LineEcho)
            Send(m_LineBuffer.data() + m_LineBufferCount, received);
        if (session != m_LineSession)
            return true;  // the echo ended the session
        // Back by the terminator's length, so one split across reads is found.
        if (!interrupted)
            searchFrom = std::max(m_LineBufferCount - static_cast<std::int32_t>(m_LineEnd.size()), 0);
        m_LineBufferCount += received;
    }
    if (!DeliverHeldLines(searchFrom))
        return true;

    if (!m_LineMode || m_LineLimit <= 0 || m_LineBufferCount <= m_LineLimit)
        return true;
    m_ClearDataFlag = true;
    FireLineLimitExceeded(m_LineBufferCount, m_ClearDataFlag);
    if (m_ClearDataFlag) {
        m_PendingLineLength = 0;
        m_ClearDataFlag = false;
        if (m_LineBufferCount > 0)
            ConsumeHeld(m_LineBufferCount);
    }
    return true;
}

bool TCustomLineWSocket::DeliverHeldLines(std::int32_t searchFrom)
{
    const std::uint32_t session = m_LineSession;
    // Stays set when a handler's raise leaves early.
    m_DeliveryCutShort = true;
    while (LineCutting()) {
        // A line left pending by a raising handler goes first, as it stands.
        if (m_PendingLineLength <= 0) {
            // A handler may change LineEnd; each search uses the current one.
            const std::string lineEnd = m_LineEnd;
            const auto endLength = static_cast<std::int32_t>(lineEnd.size());
            const char* held = HeldBytes();
            std::int32_t found = -1;
            for (std::int32_t i = searchFrom; i + endLength <= m_LineBufferCount; ++i) {
                if (std::memcmp(held + i, lineEnd.data(), static_cast<std::size_t>(endLength)) == 0) {
                    found = i;
                    break;
                }
            }
            if (found < 0)
                break;
            m_PendingLineLength = found + endLength;
        }
        DeliverPendingLine();
        if (session != m_LineSession)
            return false;
        // Line mode went off with part of the line unread: that rest simply
        // stays held, ahead of the bytes that followed the line.
        m_PendingLineLength = 0;
        searchFrom = 0;
    }
    m_DeliveryCutShort = false;
    return true;
}

void TCustomLineWSocket::DeliverPendingLine()
{
    const std::uint32_t session = m_LineSession;
    while (m_LineMode && m_PendingLineLength > 0) {
        if (!TCustomSocksWSocket::FireDataAvailable(0)) {
            // No handler: the line is dropped.
            ConsumeHeld(m_PendingLineLength);
            m_PendingLineLength = 0;
        }
        if (session != m_LineSession)
            return;
    }
}

// ---- editing ----------------------------------------------------------------

// The held bytes start at the front of the buffer here (CompactHeld).
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

// Complete lines that a raise left held go first, then the rest as a last
// line although it lacks a terminator; raw, if a handler switched line
// mode off meanwhile. Ends when a pass takes nothing.
void TCustomLineWSocket::DeliverHeldAtClose()
{
    const std::uint32_t session = m_LineSession;
    while (m_LineBufferCount > 0) {
        const std::int32_t before = m_LineBufferCount;
        if (m_LineMode) {
            if (!DeliverHeldLines(0))
                return;
            if (m_LineMode && m_LineBufferCount > 0) {
                m_PendingLineLength = m_LineBufferCount;
                DeliverPendingLine();
            }
        } else if (!TCustomSocksWSocket::FireDataAvailable(0)) {
            return;  // no handler: dropped
        }
        if (session != m_LineSession || m_LineBufferCount >= before)
            return;
    }
}

void TCustomLineWSocket::FireSessionClosed(WORD error)
{
    if (!m_LineBuffer.empty()) {
        // A data handler's raise ends the deliveries silently, as in the
        // receive loop: the buffer is freed and the close fires all the same.
        try {
            if (!m_ClearDataFlag)
                DeliverHeldAtClose();
        } catch (...) {
        }
        m_LineBuffer.clear();
        m_LineBuffer.shrink_to_fit();
        m_LineBufferSize = 0;
        m_LineBufferStart = 0;
        m_LineBufferCount = 0;
        m_PendingLineLength = 0;
        m_DeliveryCutShort = false;
        ++m_LineSession;
    }
    TCustomSocksWSocket::FireSessionClosed(error);
}
