// Case-blind names in the ANSI code page (GBK): only ASCII letters change,
// and the trail byte of a double-byte character is never taken for one.
#include "AnsiText.h"

#include <cstddef>

std::string LowerAnsi(std::string ansi)
{
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        auto c = static_cast<unsigned char>(ansi[i]);
        if (c >= 0x81 && c <= 0xFE) {
            ++i;  // lead byte: the next byte belongs to the same character
        } else if (c >= 'A' && c <= 'Z') {
            ansi[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return ansi;
}
