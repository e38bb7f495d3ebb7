#include "socket/WSockBuf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Unread(const TBuffer& block)
{
    std::int32_t length = 0;
    const char* data = block.PeekUnread(length);
    return data ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

TEST(TBuffer, AppendsOnlyWhatFitsAndReusesTheFrontOnlyWhenEmptied)
{
    TBuffer block(8);
    EXPECT_EQ(block.Append("abcdef", 6), 6);
    EXPECT_EQ(block.Consume(4), 4);
    EXPECT_EQ(Unread(block), "ef");
    // The consumed front is not reused: only the room behind WriteIndex.
    EXPECT_EQ(block.Append("123456", 6), 2);
    EXPECT_EQ(Unread(block), "ef12");
    EXPECT_EQ(block.Append("x", 1), 0);

    EXPECT_EQ(block.Consume(100), 4);
    EXPECT_EQ(block.ReadIndex(), 0);
    EXPECT_EQ(block.WriteIndex(), 0);
    std::int32_t length = -1;
    EXPECT_EQ(block.PeekUnread(length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(block.Consume(1), 0);
    EXPECT_EQ(block.Append("12345678", 8), 8);
}

TEST(TBuffer, RefusesBadLengths)
{
    TBuffer block(4);
    EXPECT_EQ(block.Append("abc", 0), 0);
    EXPECT_EQ(block.Append("abc", -3), 0);
    EXPECT_EQ(block.Append(nullptr, 3), 0);
    EXPECT_EQ(block.Consume(-1), 0);
    EXPECT_EQ(block.WriteIndex(), 0);
}

TEST(TBuffer, ResizeKeepsUnreadBytes)
{
    TBuffer block(0);
    EXPECT_EQ(block.Capacity(), 1514);

    TBuffer small(4);
    small.Append("abcd", 4);
    small.Consume(1);
    small.Resize(10);
    EXPECT_EQ(small.Capacity(), 10);
    EXPECT_EQ(small.ReadIndex(), 1);
    EXPECT_EQ(Unread(small), "bcd");
    EXPECT_EQ(small.Append("efghij", 6), 6);
    EXPECT_EQ(Unread(small), "bcdefghij");

    // Shrinking below what was written would lose data: held at WriteIndex.
    small.Resize(3);
    EXPECT_EQ(small.Capacity(), 10);
    EXPECT_EQ(Unread(small), "bcdefghij");
}
