// Reading a response header (RFC 1945): the status line, the recognised
// fields, the document name, and the relocation a "location" field asks for.
#pragma once

#include "http/HttpRequest.h"

#include <cstdint>
#include <optional>
#include <string>

// A status line begins exactly with "HTTP/1.0" or "HTTP/1.1". nullopt for
// any other line, and for one whose code is not three digits.
struct TStatusLine {
    std::int32_t Status = 0;
    std::string Reason;
};
std::optional<TStatusLine> ParseStatusLine(const std::string& line);

// "name: value": the name before the first ":" in lower case, the value
// with the spaces after the colon skipped, never its last character.
struct THeaderField {
    std::string Name;
    std::string Value;
};
std::optional<THeaderField> SplitHeaderField(const std::string& line);

// The decimal value with surrounding blanks removed, of any size up to 18
// digits; nullopt when it is no such number.
std::optional<std::int64_t> ParseContentLength(const std::string& value);

// "bytes 100-199/1000" gives "100" and "199".
void ParseContentRange(const std::string& value, std::string& rangeBegin, std::string& rangeEnd);

// The file name of a request path: the last segment before any query, at
// most 255 characters; "document.htm" for a directory.
std::string DeriveDocumentName(const std::string& path);

// An HTML page served for an ".exe" (or extension-less) name gets ".htm",
// so that an error page is not saved as a program.
void ApplyHtmlNameRule(std::string& documentName, const std::string& contentType);

// Changes the target as a "location" value asks, at once (with a proxy
// when viaProxy). port, username and password change where the location
// says so; true when it named credentials. Leaves ConnectHost at the proxy
// when viaProxy.
bool ApplyLocation(const std::string& location, bool viaProxy, THttpTarget& target,
                   std::string& port, std::string& username, std::string& password);
