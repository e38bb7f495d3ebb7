#include "socket/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::int32_t kDefaultBlockSize = 1514;
}

TBuffer::TBuffer(std::int32_t size)
{
    Resize(size);
}

void TBuffer::Resize(std::int32_t size)
{
    if (size <= 0)
        size = kDefaultBlockSize;
    size = std::max(size, m_WriteIndex);
    if (size == m_Capacity)
        return;
    auto data = std::make_unique<char[]>(static_cast<std::size_t>(size));
    if (m_WriteIndex > m_ReadIndex)
        std::memcpy(data.get(), m_Data.get(), static_cast<std::size_t>(m_WriteIndex));
    m_Data = std::move(data);
    m_Capacity = size;
}

std::int32_t TBuffer::Append(const void* data, std::int32_t length)
{
    if (!data || length <= 0)
        return 0;
    std::int32_t count = std::min(length, m_Capacity - m_WriteIndex);
    if (count <= 0)
        return 0;
    std::memcpy(m_Data.get() + m_WriteIndex, data, static_cast<std::size_t>(count));
    m_WriteIndex += count;
    return count;
}

const char* TBuffer::PeekUnread(std::int32_t& length) const
{
    length = m_WriteIndex - m_ReadIndex;
    if (length <= 0) {
        length = 0;
        return nullptr;
    }
    return m_Data.get() + m_ReadIndex;
}

std::int32_t TBuffer::Consume(std::int32_t count)
{
    std::int32_t unread = m_WriteIndex - m_ReadIndex;
    if (count <= 0 || unread <= 0)
        return 0;
    count = std::min(count, unread);
    m_ReadIndex += count;
    if (m_ReadIndex == m_WriteIndex)
        m_ReadIndex = m_WriteIndex = 0;
    return count;
}
