// ANSI text (code page 936) to and from UTF-8, converted as Windows does:
// a lead byte takes the byte after it along, unless that is a 0, and a
// pair without a character becomes one "?"; so does UTF-8 that is not well
// formed, and a character the code page lacks.
#include "AnsiText.h"

#include "CodePage936.h"

#include <cstddef>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char16_t character)
{
    if (character < 0x80) {
        out.push_back(static_cast<char>(character));
    } else if (character < 0x800) {
        out.push_back(static_cast<char>(0xC0 | character >> 6));
        out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | character >> 12));
        out.push_back(static_cast<char>(0x80 | (character >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    }
}

// The character that starts at `at`, which moves past it. A sequence that
// goes wrong gives U+FFFD once for the bytes read up to the fault: its
// first byte alone when that cannot start a sequence, else up to and
// including the byte that shows an overlong form, a surrogate or a value
// beyond U+10FFFF; the byte that breaks a sequence off starts the next one.
char32_t NextUtf8(const std::string& text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80)
        return lead;
    std::size_t more = 0;  // continuation bytes to come
    if (lead >= 0xC2 && lead <= 0xDF)
        more = 1;
    else if (lead >= 0xE0 && lead <= 0xEF)
        more = 2;
    else if (lead >= 0xF0 && lead <= 0xF4)
        more = 3;
    else
        return kReplacement;
    char32_t value = lead & (0x3F >> more);
    for (std::size_t i = 0; i < more; ++i) {
        if (at == text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return kReplacement;
        value = value << 6 | (static_cast<unsigned char>(text[at++]) & 0x3F);
        if (i == 0 && more == 2 && (value < 0x20 || (value >= 0x360 && value < 0x380)))
            return kReplacement;  // overlong, or a surrogate
        if (i == 0 && more == 3 && (value < 0x10 || value >= 0x110))
            return kReplacement;  // overlong, or beyond U+10FFFF
    }
    return value;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi)
{
    std::string out;
    out.reserve(ansi.size() * 3 / 2);
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        const auto byte = static_cast<unsigned char>(ansi[i]);
        char16_t character = byte;
        if (byte == 0x80) {
            character = 0x20AC;
        } else if (byte == 0xFF) {
            character = 0xF8F5;
        } else if (byte > 0x80) {
            character = u'?';
            if (i + 1 < ansi.size() && ansi[i + 1] != '\0') {
                const char16_t pair = Decode936Pair(byte, static_cast<unsigned char>(ansi[++i]));
                character = pair != 0 ? pair : u'?';
            }
        }
        AppendUtf8(out, character);
    }
    return out;
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t character = NextUtf8(utf8, at);
        if (character < 0x80) {
            out.push_back(static_cast<char>(character));
            continue;
        }
        // The code page has nothing beyond the first plane.
        const std::uint16_t bytes = character < 0x10000 ? Encode936(static_cast<char16_t>(character)) : 0;
        if (bytes == 0) {
            out.push_back('?');
            continue;
        }
        if (bytes > 0xFF)
            out.push_back(static_cast<char>(bytes >> 8));
        out.push_back(static_cast<char>(bytes & 0xFF));
    }
    return out;
}
