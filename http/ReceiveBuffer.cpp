#include "http/ReceiveBuffer.h"

#include <algorithm>
#include <cstring>

void TReceiveBuffer::Commit(int count)
{
    m_ReceiveFill += std::clamp(count, 0, Space());
    m_Data[static_cast<std::size_t>(m_ReceiveFill)] = 0;
}

bool TReceiveBuffer::TakeLine(std::string& line)
{
    // The whole held data is searched: a stray zero byte in a line must not
    // hide the line feeds behind it.
    const char* begin = m_Data.data();
    const auto* feed = static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(m_ReceiveFill)));
    if (feed == nullptr)
        return false;
    const std::size_t length = static_cast<std::size_t>(feed - begin);
    line.assign(begin, length > 0 && begin[length - 1] == '\r' ? length - 1 : length);
    const std::size_t consumed = length + 1;
    std::memmove(m_Data.data(), begin + consumed, static_cast<std::size_t>(m_ReceiveFill) - consumed + 1);
    m_ReceiveFill -= static_cast<int>(consumed);
    return true;
}

std::string TReceiveBuffer::TakeAll()
{
    std::string bytes(m_Data.data(), static_cast<std::size_t>(m_ReceiveFill));
    Clear();
    return bytes;
}

void TReceiveBuffer::Clear()
{
    m_ReceiveFill = 0;
    m_Data[0] = 0;
}
