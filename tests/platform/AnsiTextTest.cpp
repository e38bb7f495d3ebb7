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

    // Bytes that are not GBK, or a character GBK lacks, become "?".
    EXPECT_EQ(AnsiToUtf8("a\xff" "b"), "a?b");
    EXPECT_EQ(AnsiToUtf8("a\xb7"), "a?");
    EXPECT_EQ(Utf8ToAnsi("a\xf0\x9f\x98\x80" "b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("a\xc3" "b"), "a?b");
}

TEST(AnsiText, LowerLeavesSecondBytesAlone)
{
    EXPECT_EQ(LowerAnsi("Quorvan.EXE"), "quorvan.exe");
    // 0x81 0x41 is one character; its second byte is not the letter "A".
    EXPECT_EQ(LowerAnsi("\x81\x41" "B"), "\x81\x41" "b");
}

}  // namespace
