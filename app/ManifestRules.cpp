#include "app/ManifestRules.h"

#include "platform/Win32.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr char kCtrlZ = 26;

bool IsControlOrBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

std::string TrimControls(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsControlOrBlank(text[first]))
        ++first;
    while (last > first && IsControlOrBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool TManifestLineReader::Fill()
{
    if (m_Ended)
        return false;
    m_Next = 0;
    m_Count = m_Stream.Read(m_Buffer, sizeof m_Buffer);
    if (m_Count <= 0) {
        m_Count = 0;
        m_Ended = true;
    }
    return m_Count > 0;
}

bool TManifestLineReader::ReadLine(std::string& line)
{
    line.clear();
    bool any = false;  // a line exists once any byte of it has been seen
    for (;;) {
        if (m_Next >= m_Count && !Fill())
            return any;
        const char c = m_Buffer[m_Next++];
        if (c == kCtrlZ) {
            m_Ended = true;
            m_Count = m_Next = 0;
            return any;
        }
        any = true;
        if (c == '\n')
            return true;
        // A CR ends nothing by itself: before LF it belongs to the line end,
        // anywhere else it is dropped.
        if (c != '\r')
            line += c;
    }
}

std::optional<double> ParseReleaseNumber(const std::string& text, char decimalSeparator)
{
    std::size_t pos = 0;
    const std::size_t end = text.size();
    auto skipBlanks = [&] {
        while (pos < end && text[pos] == ' ')
            ++pos;
    };

    // Rebuilt with '.' for the locale-free conversion below.
    std::string number;
    skipBlanks();
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) {
        if (text[pos] == '-')
            number += '-';
        ++pos;
    }
    std::size_t digits = 0;
    for (; pos < end && IsDigit(text[pos]); ++pos, ++digits)
        number += text[pos];
    if (pos < end && text[pos] == decimalSeparator) {
        number += '.';
        for (++pos; pos < end && IsDigit(text[pos]); ++pos, ++digits)
            number += text[pos];
    }
    if (digits == 0)
        return std::nullopt;
    if (pos < end && (text[pos] == 'E' || text[pos] == 'e')) {
        number += 'e';
        ++pos;
        if (pos < end && (text[pos] == '+' || text[pos] == '-'))
            number += text[pos++];
        std::size_t exponentDigits = 0;
        for (; pos < end && IsDigit(text[pos]); ++pos, ++exponentDigits)
            number += text[pos];
        if (exponentDigits == 0)
            return std::nullopt;
    }
    skipBlanks();
    if (pos != end)
        return std::nullopt;

    double value = 0;
    const char* first = number.data();
    const char* last = first + number.size();
    const auto [stop, error] = std::from_chars(first, last, value);
    if (error != std::errc() || stop != last)
        return std::nullopt;
    return value;
}

char UserDecimalSeparator()
{
    char separator[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) < 2)
        return '.';
    return separator[0];  // separators are one byte in practice; more are not matched
}

std::optional<double> ParseReleaseNumber(const std::string& text)
{
    return ParseReleaseNumber(text, UserDecimalSeparator());
}

bool IsSectionLine(const std::string& line)
{
    std::string trimmed = TrimControls(line);
    std::transform(trimmed.begin(), trimmed.end(), trimmed.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return trimmed == "[FILESLIST]";
}

TManifestFile ParseFileLine(const std::string& line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
        return {line, std::string()};
    return {TrimControls(line.substr(0, equals)), TrimControls(line.substr(equals + 1))};
}

TManifestBody::TLine TManifestBody::Classify(const std::string& line)
{
    if (IsSectionLine(line)) {
        m_InFilesList = true;
        return {TLineKind::Section, {}};
    }
    if (!m_InFilesList)
        return {TLineKind::Note, {}};
    if (TrimControls(line).empty())
        return {TLineKind::Blank, {}};
    return {TLineKind::File, ParseFileLine(line)};
}
