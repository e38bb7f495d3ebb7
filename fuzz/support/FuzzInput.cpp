#include "support/FuzzInput.h"

std::uint8_t TFuzzInput::Byte()
{
    return m_Next < m_Size ? m_Data[m_Next++] : 0;
}

std::string TFuzzInput::Rest()
{
    std::string rest(reinterpret_cast<const char*>(m_Data) + m_Next, m_Size - m_Next);
    m_Next = m_Size;
    return rest;
}

std::vector<std::string> SplitIntoPieces(const std::string& data, std::uint8_t seed)
{
    std::vector<std::string> pieces;
    if (seed < 64) {
        pieces.push_back(data);
        return pieces;
    }
    std::uint32_t state = seed;
    std::size_t start = 0;
    while (start < data.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t length = 1 + (state >> 16) % 64;
        pieces.push_back(data.substr(start, length));
        start += length;
    }
    return pieces;
}
