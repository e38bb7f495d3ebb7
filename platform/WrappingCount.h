// Byte counters of 32 bits wrap past 2 GiB, as a 32-bit register would,
// instead of overflowing (undefined for a signed type).
#pragma once

#include <cstdint>

inline void AddWrapping(std::int32_t& counter, std::int32_t amount)
{
    counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + static_cast<std::uint32_t>(amount));
}
