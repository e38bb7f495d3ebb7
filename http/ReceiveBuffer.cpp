#include "http/ReceiveBuffer.h"

#include <algorithm>
#include <cstring>

char* TReceiveBuffer::WritePosition()
{
    // The held bytes move to the front once a receive, not once a line.
    if (m_Start > 0) {
        std::memmove(m_Data.data(), m_Data.data() + m_Start, static_cast<std::size_t>(Fill()) + 1);
        m_End -= m_Start;
        m_Start = 0;
    }
    return m_Data.data() + m_End;
}

void TReceiveBuffer::Commit(int count)
{
    // Bytes written at WritePosition, after the held ones.
    m_End += std::clamp(count, 0, kCapacity - m_End);
    m_Data[static_cast<std::size_t>(m_End)] = 0;
}

bool TReceiveBuffer::TakeLine(std::string& line)
{
    // The whole held data is searched: a stray zero byte in a line must not
    // hide the line feeds behind it.
    const char* begin = m_Data.data() + m_Start;
    const auto* feed = static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(Fill())));
    if (feed == nullptr)
        return false;
    const std::size_t length = static_cast<std::size_t>(feed - begin);
    line.assign(begin, length > 0 && begin[length - 1] == '\r' ? length - 1 : length);
    m_Start += static_cast<int>(length + 1);
    return true;
}

std::string TReceiveBuffer::TakeAll()
{
    std::string bytes(m_Data.data() + m_Start, static_cast<std::size_t>(Fill()));
    Clear();
    return bytes;
}

void TReceiveBuffer::Clear()
{
    m_Start = 0;
    m_End = 0;
    m_Data[0] = 0;
}
