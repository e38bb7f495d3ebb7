// The registry export format: a header line, [key] lines, "name"=data lines,
// ";" comments, and a trailing "\" continuing a value on the next line.
#include "RegistryFile.h"

#include "AnsiText.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr DWORD kRegMultiSz = 7;

struct ParseError {
    int line;
    std::string reason;
};

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16LE (even length) to UTF-8; an unpaired surrogate becomes "?".
std::string Utf16LeToUtf8(std::string_view bytes)
{
    std::string out;
    std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i]))
             | static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('?');
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && LowerAnsi(std::string(s.substr(0, prefix.size()))) == prefix;
}

std::optional<std::uint32_t> HexNumber(std::string_view s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        int digit = c >= '0' && c <= '9' ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

class Parser {
public:
    Parser(bool unicode, RegistryHive& hive) : m_Unicode(unicode), m_Hive(hive) {}

    // Text of the file (UTF-8 in a version 5 file) to the ANSI code page.
    std::string Ansi(const std::string& text) const { return m_Unicode ? Utf8ToAnsi(text) : text; }

    void KeyLine(std::string_view line, int number)
    {
        if (line.back() != ']') throw ParseError{number, "key line without closing \"]\""};
        std::string_view path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path.front() == '-';
        if (remove) path.remove_prefix(1);
        std::string_view root = path.substr(0, path.find('\\'));
        std::string_view rest = root.size() < path.size() ? path.substr(root.size() + 1) : std::string_view{};
        std::string rootName = LowerAnsi(std::string(root));
        static const char* const kOtherRoots[] = {"hkey_current_user", "hkey_classes_root", "hkey_users",
                                                  "hkey_current_config"};
        bool machine = rootName == "hkey_local_machine";
        bool known = machine;
        for (const char* other : kOtherRoots) known = known || rootName == other;
        if (!known) throw ParseError{number, "unknown root key \"" + std::string(root) + "\""};

        std::string keyPath = LowerAnsi(Ansi(std::string(rest)));
        if (!keyPath.empty() && (keyPath.front() == '\\' || keyPath.back() == '\\'
                                 || keyPath.find("\\\\") != std::string::npos))
            throw ParseError{number, "empty key name in \"" + std::string(path) + "\""};

        m_Current = nullptr;
        m_InKey = true;
        if (!machine) return;  // other hives are read for syntax and set aside
        if (remove) {
            if (keyPath.empty()) {
                m_Hive.keys.clear();
                m_Hive.keys[""];
                return;
            }
            std::string below = keyPath + "\\";
            for (auto it = m_Hive.keys.begin(); it != m_Hive.keys.end();) {
                bool inside = it->first == keyPath || it->first.compare(0, below.size(), below) == 0;
                it = inside ? m_Hive.keys.erase(it) : std::next(it);
            }
            return;
        }
        for (std::size_t at = keyPath.find('\\'); at != std::string::npos; at = keyPath.find('\\', at + 1))
            m_Hive.keys[keyPath.substr(0, at)];
        m_Current = &m_Hive.keys[keyPath];
    }

    void ValueLine(std::string_view line, int number)
    {
        if (!m_InKey) throw ParseError{number, "value outside a key"};
        std::size_t at = 0;
        std::string name;
        if (line.front() == '@') {
            at = 1;
        } else {
            name = Quoted(line, at, number);
        }
        std::string_view rest = TrimLeft(line.substr(at));
        if (rest.empty() || rest.front() != '=') throw ParseError{number, "\"=\" expected after the value name"};
        rest = TrimRight(TrimLeft(rest.substr(1)));
        std::string key = LowerAnsi(Ansi(name));

        if (rest == "-") {
            if (m_Current) m_Current->values.erase(key);
            return;
        }
        RegistryValue value = Data(rest, number);
        if (m_Current) m_Current->values[key] = std::move(value);
    }

private:
    // A double-quoted text from line[at]; "\\" and "\"" are its escapes.
    static std::string Quoted(std::string_view line, std::size_t& at, int number)
    {
        if (at >= line.size() || line[at] != '"') throw ParseError{number, "\"\"\" expected"};
        std::string text;
        for (++at; at < line.size(); ++at) {
            char c = line[at];
            if (c == '"') {
                ++at;
                return text;
            }
            if (c == '\\') {
                if (++at >= line.size()) break;
                if (line[at] != '\\' && line[at] != '"')
                    throw ParseError{number, std::string("unknown escape \"\\") + line[at] + "\""};
                c = line[at];
            }
            text.push_back(c);
        }
        throw ParseError{number, "text without closing quote"};
    }

    RegistryValue Data(std::string_view data, int number) const
    {
        RegistryValue value;
        if (!data.empty() && data.front() == '"') {
            std::size_t at = 0;
            std::string text = Quoted(data, at, number);
            if (!TrimLeft(data.substr(at)).empty()) throw ParseError{number, "text after the closing quote"};
            value.type = REG_SZ;
            value.data = Ansi(text);
            value.data.push_back('\0');
            return value;
        }
        if (StartsWithNoCase(data, "dword:")) {
            auto number32 = HexNumber(data.substr(6), 8);
            if (!number32) throw ParseError{number, "dword value needs 1 to 8 hex digits"};
            value.type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<char>(*number32 >> shift));
            return value;
        }
        std::string_view bytes;
        if (StartsWithNoCase(data, "hex:")) {
            value.type = REG_BINARY;
            bytes = data.substr(4);
        } else if (StartsWithNoCase(data, "hex(")) {
            std::size_t close = data.find(')');
            std::optional<std::uint32_t> type;
            if (close != std::string_view::npos) type = HexNumber(data.substr(4, close - 4), 8);
            if (!type || close + 1 >= data.size() || data[close + 1] != ':')
                throw ParseError{number, "hex(type): expected"};
            value.type = *type;
            bytes = data.substr(close + 2);
        } else {
            throw ParseError{number, "unknown value data \"" + std::string(data.substr(0, 20)) + "\""};
        }
        value.data = HexBytes(bytes, number);
        bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == kRegMultiSz;
        if (text && m_Unicode) {
            // A version 5 file holds strings as UTF-16LE; callers get ANSI.
            if (value.data.size() % 2) throw ParseError{number, "odd number of bytes in UTF-16 text"};
            value.data = Utf8ToAnsi(Utf16LeToUtf8(value.data));
        }
        return value;
    }

    static std::string HexBytes(std::string_view list, int number)
    {
        std::string bytes;
        list = TrimRight(TrimLeft(list));
        if (list.empty()) return bytes;
        while (true) {
            std::size_t comma = list.find(',');
            std::string_view item = TrimRight(TrimLeft(list.substr(0, comma)));
            auto byte = HexNumber(item, 2);
            if (!byte) throw ParseError{number, "bad byte \"" + std::string(item) + "\" in hex list"};
            bytes.push_back(static_cast<char>(*byte));
            if (comma == std::string_view::npos) return bytes;
            list = list.substr(comma + 1);
        }
    }

    bool m_Unicode;
    RegistryHive& m_Hive;
    RegistryKey* m_Current = nullptr;  // null inside a deleted key or another hive
    bool m_InKey = false;
};

}  // namespace

bool ParseRegistryFile(const std::string& fileText, const std::string& path, RegistryHive& result, std::string& error)
{
    std::string text;
    if (fileText.size() >= 2 && fileText[0] == '\xFF' && fileText[1] == '\xFE') {
        std::string_view body(fileText);
        body.remove_prefix(2);
        if (body.size() % 2) body.remove_suffix(1);
        text = Utf16LeToUtf8(body);
    } else if (fileText.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = fileText.substr(3);
    } else {
        text = fileText;
    }

    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(TrimRight(std::string_view(text).substr(start, end - start)));
        start = end + 1;
    }

    RegistryHive hive;
    hive.keys[""];
    try {
        std::size_t i = 0;
        while (i < lines.size() && TrimLeft(lines[i]).empty()) ++i;
        if (i == lines.size() || (lines[i] != kHeaderVersion5 && lines[i] != kHeaderVersion4))
            throw ParseError{static_cast<int>(i < lines.size() ? i + 1 : 1),
                             "not a registry file: \"" + std::string(kHeaderVersion5) + "\" or \""
                                 + std::string(kHeaderVersion4) + "\" expected"};
        Parser parser(lines[i] == kHeaderVersion5, hive);
        for (++i; i < lines.size(); ++i) {
            int number = static_cast<int>(i + 1);
            std::string_view line = TrimLeft(lines[i]);
            if (line.empty() || line.front() == ';') continue;
            if (line.front() == '[') {
                parser.KeyLine(line, number);
                continue;
            }
            if (line.front() != '"' && line.front() != '@')
                throw ParseError{number, "neither a key nor a value: \"" + std::string(line.substr(0, 20)) + "\""};
            std::string joined(line);
            while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
                joined.pop_back();
                joined += TrimLeft(lines[++i]);
            }
            parser.ValueLine(joined, number);
        }
    } catch (const ParseError& e) {
        error = path + ":" + std::to_string(e.line) + ": " + e.reason;
        return false;
    }
    result = std::move(hive);
    error.clear();
    return true;
}
