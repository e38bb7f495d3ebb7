// ANSI text on Windows: the system's own conversions through UTF-16, with
// the updater's code page (936, GBK) named explicitly rather than taken
// from the machine's settings.
#include "platform/AnsiText.h"
#include "platform/Win32.h"
#include "platform/win32/WideText.h"

namespace {

constexpr UINT kAnsiCodePage = 936;

std::wstring ToWide(const std::string& text, UINT codePage)
{
    if (text.empty()) return {};
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage)
{
    if (wide.empty()) return {};
    // A character the target lacks becomes "?", as on the other systems,
    // never a look-alike ("best fit") that may mean something else.
    const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     fallback, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), text.data(), length, fallback,
                        nullptr);
    return text;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi)
{
    return FromWide(ToWide(ansi, kAnsiCodePage), CP_UTF8);
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    // The code page has nothing beyond the first plane: such a character,
    // two UTF-16 units, becomes one "?" rather than two.
    std::wstring wide;
    bool highHalf = false;
    for (wchar_t unit : ToWide(utf8, CP_UTF8)) {
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (!(low && highHalf))
            wide.push_back(unit >= 0xD800 && unit <= 0xDBFF ? L'?' : unit);
        highHalf = unit >= 0xD800 && unit <= 0xDBFF;
    }
    return FromWide(wide, kAnsiCodePage);
}

std::wstring AnsiToWide(const std::string& ansi)
{
    return ToWide(ansi, kAnsiCodePage);
}
