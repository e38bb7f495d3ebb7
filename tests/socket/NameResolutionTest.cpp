// ctest-labels: threads
#include "socket/NameResolution.h"
#include "socket/SocketLibrary.h"
#include "socket/support/Failures.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

class Resolve : public ::testing::Test {
protected:
    void TearDown() override { ReleaseSocketLibrary(); }
};

}  // namespace

TEST(DottedQuad, AcceptsFourGroupsUpTo255)
{
    for (const char* text : {"1.2.3.4", " 1.2.3.4 ", "0.0.0.0", "255.255.255.255", "127.0.0.1  ", "01.2.3.4"})
        EXPECT_TRUE(LooksLikeDottedQuad(text)) << text;
    for (const char* text : {".1.2.3", "1..2.3", "1.2.3.", "1.2.3.4.5", "1.2.3.256", "1.2.3", "1.2.3.4x",
                             "a.b.c.d", "", "   ", "1.2.3.4 x", "256.1.1.1", "1.2.3.99999999999", "1.2.3. 4"})
        EXPECT_FALSE(LooksLikeDottedQuad(text)) << text;
}

TEST(LeadingNumber, DigitsAfterSpaces)
{
    EXPECT_EQ(LeadingNumber("8080abc"), 8080);
    EXPECT_EQ(LeadingNumber("   42"), 42);
    EXPECT_EQ(LeadingNumber("x1"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("-5"), 0);
    EXPECT_EQ(LeadingNumber("2147483647"), 2147483647);
    EXPECT_EQ(MessageOf([] { LeadingNumber("2147483648"); }), "Integer overflow");
}

TEST_F(Resolve, PortNumbersAndServiceNames)
{
    EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort("8080abc", "tcp"), 8080);
    EXPECT_EQ(WSocketResolvePort("0", "udp"), 0);
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("70000", "tcp"); }), "Range check error");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("80", ""); }), "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("80", std::string(32, 't')); }),
              "WSocketResolvePort: Invalid Proto.");
    // A leading space sends even a number to the services database.
    EXPECT_EQ(MessageOf([] { WSocketResolvePort(" 80", "tcp"); }).rfind(
                  "WSocketResolvePort: Cannot convert port ' 80', Error #", 0),
              0u);
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("no-such-service-qv", "tcp"); })
                  .rfind("WSocketResolvePort: Cannot convert port 'no-such-service-qv', Error #", 0),
              0u);
}

TEST_F(Resolve, ProtocolNumbersAndNames)
{
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(WSocketResolveProto(" 6 "), 6);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(MessageOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(MessageOf([] { WSocketResolveProto("nosuchproto"); })
                  .rfind("WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #", 0),
              0u);
}

TEST_F(Resolve, HostAddresses)
{
    EXPECT_EQ(WSocketResolveHost("127.0.0.1"), Winsock::inet_addr("127.0.0.1"));
    EXPECT_EQ(WSocketResolveHost(" 10.0.0.1 "), Winsock::inet_addr("10.0.0.1"));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WSocketResolveHost("localhost"), Winsock::inet_addr("127.0.0.1"));
    EXPECT_EQ(MessageOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    std::string tooLong(257, 'a');
    EXPECT_EQ(MessageOf([&] { WSocketResolveHost(tooLong); }),
              "WSocketResolveHost: '" + tooLong + "' Invalid Hostname.");
    // Passes the dotted test, but a leading 0 reads as octal.
    EXPECT_EQ(MessageOf([] { WSocketResolveHost("1.2.3.09"); }), "WSocketResolveHost: '1.2.3.09' Invalid IP address.");
    EXPECT_EQ(MessageOf([] { WSocketResolveHost("no-such-host.invalid"); })
                  .rfind("WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #", 0),
              0u);
}
