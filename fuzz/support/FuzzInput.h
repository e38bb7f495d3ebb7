// Taking a fuzzer's bytes apart: a few leading bytes choose settings, the
// rest is the data, cut into the pieces in which the peer sends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TFuzzInput {
public:
    TFuzzInput(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
    // The next byte, 0 once all are used.
    std::uint8_t Byte();
    // Everything not yet taken.
    std::string Rest();

private:
    const std::uint8_t* m_Data;
    std::size_t m_Size;
    std::size_t m_Next = 0;
};

// Cuts data into pieces whose lengths follow `seed`, so that every split
// of a response can come up: lengths 1 to 64, or the rest in one piece.
std::vector<std::string> SplitIntoPieces(const std::string& data, std::uint8_t seed);
