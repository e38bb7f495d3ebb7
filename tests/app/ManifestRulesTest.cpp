#include "app/FileEntryRules.h"
#include "app/ManifestRules.h"
#include "app/support/AppTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

Lines ReadAllLines(const std::string& bytes)
{
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream.Seek(0, TStream::Origin::Beginning);
    TManifestLineReader reader(stream);
    Lines lines;
    for (std::string line; reader.ReadLine(line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST(ManifestLines, LineEndsCarriageReturnsAndCtrlZ)
{
    EXPECT_EQ(ReadAllLines(""), Lines{});
    EXPECT_EQ(ReadAllLines("1.15"), Lines{"1.15"});
    EXPECT_EQ(ReadAllLines("a\n\r\n\nb\r\n"), (Lines{"a", "", "", "b"}));
    // A CR away from LF is dropped, never a line end.
    EXPECT_EQ(ReadAllLines("a\rb\r\r\nc\r"), (Lines{"ab", "c"}));
    // Ctrl-Z ends the file, even inside a line.
    EXPECT_EQ(ReadAllLines("a\r\nb\x1a" "c\r\nd\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(ReadAllLines("\x1a" "1.15\r\n"), Lines{});
    // Lines longer than a read, and a CR LF split between two reads.
    const std::string longLine(10000, 'x');
    EXPECT_EQ(ReadAllLines(longLine + "\r\n" + longLine), (Lines{longLine, longLine}));
    EXPECT_EQ(ReadAllLines(std::string(4095, 'y') + "\r\nz"), (Lines{std::string(4095, 'y'), "z"}));
}

TEST(ManifestVersion, NumbersWithEitherSeparator)
{
    const std::optional<double> none;
    const std::tuple<const char*, char, std::optional<double>> cases[] = {
        {"1.15", '.', 1.15}, {"  1.15  ", '.', 1.15}, {"+1.2", '.', 1.2},   {"-3", '.', -3.0},
        {"1.", '.', 1.0},    {".5", '.', 0.5},        {"1.5e1", '.', 15.0}, {"15E-1", '.', 1.5},
        {"1,15", ',', 1.15}, {"1.15", ',', none},     {"1,15", '.', none},  {"", '.', none},
        {"  ", '.', none},   {".", '.', none},        {"1.15a", '.', none}, {"\t1.15", '.', none},
        {"1e", '.', none},   {"0x1p3", '.', none},    {"inf", '.', none},   {"nan", '.', none},
        {"1 000", '.', none}, {"1e999", '.', none},   {"<html>", '.', none}, {"--1", '.', none},
    };
    for (const auto& [text, separator, expected] : cases)
        EXPECT_EQ(ParseReleaseNumber(text, separator), expected) << '"' << text << '"';
}

TEST(ManifestVersion, SeparatorOfTheUsersNumericLocale)
{
#ifdef _WIN32
    GTEST_SKIP() << "the locale with a decimal comma is made by glibc's localedef, which Windows lacks";
#else
    const std::string comma = DecimalCommaLocale();
    ASSERT_FALSE(comma.empty()) << "localedef could not build de_DE.UTF-8 (package locales)";
    TScopedEnv lang("LANG", "C");
    TScopedEnv numeric("LC_NUMERIC", comma);
    {
        TScopedEnv all("LC_ALL", std::nullopt);
        EXPECT_EQ(ParseReleaseNumber("1,15"), 1.15);
        EXPECT_EQ(ParseReleaseNumber("1.15"), std::nullopt);
    }
    TScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(UserDecimalSeparator(), '.');
    TScopedEnv missing("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(UserDecimalSeparator(), '.');
#endif
}

TEST(ManifestRules, EntriesReachingOutsideTheInstallationAreUnsafe)
{
    const std::pair<TManifestFile, bool> cases[] = {
        {{"Quorvan.exe", ""}, true},        {{"lang.dll", "lang\\"}, true},
        {{"a.dll", "plug\\ins\\"}, true},   {{"..a.dll", "x..y\\"}, true},
        {{"", ""}, false},                  {{".", ""}, false},
        {{"..", ""}, false},                {{"a\\b.dll", ""}, false},
        {{"a/b.dll", ""}, false},           {{"c:b.dll", ""}, false},
        {{"a.dll", "\\Windows\\"}, false},  {{"a.dll", "/etc/"}, false},
        {{"a.dll", "C:\\"}, false},         {{"a.dll", "d:"}, false},
        {{"a.dll", "..\\"}, false},         {{"a.dll", "lang\\..\\..\\"}, false},
        {{"a.dll", "lang/.."}, false},      {{"a.dll", ".."}, false},
    };
    for (const auto& [file, safe] : cases)
        EXPECT_EQ(IsSafeFileEntry(file), safe) << file.FileName << " = " << file.CopyTo;
}
