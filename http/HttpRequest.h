// What a request sends: where it goes (host, port, request target) and the
// exact header lines. HTTP/1.0 as in RFC 1945.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the current request goes. Filled by ComputeRequestTarget and
// changed by relocations (HttpResponse.h).
struct THttpTarget {
    std::string ConnectHost;    // looked up and connected to: target or proxy host
    std::string TargetHost;     // sent in the Host line
    std::string RequestTarget;  // named on the request line: a path, or an absolute URL via a proxy
    std::string CurrentUrl;     // informational; a relocation's new URL
    std::string DocumentName;   // the request path, until turned into a file name
};

// Works out the target of a request for url, directly (proxy empty) or
// through proxy. Reads target.RequestTarget as the base of relative URLs.
// port receives the port to connect to; username and password are replaced
// only by the parts the URL names.
void ComputeRequestTarget(const std::string& url, const std::string& proxy,
                          const std::string& proxyPort, THttpTarget& target, std::string& port,
                          std::string& username, std::string& password);

// A port as a URL names it: decimal, 1 to 65535.
bool IsPortNumber(const std::string& port);

// The property values that decide the request header.
struct TRequestHeaderValues {
    std::string RequestTarget;
    std::string TargetHost;
    std::string Proxy;
    std::string Sender;
    std::string Accept;
    std::string Reference;
    std::string AcceptLanguage;
    std::string ContentTypePost;
    std::string Agent;
    std::string Icy_MetaData;
    std::int32_t Bandwidth = 0;
    std::string ClientID;
    std::string GUID;
    std::string RegionData;
    std::string SupportsMaximumASMBandwidth;
    std::string Accept_Encoding;
    bool NoCache = false;
    std::int64_t UploadSize = 0;  // whole size of the body of a POST
    double ModifiedSince = 0;
    std::string Username;
    std::string Password;
    std::string ProxyUsername;
    std::string ProxyPassword;
    std::string Cookie;
    std::string ContentRangeBegin;
    std::string ContentRangeEnd;
};

// Request line first, then the header lines in their fixed order; no line
// ends, no closing empty line.
std::vector<std::string> BuildRequestHeader(const std::string& method, const std::string& version,
                                            const TRequestHeaderValues& values);

// Base64 of RFC 4648 (standard alphabet, padded, no line breaks).
std::string EncodeBase64(const std::string& bytes);

// The credentials of a Basic Authorization line (RFC 7617).
std::string BasicCredentials(const std::string& user, const std::string& password);

// A date-time (days since 30 December 1899, time as the fraction) as
// "Sun, 06 Nov 1994 08:49:37"; the value is taken as GMT as it stands.
std::string FormatHttpDate(double dateTime);
