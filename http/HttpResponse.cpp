#include "http/HttpResponse.h"

#include "http/UrlParser.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<std::int64_t> ParseDecimal(const std::string& text, std::int64_t limit)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

// Scheme, host and, when it names one, port: the start of an absolute
// request target through a proxy.
std::string AbsoluteOrigin(const TUrlParts& parts, const std::string& host)
{
    return (parts.Proto.empty() ? "http" : parts.Proto) + "://" + host +
           (parts.Port.empty() ? "" : ":" + parts.Port);
}

bool TakeCredentials(const TUrlParts& parts, std::string& username, std::string& password)
{
    if (parts.User.empty() || parts.Pass.empty())
        return false;
    username = parts.User;
    password = parts.Pass;
    return true;
}

}  // namespace

std::optional<TStatusLine> ParseStatusLine(const std::string& line)
{
    if (line.compare(0, 8, "HTTP/1.0") != 0 && line.compare(0, 8, "HTTP/1.1") != 0)
        return std::nullopt;
    const std::string code = line.size() > 9 ? line.substr(9, 3) : std::string();
    const auto status = ParseDecimal(code, 999);
    if (!status)
        return std::nullopt;
    TStatusLine result;
    result.Status = static_cast<std::int32_t>(*status);
    result.Reason = line.size() > 13 ? line.substr(13) : std::string();
    return result;
}

std::optional<THeaderField> SplitHeaderField(const std::string& line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    THeaderField field;
    field.Name = Lower(line.substr(0, colon));
    std::size_t start = colon + 1;
    while (start + 1 < line.size() && line[start] == ' ')
        ++start;
    field.Value = line.substr(start);
    return field;
}

std::optional<std::int64_t> ParseContentLength(const std::string& value)
{
    const auto isBlank = [](unsigned char c) { return c <= ' '; };
    const auto first = std::find_if_not(value.begin(), value.end(), isBlank);
    const auto last = std::find_if_not(value.rbegin(), value.rend(), isBlank).base();
    if (first >= last)
        return std::nullopt;
    return ParseDecimal(std::string(first, last), std::numeric_limits<std::int64_t>::max());
}

void ParseContentRange(const std::string& value, std::string& rangeBegin, std::string& rangeEnd)
{
    // Positions as in "bytes 100-199/1000"; a value without "-" or "/"
    // gives empty bounds where the text is missing.
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    rangeBegin = dash != std::string::npos && dash > 6 ? value.substr(6, dash - 6) : std::string();
    rangeEnd = dash != std::string::npos && slash != std::string::npos && slash > dash + 1
                   ? value.substr(dash + 1, slash - dash - 1)
                   : std::string();
}

std::string DeriveDocumentName(const std::string& path)
{
    std::string name = path.substr(0, path.find('?'));
    if (name.empty() || name.back() == '/')
        return "document.htm";
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.size() > 255)
        name.resize(255);
    return name;
}

void ApplyHtmlNameRule(std::string& documentName, const std::string& contentType)
{
    const std::size_t dot = documentName.rfind('.');
    const bool exeOrNone = dot == std::string::npos || Lower(documentName.substr(dot)) == ".exe";
    if (exeOrNone && contentType == "text/html")
        ReplaceExtension(documentName, "htm");
}

bool ApplyLocation(const std::string& location, bool viaProxy, THttpTarget& target,
                   std::string& port, std::string& username, std::string& password)
{
    if (location.compare(0, 1, "/") == 0) {
        if (!viaProxy) {
            target.RequestTarget = location;
            target.CurrentUrl = "http://" + target.ConnectHost + location;
            return false;
        }
        const TUrlParts previous = ParseUrl(target.RequestTarget, "");
        target.CurrentUrl = AbsoluteOrigin(previous, previous.Host) + location;
        target.RequestTarget = target.CurrentUrl;
        return TakeCredentials(previous, username, password);
    }
    // The scheme test is exact: "https://" or "HTTP://" count as relative.
    if (location.compare(0, 7, "http://") != 0) {
        target.RequestTarget = UrlDirectory(target.RequestTarget) + location;
        target.CurrentUrl = "http://" + target.ConnectHost + "/" + target.RequestTarget;
        return false;
    }
    const TUrlParts parts = ParseUrl(location, "");
    const bool named = TakeCredentials(parts, username, password);
    // A location that names no host stays on the current one.
    const bool sameHost = parts.Host.empty();
    if (!sameHost) {
        target.TargetHost = parts.Host;
        port = parts.Port.empty() ? "80" : parts.Port;
    }
    if (viaProxy) {
        // The proxy learns the port from the absolute URL alone.
        const TUrlParts origin = sameHost ? ParseUrl(target.RequestTarget, "") : parts;
        target.CurrentUrl = AbsoluteOrigin(origin, target.TargetHost) + parts.Path;
        target.RequestTarget = target.CurrentUrl;
        return named;
    }
    target.ConnectHost = target.TargetHost;
    target.RequestTarget = parts.Path.empty() ? "/" : parts.Path;
    target.CurrentUrl = parts.Proto + "://" + target.TargetHost +
                        (parts.Path.empty() ? std::string() : target.RequestTarget);
    return named;
}
