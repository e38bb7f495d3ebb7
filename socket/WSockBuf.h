// A fixed-capacity block of the send queue: bytes are appended behind
// WriteIndex and taken out from ReadIndex; the consumed front is reused only
// once the block has been emptied, which puts both indices back to 0.
#pragma once

#include <cstdint>
#include <memory>

class TBuffer {
public:
    explicit TBuffer(std::int32_t size);

    std::int32_t Capacity() const { return m_Capacity; }
    std::int32_t WriteIndex() const { return m_WriteIndex; }
    std::int32_t ReadIndex() const { return m_ReadIndex; }

    // Size of 0 or less means 1514. Never drops unread bytes: a size below
    // WriteIndex is raised to WriteIndex.
    void Resize(std::int32_t size);
    // Copies as much as fits; returns the count, 0 when the block is full.
    std::int32_t Append(const void* data, std::int32_t length);
    // First unread byte and the unread count; nullptr and 0 when none.
    const char* PeekUnread(std::int32_t& length) const;
    // Takes up to `count` unread bytes; returns the count taken.
    std::int32_t Consume(std::int32_t count);

private:
    std::unique_ptr<char[]> m_Data;
    std::int32_t m_Capacity = 0;
    // 0 <= m_ReadIndex <= m_WriteIndex <= m_Capacity
    std::int32_t m_WriteIndex = 0;
    std::int32_t m_ReadIndex = 0;
};
