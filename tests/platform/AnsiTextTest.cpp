#include "platform/AnsiText.h"

#include <gtest/gtest.h>

namespace {

TEST(AnsiText, GbkRoundTripAndReplacement)
{
    const std::string server = "\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8 1";  // "服务器 1"
    const std::string gbk = "\xb7\xfe\xce\xf1\xc6\xf7 1";
    EXPECT_EQ(Utf8ToAnsi(server), gbk);
    EXPECT_EQ(AnsiToUtf8(gbk), server);
    EXPECT_EQ(AnsiToUtf8("plain ASCII"), "plain ASCII");

    // Bytes that are not GBK, or a character GBK lacks, become "?". A lead
    // byte takes any byte but 0 along with it.
    EXPECT_EQ(AnsiToUtf8("a\xb7"), "a?");
    EXPECT_EQ(AnsiToUtf8("a\x81\x7f" "b"), "a?b");
    EXPECT_EQ(AnsiToUtf8(std::string("a\x81\0b", 4)), std::string("a?\0b", 4));
    EXPECT_EQ(Utf8ToAnsi("a\xf0\x9f\x98\x80" "b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("a\xc3" "b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("a\xe6\x9c" "b"), "a?b");  // cut short: one "?"
    EXPECT_EQ(Utf8ToAnsi("a\xc2\xb2" "b"), "a?b");  // no look-alike: "2" would be another text
}

TEST(AnsiText, BytesOutsideGbkRoundTripThroughTheirWindowsCharacters)
{
    const struct {
        std::string ansi;
        std::string utf8;
    } cases[] = {
        {"\x80", "\xe2\x82\xac"},       // U+20AC
        {"\xff", "\xef\xa3\xb5"},       // U+F8F5
        {"\xaa\xa1", "\xee\x80\x80"},   // user-defined areas: U+E000
        {"\xfe\xfe", "\xee\x93\x85"},   // U+E4C5
        {"\xa1\x40", "\xee\x93\x86"},   // U+E4C6
        {"\xa7\xa0", "\xee\x9d\xa5"},   // U+E765
        {"\xa2\xab", "\xee\x9d\xa6"},   // other gaps, in order: U+E766
        {"\xfe\xa0", "\xee\xa1\xa4"},   // U+E864
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8);
        EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
    }
}

TEST(AnsiText, LowerLeavesSecondBytesAlone)
{
    EXPECT_EQ(LowerAnsi("Quorvan.EXE"), "quorvan.exe");
    // 0x81 0x41 is one character; its second byte is not the letter "A".
    EXPECT_EQ(LowerAnsi("\x81\x41" "B"), "\x81\x41" "b");
}

}  // namespace
