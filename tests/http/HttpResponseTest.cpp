#include "http/HttpResponse.h"

#include <gtest/gtest.h>


namespace {

TEST(ResponseHeader, StatusLines)
{
    const struct {
        const char* line;
        bool isStatus;
        int status;
        const char* reason;
    } cases[] = {
        {"HTTP/1.1 200 OK", true, 200, "OK"},
        {"HTTP/1.0 404 Not Found", true, 404, "Not Found"},
        {"HTTP/1.1 204", true, 204, ""},
        {"HTTP/1.2 200 OK", false, 0, ""},
        {"http/1.1 200 OK", false, 0, ""},
        {"ICY 200 OK", false, 0, ""},
        {"HTTP/1.1 2x0 OK", false, 0, ""},
        {"HTTP/1.1", false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto status = ParseStatusLine(c.line);
        ASSERT_EQ(status.has_value(), c.isStatus);
        if (status) {
            EXPECT_EQ(status->Status, c.status);
            EXPECT_EQ(status->Reason, c.reason);
        }
    }
}

TEST(ResponseHeader, FieldsAndValues)
{
    auto field = SplitHeaderField("Content-Length:   5120");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->Name, "content-length");
    EXPECT_EQ(field->Value, "5120");
    EXPECT_EQ(SplitHeaderField("X:   ")->Value, " ");  // never the last character
    EXPECT_EQ(SplitHeaderField("X:")->Value, "");
    EXPECT_EQ(SplitHeaderField("Odd Name : a:b")->Name, "odd name ");
    EXPECT_EQ(SplitHeaderField("Odd Name : a:b")->Value, "a:b");
    EXPECT_FALSE(SplitHeaderField("no colon here"));

    EXPECT_EQ(ParseContentLength(" 5120 "), 5120);
    EXPECT_EQ(ParseContentLength("0"), 0);
    EXPECT_EQ(ParseContentLength("2147483647"), 2147483647);
    EXPECT_EQ(ParseContentLength("2147483652"), 2147483652);
    EXPECT_EQ(ParseContentLength("999999999999999999"), 999999999999999999);
    EXPECT_FALSE(ParseContentLength("9999999999999999999"));
    EXPECT_FALSE(ParseContentLength("-5"));
    EXPECT_FALSE(ParseContentLength("12abc"));
    EXPECT_FALSE(ParseContentLength(""));

    std::string first = "x", last = "x";
    ParseContentRange("bytes 100-199/1000", first, last);
    EXPECT_EQ(first, "100");
    EXPECT_EQ(last, "199");
    ParseContentRange("bytes 0-499/1234", first, last);
    EXPECT_EQ(first, "0");
    EXPECT_EQ(last, "499");
    ParseContentRange("garbage", first, last);
    EXPECT_EQ(first, "");
    EXPECT_EQ(last, "");
}

TEST(ResponseHeader, DocumentNames)
{
    EXPECT_EQ(DeriveDocumentName("/dir/"), "document.htm");
    EXPECT_EQ(DeriveDocumentName(""), "document.htm");
    EXPECT_EQ(DeriveDocumentName("?x=1"), "document.htm");
    EXPECT_EQ(DeriveDocumentName("/a/b.zip?x=1/y"), "b.zip");
    EXPECT_EQ(DeriveDocumentName("name.txt"), "name.txt");
    EXPECT_EQ(DeriveDocumentName("/" + std::string(300, 'n')).size(), 255u);

    const struct {
        const char* name;
        const char* contentType;
        const char* result;
    } rules[] = {
        {"setup.exe", "text/html", "setup.htm"},
        {"SETUP.EXE", "text/html", "SETUP.htm"},
        {"readme", "text/html", "readme.htm"},
        {"setup.exe", "application/octet-stream", "setup.exe"},
        {"setup.exe", "text/html; charset=utf-8", "setup.exe"},
        {"page.zip", "text/html", "page.zip"},
    };
    for (const auto& r : rules) {
        std::string name = r.name;
        ApplyHtmlNameRule(name, r.contentType);
        EXPECT_EQ(name, r.result) << r.name << " as " << r.contentType;
    }
}

struct LocationCase {
    const char* location;
    bool viaProxy;
    // before: connect host, target host, port, request target
    const char* connectHost;
    const char* targetHost;
    const char* port;
    const char* requestTarget;
    // after
    const char* newConnectHost;
    const char* newTargetHost;
    const char* newPort;
    const char* newRequestTarget;
    const char* newCurrentUrl;
};

const LocationCase kLocationCases[] = {
    // Direct: same host keeps host and port; an absolute location switches both.
    {"/new/file.ini", false, "h", "h", "81", "/old/x", "h", "h", "81", "/new/file.ini", "http://h/new/file.ini"},
    {"page2.htm", false, "h", "h", "80", "/dir/page1.htm", "h", "h", "80", "/dir/page2.htm", "http://h//dir/page2.htm"},
    {"https://s/x", false, "h", "h", "80", "/d/p", "h", "h", "80", "/d/https://s/x", "http://h//d/https://s/x"},
    {"http://other:8080/x", false, "h", "h", "80", "/a", "other", "other", "8080", "/x", "http://other/x"},
    {"http://other", false, "h", "h", "81", "/a", "other", "other", "80", "/", "http://other"},
    {"http:///x", false, "h", "h", "81", "/a", "h", "h", "81", "/x", "http://h/x"},
    // Through a proxy: the connection stays with the proxy, the target is absolute.
    {"/b", true, "px", "h", "3128", "http://h/a", "px", "h", "3128", "http://h/b", "http://h/b"},
    {"/b", true, "px", "h", "3128", "http://h:8080/a", "px", "h", "3128", "http://h:8080/b", "http://h:8080/b"},
    {"c.htm", true, "px", "h", "3128", "http://h/d/a.htm", "px", "h", "3128", "http://h/d/c.htm",
     "http://px/http://h/d/c.htm"},
    {"http://other:8080/x", true, "px", "h", "3128", "http://h/a", "px", "other", "8080",
     "http://other:8080/x", "http://other:8080/x"},
    {"http:///x", true, "px", "h", "3128", "http://h/a", "px", "h", "3128", "http://h/x", "http://h/x"},
    {"http:///x", true, "px", "h", "3128", "http://h:8080/a", "px", "h", "3128", "http://h:8080/x", "http://h:8080/x"},
};

TEST(Relocation, EveryRowDirectAndThroughProxy)
{
    for (const auto& c : kLocationCases) {
        SCOPED_TRACE(std::string(c.location) + (c.viaProxy ? " via proxy" : " direct"));
        THttpTarget target;
        target.ConnectHost = c.connectHost;
        target.TargetHost = c.targetHost;
        target.RequestTarget = c.requestTarget;
        std::string port = c.port, user, password;
        ApplyLocation(c.location, c.viaProxy, target, port, user, password);
        EXPECT_EQ(target.ConnectHost, c.newConnectHost);
        EXPECT_EQ(target.TargetHost, c.newTargetHost);
        EXPECT_EQ(port, c.newPort);
        EXPECT_EQ(target.RequestTarget, c.newRequestTarget);
        EXPECT_EQ(target.CurrentUrl, c.newCurrentUrl);
    }
}

TEST(Relocation, CredentialsOnlyWhenBothAreGiven)
{
    THttpTarget target;
    target.RequestTarget = "/";
    std::string port, user = "old", password = "oldpw";
    ApplyLocation("http://ann@h2/x", false, target, port, user, password);
    EXPECT_EQ(user, "old");
    ApplyLocation("http://ann:pw@h2/x", false, target, port, user, password);
    EXPECT_EQ(user, "ann");
    EXPECT_EQ(password, "pw");
}

}  // namespace
