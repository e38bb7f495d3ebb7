#include "app/ReleaseSignature.h"

#include <sodium.h>

#include <cstring>
#include <vector>

namespace {

const std::string kUntrustedPrefix = "untrusted comment: ";
const std::string kTrustedPrefix = "trusted comment: ";

// Strict base64 with padding, decoding to exactly `size` bytes.
bool DecodeBase64(const std::string& text, std::uint8_t* out, std::size_t size)
{
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return length == size && end == text.data() + text.size();
}

// The lines of `text`; false when there are not exactly `count` of them
// (one final line end is allowed).
bool SplitLines(const std::string& text, std::size_t count, std::vector<std::string>& lines)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        else if (end > start && text[end - 1] == '\r')
            --end;
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines.size() == count;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::optional<TMinisignPublicKey> ParsePublicKey(const std::string& line)
{
    std::uint8_t bytes[2 + 8 + 32];
    if (!DecodeBase64(line, bytes, sizeof bytes))
        return std::nullopt;
    if (bytes[0] != 'E' || bytes[1] != 'd')
        return std::nullopt;
    TMinisignPublicKey key;
    std::memcpy(key.KeyId.data(), bytes + 2, key.KeyId.size());
    std::memcpy(key.Key.data(), bytes + 10, key.Key.size());
    return key;
}

std::optional<TMinisignSignature> ParseSignature(const std::string& text)
{
    std::vector<std::string> lines;
    if (text.size() > kMaxSignatureFileSize || !SplitLines(text, 4, lines))
        return std::nullopt;
    if (!lines[0].starts_with(kUntrustedPrefix) || !lines[2].starts_with(kTrustedPrefix))
        return std::nullopt;

    std::uint8_t bytes[2 + 8 + 64];
    if (!DecodeBase64(lines[1], bytes, sizeof bytes))
        return std::nullopt;
    TMinisignSignature signature;
    if (bytes[0] == 'E' && bytes[1] == 'D')
        signature.Algorithm = TSignatureAlgorithm::Prehashed;
    else if (bytes[0] == 'E' && bytes[1] == 'd')
        signature.Algorithm = TSignatureAlgorithm::Legacy;
    else
        return std::nullopt;
    std::memcpy(signature.KeyId.data(), bytes + 2, signature.KeyId.size());
    std::memcpy(signature.Signature.data(), bytes + 10, signature.Signature.size());

    signature.TrustedComment = lines[2].substr(kTrustedPrefix.size());
    if (!DecodeBase64(lines[3], signature.GlobalSignature.data(), signature.GlobalSignature.size()))
        return std::nullopt;
    return signature;
}

std::string KeyIdText(const TKeyId& id)
{
    // The tool prints the id as a little-endian number.
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        text += kDigits[*byte >> 4];
        text += kDigits[*byte & 15];
    }
    return text;
}

bool TrustedCommentHolds(const std::string& comment, const std::string& name, const std::string& value)
{
    const std::string wanted = name + ":" + value;
    std::size_t start = 0;
    while (start < comment.size()) {
        while (start < comment.size() && IsBlank(comment[start]))
            ++start;
        std::size_t end = start;
        while (end < comment.size() && !IsBlank(comment[end]))
            ++end;
        if (end > start && comment.compare(start, end - start, wanted) == 0)
            return true;
        start = end;
    }
    return false;
}
