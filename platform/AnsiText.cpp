#include "AnsiText.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace {

// The ANSI code page of this system (see GetACP).
constexpr const char* kAnsiCharset = "GBK";

// Length of the UTF-8 sequence that starts with `lead`; 1 for a stray byte.
std::size_t Utf8SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Converts with iconv; a byte sequence that is invalid in the source, or a
// character the target cannot hold, becomes one "?" and conversion goes on.
std::string Convert(const std::string& input, const char* from, const char* to, bool fromUtf8)
{
    if (input.empty()) return {};
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter: ASCII is the same in every code page we use.
        std::string out = input;
        for (char& c : out)
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        return out;
    }
    std::string out;
    out.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (truncated at the end): skip the offending bytes.
        std::size_t skip = 1;
        if (fromUtf8 && errno == EILSEQ) {
            // A well-formed character the target lacks: skip all of it.
            std::size_t len = Utf8SequenceLength(static_cast<unsigned char>(*in));
            std::size_t i = 1;
            while (i < len && i < inLeft && (static_cast<unsigned char>(in[i]) & 0xC0) == 0x80) ++i;
            skip = i == len ? len : 1;
        }
        if (skip > inLeft) skip = inLeft;
        out.push_back('?');
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi)
{
    return Convert(ansi, kAnsiCharset, "UTF-8", false);
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    return Convert(utf8, "UTF-8", kAnsiCharset, true);
}
