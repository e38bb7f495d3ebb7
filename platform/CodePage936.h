// Code page 936 (GBK) character by character, with the mappings Windows
// adds to GBK: 0x80 is the euro sign, 0xFF is U+F8F5, and every byte pair
// that GBK leaves unassigned stands for a private-use character, so that
// such bytes survive a round trip through Unicode.
#pragma once

#include <cstdint>

// The character of a lead byte (0x81..0xFE) and a trail byte; 0 when the
// trail byte cannot follow a lead byte.
char16_t Decode936Pair(unsigned char lead, unsigned char trail);
// The bytes of a character other than ASCII: one byte, or the lead byte in
// the high half and the trail byte in the low half; 0 when it has none.
std::uint16_t Encode936(char16_t character);
